#include "app/scan_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "app/scan_stop.h"
#include "app/search_index.h"
#include "app/upgrade.h"
#include "data/sql_connection.h"
#include "data/sql_session.h"
#include "data/sql_text.h"
#include "platform/text.h"
#include "runtime/errors.h"
#include "runtime/stddate.h"

namespace dt {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kLockClass = 0x44545343;  // the advisory lock space of scans
constexpr std::size_t kDeleteChunk = 500;
constexpr auto kBatchTime = std::chrono::seconds(2);
// The embedded database: how long one statement of the scan waits for another program's
// write lock (the driver's busy time-out), and the pause before the store tries the
// write again. The store itself waits up to the database time-out in such steps, looking
// at the stop request between them, so that a stop ends the wait within about a second.
constexpr long kBusyStepMs = 200;
constexpr auto kBusyPause = std::chrono::milliseconds(50);

// Whether a statement of the substring index makes one of its tables (the rest make its
// triggers and its directory index).
bool MakesTable(const std::string& create) {
    return create.rfind("CREATE TABLE", 0) == 0 || create.rfind("CREATE VIRTUAL TABLE", 0) == 0;
}

enum RowState : std::uint8_t { kUnseen = 0, kSeen = 1, kDuplicate = 2 };

std::uint32_t Hash32(std::string_view s) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
    return h;
}

bool ValidDate(const DATE& d) {
    return d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
           d.day <= DaysInMonth(d.year, d.month);
}
bool ValidTime(const TIME& t) {
    return t.hours < 24 && t.minutes < 60 && t.seconds < 60 && t.hundredths < 100;
}

// The date and time as the database keeps them: no date (NULL) for a zero or invalid
// date, midnight for an invalid time.
void StoredDateTime(const FILES_RECORD& r, std::uint32_t& date, std::uint32_t& time) {
    const DATE d = r.DATE_DATE;
    TIME t = r.DATE_TIME;
    if (d.IsZero() || !ValidDate(d)) {
        date = time = 0;
        return;
    }
    if (!ValidTime(t)) t = TIME{};
    date = d.Value();
    time = t.Value();
}

// ODBC canonical text of the timestamp (NUL-terminated; `room` holds it); SQL_NULL_DATA for NULL.
SQLLEN TimestampText(const FILES_RECORD& r, char* out, std::size_t room) {
    std::uint32_t dv = 0, tv = 0;
    StoredDateTime(r, dv, tv);
    if (dv == 0) return SQL_NULL_DATA;
    const DATE d = DATE::FromValue(dv);
    const TIME t = TIME::FromValue(tv);
    const int n = std::snprintf(out, room, "%04d-%02d-%02d %02d:%02d:%02d.%02d", d.year, d.month, d.day,
                                t.hours, t.minutes, t.seconds, t.hundredths);
    return n > 0 && static_cast<std::size_t>(n) < room ? n : SQL_NULL_DATA;
}

// A failure no single row causes: the database cannot write at all (a full disk, an I/O
// error, a lock or a time-out, resources, the session ended). Such a batch is given up
// whole and the scan fails with the server's text; retrying its rows one by one would
// only repeat the failure, and SQLite rolls its whole transaction back after some of
// these, so that rows retried one by one would each be committed on their own.
bool CannotWrite(const Diag& d, ServerKind kind) {
    if (Classify(d) == Meaning::Connection) return true;
    if (kind == ServerKind::Embedded) {
        switch (d.native & 0xFF) {  // SQLite's primary result codes
            case 5:                 // busy
            case 6:                 // locked
            case 7:                 // out of memory
            case 8:                 // read-only
            case 9:                 // interrupted
            case 10:                // I/O error
            case 11:                // corrupt
            case 13:                // full
            case 14:                // cannot open
            case 26:                // not a database
                return true;
            default:
                return false;
        }
    }
    const std::string& s = d.state;
    // Insufficient resources (disk full), operator intervention (cancelled, shut down),
    // system errors, lock not available, transaction rolled back, time-outs.
    return s.rfind("53", 0) == 0 || s.rfind("57", 0) == 0 || s.rfind("58", 0) == 0 || s.rfind("40", 0) == 0 ||
           s == "55P03" || s == "HYT00" || s == "HYT01" || s == "HY008";
}

// Another connection holds the embedded database's write lock (SQLite's busy or locked).
bool Busy(const Diag& d) {
    return (d.native & 0xFF) == 5 || (d.native & 0xFF) == 6;
}

void CopyText(std::string_view v, char* out, std::size_t room) {
    const std::size_t n = std::min(v.size(), room - 1);
    std::memcpy(out, v.data(), n);
    out[n] = 0;
}

}  // namespace

struct ScanStore::Row {
    std::uint64_t number;
    std::uint64_t size;
    std::uint32_t date;
    std::uint32_t time;
    std::uint32_t name_off;
    std::uint32_t dir;
    std::uint32_t ext_hash;
    std::uint16_t name_len;
    std::uint8_t type;
    std::uint8_t state;
};

struct ScanStore::Insert {
    FILES_RECORD rec;
};

struct ScanStore::Update {
    std::uint64_t number;
    FILES_RECORD rec;
};

// The prepared statements of the store with their bound parameter buffers.
class ScanStore::Statements {
  public:
    struct Params {
        std::int64_t number, computer, size;
        std::int16_t type;
        char name[257];
        char ext[11];
        char dir[261];
        char date[32];
        SQLLEN ind[8];
    };
    struct Prepared {
        OdbcHandle stmt;
        std::size_t rows = 0;
        std::vector<Params> params;
    };

    Statements(SqlSession& s, const std::string& table)
        : s_(s), table_(table), lead_(KindOfSession(s) == ServerKind::Embedded ? kKeptPrepared : "") {}

    // The INSERT of `rows` rows (prepared at its first use).
    Prepared* Insert(std::size_t rows) {
        for (auto& p : inserts_)
            if (p->rows == rows) return p.get();
        auto p = std::make_unique<Prepared>();
        p->rows = rows;
        p->params.resize(rows);
        std::string text = lead_ + "INSERT INTO " + table_ +
                           " (SysFILES, SysCOMPUTER, NAME, EXTENSION, DIR, TYPE, DATE, SIZE) VALUES ";
        for (std::size_t r = 0; r < rows; ++r) text += r == 0 ? "(?,?,?,?,?,?,?,?)" : ",(?,?,?,?,?,?,?,?)";
        if (!PrepareWith(*p, text)) return nullptr;
        SQLUSMALLINT n = 1;
        for (Params& q : p->params) {
            if (!Bind(*p, n++, SQL_C_SBIGINT, SQL_BIGINT, 0, &q.number, 8, &q.ind[0]) ||
                !Bind(*p, n++, SQL_C_SBIGINT, SQL_BIGINT, 0, &q.computer, 8, &q.ind[1]) ||
                !Bind(*p, n++, SQL_C_CHAR, SQL_VARCHAR, 256, q.name, sizeof q.name, &q.ind[2]) ||
                !Bind(*p, n++, SQL_C_CHAR, SQL_VARCHAR, 10, q.ext, sizeof q.ext, &q.ind[3]) ||
                !Bind(*p, n++, SQL_C_CHAR, SQL_VARCHAR, 260, q.dir, sizeof q.dir, &q.ind[4]) ||
                !Bind(*p, n++, SQL_C_SSHORT, SQL_SMALLINT, 0, &q.type, 2, &q.ind[5]) ||
                !Bind(*p, n++, SQL_C_CHAR, SQL_TIMESTAMP, 22, q.date, sizeof q.date, &q.ind[6]) ||
                !Bind(*p, n++, SQL_C_SBIGINT, SQL_BIGINT, 0, &q.size, 8, &q.ind[7]))
                return nullptr;
        }
        inserts_.push_back(std::move(p));
        return inserts_.back().get();
    }

    // UPDATE of the values a walk can change, by number.
    Prepared* Update() {
        if (update_) return update_.get();
        auto p = std::make_unique<Prepared>();
        p->rows = 1;
        p->params.resize(1);
        if (!PrepareWith(*p, lead_ + "UPDATE " + table_ +
                                 " SET EXTENSION = ?, TYPE = ?, DATE = ?, SIZE = ? WHERE SysFILES = ?"))
            return nullptr;
        Params& q = p->params[0];
        if (!Bind(*p, 1, SQL_C_CHAR, SQL_VARCHAR, 10, q.ext, sizeof q.ext, &q.ind[3]) ||
            !Bind(*p, 2, SQL_C_SSHORT, SQL_SMALLINT, 0, &q.type, 2, &q.ind[5]) ||
            !Bind(*p, 3, SQL_C_CHAR, SQL_TIMESTAMP, 22, q.date, sizeof q.date, &q.ind[6]) ||
            !Bind(*p, 4, SQL_C_SBIGINT, SQL_BIGINT, 0, &q.size, 8, &q.ind[7]) ||
            !Bind(*p, 5, SQL_C_SBIGINT, SQL_BIGINT, 0, &q.number, 8, &q.ind[0]))
            return nullptr;
        update_ = std::move(p);
        return update_.get();
    }

    static void Fill(Params& q, const FILES_RECORD& r, std::uint64_t number) {
        q.number = static_cast<std::int64_t>(number);
        q.computer = r.SYSCOMPUTER;
        q.size = static_cast<std::int64_t>(r.SIZE);
        q.type = r.TYPE;
        CopyText(r.NAME.View(), q.name, sizeof q.name);
        CopyText(r.EXTENSION.View(), q.ext, sizeof q.ext);
        CopyText(r.DIR.View(), q.dir, sizeof q.dir);
        // Texts go as NUL-terminated strings: given a length, the SQLite driver copies each
        // one into memory of its own at every execution (file names hold no NUL byte).
        q.ind[0] = q.ind[1] = q.ind[5] = q.ind[7] = 0;
        q.ind[2] = q.ind[3] = q.ind[4] = SQL_NTS;
        q.ind[6] = TimestampText(r, q.date, sizeof q.date) == SQL_NULL_DATA ? SQL_NULL_DATA : SQL_NTS;
    }

    bool Execute(Prepared& p) {
        return s_.Check(s_.ArmedCall([&] { return s_.Api().SQLExecute(p.stmt.get()); }), p.stmt.get());
    }

  private:
    bool PrepareWith(Prepared& p, std::string text) {
        p.stmt = s_.NewStatement();
        if (!p.stmt) return false;
        return s_.Check(s_.Api().SQLPrepare(p.stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS),
                        p.stmt.get());
    }
    bool Bind(Prepared& p, SQLUSMALLINT n, SQLSMALLINT ctype, SQLSMALLINT sqltype, SQLULEN size, void* buf,
              SQLLEN len, SQLLEN* ind) {
        return s_.Check(s_.Api().SQLBindParameter(p.stmt.get(), n, SQL_PARAM_INPUT, ctype, sqltype, size, 0,
                                                  buf, len, ind),
                        p.stmt.get());
    }

    // The SQLite driver keeps a statement compiled between executions only when it reads
    // as a query (SELECT, PRAGMA, or WITH first); any other is compiled again from its text
    // at every execution, which for an INSERT of a few hundred rows costs about as much as
    // storing them. A WITH clause that names nothing the statement uses makes it one.
    static constexpr const char* kKeptPrepared = "WITH kept(x) AS (SELECT 1) ";

    SqlSession& s_;
    std::string table_;
    std::string lead_;  // what goes before the statements' text
    std::vector<std::unique_ptr<Prepared>> inserts_;
    std::unique_ptr<Prepared> update_;
};

// Copies the embedded database's write-ahead log into the database file from a
// connection of its own, on a thread of its own, while a first scan writes: a passive
// checkpoint waits for no one and never holds up the writer. The scan's own connection
// would otherwise copy the log itself at the commit that finds it past its limit, on the
// storing thread that the walk waits for, and the whole log at its end; here that work
// runs on the other processor while the storing goes on.
class ScanStore::LogCopier {
  public:
    explicit LogCopier(std::unique_ptr<SqlSession> session)
        : session_(std::move(session)), thread_([this] { Run(); }) {}
    ~LogCopier() {
        {
            std::lock_guard lock(m_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    LogCopier(const LogCopier&) = delete;
    LogCopier& operator=(const LogCopier&) = delete;

  private:
    void Run() {
        std::unique_lock lock(m_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stop_; })) {
            lock.unlock();
            std::string busy;
            session_->QueryValue("PRAGMA wal_checkpoint(PASSIVE)", busy);
            lock.lock();
        }
    }

    std::unique_ptr<SqlSession> session_;
    std::mutex m_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;  // last: it starts with the members above in place
};

ScanStore::ScanStore(std::string owner, std::string table)
    : owner_(std::move(owner)), table_(std::move(table)) {}

ScanStore::~ScanStore() {
    stmts_.reset();
    if (session_ && !session_->AutoCommit()) session_->Rollback();
    RemakeIndexes();  // a scan that neither finished nor stopped
    Unlock();
}

void ScanStore::DropIndexesWhenEmpty() {
    // The emptiness is read inside the transaction that drops: another program's first
    // scan either committed rows before (nothing is dropped) or finds the indexes gone
    // and the table empty in turn. A failure leaves the indexes as they are.
    if (!session_->SetAutoCommit(true)) return;
    if (session_->Exec("BEGIN IMMEDIATE")) {
        std::string any;
        bool found = false;
        bool ok = session_->QueryValue("SELECT 1 FROM " + table_ + " LIMIT 1", any, &found) && !found;
        if (ok) {
            std::vector<std::string> drops = {
                "DROP TRIGGER IF EXISTS FILES_SEARCH_AI",
                "DROP TRIGGER IF EXISTS FILES_SEARCH_AD",
                "DROP TRIGGER IF EXISTS FILES_SEARCH_AU_NAME",
                "DROP TRIGGER IF EXISTS FILES_SEARCH_AU_DIR",
                std::string("DROP TABLE IF EXISTS ") + kFtsNameTable,
                std::string("DROP TABLE IF EXISTS ") + kFtsDirTable,
                "DROP TABLE IF EXISTS FILESDIR",
                "DROP INDEX IF EXISTS FILES_DIR_SEARCH",
            };
            for (const NamedIndex& index : EmbeddedRemadeIndexes())
                drops.push_back("DROP INDEX IF EXISTS " + index.name);
            for (const std::string& d : drops) ok = ok && session_->Exec(d);
            // The index's tables come back empty and without their triggers: the scan
            // fills them with its rows as it goes; searches meanwhile read the table
            // (the index counts as missing until its triggers are there).
            for (const std::string& create : EmbeddedSearchIndexStatements())
                if (MakesTable(create)) ok = ok && session_->Exec(create);
        }
        if (ok && session_->Exec("COMMIT")) {
            indexes_dropped_ = dropped_at_begin_ = true;
            // Another connection's commit from now on changes the value: the index of the
            // scan's own rows would not be the whole table's.
            fill_.on = session_->QueryValue("PRAGMA data_version", fill_.data_version) &&
                       !fill_.data_version.empty();
            // The log is copied into the database file by a connection of its own
            // (LogCopier); without one, by this connection every 80 MB rather than every
            // 1000 pages (4 or 16 MB): a bulk load's pages are written to the file once or
            // twice instead of ever again as the indexes grow. Back to the default in
            // RemakeIndexes.
            Diag diag;
            std::unique_ptr<SqlSession> copier =
                SqlSession::Open(owner_, "Timeout=" + std::to_string(kBusyStepMs), diag);
            if (copier && session_->Exec("PRAGMA wal_autocheckpoint=0")) {
                log_copier_ = std::make_unique<LogCopier>(std::move(copier));
            } else {
                std::string page = "4096";
                session_->QueryValue("PRAGMA page_size", page);
                const long page_bytes = std::max(512L, std::atol(page.c_str()));
                session_->Exec("PRAGMA wal_autocheckpoint=" + std::to_string(80L * 1024 * 1024 / page_bytes));
            }
        } else {
            session_->Exec("ROLLBACK");
        }
    }
    session_->SetAutoCommit(false);
}

void ScanStore::NoteStoredRange(long long first, long long last) {
    if (!fill_.on || last < first) return;
    if (!fill_.pending.empty() && fill_.pending.back().second + 1 == first)
        fill_.pending.back().second = last;
    else
        fill_.pending.emplace_back(first, last);
    fill_.pending_rows += static_cast<std::size_t>(last - first + 1);
}

bool ScanStore::IndexPendingRows() {
    // The statements the triggers would have run for these rows, a range at a time: the
    // names, each new directory once, and the new directories' index entries.
    bool ok = true;
    for (const auto& [first, last] : fill_.pending) {
        const std::string range = " FROM " + table_ + " WHERE SysFILES BETWEEN " + std::to_string(first) +
                                  " AND " + std::to_string(last);
        ok = ok && session_->Exec(std::string("INSERT INTO ") + kFtsNameTable +
                                  "(rowid, NAME) SELECT SysFILES, NAME" + range);
        ok = ok && session_->Exec("INSERT OR IGNORE INTO FILESDIR(DIR) SELECT DIR" + range +
                                  " AND DIR IS NOT NULL");
    }
    ok =
        ok && session_->Exec(std::string("INSERT INTO ") + kFtsDirTable +
                             "(rowid, DIR) SELECT rowid, DIR FROM FILESDIR WHERE rowid > " + fill_.dirs_done);
    std::string dirs;
    ok = ok && session_->QueryValue("SELECT coalesce(max(rowid), 0) FROM FILESDIR", dirs);
    if (!ok) return false;
    fill_.dirs_done = dirs;
    fill_.pending.clear();
    fill_.pending_rows = 0;
    return true;
}

void ScanStore::FillIndexStep() {
    if (!fill_.on || fill_.pending_rows < fill_rows_) return;
    if (IndexPendingRows() && session_->Commit()) return;
    // Made whole from the table at the end instead.
    fill_.on = false;
    session_->Rollback();
}

bool ScanStore::CompleteIndexFill() {
    if (!fill_.on) return false;
    fill_.on = false;
    SqlSession& s = *session_;
    if (!s.Exec("BEGIN IMMEDIATE")) return false;
    std::string version;
    bool ok =
        s.QueryValue("PRAGMA data_version", version) && version == fill_.data_version && IndexPendingRows();
    // The rest of the index's statements, in their order: the triggers, the directory index.
    for (const std::string& create : EmbeddedSearchIndexStatements())
        if (ok && !MakesTable(create)) ok = s.Exec(create);
    if (ok && s.Exec("COMMIT")) return true;
    s.Exec("ROLLBACK");
    return false;
}

void ScanStore::RemakeIndexes() {
    if (!indexes_dropped_ || !session_ || session_->CutOff()) return;
    indexes_dropped_ = false;
    if (!session_->AutoCommit()) session_->Rollback();
    if (!session_->SetAutoCommit(true)) return;
    SqlSession& s = *session_;
    // The sorts of the index builds may be as large as the indexes: on disk, as usual.
    s.Exec("PRAGMA temp_store=DEFAULT");
    // The substring index of the scan's own rows is completed; when another program wrote
    // meanwhile (or a step failed), CreateSearchIndexes below finds it incomplete and makes
    // it again from the whole table.
    CompleteIndexFill();
    // The failure that broke the attempt, kept before the ROLLBACK that follows it
    // overwrites the session's diagnostics.
    std::string why;
    bool busy = false;
    const SqlRunner run = [&](const std::string& statement, std::vector<std::string>* rows) {
        std::string value;
        bool found = false;
        const bool ok = rows == nullptr ? s.Exec(statement) : s.QueryValue(statement, value, &found);
        if (!ok) {
            if (why.empty()) {
                why = s.LastError();
                busy = Busy(s.LastDiag());
            }
            return static_cast<int>(ErrFileSystem);
        }
        if (found) rows->push_back(value);
        return static_cast<int>(ErrNone);
    };
    // Made in one write transaction with the triggers (see CreateSearchIndexes): rows that
    // other programs inserted meanwhile are read with the table, later ones reach the
    // index through the triggers. Another program's write lock is waited for up to the
    // database time-out (not after a stop); what still fails is made at drivetrek's next
    // start.
    const auto until = SteadyClock::now() + std::chrono::seconds(DatabaseTimeout());
    for (;;) {
        why.clear();
        busy = false;
        if (CreateSearchIndexes(run, ServerKind::Embedded).error == 0) break;
        if (!busy || ScanStopRequested() || SteadyClock::now() >= until) {
            WarnSearchIndexOnce("the search indexes could not be made again after the first scan: " + why);
            break;
        }
        std::this_thread::sleep_for(kBusyPause);
    }
    log_copier_.reset();
    s.Exec("PRAGMA wal_autocheckpoint=1000");
    s.SetAutoCommit(false);
}

void ScanStore::Fail(const std::string& why) {
    if (error_.empty()) error_ = why.empty() ? "the database did not say why" : why;
    if (counts_.first_failure.empty()) counts_.first_failure = error_;
}

bool ScanStore::Lock(ULONG syscomputer) {
    const auto until = SteadyClock::now() + std::chrono::seconds(DatabaseTimeout());
    if (KindOfSession(*session_) == ServerKind::Embedded) {
        // A file beside the database file; the kernel lets go of it when the program ends.
        const std::string path = EmbeddedDirectory() + SplitOwner(owner_).database + ".db-scan" +
                                 std::to_string(syscomputer) + ".lock";
        lock_fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lock_fd_ < 0) {
            Fail("the scan's lock file " + path + " cannot be opened: " + std::strerror(errno));
            return false;
        }
        for (;;) {
            if (::flock(lock_fd_, LOCK_EX | LOCK_NB) == 0) return locked_ = true;
            if (SteadyClock::now() >= until || ScanStopRequested()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    } else if (KindOfSession(*session_) == ServerKind::PostgreSQL) {
        const std::string q = "SELECT pg_try_advisory_lock(" + std::to_string(kLockClass) + ", " +
                              std::to_string(static_cast<std::int32_t>(syscomputer)) + ")";
        for (;;) {
            std::string v;
            if (!session_->QueryValue(q, v)) {
                Fail(session_->LastError());
                return false;
            }
            if (v == "1" || v == "t" || v == "true") return locked_ = true;
            if (SteadyClock::now() >= until || ScanStopRequested()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    } else {
        return true;  // no lock known for this server
    }
    if (ScanStopRequested())
        Fail("stopped while waiting for another scan of this computer to end");
    else
        Fail("another scan of this computer is running; this scan was not started (waited " +
             std::to_string(DatabaseTimeout()) + " s)");
    return false;
}

void ScanStore::Unlock() {
    if (lock_fd_ >= 0) {
        ::close(lock_fd_);
        lock_fd_ = -1;
    }
    if (locked_ && session_ && KindOfSession(*session_) == ServerKind::PostgreSQL && !session_->CutOff()) {
        std::string v;
        session_->QueryValue("SELECT pg_advisory_unlock(" + std::to_string(kLockClass) + ", " +
                                 std::to_string(static_cast<std::int32_t>(syscomputer_)) + ")",
                             v);
    }
    locked_ = false;
}

bool ScanStore::Begin(ULONG syscomputer) {
    syscomputer_ = syscomputer;
    Diag diag;
    // Neither driver holds a whole result in memory: psqlODBC reads it in portions through
    // a cursor, the SQLite driver row by row as SQLite steps (it keeps the whole result
    // otherwise). A failed statement takes back only itself (psqlODBC runs each statement
    // under a savepoint: Protocol=7.4-2), so a batch goes on past a row the server refuses
    // with the rows before it kept. Each driver ignores the other's attributes.
    const std::string extra = "UseDeclareFetch=1;Fetch=10000;StepAPI=1;Protocol=7.4-2";
    session_ = SqlSession::Open(owner_, extra, diag);
    if (session_ && KindOfSession(*session_) == ServerKind::Embedded) {
        // The driver would wait for another program's write lock for the whole time-out
        // inside one statement, blind to a stop: the store waits in short steps instead
        // (see RetryWhenBusy). The driver takes the busy time-out only when connecting.
        session_.reset();
        session_ = SqlSession::Open(owner_, extra + ";Timeout=" + std::to_string(kBusyStepMs), diag);
    }
    if (!session_) {
        Fail(diag.state + " " + diag.message);
        return false;
    }
    // A stop (SIGTERM, SIGINT) gives up a wait for a lock or a busy server at once.
    session_->SetGiveUp([] { return ScanStopRequested(); });
    // The indexes and the counter this store relies on (the table may be new).
    RunUpgrade(*session_);
    if (!Lock(syscomputer)) return false;
    if (KindOfSession(*session_) == ServerKind::Embedded) {
        // A statement that writes many rows (and the triggers it fires) keeps what it
        // changed until it ends, so that a failure takes back only itself: in memory, not
        // in a temporary file that is written and thrown away at every statement. A few
        // megabytes at most: the statements hold a few hundred rows each.
        session_->Exec("PRAGMA temp_store=MEMORY");
    }
    stmts_ = std::make_unique<Statements>(*session_, table_);
    // Read committed: a batch must see the rows other programs committed (a snapshot
    // kept for the whole batch would hand out stale numbers and retry them for ever).
    session_->Api().SQLSetConnectOption(session_->Dbc(), SQL_TXN_ISOLATION, SQL_TXN_READ_COMMITTED);
    if (!session_->SetAutoCommit(false)) {
        Fail(session_->LastError());
        return false;
    }
    if (!ReadRows()) return false;
    session_->Commit();
    // The indexes belong to FILES: a store into another table drops nothing.
    if (counts_.rows_before == 0 && KindOfSession(*session_) == ServerKind::Embedded &&
        EqualNoCase(table_, "FILES"))
        DropIndexesWhenEmpty();
    begun_ = true;
    batch_began_ = SteadyClock::now();
    return true;
}

bool ScanStore::ReadRows() {
    OdbcHandle h = session_->NewStatement();
    if (!h) {
        Fail(session_->LastError());
        return false;
    }
    const OdbcApi& api = session_->Api();
    // The embedded database is read in pages by its row identifier, in the order of the
    // computer's index (SysCOMPUTER, rowid): each page is one range of that index, with no
    // sort and no row read twice. psqlODBC reads through a cursor (see Begin).
    const bool paged = KindOfSession(*session_) == ServerKind::Embedded;
    const long kPage = read_page_;
    std::int64_t last_rowid = 0;
    long page_rows = 0;
    auto run = [&] {
        std::string text = "SELECT SysFILES, NAME, DIR, EXTENSION, TYPE, DATE, SIZE" +
                           std::string(paged ? ", rowid" : "") + " FROM " + table_ +
                           " WHERE SysCOMPUTER = " + std::to_string(syscomputer_);
        if (paged)
            text += " AND rowid > " + std::to_string(last_rowid) + " ORDER BY rowid LIMIT " +
                    std::to_string(kPage);
        api.SQLFreeStmt(h.get(), SQL_CLOSE);
        page_rows = 0;
        return session_->Check(session_->ArmedCall([&] {
            return api.SQLExecDirect(h.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
        }),
                               h.get());
    };
    if (!run()) {
        Fail(session_->LastError());
        return false;
    }
    SQLRETURN rc = SQL_SUCCESS;
    std::int64_t number = 0, size = 0, rowid = 0;
    std::int16_t type = 0;
    char name[1024], dir[1024], ext[256];
    TIMESTAMP_STRUCT ts{};
    SQLLEN ind[8] = {};
    api.SQLBindCol(h.get(), 1, SQL_C_SBIGINT, &number, 8, &ind[0]);
    api.SQLBindCol(h.get(), 2, SQL_C_CHAR, name, sizeof name, &ind[1]);
    api.SQLBindCol(h.get(), 3, SQL_C_CHAR, dir, sizeof dir, &ind[2]);
    api.SQLBindCol(h.get(), 4, SQL_C_CHAR, ext, sizeof ext, &ind[3]);
    api.SQLBindCol(h.get(), 5, SQL_C_SSHORT, &type, 2, &ind[4]);
    api.SQLBindCol(h.get(), 6, SQL_C_TIMESTAMP, &ts, sizeof ts, &ind[5]);
    api.SQLBindCol(h.get(), 7, SQL_C_SBIGINT, &size, 8, &ind[6]);
    if (paged) api.SQLBindCol(h.get(), 8, SQL_C_SBIGINT, &rowid, 8, &ind[7]);

    // The table is made as large as it must be at once: grown by doubling, it would take
    // up to twice its size, and three times while it is copied.
    {
        std::string count;
        if (!session_->QueryValue(
                "SELECT COUNT(*) FROM " + table_ + " WHERE SysCOMPUTER = " + std::to_string(syscomputer_),
                count)) {
            Fail(session_->LastError());
            return false;
        }
        rows_.reserve(static_cast<std::size_t>(std::strtoull(count.c_str(), nullptr, 10)));
    }
    // Each directory's text is kept once, in texts_: the key of dirs_, whose value holds
    // the directory's index while reading and its range of rows afterwards.
    std::vector<std::pair<std::uint32_t, std::uint32_t>*> dir_slots;
    std::string last_dir;
    std::uint32_t last_index = 0;
    for (;;) {
        rc = session_->ArmedCall([&] { return api.SQLFetch(h.get()); });
        if (rc == SQL_NO_DATA) {
            if (!paged || page_rows < kPage) break;
            if (!run()) {
                Fail(session_->LastError());
                return false;
            }
            continue;
        }
        if (!session_->Check(rc, h.get())) {
            Fail(session_->LastError());
            return false;
        }
        auto text_of = [](const char* buf, SQLLEN n) {
            return n == SQL_NULL_DATA ? std::string_view() : std::string_view(buf, std::strlen(buf));
        };
        const std::string_view d = text_of(dir, ind[2]);
        if (rows_.empty() || d != last_dir) {
            auto it = dirs_.find(d);
            if (it == dirs_.end()) {
                const std::string_view kept = texts_.At(texts_.Add(d), d.size());
                it = dirs_.emplace(kept, std::make_pair(static_cast<std::uint32_t>(dir_slots.size()), 0u))
                         .first;
                dir_slots.push_back(&it->second);
            }
            last_dir = d;
            last_index = it->second.first;
        }
        const std::string_view n = text_of(name, ind[1]);
        Row r{};
        r.number = static_cast<std::uint64_t>(number);
        r.size = ind[6] == SQL_NULL_DATA ? 0 : static_cast<std::uint64_t>(size);
        if (ind[5] != SQL_NULL_DATA) {
            const DATE dd{static_cast<BYTE>(ts.day), static_cast<BYTE>(ts.month),
                          static_cast<USHORT>(ts.year)};
            const TIME tt{static_cast<BYTE>(ts.fraction / 10'000'000u), static_cast<BYTE>(ts.second),
                          static_cast<BYTE>(ts.minute), static_cast<BYTE>(ts.hour)};
            r.date = dd.Value();
            r.time = tt.Value();
        }
        r.name_len = static_cast<std::uint16_t>(std::min<std::size_t>(n.size(), 0xFFFF));
        r.name_off = texts_.Add(n.substr(0, r.name_len));
        r.dir = last_index;
        r.ext_hash = Hash32(text_of(ext, ind[3]));
        r.type = static_cast<std::uint8_t>(ind[4] == SQL_NULL_DATA ? 0 : type);
        rows_.push_back(r);
        ++page_rows;
        if (paged) last_rowid = std::max(last_rowid, rowid);
    }
    h.Reset();
    counts_.rows_before = rows_.size();
    if (rows_.empty()) return true;
    auto name_of = [this](const Row& r) { return texts_.At(r.name_off, r.name_len); };
    std::sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) {
        if (a.dir != b.dir) return a.dir < b.dir;
        const int c = name_of(a).compare(name_of(b));
        return c != 0 ? c < 0 : a.number < b.number;
    });
    // Ranges per directory, and duplicates (the same name twice in one directory).
    std::uint32_t begin = 0;
    for (std::uint32_t i = 1; i <= rows_.size(); ++i) {
        if (i == rows_.size() || rows_[i].dir != rows_[begin].dir) {
            *dir_slots[rows_[begin].dir] = std::make_pair(begin, i);
            begin = i;
        } else if (name_of(rows_[i]) == name_of(rows_[i - 1])) {
            rows_[i].state = kDuplicate;
        }
    }
    return true;
}

std::uint32_t ScanStore::TextArena::Add(std::string_view text) {
    if (blocks_.empty() || used_ + text.size() > kBlock) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
        used_ = 0;
    }
    const std::uint32_t at = static_cast<std::uint32_t>(((blocks_.size() - 1) << kBlockBits) | used_);
    std::memcpy(blocks_.back().get() + used_, text.data(), text.size());
    used_ += text.size();
    return at;
}

void ScanStore::BeginDirectory(std::string_view path) {
    auto it = dirs_.find(path);
    cur_dir_ = it == dirs_.end() ? std::make_pair(0u, 0u) : it->second;
}

int ScanStore::Find(std::string_view name) const {
    std::uint32_t lo = cur_dir_.first, hi = cur_dir_.second;
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        const Row& r = rows_[mid];
        const int c = texts_.At(r.name_off, r.name_len).compare(name);
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < cur_dir_.second) {
        const Row& r = rows_[lo];
        if (texts_.At(r.name_off, r.name_len) == name) return static_cast<int>(lo);
    }
    return -1;
}

void ScanStore::Store(const FILES_RECORD& rec, WalkStats& stats) {
    (void)stats;
    if (!begun_ || Failed()) {
        ++counts_.not_stored;
        return;
    }
    const int i = cur_dir_.first < cur_dir_.second ? Find(rec.NAME.View()) : -1;
    if (i < 0) {
        inserts_.push_back(Insert{rec});
        return;
    }
    Row& r = rows_[static_cast<std::size_t>(i)];
    if (r.state == kSeen) return;  // the same file handed over twice
    r.state = kSeen;
    std::uint32_t date = 0, time = 0;
    StoredDateTime(rec, date, time);
    if (r.size == static_cast<std::uint64_t>(rec.SIZE) && r.date == date && r.time == time &&
        r.type == rec.TYPE && r.ext_hash == Hash32(rec.EXTENSION.View())) {
        ++counts_.unchanged;
        return;
    }
    updates_.push_back(Update{r.number, rec});
}

void ScanStore::EndDirectory(WalkStats& stats) {
    if (!begun_ || Failed()) return;
    if (inserts_.size() + updates_.size() >= batch_rows_ || SteadyClock::now() - batch_began_ >= kBatchTime)
        Flush(&stats);
}

void ScanStore::DirectoryNotRead(std::string_view path) {
    std::lock_guard lock(not_read_mutex_);
    not_read_.emplace_back(path);
}

bool ScanStore::InsertRows(std::size_t from, std::size_t count, long long first_number, std::size_t& done) {
    done = 0;
    while (done < count) {
        const std::size_t left = count - done;
        std::size_t rows = insert_rows_;
        for (std::size_t size : {insert_rows_, std::size_t{50}, std::size_t{10}, std::size_t{1}})
            if (size <= left) {
                rows = size;
                break;
            }
        Statements::Prepared* p = stmts_->Insert(rows);
        if (p == nullptr) return false;
        for (std::size_t r = 0; r < rows; ++r)
            Statements::Fill(p->params[r], inserts_[from + done + r].rec,
                             static_cast<std::uint64_t>(first_number + static_cast<long long>(done + r)));
        if (!stmts_->Execute(*p)) return false;
        done += rows;
    }
    return true;
}

bool ScanStore::InsertOneByOne(std::size_t from, std::size_t count, long long& next_number,
                               long long& last_number) {
    Statements::Prepared* p = stmts_->Insert(1);
    if (p == nullptr) return false;
    for (std::size_t i = from; i < from + count; ++i) {
        for (int attempt = 0;; ++attempt) {
            if (next_number > last_number) {
                if (!ReserveNumbers(*session_, table_, "SysFILES", 100, next_number)) return false;
                last_number = next_number + 99;
            }
            Statements::Fill(p->params[0], inserts_[i].rec, static_cast<std::uint64_t>(next_number++));
            if (stmts_->Execute(*p)) {
                ++counts_.inserted;
                break;
            }
            const Diag& d = session_->LastDiag();
            if (CannotWriteNow()) return false;
            if (Classify(d) == Meaning::DuplicateKey && attempt < 5) {
                next_number = last_number + 1;  // a program numbering highest-plus-one took it
                continue;
            }
            // This row cannot be stored (a name the server cannot hold): counted, named.
            NoteRefused(inserts_[i].rec);
            break;
        }
    }
    return true;
}

void ScanStore::NoteRefused(const FILES_RECORD& rec) {
    refused_.emplace_back(&rec, session_->LastError());
}

bool ScanStore::RetryWhenBusy(std::optional<SteadyClock::time_point>& since) {
    if (session_->CutOff() || KindOfSession(*session_) != ServerKind::Embedded || !Busy(session_->LastDiag()))
        return false;
    const std::string why = session_->LastError();
    const auto now = SteadyClock::now();
    if (!since) since = now;
    // The transaction goes back whole: SQLite may already have rolled it back, and a
    // read snapshot kept open would stay stale after the other program's commit.
    session_->Rollback();
    std::this_thread::sleep_for(kBusyPause);
    if (ScanStopRequested()) {
        Fail("stopped while another program held the database's write lock (" + why + ")");
        return false;
    }
    if (now - *since >= std::chrono::seconds(DatabaseTimeout())) {
        Fail("another program held the database's write lock for " + std::to_string(DatabaseTimeout()) +
             " s (" + why + ")");
        return false;
    }
    return true;
}

bool ScanStore::WriteBatch(std::uint64_t& inserted, std::uint64_t& updated) {
    inserted = updated = 0;
    refused_.clear();
    if (!inserts_.empty()) {
        // Numbers first, in a transaction of their own: the counter row is held only as
        // long as that takes.
        long long first = 0;
        if (!ReserveNumbers(*session_, table_, "SysFILES", static_cast<long long>(inserts_.size()), first) ||
            !session_->Commit())
            return false;
        long long next = first, last = first + static_cast<long long>(inserts_.size()) - 1;
        batch_range_ = {first, last};
        for (std::size_t from = 0; from < inserts_.size(); from += insert_rows_) {
            const std::size_t count = std::min(insert_rows_, inserts_.size() - from);
            std::size_t done = 0;
            if (InsertRows(from, count, first + static_cast<long long>(from), done)) {
                inserted += count;
                continue;
            }
            // The statements before the failed one are stored (a failed statement takes
            // only itself back: each statement runs under its own savepoint on
            // PostgreSQL, see Begin); they must not be inserted a second time.
            inserted += done;
            if (CannotWriteNow()) return false;
            // A duplicate number (a program numbering highest-plus-one) or a row the
            // server refuses: the rest of this part goes in row by row under fresh numbers.
            next = last + 1;
            fill_.on = false;  // numbers outside the batch's range: the index is made at the end
            const std::uint64_t before = counts_.inserted;
            const bool went_on = InsertOneByOne(from + done, count - done, next, last);
            inserted += counts_.inserted - before;
            counts_.inserted = before;
            if (!went_on) return false;
        }
    }
    if (session_->CutOff()) return false;
    if (!updates_.empty()) {
        Statements::Prepared* p = stmts_->Update();
        if (p == nullptr) return false;
        for (const Update& u : updates_) {
            Statements::Fill(p->params[0], u.rec, u.number);
            if (!stmts_->Execute(*p)) {
                if (CannotWriteNow()) return false;
                NoteRefused(u.rec);
                continue;
            }
            ++updated;
        }
    }
    return !session_->CutOff() && session_->Commit();
}

bool ScanStore::Flush(WalkStats* stats) {
    batch_began_ = SteadyClock::now();
    if (inserts_.empty() && updates_.empty()) return true;
    // A batch that meets another program's write lock is rolled back and written again
    // (RetryWhenBusy); any other failure that is no single row's gives it up whole.
    std::optional<SteadyClock::time_point> busy_since;
    std::uint64_t inserted = 0, updated = 0;
    bool stored = false;
    for (;;) {
        batch_range_ = {0, -1};
        stored = WriteBatch(inserted, updated);
        if (stored || !RetryWhenBusy(busy_since)) break;
    }
    const std::uint64_t not_stored_before = counts_.not_stored;
    for (const auto& [rec, reason] : refused_) {
        ++counts_.not_stored;
        if (counts_.first_failure.empty())
            counts_.first_failure =
                std::string(rec->DIR.View()) + std::string(rec->NAME.View()) + ": " + reason;
        if (stats != nullptr) stats->NoteLost(rec->DIR.View(), rec->NAME.View(), reason);
    }
    refused_.clear();
    if (stored) {
        counts_.inserted += inserted;
        counts_.updated += updated;
        ++batches_;
        NoteStoredRange(batch_range_.first, batch_range_.second);
        FillIndexStep();
    } else {
        // Nothing of this batch is stored; the rows that were there stay as they were.
        Fail(session_->LastError());
        session_->Rollback();
        counts_.not_stored = not_stored_before + inserts_.size() + updates_.size();
    }
    inserts_.clear();
    updates_.clear();
    if (after_batch_ && !Failed()) after_batch_(batches_);
    return !Failed();
}

bool ScanStore::CannotWriteNow() const {
    return session_->CutOff() || CannotWrite(session_->LastDiag(), KindOfSession(*session_));
}

bool ScanStore::DeleteNumbers(const std::vector<std::uint64_t>& numbers) {
    // Ten statements to a transaction; a transaction that meets another program's write
    // lock is rolled back and deleted again (RetryWhenBusy).
    std::optional<SteadyClock::time_point> busy_since;
    std::size_t from = 0;  // the first number not deleted yet
    while (from < numbers.size()) {
        const std::size_t upto = std::min(numbers.size(), from + 10 * kDeleteChunk);
        std::uint64_t deleted = 0;
        bool ok = true;
        for (std::size_t at = from; ok && at < upto; at += kDeleteChunk) {
            std::string text = "DELETE FROM " + table_ + " WHERE SysFILES IN (";
            const std::size_t end = std::min(upto, at + kDeleteChunk);
            for (std::size_t i = at; i < end; ++i) {
                if (i > at) text += ',';
                text += std::to_string(numbers[i]);
            }
            text += ")";
            long n = 0;
            ok = session_->Exec(text, &n);
            deleted += static_cast<std::uint64_t>(n > 0 ? n : 0);
        }
        if (ok && session_->Commit()) {
            counts_.deleted += deleted;
            from = upto;
            busy_since.reset();
            continue;
        }
        if (!RetryWhenBusy(busy_since)) return false;
    }
    return session_->Commit();
}

bool ScanStore::Finish(WalkStats& stats) {
    if (!begun_) return false;
    Flush(&stats);
    if (!Failed()) {
        // Rows under directories whose listing failed are kept as they are.
        std::vector<std::string> not_read;
        {
            std::lock_guard lock(not_read_mutex_);
            not_read = not_read_;
        }
        counts_.dirs_not_read = not_read.size();
        std::vector<bool> keep_dir;
        if (!not_read.empty()) {
            for (const auto& [dir, range] : dirs_) {
                bool under = false;
                for (const std::string& p : not_read) under = under || dir.compare(0, p.size(), p) == 0;
                if (!under) continue;
                // A row the exclusions now leave out goes, as if the directory were read.
                if (exclude_.ExcludesPath(dir, true)) continue;
                for (std::uint32_t i = range.first; i < range.second; ++i)
                    if (rows_[i].state != kSeen &&
                        !exclude_.ExcludesEntry(dir, texts_.At(rows_[i].name_off, rows_[i].name_len),
                                                false)) {
                        rows_[i].state = kSeen;
                        ++counts_.kept;
                    }
            }
        }
        std::vector<std::uint64_t> gone;
        for (const Row& r : rows_)
            if (r.state != kSeen) gone.push_back(r.number);
        const std::uint64_t before = counts_.deleted;
        if (!DeleteNumbers(gone)) {
            Fail(session_->LastError());
            session_->Rollback();
        }
        (void)before;
    }
    counts_.rows_after = counts_.rows_before + counts_.inserted - counts_.deleted;
    stats.files_stored = static_cast<ULONG>(counts_.rows_after);
    stats.files_not_stored += static_cast<ULONG>(counts_.not_stored);
    RemakeIndexes();
    Unlock();
    return !Failed() && counts_.not_stored == 0;
}

void ScanStore::Stop(WalkStats& stats) {
    if (begun_ && !Failed()) Flush(&stats);
    counts_.rows_after = counts_.rows_before + counts_.inserted - counts_.deleted;
    stats.files_stored = static_cast<ULONG>(counts_.rows_after);
    stats.files_not_stored += static_cast<ULONG>(counts_.not_stored);
    RemakeIndexes();
    Unlock();
}

bool ScanStore::BeginScan(ULONG syscomputer, WalkStats& stats) {
    if (Begin(syscomputer)) return true;
    stats.first_failure = error_;
    return false;
}

bool ScanStore::FinishScan(WalkStats& stats) {
    // Rows the server refused are counted as not stored; only a store that broke down
    // makes the scan a failed one.
    Finish(stats);
    CopyCounts(stats);
    return !Failed();
}

void ScanStore::StopScan(WalkStats& stats) {
    Stop(stats);
    CopyCounts(stats);
}

void ScanStore::CopyCounts(WalkStats& stats) const {
    stats.rows_inserted = static_cast<ULONG>(counts_.inserted);
    stats.rows_updated = static_cast<ULONG>(counts_.updated);
    stats.rows_deleted = static_cast<ULONG>(counts_.deleted);
    stats.rows_unchanged = static_cast<ULONG>(counts_.unchanged);
    if (stats.first_failure.empty()) stats.first_failure = !error_.empty() ? error_ : counts_.first_failure;
}

}  // namespace dt
