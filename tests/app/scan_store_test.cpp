// The scan's database store over the real drivers: a rescan writes only the difference,
// keeps the numbers of unchanged files, reduces duplicate rows, keeps rows under
// directories it could not read, deletes nothing when stopped, lets one scan of a
// computer run at a time, and shares the table with other computers and with programs
// that number highest-plus-one. Built for the embedded database and for PostgreSQL
// (tests/support/backend.h; PostgreSQL in a database of its own).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/scan.h"
#include "app/scan_store.h"
#include "app/search_index.h"
#include "app/upgrade.h"
#include "data/sql_connection.h"
#include "data/sql_session.h"
#include "tests/support/backend.h"

namespace dt::test {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

class StoreTest : public BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        char tmpl[] = "/tmp/dt-store-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        old_cwd_ = fs::current_path();
        fs::current_path(dir_);  // the embedded database file lies here
        const std::string database = IsPostgres() ? MakeDatabase("dtstore") : std::string("store");
        ASSERT_FALSE(database.empty());
        owner_ = Backend::Owner(database, "T");
    }
    void TearDown() override {
        session_.reset();
        ClearScanStop();
        if (!dir_.empty()) {
            fs::current_path(old_cwd_);
            std::error_code ec;
            fs::remove_all(dir_, ec);
        }
        SetDatabaseTimeout(60);
        BackendTest::TearDown();  // the test database goes
    }

    SqlSession& Db() {
        if (!session_) {
            Diag d;
            session_ = SqlSession::Open(owner_, "", d);
            EXPECT_TRUE(session_) << d.message;
        }
        return *session_;
    }
    // FILES as the previous version made it: no index on the computer, no counter.
    void MakeFiles() {
        ASSERT_TRUE(
            Db().Exec("CREATE TABLE IF NOT EXISTS FILES (SysFILES BIGINT NOT NULL PRIMARY KEY, "
                      "SysCOMPUTER BIGINT, NAME VARCHAR(256), EXTENSION VARCHAR(10), DIR VARCHAR(260), "
                      "TYPE SMALLINT, DATE TIMESTAMP, SIZE BIGINT)") ||
            Classify(Db().LastDiag()) == Meaning::DuplicateKey)
            << Db().LastError();
    }
    std::string Value(const std::string& q) {
        std::string v;
        EXPECT_TRUE(Db().QueryValue(q, v)) << q << ": " << Db().LastError();
        return v;
    }
    // path -> number of computer n's rows.
    std::map<std::string, std::string> Rows(ULONG n) {
        std::map<std::string, std::string> out;
        OdbcHandle h = Db().NewStatement();
        std::string q = "SELECT DIR, NAME, SysFILES FROM FILES WHERE SysCOMPUTER = " + std::to_string(n);
        Db().Api().SQLExecDirect(h.get(), reinterpret_cast<SQLCHAR*>(q.data()), SQL_NTS);
        while (Succeeded(Db().Api().SQLFetch(h.get()))) {
            char d[600] = {}, name[600] = {}, num[32] = {};
            SQLLEN i = 0;
            Db().Api().SQLGetData(h.get(), 1, SQL_C_CHAR, d, sizeof d, &i);
            Db().Api().SQLGetData(h.get(), 2, SQL_C_CHAR, name, sizeof name, &i);
            Db().Api().SQLGetData(h.get(), 3, SQL_C_CHAR, num, sizeof num, &i);
            EXPECT_TRUE(out.emplace(std::string(d) + name, num).second) << "row doubled: " << d << name;
        }
        return out;
    }
    // Files under `root` (their paths).
    static std::set<std::string> Tree(const fs::path& root) {
        std::set<std::string> out;
        for (auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file()) out.insert(e.path().string());
        return out;
    }
    static std::set<std::string> Keys(const std::map<std::string, std::string>& m) {
        std::set<std::string> out;
        for (auto& [k, v] : m) out.insert(k);
        return out;
    }
    fs::path MakeTree(const std::string& name, int files) {
        fs::path root = dir_ / name;
        for (int i = 0; i < files; ++i) {
            fs::path d = root / ("d" + std::to_string(i % 7)) / ("e" + std::to_string(i % 3));
            fs::create_directories(d);
            std::ofstream(d / ("f" + std::to_string(i) + ".txt"))
                << std::string(static_cast<std::size_t>(i % 50), 'x');
        }
        return root;
    }
    // One scan of `root` as computer `n`; the store's counts.
    StoreCounts Scan(const fs::path& root, ULONG n, bool* ok = nullptr, std::size_t batch = 5000,
                     const std::vector<std::string>& not_read = {}, long read_page = 0,
                     const Exclusions& exclude = Exclusions()) {
        ScanStore store(owner_);
        store.SetBatchRows(batch);
        store.SetReadPage(read_page);
        store.SetExclusions(exclude);
        bool begun = store.Begin(n);
        EXPECT_TRUE(begun) << store.Error();
        WalkStats stats;
        if (begun) {
            ScanDirectory(root.string(), n, store, stats, {}, &exclude);
            for (const std::string& p : not_read) store.DirectoryNotRead(p);
        }
        bool finished = begun && store.Finish(stats);
        if (ok) *ok = finished;
        EXPECT_TRUE(!begun || store.Error().empty()) << store.Error();
        return store.Counts();
    }

    fs::path dir_, old_cwd_;
    std::string owner_;
    std::unique_ptr<SqlSession> session_;
};

TEST_F(StoreTest, ARescanWritesOnlyTheDifferenceAndKeepsTheNumbersOfUnchangedFiles) {
    MakeFiles();
    const fs::path root = MakeTree("t", 300);
    StoreCounts first = Scan(root, 7);
    EXPECT_EQ(first.inserted, 300u);
    EXPECT_EQ(first.rows_after, 300u);
    auto before = Rows(7);
    ASSERT_EQ(Keys(before), Tree(root));
    // The upgrade step made the index on the computer and the counter.
    EXPECT_EQ(Value(DialectOf(KindOfSession(Db())).IndexStateQuery("FILES_SYSCOMPUTER")), "1");

    // Changed, added, removed; and a second row of one file, as earlier versions left.
    std::ofstream(root / "d0/e0/f0.txt") << "now longer than before";
    std::ofstream(root / "d1/e1/new.txt") << "n";
    fs::remove(root / "d2/e2/f2.txt");
    const std::string twin = (root / "d3/e0/").string();
    ASSERT_TRUE(
        Db().Exec("INSERT INTO FILES VALUES (999999, 7, 'f3.txt', 'txt', '" + twin + "', 32, NULL, 3)"))
        << Db().LastError();

    StoreCounts again = Scan(root, 7);
    EXPECT_EQ(again.inserted, 1u);
    EXPECT_EQ(again.updated, 1u);
    EXPECT_EQ(again.deleted, 2u);  // the removed file and the duplicate
    EXPECT_EQ(again.unchanged, 298u);
    EXPECT_EQ(again.rows_after, 300u);
    auto after = Rows(7);
    EXPECT_EQ(Keys(after), Tree(root));
    for (auto& [path, number] : after)
        if (before.count(path)) {
            EXPECT_EQ(number, before[path]) << path << " kept its number";
        }
    EXPECT_EQ(Value("SELECT SIZE FROM FILES WHERE NAME = 'f0.txt'"), "22");

    // An unchanged tree writes nothing, also when the stored rows are read in small pages.
    StoreCounts third = Scan(root, 7, nullptr, 5000, {}, 7);
    EXPECT_EQ(third.unchanged, 300u);
    EXPECT_EQ(third.inserted + third.updated + third.deleted, 0u);
}

// Long names and directories, more text than one of the store's text blocks (512 KiB):
// every row read back is found again by the rescan, across the blocks' edges.
TEST_F(StoreTest, LongNamesBeyondOneTextBlockAreAllFoundAgain) {
    MakeFiles();
    const fs::path root = dir_ / "long";
    for (int i = 0; i < 2000; ++i) {
        const fs::path d = root / (std::string(200, 'd') + std::to_string(i / 2));
        fs::create_directories(d);
        std::ofstream(d / (std::to_string(i) + std::string(240, 'n') + ".txt")) << i;
    }
    StoreCounts first = Scan(root, 4);
    ASSERT_EQ(first.inserted, 2000u);
    StoreCounts again = Scan(root, 4);
    EXPECT_EQ(again.unchanged, 2000u);
    EXPECT_EQ(again.inserted + again.updated + again.deleted, 0u);
    EXPECT_EQ(Keys(Rows(4)), Tree(root));
}

TEST_F(StoreTest, RowsUnderADirectoryNotReadAreKeptAndAStoppedScanDeletesNothing) {
    MakeFiles();
    const fs::path root = MakeTree("t", 120);
    Scan(root, 3);
    // The listing of d1 fails this time (here: its files are gone and the walk says so).
    fs::remove_all(root / "d1");
    ASSERT_TRUE(fs::remove(root / "d2/e0/f9.txt"));
    StoreCounts c = Scan(root, 3, nullptr, 5000, {(root / "d1").string() + "/"});
    EXPECT_EQ(c.deleted, 1u);
    EXPECT_GT(c.kept, 0u);
    EXPECT_EQ(c.dirs_not_read, 1u);
    EXPECT_EQ(Rows(3).size(), 119u);

    // A stop after the walk: the files of d3 are gone, their rows stay until a complete scan.
    fs::remove_all(root / "d3");
    {
        ScanStore store(owner_);
        ASSERT_TRUE(store.Begin(3)) << store.Error();
        WalkStats stats;
        ScanDirectory(root.string(), 3, store, stats);
        store.Stop(stats);
    }
    EXPECT_EQ(Rows(3).size(), 119u);
}

// Rows under a newly excluded path go at the end of the next complete scan: where the walk
// left them out, and under a directory not read as well (they are not kept as unread).
TEST_F(StoreTest, RowsTheExclusionsLeaveOutGoAlsoUnderADirectoryNotRead) {
    MakeFiles();
    const fs::path root = MakeTree("t", 120);
    const std::set<std::string> all = Tree(root);
    Scan(root, 4);
    ASSERT_EQ(Rows(4).size(), 120u);
    const Exclusions exclude("e2;*7.txt");
    std::set<std::string> expected;
    for (const std::string& p : all)
        if (p.find("/e2/") == std::string::npos && p.substr(p.size() - 5) != "7.txt") expected.insert(p);
    ASSERT_LT(expected.size(), 100u);
    // d1 cannot be read this time: its rows are kept, but not those the exclusions leave out.
    fs::remove_all(root / "d1");
    StoreCounts c = Scan(root, 4, nullptr, 5000, {(root / "d1").string() + "/"}, 0, exclude);
    EXPECT_EQ(Keys(Rows(4)), expected);
    EXPECT_EQ(c.deleted, 120u - expected.size());
    EXPECT_GT(c.kept, 0u);
    EXPECT_EQ(c.inserted + c.updated, 0u);
}

TEST_F(StoreTest, ASecondScanOfOneComputerWaitsBoundedAndIsRefused) {
    MakeFiles();
    SetDatabaseTimeout(1);
    ScanStore first(owner_);
    ASSERT_TRUE(first.Begin(5)) << first.Error();
    ScanStore second(owner_);
    EXPECT_FALSE(second.Begin(5));
    EXPECT_NE(second.Error().find("another scan of this computer"), std::string::npos) << second.Error();
    // Another computer is not held up.
    ScanStore other(owner_);
    EXPECT_TRUE(other.Begin(6)) << other.Error();
    WalkStats s;
    first.Finish(s);
    other.Finish(s);
    ScanStore third(owner_);
    EXPECT_TRUE(third.Begin(5)) << third.Error();

    // A stop requested while waiting gives the wait up at once (not after the time-out).
    SetDatabaseTimeout(30);
    RequestScanStop();
    ScanStore stopped(owner_);
    EXPECT_FALSE(stopped.Begin(5));
    EXPECT_NE(stopped.Error().find("stopped while waiting"), std::string::npos) << stopped.Error();
    ClearScanStop();
    third.Finish(s);
}

// A stop while the scan waits for a lock another session holds on FILES gives the wait up
// within moments, not after the time-out, and says why.
TEST_F(StoreTest, AStopGivesUpAWaitForTheServer) {
    if (!IsPostgres()) GTEST_SKIP() << "a lock held in the server: PostgreSQL only";
    MakeFiles();
    const fs::path root = MakeTree("t", 20);
    Scan(root, 5);
    SetDatabaseTimeout(120);
    ASSERT_TRUE(Db().SetAutoCommit(false));
    ASSERT_TRUE(Db().Exec("LOCK TABLE FILES IN ACCESS EXCLUSIVE MODE")) << Db().LastError();
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        RequestScanStop();
    });
    ScanStore store(owner_);
    const bool begun = store.Begin(5);  // waits to read the computer's rows
    stopper.join();
    EXPECT_FALSE(begun);
    EXPECT_NE(store.Error().find("stopped while waiting for the database"), std::string::npos)
        << store.Error();
    ClearScanStop();
    ASSERT_TRUE(Db().Rollback());
    ASSERT_TRUE(Db().SetAutoCommit(true));
    EXPECT_EQ(Rows(5).size(), 20u) << "nothing lost";
}

// Another program's write transaction on the embedded database (this test's own
// connection): it holds the database's write lock until it is rolled back.
class WriteLock {
  public:
    explicit WriteLock(SqlSession& s) : s_(s) {
        held_ =
            s_.SetAutoCommit(false) &&
            s_.Exec(
                "INSERT INTO FILES (SysFILES, SysCOMPUTER, NAME, DIR) VALUES (999999, 99, 'held', '/x/')");
        EXPECT_TRUE(held_) << s_.LastError();
    }
    ~WriteLock() { Release(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;
    void Release() {
        std::lock_guard lock(mutex_);
        if (released_) return;
        released_ = true;
        EXPECT_TRUE(s_.Rollback()) << s_.LastError();
        s_.SetAutoCommit(true);
    }

  private:
    SqlSession& s_;
    std::mutex mutex_;
    bool held_ = false, released_ = false;
};

double SecondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// A stop while the rescan waits for another program's write lock on the embedded database
// ends the wait within moments, not after the 30 s time-out, and says why; every row of
// the earlier scan stays.
TEST_F(StoreTest, AStopEndsAWaitForAnotherProgramsWriteLock) {
    if (IsPostgres()) GTEST_SKIP() << "the embedded database's write lock: SQLite only";
    MakeFiles();
    const fs::path root = MakeTree("t", 40);
    Scan(root, 5);
    const auto before = Rows(5);
    ASSERT_EQ(before.size(), 40u);
    MakeTree("t/new", 30);
    SetDatabaseTimeout(30);
    WriteLock lock(Db());
    struct Outcome {
        bool begun = false;
        std::string error;
        double seconds = 0;
    };
    auto scan = std::async(std::launch::async, [&] {
        Outcome o;
        const auto began = std::chrono::steady_clock::now();
        ScanStore store(owner_);
        store.SetBatchRows(10);
        o.begun = store.Begin(5);
        o.error = store.Error();
        if (!o.begun) return o;
        WalkStats stats;
        ScanDirectory(root.string(), 5, store, stats);
        store.Stop(stats);
        o.error = store.Error();
        o.seconds = SecondsSince(began);
        return o;
    });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    RequestScanStop();
    // Bounded here: a store blind to the stop would wait out the 30 s.
    const bool ended = scan.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    lock.Release();  // a store still waiting goes on now
    const Outcome o = scan.get();
    ClearScanStop();
    ASSERT_TRUE(o.begun) << o.error;
    EXPECT_TRUE(ended) << "the stop did not end the wait (" << o.seconds << " s)";
    EXPECT_NE(o.error.find("stopped while another program held the database's write lock"), std::string::npos)
        << o.error;
    const auto after = Rows(5);
    for (const auto& [path, number] : before) {
        auto it = after.find(path);
        EXPECT_TRUE(it != after.end() && it->second == number) << "the earlier row of " << path << " stays";
    }
    EXPECT_EQ(Value("SELECT COUNT(*) FROM FILES WHERE SysCOMPUTER = 99"), "0");
}

// Another program's write lock is waited for up to the database time-out: a rescan that
// meets it while writing new rows, and one that meets it while deleting, each complete
// once the lock is let go; a lock held beyond the time-out fails the scan with that
// reason, within moments of the time-out, and the earlier rows stay.
TEST_F(StoreTest, AnotherProgramsWriteLockIsWaitedForUpToTheTimeout) {
    if (IsPostgres()) GTEST_SKIP() << "the embedded database's write lock: SQLite only";
    MakeFiles();
    const fs::path root = MakeTree("t", 40);
    Scan(root, 5);
    SetDatabaseTimeout(30);
    // A rescan with the lock held from before it begins, let go after a second.
    auto rescan_under_lock = [&] {
        WriteLock lock(Db());
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            lock.Release();
        });
        bool ok = false;
        const StoreCounts c = Scan(root, 5, &ok, 10);
        release.join();
        EXPECT_TRUE(ok);
        return c;
    };
    MakeTree("t/new", 30);
    StoreCounts c = rescan_under_lock();
    EXPECT_EQ(c.inserted, 30u);
    EXPECT_EQ(Keys(Rows(5)), Tree(root));
    fs::remove_all(root / "new");
    c = rescan_under_lock();
    EXPECT_EQ(c.deleted, 30u);
    EXPECT_EQ(c.inserted, 0u);
    EXPECT_EQ(Keys(Rows(5)), Tree(root));

    // Held beyond a time-out of 1 s.
    const auto before = Rows(5);
    MakeTree("t/late", 10);
    SetDatabaseTimeout(1);
    WriteLock lock(Db());
    const auto began = std::chrono::steady_clock::now();
    ScanStore store(owner_);
    ASSERT_TRUE(store.Begin(5)) << store.Error();
    WalkStats stats;
    ScanDirectory(root.string(), 5, store, stats);
    EXPECT_FALSE(store.Finish(stats));
    const double seconds = SecondsSince(began);
    lock.Release();
    EXPECT_NE(store.Error().find("another program held the database's write lock for 1 s"), std::string::npos)
        << store.Error();
    EXPECT_LT(seconds, 6.0);
    EXPECT_EQ(Rows(5), before);
}

// The first scan into an empty table makes the search indexes again at its end; another
// program's write lock at that moment is waited for (up to the database time-out) rather
// than leaving the index to the next start of drivetrek.
TEST_F(StoreTest, TheSearchIndexIsMadeAgainOnceAnotherProgramLetsGoOfTheWriteLock) {
    if (IsPostgres()) GTEST_SKIP() << "the embedded database's write lock: SQLite only";
    MakeFiles();
    const fs::path root = MakeTree("t", 40);
    SetDatabaseTimeout(30);
    ScanStore store(owner_);
    store.SetBatchRows(1);  // every row committed during the walk: nothing left for Finish
    ASSERT_TRUE(store.Begin(5)) << store.Error();
    ASSERT_TRUE(store.DroppedIndexes());
    ResetSearchIndexWarning();
    WalkStats stats;
    ScanDirectory(root.string(), 5, store, stats);
    WriteLock lock(Db());
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        lock.Release();
    });
    const bool finished = store.Finish(stats);
    release.join();
    EXPECT_TRUE(finished) << store.Error();
    EXPECT_FALSE(SearchIndexWarned()) << "the index was left to the next start";
    const SqlRunner run = [this](const std::string& statement, std::vector<std::string>* rows) {
        std::string value;
        bool found = false;
        if (!Db().QueryValue(statement, value, &found)) return 90;
        if (found && rows != nullptr) rows->push_back(value);
        return 0;
    };
    EXPECT_EQ(ProbeSearchIndexes(run, ServerKind::Embedded), SearchIndexState::Present);
    EXPECT_EQ(Keys(Rows(5)), Tree(root));
}

TEST_F(StoreTest, AReaderDuringARescanAlwaysFindsEveryUnchangedFile) {
    MakeFiles();
    const fs::path root = MakeTree("t", 600);
    Scan(root, 2);
    const std::size_t before = Rows(2).size();
    for (int i = 0; i < 600; i += 5)
        fs::remove(root / ("d" + std::to_string(i % 7)) / ("e" + std::to_string(i % 3)) /
                   ("f" + std::to_string(i) + ".txt"));
    std::ofstream(root / "d0/e0/extra.txt") << "x";
    std::atomic<bool> done{false};
    std::atomic<long> least{1 << 30};
    std::thread reader([&] {
        Diag d;
        auto s = SqlSession::Open(owner_, "", d);
        for (int i = 0; i < 2000 && !done; ++i) {
            std::string v;
            if (s && s->QueryValue("SELECT COUNT(*) FROM FILES WHERE SysCOMPUTER = 2 AND NAME LIKE 'f%'", v))
                least = std::min(least.load(), std::atol(v.c_str()));
        }
    });
    std::size_t batches = 0;
    {
        ScanStore store(owner_);
        store.SetBatchRows(20);
        store.SetAfterBatch([&](std::size_t n) { batches = n; });
        ASSERT_TRUE(store.Begin(2));
        WalkStats stats;
        ScanDirectory(root.string(), 2, store, stats);
        EXPECT_TRUE(store.Finish(stats)) << store.Error();
    }
    done = true;
    reader.join();
    EXPECT_GE(batches, 1u);
    // Every file that stayed (480) was visible at every moment.
    EXPECT_GE(least.load(), 480);
    EXPECT_EQ(before, 600u);
    EXPECT_EQ(Keys(Rows(2)), Tree(root));
}

// SIGKILL after a chosen number of batches of a rescan: every row of a file that is still
// there survives, and the next scan completes the work.
TEST_F(StoreTest, AScanKilledAfterSomeBatchesLosesNoRowAndTheNextScanCompletes) {
    MakeFiles();
    const fs::path root = MakeTree("t", 500);
    Scan(root, 4);
    for (int i = 0; i < 500; i += 4)
        fs::remove(root / ("d" + std::to_string(i % 7)) / ("e" + std::to_string(i % 3)) /
                   ("f" + std::to_string(i) + ".txt"));
    // New files in every directory: the rescan writes in many batches.
    for (int i = 0; i < 210; ++i)
        std::ofstream(root / ("d" + std::to_string(i % 7)) / ("e" + std::to_string(i % 3)) /
                      ("n" + std::to_string(i)))
            << i;
    session_.reset();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ScanStore store(owner_);
        store.SetBatchRows(30);
        store.SetAfterBatch([](std::size_t n) {
            if (n == 3) ::raise(SIGKILL);
        });
        if (!store.Begin(4)) ::_exit(1);
        WalkStats stats;
        ScanDirectory(root.string(), 4, store, stats);
        store.Finish(stats);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended with " << status;
    auto rows = Rows(4);
    for (const std::string& f : Tree(root))
        if (f.find("/n") == std::string::npos) {
            EXPECT_EQ(rows.count(f), 1u) << f;
        }
    StoreCounts c = Scan(root, 4);
    EXPECT_EQ(Keys(Rows(4)), Tree(root));
    EXPECT_EQ(c.deleted, 125u);
}

// The server's processes, for freezing it.
std::vector<pid_t> ServerProcesses() {
    std::ifstream pidfile(Env("DRIVETREK_TEST_PG_DIR") + "/data/postmaster.pid");
    pid_t master = 0;
    pidfile >> master;
    std::vector<pid_t> out;
    if (master <= 0) return out;
    out.push_back(master);
    DIR* d = ::opendir("/proc");
    while (dirent* e = d ? ::readdir(d) : nullptr) {
        const pid_t pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == master)
            out.push_back(pid);
    }
    if (d) ::closedir(d);
    return out;
}

// A server that stops answering in the middle of a scan (its processes stopped): the
// scan ends within the time-out and a little more, with a message; the rows stay.
TEST_F(StoreTest, AFrozenServerEndsTheScanWithinTheTimeout) {
    if (!IsPostgres()) GTEST_SKIP() << "a frozen server: PostgreSQL only";
    if (Env("DRIVETREK_TEST_PG_DIR").empty()) GTEST_SKIP() << "the server's directory is not known";
    MakeFiles();
    const fs::path root = MakeTree("t", 400);
    Scan(root, 8);
    for (int i = 0; i < 210; ++i)
        std::ofstream(root / ("d" + std::to_string(i % 7)) / ("e" + std::to_string(i % 3)) /
                      ("n" + std::to_string(i)))
            << i;
    SetDatabaseTimeout(3);
    std::vector<pid_t> frozen;
    const auto started = std::chrono::steady_clock::now();
    bool finished = true;
    std::string error;
    {
        ScanStore store(owner_);
        store.SetBatchRows(20);
        store.SetAfterBatch([&](std::size_t n) {
            if (n != 1) return;
            frozen = ServerProcesses();
            for (pid_t p : frozen) ::kill(p, SIGSTOP);
        });
        ASSERT_TRUE(store.Begin(8)) << store.Error();
        WalkStats stats;
        ScanDirectory(root.string(), 8, store, stats);
        finished = store.Finish(stats);
        error = store.Error();
        for (pid_t p : frozen) ::kill(p, SIGCONT);
    }
    for (pid_t p : frozen) ::kill(p, SIGCONT);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_FALSE(frozen.empty());
    EXPECT_FALSE(finished);
    EXPECT_NE(error.find("did not answer within 3 s"), std::string::npos) << error;
    EXPECT_LT(took, 10.0);
    session_.reset();
    SetDatabaseTimeout(60);
    for (const std::string& f : Tree(root))
        if (f.find("/n") == std::string::npos) {
            EXPECT_EQ(Rows(8).count(f), 1u) << f;
        }
}

// The server ends the scan's session in the middle of a scan (as a server that is shut
// down does): the scan ends at once with a lost-connection message.
TEST_F(StoreTest, AServerThatEndsTheSessionStopsTheScanWithItsMessage) {
    if (!IsPostgres()) GTEST_SKIP() << "a server that ends the session: PostgreSQL only";
    MakeFiles();
    const fs::path root = MakeTree("t", 300);
    bool finished = true;
    std::string error;
    StoreCounts counts;
    const auto started = std::chrono::steady_clock::now();
    {
        ScanStore store(owner_);
        store.SetBatchRows(20);
        store.SetAfterBatch([&](std::size_t n) {
            if (n == 2)
                Db().Exec(
                    "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
                    "current_database() "
                    "AND pid <> pg_backend_pid()");
        });
        ASSERT_TRUE(store.Begin(11)) << store.Error();
        WalkStats stats;
        ScanDirectory(root.string(), 11, store, stats);
        finished = store.Finish(stats);
        error = store.Error();
        counts = store.Counts();
    }
    EXPECT_FALSE(finished);
    // The driver's text for a lost connection (psqlODBC reports the dead socket before it
    // reads the server's last message), with its state.
    EXPECT_EQ(error.rfind("08", 0), 0u) << error;
    EXPECT_NE(error.find("connection"), std::string::npos) << error;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 10.0);
    // The counts match the rows really stored.
    EXPECT_EQ(std::to_string(counts.inserted), Value("SELECT COUNT(*) FROM FILES WHERE SysCOMPUTER = 11"));
}

// Four computers scan four trees into one database at the same moment, the first time
// against a database without the table, then twice more after changes.
TEST_F(StoreTest, FourComputersAtOnceKeepExactlyTheirOwnRows) {
    if (!IsPostgres()) GTEST_SKIP() << "computers scanning one server at once: PostgreSQL only";
    std::vector<fs::path> roots;
    for (int c = 0; c < 4; ++c) roots.push_back(MakeTree("c" + std::to_string(c), 400 + 50 * c));
    for (int round = 0; round < 3; ++round) {
        if (round > 0)
            for (int c = 0; c < 4; ++c) {
                fs::remove(roots[c] / "d1/e1/f1.txt");
                std::ofstream(roots[c] / ("d2/e2/new" + std::to_string(round) + ".txt")) << round;
                std::ofstream(roots[c] / "d0/e0/f0.txt")
                    << std::string(static_cast<std::size_t>(round) * 7, 'y');
            }
        std::vector<std::thread> programs;
        std::mutex failures_mutex;
        std::vector<std::string> failures;  // why each program that failed did
        auto failed = [&](int c, const std::string& why) {
            std::lock_guard lock(failures_mutex);
            failures.push_back("computer " + std::to_string(10 + c) + ": " + why);
        };
        for (int c = 0; c < 4; ++c)
            programs.emplace_back([&, c] {
                Diag d;
                auto s = SqlSession::Open(owner_, "", d);
                if (!s) return failed(c, "connect: " + d.message);
                if (!s->Exec("CREATE TABLE IF NOT EXISTS FILES (SysFILES BIGINT NOT NULL PRIMARY KEY, "
                             "SysCOMPUTER BIGINT, NAME VARCHAR(256), EXTENSION VARCHAR(10), "
                             "DIR VARCHAR(260), TYPE SMALLINT, DATE TIMESTAMP, SIZE BIGINT)") &&
                    Classify(s->LastDiag()) != Meaning::DuplicateKey &&
                    Classify(s->LastDiag()) != Meaning::AlreadyExists)
                    return failed(c, "create: " + s->LastError());
                ScanStore store(owner_);
                store.SetBatchRows(100);
                if (!store.Begin(static_cast<ULONG>(10 + c))) return failed(c, "begin: " + store.Error());
                WalkStats stats;
                ScanDirectory(roots[c].string(), static_cast<ULONG>(10 + c), store, stats);
                if (!store.Finish(stats))
                    failed(c, "finish: " + store.Error() + " / " + store.Counts().first_failure + " (" +
                                  std::to_string(store.Counts().not_stored) + " not stored)");
            });
        for (auto& t : programs) t.join();
        EXPECT_EQ(failures, std::vector<std::string>{}) << "round " << round;
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(Keys(Rows(static_cast<ULONG>(10 + c))), Tree(roots[c])) << "round " << round;
        EXPECT_EQ(Value("SELECT COUNT(*) - COUNT(DISTINCT SysFILES) FROM FILES"), "0");
    }
}

// A name that is not UTF-8 cannot be held by PostgreSQL: that row is counted as not
// stored with the server's reason, and every other row is stored and counted.
TEST_F(StoreTest, ANameTheServerCannotHoldIsCountedWithTheServersReason) {
    MakeFiles();
    const fs::path root = MakeTree("t", 260);
    std::ofstream(root / "d0/e0" / std::string("bad\xff\xfename.txt")) << "x";
    bool ok = true;
    StoreCounts c = Scan(root, 12, &ok);
    if (!IsPostgres()) {
        // The embedded database holds any bytes.
        EXPECT_TRUE(ok);
        EXPECT_EQ(c.inserted, 261u);
        EXPECT_EQ(Keys(Rows(12)), Tree(root));
        return;
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(c.not_stored, 1u);
    EXPECT_EQ(c.inserted, 260u);
    EXPECT_NE(c.first_failure.find("bad"), std::string::npos) << c.first_failure;
    EXPECT_EQ(Value("SELECT COUNT(*) FROM FILES WHERE SysCOMPUTER = 12"), "260");
}

// A database of the previous version is upgraded, and scanned into, while a program of
// that version keeps inserting highest-plus-one rows beside it.
TEST_F(StoreTest, UpgradeAndScanBesideAnOldStyleInsertLoseNoRow) {
    if (!IsPostgres()) GTEST_SKIP() << "an upgrade beside another program's writes: PostgreSQL only";
    MakeFiles();
    for (int i = 1; i <= 200; ++i)
        ASSERT_TRUE(Db().Exec("INSERT INTO FILES VALUES (" + std::to_string(i) + ", 1, 'old" +
                              std::to_string(i) + "', '', '/old/', 32, NULL, 1)"));
    std::atomic<bool> done{false};
    std::atomic<int> old_rows{0};
    std::thread old_program([&] {
        Diag d;
        auto s = SqlSession::Open(owner_, "", d);
        for (int i = 0; i < 5000 && !done; ++i) {
            // Highest plus one; a duplicate is tried again, as that version does.
            for (int attempt = 0; attempt < 50; ++attempt)
                if (s->Exec("INSERT INTO FILES SELECT MAX(SysFILES) + 1, 1, 'new" + std::to_string(i) +
                            "', '', '/old/', 32, NULL, 1 FROM FILES")) {
                    ++old_rows;
                    break;
                }
        }
    });
    UpgradeResult up = RunUpgrade(owner_);
    EXPECT_TRUE(up.ok) << (up.failures.empty() ? "" : up.failures[0]);
    const fs::path root = MakeTree("t", 1500);
    bool ok = false;
    StoreCounts c = Scan(root, 9, &ok, 50);
    done = true;
    old_program.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(c.inserted, 1500u);
    EXPECT_EQ(Keys(Rows(9)), Tree(root));
    EXPECT_EQ(Value("SELECT COUNT(*) FROM FILES WHERE SysCOMPUTER = 1"),
              std::to_string(200 + old_rows.load()));
    EXPECT_EQ(Value("SELECT COUNT(*) - COUNT(DISTINCT SysFILES) FROM FILES"), "0");
    EXPECT_EQ(Value(DialectOf(ServerKind::PostgreSQL).IndexStateQuery("FILES_SYSCOMPUTER")), "1");
}

}  // namespace
}  // namespace dt::test
