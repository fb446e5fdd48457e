#include "platform/text_util.h"

namespace dt::platform::detail {

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
}  // namespace

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

std::size_t CutLength(std::string_view s, std::size_t max) {
    if (s.size() <= max) return s.size();
    // Step back over continuation bytes at the cut; keep the cut where it is when they do
    // not belong to a well-formed sequence that crosses it.
    std::size_t start = max;
    int back = 0;
    while (start > 0 && back < 3 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) {
        --start;
        ++back;
    }
    const auto lead = static_cast<unsigned char>(s[start]);
    std::size_t len = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
    }
    if (len == 0 || start == max) return max;
    if (start + len > max && start + len <= s.size()) {
        for (std::size_t i = start + 1; i < start + len; ++i) {
            if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return max;
        }
        return start;
    }
    return max;
}

}  // namespace dt::platform::detail
