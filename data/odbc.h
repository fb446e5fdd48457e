// The ODBC call-level interface, loaded at run time from the driver manager by name
// (never linked), move-only owners of ODBC handles, diagnostics taken from the failing
// handle, and the one place where failures are recognised by their meaning across the
// SQLSTATE spellings and native codes of the drivers in use.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <string>
#include <string_view>

namespace dt {

// The driver manager's library name.
inline constexpr const char* kOdbcLibrary = "libodbc.so.2";

// Entry points, taken by name in this order.
struct OdbcApi {
#define DT_ODBC_FN(name) decltype(&::name) name = nullptr;
// clang-format off
#define DT_ODBC_FUNCTIONS(X) \
    X(SQLAllocConnect) \
    X(SQLAllocEnv) \
    X(SQLAllocStmt) \
    X(SQLBindCol) \
    X(SQLBindParameter) \
    X(SQLSetParam) \
    X(SQLColAttributes) \
    X(SQLColumns) \
    X(SQLConnect) \
    X(SQLDataSources) \
    X(SQLDescribeCol) \
    X(SQLDisconnect) \
    X(SQLDriverConnect) \
    X(SQLDrivers) \
    X(SQLError) \
    X(SQLExecDirect) \
    X(SQLExecute) \
    X(SQLExtendedFetch) \
    X(SQLFetch) \
    X(SQLForeignKeys) \
    X(SQLFreeConnect) \
    X(SQLFreeEnv) \
    X(SQLFreeStmt) \
    X(SQLGetConnectOption) \
    X(SQLGetData) \
    X(SQLGetFunctions) \
    X(SQLGetInfo) \
    X(SQLGetStmtOption) \
    X(SQLGetTypeInfo) \
    X(SQLNumResultCols) \
    X(SQLParamData) \
    X(SQLParamOptions) \
    X(SQLPrepare) \
    X(SQLPrimaryKeys) \
    X(SQLPutData) \
    X(SQLRowCount) \
    X(SQLSetConnectOption) \
    X(SQLSetStmtOption) \
    X(SQLStatistics) \
    X(SQLTables) \
    X(SQLTransact)
    // clang-format on
    DT_ODBC_FUNCTIONS(DT_ODBC_FN)
#undef DT_ODBC_FN
    // Taken when the driver manager has it (may be null): the row-wise binding of a row
    // block for drivers that take it only as a statement attribute.
    decltype(&::SQLSetStmtAttr) SQLSetStmtAttr = nullptr;
};

// The loaded driver manager. Never unloaded: drivers it loaded may still run code
// (thread-exit handlers) until the process ends.
class OdbcLibrary {
  public:
    // Loads `name` and takes every entry point. nullptr when the library cannot be loaded
    // or lacks an entry point; `why` then says which.
    static std::shared_ptr<const OdbcLibrary> Load(const std::string& name, std::string* why);
    OdbcApi api;

  private:
    void* handle_ = nullptr;
};

// One diagnostic record.
struct Diag {
    SQLRETURN rc = SQL_SUCCESS;
    std::string state;  // five characters, or "r=<rc>" when the driver gave "00000"
    SQLINTEGER native = 0;
    std::string message;  // without leading bracketed prefixes
};

// Takes the first diagnostic record of the handle that failed (pass the most specific
// handle, the others null).
Diag ReadDiag(const OdbcApi& api, SQLRETURN rc, SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt);

// Removes every leading "[...]" prefix of a driver message.
std::string StripBracketPrefixes(std::string_view message);

// What a failure means, whatever spelling the driver chose.
enum class Meaning {
    None,
    MissingTable,   // S0002, 42S02, 42P01, SQLite "no such table"
    AlreadyExists,  // table or index exists: S0001, S0011, 42S01, 42S11, 42P07, SQLite "already exists"
    DuplicateKey,   // 23505, 23000 (unique/primary), SQLite native 19 with UNIQUE/PRIMARY KEY
    DriverMissing,  // IM002, IM003, 01000 "Can't open lib"
    NotSupported,   // IM001, S1C00, HYC00
    Connection,     // 08xxx
    Other,
};
Meaning Classify(const Diag& d);

inline bool Succeeded(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// Move-only owner of an ODBC handle; frees it (SQLFreeStmt SQL_DROP, SQLFreeConnect after
// a disconnect, SQLFreeEnv) when destroyed. Destruction never throws.
class OdbcHandle {
  public:
    enum Kind { Env, Dbc, Stmt };
    OdbcHandle() = default;
    OdbcHandle(const OdbcApi* api, Kind kind, void* h) : api_(api), kind_(kind), h_(h) {}
    OdbcHandle(OdbcHandle&& o) noexcept { *this = std::move(o); }
    OdbcHandle& operator=(OdbcHandle&& o) noexcept;
    OdbcHandle(const OdbcHandle&) = delete;
    OdbcHandle& operator=(const OdbcHandle&) = delete;
    ~OdbcHandle() { Reset(); }

    void* get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void Reset();
    // Forgets the handle without freeing it (the caller freed it itself).
    void* Release() {
        void* h = h_;
        h_ = nullptr;
        connected_ = false;
        return h;
    }
    // A connected Dbc handle is disconnected before it is freed.
    void SetConnected(bool c) { connected_ = c; }
    bool connected() const { return connected_; }

  private:
    const OdbcApi* api_ = nullptr;
    Kind kind_ = Stmt;
    void* h_ = nullptr;
    bool connected_ = false;
};

// For tests: the library name the driver loads on first use (default kOdbcLibrary).
void SetOdbcLibraryNameForTesting(const std::string& name);
std::string OdbcLibraryName();

}  // namespace dt
