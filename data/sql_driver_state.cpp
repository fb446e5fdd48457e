// The SQL driver's per-file state: failures as error codes, the ODBC helpers bound to a
// file, and the operations on the record's null flags and saved states.
#include "data/sql_driver_internal.h"

#include <algorithm>
#include <cstring>

namespace dt::sqldrv {

// ---------------------------------------------------------------------------------------
// Failures

int Fail90(SqlState& st, DriverArgs& a, const Diag& d) {
    st.diag = d;
    a.file_error_code = d.state;
    a.file_error = d.message;
    return 90;
}

int Fail90(DriverArgs& a, std::string_view state, std::string_view message) {
    a.file_error_code = state;
    a.file_error = message;
    return 90;
}

// A failed ODBC call as a runtime error code, by its meaning.
int FailFrom(SqlState& st, DriverArgs& a, const Diag& d) {
    switch (Classify(d)) {
        case Meaning::MissingTable:
            st.diag = d;
            return 2;
        case Meaning::DuplicateKey:
            st.diag = d;
            return 40;
        default:
            return Fail90(st, a, d);
    }
}

std::string StmtText(const char* action, const void* h) {
    return action + HandleText("Statement", h);
}

bool AllocStmt(SqlState& st, OdbcHandle& out) {
    SQLHSTMT h = nullptr;
    SQLHDBC dbc = st.conn->dbc.get();
    SQLRETURN rc = OdbcCall(
        st.Api(), st.Log(),
        [&] { return std::string("Allocating Statement on") + HandleText("Connection", dbc); }, nullptr, dbc,
        nullptr, &st.diag, [&] { return st.Api().SQLAllocStmt(dbc, &h); });
    if (!Succeeded(rc)) return false;
    out = OdbcHandle(&st.Api(), OdbcHandle::Stmt, h);
    return true;
}

void CloseCursor(SqlState& st) {
    if (st.cursor.stmt) {
        void* h = st.cursor.stmt.get();
        Call(
            st, [&] { return StmtText("Closing", h); }, h,
            [&] { return st.Api().SQLFreeStmt(h, SQL_CLOSE); });
    }
    st.cursor.open = false;
    st.cursor.passthrough = false;
    st.cursor.fetched = st.cursor.pos = 0;
}

// Converts the record into row `row` of the parameter arrays.
void FillParams(SqlState& st, ParamSet& ps, std::size_t row) {
    bool clip = st.Srv().clipstrings;
    for (std::size_t i = 0; i < ps.pieces.size(); ++i) {
        const Piece& p = ps.pieces[i];
        const Column& c = st.cols[static_cast<std::size_t>(p.column)];
        const char* rec = p.saved ? st.saved.data() : st.file->Record();
        const auto& nl = p.saved ? st.saved_nulls : st.nulls;
        bool is_null = nl[static_cast<std::size_t>(c.field)] == -1;
        char* out = ps.data[i].data() + static_cast<std::size_t>(ps.slots[i].buflen) * row;
        ps.ind[i][row] = ToOdbc(c, ps.slots[i], rec, is_null, clip, out);
    }
}

bool BindParams(SqlState& st, SQLHSTMT h, ParamSet& ps) {
    for (std::size_t i = 0; i < ps.pieces.size(); ++i) {
        const Slot& s = ps.slots[i];
        const Column& c = st.cols[static_cast<std::size_t>(s.col)];
        SQLSMALLINT sqltype = SqlTypeFor(c);
        SQLULEN colsize = c.character()
                              ? c.size
                              : (c.timestamp ? 22 : (c.type == FT_DECIMAL || c.type == FT_PDECIMAL ? 31 : 0));
        SQLSMALLINT digits = c.timestamp ? 2 : 0;
        auto n = static_cast<SQLUSMALLINT>(i + 1);
        SQLRETURN rc = Call(
            st,
            [&] {
                return "Binding ? " + std::to_string(n) + " for input with C type " + CTypeName(s.ctype) +
                       " as " + std::to_string(sqltype) + HandleText("Statement", h);
            },
            h,
            [&] {
                return st.Api().SQLBindParameter(h, n, SQL_PARAM_INPUT, s.ctype, sqltype, colsize, digits,
                                                 ps.data[i].data(), s.buflen, ps.ind[i].data());
            });
        if (!Succeeded(rc)) return false;
    }
    return true;
}

// The zero-is-NULL and NOT NULL rules applied to the null flags before a write.
void PrepareNullsForWrite(SqlState& st) {
    for (const Column& c : st.cols) {
        auto& flag = st.nulls[static_cast<std::size_t>(c.field)];
        if (st.opt.zeroisnull && !c.zeronotnull && (c.type == FT_DATE || c.type == FT_TIME || c.timestamp)) {
            const char* p = st.file->Record() + c.offset;
            bool zero = true;
            for (std::uint32_t i = 0; i < c.size && zero; ++i) zero = p[i] == 0;
            if (zero) flag = -1;
        }
        if (!c.nullable) flag = 0;
    }
}

void SaveCopy(SqlState& st) {
    st.saved.assign(st.file->Record(), st.file->Record() + st.file->record_length);
    st.saved_nulls = st.nulls;
    st.have_saved = true;
}

ValueSource Values(SqlState& st) {
    ValueSource v;
    v.literals = !st.Srv().bindconstants;
    v.record = st.file->Record();
    v.saved = st.have_saved ? st.saved.data() : st.file->Record();
    v.nulls = &st.nulls;
    v.saved_nulls = st.have_saved ? &st.saved_nulls : &st.nulls;
    return v;
}

// Runs a statement that returns no rows on a scratch handle.
int ExecNoResult(SqlState& st, DriverArgs& a, const Statement& s, long* rows) {
    OdbcHandle h;
    if (!AllocStmt(st, h)) return Fail90(st, a, st.diag);
    ParamSet ps;
    ps.Init(st.cols, s.params, 1);
    FillParams(st, ps, 0);
    if (!BindParams(st, h.get(), ps)) return Fail90(st, a, st.diag);
    void* hh = h.get();
    st.last_sql = s.text;
    SQLRETURN rc = Call(
        st, [&] { return StmtText("Executing", hh) + " " + s.text; }, hh,
        [&] {
            return st.Api().SQLExecDirect(hh, reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.text.c_str())),
                                          SQL_NTS);
        });
    if (rc == SQL_STILL_EXECUTING || rc == SQL_NEED_DATA) return rc;
    if (!Succeeded(rc) && rc != SQL_NO_DATA) return FailFrom(st, a, st.diag);
    if (rows != nullptr) {
        SQLLEN n = 0;
        if (rc != SQL_NO_DATA) st.Api().SQLRowCount(hh, &n);
        *rows = static_cast<long>(n);
    }
    return 0;
}

// Dispatch of this family (see Operate in sql_driver.cpp).
int StateOperation(int op, File& f, SqlState& st, DriverArgs& a) {
    switch (op) {
        case OP_NAME:
            if (a.out) *a.out = f.ExternalName();
            return 0;
        case OP_NULL:
        case OP_SETNULL:
        case OP_SETNONULL: {
            long i = a.value;
            // Field -1 sets or clears the flags of every field at once.
            if (op != OP_NULL && i == -1) {
                for (auto& n : st.nulls) n = op == OP_SETNULL ? -1 : 0;
                return 0;
            }
            if (i < 0 || static_cast<std::size_t>(i) >= st.nulls.size()) return 47;
            if (op == OP_NULL)
                a.result = st.nulls[static_cast<std::size_t>(i)] == -1 ? 1 : 0;
            else
                st.nulls[static_cast<std::size_t>(i)] = op == OP_SETNULL ? -1 : 0;
            return 0;
        }
        case OP_GETNULLS:
            if (a.out)
                a.out->assign(reinterpret_cast<const char*>(st.nulls.data()),
                              st.nulls.size() * sizeof(std::int32_t));
            return 0;
        case OP_SETNULLS:
            if (a.text.size() != st.nulls.size() * sizeof(std::int32_t)) return 78;
            std::memcpy(st.nulls.data(), a.text.data(), a.text.size());
            return 0;
        case OP_BUFFER:
            // Rows fetched (and APPEND rows collected) per round trip; capped to bound the buffers.
            if (a.words[0] > 0) st.page_size = std::min<long>(a.words[0], 10000);
            return 0;
        case OP_GETSTATE: {
            SavedState s;
            s.record.assign(f.Record(), f.Record() + f.record_length);
            s.saved = st.saved;
            s.have_saved = st.have_saved;
            s.nulls = st.nulls;
            s.saved_nulls = st.saved_nulls;
            s.seq = st.seq;
            a.result = st.next_state;
            st.states[st.next_state++] = std::move(s);
            return 0;
        }
        case OP_RESTORESTATE: {
            auto it = st.states.find(a.value);
            if (it == st.states.end()) return 78;
            CloseCursor(st);
            const SavedState& s = it->second;
            std::memcpy(f.Record(), s.record.data(), f.record_length);
            st.saved = s.saved;
            st.have_saved = s.have_saved;
            st.nulls = s.nulls;
            st.saved_nulls = s.saved_nulls;
            st.seq = s.seq;
            // The result set is gone: the next read runs its SELECT again from the restored
            // record, passing over that record itself.
            if (st.seq.active && st.seq.key != nullptr && st.have_saved) {
                st.seq.position = true;
                st.seq.start = st.saved;
                st.seq.start_nulls = st.saved_nulls;
                st.seq.skip_current = true;
                st.seq.skip_rows = 0;
                st.seq.exhausted = false;
            }
            return 0;
        }
        case OP_FREESTATE:
            st.states.erase(a.value);
            return 0;
        case OP_BYTES:
            a.result = static_cast<long>(f.record_length);
            return 0;
        default:
            return 80;
    }
}

}  // namespace dt::sqldrv
