// The SQL driver's values: record fields to ODBC buffers and back, and the ODBC C and SQL
// types of each column.
#include "data/sql_driver_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "runtime/packed_field.h"
#include "runtime/stddate.h"

namespace dt::sqldrv {

bool ValidDate(const DATE& d) {
    return d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
           d.day <= DaysInMonth(d.year, d.month);
}

bool ValidTime(const TIME& t) {
    return t.hours < 24 && t.minutes < 60 && t.seconds < 60 && t.hundredths < 100;
}

Slot SlotFor(const std::vector<Column>& cols, int ci) {
    const Column& c = cols[static_cast<std::size_t>(ci)];
    Slot s;
    s.col = ci;
    if (c.timestamp) {
        s.ctype = SQL_C_TIMESTAMP;
        s.buflen = sizeof(TIMESTAMP_STRUCT);
        return s;
    }
    switch (c.type) {
        case FT_BYTE:
            s.ctype = SQL_C_UTINYINT;
            s.buflen = 1;
            break;
        case FT_SHORT:
            s.ctype = SQL_C_SSHORT;
            s.buflen = 2;
            break;
        case FT_USHORT:
            s.ctype = SQL_C_USHORT;
            s.buflen = 2;
            break;
        case FT_LONG:
            s.ctype = SQL_C_SLONG;
            s.buflen = 4;
            break;
        case FT_ULONG:
            s.ctype = SQL_C_ULONG;
            s.buflen = 4;
            break;
        case FT_INT64:
            s.ctype = SQL_C_SBIGINT;
            s.buflen = 8;
            break;
        case FT_SREAL:
            s.ctype = SQL_C_FLOAT;
            s.buflen = 4;
            break;
        case FT_REAL:
            s.ctype = SQL_C_DOUBLE;
            s.buflen = 8;
            break;
        case FT_DATE:
            s.ctype = SQL_C_DATE;
            s.buflen = sizeof(DATE_STRUCT);
            break;
        case FT_TIME:
            s.ctype = SQL_C_TIME;
            s.buflen = sizeof(TIME_STRUCT);
            break;
        case FT_DECIMAL:
        case FT_PDECIMAL:
            s.ctype = SQL_C_CHAR;
            s.buflen = 64;
            break;
        default:
            s.ctype = c.binary ? SQL_C_BINARY : SQL_C_CHAR;
            s.buflen = static_cast<SQLLEN>(c.size) + 1;
            break;
    }
    return s;
}

const char* CTypeName(SQLSMALLINT t) {
    switch (t) {
        case SQL_C_CHAR:
            return "CHAR";
        case SQL_C_LONG:
            return "LONG";
        case SQL_C_SHORT:
            return "SHORT";
        case SQL_C_FLOAT:
            return "FLOAT";
        case SQL_C_DOUBLE:
            return "DOUBLE";
        case SQL_C_DATE:
            return "DATE";
        case SQL_C_TIME:
            return "TIME";
        case SQL_C_TIMESTAMP:
            return "TIMESTAMP";
        case SQL_C_BINARY:
            return "BINARY";
        case SQL_C_TINYINT:
            return "TINYINT";
        case SQL_C_SLONG:
            return "SLONG";
        case SQL_C_SSHORT:
            return "SSHORT";
        case SQL_C_ULONG:
            return "ULONG";
        case SQL_C_USHORT:
            return "USHORT";
        case SQL_C_UTINYINT:
            return "UTINYINT";
        case SQL_C_SBIGINT:
            return "SBIGINT";
        default:
            return "UNKNOWN";
    }
}

// Parameters carry dates and times as ODBC canonical text: every driver here converts it,
// while the SQLite driver drops the seconds of a bound TIMESTAMP_STRUCT.
// A ULONG goes out as a 64-bit signed value: the SQLite driver stores an SQL_C_ULONG of
// 2^31 or more as a negative number, which then compares and sorts wrongly in SQL.
Slot ParamSlotFor(const std::vector<Column>& cols, int ci) {
    Slot s = SlotFor(cols, ci);
    if (s.ctype == SQL_C_TIMESTAMP || s.ctype == SQL_C_DATE || s.ctype == SQL_C_TIME) {
        s.ctype = SQL_C_CHAR;
        s.buflen = 32;
    } else if (s.ctype == SQL_C_ULONG) {
        s.ctype = SQL_C_SBIGINT;
        s.buflen = 8;
    }
    return s;
}

// Fills an ODBC value from a record field; returns its length indicator (SQL_NULL_DATA
// for NULL: the flag, a zero or invalid date or time).
SQLLEN ToOdbc(const Column& c, const Slot& s, const char* record, bool is_null, bool clip, char* out) {
    if (is_null) return SQL_NULL_DATA;
    const char* p = record + c.offset;
    if (c.timestamp) {
        const DATE d = LoadField<DATE>(p);
        TIME t = LoadField<TIME>(p + 4);
        if (d.IsZero() || !ValidDate(d)) return SQL_NULL_DATA;
        if (!ValidTime(t)) t = TIME{};
        if (s.ctype == SQL_C_CHAR) {
            std::snprintf(out, static_cast<std::size_t>(s.buflen), "%04d-%02d-%02d %02d:%02d:%02d.%02d",
                          d.year, d.month, d.day, t.hours, t.minutes, t.seconds, t.hundredths);
            return static_cast<SQLLEN>(std::strlen(out));
        }
        TIMESTAMP_STRUCT ts{static_cast<SQLSMALLINT>(d.year),
                            d.month,
                            d.day,
                            t.hours,
                            t.minutes,
                            t.seconds,
                            static_cast<SQLUINTEGER>(t.hundredths) * 10'000'000u};
        StoreField(out, ts);
        return sizeof ts;
    }
    switch (c.type) {
        case FT_DATE: {
            const DATE d = LoadField<DATE>(p);
            if (d.IsZero() || !ValidDate(d)) return SQL_NULL_DATA;
            if (s.ctype == SQL_C_CHAR) {
                std::snprintf(out, static_cast<std::size_t>(s.buflen), "%04d-%02d-%02d", d.year, d.month,
                              d.day);
                return static_cast<SQLLEN>(std::strlen(out));
            }
            DATE_STRUCT ds{static_cast<SQLSMALLINT>(d.year), d.month, d.day};
            StoreField(out, ds);
            return sizeof ds;
        }
        case FT_TIME: {
            const TIME t = LoadField<TIME>(p);
            if (t.IsZero() || !ValidTime(t)) return SQL_NULL_DATA;
            if (s.ctype == SQL_C_CHAR) {
                std::snprintf(out, static_cast<std::size_t>(s.buflen), "%02d:%02d:%02d", t.hours, t.minutes,
                              t.seconds);
                return static_cast<SQLLEN>(std::strlen(out));
            }
            TIME_STRUCT ts{t.hours, t.minutes, t.seconds};
            StoreField(out, ts);
            return sizeof ts;
        }
        case FT_DECIMAL:
        case FT_PDECIMAL: {
            std::string text = DecimalToText(c, record, 0, 0);
            std::snprintf(out, static_cast<std::size_t>(s.buflen), "%s", text.c_str());
            return static_cast<SQLLEN>(std::strlen(out));
        }
        case FT_STRING:
        case FT_CSTRING:
        case FT_PSTRING: {
            std::string_view v = TextField(TextLayoutOf(c.type), p, c.size);
            if (c.type == FT_STRING && clip && !c.binary) v = Clip(v);
            std::memcpy(out, v.data(), v.size());
            out[v.size()] = 0;
            return static_cast<SQLLEN>(v.size());
        }
        case FT_ULONG:
            if (s.ctype == SQL_C_SBIGINT) {
                StoreField<std::int64_t>(out, LoadField<ULONG>(p));
                return 8;
            }
            std::memcpy(out, p, 4);
            return 4;
        default:
            std::memcpy(out, p, c.size);
            return static_cast<SQLLEN>(c.size);
    }
}

void ClearField(const Column& c, char* record) {
    char* p = record + c.offset;
    if (c.type == FT_STRING && !c.timestamp)
        std::memset(p, ' ', c.size);
    else
        std::memset(p, 0, c.size);
}

// Moves a fetched value into its field. Strings are cut at a UTF-8 character boundary.
void FromOdbc(const Column& c, const Slot& s, const char* in, SQLLEN ind, char* record) {
    char* p = record + c.offset;
    if (c.timestamp) {
        const auto ts = LoadField<TIMESTAMP_STRUCT>(in);
        DATE d{static_cast<BYTE>(ts.day), static_cast<BYTE>(ts.month), static_cast<USHORT>(ts.year)};
        TIME t{static_cast<BYTE>(ts.fraction / 10'000'000u), static_cast<BYTE>(ts.second),
               static_cast<BYTE>(ts.minute), static_cast<BYTE>(ts.hour)};
        StoreField(p, d);
        StoreField(p + 4, t);
        return;
    }
    switch (c.type) {
        case FT_DATE: {
            const auto ds = LoadField<DATE_STRUCT>(in);
            StoreField(p, DATE{static_cast<BYTE>(ds.day), static_cast<BYTE>(ds.month),
                               static_cast<USHORT>(ds.year)});
            return;
        }
        case FT_TIME: {
            const auto ts = LoadField<TIME_STRUCT>(in);
            StoreField(p, TIME{0, static_cast<BYTE>(ts.second), static_cast<BYTE>(ts.minute),
                               static_cast<BYTE>(ts.hour)});
            return;
        }
        case FT_DECIMAL:
        case FT_PDECIMAL: {
            std::size_t n = ind < 0 ? 0
                                    : std::min<std::size_t>(static_cast<std::size_t>(ind),
                                                            static_cast<std::size_t>(s.buflen - 1));
            if (!TextToDecimal(c, record, std::string_view(in, n), 0)) ClearField(c, record);
            return;
        }
        case FT_STRING:
        case FT_CSTRING:
        case FT_PSTRING: {
            std::size_t got = ind < 0 ? 0 : static_cast<std::size_t>(ind);
            std::size_t avail = static_cast<std::size_t>(s.buflen) - (s.ctype == SQL_C_CHAR ? 1 : 0);
            got = std::min(got, avail);
            std::string_view v(in, got);
            // Binary data is cut at the exact byte count, text at a character boundary.
            if (c.binary) v = v.substr(0, c.type == FT_STRING ? c.size : c.size - 1);
            StoreTextField(TextLayoutOf(c.type), p, c.size, v);
            return;
        }
        default:
            std::memcpy(p, in, c.size);
            return;
    }
}

SQLSMALLINT SqlTypeFor(const Column& c) {
    if (c.timestamp) return SQL_TIMESTAMP;
    switch (c.type) {
        case FT_BYTE:
            return SQL_SMALLINT;
        case FT_SHORT:
            return SQL_SMALLINT;
        case FT_USHORT:
            return SQL_INTEGER;
        case FT_LONG:
            return SQL_INTEGER;
        case FT_ULONG:
            return c.sql_type == SQL_INTEGER ? SQL_INTEGER : SQL_BIGINT;
        case FT_INT64:
            return SQL_BIGINT;
        case FT_SREAL:
            return SQL_REAL;
        case FT_REAL:
            return SQL_DOUBLE;
        case FT_DATE:
            return SQL_DATE;
        case FT_TIME:
            return SQL_TIME;
        case FT_DECIMAL:
        case FT_PDECIMAL:
            return SQL_DECIMAL;
        default:
            return c.binary ? SQL_BINARY : SQL_VARCHAR;
    }
}

}  // namespace dt::sqldrv
