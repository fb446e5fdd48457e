#include "data/sql_connection.h"

#include "data/driver_logs.h"
#include "data/sql_text.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/registry.h"
#include "platform/text.h"

namespace dt {
namespace {

std::atomic<long> g_login_timeout{5};
std::atomic<long> g_database_timeout{60};

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

EmbeddedLibrarySetup SetEmbeddedLibraryForOneThread() {
    // The driver's library by its run-time name: the driver loaded later is given this
    // same copy. A driver built with its own copy is not reached (Missing or no effect).
    static void* const library = ::dlopen("libsqlite3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return EmbeddedLibrarySetup::Missing;
    using ConfigFunction = int (*)(int, ...);
    const auto config = reinterpret_cast<ConfigFunction>(::dlsym(library, "sqlite3_config"));
    if (config == nullptr) return EmbeddedLibrarySetup::Missing;
    // The library's option numbers and its "OK" (sqlite3.h); once it is in use both calls
    // are refused and nothing changes.
    constexpr int kOk = 0, kMultiThread = 2, kMemoryStatistics = 9;
    const bool threads = config(kMultiThread) == kOk;
    const bool statistics = threads && config(kMemoryStatistics, 0) == kOk;
    return threads && statistics ? EmbeddedLibrarySetup::Done : EmbeddedLibrarySetup::InUse;
}

void SetLoginTimeout(long seconds) {
    g_login_timeout = seconds;
}
long LoginTimeout() {
    return g_login_timeout;
}

void SetDatabaseTimeout(long seconds) {
    g_database_timeout = seconds > 0 ? seconds : 60;
}
long DatabaseTimeout() {
    return g_database_timeout;
}

// Runs `texts` in order on a statement of its own; a failing statement is traced and
// the next one runs all the same.
void RunSessionStatements(Connection& c, TraceLog* lg, const std::vector<std::string>& texts) {
    const OdbcApi& api = c.api();
    SQLHSTMT h = nullptr;
    SQLHDBC dbc = c.dbc.get();
    if (!Succeeded(OdbcCallNamedAfter(
            api, lg,
            [&](SQLRETURN) {
                return "Allocating" + HandleText("Statement", h) + " on" + HandleText("Connection", dbc);
            },
            nullptr, dbc, nullptr, nullptr, [&] { return api.SQLAllocStmt(dbc, &h); })))
        return;
    for (std::string text : texts) {
        OdbcCall(
            api, lg, [&] { return "Executing" + HandleText("Statement", h) + " " + text; }, nullptr, nullptr,
            h, nullptr,
            [&] { return api.SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS); });
        OdbcCall(
            api, lg, [&] { return "Closing" + HandleText("Statement", h); }, nullptr, nullptr, h, nullptr,
            [&] { return api.SQLFreeStmt(h, SQL_CLOSE); });
    }
    OdbcCall(
        api, lg, [&] { return "Freeing" + HandleText("Statement", h); }, nullptr, nullptr, h, nullptr,
        [&] { return api.SQLFreeStmt(h, SQL_DROP); });
}

void ApplySessionTimeouts(Connection& c, TraceLog* lg) {
    if (c.server->kind != KIND_POSTGRESQL) return;
    // The server ends a statement, or a wait for another session's lock, that takes longer
    // than the time-out, and says why; a silent peer is found by the keep-alive settings
    // of the connection string.
    const std::string ms = std::to_string(DatabaseTimeout() * 1000);
    RunSessionStatements(c, lg, {"SET statement_timeout = " + ms, "SET lock_timeout = " + ms});
}

// The embedded database X is the file X.db in the embedded directory.
std::string EmbeddedFile(std::string_view database) {
    return EmbeddedDirectory() + std::string(database) + ".db";
}

// True when the embedded database file that `owner` names does not exist yet or holds
// nothing: connecting creates it. False when the file is named otherwise (a raw attribute
// string, or a Database attribute among the extra ones).
bool EmbeddedFileIsNew(std::string_view driver_name, std::string_view owner, std::string_view extra) {
    if (!IsSqliteDriver(driver_name) || ContainsNoCase(extra, "Database=")) return false;
    const OwnerParts p = SplitOwner(owner);
    if (p.database.empty() || (!p.user_braced && ContainsNoCase(p.user, "UID="))) return false;
    struct stat st;
    const std::string path = EmbeddedFile(p.database);
    return ::stat(path.c_str(), &st) != 0 ? errno == ENOENT : st.st_size == 0;
}

// A database file made by this connection gets pages of 16 KB instead of the library's
// 4 KB: a site's table of files and its indexes are written in bulk and read in ranges,
// and a quarter of the pages takes about a third off building the indexes after a first
// scan. The page size is fixed once the write-ahead log is on (the driver turns it on as
// it connects), so the still empty file goes back to a rollback journal for the change.
// Another program that has the new file open already keeps it from changing: the file
// then stays as it is, which is as good a database.
void SizeNewEmbeddedPages(Connection& c, TraceLog* lg) {
    RunSessionStatements(
        c, lg, {"PRAGMA journal_mode=DELETE", "PRAGMA page_size=16384", "VACUUM", "PRAGMA journal_mode=WAL"});
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

namespace {

// A braced owner part at s[i] == '{': the value up to the '}' that is not doubled, when that
// brace ends the part (end of text, ',' or, after the password, ';'). `i` then stands after
// the brace. Anything else is no braced part (an older owner text's plain value).
bool ReadBraced(std::string_view s, std::size_t& i, std::string& out, bool password) {
    std::string v;
    for (std::size_t j = i + 1; j < s.size(); ++j) {
        if (s[j] != '}') {
            v += s[j];
            continue;
        }
        if (j + 1 < s.size() && s[j + 1] == '}') {
            v += '}';
            ++j;
            continue;
        }
        const std::size_t after = j + 1;
        if (after < s.size() && s[after] != ',' && !(password && s[after] == ';')) return false;
        out = std::move(v);
        i = after;
        return true;
    }
    return false;
}

std::string Braced(std::string_view value) {
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

// psqlODBC copies UID and Database values as they stand: only a ';' or a leading '{' (or
// blank, which it may drop) keeps such a value from being one attribute. Those go to
// libpq through the driver's pqopt attribute instead.
bool NeedsLibpqOption(std::string_view value) {
    return value.find(';') != std::string_view::npos ||
           (!value.empty() && (value.front() == '{' || value.front() == ' '));
}

// A libpq connection option value: single quotes, '\' and '\'' escaped by '\'.
std::string LibpqQuote(std::string_view value) {
    std::string out = "'";
    for (char c : value) {
        if (c == '\\' || c == '\'') out += '\\';
        out += c;
    }
    return out + "'";
}

// The SQLite driver reads its Database value up to the next ';' and knows no braces; a
// file name it would cut or misread goes as a "file:" URI with its bytes percent-encoded.
std::string SqliteDatabaseValue(std::string_view file) {
    bool plain = file.find_first_of(";{}%?#") == std::string_view::npos && !StartsNoCase(file, "file:") &&
                 (file.empty() || file.front() != ' ');
    if (plain) return std::string(file);
    std::string out = "file:";
    for (unsigned char c : file) {
        if (std::isalnum(c) || c == '.' || c == '_' || c == '-' || c == '/' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

}  // namespace

OwnerParts SplitOwner(std::string_view owner) {
    OwnerParts p;
    std::string* parts[] = {&p.server, &p.database, &p.user, &p.password};
    std::size_t i = 0;
    for (int k = 0; k < 4; ++k) {
        const bool password = k == 3;
        bool braced = i < owner.size() && owner[i] == '{' && ReadBraced(owner, i, *parts[k], password);
        if (k == 2) p.user_braced = braced;
        if (!braced) {
            std::size_t end = std::min(owner.find(',', i), owner.size());
            *parts[k] = std::string(owner.substr(i, end - i));
            i = end;
            if (password) {
                // The plain password ends at its first ';': the program's attributes follow.
                std::size_t semi = p.password.find(';');
                if (semi != std::string::npos) {
                    p.attributes = p.password.substr(semi + 1);
                    p.password.resize(semi);
                }
            }
        } else if (password && i < owner.size() && owner[i] == ';') {
            std::size_t end = std::min(owner.find(',', i), owner.size());
            p.attributes = std::string(owner.substr(i + 1, end - i - 1));
            i = end;
        }
        if (i >= owner.size()) break;
        ++i;  // the comma
        if (password) p.tail = std::string(owner.substr(i));
    }
    return p;
}

std::string OwnerPart(std::string_view value, bool keep_equals) {
    bool plain = value.find_first_of(",;{}") == std::string_view::npos &&
                 (keep_equals || value.find('=') == std::string_view::npos);
    return plain ? std::string(value) : Braced(value);
}

std::string BuildAttributes(std::string_view driver_name, std::string_view owner, bool trusted) {
    OwnerParts p = SplitOwner(owner);
    if (!p.user_braced && ContainsNoCase(p.user, "UID=")) return std::string(owner);
    const bool pg = IsPostgresDriver(driver_name);
    std::string out;
    auto add = [&](std::string_view attribute) {
        if (!out.empty()) out += ';';
        out += attribute;
    };
    if (IsSqliteDriver(driver_name)) {
        if (!p.database.empty()) add("Database=" + SqliteDatabaseValue(EmbeddedFile(p.database)));
        // Write-ahead log: readers (the file browse) do not block the scan's writer, and a
        // commit or a spill of the page cache needs no journal sync.
        add("Timeout=" + std::to_string(DatabaseTimeout() * 1000) + ";JournalMode=WAL");
    } else {
        std::string pqopt;  // libpq options for values psqlODBC cannot take as attributes
        if (!p.server.empty()) {
            std::size_t eq = p.server.find('=');
            if (StartsNoCase(p.server, "Address") && eq != std::string::npos && eq >= 7) {
                add("Address=" + QuoteAttribute(p.server.substr(eq + 1)));
            } else {
                std::string host = p.server, port;
                std::size_t colon = host.rfind(':');
                if (pg && colon != std::string::npos) {
                    port = host.substr(colon + 1);
                    host.resize(colon);
                }
                add("Server=" + QuoteAttribute(host));
                if (!port.empty()) add("Port=" + QuoteAttribute(port));
            }
            if (!p.database.empty()) {
                if (pg && NeedsLibpqOption(p.database))
                    pqopt += " dbname=" + LibpqQuote(p.database);
                else
                    add("Database=" + (pg ? p.database : QuoteAttribute(p.database)));
            }
        }
        if (!trusted) {
            if (!p.user.empty()) {
                if (pg && NeedsLibpqOption(p.user))
                    pqopt += " user=" + LibpqQuote(p.user);
                else
                    add("UID=" + (pg ? p.user : QuoteAttribute(p.user)));
            }
            // psqlODBC decodes an unbraced password ('+' is a blank, "%41" is "A"): its
            // password always goes in braces.
            if (!p.password.empty())
                add("PWD=" + (pg ? Braced(p.password) : QuoteAttribute(p.password)));
            else if (!p.attributes.empty())
                add("PWD=");
        }
        if (!pqopt.empty()) add("pqopt=" + Braced(pqopt.substr(1)));
        if (pg) {
            // Character columns longer than 255 are VARCHAR, not long text, in descriptions.
            // The driver's communication log (which Debian's driver registration turns on)
            // would leave a file in /tmp for every connection.
            add("MaxVarcharSize=65535;CommLog=0");
            // A peer that stops answering is noticed within about a minute.
            add("KeepaliveTime=30;KeepaliveInterval=5");
        }
    }
    if (!p.attributes.empty()) add(p.attributes);
    if (!p.tail.empty()) add(p.tail);
    if (!pg && !IsSqliteDriver(driver_name) && !ContainsNoCase(p.attributes + ";" + p.tail, "TDS_Version")) {
        // FreeTDS left to find the protocol version itself ignores the login time-out
        // against a server that accepts and never answers; other drivers ignore the
        // attribute, and an older server answers with its own version.
        add("TDS_Version=7.4");
    }
    return out;
}

std::string BuildConnectionString(std::string_view driver_name, std::string_view owner, bool trusted) {
    return "Driver={" + std::string(driver_name) + "};" + BuildAttributes(driver_name, owner, trusted);
}

namespace {

// The attributes of a connection string, each "Name=value" as it stands: a ';' inside a
// value in braces ('}' doubled within) does not end it.
std::vector<std::string_view> SplitAttributes(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t begin = 0, i = 0;
    bool braced = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (braced) {
            if (c == '}') {
                if (i + 1 < text.size() && text[i + 1] == '}')
                    ++i;
                else
                    braced = false;
            }
        } else if (c == '{') {
            braced = true;
        } else if (c == ';') {
            if (i > begin) out.push_back(text.substr(begin, i - begin));
            begin = i + 1;
        }
    }
    if (i > begin) out.push_back(text.substr(begin, i - begin));
    return out;
}

std::string AttributeName(std::string_view attribute) {
    std::string_view name = attribute.substr(0, attribute.find('='));
    return Upper(ClipBoth(name));
}

}  // namespace

std::string WithAttributes(std::string_view connection, std::string_view extra) {
    const std::vector<std::string_view> added = SplitAttributes(extra);
    if (added.empty()) return std::string(connection);
    std::vector<std::string> names;
    for (std::string_view a : added) names.push_back(AttributeName(a));
    std::string out;
    for (std::string_view a : SplitAttributes(connection)) {
        if (std::find(names.begin(), names.end(), AttributeName(a)) != names.end()) continue;
        out.append(a).push_back(';');
    }
    out.append(extra);
    return out;
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

std::vector<std::string> DriverNamesToTry(const std::vector<std::string>& names,
                                          const std::optional<std::vector<std::string>>& registered) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        const bool last = i + 1 == names.size();
        const bool library = name.find('/') != std::string::npos || ContainsNoCase(name, ".so");
        const bool known =
            !registered || std::any_of(registered->begin(), registered->end(),
                                       [&](const std::string& r) { return EqualNoCase(r, name); });
        if (last || library || known) out.push_back(name);
    }
    return out;
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

    TraceLog* lg = file_log ? file_log.get() : log.get();
    auto conn = ConnectServer(server, owner, trusted, "", lg, diag);
    if (conn) server->connection = conn;
    return conn;
}

std::shared_ptr<Connection> Environment::ConnectDedicated(const std::string& owner, bool trusted,
                                                          const std::string& extra, Diag& diag) {
    auto server = std::make_shared<Server>();
    server->owner = owner;
    server->driver_names = DriverNameList();
    return ConnectServer(server, owner, trusted, extra, log.get(), diag);
}

std::optional<std::vector<std::string>> Environment::RegisteredDrivers(TraceLog* lg) {
    const OdbcApi& api = library->api;
    SQLHENV h = env.get();
    std::lock_guard lock(registrations_mutex_);
    std::vector<std::string> names;
    // Far more than any machine registers: a driver manager that never ends the list is
    // not trusted.
    constexpr int kMostDrivers = 4096;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (int i = 0; i < kMostDrivers; ++i) {
        SQLCHAR name[512] = {0};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = OdbcCall(
            api, lg, [&] { return "Listing the registered drivers on" + HandleText("Environment", h); }, h,
            nullptr, nullptr, nullptr,
            [&] { return api.SQLDrivers(h, direction, name, sizeof name, &length, nullptr, 0, nullptr); });
        if (rc == SQL_NO_DATA) return names;
        // A name cut to the buffer could not be compared: the list is not used.
        if (!Succeeded(rc) || length < 0 || static_cast<std::size_t>(length) >= sizeof name - 1)
            return std::nullopt;
        names.emplace_back(reinterpret_cast<const char*>(name), static_cast<std::size_t>(length));
        direction = SQL_FETCH_NEXT;
    }
    return std::nullopt;
}

std::shared_ptr<Connection> Environment::ConnectServer(const std::shared_ptr<Server>& server,
                                                       const std::string& owner, bool trusted,
                                                       const std::string& extra, TraceLog* lg, Diag& diag) {
    const OdbcApi& api = library->api;
    if (server->driver_names.empty()) {
        diag = Diag{SQL_ERROR, "1", 0, "Driver Not Installed"};
        return nullptr;
    }
    auto self = shared_from_this();
    // A name that is not registered is not tried (see DriverNamesToTry): the embedded
    // database's connection no longer waits for the search for a "SQL Server" library.
    // The registrations are read only when there is such a name to leave out.
    std::vector<std::string> names = server->driver_names;
    if (DriverNamesToTry(names, std::vector<std::string>{}).size() < names.size()) {
        names = DriverNamesToTry(names, RegisteredDrivers(lg));
        if (lg != nullptr)
            for (const std::string& name : server->driver_names)
                if (std::find(names.begin(), names.end(), name) == names.end())
                    lg->Line("Driver " + name + " is not registered: not tried");
    }
    for (const std::string& name : names) {
        auto conn = std::make_shared<Connection>(self, server);
        SQLHDBC h = nullptr;
        SQLRETURN rc = OdbcCallNamedAfter(
            api, lg, [&](SQLRETURN) { return "Allocating" + HandleText("Connection", h); }, env.get(),
            nullptr, nullptr, &diag, [&] { return api.SQLAllocConnect(env.get(), &h); });
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
            const int option = opt;  // a structured binding cannot be captured before C++20 in every compiler
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
                    return api.SQLSetConnectOption(h, static_cast<SQLUSMALLINT>(option),
                                                   static_cast<SQLULEN>(v));
                });
        }
        const bool new_embedded_file = EmbeddedFileIsNew(name, owner, extra);
        std::string cs = BuildConnectionString(name, owner, trusted);
        cs = WithAttributes(cs, extra);
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
        if (Succeeded(OdbcCall(
                api, lg, [&] { return "Getting Identifier case for" + HandleText("Connection", h); }, nullptr,
                h, nullptr, nullptr,
                [&] { return api.SQLGetInfo(h, SQL_IDENTIFIER_CASE, &ident, sizeof ident, &len); })))
            conn->case_sensitive = ident == SQL_IC_SENSITIVE;
        if (new_embedded_file && server->kind == KIND_SQLITE) SizeNewEmbeddedPages(*conn, lg);
        ApplySessionTimeouts(*conn, lg);
        return conn;
    }
    return nullptr;
}

}  // namespace dt
