// Small text helpers shared by the platform sources (not part of the public interface):
// blank trimming, ASCII case-insensitive comparison, and cutting a byte string without
// splitting a UTF-8 sequence.
#pragma once

#include <cstddef>
#include <string_view>

namespace dt::platform::detail {

// s without leading and trailing blanks (space, tab, CR).
std::string_view TrimBlanks(std::string_view s);

// True when a and b are equal ignoring the case of ASCII letters.
bool EqualNoCase(std::string_view a, std::string_view b);

// Length of the longest prefix of s of at most max bytes that does not end inside a
// valid UTF-8 sequence; bytes that are not UTF-8 count as single characters.
std::size_t CutLength(std::string_view s, std::size_t max);

}  // namespace dt::platform::detail
