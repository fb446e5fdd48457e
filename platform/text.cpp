#include "platform/text.h"

namespace dt {

namespace {

bool IsBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}
bool IsBlankTabOrCr(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}
// The C locale's white space, whatever the process's locale is.
bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

template <class Drop>
std::string_view TrimWhere(std::string_view s, Drop drop) {
    while (!s.empty() && drop(s.front())) s.remove_prefix(1);
    while (!s.empty() && drop(s.back())) s.remove_suffix(1);
    return s;
}

bool MatchesAt(std::string_view s, std::size_t at, std::string_view part) {
    for (std::size_t i = 0; i < part.size(); ++i)
        if (LowerChar(s[at + i]) != LowerChar(part[i])) return false;
    return true;
}

}  // namespace

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = UpperChar(c);
    return out;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = LowerChar(c);
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && MatchesAt(a, 0, b);
}

int CompareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        // Compared as unsigned bytes, so that bytes of 0x80 and more sort after ASCII.
        const auto x = static_cast<unsigned char>(LowerChar(a[i]));
        const auto y = static_cast<unsigned char>(LowerChar(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && MatchesAt(s, 0, prefix);
}

std::size_t FindNoCase(std::string_view s, std::string_view part, std::size_t from) {
    if (from > s.size() || part.size() > s.size() - from) return std::string_view::npos;
    for (std::size_t at = from; at + part.size() <= s.size(); ++at)
        if (MatchesAt(s, at, part)) return at;
    return std::string_view::npos;
}

bool ContainsNoCase(std::string_view s, std::string_view part) {
    return FindNoCase(s, part) != std::string_view::npos;
}

std::string_view Clip(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

std::string_view ClipBoth(std::string_view s) {
    return TrimWhere(s, [](char c) { return c == ' '; });
}

std::string_view Trim(std::string_view s) {
    return TrimWhere(s, IsBlankOrTab);
}

std::string_view TrimBlanks(std::string_view s) {
    return TrimWhere(s, IsBlankTabOrCr);
}

std::string_view TrimSpace(std::string_view s) {
    return TrimWhere(s, IsSpace);
}

std::vector<std::string_view> Split(std::string_view s, char separator) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const std::size_t at = s.find(separator);
        pieces.push_back(s.substr(0, at));
        if (at == std::string_view::npos) return pieces;
        s.remove_prefix(at + 1);
    }
}

std::size_t Utf8CutLength(std::string_view s, std::size_t max) {
    if (s.size() <= max) return s.size();
    // Step back over continuation bytes to the lead byte of the character that crosses
    // the cut; keep the cut where it is unless they form a well-formed sequence with it.
    std::size_t start = max;
    while (start > 0 && max - start < 3 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
    if (start == max) return max;  // the cut falls before a lead byte or an ASCII byte
    const auto lead = static_cast<unsigned char>(s[start]);
    std::size_t len = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
    }
    // Not a lead byte, a sequence that ends before the cut, or one cut off by the end of s.
    if (len == 0 || start + len <= max || start + len > s.size()) return max;
    for (std::size_t i = start + 1; i < start + len; ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return max;
    return start;
}

}  // namespace dt
