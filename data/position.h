// The position buffer that POSITION hands out and RESET and REGET take back. It says what
// it holds, so that a buffer taken on another file or another key is refused instead of
// being read as values of the wrong fields:
//   int32 record length of the file the position was taken on
//   int32 key size, the sum of the key's component sizes (0: a position of the file)
//   int32 key number, 1-based (0: a position of the file)
//   the key's component values in component order (key size bytes), or the whole record
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/file.h"

namespace dt {

inline constexpr std::size_t kPositionHeaderSize = 12;

// The bytes a key's values take in a position: the sum of its components' field sizes.
std::uint32_t KeySize(const File& f, const Key& k);

// The position of `record` on key `k`, or of the whole record when `k` is null.
std::string MakePosition(const File& f, const Key* k, const char* record);

// What a position buffer says about itself (zeros when it is too short to say).
struct PositionHeader {
    std::uint32_t file_size = 0;
    std::uint32_t key_size = 0;
    std::uint32_t key_number = 0;
};
PositionHeader ReadPositionHeader(std::string_view position);

// The outcome of reading a position for key `k` (null: for the file alone).
struct PositionRead {
    int rc = 0;                      // 0, or 38 when the buffer does not fit the file or the key
    const Key* from_key = nullptr;   // the key the position was taken on; null for a file position
    std::vector<std::string> trace;  // lines for the trace log, in order (the reasons of a refusal)
};

// Puts the values of `position` into `record`, a copy of the file's record: every byte for a
// position of the file, only the key's component fields for a position of a key. A key
// position fits key `k` when it was taken on `k` or on a key with the same component fields;
// a file position fits every key. `record` is left alone when the result is not 0.
PositionRead ReadPosition(const File& f, const Key* k, std::string_view position, std::vector<char>& record);

}  // namespace dt
