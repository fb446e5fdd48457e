// Internal to the SQL driver (data/sql_driver*.cpp only; never installed or included
// outside data/): the per-file state, the statement owners, and the functions the
// driver's units share.
//
// The driver speaks ODBC 2 (SQLAllocStmt, SQLError, SQLSetConnectOption, SQLExtendedFetch,
// SQLParamOptions) because it mirrors a runtime whose file driver did: the trace log names
// these calls, the environment gets the S1xxx states an ODBC 2 environment reports, and
// applications compare FILEERRORCODE against them. For the same reason it reads one
// diagnostic record per failed call (a single SQLError): the trace log and
// FILEERRORCODE/FILEERROR report only that first record, which names the failure.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/file.h"
#include "data/sql_connection.h"
#include "data/sql_driver.h"
#include "data/sql_text.h"
#include "data/statements.h"
#include "data/trace.h"
#include "runtime/errors.h"
#include "runtime/types.h"

namespace dt::sqldrv {

// ---------------------------------------------------------------------------------------
// Options kept per file

struct FileOptions {
    bool gatheratopen = false, noverify = false, orderinselect = false, odbccall = false;
    bool savestoredprocedures = false, trustedconnection = false, verifyviaselect = false;
    bool zeroisnull = false, noprimary = false, useprimary = false;
    std::string hint, next_hint, where, logfile;
    std::map<int, std::string> key_hints;
};

// ---------------------------------------------------------------------------------------
// Values between record fields and ODBC buffers

struct Slot {  // one bound column or parameter
    int col = -1;
    SQLSMALLINT ctype = SQL_C_CHAR;
    SQLLEN buflen = 0;  // bytes of one value
};

// Parameters carry dates, times and ULONGs in the types every ODBC driver here converts
// right (see sql_driver_values.cpp).
Slot ParamSlotFor(const std::vector<Column>& cols, int ci);

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
    std::vector<char> record, saved, null_bytes;
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
        null_bytes.assign(f.record_length, 0);
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
        FreeStatement(cursor.stmt);
        FreeStatement(insert.stmt);
        FreeStatement(bulk.stmt);
        cursor = Cursor{};
        insert = Prepared{};
        bulk = Prepared{};
        attrs_known = false;
    }
    // Frees a statement handle with its trace line.
    void FreeStatement(OdbcHandle& h) {
        if (!h) return;
        if (!conn) {
            h.Reset();
            return;
        }
        void* p = h.get();
        OdbcCall(
            Api(), Log(), [&] { return "Freeing" + HandleText("Statement", p); }, nullptr, nullptr, p,
            nullptr, [&] { return Api().SQLFreeStmt(p, SQL_DROP); });
        h.Release();
    }

    std::shared_ptr<Connection> conn;  // declared first: destroyed last
    File* file;
    std::vector<Column> cols;
    std::vector<KeyTexts> keys;
    int id_key = -1;
    std::vector<char> saved;
    bool have_saved = false;
    std::vector<std::int32_t> nulls, saved_nulls;
    // What each field held when its null flag was set (by a read, SETNULL, SETNULLS or the
    // zero-is-NULL rule): a write that finds other bytes there writes them as its value.
    std::vector<char> null_bytes;
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

inline SqlState* StateOf(File& f) {
    return static_cast<SqlState*>(f.driver_slot.get());
}

// ---------------------------------------------------------------------------------------
// Values (sql_driver_values.cpp)

Slot SlotFor(const std::vector<Column>& cols, int ci);
const char* CTypeName(SQLSMALLINT t);
SQLLEN ToOdbc(const Column& c, const Slot& s, const char* record, bool is_null, bool clip, char* out);
void ClearField(const Column& c, char* record);
void FromOdbc(const Column& c, const Slot& s, const char* in, SQLLEN ind, char* record);
SQLSMALLINT SqlTypeFor(const Column& c);

// ---------------------------------------------------------------------------------------
// Failures and ODBC helpers bound to a file (sql_driver_state.cpp)

int Fail90(SqlState& st, DriverArgs& a, const Diag& d);
int Fail90(DriverArgs& a, std::string_view state, std::string_view message);
int FailFrom(SqlState& st, DriverArgs& a, const Diag& d);

template <class What, class Fn>
SQLRETURN Call(SqlState& st, What&& what, SQLHSTMT stmt, Fn&& fn) {
    return OdbcCall(st.Api(), st.Log(), what, nullptr, stmt ? nullptr : st.conn->dbc.get(), stmt, &st.diag,
                    fn);
}

std::string StmtText(const char* action, const void* h);
bool AllocStmt(SqlState& st, OdbcHandle& out);
void CloseCursor(SqlState& st);
void FillParams(SqlState& st, ParamSet& ps, std::size_t row);
bool BindParams(SqlState& st, SQLHSTMT h, ParamSet& ps);
void PrepareNullsForWrite(SqlState& st);
void SaveCopy(SqlState& st);
ValueSource Values(SqlState& st);
int ExecNoResult(SqlState& st, DriverArgs& a, const Statement& s, long* rows = nullptr);
// Ends the statement's result set.
void CloseStmt(SqlState& st, SQLHSTMT h);
// A row of the statement's result, and a column of that row.
SQLRETURN Fetch(SqlState& st, SQLHSTMT h);
SQLRETURN GetData(SqlState& st, SQLHSTMT h, SQLUSMALLINT n, SQLSMALLINT ctype, void* value, SQLLEN size,
                  SQLLEN* ind);
// Runs `text` at once; a stored-procedure call shows its return code on its trace line.
SQLRETURN ExecDirect(SqlState& st, SQLHSTMT h, const std::string& text);
// Remembers what field `i` holds as its null flag is set.
void NoteNull(SqlState& st, std::size_t i);

// A statement of one operation, freed with its trace line when the operation ends.
class ScratchStatement {
  public:
    explicit ScratchStatement(SqlState& st) : st_(st) {}
    ~ScratchStatement() { st_.FreeStatement(handle); }
    ScratchStatement(const ScratchStatement&) = delete;
    ScratchStatement& operator=(const ScratchStatement&) = delete;
    bool Allocate() { return AllocStmt(st_, handle); }
    SQLHSTMT get() const { return handle.get(); }
    OdbcHandle handle;

  private:
    SqlState& st_;
};

// ---------------------------------------------------------------------------------------
// Result sets (sql_driver_cursor.cpp)

int OpenCursor(SqlState& st, DriverArgs& a, const Statement& s, bool passthrough, long max_rows);
int FetchRow(SqlState& st, DriverArgs& a);
bool SameRecord(const SqlState& st, const char* a, const char* b);
void EndResultAfterWrite(SqlState& st);

// ---------------------------------------------------------------------------------------
// Opening (sql_driver_open.cpp)

int Connect(SqlState& st, DriverArgs& a);
void ApplyPendingServerOptions(SqlState& st);
void LearnColumnAttributes(SqlState& st);

// ---------------------------------------------------------------------------------------
// Writes (sql_driver_write.cpp)

int FlushAppends(SqlState& st, DriverArgs& a);
int DoGet(SqlState& st, DriverArgs& a, Key& k);

// ---------------------------------------------------------------------------------------
// Options (sql_driver_options.cpp)

int SetOption(SqlState& st, std::string_view name, std::string_view value, bool has_value, std::string* out);
void ApplyDriverString(SqlState& st, std::string_view s);

// ---------------------------------------------------------------------------------------
// Operation families. SqlDriverEntry (sql_driver.cpp) routes each operation to the one
// family that handles it; each family answers 80 for an operation it does not know.

// OPEN, SHARE, CLOSE, LOGOUT, COMMIT, ROLLBACK and the lock operations. CLOSE releases
// `lock` (the connection's) before it lets go of the connection.
int OpenOperation(int op, SqlState& st, DriverArgs& a, std::unique_lock<std::recursive_mutex>& lock);
// SET, RESET, POSITION, NEXT, PREVIOUS, SKIP, GET, REGET, RECORDS.
int CursorOperation(int op, File& f, SqlState& st, DriverArgs& a);
// ADD, APPEND, PUT, DELETE, DUPLICATE.
int WriteOperation(int op, File& f, SqlState& st, DriverArgs& a);
// CREATE, BUILD, REMOVE, EMPTY, PACK.
int DdlOperation(int op, SqlState& st, DriverArgs& a);
// NAME, BYTES, BUFFER, the null flags and the saved states.
int StateOperation(int op, File& f, SqlState& st, DriverArgs& a);
// SEND, the file and key properties, SQLCALLBACK.
int OptionsOperation(int op, SqlState& st, DriverArgs& a);

}  // namespace dt::sqldrv
