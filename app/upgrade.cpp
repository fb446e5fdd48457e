#include "app/upgrade.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "data/sql_session.h"

namespace dt {
namespace {

constexpr long kUpgradeLock = 0x44545550;  // the advisory lock of the upgrade step

bool Exists(SqlSession& s, const std::string& query, std::string* value = nullptr) {
    std::string v;
    bool found = false;
    if (!s.QueryValue(query, v, &found)) return false;
    if (value != nullptr) *value = v;
    return found || !v.empty();
}

// "Already exists" (or PostgreSQL's duplicate key in its own catalog when two sessions
// create the same object at one moment) means another program was first.
bool CreatedByAnother(const Diag& d) {
    const Meaning m = Classify(d);
    return m == Meaning::AlreadyExists || m == Meaning::DuplicateKey;
}

bool EnsureCounter(SqlSession& s, const Dialect& d, std::string& why) {
    if (Exists(s, d.TableExistsQuery("DTCOUNTER"))) return true;
    if (s.Exec(d.CreateCounterTable()) || CreatedByAnother(s.LastDiag())) return true;
    why = s.LastError();
    return false;
}

}  // namespace

ServerKind KindOfSession(const SqlSession& session) {
    return KindOfDbms(session.DbmsName());
}

bool EnsureIndex(SqlSession& s, const Dialect& d, const std::string& index, const std::string& table,
                 const std::string& column, bool unique, std::string& why, bool concurrently) {
    if (!Exists(s, d.TableExistsQuery(table))) return true;  // made with its table later
    std::string state;
    if (Exists(s, d.IndexStateQuery(index), &state)) {
        if (state != "0") return true;
        // A concurrent build that failed half way leaves an index that is never used.
        if (!s.Exec(d.DropIndex(index, table))) {
            why = s.LastError();
            return false;
        }
    }
    if (unique && Exists(s, d.DuplicateValuesQuery(table, column))) {
        why = "rows of " + table + " share a value of " + column + "; the unique index is not made";
        return false;
    }
    if (s.Exec(d.CreateIndex(index, table, column, unique, concurrently))) return true;
    if (CreatedByAnother(s.LastDiag())) return true;
    why = s.LastError();
    return false;
}

std::vector<UpgradeEntry>& UpgradeEntries() {
    static std::vector<UpgradeEntry> entries = {
        {"index FILES_SYSCOMPUTER",
         [](SqlSession& s, const Dialect& d, std::string& why) {
             // The rows of one computer: a rescan's read and deletes, the search's filter.
             return EnsureIndex(s, d, "FILES_SYSCOMPUTER", "FILES", "SysCOMPUTER", false, why);
         }},
        {"index COMPUTER_NAME",
         [](SqlSession& s, const Dialect& d, std::string& why) {
             // One row per computer, also when two programs of one computer start at once.
             // Built plainly: COMPUTER is small and rarely written, so the build is over in
             // moments, whereas a concurrent build would wait for every transaction of the
             // database, other computers' scan batches included (seconds on a first night).
             return EnsureIndex(s, d, "COMPUTER_NAME", "COMPUTER", "NAME", true, why, false);
         }},
        {"table DTCOUNTER",
         [](SqlSession& s, const Dialect& d, std::string& why) { return EnsureCounter(s, d, why); }},
    };
    return entries;
}

UpgradeResult RunUpgrade(SqlSession& session, const std::function<void()>& then) {
    UpgradeResult r;
    const ServerKind kind = KindOfSession(session);
    const Dialect& d = DialectOf(kind);
    if (!session.AutoCommit()) session.Rollback();
    session.SetAutoCommit(true);
    // One program at a time runs the step on PostgreSQL: two concurrent index builds on
    // one table wait for each other (the server ends one as a deadlock), and a build in
    // progress looks like a failed one to the catalog check. The lock is only tried,
    // never waited for inside a statement: a session waiting in a statement would hold
    // a snapshot that the holder's concurrent build waits for in turn.
    bool locked = false;
    if (kind == ServerKind::PostgreSQL) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(DatabaseTimeout());
        for (;;) {
            std::string v;
            if (!session.QueryValue("SELECT pg_try_advisory_lock(" + std::to_string(kUpgradeLock) + ")", v))
                break;
            if (v == "1" || v == "t") {
                locked = true;
                break;
            }
            if (std::chrono::steady_clock::now() >= until) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!locked) {
            r.ok = false;
            r.failures.push_back("another program's upgrade step did not end within " +
                                 std::to_string(DatabaseTimeout()) + " s");
            return r;
        }
    }
    for (const UpgradeEntry& e : UpgradeEntries()) {
        std::string why;
        if (!e.ensure(session, d, why)) {
            r.ok = false;
            r.failures.push_back(e.name + ": " + why);
        }
    }
    // Further schema work of the caller (the search's indexes) under the same lock.
    if (then) then();
    if (locked) {
        std::string v;
        session.QueryValue("SELECT pg_advisory_unlock(" + std::to_string(kUpgradeLock) + ")", v);
    }
    return r;
}

UpgradeResult RunUpgrade(const std::string& owner, const std::function<void()>& then) {
    Diag diag;
    auto session = SqlSession::Open(owner, "", diag);
    if (!session) {
        UpgradeResult r;
        r.ok = false;
        r.failures.push_back("connect: " + diag.state + " " + diag.message);
        return r;
    }
    return RunUpgrade(*session, then);
}

bool ReserveNumbers(SqlSession& s, const std::string& table, const std::string& column, long long count,
                    long long& first) {
    const Dialect& d = DialectOf(KindOfSession(s));
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::string v;
        bool found = false;
        const std::string then = d.ReservedNumberQuery(table, count);
        if (then.empty()) {
            if (s.QueryValue(d.ReserveNumbers(table, column, count), v, &found) && found) {
                first = std::strtoll(v.c_str(), nullptr, 10);
                return first > 0;
            }
        } else {
            // Update and read in one transaction: no other program moves the counter between.
            const bool was_auto = s.AutoCommit();
            s.SetAutoCommit(false);
            long rows = 0;
            bool ok = s.Exec(d.ReserveNumbers(table, column, count), &rows) && rows == 1 &&
                      s.QueryValue(then, v, &found) && found;
            if (was_auto) {
                ok = (ok ? s.Commit() : (s.Rollback(), false)) && ok;
                s.SetAutoCommit(true);
            }
            if (ok) {
                first = std::strtoll(v.c_str(), nullptr, 10);
                return first > 0;
            }
        }
        if (s.CutOff() || Classify(s.LastDiag()) == Meaning::Connection) return false;
        // No counter table or no row for this table yet: make them and try again.
        // PostgreSQL has aborted an open transaction with the failed statement.
        if (!s.AutoCommit()) s.Rollback();
        std::string why;
        if (!EnsureCounter(s, d, why)) return false;
        if (!s.Exec(d.InsertCounterRow(table)) && !CreatedByAnother(s.LastDiag())) return false;
        if (!s.AutoCommit()) s.Commit();
    }
    return false;
}

}  // namespace dt
