#include "data/view.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "data/sql_connection.h"
#include "data/sql_driver.h"
#include "data/sql_text.h"
#include "data/statements.h"
#include "platform/text.h"
#include "runtime/errors.h"
#include "runtime/packed_field.h"
#include "runtime/types.h"

namespace dt {
namespace {

// The first byte of every position: a position is never blank, so a blank position field
// always means "no position".
constexpr char kPositionMark = '\x01';

std::string_view AfterPrefix(std::string_view label) {
    std::size_t colon = label.rfind(':');
    return colon == std::string_view::npos ? label : label.substr(colon + 1);
}

bool IdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

}  // namespace

View::View(File& primary, std::vector<std::string> projection)
    : file_(primary), cols_(BuildColumnMap(primary)) {
    for (const std::string& label : projection) {
        int f = file_.FieldIndex(label);
        if (f >= 0) projection_.push_back(f);
    }
    SetOrder("");
}

int View::ColumnOfLabel(std::string_view label) const {
    label = Trim(label);
    if (label.empty()) return -1;
    const bool prefixed = label.find(':') != std::string_view::npos;
    for (std::size_t i = 0; i < file_.fields.size(); ++i) {
        const Field& fd = file_.fields[i];
        if (!EqualNoCase(prefixed ? std::string_view(fd.label) : AfterPrefix(fd.label), label)) continue;
        // A field of a group laid over a column (the DATE of a timestamp pair) stands for
        // that column.
        int field = static_cast<int>(i);
        for (int g = fd.group; g >= 0; g = file_.fields[static_cast<std::size_t>(g)].group)
            if (file_.fields[static_cast<std::size_t>(g)].over >= 0)
                field = file_.fields[static_cast<std::size_t>(g)].over;
        for (std::size_t c = 0; c < cols_.size(); ++c)
            if (cols_[c].field == field) return static_cast<int>(c);
    }
    return -1;
}

int View::SetOrder(std::string_view order) {
    std::vector<Term> terms;
    std::string_view rest = order;
    while (!Trim(rest).empty()) {
        std::size_t comma = rest.find(',');
        std::string_view part = Trim(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (part.empty()) continue;
        Term t;
        if (part.front() == '-' || part.front() == '+') {
            t.descending = part.front() == '-';
            part = Trim(part.substr(1));
        }
        if (part.size() > 7 && Upper(part.substr(0, 6)) == "UPPER(" && part.back() == ')') {
            t.upper = true;
            part = Trim(part.substr(6, part.size() - 7));
        }
        t.column = ColumnOfLabel(part);
        if (t.column < 0) return SetError(kViewBadOrder);
        if (t.upper && !cols_[static_cast<std::size_t>(t.column)].character()) t.upper = false;
        bool seen = false;
        for (const Term& o : terms) seen = seen || o.column == t.column;
        if (!seen) terms.push_back(t);
    }
    // The primary key (else the first unique key) ends the order, so that rows that agree
    // on every term still have positions of their own: paging never skips nor repeats them.
    const Key* unique = nullptr;
    for (const Key* k : file_.keys)
        if (k->Has(KEY_PRIMARY)) unique = k;
    if (unique == nullptr)
        for (const Key* k : file_.keys)
            if (unique == nullptr && !k->Has(KEY_DUP)) unique = k;
    if (unique != nullptr) {
        for (const KeyComponent& kc : unique->components) {
            int col = -1;
            for (std::size_t c = 0; c < cols_.size(); ++c)
                if (cols_[c].field == kc.field) col = static_cast<int>(c);
            bool seen = col < 0;
            for (const Term& o : terms) seen = seen || o.column == col;
            if (!seen) terms.push_back(Term{col, kc.descending, false});
        }
    }
    if (terms.empty() && !cols_.empty()) {
        // Without any key: every column, in record order.
        for (std::size_t c = 0; c < cols_.size(); ++c)
            terms.push_back(Term{static_cast<int>(c), false, false});
    }
    order_ = std::move(terms);
    order_text_ = std::string(Trim(order));
    rows_.clear();
    cur_ = pending_ = -1;
    anchor_ = Anchor::Start;
    return SetError(0);
}

void View::SetFilter(std::string_view filter) {
    filter_ = std::string(Trim(filter));
    Flush();
}

void View::SetSqlFilter(std::string_view sql) {
    sql_filter_ = std::string(Clip(sql));
    Flush();
}

int View::SetProperty(long prop, std::string_view value) {
    switch (prop) {
        case PROP_ViewOrder:
            return SetOrder(value);
        case PROP_ViewFilter:
            SetFilter(value);
            return SetError(0);
        case PROP_SQLFilter:
            SetSqlFilter(value);
            return SetError(0);
        default:
            return SetError(0);
    }
}

std::string View::GetProperty(long prop) const {
    switch (prop) {
        case PROP_ViewOrder:
            return order_text_;
        case PROP_ViewFilter:
            return filter_;
        case PROP_SQLFilter:
            return sql_filter_;
        default:
            return "";
    }
}

int View::Buffer(long page_size, long behind, long ahead, long timeout) {
    if (page_size > 0) page_size_ = std::min<long>(page_size, 10000);
    behind_ = std::max<long>(behind, 0);
    ahead_ = std::max<long>(ahead, 0);
    timeout_ = std::max<long>(timeout, 0);
    return SetError(0);
}

std::string View::TermText(const Term& t) const {
    const std::string& name = cols_[static_cast<std::size_t>(t.column)].name;
    return t.upper ? "UPPER(" + name + ")" : name;
}

std::string View::ValueText(const Term& t, const char* record) const {
    const Column& c = cols_[static_cast<std::size_t>(t.column)];
    std::string text;
    if (c.timestamp) {
        // The canonical text the driver writes timestamps with (hundredths included), so
        // that a server that keeps it as text compares equal values as equal.
        const DATE d = LoadField<DATE>(record + c.offset);
        const TIME tm = LoadField<TIME>(record + c.offset + 4);
        if (d.IsZero()) return "NULL";
        char buf[48];
        std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d %02d:%02d:%02d.%02d'", d.year, d.month, d.day,
                      tm.hours, tm.minutes, tm.seconds, tm.hundredths);
        text = buf;
    } else {
        text = Literal(c, record, false);
    }
    return t.upper ? "UPPER(" + text + ")" : text;
}

// k1 >= v1 AND ( k1 > v1 OR ( k2 >= v2 AND ( ... kn >= vn ) ) ), the operators mirrored
// for descending terms and for reading backwards; the last one strict when the row at
// the position itself is not wanted.
std::string View::PositionCondition(const char* record, bool forward, bool inclusive) const {
    const std::size_t n = order_.size();
    std::string out = " (";
    for (std::size_t i = 0; i < n; ++i) {
        const Term& t = order_[i];
        const bool up = forward != t.descending;
        const std::string term = TermText(t), value = ValueText(t, record);
        const bool last = i + 1 == n;
        const char* first_op = up ? (last && !inclusive ? ">" : ">=") : (last && !inclusive ? "<" : "<=");
        out += term + " " + first_op + " " + value;
        if (!last) out += " AND (" + term + " " + (up ? ">" : "<") + " " + value + " OR (";
    }
    for (std::size_t i = 0; i < 1 + 2 * (n - 1); ++i) out += " )";
    return out;
}

std::string View::OrderBy(bool forward) const {
    std::string out;
    for (std::size_t i = 0; i < order_.size(); ++i) {
        if (i) out += ',';
        out += TermText(order_[i]);
        if (forward == order_[i].descending) out += " DESC";
    }
    return out;
}

std::string View::Condition() const {
    // The view's filter with its field labels written as column names; quoted text is kept.
    std::string derived;
    for (std::size_t i = 0; i < filter_.size();) {
        char c = filter_[i];
        if (c == '\'') {
            std::size_t end = i + 1;
            while (end < filter_.size()) {
                if (filter_[end] == '\'') {
                    if (end + 1 < filter_.size() && filter_[end + 1] == '\'') {
                        end += 2;
                        continue;
                    }
                    break;
                }
                ++end;
            }
            derived += filter_.substr(i, end + 1 - i);
            i = end + 1;
            continue;
        }
        if (IdentStart(c) && (i == 0 || !IdentChar(filter_[i - 1]))) {
            std::size_t end = i;
            while (end < filter_.size() && IdentChar(filter_[end])) ++end;
            if (end + 1 < filter_.size() && filter_[end] == ':' && IdentStart(filter_[end + 1])) {
                std::size_t e2 = end + 1;
                while (e2 < filter_.size() && IdentChar(filter_[e2])) ++e2;
                int col = ColumnOfLabel(std::string_view(filter_).substr(i, e2 - i));
                derived += col >= 0 ? cols_[static_cast<std::size_t>(col)].name : filter_.substr(i, e2 - i);
                i = e2;
                continue;
            }
            derived += filter_.substr(i, end - i);
            i = end;
            continue;
        }
        derived += c;
        ++i;
    }
    if (sql_filter_.empty()) return derived;
    if (sql_filter_.front() != '+') return sql_filter_;
    std::string added(Trim(std::string_view(sql_filter_).substr(1)));
    if (added.empty()) return derived;
    if (derived.empty()) return added;
    return "(" + derived + ") AND (" + added + ")";
}

std::string View::BuildSelect(const char* from, bool forward, bool inclusive, long rows) const {
    const bool top = kind_ == KIND_SQLSERVER || kind_ == KIND_SQLSERVER6 || kind_ == KIND_SQLSERVER_OLD;
    const bool limit = std::string_view(RulesFor(kind_).limit_prefix).rfind(" LIMIT", 0) == 0;
    std::string s = "SELECT ";
    if (top && rows > 0) s += "TOP " + std::to_string(rows) + " ";
    s += ColumnList(cols_) + " FROM " + file_.ExternalName() + " ";
    const std::string condition = Condition();
    const std::string where = dt::GetProperty(file_, PROP_Where);
    if (from != nullptr || !condition.empty() || !where.empty()) s += "WHERE";
    bool before = false;
    if (from != nullptr) {
        s += PositionCondition(from, forward, inclusive);
        before = true;
    }
    if (!condition.empty()) {
        s += (before ? " AND (" : " (") + condition + " )";
        before = true;
    }
    if (!where.empty()) s += before ? " AND (" + where + " )" : " " + where;
    s += " ORDER BY " + OrderBy(forward);
    if (limit && rows > 0) s += " LIMIT " + std::to_string(rows);
    return s;
}

int View::FetchPage(const char* from, bool forward, bool inclusive, std::vector<std::string>& out) {
    const long rows = page_size_ * (1 + ahead_);
    last_sql_ = BuildSelect(from, forward, inclusive, rows);
    ++statements_;
    // The driver fetches the page as one block of rows.
    dt::Buffer(file_, rows);
    int rc = dt::SetProperty(file_, PROP_SQL, last_sql_);
    for (long i = 0; rc == 0 && i < rows; ++i) {
        rc = dt::Next(file_);
        if (rc == 0) out.emplace_back(file_.Record(), file_.record_length);
    }
    if (rc == 33) rc = 0;
    // Any other operation ends the pass-through result set: the server's statement is
    // closed at once rather than held open between pages.
    const int keep = rc;
    const std::string keep_state = FileErrorCode(), keep_text = FileError();
    dt::Buffer(file_, rows);
    if (keep != 0) return SetErrorState(keep, keep_state, keep_text);
    return SetError(0);
}

std::string View::PositionOf(const char* record) const {
    std::string p(1, kPositionMark);
    for (const Term& t : order_) {
        const Column& c = cols_[static_cast<std::size_t>(t.column)];
        std::string bytes(record + c.offset, c.size);
        if (c.type == FT_CSTRING) {
            // What follows the terminator is not part of the value.
            std::size_t len = ::strnlen(bytes.data(), bytes.size());
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(len), bytes.end(), '\0');
        }
        p += bytes;
    }
    return p;
}

bool View::DecodePosition(std::string_view position, std::string& record) const {
    std::size_t len = 1;
    for (const Term& t : order_) len += cols_[static_cast<std::size_t>(t.column)].size;
    if (position.size() < len || position.front() != kPositionMark) return false;
    if (!Clip(position.substr(len)).empty()) return false;
    record.assign(file_.Record(), file_.record_length);
    std::size_t at = 1;
    for (const Term& t : order_) {
        const Column& c = cols_[static_cast<std::size_t>(t.column)];
        std::memcpy(record.data() + c.offset, position.data() + at, c.size);
        at += c.size;
    }
    return true;
}

std::string View::Position() const {
    if (cur_ < 0 || static_cast<std::size_t>(cur_) >= rows_.size()) return "";
    return PositionOf(rows_[static_cast<std::size_t>(cur_)].data());
}

std::string View::PositionOfRecord() const {
    return PositionOf(file_.Record());
}

std::string View::LocatePosition(std::string_view label, std::string_view text) const {
    const int col = ColumnOfLabel(label);
    if (order_.empty() || col < 0 || order_.front().column != col) return "";
    const Column& c = cols_[static_cast<std::size_t>(col)];
    if (!c.character()) return "";
    // Every other order value at its lowest (zero bytes), the field holding the text.
    std::string record(file_.record_length, '\0');
    std::string_view v = text.substr(0, c.type == FT_CSTRING ? c.size - 1 : c.size);
    std::memcpy(record.data() + c.offset, v.data(), v.size());
    if (c.type == FT_STRING) std::memset(record.data() + c.offset + v.size(), ' ', c.size - v.size());
    return PositionOf(record.data());
}

std::string View::ValueLiteral(std::string_view label, const void* value) const {
    const int col = ColumnOfLabel(label);
    if (col < 0) return "";
    const Column& c = cols_[static_cast<std::size_t>(col)];
    std::string record(file_.record_length, '\0');
    std::memcpy(record.data() + c.offset, value, c.size);
    return ValueText(Term{col, false, false}, record.data());
}

int View::Open(int mode) {
    (void)mode;  // every view here reads; the table's own mode decides about writes
    open_ = false;
    const std::string kind = dt::GetProperty(file_, PROP_ServerKind);
    if (kind.empty()) return SetError(kViewNotOpen);
    kind_ = std::atoi(kind.c_str());
    if (order_.empty()) return SetError(kViewBadOrder);
    const std::string condition = Condition();
    if (!condition.empty()) {
        // The server checks the condition once, on a statement that returns no row.
        last_sql_ = "SELECT " + ColumnList(cols_) + " FROM " + file_.ExternalName() + " WHERE 0 = 1 AND (" +
                    condition + " )";
        ++statements_;
        int rc = dt::SetProperty(file_, PROP_SQL, last_sql_);
        const std::string state = FileErrorCode(), text = FileError();
        dt::Buffer(file_, page_size_);
        if (rc != 0) return SetErrorState(rc, state, text);
    }
    open_ = true;
    Set();
    return SetError(0);
}

int View::Close() {
    open_ = false;
    rows_.clear();
    cur_ = pending_ = -1;
    anchor_ = Anchor::Start;
    return SetError(0);
}

int View::Set() {
    rows_.clear();
    cur_ = pending_ = -1;
    anchor_ = Anchor::Start;
    return SetError(0);
}

int View::Reset(std::string_view position) {
    if (Clip(position).empty()) return Set();
    std::string record;
    if (!DecodePosition(position, record)) return SetError(kViewBadPosition);
    std::size_t len = 1;
    for (const Term& t : order_) len += cols_[static_cast<std::size_t>(t.column)].size;
    const std::string_view exact = position.substr(0, len);
    if (anchor_ == Anchor::None && !Expired()) {
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (PositionOf(rows_[i].data()) == exact) {
                pending_ = static_cast<long>(i);
                return SetError(0);
            }
        }
    }
    rows_.clear();
    cur_ = pending_ = -1;
    anchor_ = Anchor::Position;
    anchor_record_ = std::move(record);
    return SetError(0);
}

void View::Flush() {
    if (anchor_ != Anchor::None) {
        rows_.clear();
        return;
    }
    long keep = pending_ >= 0 ? pending_ : cur_;
    if (keep < 0 || static_cast<std::size_t>(keep) >= rows_.size()) {
        rows_.clear();
        cur_ = pending_ = -1;
        anchor_ = Anchor::Start;
        return;
    }
    std::string row = std::move(rows_[static_cast<std::size_t>(keep)]);
    rows_.clear();
    rows_.push_back(std::move(row));
    if (pending_ >= 0) pending_ = 0;
    cur_ = 0;
    top_known_ = bottom_known_ = false;
}

bool View::Expired() const {
    return timeout_ > 0 && std::chrono::steady_clock::now() - filled_at_ > std::chrono::seconds(timeout_);
}

int View::Serve(std::size_t index) {
    std::memcpy(file_.Record(), rows_[index].data(), std::min(rows_[index].size(), file_.record_length));
    return SetError(0);
}

int View::Read(bool forward) {
    if (!open_) return SetError(kViewNotOpen);
    const long limit = page_size_ * (1 + ahead_);
    if (pending_ >= 0) {
        cur_ = pending_;
        pending_ = -1;
        anchor_ = Anchor::None;
        return Serve(static_cast<std::size_t>(cur_));
    }
    std::vector<std::string> page;
    if (anchor_ != Anchor::None) {
        if (anchor_ == Anchor::End && forward) return SetError(33);
        const char* from = anchor_ == Anchor::Position ? anchor_record_.data() : nullptr;
        if (int rc = FetchPage(from, forward, true, page); rc != 0) return rc;
        if (page.empty()) {
            if (anchor_ == Anchor::Start && forward) anchor_ = Anchor::End;
            return SetError(33);
        }
        filled_at_ = std::chrono::steady_clock::now();
        const bool short_page = static_cast<long>(page.size()) < limit;
        if (forward) {
            top_known_ = anchor_ == Anchor::Start;
            bottom_known_ = short_page;
            rows_.assign(page.begin(), page.end());
            cur_ = 0;
        } else {
            bottom_known_ = anchor_ == Anchor::Start || anchor_ == Anchor::End;
            top_known_ = short_page;
            rows_.assign(page.rbegin(), page.rend());
            cur_ = static_cast<long>(rows_.size()) - 1;
        }
        anchor_ = Anchor::None;
        return Serve(static_cast<std::size_t>(cur_));
    }
    if (rows_.empty() || cur_ < 0) {
        anchor_ = Anchor::Start;
        return Read(forward);
    }
    if (Expired()) {
        // Pages older than the time-out are read again from the server.
        std::string row = std::move(rows_[static_cast<std::size_t>(cur_)]);
        rows_.clear();
        rows_.push_back(std::move(row));
        cur_ = 0;
        top_known_ = bottom_known_ = false;
    }
    const long keep_behind = behind_ * page_size_;
    if (forward) {
        if (static_cast<std::size_t>(cur_ + 1) < rows_.size()) return Serve(static_cast<std::size_t>(++cur_));
        if (bottom_known_) return SetError(33);
        if (int rc = FetchPage(rows_.back().data(), true, false, page); rc != 0) return rc;
        filled_at_ = std::chrono::steady_clock::now();
        if (static_cast<long>(page.size()) < limit) bottom_known_ = true;
        if (page.empty()) return SetError(33);
        for (std::string& r : page) rows_.push_back(std::move(r));
        ++cur_;
        while (cur_ > keep_behind) {
            rows_.pop_front();
            --cur_;
            top_known_ = false;
        }
    } else {
        if (cur_ > 0) return Serve(static_cast<std::size_t>(--cur_));
        if (top_known_) return SetError(33);
        if (int rc = FetchPage(rows_.front().data(), false, false, page); rc != 0) return rc;
        filled_at_ = std::chrono::steady_clock::now();
        if (static_cast<long>(page.size()) < limit) top_known_ = true;
        if (page.empty()) return SetError(33);
        for (std::string& r : page) rows_.push_front(std::move(r));
        cur_ += static_cast<long>(page.size()) - 1;
        while (static_cast<long>(rows_.size()) - 1 - cur_ > keep_behind) {
            rows_.pop_back();
            bottom_known_ = false;
        }
    }
    return Serve(static_cast<std::size_t>(cur_));
}

int View::Next() {
    return Read(true);
}

int View::Previous() {
    return Read(false);
}

}  // namespace dt
