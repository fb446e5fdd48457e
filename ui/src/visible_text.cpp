#include "ui/src/visible_text.h"

namespace dt::ui::detail {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// U+2400 + c in UTF-8 (c below 0x40): E2 90 80+c.
void AppendControlPicture(std::string& out, unsigned c) {
    out += '\xE2';
    out += static_cast<char>(0x90);
    out += static_cast<char>(0x80 + c);
}

// The length of a layout character (in UTF-8) starting at s[i], or 0.
std::size_t LayoutCharacter(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    if (i + 1 < s.size() && b(0) == 0xC2 && b(1) >= 0x80 && b(1) <= 0x9F) return 2;  // C1
    if (i + 1 < s.size() && b(0) == 0xD8 && b(1) == 0x9C) return 2;                  // U+061C
    if (i + 2 < s.size() && b(0) == 0xE2 && b(1) == 0x80) {
        const unsigned c = b(2);
        // U+200E, U+200F (marks), U+2028, U+2029 (separators), U+202A..U+202E (embeddings
        // and overrides).
        if (c == 0x8E || c == 0x8F || (c >= 0xA8 && c <= 0xAE)) return 3;
    }
    if (i + 2 < s.size() && b(0) == 0xE2 && b(1) == 0x81 && b(2) >= 0xA6 && b(2) <= 0xA9)
        return 3;  // isolates
    return 0;
}

}  // namespace

std::string VisibleText(std::string_view s, bool keep_line_breaks) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (keep_line_breaks && (c == '\n' || (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))) {
            out += s[i++];
            continue;
        }
        if (c < 0x20) {
            AppendControlPicture(out, c);
            ++i;
        } else if (c == 0x7F) {
            AppendControlPicture(out, 0x21);  // U+2421 SYMBOL FOR DELETE
            ++i;
        } else if (std::size_t n = LayoutCharacter(s, i); n > 0) {
            out += kReplacement;
            i += n;
        } else {
            out += s[i++];
        }
    }
    return out;
}

}  // namespace dt::ui::detail
