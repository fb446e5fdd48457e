// A connection of its own for work that must not share the tables' connection: a scan's
// transactions, its advisory lock and its long reads. Statements go straight to ODBC;
// every failure keeps the server's diagnostic (state and text) for the caller's message.
//
// Nothing waits for ever: PostgreSQL gets statement_timeout and lock_timeout, the
// embedded database its busy time-out (DatabaseTimeout). A server that stops answering
// altogether (a frozen process, a lost network) cannot end a statement itself, so a
// watch thread shuts the connection's sockets down when one call has run longer than the
// time-out and a few seconds more; the call then fails with "connection lost". The same
// happens to a call that has waited a second or more once the owner asks to give up (a
// scan told to stop by a signal must not wait for a lock for the whole time-out; a server
// connection only: on the embedded database the scan's store waits for another program's
// write lock in short steps of its own, see ScanStore).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "data/odbc.h"
#include "data/sql_connection.h"

namespace dt {

class SqlSession {
  public:
    // Connects for `owner` as a FILE with that owner would (driver names, connection
    // string), plus `extra` attributes. nullptr with `diag` on failure.
    static std::unique_ptr<SqlSession> Open(const std::string& owner, const std::string& extra, Diag& diag);
    ~SqlSession();
    SqlSession(const SqlSession&) = delete;
    SqlSession& operator=(const SqlSession&) = delete;

    int Kind() const { return conn_->server->kind; }
    const std::string& DbmsName() const { return conn_->dbms_name; }
    const OdbcApi& Api() const { return conn_->api(); }
    SQLHDBC Dbc() const { return conn_->dbc.get(); }
    // The last failure: its state and the server's text.
    const Diag& LastDiag() const { return diag_; }
    std::string LastError() const;

    // Runs a statement without result rows. `rows` (may be null) gets the affected count.
    bool Exec(std::string_view sql, long* rows = nullptr);
    // The first column of the first row as text; false on failure, true with `found`
    // false when there is no row.
    bool QueryValue(std::string_view sql, std::string& value, bool* found = nullptr);
    // Autocommit on or off; commit or roll back the open transaction.
    bool SetAutoCommit(bool on);
    bool Commit();
    bool Rollback();
    bool AutoCommit() const { return autocommit_; }

    // A statement handle on this connection (empty on failure).
    OdbcHandle NewStatement();
    // Records the diagnostic of a failed call on `stmt` (or the connection when null).
    // Returns whether `rc` succeeded (SQL_NO_DATA counts as success).
    bool Check(SQLRETURN rc, SQLHSTMT stmt);

    // Every ODBC call that may wait on the server runs between Arm and Disarm (see the
    // watch above); ArmedCall does both.
    void Arm();
    void Disarm();
    template <class Fn>
    SQLRETURN ArmedCall(Fn&& fn) {
        Arm();
        SQLRETURN rc = fn();
        Disarm();
        return rc;
    }
    // True once the watch has cut the connection: every later call fails.
    bool CutOff() const { return cut_; }
    // Asked by the watch while a call waits: true gives the waiting call up (the connection
    // is cut as on the time-out, its open transaction rolled back by the server). Set it
    // before the first call; it must be safe to call from another thread.
    void SetGiveUp(std::function<bool()> fn) {
        std::lock_guard lock(mutex_);
        give_up_ = std::move(fn);
    }

  private:
    SqlSession() = default;
    void Watch();

    std::shared_ptr<Connection> conn_;
    Diag diag_;
    bool autocommit_ = true;
    std::vector<int> sockets_;  // the connection's sockets, cut by the watch

    std::mutex mutex_;
    std::condition_variable wake_;
    std::chrono::steady_clock::time_point deadline_{};
    std::chrono::steady_clock::time_point armed_at_{};
    std::function<bool()> give_up_;
    bool given_up_ = false;
    bool armed_ = false;
    bool idle_ = false;  // the watch waits for a call to be armed, with no deadline
    bool stop_ = false;
    std::atomic<bool> cut_{false};
    std::thread watch_;
};

}  // namespace dt
