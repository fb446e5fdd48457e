// Parser and writer of list format strings (see list_format.h for the syntax).
#include "ui/list_format.h"

#include <cctype>

#include "platform/text.h"

namespace dt::ui {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads digits at s[i]; returns -1 when there are none.
int ReadNumber(std::string_view s, std::size_t& i) {
    if (i >= s.size() || !IsDigit(s[i])) return -1;
    long v = 0;
    while (i < s.size() && IsDigit(s[i])) {
        v = v * 10 + (s[i] - '0');
        if (v > 100000) v = 100000;  // a width beyond any screen; keeps the value in range
        ++i;
    }
    return static_cast<int>(v);
}

bool IsAlign(char c) {
    c = UpperChar(c);
    return c == 'L' || c == 'R' || c == 'C' || c == 'D';
}

// Reads an optional "(n)" at s[i]; false on a malformed one.
bool ReadIndent(std::string_view s, std::size_t& i, int& out) {
    if (i >= s.size() || s[i] != '(') return true;
    ++i;
    bool neg = false;
    if (i < s.size() && s[i] == '-') {
        neg = true;
        ++i;
    }
    int v = ReadNumber(s, i);
    if (v < 0 || i >= s.size() || s[i] != ')') return false;
    ++i;
    out = neg ? -v : v;
    return true;
}

bool Fail(std::string* error, std::size_t pos, const char* what) {
    if (error) *error = std::string(what) + " at position " + std::to_string(pos + 1);
    return false;
}

}  // namespace

bool ParseListFormat(std::string_view s, ListFormat& out, std::string* error) {
    out = ListFormat{};
    std::size_t i = 0;
    int next_field = 0;
    while (i < s.size()) {
        if (s[i] == ' ') {  // blanks between columns are allowed
            ++i;
            continue;
        }
        ListColumn col;
        std::size_t start = i;
        col.width = ReadNumber(s, i);
        if (col.width < 0) return Fail(error, start, "column width expected");
        if (i >= s.size() || !IsAlign(s[i])) return Fail(error, i, "alignment L, R, C or D expected");
        col.align = UpperChar(s[i++]);
        if (!ReadIndent(s, i, col.indent)) return Fail(error, i, "malformed indent");
        int explicit_field = -1;
        // Modifiers until the next column's width begins.
        while (i < s.size() && !IsDigit(s[i])) {
            char c = s[i];
            switch (c) {
                case '|':
                    col.right_border = true;
                    ++i;
                    break;
                case 'M':
                case 'm':
                    col.resizable = true;
                    ++i;
                    break;
                case '_':
                    col.underline = true;
                    ++i;
                    break;
                case '*':
                    col.colors = true;
                    ++i;
                    break;
                case 'Y':
                case 'y':
                    col.icon = true;
                    ++i;
                    break;
                case '~': {
                    std::size_t end = s.find('~', i + 1);
                    if (end == std::string_view::npos) return Fail(error, i, "header without closing ~");
                    col.header = std::string(s.substr(i + 1, end - i - 1));
                    i = end + 1;
                    col.header_align = col.align == 'D' ? 'R' : col.align;
                    if (i < s.size() && IsAlign(s[i]) && s[i] != 'D' && s[i] != 'd') {
                        col.header_align = UpperChar(s[i++]);
                        if (!ReadIndent(s, i, col.header_indent))
                            return Fail(error, i, "malformed header indent");
                    }
                    break;
                }
                case '@': {
                    std::size_t end = s.find('@', i + 1);
                    if (end == std::string_view::npos) return Fail(error, i, "picture without closing @");
                    col.picture = std::string(s.substr(i + 1, end - i - 1));
                    i = end + 1;
                    break;
                }
                case '#': {
                    std::size_t p = i + 1;
                    int n = ReadNumber(s, p);
                    if (n < 1 || p >= s.size() || s[p] != '#') return Fail(error, i, "malformed #field#");
                    explicit_field = n - 1;
                    i = p + 1;
                    break;
                }
                case 'S':
                case 's':
                case 'T':
                case 't': {
                    // S(n) scroll width, T(...) tree: skip an optional parenthesised part.
                    ++i;
                    if (i < s.size() && s[i] == '(') {
                        std::size_t end = s.find(')', i);
                        if (end == std::string_view::npos) return Fail(error, i, "unclosed (");
                        i = end + 1;
                    }
                    break;
                }
                default:
                    if (std::isalpha(static_cast<unsigned char>(c)) || c == '/' || c == '?' || c == ' ') {
                        ++i;  // F, Z, P, /, ? ... : accepted and ignored
                        break;
                    }
                    return Fail(error, i, "unexpected character");
            }
        }
        if (explicit_field >= 0) next_field = explicit_field;
        col.field = next_field++;
        if (col.colors) {
            col.color_field = next_field;
            next_field += 4;
        }
        if (col.icon) col.icon_field = next_field++;
        if (next_field > out.fields_used) out.fields_used = next_field;
        out.columns.push_back(std::move(col));
    }
    return true;
}

std::string ListFormatText(const ListFormat& f) {
    std::string s;
    int next_field = 0;
    for (const auto& c : f.columns) {
        s += std::to_string(c.width);
        s += c.align;
        if (c.indent != 0) s += "(" + std::to_string(c.indent) + ")";
        if (c.right_border) s += '|';
        if (c.resizable) s += 'M';
        if (c.underline) s += '_';
        if (c.colors) s += '*';
        if (c.icon) s += 'Y';
        if (c.field != next_field) s += "#" + std::to_string(c.field + 1) + "#";
        next_field = c.field + 1 + (c.colors ? 4 : 0) + (c.icon ? 1 : 0);
        if (!c.header.empty() || c.header_indent != 0) {
            s += "~" + c.header + "~";
            char def = c.align == 'D' ? 'R' : c.align;
            if (c.header_align != def || c.header_indent != 0) {
                s += c.header_align;
                if (c.header_indent != 0) s += "(" + std::to_string(c.header_indent) + ")";
            }
        }
        if (!c.picture.empty()) s += "@" + c.picture + "@";
    }
    return s;
}

}  // namespace dt::ui
