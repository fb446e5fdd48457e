#include "app/row_format.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include <nlohmann/json.hpp>

namespace dt {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendHexEscape(std::string& out, unsigned char c) {
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

void AppendTwoDigits(std::string& out, int v) {
    out += static_cast<char>('0' + v / 10 % 10);
    out += static_cast<char>('0' + v % 10);
}

// The length of the well-formed UTF-8 sequence at `at`, or 0 when it is ill-formed; then
// `bad` receives the length of its maximal ill-formed prefix (at least 1).
std::size_t SequenceAt(std::string_view s, std::size_t at, std::size_t& bad) {
    const auto c = static_cast<unsigned char>(s[at]);
    if (c < 0x80) return 1;
    std::size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the range of the first continuation byte
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
    } else if (c == 0xE0) {
        need = 2;
        lo = 0xA0;  // no overlong form
    } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) {
        need = 2;
    } else if (c == 0xED) {
        need = 2;
        hi = 0x9F;  // no surrogate
    } else if (c == 0xF0) {
        need = 3;
        lo = 0x90;
    } else if (c >= 0xF1 && c <= 0xF3) {
        need = 3;
    } else if (c == 0xF4) {
        need = 3;
        hi = 0x8F;  // nothing above U+10FFFF
    } else {
        bad = 1;
        return 0;
    }
    for (std::size_t j = 1; j <= need; ++j) {
        const auto b = at + j < s.size() ? static_cast<unsigned char>(s[at + j]) : 0;
        if (at + j >= s.size() || b < lo || b > hi) {
            bad = j;
            return 0;
        }
        lo = 0x80;
        hi = 0xBF;
    }
    return need + 1;
}

std::string PathOf(const HitRow& row) {
    std::string path(row.dir);
    path += row.name;
    return path;
}

bool NeedsQuotes(std::string_view text) {
    if (text.find_first_of(",\"\r\n") != std::string_view::npos) return true;
    return !text.empty() && (text.front() == ' ' || text.back() == ' ');
}

}  // namespace

bool ParseRowFormat(std::string_view name, RowFormat& out) {
    static constexpr std::pair<std::string_view, RowFormat> kNames[] = {{"tsv", RowFormat::Tsv},
                                                                        {"csv", RowFormat::Csv},
                                                                        {"json", RowFormat::Json},
                                                                        {"paths", RowFormat::Paths},
                                                                        {"null", RowFormat::Null}};
    for (const auto& [text, format] : kNames) {
        if (name == text) {
            out = format;
            return true;
        }
    }
    return false;
}

std::string DateText(const DATE& d) {
    std::string out;
    if (d.IsZero()) return out;
    const std::string year = std::to_string(d.year);
    if (year.size() < 4) out.append(4 - year.size(), '0');
    out += year;
    out += '-';
    AppendTwoDigits(out, d.month);
    out += '-';
    AppendTwoDigits(out, d.day);
    return out;
}

std::string TimeText(const TIME& t) {
    std::string out;
    if (t.IsZero()) return out;
    AppendTwoDigits(out, t.hours);
    out += ':';
    AppendTwoDigits(out, t.minutes);
    out += ':';
    AppendTwoDigits(out, t.seconds);
    return out;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t bad = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = SequenceAt(text, at, bad);
        if (n == 0) return false;
        at += n;
    }
    return true;
}

std::string ToValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t bad = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = SequenceAt(text, at, bad);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            at += bad;
        } else {
            out.append(text.substr(at, n));
            at += n;
        }
    }
    return out;
}

std::string Base64(std::string_view bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16 |
                                std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                                static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        std::uint32_t v = std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size()) v |= std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

namespace {

// The length of the leading run of `text` that a TSV field holds unchanged: printable
// ASCII other than the backslash. Looks at eight bytes at a time (a search prints
// hundreds of thousands of paths).
std::size_t PlainTsvPrefix(std::string_view text) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
    const auto has_zero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    std::size_t plain = 0;
    for (; plain + 8 <= text.size(); plain += 8) {
        std::uint64_t w;
        std::memcpy(&w, text.data() + plain, sizeof w);
        // A byte of 0x80 or more, one below 0x20 (the subtraction borrows from it), 0x7F
        // or a backslash ends the run somewhere in these eight.
        const std::uint64_t stop = (w & kHighs) | ((w - 0x20 * kOnes) & ~w & kHighs) |
                                   has_zero(w ^ (0x7F * kOnes)) | has_zero(w ^ ('\\' * kOnes));
        if (stop != 0) break;
    }
    while (plain < text.size()) {
        const auto c = static_cast<unsigned char>(text[plain]);
        if (c < 0x20 || c >= 0x7F || c == '\\') break;
        ++plain;
    }
    return plain;
}

}  // namespace

void AppendTsvField(std::string& out, std::string_view text) {
    // Printable ASCII other than the backslash is copied as it is, a run at a time: most
    // fields are nothing else.
    const std::size_t plain = PlainTsvPrefix(text);
    out.append(text.substr(0, plain));
    if (plain == text.size()) return;
    const bool utf8 = IsValidUtf8(text);
    for (std::size_t at = plain; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        switch (c) {
            case '\t':
                out += "\\t";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\r':
                out += "\\r";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            default:
                break;
        }
        if (c < 0x20 || c == 0x7F) {
            AppendHexEscape(out, c);
        } else if (utf8 && c == 0xC2 && at + 1 < text.size() &&
                   static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
            // U+0080..U+009F: both bytes (the second is a continuation byte, so >= 0x80).
            AppendHexEscape(out, c);
            AppendHexEscape(out, static_cast<unsigned char>(text[++at]));
        } else if (!utf8 && c >= 0x80 && c <= 0x9F) {
            AppendHexEscape(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
}

void AppendCsvField(std::string& out, std::string_view text) {
    if (!NeedsQuotes(text)) {
        out.append(text);
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void AppendHeader(RowFormat format, std::string& out) {
    if (format == RowFormat::Csv) out += "computer,dir,name,extension,size,date,time,path\r\n";
}

std::string RowJson(const HitRow& row) {
    const std::string path = PathOf(row);
    nlohmann::ordered_json o;
    o["computer"] = ToValidUtf8(row.computer);
    o["dir"] = ToValidUtf8(row.dir);
    o["name"] = ToValidUtf8(row.name);
    o["extension"] = ToValidUtf8(row.extension);
    o["size"] = row.size;
    o["date"] = row.date.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(row.date);
    o["time"] = row.time.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(row.time);
    o["path"] = ToValidUtf8(path);
    if (!IsValidUtf8(path)) o["path_b64"] = Base64(path);
    return o.dump();
}

namespace {

// "\t<size>\t<date>\t<time>\n", put together first and appended at once.
void AppendTsvTail(std::string& out, const HitRow& row) {
    if (row.date.size() > 16 || row.time.size() > 16) {
        // Longer than any date or time this program writes: as they stand.
        out.append(1, '\t').append(std::to_string(row.size)).append(1, '\t').append(row.date);
        out.append(1, '\t').append(row.time).append(1, '\n');
        return;
    }
    char tail[64];  // 20 digits, 16 + 16 characters and four separators at most
    char* at = tail;
    *at++ = '\t';
    at = std::to_chars(at, tail + 21, row.size).ptr;
    *at++ = '\t';
    at = std::copy(row.date.begin(), row.date.end(), at);
    *at++ = '\t';
    at = std::copy(row.time.begin(), row.time.end(), at);
    *at++ = '\n';
    out.append(tail, static_cast<std::size_t>(at - tail));
}

}  // namespace

void AppendRow(RowFormat format, const HitRow& row, std::string& out) {
    switch (format) {
        case RowFormat::Tsv:
            AppendTsvField(out, row.computer);
            out += '\t';
            AppendTsvField(out, row.dir);
            out += '\t';
            AppendTsvField(out, row.name);
            out += '\t';
            AppendTsvField(out, row.extension);
            AppendTsvTail(out, row);
            return;
        case RowFormat::Csv:
            for (std::string_view text : {row.computer, row.dir, row.name, row.extension}) {
                AppendCsvField(out, text);
                out += ',';
            }
            out += std::to_string(row.size);
            out += ',';
            out += row.date;
            out += ',';
            out += row.time;
            out += ',';
            AppendCsvField(out, PathOf(row));
            out += "\r\n";
            return;
        case RowFormat::Json:
            out += RowJson(row);
            out += '\n';
            return;
        case RowFormat::Paths:
            out += row.dir;
            out += row.name;
            out += '\n';
            return;
        case RowFormat::Null:
            out += row.dir;
            out += row.name;
            out += '\0';
            return;
    }
}

}  // namespace dt
