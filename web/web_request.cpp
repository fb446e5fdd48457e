#include "web/web_request.h"

#include <arpa/inet.h>

#include <charconv>

#include "app/row_format.h"

namespace dt::web {
namespace {

// A whole number of digits only (no sign, no blanks) within [0, max].
bool ParseCount(std::string_view text, std::int64_t max, std::int64_t& out) {
    if (text.empty() || text.size() > 19) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v > max) return false;
    out = v;
    return true;
}

bool HasControl(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

const char* ColumnSql(SortColumn c) {
    switch (c) {
        case SortColumn::Name:
            return "Name";
        case SortColumn::Ext:
            return "Extension";
        case SortColumn::Dir:
            return "Dir";
        case SortColumn::Date:
            return "Date";
        case SortColumn::Size:
            return "Size";
        case SortColumn::Computer:
            // The computer's name, not its row number, so the order is the one shown.
            return "(select c.Name from COMPUTER c where c.SysCOMPUTER = FILES.SysCOMPUTER)";
    }
    return "Name";
}

void AppendTwo(std::string& out, int v) {
    out += static_cast<char>('0' + v / 10 % 10);
    out += static_cast<char>('0' + v % 10);
}

}  // namespace

bool ParseNoParams(const Params& params, std::string& error) {
    if (params.empty()) return true;
    const std::string& name = params.begin()->first;
    if (name == "token" || name == "access_token")
        error = "a token is never accepted in the address; send it as Authorization: Bearer";
    else
        error = "unknown parameter: " + ValidUtf8(name);
    return false;
}

bool ParseSearch(const Params& params, WebSearch& out, std::string& error) {
    out = WebSearch{};
    std::int64_t kb_from = 0, kb_to = 0;
    std::map<std::string, int> seen;
    for (const auto& [name, value] : params) {
        if (name != "computer" && ++seen[name] > 1) {
            error = "the parameter " + ValidUtf8(name) + " is given more than once";
            return false;
        }
        if (name == "q") {
            if (value.size() > kMaxWords) {
                error = "q: the search words are longer than " + std::to_string(kMaxWords) + " bytes";
                return false;
            }
            if (HasControl(value)) {
                error = "q: control characters are not allowed";
                return false;
            }
            out.request.filter = value;
        } else if (name == "ext") {
            if (value.size() > kMaxExtension) {
                error = "ext: the extension is longer than " + std::to_string(kMaxExtension) + " bytes";
                return false;
            }
            if (HasControl(value)) {
                error = "ext: control characters are not allowed";
                return false;
            }
            out.request.extension = value;
        } else if (name == "from_kb" || name == "to_kb") {
            std::int64_t& kb = name == "from_kb" ? kb_from : kb_to;
            // The desktop's entries hold a LONG of kilobytes.
            if (!value.empty() && !ParseCount(value, 2147483647, kb)) {
                error = name + ": not a number of kilobytes from 0 to 2147483647";
                return false;
            }
        } else if (name == "computer") {
            if (value.empty() || value.size() > 40 || HasControl(value)) {
                error = "computer: not a computer name";
                return false;
            }
            out.computers.push_back(value);
        } else if (name == "dir") {
            if (value != "0" && value != "1") {
                error = "dir: 0 or 1";
                return false;
            }
            out.request.search_dir = value == "1";
        } else if (name == "limit") {
            std::int64_t v = 0;
            if (!ParseCount(value, kMaxLimit, v) || v < 1) {
                error = "limit: a number from 1 to " + std::to_string(kMaxLimit);
                return false;
            }
            out.limit = static_cast<int>(v);
        } else if (name == "offset") {
            if (!ParseCount(value, kMaxOffset, out.offset)) {
                error = "offset: a number from 0 to " + std::to_string(kMaxOffset);
                return false;
            }
        } else if (name == "sort") {
            std::string_view s = value;
            out.descending = !s.empty() && s.front() == '-';
            if (out.descending) s.remove_prefix(1);
            static const std::pair<std::string_view, SortColumn> kColumns[] = {
                {"name", SortColumn::Name}, {"ext", SortColumn::Ext},   {"dir", SortColumn::Dir},
                {"date", SortColumn::Date}, {"size", SortColumn::Size}, {"computer", SortColumn::Computer},
            };
            bool known = false;
            for (const auto& [word, column] : kColumns)
                if (s == word) {
                    out.sort = column;
                    known = true;
                }
            if (!known) {
                error = "sort: one of name, ext, dir, date, size, computer, with - for descending";
                return false;
            }
        } else {
            Params one{{name, value}};
            return ParseNoParams(one, error);
        }
    }
    if (IsEmptyRequest(out.request.filter, out.request.extension, static_cast<long>(kb_from),
                       static_cast<long>(kb_to))) {
        error = "please enter a search expression";
        return false;
    }
    out.request.size_from = KilobytesToBytes(static_cast<long>(kb_from));
    out.request.size_to = KilobytesToBytes(static_cast<long>(kb_to));
    return true;
}

std::string SearchCondition(const WebSearch& search, const std::vector<ULONG>& computer_ids,
                            const Dialect& dialect) {
    SearchRequest request = search.request;
    request.computer = computer_ids.size() == 1 ? computer_ids.front() : 0;
    std::string condition = BuildSearchCondition(request, dialect);
    if (computer_ids.size() > 1) {
        condition += " and SysCOMPUTER in (";
        for (std::size_t i = 0; i < computer_ids.size(); ++i)
            condition += (i ? "," : "") + std::to_string(computer_ids[i]);
        condition += ")";
    }
    return condition;
}

std::string PageStatement(const WebSearch& search, const std::string& condition, const Dialect& dialect) {
    const char* dir = search.descending ? " desc" : "";
    // The row number breaks ties, so consecutive pages neither repeat nor skip a row.
    std::string s = "select * from FILES where " + condition + " order by " + ColumnSql(search.sort) + dir +
                    ", SysFILES" + dir;
    if (dialect.kind == ServerKind::SqlServer)
        s += " offset " + std::to_string(search.offset) + " rows fetch next " + std::to_string(search.limit) +
             " rows only";
    else
        s += " limit " + std::to_string(search.limit) + " offset " + std::to_string(search.offset);
    return s;
}

std::string CountStatement(const std::string& condition, const Dialect& dialect) {
    const std::string cap = std::to_string(kCountCap + 1);
    if (dialect.kind == ServerKind::SqlServer)
        return "select count(*) from (select top " + cap + " SysFILES from FILES where " + condition + ") t";
    return "select count(*) from (select SysFILES from FILES where " + condition + " limit " + cap + ") t";
}

std::string EstimateStatement(const Dialect& dialect) {
    switch (dialect.kind) {
        case ServerKind::PostgreSQL:
            // The planner's figure; -1 until the table was first analysed, then the
            // highest row number stands in.
            return "select case when c.reltuples >= 0 then cast(c.reltuples as bigint) else "
                   "(select coalesce(max(SysFILES), 0) from FILES) end from pg_class c "
                   "where c.relname = 'files' and c.relkind in ('r', 'p') limit 1";
        case ServerKind::SqlServer:
            return "select sum(p.rows) from sys.partitions p where p.object_id = object_id('FILES') "
                   "and p.index_id in (0, 1)";
        case ServerKind::Embedded:
            break;
    }
    // Row numbers are handed out in order: the highest is the rows ever stored.
    return "select coalesce(max(SysFILES), 0) from FILES";
}

std::string ValidUtf8(std::string_view text, bool* changed) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
        if (c < 0x80)
            len = 1;
        else if (c >= 0xC2 && c <= 0xDF)
            len = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;  // no overlong forms
            if (c == 0xED) hi = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
        }
        bool ok = len > 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            const unsigned char b = p[i + k];
            ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
        }
        if (ok) {
            out.append(text.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            if (changed != nullptr) *changed = true;
            ++i;
        }
    }
    return out;
}

std::string Base64(std::string_view bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string DateText(const DATE& d) {
    if (d.IsZero()) return "";
    std::string out = std::to_string(d.year);
    if (out.size() < 4) out.insert(0, 4 - out.size(), '0');
    out += '-';
    AppendTwo(out, d.month);
    out += '-';
    AppendTwo(out, d.day);
    return out;
}

std::string TimeText(const TIME& t) {
    if (t.IsZero()) return "";
    std::string out;
    AppendTwo(out, t.hours);
    out += ':';
    AppendTwo(out, t.minutes);
    out += ':';
    AppendTwo(out, t.seconds);
    return out;
}

nlohmann::json HitJson(const Hit& hit) {
    // The row format dtfind writes (--format json), so scripts read both alike.
    HitRow row;
    row.computer = hit.computer;
    row.dir = hit.dir;
    row.name = hit.name;
    row.extension = hit.extension;
    row.size = hit.size;
    row.date = dt::DateText(hit.date);
    row.time = dt::TimeText(hit.time);
    return nlohmann::json::parse(RowJson(row));
}

std::string ErrorBody(std::string_view message) {
    nlohmann::json j;
    j["error"] = ValidUtf8(message);
    return j.dump();
}

// The first byte of the IPv4 loopback network 127.0.0.0/8.
constexpr unsigned kLoopbackNet = 127;

bool IsLoopback(std::string_view address) {
    std::string a(address);
    in_addr v4{};
    if (inet_pton(AF_INET, a.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == kLoopbackNet;
    in6_addr v6{};
    if (inet_pton(AF_INET6, a.c_str(), &v6) != 1) return false;
    static const unsigned char kLoop[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    if (std::equal(v6.s6_addr, v6.s6_addr + 16, kLoop)) return true;
    static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::equal(v6.s6_addr, v6.s6_addr + 12, kMapped) && v6.s6_addr[12] == kLoopbackNet;
}

bool ParseListen(std::string_view text, std::string& host, int& port) {
    std::string_view h, p;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        h = text.substr(1, close - 1);
        p = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) return false;
        h = text.substr(0, colon);
        p = text.substr(colon + 1);
        if (h.find(':') != std::string_view::npos) return false;  // IPv6 needs brackets
    }
    std::int64_t v = 0;
    if (h.empty() || !ParseCount(p, 65535, v)) return false;  // port 0: any free port
    std::string hs(h);
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, hs.c_str(), &v4) != 1 && inet_pton(AF_INET6, hs.c_str(), &v6) != 1) return false;
    host = hs;
    port = static_cast<int>(v);
    return true;
}

bool RateLimiter::Allow(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    // Forget idle addresses now and then, so the table cannot grow without bound.
    if (windows_.size() > 10000) {
        for (auto it = windows_.begin(); it != windows_.end();)
            it = now - it->second.start >= std::chrono::seconds(1) ? windows_.erase(it) : std::next(it);
    }
    Window& w = windows_[address];
    if (w.count == 0 || now - w.start >= std::chrono::seconds(1)) {
        w.start = now;
        w.count = 0;
    }
    return ++w.count <= per_second_;
}

}  // namespace dt::web
