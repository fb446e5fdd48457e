#include "data/sql_text.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "runtime/errors.h"
#include "runtime/packed_field.h"
#include "runtime/types.h"

namespace dt {
namespace {

bool InOverGroup(const File& f, const Field& fd) {
    for (int g = fd.group; g >= 0; g = f.fields[static_cast<std::size_t>(g)].group)
        if (f.fields[static_cast<std::size_t>(g)].over >= 0) return true;
    return false;
}

bool IsTimestampPair(const File& f, int index) {
    const Field& s = f.fields[static_cast<std::size_t>(index)];
    if (s.type != FT_STRING || s.size != 8) return false;
    for (std::size_t g = 0; g < f.fields.size(); ++g) {
        const Field& gf = f.fields[g];
        if (gf.type != FT_GROUP || gf.over != index) continue;
        bool date = false, time = false;
        for (const Field& m : f.fields) {
            if (m.group != static_cast<int>(g)) continue;
            if (m.type == FT_DATE && m.offset == s.offset) date = true;
            if (m.type == FT_TIME && m.offset == s.offset + 4) time = true;
        }
        if (date && time) return true;
    }
    return false;
}

bool IsNull(const ValueSource& v, int field, bool saved) {
    const std::vector<std::int32_t>* n = saved ? v.saved_nulls : v.nulls;
    return n != nullptr && field >= 0 && static_cast<std::size_t>(field) < n->size() &&
           (*n)[static_cast<std::size_t>(field)] == -1;
}

// The value text of column `ci`: "?" with a parameter, or a literal.
std::string Value(const std::vector<Column>& cols, int ci, const ValueSource& v, bool saved, Statement& st,
                  bool upper) {
    const Column& c = cols[static_cast<std::size_t>(ci)];
    std::string text;
    if (v.literals) {
        text = Literal(c, saved ? v.saved : v.record, IsNull(v, c.field, saved));
    } else {
        text = "?";
        st.params.push_back(Piece{ci, saved});
    }
    return upper ? "UPPER(" + text + ")" : text;
}

// " K1 = ? AND K2 IS NULL " over the key components.
void KeyCondition(const std::vector<Column>& cols, const KeyTexts& kt, const ValueSource& v, bool saved,
                  Statement& st, bool skip_nowhere) {
    bool first = true;
    for (std::size_t i = 0; i < kt.columns.size(); ++i) {
        const Column& c = cols[static_cast<std::size_t>(kt.columns[i])];
        if (skip_nowhere && c.nowhere) continue;
        if (!first) st.text += " AND ";
        first = false;
        if (IsNull(v, c.field, saved)) {
            st.text += c.name + " IS NULL ";
        } else {
            bool upper = kt.terms[i] != c.name;
            st.text += kt.terms[i] + " = " + Value(cols, kt.columns[i], v, saved, st, upper);
        }
    }
}

}  // namespace

bool ColumnChanged(const Column& c, const char* a, const char* b) {
    const char* pa = a + c.offset;
    const char* pb = b + c.offset;
    if (c.type == FT_CSTRING)
        return TextField(TextLayout::Terminated, pa, c.size) != TextField(TextLayout::Terminated, pb, c.size);
    return std::memcmp(pa, pb, c.size) != 0;
}

void ApplyColumnOptions(std::string_view options, Column& c) {
    while (!options.empty()) {
        std::size_t bar = options.find('|');
        std::string opt = Upper(Trim(options.substr(0, bar)));
        options = bar == std::string_view::npos ? std::string_view() : options.substr(bar + 1);
        if (opt == "BINARY")
            c.binary = true;
        else if (opt == "NOWHERE")
            c.nowhere = c.nowhere_set = true;
        else if (opt == "READONLY")
            c.mark = 2;
        else if (opt == "WRITABLE")
            c.mark = 1;
        else if (opt == "ZERONOTNULL")
            c.zeronotnull = true;
    }
}

std::vector<Column> BuildColumnMap(const File& f) {
    std::vector<Column> cols;
    for (std::size_t i = 0; i < f.fields.size(); ++i) {
        const Field& fd = f.fields[i];
        if (fd.type == FT_GROUP || fd.over >= 0 || InOverGroup(f, fd)) continue;
        Column c;
        c.field = static_cast<int>(i);
        c.type = fd.type;
        c.offset = fd.offset;
        c.size = fd.size;
        std::string_view ext = fd.name;
        std::size_t bar = ext.find('|');
        std::string_view base = Trim(ext.substr(0, bar));
        if (bar != std::string_view::npos) ApplyColumnOptions(ext.substr(bar + 1), c);
        if (!base.empty()) {
            c.name = base;
        } else {
            std::size_t colon = fd.label.rfind(':');
            c.name = colon == std::string::npos ? fd.label : fd.label.substr(colon + 1);
        }
        c.timestamp = IsTimestampPair(f, static_cast<int>(i));
        cols.push_back(std::move(c));
    }
    return cols;
}

std::string ColumnList(const std::vector<Column>& cols) {
    std::string out;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        if (i) out += ',';
        out += cols[i].name;
    }
    return out;
}

namespace {

std::string DecimalText(const Column& c, const char* p, int digits, int places) {
    // Packed decimal: DECIMAL keeps the sign in the first nibble and the digits after it;
    // PDECIMAL keeps the digits first and the sign (0xD negative) in the last nibble.
    std::string d;
    bool negative = false;
    std::size_t nibbles = static_cast<std::size_t>(c.size) * 2;
    for (std::size_t n = 0; n < nibbles; ++n) {
        unsigned char b = static_cast<unsigned char>(p[n / 2]);
        int nib = (n % 2 == 0) ? (b >> 4) : (b & 0x0F);
        bool sign_nibble = c.type == FT_DECIMAL ? n == 0 : n == nibbles - 1;
        if (sign_nibble) {
            negative = c.type == FT_DECIMAL ? nib != 0 : nib == 0x0D;
            continue;
        }
        d += static_cast<char>('0' + (nib > 9 ? 0 : nib));
    }
    if (digits > 0 && static_cast<std::size_t>(digits) < d.size())
        d = d.substr(d.size() - static_cast<std::size_t>(digits));
    std::string intpart = d.substr(0, d.size() - static_cast<std::size_t>(places));
    std::string frac = d.substr(d.size() - static_cast<std::size_t>(places));
    std::size_t nz = intpart.find_first_not_of('0');
    intpart = nz == std::string::npos ? "0" : intpart.substr(nz);
    std::string out = (negative ? "-" : "") + intpart;
    if (places > 0) out += "." + frac;
    return out;
}

}  // namespace

std::string DecimalToText(const Column& c, const char* record, int digits, int places) {
    return DecimalText(c, record + c.offset, digits, places);
}

std::string Literal(const Column& c, const char* record, bool is_null) {
    if (is_null) return "NULL";
    const char* p = record + c.offset;
    char buf[96];
    if (c.timestamp) {
        DATE d = LoadField<DATE>(p);
        TIME t = LoadField<TIME>(p + 4);
        if (d.IsZero()) return "NULL";
        std::snprintf(buf, sizeof buf, "{ts '%.2ld-%.2ld-%.2ld %02d:%02d:%02d'}", static_cast<long>(d.year),
                      static_cast<long>(d.month), static_cast<long>(d.day), t.hours, t.minutes, t.seconds);
        return buf;
    }
    if (long long n = 0; LoadIntegerField(c.type, p, n)) return std::to_string(n);
    if (double x = 0; LoadRealField(c.type, p, x)) {
        // Enough digits to read back the same float or double.
        std::snprintf(buf, sizeof buf, "%.*g", c.type == FT_SREAL ? 9 : 17, x);
        return buf;
    }
    switch (c.type) {
        case FT_STRING:
        case FT_CSTRING:
        case FT_PSTRING: {
            std::string_view v = TextField(TextLayoutOf(c.type), p, c.size);
            if (c.type == FT_STRING && !c.binary) v = Clip(v);
            std::string out = "'";
            for (char ch : v) {
                out += ch;
                if (ch == '\'') out += '\'';
            }
            return out + "'";
        }
        case FT_DATE: {
            DATE d = LoadField<DATE>(p);
            if (d.IsZero()) return "NULL";
            std::snprintf(buf, sizeof buf, "{d '%ld-%.2ld-%.2ld'}", static_cast<long>(d.year),
                          static_cast<long>(d.month), static_cast<long>(d.day));
            return buf;
        }
        case FT_TIME: {
            TIME t = LoadField<TIME>(p);
            if (t.IsZero()) return "NULL";
            std::snprintf(buf, sizeof buf, "{t '%02d:%02d:%02d'}", t.hours, t.minutes, t.seconds);
            return buf;
        }
        default:
            return "NULL";
    }
}

KeyTexts BuildKeyTexts(const File& f, const Key& k, const std::vector<Column>& cols, bool upper_nocase) {
    KeyTexts kt;
    std::size_t n = k.components.size();
    for (std::size_t i = 0; i < n; ++i) {
        const KeyComponent& comp = k.components[i];
        int ci = -1;
        for (std::size_t j = 0; j < cols.size(); ++j)
            if (cols[j].field == comp.field) ci = static_cast<int>(j);
        if (ci < 0 || comp.field < 0 || f.fields[static_cast<std::size_t>(comp.field)].type == FT_GROUP) {
            kt.usable = false;
            ci = 0;
        }
        kt.columns.push_back(ci);
        kt.descending.push_back(comp.descending);
        const Column* c = cols.empty() ? nullptr : &cols[static_cast<std::size_t>(ci)];
        std::string name = c ? c->name : std::string();
        bool upper = upper_nocase && k.Has(KEY_NOCASE) && c && c->character() && !c->binary;
        kt.terms.push_back(upper ? "UPPER(" + name + ")" : name);
    }
    if (!kt.usable || n == 0) {
        kt.usable = kt.usable && n > 0;
        return kt;
    }
    for (std::size_t i = 0; i < n; ++i) {
        bool last = i + 1 == n;
        const std::string& t = kt.terms[i];
        bool d = kt.descending[i];
        kt.order_forward += t + (d ? (last ? " DESC " : " DESC,") : (last ? " " : ","));
        kt.order_backward += t + (!d ? (last ? " DESC " : " DESC,") : (last ? " " : ","));
        kt.ops_forward.push_back(d ? "<=" : ">=");
        kt.ops_backward.push_back(d ? ">=" : "<=");
        if (!last) {
            kt.ops_forward.push_back(d ? "<" : ">");
            kt.ops_backward.push_back(d ? ">" : "<");
        }
    }
    // The template keeps "%s" in the operator slots.
    std::string tmpl;
    std::size_t opens = 1 + 2 * (n - 1);
    tmpl = " (";
    for (std::size_t i = 0; i < n; ++i) {
        std::string v = kt.terms[i] != cols[static_cast<std::size_t>(kt.columns[i])].name ? "UPPER(?)" : "?";
        tmpl += kt.terms[i] + " %s " + v;
        if (i + 1 < n) tmpl += " AND (" + kt.terms[i] + " %s " + v + " OR (";
    }
    for (std::size_t i = 0; i < opens; ++i) tmpl += " )";
    kt.position_template = tmpl;
    return kt;
}

Statement PositionCondition(const KeyTexts& kt, bool forward, const std::vector<Column>& cols,
                            const ValueSource& v) {
    Statement st;
    const std::vector<const char*>& ops = forward ? kt.ops_forward : kt.ops_backward;
    std::size_t n = kt.columns.size();
    if (!kt.usable || n == 0) return st;
    std::size_t op = 0, opens = 1 + 2 * (n - 1);
    st.text = " (";
    for (std::size_t i = 0; i < n; ++i) {
        bool upper = kt.terms[i] != cols[static_cast<std::size_t>(kt.columns[i])].name;
        st.text += kt.terms[i] + " " + ops[op++] + " " + Value(cols, kt.columns[i], v, false, st, upper);
        if (i + 1 < n) {
            st.text += " AND (" + kt.terms[i] + " " + ops[op++] + " " +
                       Value(cols, kt.columns[i], v, false, st, upper);
            st.text += " OR (";
        }
    }
    for (std::size_t i = 0; i < opens; ++i) st.text += " )";
    return st;
}

Statement BuildSelect(const std::vector<Column>& cols, const SelectPlan& s, const ValueSource& v) {
    Statement st;
    st.text = s.hint.empty() ? "SELECT " : "SELECT /*+ " + s.hint + " */ ";
    st.text += ColumnList(cols) + " FROM " + s.table + " ";
    bool pos = s.position && s.key != nullptr && s.key->usable;
    bool any = pos || !s.filter.empty() || !s.where.empty();
    if (any) st.text += "WHERE";
    bool before = false;
    if (pos) {
        Statement p = PositionCondition(*s.key, s.forward, cols, v);
        st.text += p.text;
        st.params.insert(st.params.end(), p.params.begin(), p.params.end());
        before = true;
    }
    if (!s.filter.empty()) {
        st.text += (before ? " AND (" : " (") + s.filter + " )";
        before = true;
    }
    if (!s.where.empty()) st.text += before ? " AND (" + s.where + " )" : " " + s.where;
    if (s.key != nullptr && s.key->usable)
        st.text += " ORDER BY " + (s.forward ? s.key->order_forward : s.key->order_backward);
    st.text += s.limit;
    return st;
}

Statement BuildGetByKey(const std::vector<Column>& cols, const std::string& table, const KeyTexts& kt,
                        const ValueSource& v, const std::string& where, const std::string& limit) {
    Statement st;
    st.text = "SELECT " + ColumnList(cols) + " FROM " + table + " WHERE ";
    KeyCondition(cols, kt, v, false, st, false);
    if (!where.empty()) st.text += " AND (" + where + ")";
    st.text += limit;
    return st;
}

Statement BuildInsert(const std::vector<Column>& cols, const std::string& table, const ValueSource& v) {
    Statement st;
    std::string names, values;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        if (cols[i].readonly()) continue;
        if (!names.empty()) {
            names += ',';
            values += ',';
        }
        names += cols[i].name;
        values += Value(cols, static_cast<int>(i), v, false, st, false);
    }
    st.text = "INSERT INTO " + table + " (" + names + ") VALUES (" + values + ")";
    return st;
}

Statement BuildUpdate(const std::vector<Column>& cols, const std::string& table, const KeyTexts& id,
                      const ValueSource& v, const std::string& where, std::size_t) {
    Statement st;
    std::string sets;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        if (c.readonly()) continue;
        bool null_now = IsNull(v, c.field, false);
        bool null_then = IsNull(v, c.field, true);
        bool changed = null_now != null_then || (!null_now && ColumnChanged(c, v.record, v.saved));
        if (!changed) continue;
        if (!sets.empty()) sets += ',';
        if (null_now) {
            sets += c.name + " = NULL";
        } else {
            sets += c.name + " = " + Value(cols, static_cast<int>(i), v, false, st, false);
        }
    }
    if (sets.empty()) return Statement{};
    std::string head = "UPDATE " + table + " SET " + sets + " WHERE ";
    Statement cond;
    cond.params = std::move(st.params);
    KeyCondition(cols, id, v, true, cond, true);
    st.text = head + cond.text;
    st.params = std::move(cond.params);
    if (!where.empty()) st.text += " AND (" + where + ")";
    return st;
}

Statement BuildDelete(const std::vector<Column>& cols, const std::string& table, const KeyTexts& id,
                      const ValueSource& v, const std::string& where) {
    Statement st;
    st.text = "DELETE FROM " + table + " WHERE ";
    KeyCondition(cols, id, v, true, st, true);
    if (!where.empty()) st.text += " AND (" + where + ")";
    return st;
}

namespace {

std::vector<SQLSMALLINT> Preferences(const Column& c) {
    switch (c.type) {
        case FT_CSTRING:
            return {SQL_VARCHAR, SQL_CHAR};
        case FT_STRING:
            if (c.timestamp) return {SQL_TIMESTAMP};
            return {SQL_CHAR, SQL_VARCHAR};
        case FT_BYTE:
            return {SQL_TINYINT, SQL_SMALLINT, SQL_INTEGER, SQL_DECIMAL, SQL_NUMERIC};
        case FT_SHORT:
            return {SQL_SMALLINT, SQL_INTEGER, SQL_DECIMAL, SQL_NUMERIC};
        // USHORT needs 16 unsigned bits: SMALLINT holds only half of them.
        case FT_USHORT:
            return {SQL_INTEGER, SQL_DECIMAL, SQL_NUMERIC};
        case FT_LONG:
            return {SQL_INTEGER, SQL_DECIMAL, SQL_NUMERIC};
        // ULONG needs all 32 bits: INTEGER would lose sizes of 2 to 4 GiB.
        case FT_ULONG:
        case FT_INT64:
            return {SQL_BIGINT, SQL_DECIMAL, SQL_NUMERIC};
        case FT_SREAL:
            return {SQL_REAL, SQL_DOUBLE};
        case FT_REAL:
            return {SQL_DOUBLE};
        case FT_DECIMAL:
            return {SQL_DECIMAL, SQL_NUMERIC};
        case FT_PDECIMAL:
            return {SQL_NUMERIC, SQL_DECIMAL};
        case FT_DATE:
            return {SQL_DATE};
        case FT_TIME:
            return {SQL_TIME};
        default:
            return {SQL_CHAR};
    }
}

// ODBC 3 drivers may answer with the new date/time codes (SQL_TYPE_DATE, SQL_TYPE_TIME,
// SQL_TYPE_TIMESTAMP), which the ODBC 2 headers this driver is built with do not name.
constexpr SQLSMALLINT kOdbc3Date = 91;
constexpr SQLSMALLINT kOdbc3Time = 92;
constexpr SQLSMALLINT kOdbc3Timestamp = 93;

bool SameType(SQLSMALLINT offered, SQLSMALLINT wanted) {
    if (offered == wanted) return true;
    if (wanted == SQL_DATE) return offered == kOdbc3Date;
    if (wanted == SQL_TIME) return offered == kOdbc3Time;
    if (wanted == SQL_TIMESTAMP) return offered == kOdbc3Timestamp;
    return false;
}

bool IsTzName(const std::string& n) {
    std::string u = Upper(n);
    return u.find("TZ") != std::string::npos || u.find("TIME ZONE") != std::string::npos;
}

// Decimal digits of the largest 64-bit and 32-bit integers.
constexpr int kInt64Digits = 19;
constexpr int kLongDigits = 10;

int DecimalDigits(const Column& c, const Field& fd) {
    switch (c.type) {
        case FT_DECIMAL:
        case FT_PDECIMAL:
            return fd.digits ? fd.digits : static_cast<int>(2 * c.size - 1);
        case FT_BYTE:
            return 3;
        case FT_SHORT:
        case FT_USHORT:
            return 5;
        case FT_INT64:
            return kInt64Digits;
        default:
            return kLongDigits;
    }
}

}  // namespace

ErrCode BuildCreateTable(const File& f, const std::vector<Column>& cols, const std::vector<TypeInfo>& types,
                         const CreateRules& rules, std::string& out, std::string& bad_field) {
    std::string table = f.ExternalName();
    out = "CREATE TABLE " + table + " (";
    // Columns that may not hold NULL: components of keys without OPT and of the PRIMARY key.
    std::vector<bool> not_null(f.fields.size(), false);
    for (const Key* k : f.keys)
        if (!k->Has(KEY_OPT) || k->Has(KEY_PRIMARY))
            for (const KeyComponent& kc : k->components)
                if (kc.field >= 0) not_null[static_cast<std::size_t>(kc.field)] = true;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        const Field& fd = f.fields[static_cast<std::size_t>(c.field)];
        if (!f.driver->SupportsType(fd.type)) {
            bad_field = fd.label;
            return ErrInvalidFieldType;
        }
        const TypeInfo* chosen = nullptr;
        for (SQLSMALLINT want : Preferences(c)) {
            for (const TypeInfo& t : types) {
                if (!SameType(t.data_type, want)) continue;
                if (chosen == nullptr || (rules.skip_tz_types && IsTzName(chosen->name) && !IsTzName(t.name)))
                    chosen = &t;
            }
            if (chosen) break;
        }
        if (chosen == nullptr) {
            bad_field = fd.label;
            return ErrInvalidFieldType;
        }
        if (i) out += ',';
        std::string type_name = chosen->name;
        // A timestamp pair holds local time: psqlODBC offers only "timestamptz" for the
        // timestamp type code, whose zone-less form is the same name without "tz".
        if (rules.skip_tz_types && type_name.size() > 2 && Upper(type_name).ends_with("TZ"))
            type_name.resize(type_name.size() - 2);
        out += c.name + " " + type_name;
        if (!chosen->create_params.empty()) {
            SQLSMALLINT t = chosen->data_type;
            char buf[48];
            if (t == SQL_DECIMAL || t == SQL_NUMERIC) {
                std::snprintf(buf, sizeof buf, "(%d,%d)", DecimalDigits(c, fd), fd.places);
                out += buf;
            } else if (t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_BINARY || t == SQL_VARBINARY) {
                std::uint32_t n = c.type == FT_CSTRING ? (c.size > 1 ? c.size - 1 : 1) : c.size;
                std::snprintf(buf, sizeof buf, "(%u)", n);
                out += buf;
            }
        }
        if (rules.not_null && not_null[static_cast<std::size_t>(c.field)]) out += " NOT NULL";
    }
    auto comps = [&](const Key& k) {
        std::string s;
        for (std::size_t j = 0; j < k.components.size(); ++j) {
            const KeyComponent& kc = k.components[j];
            if (j) s += ',';
            for (const Column& c : cols)
                if (c.field == kc.field) s += c.name;
            if (kc.descending) s += " DESC";
        }
        return s;
    };
    for (const Key* k : f.keys) {
        if (k->Has(KEY_DUP)) continue;
        if (!rules.not_null && !k->Has(KEY_PRIMARY)) continue;
        out += k->Has(KEY_PRIMARY) ? ",PRIMARY KEY (" : ",UNIQUE (";
        out += comps(*k) + ")";
    }
    out += ")";
    return ErrNone;
}

std::string BuildCreateIndex(const File& f, const Key& k, const std::vector<Column>& cols,
                             bool upper_nocase) {
    KeyTexts kt = BuildKeyTexts(f, k, cols, upper_nocase);
    std::string out = "CREATE";
    if (!k.Has(KEY_DUP)) out += " UNIQUE";
    out += " INDEX " + k.IndexName() + " ON " + f.ExternalName() + " (";
    for (std::size_t i = 0; i < kt.terms.size(); ++i) {
        if (i) out += ',';
        out += kt.terms[i];
        if (kt.descending[i]) out += " DESC";
    }
    return out + ")";
}

PassKind ClassifyPassThrough(std::string_view text, std::string_view* rest) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    std::size_t end = 0;
    while (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end]))) ++end;
    std::string word = Upper(text.substr(0, end));
    if (rest) *rest = text.substr(end);
    if (word == "SELECT") {
        if (rest) *rest = text;
        return PassKind::Select;
    }
    if (word == "CALL") return PassKind::Call;
    if (word == "NORESULTCALL") return PassKind::NoResultCall;
    if (rest) *rest = text;
    return PassKind::Other;
}

std::string QuoteAttribute(std::string_view value) {
    if (value.find_first_of(";{}") == std::string_view::npos) return std::string(value);
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

}  // namespace dt

namespace dt {

bool TextToDecimal(const Column& c, char* record, std::string_view text, int places) {
    bool negative = false;
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::string intpart, frac;
    std::size_t dot = text.find('.');
    intpart = std::string(text.substr(0, dot));
    if (dot != std::string_view::npos) frac = std::string(text.substr(dot + 1));
    for (char ch : intpart + frac)
        if (!std::isdigit(static_cast<unsigned char>(ch))) return false;
    frac.resize(static_cast<std::size_t>(places), '0');
    std::string digits = intpart + frac;
    std::size_t room = static_cast<std::size_t>(c.size) * 2 - 1;
    std::size_t nz = digits.find_first_not_of('0');
    digits = nz == std::string::npos ? std::string() : digits.substr(nz);
    if (digits.size() > room) return false;
    digits.insert(0, room - digits.size(), '0');
    std::string nibbles =
        c.type == FT_DECIMAL ? std::string(1, negative ? char(15) : char(0)) : std::string();
    for (char ch : digits) nibbles += static_cast<char>(ch - '0');
    if (c.type != FT_DECIMAL) nibbles += static_cast<char>(negative ? 0x0D : 0x0C);
    char* p = record + c.offset;
    for (std::size_t i = 0; i < c.size; ++i)
        p[i] = static_cast<char>((nibbles[2 * i] << 4) | nibbles[2 * i + 1]);
    return true;
}

}  // namespace dt
