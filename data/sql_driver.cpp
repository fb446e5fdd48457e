#include "data/sql_driver.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "data/sql_connection.h"
#include "data/sql_text.h"
#include "data/statements.h"
#include "data/trace.h"
#include "runtime/errors.h"
#include "runtime/stddate.h"
#include "runtime/types.h"

namespace dt {
namespace {

// ---------------------------------------------------------------------------------------
// Registration

constexpr std::uint8_t kOperations[] = {
    60,
    OP_ADD,
    OP_APPEND,
    OP_BUFFER,
    OP_BUILDdyn,
    OP_BUILDfile,
    OP_BUILDkey,
    OP_BYTES,
    OP_CLOSE,
    OP_COMMIT,
    OP_CREATE,
    OP_DELETE,
    OP_DUPLICATE,
    OP_DUPLICATEkey,
    OP_EMPTY,
    OP_GETfilekey,
    OP_GETfileptr,
    OP_GET_PROPERTY,
    OP_GETPROPERTYkey,
    OP_HOLDfile,
    OP_HOLDfilesec,
    OP_LOCKfile,
    OP_LOCKfilesec,
    OP_LOGOUT,
    OP_NAME,
    OP_NEXT,
    OP_NULL,
    OP_OPEN,
    OP_PACK,
    OP_POSITIONfile,
    OP_POSITIONkey,
    OP_PREVIOUS,
    OP_PUT,
    OP_RECORDSfile,
    OP_RECORDSkey,
    OP_REGETfile,
    OP_REGETkey,
    OP_RELEASE,
    OP_REMOVE,
    OP_RESETkey,
    OP_ROLLBACK,
    OP_SEND,
    OP_SETfile,
    OP_SETfilekey,
    OP_SETkey,
    OP_SETkeykey,
    OP_SETNULL,
    OP_GETNULLS,
    OP_SETNULLS,
    OP_SETNONULL,
    OP_SET_PROPERTY,
    OP_SETPROPERTYkey,
    OP_SHARE,
    OP_SKIP,
    OP_UNLOCK,
    OP_WATCH,
    OP_DO_PROPERTY,
    OP_GETSTATE,
    OP_RESTORESTATE,
    OP_FREESTATE,
    OP_SQLCALLBACK,
};
static_assert(sizeof kOperations == 61);

constexpr std::uint8_t kTypes[] = {
    15,       FT_BYTE, FT_SHORT,   FT_USHORT,   FT_DATE,   FT_TIME,    FT_LONG,  FT_ULONG,
    FT_SREAL, FT_REAL, FT_DECIMAL, FT_PDECIMAL, FT_STRING, FT_CSTRING, FT_GROUP, FT_INT64,
};

const DriverRegistration kRegistration = {
    "MSSQL",
    "libodbc.so.2",
    "DriveTrek",
    "Microsoft SQL",
    &SqlDriverEntry,
    0,
    DriverLimits{32, 1024, 65535, 128},
    0,
    0,
    0,
    kOperations,
    kTypes,
};

// ---------------------------------------------------------------------------------------
// Options kept per file

struct FileOptions {
    bool gatheratopen = false, noverify = false, orderinselect = false, odbccall = false;
    bool savestoredprocedures = false, trustedconnection = false, verifyviaselect = false;
    bool zeroisnull = false, noprimary = false, useprimary = false;
    std::string hint, next_hint, where, logfile;
    std::map<int, std::string> key_hints;
};

bool IsTrue(std::string_view v) {
    std::string u(v);
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u == "TRUE";
}

const char* Bool(bool b) {
    return b ? "TRUE" : "FALSE";
}

// ---------------------------------------------------------------------------------------
// Values between record fields and ODBC buffers

struct Slot {  // one bound column or parameter
    int col = -1;
    SQLSMALLINT ctype = SQL_C_CHAR;
    SQLLEN buflen = 0;  // bytes of one value
};

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
        DATE d;
        TIME t;
        std::memcpy(&d, p, 4);
        std::memcpy(&t, p + 4, 4);
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
        std::memcpy(out, &ts, sizeof ts);
        return sizeof ts;
    }
    switch (c.type) {
        case FT_DATE: {
            DATE d;
            std::memcpy(&d, p, 4);
            if (d.IsZero() || !ValidDate(d)) return SQL_NULL_DATA;
            if (s.ctype == SQL_C_CHAR) {
                std::snprintf(out, static_cast<std::size_t>(s.buflen), "%04d-%02d-%02d", d.year, d.month,
                              d.day);
                return static_cast<SQLLEN>(std::strlen(out));
            }
            DATE_STRUCT ds{static_cast<SQLSMALLINT>(d.year), d.month, d.day};
            std::memcpy(out, &ds, sizeof ds);
            return sizeof ds;
        }
        case FT_TIME: {
            TIME t;
            std::memcpy(&t, p, 4);
            if (t.IsZero() || !ValidTime(t)) return SQL_NULL_DATA;
            if (s.ctype == SQL_C_CHAR) {
                std::snprintf(out, static_cast<std::size_t>(s.buflen), "%02d:%02d:%02d", t.hours, t.minutes,
                              t.seconds);
                return static_cast<SQLLEN>(std::strlen(out));
            }
            TIME_STRUCT ts{t.hours, t.minutes, t.seconds};
            std::memcpy(out, &ts, sizeof ts);
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
            std::string_view v(p, c.size);
            if (c.type == FT_CSTRING)
                v = std::string_view(p, ::strnlen(p, c.size));
            else if (c.type == FT_PSTRING)
                v = std::string_view(p + 1, std::min<std::size_t>(BYTE(p[0]), c.size - 1));
            else if (clip && !c.binary)
                v = Clip(v);
            std::memcpy(out, v.data(), v.size());
            out[v.size()] = 0;
            return static_cast<SQLLEN>(v.size());
        }
        case FT_ULONG:
            if (s.ctype == SQL_C_SBIGINT) {
                ULONG u;
                std::memcpy(&u, p, 4);
                const std::int64_t v = u;
                std::memcpy(out, &v, 8);
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
        TIMESTAMP_STRUCT ts;
        std::memcpy(&ts, in, sizeof ts);
        DATE d{static_cast<BYTE>(ts.day), static_cast<BYTE>(ts.month), static_cast<USHORT>(ts.year)};
        TIME t{static_cast<BYTE>(ts.fraction / 10'000'000u), static_cast<BYTE>(ts.second),
               static_cast<BYTE>(ts.minute), static_cast<BYTE>(ts.hour)};
        std::memcpy(p, &d, 4);
        std::memcpy(p + 4, &t, 4);
        return;
    }
    switch (c.type) {
        case FT_DATE: {
            DATE_STRUCT ds;
            std::memcpy(&ds, in, sizeof ds);
            DATE d{static_cast<BYTE>(ds.day), static_cast<BYTE>(ds.month), static_cast<USHORT>(ds.year)};
            std::memcpy(p, &d, 4);
            return;
        }
        case FT_TIME: {
            TIME_STRUCT ts;
            std::memcpy(&ts, in, sizeof ts);
            TIME t{0, static_cast<BYTE>(ts.second), static_cast<BYTE>(ts.minute), static_cast<BYTE>(ts.hour)};
            std::memcpy(p, &t, 4);
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
            std::size_t room = c.type == FT_STRING ? c.size : c.size - 1;
            std::string_view v(in, got);
            std::size_t n = c.binary ? std::min(got, room) : Utf8CutLength(v, room);
            if (c.type == FT_PSTRING) {
                p[0] = static_cast<char>(n);
                std::memcpy(p + 1, in, n);
                std::memset(p + 1 + n, 0, c.size - 1 - n);
            } else {
                std::memcpy(p, in, n);
                std::memset(p + n, c.type == FT_STRING ? ' ' : 0, c.size - n);
            }
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

// ---------------------------------------------------------------------------------------
// Statement owners with their buffers

// Column-wise parameter arrays (the ODBC 2 layout of SQLParamOptions).
struct ParamSet {
    std::vector<Piece> pieces;
    std::vector<Slot> slots;
    std::vector<std::vector<char>> data;
    std::vector<std::vector<SQLLEN>> ind;
    std::size_t rows = 1;

    void Init(const std::vector<Column>& cols, const std::vector<Piece>& ps, std::size_t nrows) {
        pieces = ps;
        rows = nrows;
        slots.clear();
        data.clear();
        ind.clear();
        for (const Piece& p : ps) {
            Slot s = ParamSlotFor(cols, p.column);
            slots.push_back(s);
            data.emplace_back(static_cast<std::size_t>(s.buflen) * rows + 1, 0);
            ind.emplace_back(rows, 0);
        }
    }
};

// A result-set statement with its bound row block.
struct Cursor {
    OdbcHandle stmt;
    std::vector<Slot> slots;           // one per bound result column
    std::vector<std::size_t> offsets;  // of each slot in a row; indicator follows the value
    std::size_t row_size = 0;
    std::vector<char> rows;
    std::vector<SQLUSMALLINT> status;
    SQLULEN rowset = 1;
    SQLULEN fetched = 0;
    SQLULEN pos = 0;
    bool open = false;
    bool passthrough = false;
    bool limited = false;      // asked the server for few rows
    bool block = false;        // SQLExtendedFetch with a row block
    bool bound = true;         // columns bound (FASTCOLUMNFETCH); else read with SQLGetData
    long result_columns = 0;   // columns the server returns (pass-through)
    std::string prepared_key;  // text (and fetch settings) the statement is prepared with
    long consumed = 0;         // rows taken from this result so far
    ParamSet params;
};

struct Sequence {
    bool active = false;
    Key* key = nullptr;     // nullptr: file order
    bool position = false;  // start from `start`
    std::vector<char> start;
    std::vector<std::int32_t> start_nulls;
    bool forward = true;
    bool skip_current = false;  // the first row equal to `current` is the record already read
    long skip_rows = 0;         // rows to pass over when a result is run again
    bool exhausted = false;
};

struct SavedState {
    std::vector<char> record, saved;
    std::vector<std::int32_t> nulls, saved_nulls;
    Sequence seq;
    bool have_saved = false;
};

struct Prepared {
    std::string text;
    OdbcHandle stmt;
    ParamSet params;
};

// ---------------------------------------------------------------------------------------
// The per-file driver state

class SqlState final : public DriverState {
  public:
    explicit SqlState(File& f) : file(&f) {
        nulls.assign(f.fields.size(), 0);
        saved_nulls.assign(f.fields.size(), 0);
        cols = BuildColumnMap(f);
    }
    ~SqlState() override {
        std::unique_lock<std::recursive_mutex> lock;
        if (conn) lock = std::unique_lock(conn->mutex);
        ReleaseStatements();
        bulk_rows = 0;
        file_log.reset();
    }

    void ReleaseStatements() {
        cursor = Cursor{};
        insert = Prepared{};
        bulk = Prepared{};
        gets.clear();
        attrs_known = false;
    }

    std::shared_ptr<Connection> conn;  // declared first: destroyed last
    File* file;
    std::vector<Column> cols;
    std::vector<KeyTexts> keys;
    int id_key = -1;
    std::vector<char> saved;
    bool have_saved = false;
    std::vector<std::int32_t> nulls, saved_nulls;
    bool opened = false;
    int mode = 0;
    FileOptions opt;
    std::vector<std::pair<std::string, std::string>> pending_server_options;
    std::map<int, long> pending_connect;
    bool attrs_known = false;
    bool described = false;

    Cursor cursor;
    Prepared insert;
    Prepared bulk;
    std::size_t bulk_rows = 0;
    bool bulk_unsupported = false;
    std::vector<Prepared> gets;
    Sequence seq;
    long page_size = 64;
    long hold_timeout = 0;
    bool watch_armed = false, watched = false;
    std::string sql_filter, last_sql;

    std::map<long, SavedState> states;
    long next_state = 1;

    std::shared_ptr<TraceLog> file_log;
    std::shared_ptr<TraceLog> profile_log;
    bool profile = false, details = false, dumped = false;

    Diag diag;  // the last failure

    TraceLog* Log() const {
        if (file_log) return file_log.get();
        return conn ? conn->log().get() : nullptr;
    }
    const OdbcApi& Api() const { return conn->api(); }
    int Kind() const { return conn && conn->server ? conn->server->kind : KIND_UNKNOWN; }
    const KindRules& Rules() const { return RulesFor(Kind()); }
    ServerOptions& Srv() { return conn->server->options; }
    std::string Table() const {
        std::string t = file->ExternalName();
        if (conn && conn->server->options.forceuppercase) t = Upper(t);
        return t;
    }
};

SqlState* StateOf(File& f) {
    return static_cast<SqlState*>(f.driver_slot.get());
}

// ---------------------------------------------------------------------------------------
// Failures

int Fail90(SqlState& st, DriverArgs& a, const Diag& d) {
    st.diag = d;
    a.file_error_code = d.state;
    a.file_error = d.message;
    return 90;
}

int Fail90(DriverArgs& a, std::string_view state, std::string_view message) {
    a.file_error_code = state;
    a.file_error = message;
    return 90;
}

// A failed ODBC call as a runtime error code, by its meaning.
int FailFrom(SqlState& st, DriverArgs& a, const Diag& d) {
    switch (Classify(d)) {
        case Meaning::MissingTable:
            st.diag = d;
            return 2;
        case Meaning::DuplicateKey:
            st.diag = d;
            return 40;
        default:
            return Fail90(st, a, d);
    }
}

// ---------------------------------------------------------------------------------------
// ODBC helpers bound to a file

template <class What, class Fn>
SQLRETURN Call(SqlState& st, What&& what, SQLHSTMT stmt, Fn&& fn) {
    return OdbcCall(st.Api(), st.Log(), what, nullptr, stmt ? nullptr : st.conn->dbc.get(), stmt, &st.diag,
                    fn);
}

std::string StmtText(const char* action, const void* h) {
    return action + HandleText("Statement", h);
}

bool AllocStmt(SqlState& st, OdbcHandle& out) {
    SQLHSTMT h = nullptr;
    SQLHDBC dbc = st.conn->dbc.get();
    SQLRETURN rc = OdbcCall(
        st.Api(), st.Log(),
        [&] { return std::string("Allocating Statement on") + HandleText("Connection", dbc); }, nullptr, dbc,
        nullptr, &st.diag, [&] { return st.Api().SQLAllocStmt(dbc, &h); });
    if (!Succeeded(rc)) return false;
    out = OdbcHandle(&st.Api(), OdbcHandle::Stmt, h);
    return true;
}

void CloseCursor(SqlState& st) {
    if (st.cursor.stmt) {
        void* h = st.cursor.stmt.get();
        Call(
            st, [&] { return StmtText("Closing", h); }, h,
            [&] { return st.Api().SQLFreeStmt(h, SQL_CLOSE); });
    }
    st.cursor.open = false;
    st.cursor.passthrough = false;
    st.cursor.fetched = st.cursor.pos = 0;
}

// Converts the record into row `row` of the parameter arrays.
void FillParams(SqlState& st, ParamSet& ps, std::size_t row) {
    bool clip = st.Srv().clipstrings;
    for (std::size_t i = 0; i < ps.pieces.size(); ++i) {
        const Piece& p = ps.pieces[i];
        const Column& c = st.cols[static_cast<std::size_t>(p.column)];
        const char* rec = p.saved ? st.saved.data() : st.file->Record();
        const auto& nl = p.saved ? st.saved_nulls : st.nulls;
        bool is_null = nl[static_cast<std::size_t>(c.field)] == -1;
        char* out = ps.data[i].data() + static_cast<std::size_t>(ps.slots[i].buflen) * row;
        ps.ind[i][row] = ToOdbc(c, ps.slots[i], rec, is_null, clip, out);
    }
}

bool BindParams(SqlState& st, SQLHSTMT h, ParamSet& ps) {
    for (std::size_t i = 0; i < ps.pieces.size(); ++i) {
        const Slot& s = ps.slots[i];
        const Column& c = st.cols[static_cast<std::size_t>(s.col)];
        SQLSMALLINT sqltype = SqlTypeFor(c);
        SQLULEN colsize = c.character()
                              ? c.size
                              : (c.timestamp ? 22 : (c.type == FT_DECIMAL || c.type == FT_PDECIMAL ? 31 : 0));
        SQLSMALLINT digits = c.timestamp ? 2 : 0;
        auto n = static_cast<SQLUSMALLINT>(i + 1);
        SQLRETURN rc = Call(
            st,
            [&] {
                return "Binding ? " + std::to_string(n) + " for input with C type " + CTypeName(s.ctype) +
                       " as " + std::to_string(sqltype) + HandleText("Statement", h);
            },
            h,
            [&] {
                return st.Api().SQLBindParameter(h, n, SQL_PARAM_INPUT, s.ctype, sqltype, colsize, digits,
                                                 ps.data[i].data(), s.buflen, ps.ind[i].data());
            });
        if (!Succeeded(rc)) return false;
    }
    return true;
}

// The zero-is-NULL and NOT NULL rules applied to the null flags before a write.
void PrepareNullsForWrite(SqlState& st) {
    for (const Column& c : st.cols) {
        auto& flag = st.nulls[static_cast<std::size_t>(c.field)];
        if (st.opt.zeroisnull && !c.zeronotnull && (c.type == FT_DATE || c.type == FT_TIME || c.timestamp)) {
            const char* p = st.file->Record() + c.offset;
            bool zero = true;
            for (std::uint32_t i = 0; i < c.size && zero; ++i) zero = p[i] == 0;
            if (zero) flag = -1;
        }
        if (!c.nullable) flag = 0;
    }
}

void SaveCopy(SqlState& st) {
    st.saved.assign(st.file->Record(), st.file->Record() + st.file->record_length);
    st.saved_nulls = st.nulls;
    st.have_saved = true;
}

ValueSource Values(SqlState& st) {
    ValueSource v;
    v.literals = !st.Srv().bindconstants;
    v.record = st.file->Record();
    v.saved = st.have_saved ? st.saved.data() : st.file->Record();
    v.nulls = &st.nulls;
    v.saved_nulls = st.have_saved ? &st.saved_nulls : &st.nulls;
    return v;
}

// Runs a statement that returns no rows on a scratch handle.
int ExecNoResult(SqlState& st, DriverArgs& a, const Statement& s, long* rows = nullptr) {
    OdbcHandle h;
    if (!AllocStmt(st, h)) return Fail90(st, a, st.diag);
    ParamSet ps;
    ps.Init(st.cols, s.params, 1);
    FillParams(st, ps, 0);
    if (!BindParams(st, h.get(), ps)) return Fail90(st, a, st.diag);
    void* hh = h.get();
    st.last_sql = s.text;
    SQLRETURN rc = Call(
        st, [&] { return StmtText("Executing", hh) + " " + s.text; }, hh,
        [&] {
            return st.Api().SQLExecDirect(hh, reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.text.c_str())),
                                          SQL_NTS);
        });
    if (rc == SQL_STILL_EXECUTING || rc == SQL_NEED_DATA) return rc;
    if (!Succeeded(rc) && rc != SQL_NO_DATA) return FailFrom(st, a, st.diag);
    if (rows != nullptr) {
        SQLLEN n = 0;
        if (rc != SQL_NO_DATA) st.Api().SQLRowCount(hh, &n);
        *rows = static_cast<long>(n);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Result sets

// Binds the result columns of the cursor (the column map, or for a pass-through result the
// fields in order) into a row block.
bool BindCursor(SqlState& st, std::size_t ncols, bool want_block) {
    Cursor& c = st.cursor;
    c.slots.clear();
    c.offsets.clear();
    std::size_t off = 0;
    for (std::size_t i = 0; i < ncols; ++i) {
        Slot s = SlotFor(st.cols, static_cast<int>(i));
        c.slots.push_back(s);
        c.offsets.push_back(off);
        off += (static_cast<std::size_t>(s.buflen) + 7) / 8 * 8 + sizeof(SQLLEN);
    }
    c.row_size = (off + 7) / 8 * 8;
    SQLHSTMT h = c.stmt.get();
    const OdbcApi& api = st.Api();
    c.rowset = 1;
    c.block = false;
    c.bound = st.Srv().fastcolumnfetch;
    if (!c.bound) {
        c.rows.assign(c.row_size, 0);
        c.status.assign(1, 0);
        return true;
    }
    if (want_block && st.page_size > 1) {
        SQLULEN n = static_cast<SQLULEN>(st.page_size);
        if (Succeeded(Call(
                st, [&] { return StmtText("Setting Statement Option for", h); }, h,
                [&] { return api.SQLSetStmtOption(h, SQL_BIND_TYPE, c.row_size); })) &&
            Succeeded(Call(
                st, [&] { return StmtText("Setting number of rows to fetch to for", h); }, h,
                [&] { return api.SQLSetStmtOption(h, SQL_ROWSET_SIZE, n); }))) {
            c.rowset = n;
            c.block = true;
        }
    }
    if (!c.block) api.SQLSetStmtOption(h, SQL_BIND_TYPE, c.row_size);
    c.rows.assign(c.row_size * c.rowset, 0);
    c.status.assign(c.rowset, 0);
    for (std::size_t i = 0; i < ncols; ++i) {
        const Slot& s = c.slots[i];
        char* value = c.rows.data() + c.offsets[i];
        auto* ind = reinterpret_cast<SQLLEN*>(value + (static_cast<std::size_t>(s.buflen) + 7) / 8 * 8);
        auto n = static_cast<SQLUSMALLINT>(i + 1);
        SQLRETURN rc = Call(
            st,
            [&] {
                return "Binding Column " + std::to_string(n) + " to C type " + CTypeName(s.ctype) + " for" +
                       HandleText("Statement", h);
            },
            h, [&] { return api.SQLBindCol(h, n, s.ctype, value, s.buflen, ind); });
        if (!Succeeded(rc)) return false;
    }
    return true;
}

// Executes `s` on the cursor statement and binds its result.
int OpenCursor(SqlState& st, DriverArgs& a, const Statement& s, bool passthrough, long max_rows) {
    CloseCursor(st);
    Cursor& c = st.cursor;
    if (!c.stmt && !AllocStmt(st, c.stmt)) return Fail90(st, a, st.diag);
    SQLHSTMT h = c.stmt.get();
    const OdbcApi& api = st.Api();
    // Reads of the file's own columns are prepared once and run again while their text
    // stays the same (a GET per row, the highest key before each insert).
    std::string key = passthrough ? std::string()
                                  : s.text + '\x01' + std::to_string(max_rows) + '/' +
                                        std::to_string(st.page_size) + (st.Srv().fastcolumnfetch ? "F" : "S");
    bool reuse = !passthrough && !c.prepared_key.empty() && c.prepared_key == key;
    if (!reuse) {
        c.prepared_key.clear();
        api.SQLFreeStmt(h, SQL_UNBIND);
        api.SQLFreeStmt(h, SQL_RESET_PARAMS);
        // One-row reads on servers without a LIMIT clause ask through the statement option.
        api.SQLSetStmtOption(h, SQL_MAX_ROWS, static_cast<SQLULEN>(max_rows > 0 ? max_rows : 0));
        c.params.Init(st.cols, s.params, 1);
        if (!BindParams(st, h, c.params)) return Fail90(st, a, st.diag);
    }
    FillParams(st, c.params, 0);
    st.last_sql = s.text;
    SQLRETURN rc;
    if (passthrough) {
        rc = Call(
            st, [&] { return StmtText("Executing", h) + " " + s.text; }, h,
            [&] {
                return api.SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.text.c_str())),
                                         SQL_NTS);
            });
    } else {
        if (!reuse) {
            rc = Call(
                st, [&] { return StmtText("Preparing", h) + " " + s.text; }, h,
                [&] {
                    return api.SQLPrepare(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.text.c_str())),
                                          SQL_NTS);
                });
            if (!Succeeded(rc)) return FailFrom(st, a, st.diag);
            if (!BindCursor(st, st.cols.size(), max_rows <= 0)) return Fail90(st, a, st.diag);
        }
        rc = Call(
            st, [&] { return StmtText("Executing prepared", h); }, h, [&] { return api.SQLExecute(h); });
    }
    if (rc == SQL_STILL_EXECUTING || rc == SQL_NEED_DATA) return rc;
    if (!Succeeded(rc)) {
        api.SQLFreeStmt(h, SQL_CLOSE);
        return FailFrom(st, a, st.diag);
    }
    if (passthrough) {
        SQLSMALLINT n = 0;
        Call(
            st, [&] { return StmtText("Getting Number of columns for", h); }, h,
            [&] { return api.SQLNumResultCols(h, &n); });
        std::size_t ncols = std::min<std::size_t>(static_cast<std::size_t>(n < 0 ? 0 : n), st.cols.size());
        c.result_columns = n;
        if (!BindCursor(st, ncols, true)) return Fail90(st, a, st.diag);
    } else {
        c.prepared_key = key;
    }
    c.open = true;
    c.passthrough = passthrough;
    c.limited = max_rows > 0;
    c.consumed = 0;
    c.fetched = c.pos = 0;
    return 0;
}

// The next row of the cursor into the record: 0, 33 at the end, or an error.
int FetchRow(SqlState& st, DriverArgs& a) {
    Cursor& c = st.cursor;
    const OdbcApi& api = st.Api();
    SQLHSTMT h = c.stmt.get();
    for (;;) {
        while (c.pos < c.fetched) {
            SQLULEN r = c.pos++;
            if (c.block && c.status[r] != SQL_ROW_SUCCESS && c.status[r] != SQL_ROW_SUCCESS_WITH_INFO)
                continue;
            const char* row = c.rows.data() + r * c.row_size;
            char* rec = st.file->Record();
            for (std::size_t i = 0; i < c.slots.size(); ++i) {
                const Slot& s = c.slots[i];
                const Column& col = st.cols[i];
                const char* value = row + c.offsets[i];
                SQLLEN ind;
                std::memcpy(&ind, value + (static_cast<std::size_t>(s.buflen) + 7) / 8 * 8, sizeof ind);
                if (ind == SQL_NULL_DATA) {
                    st.nulls[static_cast<std::size_t>(col.field)] = -1;
                    ClearField(col, rec);
                } else {
                    st.nulls[static_cast<std::size_t>(col.field)] = 0;
                    FromOdbc(col, s, value, ind, rec);
                }
            }
            ++c.consumed;
            return 0;
        }
        SQLRETURN rc;
        if (c.block) {
            c.fetched = 0;
            rc = Call(
                st, [&] { return StmtText("Fetching Next Set of Rows from", h); }, h,
                [&] { return api.SQLExtendedFetch(h, SQL_FETCH_NEXT, 0, &c.fetched, c.status.data()); });
        } else {
            rc = Call(
                st, [&] { return StmtText("Fetching Row from", h); }, h, [&] { return api.SQLFetch(h); });
            c.fetched = Succeeded(rc) ? 1 : 0;
            c.status[0] = SQL_ROW_SUCCESS;
            for (std::size_t i = 0; c.fetched == 1 && !c.bound && i < c.slots.size(); ++i) {
                // Column by column, as the driver hands them out.
                const Slot& s = c.slots[i];
                char* value = c.rows.data() + c.offsets[i];
                auto* ind =
                    reinterpret_cast<SQLLEN*>(value + (static_cast<std::size_t>(s.buflen) + 7) / 8 * 8);
                auto n = static_cast<SQLUSMALLINT>(i + 1);
                SQLRETURN g = Call(
                    st,
                    [&] {
                        return "Getting Data for column " + std::to_string(n) + " from" +
                               HandleText("Statement", h);
                    },
                    h, [&] { return api.SQLGetData(h, n, s.ctype, value, s.buflen, ind); });
                if (!Succeeded(g)) return FailFrom(st, a, st.diag);
            }
        }
        c.pos = 0;
        if (rc == SQL_NO_DATA) {
            c.fetched = 0;
            return 33;
        }
        if (rc == SQL_STILL_EXECUTING || rc == SQL_NEED_DATA) return rc;
        if (!Succeeded(rc)) return FailFrom(st, a, st.diag);
        if (c.fetched == 0) return 33;
    }
}

bool SameRecord(const SqlState& st, const char* a, const char* b) {
    for (const Column& c : st.cols)
        if (std::memcmp(a + c.offset, b + c.offset, c.size) != 0) return false;
    return true;
}

// Builds and runs the SELECT of the current sequence. `rows` > 0 asks for that many rows.
int RunSequence(SqlState& st, DriverArgs& a, long rows) {
    Sequence& q = st.seq;
    int ki = q.key ? q.key->number - 1 : -1;
    SelectPlan plan;
    plan.table = st.Table();
    plan.hint = !st.opt.next_hint.empty()                 ? st.opt.next_hint
                : (ki >= 0 && st.opt.key_hints.count(ki)) ? st.opt.key_hints[ki]
                                                          : st.opt.hint;
    st.opt.next_hint.clear();
    if (ki >= 0) {
        if (!st.keys[static_cast<std::size_t>(ki)].usable) return 38;
        plan.key = &st.keys[static_cast<std::size_t>(ki)];
    }
    plan.position = q.position && plan.key != nullptr;
    plan.forward = q.forward;
    plan.where = st.opt.where;
    const KindRules& rules = st.Rules();
    long max_rows = 0;
    if (rows > 0) {
        if (rules.limit_prefix[0] != 0)
            plan.limit = rules.limit_prefix + std::to_string(rows);
        else
            max_rows = rows;
    }
    // The values of the position come from the record saved when the sequence started.
    std::vector<char> keep(st.file->Record(), st.file->Record() + st.file->record_length);
    std::vector<std::int32_t> keep_nulls = st.nulls;
    if (plan.position) {
        std::memcpy(st.file->Record(), q.start.data(), st.file->record_length);
        st.nulls = q.start_nulls;
    }
    Statement s = BuildSelect(st.cols, plan, Values(st));
    int rc = OpenCursor(st, a, s, false, max_rows);
    std::memcpy(st.file->Record(), keep.data(), st.file->record_length);
    st.nulls = keep_nulls;
    if (rc == 0 && rows > 0 && plan.limit.empty()) st.cursor.limited = true;
    if (rc == 0 && rows > 0) st.cursor.limited = true;
    return rc;
}

// NEXT / PREVIOUS.
int ReadSequential(SqlState& st, DriverArgs& a, bool forward) {
    Cursor& c = st.cursor;
    if (c.open && c.passthrough) {
        if (!forward) return 33;
        int rc = FetchRow(st, a);
        if (rc == 0) SaveCopy(st);
        return rc;
    }
    Sequence& q = st.seq;
    if (!q.active) {
        q = Sequence{};
        q.active = true;
    }
    if (c.open && q.forward != forward) {
        // A change of direction reads again from the current record the other way.
        CloseCursor(st);
        q.position = q.key != nullptr;
        if (st.have_saved) {
            q.start = st.saved;
            q.start_nulls = st.saved_nulls;
        } else {
            q.start.assign(st.file->Record(), st.file->Record() + st.file->record_length);
            q.start_nulls = st.nulls;
        }
        q.skip_current = st.have_saved;
        q.skip_rows = 0;
        q.exhausted = false;
    }
    q.forward = forward;
    if (q.exhausted && !c.open) return 33;
    std::vector<char> current = st.have_saved ? st.saved : std::vector<char>();
    bool first_open = !c.open;
    if (!c.open) {
        // The first read of a keyed sequence asks for the rows it needs only (a read of the
        // highest key for auto-numbering must not move the whole table).
        long need = q.key != nullptr ? 1 + (q.skip_current ? 1 : 0) + q.skip_rows : 0;
        int rc = RunSequence(st, a, need);
        if (rc != 0) return rc;
        for (long i = 0; i < q.skip_rows; ++i) {
            rc = FetchRow(st, a);
            if (rc != 0) break;
        }
    }
    int watch = st.watch_armed;
    for (;;) {
        int rc = FetchRow(st, a);
        if (rc == 33 && c.limited) {
            // More rows are wanted than the first read asked for: run the SELECT again
            // without a limit and pass over the rows already taken.
            long taken = c.consumed;
            rc = RunSequence(st, a, 0);
            if (rc != 0) return rc;
            for (long i = 0; i < taken && rc == 0; ++i) rc = FetchRow(st, a);
            if (rc == 0) rc = FetchRow(st, a);
        }
        if (rc == 33) {
            q.exhausted = true;
            CloseCursor(st);
            return 33;
        }
        if (rc != 0) return rc;
        if (q.skip_current && first_open && c.consumed == 1 && !current.empty() &&
            SameRecord(st, st.file->Record(), current.data())) {
            continue;
        }
        break;
    }
    q.skip_current = false;
    SaveCopy(st);
    st.watched = watch != 0;
    st.watch_armed = false;
    return 0;
}

// After a write the result set ends; the sequence goes on after the current record.
void EndResultAfterWrite(SqlState& st) {
    if (!st.cursor.open) return;
    bool pass = st.cursor.passthrough;
    long taken = st.cursor.consumed;
    CloseCursor(st);
    if (pass || !st.seq.active) return;
    if (st.seq.key != nullptr && st.have_saved) {
        st.seq.position = true;
        st.seq.start = st.saved;
        st.seq.start_nulls = st.saved_nulls;
        st.seq.skip_current = true;
        st.seq.skip_rows = 0;
    } else {
        st.seq.skip_rows += taken;
    }
}

// ---------------------------------------------------------------------------------------
// Opening: connection, description, column attributes

int Connect(SqlState& st, DriverArgs& a) {
    if (st.conn) return 0;
    std::string state, why;
    auto env = Environment::Get(&state, &why);
    if (!env) return Fail90(a, "1", why);
    Diag d;
    auto conn =
        env->Attach(st.file->Owner(), st.opt.trustedconnection, nullptr, st.pending_connect, st.file_log, d);
    if (!conn) return Fail90(st, a, d);
    st.conn = conn;
    return 0;
}

int SetOption(SqlState& st, std::string_view name, std::string_view value, bool has_value, std::string* out);

void ApplyPendingServerOptions(SqlState& st) {
    auto pending = std::move(st.pending_server_options);
    st.pending_server_options.clear();
    for (auto& [n, v] : pending) SetOption(st, n, v, true, nullptr);
}

int Describe(SqlState& st, DriverArgs& a) {
    const OdbcApi& api = st.Api();
    OdbcHandle hs;
    if (!AllocStmt(st, hs)) return Fail90(st, a, st.diag);
    SQLHSTMT h = hs.get();
    struct Described {
        std::string name;
        SQLSMALLINT type;
        bool nullable;
    };
    std::vector<Described> found;
    std::string table = st.Table();
    auto by_columns = [&](const std::string& name) -> SQLRETURN {
        SQLRETURN rc = Call(
            st, [&] { return "Getting columns for " + name + " using" + HandleText("Statement", h); }, h,
            [&] {
                return api.SQLColumns(h, nullptr, 0, nullptr, 0,
                                      reinterpret_cast<SQLCHAR*>(const_cast<char*>(name.c_str())), SQL_NTS,
                                      reinterpret_cast<SQLCHAR*>(const_cast<char*>("%")), SQL_NTS);
            });
        if (!Succeeded(rc)) return rc;
        for (;;) {
            SQLRETURN f = api.SQLFetch(h);
            if (!Succeeded(f)) break;
            char col[256] = {0};
            SQLLEN ind = 0;
            SQLSMALLINT type = 0, nullable = SQL_NULLABLE;
            api.SQLGetData(h, 4, SQL_C_CHAR, col, sizeof col, &ind);
            api.SQLGetData(h, 5, SQL_C_SSHORT, &type, 0, &ind);
            api.SQLGetData(h, 11, SQL_C_SSHORT, &nullable, 0, &ind);
            found.push_back({col, type, nullable != SQL_NO_NULLS});
        }
        api.SQLFreeStmt(h, SQL_CLOSE);
        return rc;
    };
    if (!st.opt.verifyviaselect) {
        SQLRETURN rc = by_columns(table);
        if (!Succeeded(rc)) return FailFrom(st, a, st.diag);
        if (found.empty() && st.Rules().lower_case_catalog) {
            std::string lower = table;
            for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            by_columns(lower);
        }
    }
    if (found.empty()) {
        // No columns listed (a missing table, or a catalog that spells names differently):
        // the server itself decides through a SELECT that returns no row.
        std::string text = "SELECT * FROM " + table + " WHERE 0 = 1";
        SQLRETURN rc = Call(
            st, [&] { return StmtText("Executing", h) + " " + text; }, h,
            [&] { return api.SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS); });
        if (!Succeeded(rc)) {
            Meaning m = Classify(st.diag);
            if (m == Meaning::MissingTable || (st.Kind() == KIND_WATCOM && st.diag.state == "42000")) {
                st.diag.message = st.diag.message.empty() ? "table missing" : st.diag.message;
                return 2;
            }
            return Fail90(st, a, st.diag);
        }
        SQLSMALLINT n = 0;
        api.SQLNumResultCols(h, &n);
        for (SQLSMALLINT i = 1; i <= n; ++i) {
            char name[256] = {0};
            SQLSMALLINT len = 0, type = 0, scale = 0, nullable = SQL_NULLABLE;
            SQLULEN size = 0;
            Call(
                st,
                [&] {
                    return "Describing Column " + std::to_string(i) + " for" + HandleText("Statement", h);
                },
                h,
                [&] {
                    return api.SQLDescribeCol(h, static_cast<SQLUSMALLINT>(i),
                                              reinterpret_cast<SQLCHAR*>(name), sizeof name, &len, &type,
                                              &size, &scale, &nullable);
                });
            found.push_back({name, type, nullable != SQL_NO_NULLS});
        }
    }
    // Match the column map by name, without regard to case.
    for (Column& c : st.cols) {
        bool ok = false;
        for (const Described& d : found) {
            if (Upper(d.name) == Upper(c.name)) {
                c.sql_type = d.type;
                c.nullable = d.nullable;
                ok = true;
                break;
            }
        }
        if (ok || st.opt.noverify) continue;
        if (TraceLog* lg = st.Log()) {
            lg->Line("Invalid field name: " + c.name);
            lg->Line("Valid field names are: ");
            for (const Described& d : found) lg->Line(d.name);
            if (st.conn->case_sensitive) {
                lg->Line("Note that your server is case sensitive.");
                lg->Line("To generate case sensitive names you need");
                lg->Line("to put external names on your fields");
            }
        }
        return 47;
    }
    st.described = true;
    return 0;
}

// At the first write: auto-increment and searchable attributes of the columns.
void LearnColumnAttributes(SqlState& st) {
    if (st.attrs_known) return;
    st.attrs_known = true;
    const OdbcApi& api = st.Api();
    OdbcHandle hs;
    if (!AllocStmt(st, hs)) return;
    SQLHSTMT h = hs.get();
    std::string text = "SELECT " + ColumnList(st.cols) + " FROM " + st.Table() + " WHERE 0 = 1";
    if (!Succeeded(api.SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS))) return;
    for (std::size_t i = 0; i < st.cols.size(); ++i) {
        Column& c = st.cols[i];
        auto n = static_cast<SQLUSMALLINT>(i + 1);
        SQLLEN autoinc = 0, searchable = SQL_SEARCHABLE;
        Call(
            st,
            [&] {
                return "Getting Auto-increment state for Column" + std::to_string(n) + " for" +
                       HandleText("Statement", h);
            },
            h,
            [&] {
                return api.SQLColAttributes(h, n, SQL_COLUMN_AUTO_INCREMENT, nullptr, 0, nullptr, &autoinc);
            });
        Call(
            st,
            [&] {
                return "Getting Searchable state for Column" + std::to_string(n) + " for" +
                       HandleText("Statement", h);
            },
            h,
            [&] {
                return api.SQLColAttributes(h, n, SQL_COLUMN_SEARCHABLE, nullptr, 0, nullptr, &searchable);
            });
        if (c.mark == 0) c.mark = autoinc == SQL_TRUE ? 2 : 1;
        if (!c.nowhere_set && (searchable == SQL_UNSEARCHABLE || searchable == SQL_LIKE_ONLY))
            c.nowhere = true;
    }
}

void BuildKeys(SqlState& st) {
    st.keys.clear();
    st.id_key = -1;
    bool upper = st.conn ? st.Rules().upper_nocase : false;
    for (const Key* k : st.file->keys) st.keys.push_back(BuildKeyTexts(*st.file, *k, st.cols, upper));
    for (const Key* k : st.file->keys)
        if (k->Has(KEY_PRIMARY) && st.id_key < 0) st.id_key = k->number - 1;
    for (const Key* k : st.file->keys)
        if (!k->Has(KEY_DUP) && st.id_key < 0) st.id_key = k->number - 1;
}

void OpenTrace(SqlState& st) {
    TraceSettings ts = ReadTraceSettings();
    if (ts.trace != 0 && !st.file_log) SetOption(st, "LOGFILE", ts.trace_file, true, nullptr);
}

int DoOpen(SqlState& st, DriverArgs& a, int mode) {
    if (st.file->ExternalName().empty()) return 45;
    if (st.file->bad_declaration) return 47;
    if (st.opened) return 52;
    OpenTrace(st);
    int rc = Connect(st, a);
    if (rc != 0) return rc;
    auto hold = st.conn;  // outlives the lock when the file lets go of the connection
    std::lock_guard lock(hold->mutex);
    ApplyPendingServerOptions(st);
    if (st.Srv().forceuppercase)
        for (Column& c : st.cols) c.name = Upper(c.name);
    BuildKeys(st);
    if (!st.opt.noverify || st.opt.gatheratopen) {
        rc = Describe(st, a);
        if (rc != 0) {
            st.ReleaseStatements();
            st.conn.reset();
            return rc;
        }
    }
    st.opened = true;
    st.mode = mode;
    st.seq = Sequence{};
    st.have_saved = false;
    return 0;
}

// ---------------------------------------------------------------------------------------
// Writes

int EnsureInsert(SqlState& st, DriverArgs& a, Prepared& p, std::size_t rows) {
    if (p.stmt) return 0;
    ValueSource markers;
    Statement s = BuildInsert(st.cols, st.Table(), markers);
    if (!AllocStmt(st, p.stmt)) return Fail90(st, a, st.diag);
    SQLHSTMT h = p.stmt.get();
    p.text = s.text;
    SQLRETURN rc = Call(
        st, [&] { return StmtText("Preparing", h) + " " + s.text; }, h,
        [&] { return st.Api().SQLPrepare(h, reinterpret_cast<SQLCHAR*>(p.text.data()), SQL_NTS); });
    if (!Succeeded(rc)) {
        p.stmt.Reset();
        return FailFrom(st, a, st.diag);
    }
    p.params.Init(st.cols, s.params, rows);
    if (!BindParams(st, h, p.params)) {
        p.stmt.Reset();
        return Fail90(st, a, st.diag);
    }
    return 0;
}

int ExecutePrepared(SqlState& st, DriverArgs& a, Prepared& p, SQLULEN rows) {
    SQLHSTMT h = p.stmt.get();
    const OdbcApi& api = st.Api();
    SQLULEN done = 0;
    if (p.params.rows > 1) {
        SQLRETURN r = Call(
            st,
            [&] {
                return "Setting Parameter count to " + std::to_string(rows) + " for" +
                       HandleText("Statement", h);
            },
            h, [&] { return api.SQLParamOptions(h, rows, &done); });
        if (!Succeeded(r)) return Fail90(st, a, st.diag);
    }
    st.last_sql = p.text;
    SQLRETURN rc = Call(
        st, [&] { return StmtText("Executing prepared", h); }, h, [&] { return api.SQLExecute(h); });
    if (rc == SQL_STILL_EXECUTING || rc == SQL_NEED_DATA) return rc;
    if (!Succeeded(rc) && rc != SQL_NO_DATA) {
        api.SQLFreeStmt(h, SQL_CLOSE);
        return FailFrom(st, a, st.diag);
    }
    api.SQLFreeStmt(h, SQL_CLOSE);
    return 0;
}

int FlushAppends(SqlState& st, DriverArgs& a) {
    if (st.bulk_rows == 0) return 0;
    SQLULEN n = st.bulk_rows;
    st.bulk_rows = 0;
    Connection& c = *st.conn;
    if (!c.autocommit) return ExecutePrepared(st, a, st.bulk, n);
    // Outside a transaction the rows of one batch are committed together: a driver that
    // runs a parameter array row by row would otherwise commit (and sync) every row. Rows
    // that went in before a failure stay, as they would have row by row.
    const OdbcApi& api = st.Api();
    SQLHDBC h = c.dbc.get();
    bool wrapped = Succeeded(Call(
        st, [&] { return "Setting Auto Commit OFF for" + HandleText("Connection", h); }, nullptr,
        [&] { return api.SQLSetConnectOption(h, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF); }));
    int rc = ExecutePrepared(st, a, st.bulk, n);
    if (wrapped) {
        Diag keep = st.diag;
        SQLRETURN t = Call(
            st, [&] { return "Committing" + HandleText("Connection", h); }, nullptr,
            [&] { return api.SQLTransact(nullptr, h, SQL_COMMIT); });
        Call(
            st, [&] { return "Setting Auto Commit ON for" + HandleText("Connection", h); }, nullptr,
            [&] { return api.SQLSetConnectOption(h, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON); });
        if (rc == 0 && !Succeeded(t)) return Fail90(st, a, st.diag);
        if (rc != 0) st.diag = keep;
    }
    return rc;
}

int DoAdd(SqlState& st, DriverArgs& a, bool append) {
    if (!st.opened) return 37;
    EndResultAfterWrite(st);
    LearnColumnAttributes(st);
    PrepareNullsForWrite(st);
    if (!st.Srv().bindconstants) {
        Statement s = BuildInsert(st.cols, st.Table(), Values(st));
        int rc = ExecNoResult(st, a, s);
        if (rc == 0) SaveCopy(st);
        return rc;
    }
    if (append && !st.bulk_unsupported) {
        const std::size_t capacity = static_cast<std::size_t>(std::max<long>(st.page_size, 256));
        int rc = EnsureInsert(st, a, st.bulk, capacity);
        if (rc != 0) return rc;
        FillParams(st, st.bulk.params, st.bulk_rows++);
        SaveCopy(st);
        if (st.bulk_rows == capacity) return FlushAppends(st, a);
        return 0;
    }
    int rc = EnsureInsert(st, a, st.insert, 1);
    if (rc != 0) return rc;
    FillParams(st, st.insert.params, 0);
    rc = ExecutePrepared(st, a, st.insert, 1);
    if (rc == 0) SaveCopy(st);
    return rc;
}

// A one-row SELECT by the values of key `kt` (from the record, or the saved copy).
int SelectOne(SqlState& st, DriverArgs& a, const KeyTexts& kt, bool from_saved) {
    if (!kt.usable) return 38;
    const KindRules& rules = st.Rules();
    std::string limit = rules.limit_prefix[0] ? std::string(rules.limit_prefix) + "1" : std::string();
    ValueSource v = Values(st);
    if (from_saved) {
        v.record = v.saved;
        v.nulls = v.saved_nulls;
    }
    Statement s = BuildGetByKey(st.cols, st.Table(), kt, v, st.opt.where, limit);
    int rc = OpenCursor(st, a, s, false, limit.empty() ? 1 : 0);
    if (rc != 0) return rc;
    rc = FetchRow(st, a);
    CloseCursor(st);
    return rc == 33 ? 35 : rc;
}

int DoGet(SqlState& st, DriverArgs& a, Key& k) {
    if (!st.opened) return 37;
    st.seq = Sequence{};
    bool watch = st.watch_armed;
    std::vector<char> keep(st.file->Record(), st.file->Record() + st.file->record_length);
    int rc = SelectOne(st, a, st.keys[static_cast<std::size_t>(k.number - 1)], false);
    if (rc == 0) {
        SaveCopy(st);
        st.watched = watch;
        st.watch_armed = false;
    } else if (rc == 35) {
        // The record buffer keeps the values the caller looked for.
        std::memcpy(st.file->Record(), keep.data(), keep.size());
    }
    return rc;
}

int DoPut(SqlState& st, DriverArgs& a) {
    if (!st.opened) return 37;
    if (st.id_key < 0) return 80;
    if (!st.have_saved) return 33;
    EndResultAfterWrite(st);
    LearnColumnAttributes(st);
    PrepareNullsForWrite(st);
    const KeyTexts& id = st.keys[static_cast<std::size_t>(st.id_key)];
    Statement s = BuildUpdate(st.cols, st.Table(), id, Values(st), st.opt.where, st.file->record_length);
    if (s.text.empty()) return 0;  // nothing changed: no SQL
    if (st.watched) {
        // The row must still be as it was read.
        std::vector<char> mine(st.file->Record(), st.file->Record() + st.file->record_length);
        std::vector<std::int32_t> my_nulls = st.nulls;
        int rc = SelectOne(st, a, id, true);
        bool same =
            rc == 0 && SameRecord(st, st.file->Record(), st.saved.data()) && st.nulls == st.saved_nulls;
        std::memcpy(st.file->Record(), mine.data(), mine.size());
        st.nulls = my_nulls;
        if (rc != 0 && rc != 35) return rc;
        if (!same) return 89;
    }
    int rc = ExecNoResult(st, a, s);
    if (rc == 0) {
        SaveCopy(st);
        st.watched = false;
    }
    return rc;
}

int DoDelete(SqlState& st, DriverArgs& a) {
    if (!st.opened) return 37;
    if (st.id_key < 0) return 80;
    if (!st.have_saved) return 33;
    EndResultAfterWrite(st);
    LearnColumnAttributes(st);
    const KeyTexts& id = st.keys[static_cast<std::size_t>(st.id_key)];
    Statement s = BuildDelete(st.cols, st.Table(), id, Values(st), st.opt.where);
    return ExecNoResult(st, a, s);
}

// ---------------------------------------------------------------------------------------
// CREATE, BUILD, REMOVE

int LoadTypeInfo(SqlState& st, DriverArgs& a) {
    Connection& c = *st.conn;
    if (c.have_type_info) return 0;
    const OdbcApi& api = st.Api();
    OdbcHandle hs;
    if (!AllocStmt(st, hs)) return Fail90(st, a, st.diag);
    SQLHSTMT h = hs.get();
    SQLRETURN rc = Call(
        st, [&] { return StmtText("Getting Type Information with", h); }, h,
        [&] { return api.SQLGetTypeInfo(h, SQL_ALL_TYPES); });
    if (!Succeeded(rc)) return Fail90(st, a, st.diag);
    while (Succeeded(api.SQLFetch(h))) {
        char name[128] = {0}, params[128] = {0};
        SQLSMALLINT type = 0;
        SQLLEN ind = 0, pind = 0;
        api.SQLGetData(h, 1, SQL_C_CHAR, name, sizeof name, &ind);
        api.SQLGetData(h, 2, SQL_C_SSHORT, &type, 0, &ind);
        if (!Succeeded(api.SQLGetData(h, 6, SQL_C_CHAR, params, sizeof params, &pind)) ||
            pind == SQL_NULL_DATA)
            params[0] = 0;
        c.type_info.push_back(TypeInfo{name, type, params});
    }
    c.have_type_info = true;
    return 0;
}

// Runs `text`; when the object exists already runs `drop` and `text` once more.
int CreateWithReplace(SqlState& st, DriverArgs& a, const std::string& text, const std::string& drop,
                      bool keep) {
    int rc = ExecNoResult(st, a, Statement{text, {}});
    // PostgreSQL answers two sessions creating one table at the same moment with a
    // duplicate key in its own catalog, or with "type already exists" (42710, taken as
    // already existing), rather than "relation already exists".
    if (rc == 40 && keep) return 0;
    if (rc == 90 && Classify(st.diag) == Meaning::AlreadyExists) {
        if (keep) return 0;  // another station created it: never drop its rows
        rc = ExecNoResult(st, a, Statement{drop, {}});
        if (rc != 0) return rc;
        rc = ExecNoResult(st, a, Statement{text, {}});
    }
    return rc;
}

int DoCreate(SqlState& st, DriverArgs& a, bool keep_existing) {
    if (!st.file->Has(FILE_CREATE)) return 54;
    if (st.file->bad_declaration) return 47;
    int rc = Connect(st, a);
    if (rc != 0) return rc;
    auto hold = st.conn;  // outlives the lock when the file lets go of the connection
    std::lock_guard lock(hold->mutex);
    ApplyPendingServerOptions(st);
    rc = LoadTypeInfo(st, a);
    if (rc != 0) return rc;
    CreateRules rules;
    rules.not_null = st.Rules().not_null;
    rules.skip_tz_types = st.Rules().skip_tz_types;
    std::string text, bad;
    rc = BuildCreateTable(*st.file, st.cols, st.conn->type_info, rules, text, bad);
    if (rc == 75) {
        if (TraceLog* lg = st.Log()) {
            lg->Line("Could not Create Field " + bad);
            lg->Line("File system does not support data type");
        }
        return 75;
    }
    rc = CreateWithReplace(st, a, text, "DROP TABLE " + st.Table(), keep_existing);
    if (!st.opened) {
        st.ReleaseStatements();
        st.conn.reset();
    }
    return rc;
}

int DoBuild(SqlState& st, DriverArgs& a, Key* only) {
    int rc = Connect(st, a);
    if (rc != 0) return rc;
    auto hold = st.conn;  // outlives the lock when the file lets go of the connection
    std::lock_guard lock(hold->mutex);
    bool upper = st.Rules().upper_nocase;
    for (Key* k : st.file->keys) {
        if (only != nullptr && k != only) continue;
        std::string text = BuildCreateIndex(*st.file, *k, st.cols, upper);
        rc = CreateWithReplace(st, a, text, "DROP INDEX " + k->IndexName(), false);
        if (rc != 0) break;
    }
    if (!st.opened) {
        st.ReleaseStatements();
        st.conn.reset();
    }
    return rc;
}

int DoRemove(SqlState& st, DriverArgs& a) {
    int rc = Connect(st, a);
    if (rc != 0) return rc;
    auto hold = st.conn;  // outlives the lock when the file lets go of the connection
    std::lock_guard lock(hold->mutex);
    rc = ExecNoResult(st, a, Statement{"DROP TABLE " + st.Table(), {}});
    if (!st.opened) {
        st.ReleaseStatements();
        st.conn.reset();
    }
    return rc;
}

// ---------------------------------------------------------------------------------------
// Pass-through

int RunPassThrough(SqlState& st, DriverArgs& a, std::string_view text);

// The caller's own SQL: every failure is 90 with the server's state and message (a
// missing table or a duplicate key included), as the application reports them.
int PassThrough(SqlState& st, DriverArgs& a, std::string_view text) {
    int rc = RunPassThrough(st, a, text);
    if (rc == 2 || rc == 40) rc = Fail90(st, a, st.diag);
    return rc;
}

int RunPassThrough(SqlState& st, DriverArgs& a, std::string_view text) {
    if (!st.opened) {
        int rc = Connect(st, a);
        if (rc != 0) return rc;
    }
    std::string_view rest;
    PassKind kind = ClassifyPassThrough(text, &rest);
    st.seq = Sequence{};
    switch (kind) {
        case PassKind::Select:
            return OpenCursor(st, a, Statement{std::string(rest), {}}, true, 0);
        case PassKind::Call:
        case PassKind::NoResultCall: {
            std::string_view body = rest;
            while (!body.empty() && (body.front() == ' ' || body.front() == '\t')) body.remove_prefix(1);
            std::string call = "{CALL " + std::string(body);
            if (body.find('(') == std::string_view::npos) call += "()";
            call += "}";
            if (kind == PassKind::Call) return OpenCursor(st, a, Statement{call, {}}, true, 0);
            return ExecNoResult(st, a, Statement{call, {}});
        }
        case PassKind::Other:
        default:
            return ExecNoResult(st, a, Statement{std::string(rest), {}});
    }
}

// ---------------------------------------------------------------------------------------
// Options (driver string, SEND, properties)

void StartFileLog(SqlState& st, std::string_view plan) {
    std::string name(plan), message;
    std::size_t br = name.find('[');
    if (br != std::string::npos) {
        std::size_t close = name.find(']', br);
        message = name.substr(br + 1, close == std::string::npos ? std::string::npos : close - br - 1);
        name.resize(br);
    }
    if (st.file_log) {
        st.file_log->Line("File Closed");
        st.file_log.reset();
    }
    TraceSettings ts = ReadTraceSettings();
    st.file_log = TraceLog::Open(name, ts.flush != 0);
    st.opt.logfile = name;
    if (st.file_log)
        st.file_log->Line(std::string("Microsoft SQL") + " " + kDriverVersion + " " +
                          "Log started: " + message);
}

void StopFileLog(SqlState& st, std::string_view rest) {
    if (!st.file_log) return;
    std::string message;
    std::size_t br = rest.find('[');
    if (br != std::string_view::npos) {
        std::size_t close = rest.find(']', br);
        message = std::string(
            rest.substr(br + 1, close == std::string_view::npos ? std::string_view::npos : close - br - 1));
    }
    st.file_log->Line("Log stopped: " + message);
    st.file_log.reset();
    st.opt.logfile.clear();
}

const char* JoinTypeName(long j) {
    switch (j) {
        case 2:
            return "MICROSOFT";
        case 3:
            return "FIRSTSQL";
        case 4:
            return "DB2";
        case 5:
            return "INNER";
        case 6:
            return "NONE";
        default:
            return "WATCOM";
    }
}

// Sets (has_value) or reads one option. Unknown names are ignored (empty result).
int SetOption(SqlState& st, std::string_view raw_name, std::string_view value, bool has_value,
              std::string* out) {
    std::string name = Upper(raw_name);
    auto flag = [&](bool& f) {
        if (has_value) f = IsTrue(value);
        if (out) *out = Bool(f);
    };
    auto text = [&](std::string& t) {
        if (has_value) t = value;
        if (out) *out = t;
    };
    static const char* kServerLevel[] = {"BINDCONSTANTS",   "BINDCOLORDER",   "CLIPSTRINGS", "FORCEUPPERCASE",
                                         "FASTCOLUMNFETCH", "ISOLATIONLEVEL", "JOINTYPE",    "LOGONSCREEN",
                                         "NESTING",         "USEINNERJOIN"};
    bool server_level =
        std::find(std::begin(kServerLevel), std::end(kServerLevel), name) != std::end(kServerLevel);
    if (server_level) {
        if (!st.conn) {
            // Remembered and applied when the file connects.
            if (has_value) st.pending_server_options.emplace_back(name, std::string(value));
            if (out) {
                std::string v;
                for (auto& [n, pv] : st.pending_server_options)
                    if (n == name) v = pv;
                *out = v;
            }
            return 0;
        }
        ServerOptions& so = st.Srv();
        if (name == "BINDCONSTANTS")
            flag(so.bindconstants);
        else if (name == "CLIPSTRINGS")
            flag(so.clipstrings);
        else if (name == "FORCEUPPERCASE")
            flag(so.forceuppercase);
        else if (name == "FASTCOLUMNFETCH")
            flag(so.fastcolumnfetch);
        else if (name == "LOGONSCREEN")
            flag(so.logonscreen);
        else if (name == "USEINNERJOIN")
            flag(so.useinnerjoin);
        else if (name == "BINDCOLORDER") {
            if (has_value) so.bindcolorder = std::strtol(std::string(value).c_str(), nullptr, 10);
            if (out) *out = std::to_string(so.bindcolorder);
        } else if (name == "ISOLATIONLEVEL") {
            if (has_value) so.isolation = std::strtol(std::string(value).c_str(), nullptr, 10);
            if (out) *out = std::to_string(so.isolation);
        } else if (name == "JOINTYPE") {
            if (has_value) {
                std::string v = Upper(value);
                so.jointype = v == "MICROSOFT"  ? 2
                              : v == "FIRSTSQL" ? 3
                              : v == "DB2"      ? 4
                              : v == "INNER"    ? 5
                              : v == "NONE"     ? 6
                                                : 1;
            }
            if (out) *out = JoinTypeName(so.jointype);
        } else if (name == "NESTING") {
            if (has_value) {
                std::string v = Upper(value);
                so.nesting = v == "FALSE" ? 1 : v == "PARTIAL" ? 2 : 3;
            }
            if (out) *out = so.nesting == 1 ? "FALSE" : so.nesting == 2 ? "PARTIAL" : "TRUE";
        }
        return 0;
    }
    FileOptions& o = st.opt;
    if (name == "GATHERATOPEN")
        flag(o.gatheratopen);
    else if (name == "NOVERIFY")
        flag(o.noverify);
    else if (name == "ORDERINSELECT")
        flag(o.orderinselect);
    else if (name == "ODBCCALL")
        flag(o.odbccall);
    else if (name == "SAVESTOREDPROCEDURES" || name == "SAVESTOREDPROC") {
        flag(o.savestoredprocedures);
        if (has_value && st.conn) st.Srv().savestoredprocedures = o.savestoredprocedures;
    } else if (name == "TRUSTEDCONNECTION")
        flag(o.trustedconnection);
    else if (name == "VERIFYVIASELECT")
        flag(o.verifyviaselect);
    else if (name == "ZEROISNULL")
        flag(o.zeroisnull);
    else if (name == "NOPRIMARY")
        flag(o.noprimary);
    else if (name == "USEPRIMARY")
        flag(o.useprimary);
    else if (name == "HINT")
        text(o.hint);
    else if (name == "WHERE")
        text(o.where);
    else if (name == "LOGFILE") {
        if (has_value)
            StartFileLog(st, value);
        else if (out == nullptr)
            StopFileLog(st, value);
        if (out) *out = o.logfile;
    } else if (out) {
        out->clear();
    }
    return 0;
}

// The option names a driver string may hold.
constexpr const char* kOptionNames[] = {"BINDCONSTANTS",
                                        "BINDCOLORDER",
                                        "CLIPSTRINGS",
                                        "FORCEUPPERCASE",
                                        "FASTCOLUMNFETCH",
                                        "GATHERATOPEN",
                                        "HINT",
                                        "ISOLATIONLEVEL",
                                        "JOINTYPE",
                                        "LOGONSCREEN",
                                        "NOVERIFY",
                                        "NESTING",
                                        "ORDERINSELECT",
                                        "ODBCCALL",
                                        "SAVESTOREDPROCEDURES",
                                        "SAVESTOREDPROC",
                                        "TRUSTEDCONNECTION",
                                        "USEINNERJOIN",
                                        "VERIFYVIASELECT",
                                        "ZEROISNULL",
                                        "NOPRIMARY",
                                        "USEPRIMARY",
                                        "LOGFILE",
                                        "WHERE"};

// True when `s` (just after a "/") starts an option: a known name followed by "=", a
// blank, "/" or the end. A "/" inside a value (a path of LOGFILE) starts none.
bool StartsOption(std::string_view s) {
    for (const char* name : kOptionNames) {
        std::size_t n = std::strlen(name);
        if (s.size() < n || Upper(s.substr(0, n)) != name) continue;
        if (s.size() == n || s[n] == '=' || s[n] == ' ' || s[n] == '/' || s[n] == '\t') return true;
    }
    return false;
}

// "/NAME=value/NAME2" → options; blanks around names and values are dropped.
void ApplyDriverString(SqlState& st, std::string_view s) {
    auto trim = [](std::string_view v) {
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
        while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
        return v;
    };
    std::size_t slash = s.find('/');
    while (slash != std::string_view::npos) {
        std::size_t next = slash + 1;
        for (;;) {
            next = s.find('/', next);
            if (next == std::string_view::npos) break;
            std::string_view after = trim(s.substr(next + 1));
            if (StartsOption(after)) break;
            ++next;
        }
        std::string_view item =
            s.substr(slash + 1, next == std::string_view::npos ? std::string_view::npos : next - slash - 1);
        slash = next;
        std::size_t eq = item.find('=');
        std::string_view n = trim(item.substr(0, eq));
        if (n.empty()) continue;
        if (eq == std::string_view::npos)
            SetOption(st, n, "TRUE", true, nullptr);
        else
            SetOption(st, n, trim(item.substr(eq + 1)), true, nullptr);
    }
}

int DoSend(SqlState& st, DriverArgs& a) {
    std::string_view t = a.text;
    std::string u = Upper(t);
    if (u == "IGNORESTATUS" || u == "HELD" || u == "QUICKSCAN") return 0;
    if (t.empty() || t.front() != '/') {
        if (!st.opened && !st.conn) return 37;
        auto hold = st.conn;
        std::unique_lock<std::recursive_mutex> lock(hold->mutex);
        return PassThrough(st, a, t);
    }
    t.remove_prefix(1);
    std::size_t eq = t.find('=');
    std::string_view name = t.substr(0, eq);
    std::string result;
    if (eq == std::string_view::npos) {
        std::string n = Upper(name);
        std::size_t br = n.find('[');
        if (n.rfind("LOGFILE", 0) == 0 && (n.size() == 7 || br == 7)) {
            StopFileLog(st, t.substr(7));
            return 0;
        }
        SetOption(st, name, {}, false, &result);
    } else {
        SetOption(st, name, t.substr(eq + 1), true, &result);
    }
    if (a.out) *a.out = result;
    return 0;
}

// ---------------------------------------------------------------------------------------
// Transactions

int DoLogout(SqlState& st, DriverArgs& a) {
    int rc = Connect(st, a);
    if (rc != 0) return rc;
    auto hold = st.conn;  // outlives the lock when the file lets go of the connection
    std::lock_guard lock(hold->mutex);
    Connection& c = *st.conn;
    if (c.transaction_files++ > 0) return 0;
    SQLHDBC h = c.dbc.get();
    const OdbcApi& api = st.Api();
    long iso = st.Srv().isolation;
    const char* t = iso == 1   ? "Setting Transaction Isolation to Read Uncommitted on"
                    : iso == 2 ? "Setting Transaction Isolation to Read Committed on"
                    : iso == 8 ? "Setting Transaction Isolation to Serializable on"
                               : nullptr;
    Diag ignore;
    OdbcCall(
        api, st.Log(),
        [&] {
            return (t ? std::string(t)
                      : "Setting unknown Transaction Isolation level (" + std::to_string(iso) + ") on") +
                   HandleText("Connection", h);
        },
        nullptr, h, nullptr, &ignore,
        [&] { return api.SQLSetConnectOption(h, SQL_TXN_ISOLATION, static_cast<SQLULEN>(iso)); });
    Diag d;
    SQLRETURN r = OdbcCall(
        api, st.Log(), [&] { return "Setting Auto Commit OFF for" + HandleText("Connection", h); }, nullptr,
        h, nullptr, &d, [&] { return api.SQLSetConnectOption(h, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF); });
    if (!Succeeded(r) && Classify(d) != Meaning::NotSupported) {
        c.transaction_files = 0;
        return Fail90(st, a, d);
    }
    c.autocommit = false;
    return 0;
}

int DoEndTransaction(SqlState& st, DriverArgs& a, bool commit) {
    if (!st.conn) return 0;
    int first = 0;
    if (commit)
        first = FlushAppends(st, a);
    else
        st.bulk_rows = 0;
    auto hold = st.conn;  // outlives the lock when the file lets go of the connection
    std::lock_guard lock(hold->mutex);
    Connection& c = *st.conn;
    if (c.transaction_files > 0 && --c.transaction_files > 0) return first;
    if (c.autocommit) return first;
    SQLHDBC h = c.dbc.get();
    const OdbcApi& api = st.Api();
    Diag d;
    SQLRETURN r = OdbcCall(
        api, st.Log(),
        [&] { return std::string(commit ? "Committing" : "Rolling back") + HandleText("Connection", h); },
        nullptr, h, nullptr, &d,
        [&] { return api.SQLTransact(nullptr, h, commit ? SQL_COMMIT : SQL_ROLLBACK); });
    OdbcCall(
        api, st.Log(), [&] { return "Setting Auto Commit ON for" + HandleText("Connection", h); }, nullptr, h,
        nullptr, nullptr, [&] { return api.SQLSetConnectOption(h, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON); });
    c.autocommit = true;
    if (!Succeeded(r) && Classify(d) != Meaning::NotSupported && first == 0) return Fail90(st, a, d);
    return first;
}

// ---------------------------------------------------------------------------------------
// Dispatch

bool IsRecordMove(int op) {
    switch (op) {
        case OP_ADD:
        case OP_ADDfilelen:
        case OP_APPEND:
        case OP_APPENDlen:
        case OP_DELETE:
        case OP_GETfilekey:
        case OP_GETfileptr:
        case OP_GETfileptrlen:
        case OP_GETkeyptr:
        case OP_NEXT:
        case OP_PREVIOUS:
        case OP_PUT:
        case OP_PUTfileptr:
        case OP_PUTfileptrlen:
        case OP_REGETfile:
        case OP_REGETkey:
            return true;
        default:
            return false;
    }
}

// Operations that leave collected APPEND rows where they are.
bool KeepsAppends(int op) {
    switch (op) {
        case OP_APPEND:
        case OP_NULL:
        case OP_SETNULL:
        case OP_SETNONULL:
        case OP_GETNULLS:
        case OP_SETNULLS:
        case OP_NAME:
        case OP_BUFFER:
        case OP_GET_PROPERTY:
        case OP_ROLLBACK:
        case OP_COMMIT:
        case OP_DESTROY:
            return true;
        default:
            return false;
    }
}

std::string PositionOf(SqlState& st) {
    std::string p(st.file->Record(), st.file->record_length);
    return p;
}

int Operate(int op, File& f, SqlState& st, DriverArgs& a) {
    std::shared_ptr<Connection> hold = st.conn;  // declared first: released after the lock
    std::unique_lock<std::recursive_mutex> lock;
    if (hold) lock = std::unique_lock(hold->mutex);
    // Any operation but NEXT ends a pass-through result set. Closing the statement is a call
    // on the shared connection like any other, so it waits for the lock too.
    if (st.cursor.open && st.cursor.passthrough && op != OP_NEXT && op != OP_NULL && op != OP_GETNULLS &&
        op != OP_GET_PROPERTY && op != OP_NAME)
        CloseCursor(st);
    if (st.bulk_rows > 0 && !KeepsAppends(op)) {
        int rc = FlushAppends(st, a);
        if (rc != 0) return rc;
    }
    switch (op) {
        case OP_OPEN:
        case OP_SHARE:
            return DoOpen(st, a, static_cast<int>(a.value));
        case OP_CLOSE: {
            int rc = FlushAppends(st, a);
            if (st.file_log) st.file_log->Flush();
            if (st.profile_log) st.profile_log->Flush();
            st.ReleaseStatements();
            st.opened = false;
            st.seq = Sequence{};
            if (st.conn && st.conn->transaction_files == 0) {
                lock = {};
                st.conn.reset();
            }
            return rc;
        }
        case OP_CREATE:
            return DoCreate(st, a, a.value == 1);
        case OP_BUILDfile:
            return DoBuild(st, a, nullptr);
        case OP_BUILDkey:
        case OP_BUILDdyn:
            return DoBuild(st, a, a.key);
        case OP_REMOVE:
            return DoRemove(st, a);
        case OP_EMPTY:
            if (!st.opened) return 37;
            CloseCursor(st);
            st.have_saved = false;
            return ExecNoResult(st, a, Statement{"DELETE FROM " + st.Table(), {}});
        case OP_SETfile:
        case OP_SETkey:
        case OP_SETfilekey:
        case OP_SETkeykey:
        case OP_RESETkey:
        case OP_POSITIONfile:
        case OP_POSITIONkey: {
            if (!st.opened) return 37;
            if (op == OP_POSITIONfile || op == OP_POSITIONkey) {
                if (a.out) *a.out = PositionOf(st);
                return 0;
            }
            CloseCursor(st);
            st.seq = Sequence{};
            st.seq.active = true;
            st.seq.key = op == OP_SETfile ? nullptr : a.key;
            if (op == OP_SETfilekey || op == OP_SETkeykey || op == OP_RESETkey) {
                if (st.seq.key && !st.keys[static_cast<std::size_t>(st.seq.key->number - 1)].usable)
                    return 38;
                st.seq.position = true;
                if (op == OP_RESETkey) {
                    if (a.text.size() != st.file->record_length) {
                        if (TraceLog* lg = st.Log()) {
                            lg->Line("Reset Buffer:");
                            lg->Line("FileSize: " + std::to_string(st.file->record_length));
                            lg->Line("File Size wrong for file " + st.file->ExternalName());
                        }
                        st.seq = Sequence{};
                        return 38;
                    }
                    st.seq.start.assign(a.text.begin(), a.text.end());
                } else {
                    st.seq.start.assign(f.Record(), f.Record() + f.record_length);
                }
                st.seq.start_nulls = st.nulls;
            }
            st.have_saved = false;
            return 0;
        }
        case OP_NEXT:
        case OP_PREVIOUS:
            if (!st.opened) return 37;
            return ReadSequential(st, a, op == OP_NEXT);
        case OP_SKIP: {
            if (!st.opened) return 37;
            bool fwd = st.seq.forward;
            for (long i = 0; i < a.value; ++i) {
                int rc = ReadSequential(st, a, fwd);
                if (rc != 0) return rc;
            }
            return 0;
        }
        case OP_GETfilekey:
            return DoGet(st, a, *a.key);
        case OP_GETfileptr:
        case OP_REGETfile:
        case OP_REGETkey: {
            if (!st.opened) return 37;
            if (st.id_key < 0 && a.key == nullptr) return 80;
            if (a.text.size() != f.record_length) return 38;
            std::vector<char> keep(f.Record(), f.Record() + f.record_length);
            std::memcpy(f.Record(), a.text.data(), f.record_length);
            Key* k = a.key ? a.key : f.keys[static_cast<std::size_t>(st.id_key)];
            int rc = DoGet(st, a, *k);
            if (rc != 0) std::memcpy(f.Record(), keep.data(), keep.size());
            return rc;
        }
        case OP_ADD:
            return DoAdd(st, a, false);
        case OP_APPEND:
            return DoAdd(st, a, true);
        case OP_PUT:
            return DoPut(st, a);
        case OP_DELETE:
            return DoDelete(st, a);
        case OP_RECORDSfile:
        case OP_RECORDSkey: {
            if (!st.opened) return 37;
            std::string text;
            if (op == OP_RECORDSfile) {
                text = "SELECT COUNT(*) FROM " + st.Table();
            } else {
                const KeyTexts& kt = st.keys[static_cast<std::size_t>(a.key->number - 1)];
                if (!kt.usable) return 38;
                text = "SELECT COUNT ( DISTINCT " + st.cols[static_cast<std::size_t>(kt.columns[0])].name +
                       " ) FROM " + st.Table();
            }
            OdbcHandle hs;
            if (!AllocStmt(st, hs)) return Fail90(st, a, st.diag);
            SQLHSTMT h = hs.get();
            SQLRETURN rc = Call(
                st, [&] { return StmtText("Executing", h) + " " + text; }, h,
                [&] { return st.Api().SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS); });
            if (!Succeeded(rc)) return FailFrom(st, a, st.diag);
            SQLINTEGER n = 0;
            SQLLEN ind = 0;
            if (Succeeded(st.Api().SQLFetch(h))) st.Api().SQLGetData(h, 1, SQL_C_SLONG, &n, 0, &ind);
            a.result = n;
            return 0;
        }
        case OP_HOLDfile:
        case OP_HOLDfilesec:
            st.hold_timeout = op == OP_HOLDfile ? -1 : a.value;
            return 0;
        case OP_RELEASE:
        case OP_UNLOCK:
            return 0;
        case OP_LOCKfile:
            return 0;
        case OP_LOCKfilesec:
            return 0;  // the SQL driver takes no file locks: the first attempt succeeds
        case OP_WATCH:
            st.watch_armed = true;
            return 0;
        case OP_LOGOUT:
            return DoLogout(st, a);
        case OP_COMMIT:
            return DoEndTransaction(st, a, true);
        case OP_ROLLBACK:
            return DoEndTransaction(st, a, false);
        case OP_SEND:
            return DoSend(st, a);
        case OP_NAME:
            if (a.out) *a.out = f.ExternalName();
            return 0;
        case OP_NULL:
        case OP_SETNULL:
        case OP_SETNONULL: {
            long i = a.value;
            if (op != OP_NULL && i == -1) {
                for (auto& n : st.nulls) n = op == OP_SETNULL ? -1 : 0;
                return 0;
            }
            if (i < 0 || static_cast<std::size_t>(i) >= st.nulls.size()) return 47;
            if (op == OP_NULL)
                a.result = st.nulls[static_cast<std::size_t>(i)] == -1 ? 1 : 0;
            else
                st.nulls[static_cast<std::size_t>(i)] = op == OP_SETNULL ? -1 : 0;
            return 0;
        }
        case OP_GETNULLS:
            if (a.out)
                a.out->assign(reinterpret_cast<const char*>(st.nulls.data()),
                              st.nulls.size() * sizeof(std::int32_t));
            return 0;
        case OP_SETNULLS:
            if (a.text.size() != st.nulls.size() * sizeof(std::int32_t)) return 78;
            std::memcpy(st.nulls.data(), a.text.data(), a.text.size());
            return 0;
        case OP_BUFFER:
            if (a.words[0] > 0) st.page_size = std::min<long>(a.words[0], 10000);
            return 0;
        case OP_SET_PROPERTY:
        case OP_DO_PROPERTY:
            switch (a.value) {
                case PROP_SQL:
                    if (!st.opened) return 37;
                    return PassThrough(st, a, a.text);
                case PROP_SQLFilter:
                    st.sql_filter = a.text;
                    return 0;
                case PROP_LogFile:
                    StartFileLog(st, a.text);
                    return 0;
                case PROP_Where:
                    st.opt.where = a.text;
                    return 0;
                default:
                    return 0;
            }
        case OP_GET_PROPERTY:
            if (a.out) {
                switch (a.value) {
                    case PROP_SQL:
                        *a.out = st.last_sql;
                        break;
                    case PROP_SQLFilter:
                        *a.out = st.sql_filter;
                        break;
                    case PROP_LogFile:
                        *a.out = st.opt.logfile;
                        break;
                    case PROP_Where:
                        *a.out = st.opt.where;
                        break;
                    case PROP_ServerKind:
                        *a.out = st.conn ? std::to_string(st.Kind()) : "";
                        break;
                    case PROP_DbmsName:
                        *a.out = st.conn ? st.conn->dbms_name : "";
                        break;
                    case PROP_ResultColumns:
                        *a.out = std::to_string(
                            st.cursor.open && st.cursor.passthrough ? st.cursor.result_columns : 0);
                        break;
                    case PROP_DriverName:
                        *a.out = st.conn ? st.conn->driver_name : "";
                        break;
                    default:
                        a.out->clear();
                        break;
                }
            }
            return 0;
        case OP_SETPROPERTYkey:
            if (a.value == 0 || a.value == PROP_SQL) st.opt.key_hints[a.key->number - 1] = a.text;
            return 0;
        case OP_GETPROPERTYkey:
            if (a.out) *a.out = st.opt.key_hints[a.key->number - 1];
            return 0;
        case OP_GETSTATE: {
            SavedState s;
            s.record.assign(f.Record(), f.Record() + f.record_length);
            s.saved = st.saved;
            s.have_saved = st.have_saved;
            s.nulls = st.nulls;
            s.saved_nulls = st.saved_nulls;
            s.seq = st.seq;
            a.result = st.next_state;
            st.states[st.next_state++] = std::move(s);
            return 0;
        }
        case OP_RESTORESTATE: {
            auto it = st.states.find(a.value);
            if (it == st.states.end()) return 78;
            CloseCursor(st);
            const SavedState& s = it->second;
            std::memcpy(f.Record(), s.record.data(), f.record_length);
            st.saved = s.saved;
            st.have_saved = s.have_saved;
            st.nulls = s.nulls;
            st.saved_nulls = s.saved_nulls;
            st.seq = s.seq;
            if (st.seq.active && st.seq.key != nullptr && st.have_saved) {
                st.seq.position = true;
                st.seq.start = st.saved;
                st.seq.start_nulls = st.saved_nulls;
                st.seq.skip_current = true;
                st.seq.skip_rows = 0;
                st.seq.exhausted = false;
            }
            return 0;
        }
        case OP_FREESTATE:
            st.states.erase(a.value);
            return 0;
        case OP_BYTES:
            a.result = static_cast<long>(f.record_length);
            return 0;
        case OP_DUPLICATE:
        case OP_DUPLICATEkey: {
            // Would the record create a duplicate in a unique key (or in `key`)?
            if (!st.opened) return 37;
            a.result = 0;
            for (Key* k : f.keys) {
                if (a.key != nullptr && k != a.key) continue;
                if (k->Has(KEY_DUP)) continue;
                std::vector<char> keep(f.Record(), f.Record() + f.record_length);
                auto keep_nulls = st.nulls;
                int rc = SelectOne(st, a, st.keys[static_cast<std::size_t>(k->number - 1)], false);
                std::memcpy(f.Record(), keep.data(), keep.size());
                st.nulls = keep_nulls;
                if (rc == 0)
                    a.result = 1;
                else if (rc != 35)
                    return rc;
            }
            return 0;
        }
        case OP_PACK:
        case OP_SQLCALLBACK:
            return 0;
        default:
            return 80;
    }
}

}  // namespace

const DriverRegistration& SqlDriver() {
    return kRegistration;
}

int SqlDriverEntry(int op, File& f, DriverArgs& a) {
    if (op == OP_QUERY_VIEW) return 80;  // the view engine is not part of this driver yet
    if (!f.driver_slot) {
        if (op == OP_CLOSE || op == OP_DESTROY) return 0;
        auto st = std::make_unique<SqlState>(f);
        ApplyDriverString(*st, f.driver_string);
        TraceSettings ts = ReadTraceSettings();
        if (ts.profile != 0) {
            st->profile = true;
            st->details = ts.details != 0;
            st->profile_log = TraceLog::Open(ts.trace_file, ts.flush != 0);
        }
        f.driver_slot = std::move(st);
    }
    SqlState& st = *StateOf(f);
    if (op == OP_DESTROY) {
        f.driver_slot.reset();
        return 0;
    }
    long start = st.profile ? Centiseconds() : 0;
    // Without the ODBC library every operation but SEND, NAME and the properties fails.
    if (op != OP_SEND && op != OP_NAME && op != OP_SET_PROPERTY && op != OP_GET_PROPERTY && op != OP_CLOSE) {
        std::string state, why;
        if (!Environment::Get(&state, &why)) {
            a.file_error_code = "1";
            a.file_error = why;
            return 90;
        }
    }
    int rc = Operate(op, f, st, a);
    if (st.profile && st.profile_log && op != OP_Internal87 && op != OP_Internal91) {
        if (st.details && !st.dumped) {
            st.profile_log->Write(DumpDeclaration(f));
            st.dumped = true;
        }
        const Key* key = TakesKey(op) ? a.key : nullptr;
        std::string line = ProfileLine(op, f, key, rc, a.file_error, Centiseconds() - start);
        if (st.details && rc == 0 && IsRecordMove(op)) line += DumpRecord(f, st.nulls);
        if (st.details && (op == OP_SETkeykey || op == OP_SETkeykeyptr) && a.key) line += DumpKey(f, *a.key);
        st.profile_log->Write(line);
    }
    return rc;
}

int CreateIfMissing(File& f) {
    DriverArgs a;
    a.value = 1;
    return CallDriver(OP_CREATE, f, a);
}

}  // namespace dt
