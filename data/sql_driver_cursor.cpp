// The SQL driver's result sets: the bound row block, fetching, and reading in key or file
// order (SET, RESET, NEXT, PREVIOUS, SKIP, GET, REGET, RECORDS).
#include "data/sql_driver_internal.h"

#include "data/position.h"

#include <algorithm>
#include <cstring>

namespace dt::sqldrv {

// ---------------------------------------------------------------------------------------
// Result sets

// Row-wise binding with rows `row_size` bytes apart. The SQLite driver refuses the
// statement option as not supported and takes the same setting only as the statement
// attribute.
static bool SetRowBindType(SqlState& st, SQLHSTMT h, std::size_t row_size) {
    const OdbcApi& api = st.Api();
    if (Succeeded(Call(
            st, [&] { return StmtText("Setting Statement Option for", h); }, h,
            [&] { return api.SQLSetStmtOption(h, SQL_BIND_TYPE, row_size); })))
        return true;
    if (api.SQLSetStmtAttr == nullptr || Classify(st.diag) != Meaning::NotSupported) return false;
    return Succeeded(Call(
        st, [&] { return StmtText("Setting Row Bind Type for", h); }, h,
        [&] {
            return api.SQLSetStmtAttr(h, SQL_ATTR_ROW_BIND_TYPE,
                                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(row_size)), 0);
        }));
}

// Binds the result columns of the cursor (the column map, or for a pass-through result the
// fields in order) into a row block.
bool BindCursor(SqlState& st, std::size_t ncols, bool want_block) {
    Cursor& c = st.cursor;
    c.slots.clear();
    c.offsets.clear();
    std::size_t off = 0;
    for (std::size_t i = 0; i < ncols; ++i) {
        Slot s = SlotFor(st.cols, static_cast<int>(i));
        c.slots.push_back(s);
        c.offsets.push_back(off);
        off += (static_cast<std::size_t>(s.buflen) + 7) / 8 * 8 + sizeof(SQLLEN);
    }
    c.row_size = (off + 7) / 8 * 8;
    SQLHSTMT h = c.stmt.get();
    const OdbcApi& api = st.Api();
    c.rowset = 1;
    c.block = false;
    c.bound = st.Srv().fastcolumnfetch;
    if (!c.bound) {
        c.rows.assign(c.row_size, 0);
        c.status.assign(1, 0);
        return true;
    }
    if (want_block && st.page_size > 1) {
        SQLULEN n = static_cast<SQLULEN>(st.page_size);
        if (SetRowBindType(st, h, c.row_size) &&
            Succeeded(Call(
                st, [&] { return StmtText("Setting number of rows to fetch to for", h); }, h,
                [&] { return api.SQLSetStmtOption(h, SQL_ROWSET_SIZE, n); }))) {
            c.rowset = n;
            c.block = true;
        }
    }
    if (!c.block) SetRowBindType(st, h, c.row_size);
    c.rows.assign(c.row_size * c.rowset, 0);
    c.status.assign(c.rowset, 0);
    for (std::size_t i = 0; i < ncols; ++i) {
        const Slot& s = c.slots[i];
        char* value = c.rows.data() + c.offsets[i];
        auto* ind = reinterpret_cast<SQLLEN*>(value + (static_cast<std::size_t>(s.buflen) + 7) / 8 * 8);
        auto n = static_cast<SQLUSMALLINT>(i + 1);
        SQLRETURN rc = Call(
            st,
            [&] {
                return "Binding Column " + std::to_string(n) + " to C type " + CTypeName(s.ctype) + " for" +
                       HandleText("Statement", h);
            },
            h, [&] { return api.SQLBindCol(h, n, s.ctype, value, s.buflen, ind); });
        if (!Succeeded(rc)) return false;
    }
    return true;
}

// Executes `s` on the cursor statement and binds its result.
int OpenCursor(SqlState& st, DriverArgs& a, const Statement& s, bool passthrough, long max_rows) {
    CloseCursor(st);
    Cursor& c = st.cursor;
    if (!c.stmt && !AllocStmt(st, c.stmt)) return Fail90(st, a, st.diag);
    SQLHSTMT h = c.stmt.get();
    const OdbcApi& api = st.Api();
    // Reads of the file's own columns are prepared once and run again while their text
    // stays the same (a GET per row, the highest key before each insert).
    std::string key = passthrough ? std::string()
                                  : s.text + '\x01' + std::to_string(max_rows) + '/' +
                                        std::to_string(st.page_size) + (st.Srv().fastcolumnfetch ? "F" : "S");
    bool reuse = !passthrough && !c.prepared_key.empty() && c.prepared_key == key;
    if (!reuse) {
        c.prepared_key.clear();
        Call(
            st, [&] { return StmtText("Unbinding Columns", h); }, h,
            [&] { return api.SQLFreeStmt(h, SQL_UNBIND); });
        Call(
            st, [&] { return StmtText("Resetting Parameters", h); }, h,
            [&] { return api.SQLFreeStmt(h, SQL_RESET_PARAMS); });
        // One-row reads on servers without a LIMIT clause ask through the statement option.
        Call(
            st, [&] { return StmtText("Setting Statement Option for", h); }, h,
            [&] {
                return api.SQLSetStmtOption(h, SQL_MAX_ROWS,
                                            static_cast<SQLULEN>(max_rows > 0 ? max_rows : 0));
            });
        c.params.Init(st.cols, s.params, 1);
        if (!BindParams(st, h, c.params)) return Fail90(st, a, st.diag);
    }
    FillParams(st, c.params, 0);
    st.last_sql = s.text;
    SQLRETURN rc;
    if (passthrough) {
        rc = ExecDirect(st, h, s.text);
    } else {
        if (!reuse) {
            rc = Call(
                st, [&] { return StmtText("Preparing", h) + " " + s.text; }, h,
                [&] {
                    return api.SQLPrepare(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.text.c_str())),
                                          SQL_NTS);
                });
            if (!Succeeded(rc)) return FailFrom(st, a, st.diag);
            if (!BindCursor(st, st.cols.size(), max_rows <= 0)) return Fail90(st, a, st.diag);
        }
        rc = Call(
            st, [&] { return StmtText("Executing prepared", h); }, h, [&] { return api.SQLExecute(h); });
    }
    if (rc == SQL_STILL_EXECUTING || rc == SQL_NEED_DATA) return rc;
    if (!Succeeded(rc)) {
        CloseStmt(st, h);
        return FailFrom(st, a, st.diag);
    }
    if (passthrough) {
        SQLSMALLINT n = 0;
        Call(
            st, [&] { return StmtText("Getting Number of columns for", h); }, h,
            [&] { return api.SQLNumResultCols(h, &n); });
        std::size_t ncols = std::min<std::size_t>(static_cast<std::size_t>(n < 0 ? 0 : n), st.cols.size());
        c.result_columns = n;
        if (!BindCursor(st, ncols, true)) return Fail90(st, a, st.diag);
    } else {
        c.prepared_key = key;
    }
    c.open = true;
    c.passthrough = passthrough;
    c.limited = max_rows > 0;
    c.consumed = 0;
    c.fetched = c.pos = 0;
    return 0;
}

// The next row of the cursor into the record: 0, 33 at the end, or an error.
int FetchRow(SqlState& st, DriverArgs& a) {
    Cursor& c = st.cursor;
    const OdbcApi& api = st.Api();
    SQLHSTMT h = c.stmt.get();
    for (;;) {
        while (c.pos < c.fetched) {
            SQLULEN r = c.pos++;
            if (c.block && c.status[r] != SQL_ROW_SUCCESS && c.status[r] != SQL_ROW_SUCCESS_WITH_INFO)
                continue;
            const char* row = c.rows.data() + r * c.row_size;
            char* rec = st.file->Record();
            for (std::size_t i = 0; i < c.slots.size(); ++i) {
                const Slot& s = c.slots[i];
                const Column& col = st.cols[i];
                const char* value = row + c.offsets[i];
                SQLLEN ind;
                std::memcpy(&ind, value + (static_cast<std::size_t>(s.buflen) + 7) / 8 * 8, sizeof ind);
                if (ind == SQL_NULL_DATA) {
                    st.nulls[static_cast<std::size_t>(col.field)] = -1;
                    ClearField(col, rec);
                    NoteNull(st, static_cast<std::size_t>(col.field));
                } else {
                    st.nulls[static_cast<std::size_t>(col.field)] = 0;
                    FromOdbc(col, s, value, ind, rec);
                }
            }
            ++c.consumed;
            return 0;
        }
        SQLRETURN rc;
        if (c.block) {
            c.fetched = 0;
            rc = Call(
                st, [&] { return StmtText("Fetching Next Set of Rows from", h); }, h,
                [&] { return api.SQLExtendedFetch(h, SQL_FETCH_NEXT, 0, &c.fetched, c.status.data()); });
        } else {
            rc = Fetch(st, h);
            c.fetched = Succeeded(rc) ? 1 : 0;
            c.status[0] = SQL_ROW_SUCCESS;
            for (std::size_t i = 0; c.fetched == 1 && !c.bound && i < c.slots.size(); ++i) {
                // Column by column, as the driver hands them out.
                const Slot& s = c.slots[i];
                char* value = c.rows.data() + c.offsets[i];
                auto* ind =
                    reinterpret_cast<SQLLEN*>(value + (static_cast<std::size_t>(s.buflen) + 7) / 8 * 8);
                SQLRETURN g = GetData(st, h, static_cast<SQLUSMALLINT>(i + 1), s.ctype, value, s.buflen, ind);
                if (!Succeeded(g)) return FailFrom(st, a, st.diag);
            }
        }
        c.pos = 0;
        if (rc == SQL_NO_DATA) {
            c.fetched = 0;
            return ErrRecordNotAvailable;
        }
        if (rc == SQL_STILL_EXECUTING || rc == SQL_NEED_DATA) return rc;
        if (!Succeeded(rc)) return FailFrom(st, a, st.diag);
        if (c.fetched == 0) return ErrRecordNotAvailable;
    }
}

bool SameRecord(const SqlState& st, const char* a, const char* b) {
    for (const Column& c : st.cols)
        if (std::memcmp(a + c.offset, b + c.offset, c.size) != 0) return false;
    return true;
}

// Builds and runs the SELECT of the current sequence. `rows` > 0 asks for that many rows.
int RunSequence(SqlState& st, DriverArgs& a, long rows) {
    Sequence& q = st.seq;
    int ki = q.key ? q.key->number - 1 : -1;
    SelectPlan plan;
    plan.table = st.Table();
    plan.hint = !st.opt.next_hint.empty()                 ? st.opt.next_hint
                : (ki >= 0 && st.opt.key_hints.count(ki)) ? st.opt.key_hints[ki]
                                                          : st.opt.hint;
    st.opt.next_hint.clear();
    if (ki >= 0) {
        if (!st.keys[static_cast<std::size_t>(ki)].usable) return ErrInvalidKeyFile;
        plan.key = &st.keys[static_cast<std::size_t>(ki)];
    }
    plan.position = q.position && plan.key != nullptr;
    plan.forward = q.forward;
    plan.where = st.opt.where;
    const KindRules& rules = st.Rules();
    long max_rows = 0;
    if (rows > 0) {
        if (rules.limit_prefix[0] != 0)
            plan.limit = rules.limit_prefix + std::to_string(rows);
        else
            max_rows = rows;
    }
    // The values of the position come from the record saved when the sequence started.
    std::vector<char> keep(st.file->Record(), st.file->Record() + st.file->record_length);
    std::vector<std::int32_t> keep_nulls = st.nulls;
    if (plan.position) {
        std::memcpy(st.file->Record(), q.start.data(), st.file->record_length);
        st.nulls = q.start_nulls;
    }
    Statement s = BuildSelect(st.cols, plan, Values(st));
    int rc = OpenCursor(st, a, s, false, max_rows);
    std::memcpy(st.file->Record(), keep.data(), st.file->record_length);
    st.nulls = keep_nulls;
    if (rc == 0 && rows > 0 && plan.limit.empty()) st.cursor.limited = true;
    if (rc == 0 && rows > 0) st.cursor.limited = true;
    return rc;
}

// NEXT / PREVIOUS.
int ReadSequential(SqlState& st, DriverArgs& a, bool forward) {
    Cursor& c = st.cursor;
    if (c.open && c.passthrough) {
        if (!forward) return ErrRecordNotAvailable;
        int rc = FetchRow(st, a);
        if (rc == 0) SaveCopy(st);
        return rc;
    }
    Sequence& q = st.seq;
    if (!q.active) {
        q = Sequence{};
        q.active = true;
    }
    if (c.open && q.forward != forward) {
        // A change of direction reads again from the current record the other way.
        CloseCursor(st);
        q.position = q.key != nullptr;
        if (st.have_saved) {
            q.start = st.saved;
            q.start_nulls = st.saved_nulls;
        } else {
            q.start.assign(st.file->Record(), st.file->Record() + st.file->record_length);
            q.start_nulls = st.nulls;
        }
        q.skip_current = st.have_saved;
        q.skip_rows = 0;
        q.exhausted = false;
    }
    q.forward = forward;
    if (q.exhausted && !c.open) return ErrRecordNotAvailable;
    std::vector<char> current = st.have_saved ? st.saved : std::vector<char>();
    bool first_open = !c.open;
    if (!c.open) {
        // The first read of a keyed sequence asks for the rows it needs only (a read of the
        // highest key for auto-numbering must not move the whole table).
        long need = q.key != nullptr ? 1 + (q.skip_current ? 1 : 0) + q.skip_rows : 0;
        int rc = RunSequence(st, a, need);
        if (rc != 0) return rc;
        for (long i = 0; i < q.skip_rows; ++i) {
            rc = FetchRow(st, a);
            if (rc != 0) break;
        }
    }
    int watch = st.watch_armed;
    for (;;) {
        int rc = FetchRow(st, a);
        if (rc == ErrRecordNotAvailable && c.limited) {
            // More rows are wanted than the first read asked for: run the SELECT again
            // without a limit and pass over the rows already taken.
            long taken = c.consumed;
            rc = RunSequence(st, a, 0);
            if (rc != 0) return rc;
            for (long i = 0; i < taken && rc == 0; ++i) rc = FetchRow(st, a);
            if (rc == 0) rc = FetchRow(st, a);
        }
        if (rc == ErrRecordNotAvailable) {
            q.exhausted = true;
            CloseCursor(st);
            return ErrRecordNotAvailable;
        }
        if (rc != 0) return rc;
        if (q.skip_current && first_open && c.consumed == 1 && !current.empty() &&
            SameRecord(st, st.file->Record(), current.data())) {
            continue;
        }
        break;
    }
    q.skip_current = false;
    SaveCopy(st);
    st.watched = watch != 0;
    st.watch_armed = false;
    return 0;
}

// After a write the result set ends; the sequence goes on after the current record.
void EndResultAfterWrite(SqlState& st) {
    if (!st.cursor.open) return;
    bool pass = st.cursor.passthrough;
    long taken = st.cursor.consumed;
    CloseCursor(st);
    if (pass || !st.seq.active) return;
    if (st.seq.key != nullptr && st.have_saved) {
        st.seq.position = true;
        st.seq.start = st.saved;
        st.seq.start_nulls = st.saved_nulls;
        st.seq.skip_current = true;
        st.seq.skip_rows = 0;
    } else {
        st.seq.skip_rows += taken;
    }
}

// Writes `lines` to the file's trace log, when one is open.
void WriteTraceLines(SqlState& st, const std::vector<std::string>& lines) {
    if (TraceLog* lg = st.Log())
        for (const std::string& l : lines) lg->Line(l);
}

// Dispatch of this family (see Operate in sql_driver.cpp).
int CursorOperation(int op, File& f, SqlState& st, DriverArgs& a) {
    switch (op) {
        case OP_SETfile:
        case OP_SETkey:
        case OP_SETfilekey:
        case OP_SETkeykey:
        case OP_RESETkey:
        case OP_POSITIONfile:
        case OP_POSITIONkey: {
            if (!st.opened) return ErrFileNotOpen;
            // A position names the file and key it was taken on and holds the key's values (or
            // the whole record); REGET and RESET take it back and refuse one that does not fit.
            if (op == OP_POSITIONfile || op == OP_POSITIONkey) {
                if (a.out) *a.out = MakePosition(f, op == OP_POSITIONkey ? a.key : nullptr, f.Record());
                return 0;
            }
            CloseCursor(st);
            st.seq = Sequence{};
            st.seq.active = true;
            st.seq.key = op == OP_SETfile ? nullptr : a.key;
            // No SELECT runs here: the first NEXT or PREVIOUS runs it, in the direction it reads.
            if (op == OP_SETfilekey || op == OP_SETkeykey || op == OP_RESETkey) {
                if (st.seq.key && !st.keys[static_cast<std::size_t>(st.seq.key->number - 1)].usable)
                    return ErrInvalidKeyFile;
                st.seq.position = true;
                // RESET starts from a record given back by POSITION; SET from the record buffer.
                st.seq.start.assign(f.Record(), f.Record() + f.record_length);
                st.seq.start_nulls = st.nulls;
                if (op == OP_RESETkey) {
                    // The buffer must be a position of this file, taken on this key or on one
                    // over the same fields; the trace says why one is refused.
                    PositionRead r = ReadPosition(f, a.key, a.text, st.seq.start);
                    WriteTraceLines(st, r.trace);
                    if (r.rc != 0) {
                        st.seq = Sequence{};
                        return r.rc;
                    }
                    // A key position gives values, never NULL, to the key's fields.
                    if (r.from_key != nullptr)
                        for (const KeyComponent& c : a.key->components)
                            if (c.field >= 0) st.seq.start_nulls[static_cast<std::size_t>(c.field)] = 0;
                }
            }
            st.have_saved = false;
            return 0;
        }
        case OP_NEXT:
        case OP_PREVIOUS:
            if (!st.opened) return ErrFileNotOpen;
            return ReadSequential(st, a, op == OP_NEXT);
        case OP_SKIP: {
            if (!st.opened) return ErrFileNotOpen;
            // SKIP reads on in the direction of the last NEXT or PREVIOUS.
            bool fwd = st.seq.forward;
            for (long i = 0; i < a.value; ++i) {
                int rc = ReadSequential(st, a, fwd);
                if (rc != 0) return rc;
            }
            return 0;
        }
        case OP_GETfilekey:
            return DoGet(st, a, *a.key);
        case OP_GETfileptr:
        case OP_REGETfile:
        case OP_REGETkey: {
            if (!st.opened) return ErrFileNotOpen;
            std::vector<char> keep(f.Record(), f.Record() + f.record_length);
            std::vector<char> wanted = keep;
            PositionRead r = ReadPosition(f, op == OP_REGETkey ? a.key : nullptr, a.text, wanted);
            WriteTraceLines(st, r.trace);
            if (r.rc != 0) return r.rc;
            // By the key asked for, else the key the position was taken on, else the
            // identifying key; without any, no row can be found again from its values.
            Key* k = a.key != nullptr        ? a.key
                     : r.from_key != nullptr ? f.keys[static_cast<std::size_t>(r.from_key->number - 1)]
                     : st.id_key >= 0        ? f.keys[static_cast<std::size_t>(st.id_key)]
                                             : nullptr;
            if (k == nullptr) return ErrUnsupportedFunction;
            std::memcpy(f.Record(), wanted.data(), f.record_length);
            int rc = DoGet(st, a, *k);
            // A failed REGET leaves the record as it was, not as the position it was given.
            if (rc != 0) std::memcpy(f.Record(), keep.data(), keep.size());
            return rc;
        }
        case OP_RECORDSfile:
        case OP_RECORDSkey: {
            if (!st.opened) return ErrFileNotOpen;
            std::string text;
            if (op == OP_RECORDSfile) {
                text = "SELECT COUNT(*) FROM " + st.Table();
            } else {
                // A key counts the distinct values of its first column.
                const KeyTexts& kt = st.keys[static_cast<std::size_t>(a.key->number - 1)];
                if (!kt.usable) return ErrInvalidKeyFile;
                text = "SELECT COUNT ( DISTINCT " + st.cols[static_cast<std::size_t>(kt.columns[0])].name +
                       " ) FROM " + st.Table();
            }
            ScratchStatement hs(st);
            if (!hs.Allocate()) return Fail90(st, a, st.diag);
            SQLHSTMT h = hs.get();
            SQLRETURN rc = ExecDirect(st, h, text);
            if (!Succeeded(rc)) return FailFrom(st, a, st.diag);
            SQLINTEGER n = 0;
            SQLLEN ind = 0;
            if (Succeeded(Fetch(st, h))) GetData(st, h, 1, SQL_C_SLONG, &n, 0, &ind);
            a.result = n;
            return 0;
        }
        default:
            return ErrUnsupportedFunction;
    }
}

}  // namespace dt::sqldrv
