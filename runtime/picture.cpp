#include "runtime/picture.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/text.h"
#include "runtime/regional.h"
#include "runtime/stddate.h"

namespace dt {
namespace {

// --- parsed pictures ---

struct NumberLayout {
    std::string currency_lead, currency_trail;
    bool lead_minus = false, parens = false, trail_minus = false;
    char fill = ' ';      // ' ', '0' or '*'
    char grouping = ',';  // 0 for none
    int places = 0;
    char decimal = '.';  // 0: implied decimal point
    bool AdmitsNegative() const { return lead_minus || parens || trail_minus; }
};

struct Picture {
    PictureKind kind = PictureKind::Unknown;
    int width = 0;   // text, number, pattern
    int format = 0;  // date, time
    bool blank_when_zero = false;
    bool zero_fill = false;  // date, time: "0" after the letter
    char separator = 0;      // date, time: replaces "/" or ":"
    NumberLayout number;
    std::string pattern;  // between the P delimiters
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsBlankChar(char c) {
    return c == ' ' || c == '\t';
}

// Reads an unsigned decimal number of at most 4 digits at s[i]; -1 when there is none.
int ReadSmallNumber(std::string_view s, std::size_t& i) {
    int n = 0, digits = 0;
    while (i < s.size() && IsDigit(s[i]) && digits < 4) n = n * 10 + (s[i++] - '0'), ++digits;
    return digits ? n : -1;
}

bool TakeB(std::string_view s, std::size_t& i) {
    if (i < s.size() && (s[i] == 'B' || s[i] == 'b')) return ++i, true;
    return false;
}

// "." "-" "_" "`" after a date or time number: the separator to use instead of the default.
char TakeSeparator(std::string_view s, std::size_t& i) {
    if (i >= s.size()) return 0;
    switch (s[i]) {
        case '.':
            ++i;
            return '.';
        case '-':
            ++i;
            return '-';
        case '_':
            ++i;
            return ' ';
        case '`':
            ++i;
            return ',';
        default:
            return 0;
    }
}

// "$" or "~text~" at s[i].
bool TakeCurrency(std::string_view s, std::size_t& i, std::string& out) {
    if (i < s.size() && s[i] == '$') {
        out = "$";
        ++i;
        return true;
    }
    if (i < s.size() && s[i] == '~') {
        const std::size_t close = s.find('~', i + 1);
        if (close == std::string_view::npos) return false;
        out = std::string(s.substr(i + 1, close - i - 1));
        i = close + 1;
        return true;
    }
    return false;
}

bool ParseNumber(std::string_view s, Picture& p) {
    NumberLayout& n = p.number;
    std::size_t i = 0;
    TakeCurrency(s, i, n.currency_lead);
    if (i < s.size() && s[i] == '-')
        n.lead_minus = true, ++i;
    else if (i < s.size() && s[i] == '(')
        n.parens = true, ++i;
    if (i < s.size() && (s[i] == '0' || s[i] == '_' || s[i] == '*')) {
        if (s[i] != '*') n.grouping = 0;
        n.fill = s[i] == '_' ? ' ' : s[i];
        ++i;
    }
    int size = 0;
    while (i < s.size() && IsDigit(s[i])) {
        size = size * 10 + (s[i++] - '0');
        if (size > 255) return false;
    }
    p.width = size;
    // Grouping character: "." or "_" not directly followed by the digits of the places.
    if (i < s.size() && (s[i] == '.' || s[i] == '_') && !(i + 1 < s.size() && IsDigit(s[i + 1]))) {
        n.grouping = s[i] == '.' ? '.' : ' ';
        ++i;
    }
    if (i + 1 < s.size() && (s[i] == '.' || s[i] == '`' || s[i] == 'v' || s[i] == 'V') && IsDigit(s[i + 1])) {
        n.decimal = s[i] == '.' ? '.' : s[i] == '`' ? ',' : 0;
        ++i;
        n.places = 0;
        while (i < s.size() && IsDigit(s[i])) {
            n.places = n.places * 10 + (s[i++] - '0');
            if (n.places > 15) return false;
        }
    }
    if (n.parens) {
        if (i >= s.size() || s[i] != ')') return false;
        ++i;
    } else if (i < s.size() && s[i] == '-') {
        n.trail_minus = true;
        ++i;
    }
    TakeCurrency(s, i, n.currency_trail);
    p.blank_when_zero = TakeB(s, i);
    // Grouping and decimal point never share a character, or "1.234.567" would read as 1.234567.
    if (n.grouping && n.grouping == n.decimal) {
        if (n.places > 0)
            n.grouping = n.decimal == ',' ? '.' : ',';
        else
            n.decimal = n.grouping == '.' ? ',' : '.';
    }
    return i == s.size();
}

Picture Parse(std::string_view text) {
    Picture p;
    std::string_view s = Trim(text);
    if (!s.empty() && s.front() == '@') s.remove_prefix(1);
    if (!s.empty() && s.back() == '@') s.remove_suffix(1);
    if (s.empty()) return p;
    const char letter = LowerChar(s.front());
    std::string_view rest = s.substr(1);
    std::size_t i = 0;
    switch (letter) {
        case 's': {
            const int n = ReadSmallNumber(rest, i);
            if (n < 0 || i != rest.size()) return p;
            p.kind = PictureKind::Text;
            p.width = n;
            return p;
        }
        case 'n':
            if (ParseNumber(rest, p))
                p.kind = PictureKind::Number;
            else
                p = Picture{};
            return p;
        case 'd':
        case 't': {
            if (rest.size() > 1 && rest[0] == '0') p.zero_fill = true, ++i;
            const int k = ReadSmallNumber(rest, i);
            const int highest = letter == 'd' ? 20 : 8;
            if (k < 1 || k > highest) return p;
            p.separator = TakeSeparator(rest, i);
            p.blank_when_zero = TakeB(rest, i);
            if (i != rest.size()) return Picture{};
            p.kind = letter == 'd' ? PictureKind::Date : PictureKind::Time;
            p.format = k;
            return p;
        }
        case 'p': {
            if (rest.size() >= 2 && (rest.back() == 'B' || rest.back() == 'b') &&
                LowerChar(rest[rest.size() - 2]) == 'p') {
                p.blank_when_zero = true;
                rest.remove_suffix(1);
            }
            if (rest.empty() || LowerChar(rest.back()) != 'p') return p;
            p.pattern = std::string(rest.substr(0, rest.size() - 1));
            p.kind = PictureKind::Pattern;
            p.width = static_cast<int>(p.pattern.size());
            return p;
        }
        default:
            return p;
    }
}

// --- numbers ---

// |value| rounded half away from zero to `places` decimals, on its first 15 significant
// digits (so 2.675 rounds to 2.68 as written, not as the binary value 2.67499...).
// Fails for values too large to write out.
bool DecimalDigits(double value, int places, std::string& int_part, std::string& frac_part) {
    const double a = std::fabs(value);
    if (!std::isfinite(a) || a >= 1e30) return false;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", a);
    std::string mantissa;
    const char* e = buf;
    for (; *e && *e != 'e'; ++e)
        if (IsDigit(*e)) mantissa += *e;
    const int exponent = std::atoi(e + 1);
    const int int_digits = exponent + 1;  // digits before the decimal point
    std::string ip, fp;
    if (int_digits <= 0) {
        ip = "0";
        fp = std::string(static_cast<std::size_t>(-int_digits), '0') + mantissa;
    } else if (static_cast<std::size_t>(int_digits) >= mantissa.size()) {
        ip = mantissa + std::string(int_digits - mantissa.size(), '0');
    } else {
        ip = mantissa.substr(0, int_digits);
        fp = mantissa.substr(int_digits);
    }
    const bool round_up = fp.size() > static_cast<std::size_t>(places) && fp[places] >= '5';
    fp.resize(static_cast<std::size_t>(places), '0');
    if (round_up) {
        std::string all = ip + fp;
        int k = static_cast<int>(all.size()) - 1;
        for (; k >= 0 && all[k] == '9'; --k) all[k] = '0';
        if (k >= 0)
            ++all[k];
        else
            all.insert(all.begin(), '1');
        ip = all.substr(0, all.size() - fp.size());
        fp = all.substr(all.size() - fp.size());
    }
    const std::size_t nz = ip.find_first_not_of('0');
    ip = nz == std::string::npos ? "0" : ip.substr(nz);
    int_part = ip;
    frac_part = fp;
    return true;
}

bool AllZero(const std::string& s) {
    return s.find_first_not_of('0') == std::string::npos;
}

std::string Hashes(int width) {
    return std::string(width > 0 ? width : 1, '#');
}

// The shortest plain decimal text of a number ("1234567", "-2.5").
std::string PlainNumber(double v) {
    if (!std::isfinite(v)) return "#";
    if (v == std::floor(v) && std::fabs(v) < 1e15) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.0f", v);
        return std::string(buf) == "-0" ? "0" : buf;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

std::string FormatNumber(double value, const Picture& p) {
    const NumberLayout& n = p.number;
    std::string ip, fp;
    if (!DecimalDigits(value, n.places, ip, fp)) return Hashes(p.width);
    const bool zero = AllZero(ip) && AllZero(fp);
    if (zero && p.blank_when_zero) return std::string(p.width, ' ');
    const bool negative = value < 0 && !zero;
    if (negative && !n.AdmitsNegative()) return Hashes(p.width);

    std::string digits;
    if (n.grouping) {
        const std::size_t len = ip.size();
        for (std::size_t k = 0; k < len; ++k) {
            if (k > 0 && (len - k) % 3 == 0) digits += n.grouping;
            digits += ip[k];
        }
    } else {
        digits = ip;
    }
    if (n.places > 0) {
        if (n.decimal) digits += n.decimal;
        digits += fp;
    }
    std::string prefix = n.currency_lead;
    if (n.lead_minus && negative) prefix += '-';
    if (n.parens) prefix += negative ? '(' : ' ';
    std::string suffix;
    if (n.parens) suffix += negative ? ')' : ' ';
    if (n.trail_minus) suffix += negative ? '-' : ' ';
    suffix += n.currency_trail;

    const int used = static_cast<int>(prefix.size() + digits.size() + suffix.size());
    if (p.width == 0) return prefix + digits + suffix;
    if (used > p.width) return Hashes(p.width);
    const std::string pad(static_cast<std::size_t>(p.width - used), n.fill);
    if (n.fill == ' ') return pad + prefix + digits + suffix;
    return prefix + pad + digits + suffix;
}

bool ParsePlainNumber(std::string_view s, double& out) {
    s = Trim(s);
    if (s.empty()) return out = 0, true;
    if (s.front() == '+') s.remove_prefix(1);
    double v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
    out = v;
    return true;
}

ConvertStatus Failure(std::string_view text, std::string_view picture, std::string_view why) {
    return ConvertStatus::Fail("\"" + std::string(text) + "\" cannot be read with the picture \"" +
                               std::string(picture) + "\": " + std::string(why));
}

ConvertStatus DeformatNumber(std::string_view text, std::string_view picture, const Picture& p, double& out) {
    const NumberLayout& n = p.number;
    std::string_view s = Trim(text);
    if (s.empty()) return out = 0, ConvertStatus::Ok();
    if (!n.currency_lead.empty() && s.substr(0, n.currency_lead.size()) == n.currency_lead)
        s = Trim(s.substr(n.currency_lead.size()));
    if (!n.currency_trail.empty() && s.size() >= n.currency_trail.size() &&
        s.substr(s.size() - n.currency_trail.size()) == n.currency_trail)
        s = Trim(s.substr(0, s.size() - n.currency_trail.size()));
    bool negative = false;
    if (!s.empty() && s.front() == '(' && s.back() == ')') {
        negative = true;
        s = Trim(s.substr(1, s.size() - 2));
    } else if (!s.empty() && s.front() == '-') {
        negative = true;
        s = Trim(s.substr(1));
    } else if (!s.empty() && s.back() == '-') {
        negative = true;
        s = Trim(s.substr(0, s.size() - 1));
    }
    std::string plain;
    bool seen_decimal = false;
    for (char c : s) {
        if (IsDigit(c)) {
            plain += c;
        } else if (n.decimal && c == n.decimal && !seen_decimal) {
            plain += '.';
            seen_decimal = true;
        } else if ((n.grouping && c == n.grouping) || c == '*') {
            continue;  // grouping and asterisk fill carry no value
        } else {
            return Failure(text, picture, "it is not a number");
        }
    }
    if (plain.empty() || plain == ".") return Failure(text, picture, "it holds no digits");
    double v = 0;
    if (!ParsePlainNumber(plain, v)) return Failure(text, picture, "it is not a number");
    if (!n.decimal && n.places > 0 && !seen_decimal) v /= std::pow(10.0, n.places);
    if (negative && v != 0 && !n.AdmitsNegative())
        return Failure(text, picture, "the picture admits no negative values");
    out = negative ? -v : v;
    return ConvertStatus::Ok();
}

// --- patterns ---

std::string FormatPattern(double value, const Picture& p) {
    std::string ip, fp;
    const bool ok = DecimalDigits(value, 0, ip, fp);
    const bool zero = ok && ip == "0";
    std::string out = p.pattern;
    if (zero && p.blank_when_zero) return std::string(out.size(), ' ');
    std::size_t slots = 0;
    for (char c : out) slots += c == '#' || c == '<';
    if (!ok || (value < 0 && !zero) || ip.size() > slots) {
        for (char& c : out)
            if (c == '#' || c == '<') c = '#';
        return out;
    }
    const std::string digits = std::string(slots - ip.size(), '0') + ip;
    std::size_t k = 0;
    bool significant = false;
    for (char& c : out) {
        if (c != '#' && c != '<') continue;
        const char d = digits[k++];
        if (d != '0' || c == '#') significant = true;
        c = (c == '<' && !significant) ? ' ' : d;
        // The last digit of a value is always shown, so 0 under "<<<" is "  0".
        if (k == digits.size() && c == ' ') c = d;
    }
    return out;
}

ConvertStatus DeformatPattern(std::string_view text, std::string_view picture, const Picture& p,
                              double& out) {
    const std::string_view trimmed = Trim(text);
    if (trimmed.empty()) return out = 0, ConvertStatus::Ok();
    std::string digits;
    if (text.size() == p.pattern.size()) {
        for (std::size_t k = 0; k < text.size(); ++k) {
            const char pc = p.pattern[k], c = text[k];
            if (pc == '#' || pc == '<') {
                if (IsDigit(c))
                    digits += c;
                else if (c != ' ')
                    return Failure(text, picture, "a digit is expected in its place");
            } else if (c != pc) {
                return Failure(text, picture, "the text does not follow the pattern");
            }
        }
    } else {
        for (char c : trimmed)
            if (!IsDigit(c)) return Failure(text, picture, "the text does not follow the pattern");
        digits = std::string(trimmed);
    }
    double v = 0;
    if (!digits.empty() && !ParsePlainNumber(digits, v)) return Failure(text, picture, "it is not a number");
    out = v;
    return ConvertStatus::Ok();
}

// --- dates and times ---

enum class Tok {
    Lit,
    Day,
    Month,
    MonAbbr,
    MonFull,
    Year2,
    Year4,
    YearShort,
    DayAbbr,
    DayFull,
    Hour24,
    Hour12,
    Minute,
    Second,
    AmPm
};
enum class Pad { Zero, Blank, None };
struct Token {
    Token(Tok t, Pad p = Pad::Zero, std::string l = {}) : tok(t), pad(p), lit(std::move(l)) {}
    Tok tok;
    Pad pad;
    std::string lit;
};

const char* const kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                 "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

void AddLit(std::vector<Token>& toks, std::string_view s) {
    if (s.empty()) return;
    if (!toks.empty() && toks.back().tok == Tok::Lit)
        toks.back().lit += s;
    else
        toks.push_back({Tok::Lit, Pad::Zero, std::string(s)});
}

// Turns a template of the numbered pictures into tokens; `time` selects the time letters.
std::vector<Token> FromTemplate(std::string_view t, bool time, const Picture& p) {
    std::vector<Token> toks;
    const Pad blank = p.zero_fill ? Pad::Zero : Pad::Blank;
    const char sep_default = time ? ':' : '/';
    auto starts = [&](std::size_t i, std::string_view what) { return t.substr(i, what.size()) == what; };
    for (std::size_t i = 0; i < t.size();) {
        if (!time && starts(i, "NNNNNNNNN"))
            toks.push_back({Tok::MonFull}), i += 9;
        else if (!time && starts(i, "NNN"))
            toks.push_back({Tok::MonAbbr}), i += 3;
        else if (!time && starts(i, "yyyy"))
            toks.push_back({Tok::Year4}), i += 4;
        else if (!time && starts(i, "yy"))
            toks.push_back({Tok::Year2}), i += 2;
        else if (!time && starts(i, "Mm"))
            toks.push_back({Tok::Month, blank}), i += 2;
        else if (!time && starts(i, "mm"))
            toks.push_back({Tok::Month, Pad::Zero}), i += 2;
        else if (!time && starts(i, "Dd"))
            toks.push_back({Tok::Day, blank}), i += 2;
        else if (!time && starts(i, "dd"))
            toks.push_back({Tok::Day, Pad::Zero}), i += 2;
        else if (time && starts(i, "Hh"))
            toks.push_back({Tok::Hour12, blank}), i += 2;
        else if (time && starts(i, "hh"))
            toks.push_back({Tok::Hour24, Pad::Zero}), i += 2;
        else if (time && starts(i, "mm"))
            toks.push_back({Tok::Minute, Pad::Zero}), i += 2;
        else if (time && starts(i, "ss"))
            toks.push_back({Tok::Second, Pad::Zero}), i += 2;
        else if (time && starts(i, "PP"))
            toks.push_back({Tok::AmPm}), i += 2;
        else {
            const char c = t[i] == sep_default && p.separator ? p.separator : t[i];
            AddLit(toks, std::string_view(&c, 1));
            ++i;
        }
    }
    return toks;
}

// Turns a regional date format (d dd ddd dddd M MM MMM MMMM y yy yyyy, text in single
// quotes, "''" for a quote) into tokens. Letters with no meaning stand as they are.
std::vector<Token> FromSystemDateFormat(std::string_view f) {
    std::vector<Token> toks;
    for (std::size_t i = 0; i < f.size();) {
        const char c = f[i];
        if (c == '\'') {
            const std::size_t close = f.find('\'', i + 1);
            if (close == i + 1) {
                AddLit(toks, "'");
                i += 2;
                continue;
            }
            const std::size_t end = close == std::string_view::npos ? f.size() : close;
            AddLit(toks, f.substr(i + 1, end - i - 1));
            i = end == f.size() ? end : end + 1;
            continue;
        }
        std::size_t run = 1;
        while (i + run < f.size() && f[i + run] == c) ++run;
        if (c == 'd') {
            toks.push_back({run <= 2   ? Tok::Day
                            : run == 3 ? Tok::DayAbbr
                                       : Tok::DayFull,
                            run == 1 ? Pad::None : Pad::Zero});
        } else if (c == 'M') {
            toks.push_back({run <= 2   ? Tok::Month
                            : run == 3 ? Tok::MonAbbr
                                       : Tok::MonFull,
                            run == 1 ? Pad::None : Pad::Zero});
        } else if (c == 'y') {
            toks.push_back({run == 1 ? Tok::YearShort : run == 2 ? Tok::Year2 : Tok::Year4});
        } else if (c == 'g') {
            // Era: there is only one era in the Gregorian calendar, shown as nothing.
        } else {
            AddLit(toks, f.substr(i, run));
        }
        i += run;
    }
    return toks;
}

std::vector<Token> SystemTimeFormat(const RegionalSettings& r, bool seconds) {
    std::vector<Token> toks;
    const bool h24 = r.iTime == 1;
    toks.push_back({h24 ? Tok::Hour24 : Tok::Hour12, r.iTLzero ? Pad::Zero : Pad::None});
    AddLit(toks, r.sTime);
    toks.push_back({Tok::Minute});
    if (seconds) {
        AddLit(toks, r.sTime);
        toks.push_back({Tok::Second});
    }
    if (!h24) {
        AddLit(toks, " ");
        toks.push_back({Tok::AmPm});
    }
    return toks;
}

const char* const kDateTemplates[21] = {"",
                                        "Mm/dd/yy",
                                        "Mm/dd/yyyy",
                                        "NNN Dd, yyyy",
                                        "NNNNNNNNN Dd, yyyy",
                                        "Dd/mm/yy",
                                        "Dd/mm/yyyy",
                                        "Dd NNN yy",
                                        "Dd NNN yyyy",
                                        "yy/mm/dd",
                                        "yyyy/mm/dd",
                                        "yymmdd",
                                        "yyyymmdd",
                                        "Mm/yy",
                                        "Mm/yyyy",
                                        "yy/mm",
                                        "yyyy/mm",
                                        "",
                                        "",
                                        "Dd NNNNNNNNN yyyy",
                                        "NNNNNNNNN Dd yyyy"};
const char* const kTimeTemplates[7] = {"", "hh:mm", "hhmm", "Hh:mmPP", "hh:mm:ss", "hhmmss", "Hh:mm:ssPP"};

std::vector<Token> DateTokens(const Picture& p, const RegionalSettings& r) {
    if (p.format == 17) return FromSystemDateFormat(r.sShortDate);
    if (p.format == 18) return FromSystemDateFormat(r.sLongDate);
    return FromTemplate(kDateTemplates[p.format], false, p);
}

std::vector<Token> TimeTokens(const Picture& p, const RegionalSettings& r) {
    if (p.format >= 7) {
        std::vector<Token> toks = SystemTimeFormat(r, p.format == 8);
        if (p.separator)
            for (Token& t : toks)
                if (t.tok == Tok::Lit && t.lit == r.sTime) t.lit = std::string(1, p.separator);
        return toks;
    }
    return FromTemplate(kTimeTemplates[p.format], true, p);
}

std::string Number(int v, Pad pad, int width = 2) {
    std::string s = std::to_string(v);
    if (pad != Pad::None && static_cast<int>(s.size()) < width)
        s.insert(0, static_cast<std::size_t>(width) - s.size(), pad == Pad::Zero ? '0' : ' ');
    return s;
}

struct Fields {
    int year = 0, month = 0, day = 0, weekday = 0;
    int hours = 0, minutes = 0, seconds = 0;
};

std::string Render(const std::vector<Token>& toks, const Fields& f, const RegionalSettings& r) {
    std::string out;
    for (const Token& t : toks) {
        switch (t.tok) {
            case Tok::Lit:
                out += t.lit;
                break;
            case Tok::Day:
                out += Number(f.day, t.pad);
                break;
            case Tok::Month:
                out += Number(f.month, t.pad);
                break;
            case Tok::MonAbbr:
                out += std::string(kMonths[f.month - 1], 3);
                break;
            case Tok::MonFull:
                out += kMonths[f.month - 1];
                break;
            case Tok::Year2:
                out += Number(f.year % 100, Pad::Zero);
                break;
            case Tok::Year4:
                out += Number(f.year, Pad::Zero, 4);
                break;
            case Tok::YearShort:
                out += Number(f.year % 100, Pad::None);
                break;
            case Tok::DayAbbr:
                out += std::string(kDays[f.weekday], 3);
                break;
            case Tok::DayFull:
                out += kDays[f.weekday];
                break;
            case Tok::Hour24:
                out += Number(f.hours, t.pad);
                break;
            case Tok::Hour12:
                out += Number(f.hours % 12 == 0 ? 12 : f.hours % 12, t.pad);
                break;
            case Tok::Minute:
                out += Number(f.minutes, Pad::Zero);
                break;
            case Tok::Second:
                out += Number(f.seconds, Pad::Zero);
                break;
            case Tok::AmPm:
                out += f.hours < 12 ? r.s1159 : r.s2359;
                break;
        }
    }
    return out;
}

std::string FormatDate(double value, const Picture& p) {
    if (!(value >= 1 && value <= MaxStandardDate())) return "";  // no date (0) or none at all
    const LONG date = static_cast<LONG>(value);
    YearMonthDay ymd;
    if (SplitDate(date, ymd) != 0) return "";
    const auto regional = Regional();
    Fields f;
    f.year = ymd.year;
    f.month = ymd.month;
    f.day = ymd.day;
    f.weekday = date % 7;  // day 4, 1 January 1801, was a Thursday
    return Render(DateTokens(p, *regional), f, *regional);
}

std::string FormatTime(double value, const Picture& p) {
    if (!(value >= 1 && value <= kMaxStandardTime)) return "";  // no time (0) or none at all
    TimeParts tp;
    if (SplitTime(static_cast<LONG>(value), tp) != 0) return "";
    const auto regional = Regional();
    Fields f;
    f.hours = tp.hours;
    f.minutes = tp.minutes;
    f.seconds = tp.seconds;
    return Render(TimeTokens(p, *regional), f, *regional);
}

// Reads the text of a date or time token by token.
class Reader {
  public:
    explicit Reader(std::string_view s) : s_(s) {}

    void SkipBlanks() {
        while (i_ < s_.size() && IsBlankChar(s_[i_])) ++i_;
    }
    bool AtEnd() {
        SkipBlanks();
        return i_ == s_.size();
    }
    // Up to max_digits digits after blanks; -1 when there is none.
    int Digits(int max_digits, int* count = nullptr) {
        SkipBlanks();
        int v = 0, n = 0;
        while (i_ < s_.size() && n < max_digits && IsDigit(s_[i_])) v = v * 10 + (s_[i_++] - '0'), ++n;
        if (count) *count = n;
        return n ? v : -1;
    }
    std::string Letters() {
        SkipBlanks();
        std::string w;
        while (i_ < s_.size() && IsAlpha(s_[i_])) w += LowerChar(s_[i_++]);
        return w;
    }
    // A literal of the picture: blanks match any run of blanks, letters match in any
    // case, punctuation matches any punctuation.
    bool Literal(std::string_view lit) {
        for (char c : lit) {
            if (IsBlankChar(c)) {
                SkipBlanks();
                continue;
            }
            SkipBlanks();
            if (i_ >= s_.size()) return false;
            const char t = s_[i_];
            const bool punct_c = !IsAlpha(c) && !IsDigit(c);
            const bool punct_t = !IsAlpha(t) && !IsDigit(t) && !IsBlankChar(t);
            if (LowerChar(c) == LowerChar(t) || (punct_c && punct_t))
                ++i_;
            else
                return false;
        }
        return true;
    }

  private:
    std::string_view s_;
    std::size_t i_ = 0;
};

bool IsPrefixOf(const std::string& word, std::string_view name) {
    if (word.size() > name.size()) return false;
    for (std::size_t k = 0; k < word.size(); ++k)
        if (word[k] != LowerChar(name[k])) return false;
    return true;
}

int MonthByName(const std::string& word) {
    if (word.size() < 3) return 0;
    for (int m = 0; m < 12; ++m)
        if (IsPrefixOf(word, kMonths[m])) return m + 1;
    return 0;
}

bool IsDayName(const std::string& word) {
    if (word.size() < 2) return false;
    for (const char* d : kDays)
        if (IsPrefixOf(word, d)) return true;
    return false;
}

// True when token k is followed directly by another number (so digits must be counted).
bool NextIsNumber(const std::vector<Token>& toks, std::size_t k) {
    if (k + 1 >= toks.size()) return false;
    switch (toks[k + 1].tok) {
        case Tok::Lit:
        case Tok::MonAbbr:
        case Tok::MonFull:
        case Tok::DayAbbr:
        case Tok::DayFull:
        case Tok::AmPm:
            return false;
        default:
            return true;
    }
}

ConvertStatus DeformatDate(std::string_view text, std::string_view picture, const Picture& p, double& out) {
    if (Trim(text).empty()) return out = 0, ConvertStatus::Ok();
    const auto regional = Regional();
    const std::vector<Token> toks = DateTokens(p, *regional);
    Reader in(text);
    int year = -1, month = -1, day = 1;
    for (std::size_t k = 0; k < toks.size(); ++k) {
        const Token& t = toks[k];
        const bool packed = NextIsNumber(toks, k);
        switch (t.tok) {
            case Tok::Lit:
                if (!in.Literal(t.lit)) return Failure(text, picture, "it does not have the picture's form");
                break;
            case Tok::Day:
            case Tok::Month: {
                const int v = in.Digits(2);
                if (v < 0) return Failure(text, picture, "a day or month number is missing");
                (t.tok == Tok::Day ? day : month) = v;
                break;
            }
            case Tok::Year2:
            case Tok::Year4:
            case Tok::YearShort: {
                int count = 0;
                const int width = packed ? (t.tok == Tok::Year4 ? 4 : 2) : 4;
                const int v = in.Digits(width, &count);
                if (v < 0) return Failure(text, picture, "the year is missing");
                // Two digits (or fewer) are a year of the two-digit window.
                year = count <= 2 ? ExpandTwoDigitYear(v) : v;
                break;
            }
            case Tok::MonAbbr:
            case Tok::MonFull:
                month = MonthByName(in.Letters());
                if (month == 0) return Failure(text, picture, "no month has that name");
                break;
            case Tok::DayAbbr:
            case Tok::DayFull:
                if (!IsDayName(in.Letters()))
                    return Failure(text, picture, "no day of the week has that name");
                break;
            default:
                break;
        }
    }
    if (!in.AtEnd()) return Failure(text, picture, "text follows the date");
    if (year < 0 || month < 0) return Failure(text, picture, "it is incomplete");
    const LONG date = year >= 1800 ? MakeDate(year, month, day) : 0;
    if (date == 0) return Failure(text, picture, "it is no valid date");
    out = date;
    return ConvertStatus::Ok();
}

int MarkerOf(const std::string& word, const RegionalSettings& r) {
    const std::string am = Lower(r.s1159), pm = Lower(r.s2359);
    if (!word.empty() && (word == am || (word.size() < am.size() && am.compare(0, word.size(), word) == 0)))
        return 1;
    if (!word.empty() && (word == pm || (word.size() < pm.size() && pm.compare(0, word.size(), word) == 0)))
        return 2;
    return 0;
}

ConvertStatus DeformatTime(std::string_view text, std::string_view picture, const Picture& p, double& out) {
    if (Trim(text).empty()) return out = 0, ConvertStatus::Ok();
    const auto regional = Regional();
    const std::vector<Token> toks = TimeTokens(p, *regional);
    Reader in(text);
    int hours = -1, minutes = -1, seconds = 0, marker = 0;
    for (std::size_t k = 0; k < toks.size(); ++k) {
        const Token& t = toks[k];
        // Seconds and the AM/PM marker may be left out.
        if (minutes >= 0 && in.AtEnd()) break;
        switch (t.tok) {
            case Tok::Lit:
                if (!in.Literal(t.lit)) {
                    // "1:05 PM" under "Hh:mm:ssPP": without seconds, go on with the marker.
                    std::size_t marker_at = k + 1;
                    while (marker_at < toks.size() && toks[marker_at].tok != Tok::AmPm) ++marker_at;
                    if (minutes < 0 || marker_at == toks.size())
                        return Failure(text, picture, "it does not have the picture's form");
                    k = marker_at - 1;
                }
                break;
            case Tok::Hour24:
            case Tok::Hour12:
            case Tok::Minute:
            case Tok::Second: {
                const int v = in.Digits(2);
                if (v < 0) return Failure(text, picture, "a number is missing");
                (t.tok == Tok::Minute ? minutes : t.tok == Tok::Second ? seconds : hours) = v;
                break;
            }
            case Tok::AmPm:
                marker = MarkerOf(in.Letters(), *regional);
                if (marker == 0) return Failure(text, picture, "the AM/PM marker is not known");
                break;
            default:
                break;
        }
    }
    if (!in.AtEnd()) return Failure(text, picture, "text follows the time");
    if (hours < 0 || minutes < 0) return Failure(text, picture, "it is incomplete");
    if (marker != 0) {
        if (hours < 1 || hours > 12) return Failure(text, picture, "a 12-hour clock has hours 1 to 12");
        hours = hours % 12 + (marker == 2 ? 12 : 0);
    }
    if (hours > 23 || minutes > 59 || seconds > 59) return Failure(text, picture, "it is no valid time");
    // A written time is a time: midnight is 1, never "no time".
    out = hours * 360000 + minutes * 6000 + seconds * 100 + 1;
    return ConvertStatus::Ok();
}

std::string FormatText(std::string_view text, int width) {
    const std::size_t n = Utf8CutLength(text, static_cast<std::size_t>(width));
    std::string out(text.substr(0, n));
    out.append(static_cast<std::size_t>(width) - n, ' ');
    return out;
}

std::string FormatValue(double value, const Picture& p) {
    switch (p.kind) {
        case PictureKind::Text:
            return FormatText(PlainNumber(value), p.width);
        case PictureKind::Number:
            return FormatNumber(value, p);
        case PictureKind::Date:
            return FormatDate(value, p);
        case PictureKind::Time:
            return FormatTime(value, p);
        case PictureKind::Pattern:
            return FormatPattern(value, p);
        case PictureKind::Unknown:
            break;
    }
    return PlainNumber(value);
}

}  // namespace

PictureInfo DescribePicture(std::string_view picture) {
    const Picture p = Parse(picture);
    return PictureInfo{p.kind, p.width, p.format, p.blank_when_zero};
}

std::string Format(double value, std::string_view picture) {
    return FormatValue(value, Parse(picture));
}

std::string Format(std::string_view text, std::string_view picture) {
    const Picture p = Parse(picture);
    if (p.kind == PictureKind::Text) return FormatText(text, p.width);
    double v = 0;
    if (p.kind != PictureKind::Unknown && !Trim(text).empty() && ParsePlainNumber(text, v))
        return FormatValue(v, p);
    return std::string(text);
}

ConvertStatus TryDeformat(std::string_view text, std::string_view picture, double& out) {
    const Picture p = Parse(picture);
    switch (p.kind) {
        case PictureKind::Number:
            return DeformatNumber(text, picture, p, out);
        case PictureKind::Date:
            return DeformatDate(text, picture, p, out);
        case PictureKind::Time:
            return DeformatTime(text, picture, p, out);
        case PictureKind::Pattern:
            return DeformatPattern(text, picture, p, out);
        case PictureKind::Text:
        case PictureKind::Unknown:
            break;
    }
    if (!ParsePlainNumber(text, out)) return Failure(text, picture, "it is not a number");
    return ConvertStatus::Ok();
}

ConvertStatus TryDeformat(std::string_view text, std::string_view picture, LONG& out) {
    double v = 0;
    ConvertStatus status = TryDeformat(text, picture, v);
    if (!status) return status;
    const double r = std::round(v);
    if (r < -2147483648.0 || r > 2147483647.0) return Failure(text, picture, "the value is too large");
    out = static_cast<LONG>(r);
    return status;
}

ConvertStatus TryDeformat(std::string_view text, std::string_view picture, std::string& out) {
    const Picture p = Parse(picture);
    if (p.kind == PictureKind::Text) {
        out = std::string(text.substr(0, Utf8CutLength(text, static_cast<std::size_t>(p.width))));
        return ConvertStatus::Ok();
    }
    if (p.kind == PictureKind::Unknown) {
        out = std::string(text);
        return ConvertStatus::Ok();
    }
    double v = 0;
    ConvertStatus status = TryDeformat(text, picture, v);
    if (status) out = PlainNumber(v);
    return status;
}

}  // namespace dt
