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
    return ErrFileSystem;
}

int Fail90(DriverArgs& a, std::string_view state, std::string_view message) {
    a.file_error_code = state;
    a.file_error = message;
    return ErrFileSystem;
}

// A failed ODBC call as a runtime error code, by its meaning.
int FailFrom(SqlState& st, DriverArgs& a, const Diag& d) {
    switch (Classify(d)) {
        case Meaning::MissingTable:
            st.diag = d;
            return ErrFileNotFound;
        case Meaning::DuplicateKey:
            st.diag = d;
            return ErrDuplicateKey;
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
    SQLRETURN rc = OdbcCallNamedAfter(
        st.Api(), st.Log(),
        [&](SQLRETURN) {
            return "Allocating" + HandleText("Statement", h) + " on" + HandleText("Connection", dbc);
        },
        nullptr, dbc, nullptr, &st.diag, [&] { return st.Api().SQLAllocStmt(dbc, &h); });
    if (!Succeeded(rc)) return false;
    out = OdbcHandle(&st.Api(), OdbcHandle::Stmt, h);
    return true;
}

// Ends the statement's result set.
void CloseStmt(SqlState& st, SQLHSTMT h) {
    Call(
        st, [&] { return StmtText("Closing", h); }, h, [&] { return st.Api().SQLFreeStmt(h, SQL_CLOSE); });
}

SQLRETURN Fetch(SqlState& st, SQLHSTMT h) {
    return Call(
        st, [&] { return StmtText("Fetching Row from", h); }, h, [&] { return st.Api().SQLFetch(h); });
}

SQLRETURN GetData(SqlState& st, SQLHSTMT h, SQLUSMALLINT n, SQLSMALLINT ctype, void* value, SQLLEN size,
                  SQLLEN* ind) {
    return Call(
        st,
        [&] { return "Getting Data for column " + std::to_string(n) + " from" + HandleText("Statement", h); },
        h, [&] { return st.Api().SQLGetData(h, n, ctype, value, size, ind); });
}

// A call of a stored procedure, in the ODBC escape form the pass-through builds.
bool IsProcedureCall(std::string_view text) {
    return text.rfind("{CALL ", 0) == 0;
}

// Runs `text` at once. A stored-procedure call shows its return code on its line.
SQLRETURN ExecDirect(SqlState& st, SQLHSTMT h, const std::string& text) {
    auto exec = [&] {
        return st.Api().SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())),
                                      SQL_NTS);
    };
    if (IsProcedureCall(text))
        return OdbcCallNamedAfter(
            st.Api(), st.Log(),
            [&](SQLRETURN rc) {
                return StmtText("Executing", h) + " " + text + " Return Code: " + std::to_string(rc);
            },
            nullptr, nullptr, h, &st.diag, exec);
    return Call(
        st, [&] { return StmtText("Executing", h) + " " + text; }, h, exec);
}

void CloseCursor(SqlState& st) {
    if (st.cursor.stmt) CloseStmt(st, st.cursor.stmt.get());
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

// Remembers what field `i` holds as its null flag is set.
void NoteNull(SqlState& st, std::size_t i) {
    const Field& fd = st.file->fields[i];
    if (fd.offset + fd.size > st.null_bytes.size()) return;
    std::memcpy(st.null_bytes.data() + fd.offset, st.file->Record() + fd.offset, fd.size);
}

// The null flags before a write: a NULL field given a value since it became NULL is NULL
// no more (a field read as NULL and then assigned is written with its value, not as NULL);
// then the zero-is-NULL and NOT NULL rules.
void PrepareNullsForWrite(SqlState& st) {
    for (const Column& c : st.cols) {
        const auto field = static_cast<std::size_t>(c.field);
        auto& flag = st.nulls[field];
        if (flag == -1 && ColumnChanged(c, st.file->Record(), st.null_bytes.data())) flag = 0;
        if (st.opt.zeroisnull && !c.zeronotnull && (c.type == FT_DATE || c.type == FT_TIME || c.timestamp)) {
            const char* p = st.file->Record() + c.offset;
            bool zero = true;
            for (std::uint32_t i = 0; i < c.size && zero; ++i) zero = p[i] == 0;
            if (zero) {
                flag = -1;
                NoteNull(st, field);
            }
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
    ScratchStatement h(st);
    if (!h.Allocate()) return Fail90(st, a, st.diag);
    ParamSet ps;
    ps.Init(st.cols, s.params, 1);
    FillParams(st, ps, 0);
    if (!BindParams(st, h.get(), ps)) return Fail90(st, a, st.diag);
    SQLHSTMT hh = h.get();
    st.last_sql = s.text;
    SQLRETURN rc = ExecDirect(st, hh, s.text);
    if (rc == SQL_STILL_EXECUTING || rc == SQL_NEED_DATA) return rc;
    if (!Succeeded(rc) && rc != SQL_NO_DATA) return FailFrom(st, a, st.diag);
    // The count of rows is asked for by a caller that wants it, and for the trace.
    SQLLEN n = 0;
    if (rc != SQL_NO_DATA && (rows != nullptr || st.Log() != nullptr))
        OdbcCallNamedAfter(
            st.Api(), st.Log(),
            [&](SQLRETURN) {
                return "Number of rows effected by" + HandleText("Statement", hh) + " was " +
                       std::to_string(n);
            },
            nullptr, nullptr, hh, nullptr, [&] { return st.Api().SQLRowCount(hh, &n); });
    if (rows != nullptr) *rows = static_cast<long>(n);
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
                for (std::size_t j = 0; j < st.nulls.size(); ++j) {
                    st.nulls[j] = op == OP_SETNULL ? -1 : 0;
                    if (op == OP_SETNULL) NoteNull(st, j);
                }
                return 0;
            }
            if (i < 0 || static_cast<std::size_t>(i) >= st.nulls.size()) return ErrInvalidRecordDeclaration;
            if (op == OP_NULL) {
                a.result = st.nulls[static_cast<std::size_t>(i)] == -1 ? 1 : 0;
            } else {
                st.nulls[static_cast<std::size_t>(i)] = op == OP_SETNULL ? -1 : 0;
                if (op == OP_SETNULL) NoteNull(st, static_cast<std::size_t>(i));
            }
            return 0;
        }
        case OP_GETNULLS:
            if (a.out)
                a.out->assign(reinterpret_cast<const char*>(st.nulls.data()),
                              st.nulls.size() * sizeof(std::int32_t));
            return 0;
        case OP_SETNULLS:
            if (a.text.size() != st.nulls.size() * sizeof(std::int32_t)) return ErrInvalidParameterCount;
            std::memcpy(st.nulls.data(), a.text.data(), a.text.size());
            for (std::size_t j = 0; j < st.nulls.size(); ++j)
                if (st.nulls[j] == -1) NoteNull(st, j);
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
            s.null_bytes = st.null_bytes;
            s.seq = st.seq;
            a.result = st.next_state;
            st.states[st.next_state++] = std::move(s);
            return 0;
        }
        case OP_RESTORESTATE: {
            auto it = st.states.find(a.value);
            if (it == st.states.end()) return ErrInvalidParameterCount;
            CloseCursor(st);
            const SavedState& s = it->second;
            std::memcpy(f.Record(), s.record.data(), f.record_length);
            st.saved = s.saved;
            st.have_saved = s.have_saved;
            st.nulls = s.nulls;
            st.saved_nulls = s.saved_nulls;
            st.null_bytes = s.null_bytes;
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
            return ErrUnsupportedFunction;
    }
}

}  // namespace dt::sqldrv
