#include "data/odbc.h"

#include <dlfcn.h>

#include <cstdio>
#include <mutex>

#include "platform/text.h"

namespace dt {
namespace {

std::mutex g_name_mutex;
std::string g_library_name = kOdbcLibrary;

}  // namespace

void SetOdbcLibraryNameForTesting(const std::string& name) {
    std::lock_guard lock(g_name_mutex);
    g_library_name = name;
}

std::string OdbcLibraryName() {
    std::lock_guard lock(g_name_mutex);
    return g_library_name;
}

std::shared_ptr<const OdbcLibrary> OdbcLibrary::Load(const std::string& name, std::string* why) {
    void* h = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
        if (why) *why = name + " Could Not Be Loaded";
        return nullptr;
    }
    auto lib = std::make_shared<OdbcLibrary>();
    lib->handle_ = h;
    bool ok = true;
#define DT_ODBC_LOAD(fn)                                                    \
    lib->api.fn = reinterpret_cast<decltype(lib->api.fn)>(::dlsym(h, #fn)); \
    if (lib->api.fn == nullptr && ok) {                                     \
        ok = false;                                                         \
        if (why) *why = name + " Could Not Be Loaded (" #fn ")";            \
    }
    DT_ODBC_FUNCTIONS(DT_ODBC_LOAD)
#undef DT_ODBC_LOAD
    lib->api.SQLSetStmtAttr =
        reinterpret_cast<decltype(lib->api.SQLSetStmtAttr)>(::dlsym(h, "SQLSetStmtAttr"));
    if (!ok) return nullptr;  // the handle stays loaded: harmless, and dlclose is unsafe here
    return lib;
}

std::string StripBracketPrefixes(std::string_view m) {
    while (!m.empty() && m.front() == '[') {
        std::size_t close = m.find(']');
        if (close == std::string_view::npos) break;
        m.remove_prefix(close + 1);
    }
    return std::string(m);
}

Diag ReadDiag(const OdbcApi& api, SQLRETURN rc, SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
    Diag d;
    d.rc = rc;
    SQLCHAR state[6] = {0};
    SQLCHAR msg[1024] = {0};
    SQLSMALLINT len = 0;
    SQLINTEGER native = 0;
    SQLRETURN r = api.SQLError(env, dbc, stmt, state, &native, msg, sizeof msg, &len);
    if (Succeeded(r)) {
        d.state.assign(reinterpret_cast<char*>(state), 5);
        d.native = native;
        std::size_t n = len < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(len), sizeof msg - 1);
        d.message = StripBracketPrefixes(std::string_view(reinterpret_cast<char*>(msg), n));
        if (d.message.size() > 511) d.message.resize(511);
    }
    if (d.state.empty() || d.state == "00000") {
        char buf[24];
        std::snprintf(buf, sizeof buf, "r=%d", static_cast<int>(rc));
        d.state = buf;
    }
    return d;
}

Meaning Classify(const Diag& d) {
    const std::string& s = d.state;
    if (s == "S0002" || s == "42S02" || s == "42P01") return Meaning::MissingTable;
    // 42710: PostgreSQL's "type ... already exists", what a session gets that creates a
    // table at the same moment as another (each table has a row type of its name).
    if (s == "S0001" || s == "S0011" || s == "42S01" || s == "42S11" || s == "42P07" || s == "42710")
        return Meaning::AlreadyExists;
    if (s == "23505") return Meaning::DuplicateKey;
    if (s == "IM002" || s == "IM003") return Meaning::DriverMissing;
    if (s == "01000" && ContainsNoCase(d.message, "Can't open lib")) return Meaning::DriverMissing;
    if (s == "IM001" || s == "S1C00" || s == "HYC00") return Meaning::NotSupported;
    if (s.size() == 5 && s[0] == '0' && s[1] == '8') return Meaning::Connection;
    // SQL Server: 2627 primary key / unique constraint, 2601 unique index.
    if (s == "23000" && (d.native == 2627 || d.native == 2601 || ContainsNoCase(d.message, "duplicate") ||
                         ContainsNoCase(d.message, "UNIQUE")))
        return Meaning::DuplicateKey;
    // The SQLite driver reports most failures as a general error with SQLite's own codes:
    // 1 (SQLITE_ERROR) for a missing or existing object, 19 (SQLITE_CONSTRAINT) for constraints.
    if (s == "S1000" || s == "HY000" || s == "23000") {
        if (ContainsNoCase(d.message, "no such table")) return Meaning::MissingTable;
        if (ContainsNoCase(d.message, "already exists")) return Meaning::AlreadyExists;
        if ((d.native == 19 || d.native == 2067 || d.native == 1555) &&
            (ContainsNoCase(d.message, "UNIQUE") || ContainsNoCase(d.message, "PRIMARY KEY")))
            return Meaning::DuplicateKey;
    }
    return Meaning::Other;
}

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& o) noexcept {
    if (this != &o) {
        Reset();
        api_ = o.api_;
        kind_ = o.kind_;
        h_ = o.h_;
        connected_ = o.connected_;
        o.h_ = nullptr;
        o.connected_ = false;
    }
    return *this;
}

void OdbcHandle::Reset() {
    if (h_ == nullptr || api_ == nullptr) {
        h_ = nullptr;
        return;
    }
    switch (kind_) {
        case Stmt:
            api_->SQLFreeStmt(h_, SQL_DROP);
            break;
        case Dbc:
            if (connected_) api_->SQLDisconnect(h_);
            api_->SQLFreeConnect(h_);
            break;
        case Env:
            api_->SQLFreeEnv(h_);
            break;
    }
    h_ = nullptr;
    connected_ = false;
}

}  // namespace dt
