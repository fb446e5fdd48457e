// Text helpers for every layer: ASCII case-insensitive comparison and search, upper and
// lower case, trimming, and cutting a byte string without splitting a UTF-8 character.
//
// Case rules touch the ASCII letters only. Names are bytes (UTF-8 where valid), so a byte
// of 0x80 or more is never changed and two names that differ outside ASCII never compare
// equal; the result does not depend on the process's locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dt {

constexpr char UpperChar(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char LowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// s with its ASCII letters in upper (lower) case.
std::string Upper(std::string_view s);
std::string Lower(std::string_view s);

// True when a and b are equal ignoring the case of ASCII letters.
bool EqualNoCase(std::string_view a, std::string_view b);
// Order of a and b ignoring the case of ASCII letters: negative, 0 or positive; a text
// that is a prefix of the other sorts first.
int CompareNoCase(std::string_view a, std::string_view b);
// True when s begins with prefix, ignoring case.
bool StartsNoCase(std::string_view s, std::string_view prefix);
// Position of the first occurrence of part in s at or after from, ignoring case; npos
// when there is none. An empty part is found at from (when from <= s.size()).
std::size_t FindNoCase(std::string_view s, std::string_view part, std::size_t from = 0);
// True when s contains part, ignoring case.
bool ContainsNoCase(std::string_view s, std::string_view part);

// Trimming. Each function removes a different set of characters, on purpose; pick by what
// the text is:
//   Clip        trailing blanks only: the runtime's CLIP of a blank-padded STRING field,
//               whose leading blanks belong to the value.
//   ClipBoth    blanks at both ends: a value or name typed between separators, where a tab
//               or line end is part of the text (connection-string keys, numbers typed into
//               a control, popup menu items).
//   Trim        blanks and tabs at both ends: option values, pictures, statement and
//               filter texts, lists of patterns.
//   TrimBlanks  blanks, tabs and carriage returns at both ends: lines and values of
//               profile files, which may have been written with CR LF line ends.
//   TrimSpace   every ASCII white space (also line feed, vertical tab and form feed) at
//               both ends: lines of files other programs write (driver registrations).
std::string_view Clip(std::string_view s);
std::string_view ClipBoth(std::string_view s);
std::string_view Trim(std::string_view s);
std::string_view TrimBlanks(std::string_view s);
std::string_view TrimSpace(std::string_view s);

// The pieces of s between the separators, as views into s, empty pieces included: "a;;b"
// gives "a", "", "b" and "" gives one empty piece. Callers trim and skip as their list's
// rules say.
std::vector<std::string_view> Split(std::string_view s, char separator);

// Length of the longest prefix of s of at most max bytes that does not end inside a UTF-8
// character. Only well-formed sequences are kept whole: bytes that are not valid UTF-8
// (a stray continuation byte, a lead byte whose continuation bytes do not follow, an
// overlong or out-of-range lead byte) count as single characters, so names that are raw
// bytes are cut exactly where asked.
std::size_t Utf8CutLength(std::string_view s, std::size_t max);

}  // namespace dt
