#include "data/sql_connection.h"

#include "data/driver_logs.h"
#include "data/sql_text.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/registry.h"

namespace dt {
namespace {

std::atomic<long> g_login_timeout{5};

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && Upper(s.substr(0, prefix.size())) == Upper(prefix);
}

bool ContainsNoCase(std::string_view s, std::string_view part) {
    return Upper(s).find(Upper(part)) != std::string::npos;
}

bool IsPostgresDriver(std::string_view name) {
    return ContainsNoCase(name, "PostgreSQL");
}
bool IsSqliteDriver(std::string_view name) {
    return ContainsNoCase(name, "SQLite");
}

const char* IsolationText(long level) {
    switch (level) {
        case SQL_TXN_READ_UNCOMMITTED:
            return "Setting Transaction Isolation to Read Uncommitted on";
        case SQL_TXN_READ_COMMITTED:
            return "Setting Transaction Isolation to Read Committed on";
        case SQL_TXN_SERIALIZABLE:
            return "Setting Transaction Isolation to Serializable on";
        default:
            return nullptr;
    }
}

std::string& EmbeddedDirectoryText() {
    static std::string directory;
    return directory;
}

}  // namespace

void SetEmbeddedDirectory(std::string directory) {
    EmbeddedDirectoryText() = std::move(directory);
}

const std::string& EmbeddedDirectory() {
    return EmbeddedDirectoryText();
}

void SetLoginTimeout(long seconds) {
    g_login_timeout = seconds;
}
long LoginTimeout() {
    return g_login_timeout;
}

std::string HandleText(const char* what, const void* handle) {
    char buf[64];
    std::snprintf(buf, sizeof buf, " %s %lx", what,
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(handle)));
    return buf;
}

const KindRules& RulesFor(int kind) {
    // SQL Server (and every kind not listed) keeps the statement texts as they are and
    // limits one-row reads with the statement's maximum-rows option.
    static const KindRules kDefault{"", false, false, false, true};
    static const KindRules kBtrieve{"", false, false, false, false};
    static const KindRules kPostgres{" LIMIT ", true, true, true, true};
    static const KindRules kSqlite{" LIMIT ", true, false, false, true};
    switch (kind) {
        case KIND_POSTGRESQL:
            return kPostgres;
        case KIND_SQLITE:
            return kSqlite;
        case KIND_BTRIEVE:
            return kBtrieve;
        default:
            return kDefault;
    }
}

OwnerParts SplitOwner(std::string_view owner) {
    OwnerParts p;
    std::string* parts[] = {&p.server, &p.database, &p.user, &p.password, &p.tail};
    std::size_t i = 0;
    for (char c : owner) {
        if (c == ',' && i < 4) {
            ++i;
            continue;
        }
        *parts[i] += c;
    }
    return p;
}

std::string BuildAttributes(std::string_view driver_name, std::string_view owner, bool trusted) {
    OwnerParts p = SplitOwner(owner);
    if (Upper(p.user).find("UID=") != std::string::npos) return std::string(owner);
    // The password part carries the program's own attributes after its first ';'
    // ("secret;APP=DRIVETREK;WSID=PC1"); the password itself is data and is quoted.
    std::string password = p.password, extra;
    std::size_t semi = password.find(';');
    if (semi != std::string::npos) {
        extra = password.substr(semi + 1);
        password.resize(semi);
    }
    std::string out;
    auto sep = [&] {
        if (!out.empty()) out += ';';
    };
    if (IsSqliteDriver(driver_name)) {
        // The embedded database X is the file X.db in the embedded directory.
        if (!p.database.empty())
            out += "Database=" + QuoteAttribute(EmbeddedDirectory() + p.database + ".db");
        sep();
        // Write-ahead log: readers (the file browse) do not block the scan's writer, and a
        // commit or a spill of the page cache needs no journal sync.
        out += "Timeout=10000;JournalMode=WAL";
    } else {
        if (!p.server.empty()) {
            std::size_t eq = p.server.find('=');
            if (StartsNoCase(p.server, "Address") && eq != std::string::npos && eq >= 7) {
                out += "Address=" + QuoteAttribute(p.server.substr(eq + 1));
            } else {
                std::string host = p.server, port;
                std::size_t colon = host.rfind(':');
                if (IsPostgresDriver(driver_name) && colon != std::string::npos) {
                    port = host.substr(colon + 1);
                    host.resize(colon);
                }
                out += "Server=" + QuoteAttribute(host);
                if (!port.empty()) out += ";Port=" + QuoteAttribute(port);
            }
            if (!p.database.empty()) out += ";Database=" + QuoteAttribute(p.database);
        }
        if (!trusted) {
            if (!p.user.empty()) {
                sep();
                out += "UID=" + QuoteAttribute(p.user);
            }
            if (!p.password.empty()) {
                sep();
                out += "PWD=" + QuoteAttribute(password);
            }
        }
        if (IsPostgresDriver(driver_name)) {
            // Character columns longer than 255 are VARCHAR, not long text, in descriptions.
            // The driver's communication log (which Debian's driver registration turns on)
            // would leave a file in /tmp for every connection.
            sep();
            out += "MaxVarcharSize=65535;CommLog=0";
        }
    }
    if (!extra.empty()) {
        sep();
        out += extra;
    }
    if (!p.tail.empty()) {
        sep();
        out += p.tail;
    }
    if (!IsPostgresDriver(driver_name) && !IsSqliteDriver(driver_name) &&
        !ContainsNoCase(owner, "TDS_Version")) {
        // FreeTDS left to find the protocol version itself ignores the login time-out
        // against a server that accepts and never answers; other drivers ignore the
        // attribute, and an older server answers with its own version.
        sep();
        out += "TDS_Version=7.4";
    }
    return out;
}

std::string BuildConnectionString(std::string_view driver_name, std::string_view owner, bool trusted) {
    return "Driver={" + std::string(driver_name) + "};" + BuildAttributes(driver_name, owner, trusted);
}

Recognition Recognize(std::string_view file, std::string_view dbms, std::string_view ver) {
    Recognition r;
    bool sqlsrv = false;
    if (StartsNoCase(file, "FIRSTSQL")) {
        r.kind = KIND_FIRSTSQL;
        r.jointype = 3;
    } else if (StartsNoCase(file, "IVSYB13")) {
        r.fastcolumnfetch_off = true;
    } else if (StartsNoCase(file, "MYODBC.DLL")) {
        r.kind = KIND_MYSQL;
    } else if (StartsNoCase(file, "ODBCJT")) {
        r.kind = KIND_ACCESS;
        r.jointype = 1;
        r.nesting = 1;
    } else if (StartsNoCase(file, "SQLSRV")) {
        sqlsrv = true;
    } else if (StartsNoCase(file, "SQORA7") || StartsNoCase(file, "SQO32_7")) {
        r.kind = KIND_ORACLE;
        r.jointype = 2;
        r.nesting = 1;
        r.clipstrings_off = true;
    } else if (StartsNoCase(file, "SQOCI32")) {
        r.kind = KIND_ORACLE_OCI;
    } else if (StartsNoCase(file, "WOD50")) {
        r.kind = KIND_WATCOM;
    } else if (StartsNoCase(file, "WINBTINT") || StartsNoCase(file, "W32BTINT")) {
        r.kind = KIND_BTRIEVE;
    } else if (StartsNoCase(file, "DB2") || StartsNoCase(file, "libdb2")) {
        r.kind = KIND_DB2;
        r.jointype = 4;
        r.clipstrings_off = true;
    } else if (StartsNoCase(file, "psqlodbc") || StartsNoCase(dbms, "PostgreSQL")) {
        r.kind = KIND_POSTGRESQL;
    } else if (ContainsNoCase(file, "sqlite") || StartsNoCase(dbms, "SQLite")) {
        r.kind = KIND_SQLITE;
    }
    // SQL Server through another driver file (FreeTDS): the DBMS name tells.
    if (!sqlsrv && r.kind == KIND_UNKNOWN && ContainsNoCase(dbms, "SQL Server")) sqlsrv = true;
    if (sqlsrv) {
        // "VV.vv.bbbb": 7.0 and later, 6.5, other 6.x, older.
        char d0 = ver.size() > 0 ? ver[0] : '0', d1 = ver.size() > 1 ? ver[1] : '0';
        char d3 = ver.size() > 3 ? ver[3] : '0';
        if (d0 > '0' || d1 > '6') {
            r.kind = KIND_SQLSERVER;
            r.literal_limit = 0;
            r.jointype = 1;
            r.nesting = 3;
        } else if (d1 == '6' && d3 > '4') {
            r.kind = KIND_SQLSERVER6;
            r.literal_limit = 255;
            r.jointype = 1;
            r.nesting = 3;
        } else if (d1 == '6') {
            r.kind = KIND_SQLSERVER6;
            r.literal_limit = 255;
        } else {
            r.kind = KIND_SQLSERVER_OLD;
        }
        if (r.jointype == 0) r.jointype = 2;
        if (r.nesting == 0) r.nesting = 2;
    } else if (r.jointype == 0) {
        r.jointype = 1;
    }
    return r;
}

std::vector<std::string> DriverNameList() {
    std::vector<std::string> names;
    std::optional<std::string> dll =
        platform::ReadMachineRegistryValue("Software\\Kestrelworks\\MSSQL", "DLL", 260);
    if (dll && !dll->empty()) names.push_back(*dll);
    names.push_back("SQL Server");
    names.push_back("SQLite3");
    return names;
}

Connection::Connection(std::shared_ptr<Environment> e, std::shared_ptr<Server> s)
    : env(std::move(e)), server(std::move(s)) {}

Connection::~Connection() {
    if (!dbc) return;
    TraceLog* lg = env->log.get();
    void* h = dbc.get();
    if (dbc.connected()) {
        OdbcCall(
            api(), lg, [&] { return "Disconnecting" + HandleText("Connection", h); }, nullptr, h, nullptr,
            nullptr, [&] { return api().SQLDisconnect(h); });
        dbc.SetConnected(false);
    }
    OdbcCall(
        api(), lg, [&] { return "Freeing" + HandleText("Connection", h); }, nullptr, nullptr, nullptr,
        nullptr, [&] { return api().SQLFreeConnect(h); });
    dbc.Release();  // freed above, with its trace line
}

const OdbcApi& Connection::api() const {
    return env->library->api;
}
std::shared_ptr<TraceLog> Connection::log() const {
    return env->log;
}

std::shared_ptr<Environment> Environment::Get(std::string* state, std::string* why) {
    static std::mutex m;
    static std::shared_ptr<Environment> env;
    static std::string failure;
    std::lock_guard lock(m);
    if (env) return env;
    if (!failure.empty()) {
        if (state) *state = "1";
        if (why) *why = failure;
        return nullptr;
    }
    std::string reason;
    QuietDriverLogs();  // before the driver manager first reads the registrations
    auto lib = OdbcLibrary::Load(OdbcLibraryName(), &reason);
    if (!lib) {
        // Remembered: every later operation fails the same way without trying again.
        failure = OdbcLibraryName() + " Could Not Be Loaded";
        if (state) *state = "1";
        if (why) *why = failure;
        return nullptr;
    }
    auto e = std::shared_ptr<Environment>(new Environment());
    e->library = lib;
    TraceSettings ts = ReadTraceSettings();
    if (ts.trace != 0) {
        e->log = TraceLog::Open(ts.trace_file, ts.flush != 0);
        if (e->log) e->log->Write(std::string(kDriverVersion) + " " + "32" + " bit Log started: " + "\r\n");
    }
    SQLHENV h = nullptr;
    SQLRETURN rc = OdbcCall(
        lib->api, e->log.get(), [&] { return std::string("Allocating Environment "); }, nullptr, nullptr,
        nullptr, nullptr, [&] { return lib->api.SQLAllocEnv(&h); });
    if (!Succeeded(rc) || h == nullptr) {
        if (state) *state = "1";
        if (why) *why = "ODBC environment could not be allocated";
        return nullptr;
    }
    e->env = OdbcHandle(&lib->api, OdbcHandle::Env, h);
    env = e;
    return env;
}

Environment::~Environment() = default;

std::shared_ptr<Server> Environment::FindServer(const std::string& owner) {
    std::lock_guard lock(servers_mutex_);
    if (owner.empty()) return servers_.empty() ? nullptr : servers_.back();
    for (auto& s : servers_)
        if (s->owner == owner) return s;
    return nullptr;
}

std::shared_ptr<Connection> Environment::Attach(const std::string& owner, bool trusted,
                                                const ServerOptions* file_options,
                                                const std::map<int, long>& file_pending,
                                                std::shared_ptr<TraceLog> file_log, Diag& diag) {
    std::lock_guard lock(servers_mutex_);
    std::shared_ptr<Server> server;
    if (owner.empty() && !servers_.empty()) {
        server = servers_.back();
    } else {
        for (auto& s : servers_)
            if (s->owner == owner) server = s;
    }
    if (!server) {
        server = std::make_shared<Server>();
        server->owner = owner;
        server->driver_names = DriverNameList();
        if (file_options) server->options = *file_options;
        servers_.push_back(server);
    }
    if (auto c = server->connection.lock()) return c;
    for (auto& [opt, value] : file_pending) server->pending[opt] = value;

    const OdbcApi& api = library->api;
    TraceLog* lg = file_log ? file_log.get() : log.get();
    if (server->driver_names.empty()) {
        diag = Diag{SQL_ERROR, "1", 0, "Driver Not Installed"};
        return nullptr;
    }
    auto self = shared_from_this();
    for (const std::string& name : server->driver_names) {
        auto conn = std::make_shared<Connection>(self, server);
        SQLHDBC h = nullptr;
        SQLRETURN rc = OdbcCall(
            api, lg, [&] { return "Allocating" + HandleText("Connection", nullptr); }, env.get(), nullptr,
            nullptr, &diag, [&] { return api.SQLAllocConnect(env.get(), &h); });
        if (!Succeeded(rc)) return nullptr;
        conn->dbc = OdbcHandle(&api, OdbcHandle::Dbc, h);
        // A server that accepts and never answers must not hang the program.
        OdbcCall(
            api, lg, [&] { return "Setting Connection timeout for" + HandleText("Connection", h); }, nullptr,
            h, nullptr, nullptr,
            [&] { return api.SQLSetConnectOption(h, SQL_LOGIN_TIMEOUT, LoginTimeout()); });
        for (auto& [opt, value] : server->pending) {
            if (opt == SQL_LOGIN_TIMEOUT) continue;
            std::string text;
            long v = value;
            if (opt == SQL_AUTOCOMMIT)
                text = v ? "Setting Auto Commit ON for" : "Setting Auto Commit OFF for";
            else if (opt == SQL_TXN_ISOLATION) {
                const char* t = IsolationText(v);
                text = t ? t : "Setting unknown Transaction Isolation level (" + std::to_string(v) + ") on";
            } else if (opt == SQL_TRANSLATE_DLL)
                text = "Setting translation DLL to";
            else
                text = "Setting Connection Information";
            OdbcCall(
                api, lg, [&] { return text + HandleText("Connection", h); }, nullptr, h, nullptr, nullptr,
                [&] {
                    return api.SQLSetConnectOption(h, static_cast<SQLUSMALLINT>(opt),
                                                   static_cast<SQLULEN>(v));
                });
        }
        std::string cs = BuildConnectionString(name, owner, trusted);
        SQLCHAR outbuf[256] = {0};
        SQLSMALLINT outlen = 0;
        bool prompt = false;  // no window to prompt from: never show a logon dialog
        rc = OdbcCall(
            api, lg, [&] { return "Connecting to " + MaskPassword(cs) + HandleText("Connection", h); },
            nullptr, h, nullptr, &diag,
            [&] {
                return api.SQLDriverConnect(h, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS,
                                            outbuf, sizeof outbuf - 1, &outlen,
                                            prompt ? SQL_DRIVER_COMPLETE_REQUIRED : SQL_DRIVER_NOPROMPT);
            });
        if (!Succeeded(rc)) {
            // Only a driver that cannot be loaded moves on to the next name; a refused
            // login or an unreachable server is this connection's error.
            if (Classify(diag) == Meaning::DriverMissing) continue;
            return nullptr;
        }
        conn->dbc.SetConnected(true);
        conn->driver_name = name;
        auto info = [&](SQLUSMALLINT what, const char* text) {
            char buf[256] = {0};
            SQLSMALLINT len = 0;
            OdbcCall(
                api, lg, [&] { return std::string(text) + HandleText("Connection", h); }, nullptr, h, nullptr,
                nullptr, [&] { return api.SQLGetInfo(h, what, buf, sizeof buf - 1, &len); });
            return std::string(buf);
        };
        info(SQL_ACTIVE_STATEMENTS, "Getting number of statements per connection for");
        conn->dbms_version = info(SQL_DBMS_VER, "Getting DBMS Version for");
        conn->driver_file = info(SQL_DRIVER_NAME, "Getting Driver Name for");
        info(SQL_DRIVER_VER, "Getting Driver Version for");
        info(SQL_DRIVER_ODBC_VER, "Getting ODBC Version for");
        conn->dbms_name = info(SQL_DBMS_NAME, "Getting Connection Information for");
        Recognition r = Recognize(conn->driver_file, conn->dbms_name, conn->dbms_version);
        server->kind = r.kind;
        server->literal_limit = r.literal_limit;
        if (server->options.jointype == 0) server->options.jointype = r.jointype;
        if (server->options.nesting == 0) server->options.nesting = r.nesting;
        if (r.fastcolumnfetch_off) server->options.fastcolumnfetch = false;
        if (r.clipstrings_off) server->options.clipstrings = false;
        SQLUSMALLINT ident = 0;
        SQLSMALLINT len = 0;
        if (Succeeded(api.SQLGetInfo(h, SQL_IDENTIFIER_CASE, &ident, sizeof ident, &len)))
            conn->case_sensitive = ident == SQL_IC_SENSITIVE;
        server->connection = conn;
        return conn;
    }
    return nullptr;
}

}  // namespace dt
