#include "data/sql_driver.h"

#include <memory>
#include <mutex>
#include <string>

#include "data/sql_driver_internal.h"

// The SQL driver's public entry: its registration record, and the dispatch that routes
// each operation to its family (sql_driver_open, _cursor, _write, _ddl, _state and
// _options; values in sql_driver_values).

namespace dt {

using namespace sqldrv;

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

// The units of the driver, one per family of operations.
enum class Family { Open, Cursor, Write, Ddl, State, Options, Unknown };

Family FamilyOf(int op) {
    switch (op) {
        case OP_OPEN:
        case OP_SHARE:
        case OP_CLOSE:
        case OP_LOGOUT:
        case OP_COMMIT:
        case OP_ROLLBACK:
        case OP_HOLDfile:
        case OP_HOLDfilesec:
        case OP_RELEASE:
        case OP_UNLOCK:
        case OP_LOCKfile:
        case OP_LOCKfilesec:
        case OP_WATCH:
            return Family::Open;
        case OP_SETfile:
        case OP_SETkey:
        case OP_SETfilekey:
        case OP_SETkeykey:
        case OP_RESETkey:
        case OP_POSITIONfile:
        case OP_POSITIONkey:
        case OP_NEXT:
        case OP_PREVIOUS:
        case OP_SKIP:
        case OP_GETfilekey:
        case OP_GETfileptr:
        case OP_REGETfile:
        case OP_REGETkey:
        case OP_RECORDSfile:
        case OP_RECORDSkey:
            return Family::Cursor;
        case OP_ADD:
        case OP_APPEND:
        case OP_PUT:
        case OP_DELETE:
        case OP_DUPLICATE:
        case OP_DUPLICATEkey:
            return Family::Write;
        case OP_CREATE:
        case OP_BUILDfile:
        case OP_BUILDkey:
        case OP_BUILDdyn:
        case OP_REMOVE:
        case OP_EMPTY:
        case OP_PACK:
            return Family::Ddl;
        case OP_NAME:
        case OP_NULL:
        case OP_SETNULL:
        case OP_SETNONULL:
        case OP_GETNULLS:
        case OP_SETNULLS:
        case OP_BUFFER:
        case OP_GETSTATE:
        case OP_RESTORESTATE:
        case OP_FREESTATE:
        case OP_BYTES:
            return Family::State;
        case OP_SEND:
        case OP_SET_PROPERTY:
        case OP_DO_PROPERTY:
        case OP_GET_PROPERTY:
        case OP_SETPROPERTYkey:
        case OP_GETPROPERTYkey:
        case OP_SQLCALLBACK:
            return Family::Options;
        default:
            return Family::Unknown;
    }
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
    switch (FamilyOf(op)) {
        case Family::Open:
            return OpenOperation(op, st, a, lock);
        case Family::Cursor:
            return CursorOperation(op, f, st, a);
        case Family::Write:
            return WriteOperation(op, f, st, a);
        case Family::Ddl:
            return DdlOperation(op, st, a);
        case Family::State:
            return StateOperation(op, f, st, a);
        case Family::Options:
            return OptionsOperation(op, st, a);
        case Family::Unknown:
            break;
    }
    return 80;
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
