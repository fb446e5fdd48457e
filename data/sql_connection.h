// The SQL driver's process-wide ODBC environment, its server objects (one per distinct
// owner text) and their shared connections; the connection string built from an owner
// text, the driver-name list and server recognition.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/odbc.h"
#include "data/sql_text.h"
#include "data/trace.h"

namespace dt {

// Server kinds. 1..11 as the driver has always numbered them; 12 and 13 for the
// servers reached here through psqlODBC and the SQLite driver.
enum ServerKindCode : int {
    KIND_UNKNOWN = 0,
    KIND_ACCESS = 1,
    KIND_ORACLE = 2,
    KIND_SQLSERVER_OLD = 3,
    KIND_SQLSERVER6 = 4,
    KIND_FIRSTSQL = 5,
    KIND_WATCOM = 6,
    KIND_BTRIEVE = 7,
    KIND_DB2 = 8,
    KIND_ORACLE_OCI = 9,
    KIND_MYSQL = 10,
    KIND_SQLSERVER = 11,
    KIND_POSTGRESQL = 12,
    KIND_SQLITE = 13,
};

// What differs between server kinds, in one table (see KindRules).
struct KindRules {
    const char* limit_prefix;  // " LIMIT " + n ends a SELECT that wants n rows; "" = SQL_MAX_ROWS
    bool upper_nocase;         // NOCASE character key components written as UPPER(col)
    bool skip_tz_types;        // never create a "...tz" type for a timestamp pair
    bool lower_case_catalog;   // unquoted names are stored in lower case (catalog lookups)
    bool not_null;             // CREATE TABLE writes NOT NULL
};
const KindRules& RulesFor(int kind);

// The parts of an owner text "server,database,user,password[;attributes][,tail]". Each of
// the first four parts is either plain text up to the next comma or a value in braces
// ("{a,b;c}}d}" is "a,b;c}d"), which may hold any character. The password part's plain
// form ends at its first ';' (what follows are the program's own attributes); a braced
// password is followed by its ";attributes" directly.
struct OwnerParts {
    std::string server, database, user, password;
    std::string attributes;    // "APP=DRIVETREK;WSID=PC1": connection attributes as they stand
    std::string tail;          // after the fourth comma, as it stands
    bool user_braced = false;  // a braced user is data, never the "UID=" attribute string
};
OwnerParts SplitOwner(std::string_view owner);

// One part of an owner text: `value` as it stands when SplitOwner reads it back unchanged,
// else in braces with '}' doubled. `keep_equals` leaves a value with '=' unbraced (the
// server part's "Address=host" form).
std::string OwnerPart(std::string_view value, bool keep_equals = false);

// The attribute part of the connection string for driver `driver_name` (see CONNECTION.md):
// Server=/Address=, Database=, UID=, PWD=, the program's attributes and the tail, each
// value quoted the way that driver reads it, so that it stays one attribute whatever it
// holds; "host:port" becomes Server=host;Port=port for PostgreSQL; for the SQLite driver
// database X is the file X.db.
std::string BuildAttributes(std::string_view driver_name, std::string_view owner, bool trusted);
// "Driver={name};" + BuildAttributes(...).
std::string BuildConnectionString(std::string_view driver_name, std::string_view owner, bool trusted);
// `connection` with the attributes `extra` ("A=1;B=2") at its end; an attribute of
// `connection` that `extra` names again (the name compared without case) is left out, so
// that the extra value counts with drivers that take the first occurrence (SQLite's
// Timeout=) as with those that take the last. Values in braces are kept whole.
std::string WithAttributes(std::string_view connection, std::string_view extra);

// What SetEmbeddedLibraryForOneThread did.
enum class EmbeddedLibrarySetup {
    Done,     // set before its first use
    InUse,    // the library was in use already (or refused): nothing changed
    Missing,  // no shared SQLite library here: nothing to set
};

// For a program that uses each embedded-database connection from one thread and never
// from two at once (dtfind): sets the shared SQLite library the driver loads to its
// multi-thread mode (no lock taken around each call on a connection) and without memory
// statistics (no lock around each allocation). The driver asks the library for every
// column of every row, twice, and copies each value: a large result otherwise costs
// millions of lock pairs. Must run before the process's first connection to the embedded
// database; the library stays loaded.
EmbeddedLibrarySetup SetEmbeddedLibraryForOneThread();

// The directory the embedded database's files are kept in, ending with "/"; empty (the
// default) for the current directory. Set once at start-up, before the first connection.
void SetEmbeddedDirectory(std::string directory);
const std::string& EmbeddedDirectory();

// Server kind from the driver's file name, DBMS name and version; also sets join type,
// nesting and the fast-column-fetch/clip flags the way recognition does.
struct Recognition {
    int kind = KIND_UNKNOWN;
    long jointype = 0, nesting = 0;
    long literal_limit = 0;  // 0 = none
    bool fastcolumnfetch_off = false;
    bool clipstrings_off = false;
};
Recognition Recognize(std::string_view driver_file, std::string_view dbms_name,
                      std::string_view dbms_version);

// The driver names to try: the registry stand-in's "DLL" value when set, "SQL Server",
// then the embedded "SQLite3".
std::vector<std::string> DriverNameList();

// The names of `names` a connection tries, in order, given the driver names the driver
// manager has registered (`registered`; nullopt when it could not list them: every name
// is tried). A name that is not registered (compared without case) would only fail as a
// driver that cannot be loaded, after the driver manager has searched the library
// directories for a file of that name: it is left out, unless it is the last name (whose
// failure is the one reported) or could be the file name of a driver library itself
// (holds "/" or ".so"), which the driver manager loads without a registration.
std::vector<std::string> DriverNamesToTry(const std::vector<std::string>& names,
                                          const std::optional<std::vector<std::string>>& registered);

struct ServerOptions {
    bool bindconstants = true;
    long bindcolorder = 0;
    bool clipstrings = true;
    bool forceuppercase = false;
    bool fastcolumnfetch = true;
    long isolation = 8;  // during transactions
    long jointype = 0;   // 0 = not set
    long nesting = 0;
    bool logonscreen = true;
    bool useinnerjoin = true;
    bool savestoredprocedures = false;
};

class Connection;
class Environment;

// One per distinct owner text.
class Server {
  public:
    std::string owner;
    std::vector<std::string> driver_names;
    int kind = KIND_UNKNOWN;
    long literal_limit = 0;
    ServerOptions options;
    std::map<int, long> pending;  // connection options asked for before a connection existed
    std::weak_ptr<Connection> connection;
};

// A shared ODBC connection. Calls on it are serialised by `mutex` (held by the driver for
// the length of each file operation).
class Connection {
  public:
    Connection(std::shared_ptr<Environment> env, std::shared_ptr<Server> server);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    std::recursive_mutex mutex;
    std::shared_ptr<Environment> env;
    std::shared_ptr<Server> server;
    OdbcHandle dbc;
    std::string driver_name;  // the ODBC driver name that connected
    std::string driver_file, dbms_name, dbms_version;
    bool case_sensitive = false;  // identifiers
    bool autocommit = true;
    int transaction_files = 0;        // files of the current LOGOUT on this connection
    std::vector<TypeInfo> type_info;  // cached SQLGetTypeInfo
    bool have_type_info = false;

    const OdbcApi& api() const;
    std::shared_ptr<TraceLog> log() const;  // the environment log (may be null)
};

// The process-wide environment.
class Environment : public std::enable_shared_from_this<Environment> {
  public:
    // The environment, loading the driver manager at the first call. nullptr with `why`
    // (file error text) when the library cannot be loaded or the environment not allocated.
    static std::shared_ptr<Environment> Get(std::string* state, std::string* why);
    ~Environment();

    std::shared_ptr<const OdbcLibrary> library;
    OdbcHandle env;
    std::shared_ptr<TraceLog> log;

    // The connection for an owner: the server object with that exact owner text (an empty
    // owner joins the most recent one), its connection or a new one. On failure returns
    // nullptr with `diag` set (state "1" and a text for a missing driver list).
    std::shared_ptr<Connection> Attach(const std::string& owner, bool trusted,
                                       const ServerOptions* file_options,
                                       const std::map<int, long>& file_pending,
                                       std::shared_ptr<TraceLog> file_log, Diag& diag);
    // The server object of an owner, or nullptr.
    std::shared_ptr<Server> FindServer(const std::string& owner);
    // A connection of its own for `owner`, never shared with the tables (a scan's
    // transactions and locks): the same driver names and string, plus `extra` attributes.
    std::shared_ptr<Connection> ConnectDedicated(const std::string& owner, bool trusted,
                                                 const std::string& extra, Diag& diag);

  private:
    // The driver names the driver manager has registered, read at each call (a driver
    // registered while the program runs counts from its next connection); nullopt when
    // the driver manager cannot list them. The driver manager keeps the place in its list
    // in the environment: one listing at a time (registrations_mutex_), or two threads
    // connecting at once would each see part of it.
    std::optional<std::vector<std::string>> RegisteredDrivers(TraceLog* lg);
    std::mutex registrations_mutex_;
    std::shared_ptr<Connection> ConnectServer(const std::shared_ptr<Server>& server, const std::string& owner,
                                              bool trusted, const std::string& extra, TraceLog* lg,
                                              Diag& diag);
    std::mutex servers_mutex_;
    std::vector<std::shared_ptr<Server>> servers_;
};

// After an ODBC call that did not succeed: takes the diagnostics from the handle at once
// (into `diag`, unless the call succeeded with information) and writes the error or warning
// lines to `log`.
inline void TakeDiagnostics(const OdbcApi& api, TraceLog* log, SQLRETURN rc, SQLHENV env, SQLHDBC dbc,
                            SQLHSTMT stmt, Diag* diag) {
    if (rc == SQL_SUCCESS || rc == SQL_NO_DATA || rc == SQL_STILL_EXECUTING || rc == SQL_NEED_DATA) return;
    Diag d = ReadDiag(api, rc, env, dbc, stmt);
    if (log != nullptr) log->Write(DiagnosticText(rc == SQL_SUCCESS_WITH_INFO, d.state, d.message));
    if (diag != nullptr && rc != SQL_SUCCESS_WITH_INFO) *diag = std::move(d);
}

// Runs one ODBC call through the checked path: with a log, writes the action text and the
// object before the call and " Time Taken:" after it; when the call does not succeed,
// takes the diagnostics from the handle at once (into `diag`) and writes the error or
// warning line. `describe` builds the action text only when a log is open.
template <class Describe, class Call>
SQLRETURN OdbcCall(const OdbcApi& api, TraceLog* log, Describe&& describe, SQLHENV env, SQLHDBC dbc,
                   SQLHSTMT stmt, Diag* diag, Call&& call) {
    long start = 0;
    if (log != nullptr) {
        log->Write(describe());
        start = Centiseconds();
    }
    SQLRETURN rc = call();
    if (log != nullptr) log->Write(" Time Taken:" + FormatElapsed(Centiseconds() - start) + "\r\n");
    TakeDiagnostics(api, log, rc, env, dbc, stmt, diag);
    return rc;
}

// As OdbcCall, for a call whose line names what only the call gives back (the handle an
// allocation makes, a count of rows, a procedure's return code): the line is written
// whole after the call; `describe` gets the call's result.
template <class Describe, class Call>
SQLRETURN OdbcCallNamedAfter(const OdbcApi& api, TraceLog* log, Describe&& describe, SQLHENV env, SQLHDBC dbc,
                             SQLHSTMT stmt, Diag* diag, Call&& call) {
    const long start = log != nullptr ? Centiseconds() : 0;
    SQLRETURN rc = call();
    if (log != nullptr)
        log->Write(describe(rc) + " Time Taken:" + FormatElapsed(Centiseconds() - start) + "\r\n");
    TakeDiagnostics(api, log, rc, env, dbc, stmt, diag);
    return rc;
}

// "Statement 1a2b", "Connection 1a2b", "Environment 1a2b".
std::string HandleText(const char* what, const void* handle);

// Login time-out of new connections, in seconds (default 5).
void SetLoginTimeout(long seconds);
long LoginTimeout();

// The database time-out in seconds (`[database] timeout=`, default 60): how long one
// statement, or a wait for a lock another session holds, may take. PostgreSQL
// connections get it as statement_timeout and lock_timeout, the embedded database as its
// busy time-out; a scan's statement watch uses it for a server that stops answering.
void SetDatabaseTimeout(long seconds);
long DatabaseTimeout();
// Sends the time-outs to a new connection (PostgreSQL only; the others take them in the
// connection string).
void ApplySessionTimeouts(Connection& c, TraceLog* lg);

}  // namespace dt
