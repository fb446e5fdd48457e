// One found file as a line of text, in the formats scripts read: tab-separated with
// escapes, CSV (RFC 4180), one JSON object per line, the bare path, or the path ended by
// NUL. The command-line search writes these; the JSON object is the one row format of
// every machine-readable search answer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/types.h"

namespace dt {

enum class RowFormat { Tsv, Csv, Json, Paths, Null };

// The format named `name` ("tsv", "csv", "json", "paths", "null"); false for any other.
bool ParseRowFormat(std::string_view name, RowFormat& out);

// One hit: the stored texts as bytes (not necessarily UTF-8), the size in bytes, and the
// date "YYYY-MM-DD" and time "HH:MM:SS" (empty when the row has none).
struct HitRow {
    std::string_view computer;
    std::string_view dir;  // ends with the separator, as stored
    std::string_view name;
    std::string_view extension;
    std::uint64_t size = 0;
    std::string date;
    std::string time;
};

// "YYYY-MM-DD" / "HH:MM:SS"; empty for a zero date or time.
std::string DateText(const DATE& d);
std::string TimeText(const TIME& t);

// The line before the first row: the CSV header line; nothing for the other formats.
void AppendHeader(RowFormat format, std::string& out);
// The row as one record of `format`, its line end included.
void AppendRow(RowFormat format, const HitRow& row, std::string& out);

// The JSON object of a row (no line end): computer, dir, name, extension, size (a
// number), date, time (null when the row has none) and path (directory and name). Texts
// that are not valid UTF-8 carry U+FFFD for their bad bytes; then the object also holds
// path_b64, the path's exact bytes in base64.
std::string RowJson(const HitRow& row);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF).
bool IsValidUtf8(std::string_view text);
// `text` with each maximal ill-formed subsequence replaced by one U+FFFD (the practice
// Unicode recommends, and the one Python's "replace" follows).
std::string ToValidUtf8(std::string_view text);
// Standard base64 with padding.
std::string Base64(std::string_view bytes);

// The TSV field of `text`: tab, line feed, carriage return and backslash as \t, \n, \r,
// \\; every other control byte (below 0x20, and 0x7F) as \xHH; in a text that is valid
// UTF-8 the C1 controls U+0080..U+009F as the \xHH of both their bytes, and in one that
// is not, every byte 0x80..0x9F (which a terminal in an 8-bit mode would obey). Printable
// text and other bytes are written as they are, so the escapes can be undone exactly.
void AppendTsvField(std::string& out, std::string_view text);
// The CSV field of `text`: in double quotes (inner quotes doubled) when it holds a comma,
// a quote, a line feed or a carriage return, or begins or ends with a blank; else as is.
void AppendCsvField(std::string& out, std::string_view text);

}  // namespace dt
