// The SQL driver's writes: ADD and APPEND (collected into parameter arrays), PUT, DELETE,
// the GET by key they build on, and the duplicate check.
#include "data/sql_driver_internal.h"

#include <algorithm>
#include <cstring>

namespace dt::sqldrv {

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
        st.FreeStatement(p.stmt);
        return FailFrom(st, a, st.diag);
    }
    p.params.Init(st.cols, s.params, rows);
    if (!BindParams(st, h, p.params)) {
        st.FreeStatement(p.stmt);
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
        CloseStmt(st, h);
        return FailFrom(st, a, st.diag);
    }
    CloseStmt(st, h);
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
    if (!st.opened) return ErrFileNotOpen;
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
    if (!kt.usable) return ErrInvalidKeyFile;
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
    return rc == ErrRecordNotAvailable ? ErrRecordNotFound : rc;
}

int DoGet(SqlState& st, DriverArgs& a, Key& k) {
    if (!st.opened) return ErrFileNotOpen;
    st.seq = Sequence{};
    bool watch = st.watch_armed;
    std::vector<char> keep(st.file->Record(), st.file->Record() + st.file->record_length);
    int rc = SelectOne(st, a, st.keys[static_cast<std::size_t>(k.number - 1)], false);
    if (rc == 0) {
        SaveCopy(st);
        st.watched = watch;
        st.watch_armed = false;
    } else if (rc == ErrRecordNotFound) {
        // The record buffer keeps the values the caller looked for.
        std::memcpy(st.file->Record(), keep.data(), keep.size());
    }
    return rc;
}

int DoPut(SqlState& st, DriverArgs& a) {
    if (!st.opened) return ErrFileNotOpen;
    if (st.id_key < 0) return ErrUnsupportedFunction;
    if (!st.have_saved) return ErrRecordNotAvailable;
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
        std::vector<char> my_null_bytes = st.null_bytes;
        int rc = SelectOne(st, a, id, true);
        bool same =
            rc == 0 && SameRecord(st, st.file->Record(), st.saved.data()) && st.nulls == st.saved_nulls;
        std::memcpy(st.file->Record(), mine.data(), mine.size());
        st.nulls = my_nulls;
        st.null_bytes = my_null_bytes;
        if (rc != 0 && rc != ErrRecordNotFound) return rc;
        if (!same) return ErrRecordChanged;
    }
    int rc = ExecNoResult(st, a, s);
    if (rc == 0) {
        SaveCopy(st);
        st.watched = false;
    }
    return rc;
}

int DoDelete(SqlState& st, DriverArgs& a) {
    if (!st.opened) return ErrFileNotOpen;
    if (st.id_key < 0) return ErrUnsupportedFunction;
    if (!st.have_saved) return ErrRecordNotAvailable;
    EndResultAfterWrite(st);
    LearnColumnAttributes(st);
    const KeyTexts& id = st.keys[static_cast<std::size_t>(st.id_key)];
    Statement s = BuildDelete(st.cols, st.Table(), id, Values(st), st.opt.where);
    return ExecNoResult(st, a, s);
}

// Dispatch of this family (see Operate in sql_driver.cpp).
int WriteOperation(int op, File& f, SqlState& st, DriverArgs& a) {
    switch (op) {
        case OP_ADD:
            return DoAdd(st, a, false);
        case OP_APPEND:
            return DoAdd(st, a, true);
        case OP_PUT:
            return DoPut(st, a);
        case OP_DELETE:
            return DoDelete(st, a);
        case OP_DUPLICATE:
        case OP_DUPLICATEkey: {
            // Would the record create a duplicate in a unique key (or in `key`)?
            if (!st.opened) return ErrFileNotOpen;
            a.result = 0;
            for (Key* k : f.keys) {
                if (a.key != nullptr && k != a.key) continue;
                if (k->Has(KEY_DUP)) continue;
                std::vector<char> keep(f.Record(), f.Record() + f.record_length);
                auto keep_nulls = st.nulls;
                auto keep_null_bytes = st.null_bytes;
                // SelectOne reads the found row into the record: the caller's values come back after it.
                int rc = SelectOne(st, a, st.keys[static_cast<std::size_t>(k->number - 1)], false);
                std::memcpy(f.Record(), keep.data(), keep.size());
                st.nulls = keep_nulls;
                st.null_bytes = keep_null_bytes;
                if (rc == 0)
                    a.result = 1;
                else if (rc !=
                         ErrRecordNotFound)  // 35: no row with these values, so no duplicate in this key
                    return rc;
            }
            return 0;
        }
        default:
            return ErrUnsupportedFunction;
    }
}

}  // namespace dt::sqldrv
