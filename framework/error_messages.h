// Message tables of the error manager: the binary form every table is stored in, the
// built-in table of framework messages in that form, and the reader and writer of it.
//
// A table is one block of bytes: a USHORT count (little-endian), then per message a
// USHORT id, a BYTE severity, the title and the text, each as one length byte followed by
// at most 255 bytes. "|" in a text breaks the line in a message box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "runtime/types.h"

namespace dt {

// One message of a table. Title and text point into the table block they were read
// from (or, for a table being built, into the caller's strings).
struct MessageDef {
    USHORT id = 0;
    BYTE severity = 0;
    std::string_view title;
    std::string_view text;
};

// The built-in table of framework messages, in its binary form. Static storage: it
// lives as long as the program.
std::span<const std::uint8_t> DefaultErrors();

// Reads a table block into `out` (appended in stored order; titles and texts point into
// `table`, which must outlive them). Returns false and appends nothing when the block is
// shorter than its count and lengths say.
bool ParseMessageTable(std::span<const std::uint8_t> table, std::vector<MessageDef>& out);

// Writes definitions as a table block into `out` (replacing its content). Returns false
// and leaves `out` empty when there are more than 65535 messages or a title or text is
// longer than 255 bytes.
bool BuildMessageTable(std::span<const MessageDef> defs, std::vector<std::uint8_t>& out);

}  // namespace dt
