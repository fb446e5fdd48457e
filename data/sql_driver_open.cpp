// The SQL driver's opening and closing: connection, description, column attributes,
// transactions, and the lock operations (which take no locks on a server).
#include "data/sql_driver_internal.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace dt::sqldrv {

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

void ApplyPendingServerOptions(SqlState& st) {
    auto pending = std::move(st.pending_server_options);
    st.pending_server_options.clear();
    for (auto& [n, v] : pending) SetOption(st, n, v, true, nullptr);
}

int Describe(SqlState& st, DriverArgs& a) {
    const OdbcApi& api = st.Api();
    ScratchStatement hs(st);
    if (!hs.Allocate()) return Fail90(st, a, st.diag);
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
        while (Succeeded(Fetch(st, h))) {
            char col[256] = {0};
            SQLLEN ind = 0;
            SQLSMALLINT type = 0, nullable = SQL_NULLABLE;
            GetData(st, h, 4, SQL_C_CHAR, col, sizeof col, &ind);
            GetData(st, h, 5, SQL_C_SSHORT, &type, 0, &ind);
            GetData(st, h, 11, SQL_C_SSHORT, &nullable, 0, &ind);
            found.push_back({col, type, nullable != SQL_NO_NULLS});
        }
        CloseStmt(st, h);
        return rc;
    };
    if (!st.opt.verifyviaselect) {
        SQLRETURN rc = by_columns(table);
        if (!Succeeded(rc)) return FailFrom(st, a, st.diag);
        if (found.empty() && st.Rules().lower_case_catalog) {
            by_columns(Lower(table));
        }
    }
    if (found.empty()) {
        // No columns listed (a missing table, or a catalog that spells names differently):
        // the server itself decides through a SELECT that returns no row.
        std::string text = "SELECT * FROM " + table + " WHERE 0 = 1";
        SQLRETURN rc = ExecDirect(st, h, text);
        if (!Succeeded(rc)) {
            Meaning m = Classify(st.diag);
            if (m == Meaning::MissingTable || (st.Kind() == KIND_WATCOM && st.diag.state == "42000")) {
                st.diag.message = st.diag.message.empty() ? "table missing" : st.diag.message;
                return ErrFileNotFound;
            }
            return Fail90(st, a, st.diag);
        }
        SQLSMALLINT n = 0;
        Call(
            st, [&] { return StmtText("Getting Number of columns for", h); }, h,
            [&] { return api.SQLNumResultCols(h, &n); });
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
            if (EqualNoCase(d.name, c.name)) {
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
        return ErrInvalidRecordDeclaration;
    }
    st.described = true;
    return 0;
}

// At the first write: auto-increment and searchable attributes of the columns.
void LearnColumnAttributes(SqlState& st) {
    if (st.attrs_known) return;
    st.attrs_known = true;
    const OdbcApi& api = st.Api();
    ScratchStatement hs(st);
    if (!hs.Allocate()) return;
    SQLHSTMT h = hs.get();
    std::string text = "SELECT " + ColumnList(st.cols) + " FROM " + st.Table() + " WHERE 0 = 1";
    if (!Succeeded(ExecDirect(st, h, text))) return;
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
    if (st.file->ExternalName().empty()) return ErrInvalidFilename;
    if (st.file->bad_declaration) return ErrInvalidRecordDeclaration;
    if (st.opened) return ErrFileAlreadyOpen;
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

// Dispatch of this family (see Operate in sql_driver.cpp).
int OpenOperation(int op, SqlState& st, DriverArgs& a, std::unique_lock<std::recursive_mutex>& lock) {
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
            // A file inside a transaction keeps its connection: COMMIT or ROLLBACK still run on it.
            if (st.conn && st.conn->transaction_files == 0) {
                lock = {};
                st.conn.reset();
            }
            return rc;
        }
        // Only remembered: rows are never held on a server, so no read waits for one.
        case OP_HOLDfile:
        case OP_HOLDfilesec:
            st.hold_timeout = op == OP_HOLDfile ? -1 : a.value;
            return 0;
        // Nothing is held or locked on the server, so there is nothing to let go.
        case OP_RELEASE:
        case OP_UNLOCK:
            return 0;
        case OP_LOCKfile:
            return 0;
        case OP_LOCKfilesec:
            return 0;  // the SQL driver takes no file locks: the first attempt succeeds
        // Arms the next read: a PUT of the record it reads first checks the row is unchanged.
        case OP_WATCH:
            st.watch_armed = true;
            return 0;
        case OP_LOGOUT:
            return DoLogout(st, a);
        case OP_COMMIT:
            return DoEndTransaction(st, a, true);
        case OP_ROLLBACK:
            return DoEndTransaction(st, a, false);
        default:
            return ErrUnsupportedFunction;
    }
}

}  // namespace dt::sqldrv
