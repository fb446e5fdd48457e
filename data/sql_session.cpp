#include "data/sql_session.h"

#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace dt {
namespace {

// The open socket descriptors of this process.
std::vector<int> SocketDescriptors() {
    std::vector<int> out;
    DIR* d = ::opendir("/proc/self/fd");
    if (d == nullptr) return out;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const int fd = std::atoi(e->d_name);
        if (fd == ::dirfd(d)) continue;
        char link[64] = {};
        const std::string path = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
        if (n > 7 && std::string_view(link, 7) == "socket:") out.push_back(fd);
    }
    ::closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

// A call is given the database time-out and this much more before the watch cuts the
// connection: the server's own time-out answers first when the server still runs.
constexpr auto kGrace = std::chrono::seconds(2);
// Once the owner gives up, a call that has waited this long is cut; how often the watch
// asks while a call runs.
constexpr auto kGiveUpAfter = std::chrono::seconds(1);
constexpr auto kGiveUpPoll = std::chrono::milliseconds(200);

}  // namespace

std::unique_ptr<SqlSession> SqlSession::Open(const std::string& owner, const std::string& extra, Diag& diag) {
    std::string state, why;
    auto env = Environment::Get(&state, &why);
    if (!env) {
        diag = Diag{SQL_ERROR, state, 0, why};
        return nullptr;
    }
    std::unique_ptr<SqlSession> s(new SqlSession());
    const std::vector<int> before = SocketDescriptors();
    s->conn_ = env->ConnectDedicated(owner, false, extra, diag);
    if (!s->conn_) return nullptr;
    const std::vector<int> after = SocketDescriptors();
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(s->sockets_));
    s->watch_ = std::thread([p = s.get()] { p->Watch(); });
    return s;
}

SqlSession::~SqlSession() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (watch_.joinable()) watch_.join();
}

std::string SqlSession::LastError() const {
    if (diag_.state.empty() && diag_.message.empty()) return {};
    return diag_.state + " " + diag_.message;
}

void SqlSession::Arm() {
    std::lock_guard lock(mutex_);
    armed_at_ = std::chrono::steady_clock::now();
    deadline_ = armed_at_ + std::chrono::seconds(DatabaseTimeout()) + kGrace;
    armed_ = true;
    // A watch that waits for an earlier call's deadline wakes before this one's (every call
    // gets the same time-out) and then waits again for this one: only an idle watch needs
    // waking. Waking it at every call would cost a thread switch per fetched row.
    if (idle_) wake_.notify_all();
}

void SqlSession::Disarm() {
    std::lock_guard lock(mutex_);
    armed_ = false;
}

void SqlSession::Watch() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (!armed_) {
            idle_ = true;
            wake_.wait(lock);
            idle_ = false;
            continue;
        }
        const auto wake_at =
            give_up_ ? std::min(deadline_, std::chrono::steady_clock::now() + kGiveUpPoll) : deadline_;
        if (wake_.wait_until(lock, wake_at) != std::cv_status::timeout || !armed_ || stop_) continue;
        const auto now = std::chrono::steady_clock::now();
        const bool late = now >= deadline_;
        // Only a connection with sockets can be cut (not the embedded database).
        const bool give_up =
            !late && !sockets_.empty() && give_up_ && now - armed_at_ >= kGiveUpAfter && give_up_();
        if (late || give_up) {
            // The server has not answered within the time-out (or the owner gave up the
            // wait): the blocked call returns with a lost connection once its sockets are
            // shut down.
            given_up_ = give_up;
            cut_ = true;
            for (int fd : sockets_) ::shutdown(fd, SHUT_RDWR);
            armed_ = false;
        }
    }
}

bool SqlSession::Check(SQLRETURN rc, SQLHSTMT stmt) {
    if (Succeeded(rc) || rc == SQL_NO_DATA) return true;
    diag_ = ReadDiag(Api(), rc, nullptr, stmt ? nullptr : Dbc(), stmt);
    if (cut_) {
        bool given_up = false;
        {
            std::lock_guard lock(mutex_);
            given_up = given_up_;
        }
        diag_.message =
            given_up ? "stopped while waiting for the database; connection given up (" + diag_.message + ")"
                     : "the database server did not answer within " + std::to_string(DatabaseTimeout()) +
                           " s; connection given up (" + diag_.message + ")";
        if (diag_.state.empty() || diag_.state[0] != '0') diag_.state = "08S01";
    }
    return false;
}

OdbcHandle SqlSession::NewStatement() {
    SQLHSTMT h = nullptr;
    if (!Check(Api().SQLAllocStmt(Dbc(), &h), nullptr)) return {};
    return OdbcHandle(&Api(), OdbcHandle::Stmt, h);
}

bool SqlSession::Exec(std::string_view sql, long* rows) {
    OdbcHandle h = NewStatement();
    if (!h) return false;
    std::string text(sql);
    SQLRETURN rc = ArmedCall(
        [&] { return Api().SQLExecDirect(h.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS); });
    if (!Check(rc, h.get())) return false;
    if (rows != nullptr) {
        SQLLEN n = 0;
        if (rc != SQL_NO_DATA) Api().SQLRowCount(h.get(), &n);
        *rows = static_cast<long>(n);
    }
    return true;
}

bool SqlSession::QueryValue(std::string_view sql, std::string& value, bool* found) {
    value.clear();
    if (found != nullptr) *found = false;
    OdbcHandle h = NewStatement();
    if (!h) return false;
    std::string text(sql);
    SQLRETURN rc = ArmedCall(
        [&] { return Api().SQLExecDirect(h.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS); });
    if (!Check(rc, h.get())) return false;
    rc = ArmedCall([&] { return Api().SQLFetch(h.get()); });
    if (rc == SQL_NO_DATA) return true;
    if (!Check(rc, h.get())) return false;
    char buf[512] = {};
    SQLLEN ind = 0;
    if (!Check(Api().SQLGetData(h.get(), 1, SQL_C_CHAR, buf, sizeof buf, &ind), h.get())) return false;
    if (ind != SQL_NULL_DATA) value = buf;
    if (found != nullptr) *found = ind != SQL_NULL_DATA;
    return true;
}

bool SqlSession::SetAutoCommit(bool on) {
    if (on == autocommit_) return true;
    if (!Check(Api().SQLSetConnectOption(Dbc(), SQL_AUTOCOMMIT, on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF),
               nullptr))
        return false;
    autocommit_ = on;
    return true;
}

bool SqlSession::Commit() {
    return Check(ArmedCall([&] { return Api().SQLTransact(nullptr, Dbc(), SQL_COMMIT); }), nullptr);
}

bool SqlSession::Rollback() {
    return Check(ArmedCall([&] { return Api().SQLTransact(nullptr, Dbc(), SQL_ROLLBACK); }), nullptr);
}

}  // namespace dt
