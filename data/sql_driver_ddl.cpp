// The SQL driver's table definition: CREATE, BUILD, REMOVE and EMPTY.
#include "data/sql_driver_internal.h"

#include <algorithm>
#include <cstring>

namespace dt::sqldrv {

// ---------------------------------------------------------------------------------------
// CREATE, BUILD, REMOVE

int LoadTypeInfo(SqlState& st, DriverArgs& a) {
    Connection& c = *st.conn;
    if (c.have_type_info) return 0;
    const OdbcApi& api = st.Api();
    ScratchStatement hs(st);
    if (!hs.Allocate()) return Fail90(st, a, st.diag);
    SQLHSTMT h = hs.get();
    SQLRETURN rc = Call(
        st, [&] { return StmtText("Getting Type Information with", h); }, h,
        [&] { return api.SQLGetTypeInfo(h, SQL_ALL_TYPES); });
    if (!Succeeded(rc)) return Fail90(st, a, st.diag);
    while (Succeeded(Fetch(st, h))) {
        char name[128] = {0}, params[128] = {0};
        SQLSMALLINT type = 0;
        SQLLEN ind = 0, pind = 0;
        GetData(st, h, 1, SQL_C_CHAR, name, sizeof name, &ind);
        GetData(st, h, 2, SQL_C_SSHORT, &type, 0, &ind);
        if (!Succeeded(GetData(st, h, 6, SQL_C_CHAR, params, sizeof params, &pind)) || pind == SQL_NULL_DATA)
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
    if (rc == ErrDuplicateKey && keep) return 0;
    if (rc == ErrFileSystem && Classify(st.diag) == Meaning::AlreadyExists) {
        if (keep) return 0;  // another station created it: never drop its rows
        rc = ExecNoResult(st, a, Statement{drop, {}});
        if (rc != 0) return rc;
        rc = ExecNoResult(st, a, Statement{text, {}});
    }
    return rc;
}

int DoCreate(SqlState& st, DriverArgs& a, bool keep_existing) {
    if (!st.file->Has(FILE_CREATE)) return ErrNoCreateAttribute;
    if (st.file->bad_declaration) return ErrInvalidRecordDeclaration;
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
    if (rc == ErrInvalidFieldType) {
        if (TraceLog* lg = st.Log()) {
            lg->Line("Could not Create Field " + bad);
            lg->Line("File system does not support data type");
        }
        return ErrInvalidFieldType;
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

// Dispatch of this family (see Operate in sql_driver.cpp).
int DdlOperation(int op, SqlState& st, DriverArgs& a) {
    switch (op) {
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
            if (!st.opened) return ErrFileNotOpen;
            // A result open on the table and the saved copy would both name rows that are gone.
            CloseCursor(st);
            st.have_saved = false;
            return ExecNoResult(st, a, Statement{"DELETE FROM " + st.Table(), {}});
        case OP_PACK:
            return 0;  // the server reclaims the space of deleted rows itself
        default:
            return ErrUnsupportedFunction;
    }
}

}  // namespace dt::sqldrv
