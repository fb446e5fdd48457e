// The unattended scan as a process (drivetrek /S, offscreen, the embedded database in a
// directory of the test's own): its two summary lines, SIGTERM in the middle of a scan
// (status 3, "scan stopped", the last-scan date unchanged), computers whose names share
// their first 32 bytes, and a computer name too long for its field. The database is read
// with the sqlite3 shell.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace dt {
namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

class ScanProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "tree/sub");
        test::WriteFile(dir_ / "tree/a.txt", "hello");
        test::WriteFile(dir_ / "tree/sub/b.doc", "x");
        test::WriteFile(dir_ / "drivetrek.ini", "[scan]\nroots=" + dir_.path() + "/tree/\n");
        test::WriteFile(dir_ / "win.ini", "");
    }

    pid_t Start(const std::string& computer) {
        pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(work_.c_str()) != 0) ::_exit(120);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("DRIVETREK_PROFILE", (dir_ / "win.ini").c_str(), 1);
            ::setenv("DRIVETREK_COMPUTERNAME", computer.c_str(), 1);
            if (!std::freopen((dir_ / "out.txt").c_str(), "w", stdout)) ::_exit(122);
            if (!std::freopen((dir_ / "err.txt").c_str(), "w", stderr)) ::_exit(123);
            char* argv[] = {const_cast<char*>(DRIVETREK_PATH), const_cast<char*>("/S"), nullptr};
            ::execv(DRIVETREK_PATH, argv);
            ::_exit(121);
        }
        return pid;
    }
    Result Wait(pid_t pid, int seconds = 60) {
        Result r;
        int st = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        pid_t done = 0;
        while ((done = ::waitpid(pid, &st, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (done == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &st, 0);
            ADD_FAILURE() << "the program did not end in time";
        }
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        r.out = test::ReadFile(dir_ / "out.txt");
        r.err = test::ReadFile(dir_ / "err.txt");
        return r;
    }
    Result Run(const std::string& computer) { return Wait(Start(computer)); }

    // Whether process `pid` has the file `path` open.
    static bool HasOpen(pid_t pid, const std::string& path) {
        std::error_code ec;
        const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
        for (auto it = std::filesystem::directory_iterator(fds, ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
            if (std::filesystem::read_symlink(it->path(), ec) == path) return true;
        return false;
    }

    // One statement through the sqlite3 shell; its output without the last line break.
    std::string Sql(const std::string& statement) {
        const std::string cmd = "sqlite3 -batch '" + work_ + "/master.db' \"" + statement + "\" 2>&1";
        std::string out;
        if (std::FILE* p = ::popen(cmd.c_str(), "r")) {
            char buf[512];
            while (std::fgets(buf, sizeof buf, p)) out += buf;
            ::pclose(p);
        }
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }

    test::TempDir dir_;
    std::string work_ = dir_.path();  // the program's current directory: settings and database
};

TEST_F(ScanProgram, SummaryKeepsItsFormAndASecondLineGivesEveryCount) {
    Result r = Run("summary-pc");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("drivetrek: scan done; 2 files stored, 0 not stored\n"
                         "drivetrek: 2 inserted, 0 updated, 0 deleted, 0 unchanged, 0 not stored, "
                         "0 directories not read, 0 files excluded, 0 directories excluded\n"),
              std::string::npos)
        << r.out;
}

// The program reads [scan] exclude= itself; the second line counts what it left out.
TEST_F(ScanProgram, TheSettingsFilesExclusionsAreLeftOutAndCounted) {
    test::WriteFile(dir_ / "drivetrek.ini", "[scan]\nroots=" + dir_.path() + "/tree/\nexclude=sub\n");
    Result r = Run("exclude-pc");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("drivetrek: scan done; 1 files stored, 0 not stored\n"
                         "drivetrek: 1 inserted, 0 updated, 0 deleted, 0 unchanged, 0 not stored, "
                         "0 directories not read, 0 files excluded, 1 directories excluded\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Sql("select Name from FILES"), "a.txt");
}

// A tmpfs as small as a disk that is nearly full, holding the settings and the embedded
// database; unmounted when the test ends.
class SmallDisk {
  public:
    SmallDisk(const std::string& path, const std::string& size) : path_(path) {
        std::filesystem::create_directories(path_);
        if (::geteuid() != 0)
            why_not_ = "mounting a tmpfs needs root";
        else if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
            why_not_ = std::string("mount -t tmpfs failed: ") + std::strerror(errno);
    }
    ~SmallDisk() {
        if (why_not_.empty()) ::umount2(path_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    const std::string& WhyNot() const { return why_not_; }

  private:
    std::string path_, why_not_;
};

// A number after `before` in `text` ("drivetrek: scan done; 12 files stored"); -1 if none.
long NumberAfter(const std::string& text, const std::string& before) {
    const std::size_t at = text.find(before);
    if (at == std::string::npos) return -1;
    return std::strtol(text.c_str() + at + before.size(), nullptr, 10);
}

// The database's disk fills up during a rescan: the scan stops with the server's text and
// status 3, every row stored before is still there with its number, and the counts it
// prints are the rows the database really holds.
TEST_F(ScanProgram, AFullDiskStopsTheScanWithTheServersTextAndKeepsEveryEarlierRow) {
    SmallDisk disk(dir_ / "disk", "2m");
    if (!disk.WhyNot().empty()) GTEST_SKIP() << "no small disk for this test: " << disk.WhyNot();
    work_ = dir_ / "disk";
    for (int i = 0; i < 100; ++i)
        test::WriteFile(dir_ / ("tree/sub/small" + std::to_string(i) + ".txt"), "s");
    test::WriteFile(work_ + "/drivetrek.ini", "[scan]\nroots=" + dir_.path() + "/tree/\n");
    Result first = Run("full-pc");
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    ASSERT_EQ(NumberAfter(first.out, "scan done; "), 102) << first.out;
    const std::string rows_before = Sql("select SysFILES, DIR, NAME, SIZE from FILES order by SysFILES");
    ASSERT_EQ(Sql("select count(*) from FILES"), "102");

    // Names long enough that the rescan's rows (and their search index) cannot fit.
    const std::string dir = dir_ / "tree/long";
    std::filesystem::create_directories(dir);
    for (int i = 0; i < 2000; ++i)
        test::WriteFile(dir + "/" + std::string(200, 'n') + std::to_string(i) + ".dat", "");
    Result full = Run("full-pc");
    EXPECT_EQ(full.status, 3) << full.out << full.err;
    EXPECT_NE(full.out.find("drivetrek: scan stopped; "), std::string::npos) << full.out;
    EXPECT_EQ(full.out.find("scan done"), std::string::npos) << full.out;
    EXPECT_NE(full.out.find("database or disk is full"), std::string::npos)
        << "the server's text: " << full.out;

    // Earlier rows intact; whatever was stored of the new ones is what the counts say.
    const std::string rows_now =
        Sql("select SysFILES, DIR, NAME, SIZE from FILES where DIR not like '%/long/' "
            "order by SysFILES");
    EXPECT_EQ(rows_now, rows_before);
    const long stored = std::atol(Sql("select count(*) from FILES").c_str());
    EXPECT_EQ(NumberAfter(full.out, "\ndrivetrek: "), stored - 102)
        << "the inserted count is what the database holds beyond the first scan's rows: " << full.out;
    EXPECT_NE(full.out.find(" 0 deleted, "), std::string::npos) << full.out;
}

// SIGTERM while the scan waits for this computer's scan lock (another scan of the same
// computer holds it; the wait would last the whole database time-out, here 600 s): the scan
// gives up the wait at once, says so, keeps the last-scan date and ends with status 3.
TEST_F(ScanProgram, SigtermStopsAnUnattendedScanWithStatus3) {
    test::WriteFile(dir_ / "drivetrek.ini",
                    "[scan]\nroots=" + dir_.path() + "/tree/\n[database]\ntimeout=600\n");
    ASSERT_EQ(Run("term-pc").status, 0);
    ASSERT_EQ(Sql("update COMPUTER set LastScan = '2001-02-03 04:05:06'"), "");
    const std::string number = Sql("select SysCOMPUTER from COMPUTER where Name = 'term-pc'");
    ASSERT_FALSE(number.empty());
    // The lock another scan of this computer would hold: an exclusive lock on the file
    // beside the database (not inherited by the program started below).
    const std::string lock_path = dir_ / ("master.db-scan" + number + ".lock");
    const int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << lock_path;
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);

    const pid_t pid = Start("term-pc");
    // The program waits for the lock once it has the lock file open.
    bool waiting = false;
    for (int i = 0; i < 600 && !waiting; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        waiting = HasOpen(pid, lock_path);
    }
    EXPECT_TRUE(waiting) << "the scan did not reach the lock within 30 s";
    ::kill(pid, SIGTERM);
    // The program ends well within the 60 s Wait allows, the lock still held.
    Result r = Wait(pid);
    ::close(fd);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_NE(r.out.find("drivetrek: scan stopped; "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("scan done"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Scan stopped: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("stopped while waiting for another scan of this computer"), std::string::npos)
        << "the stop came during the wait: " << r.err;
    EXPECT_EQ(Sql("select substr(LastScan, 1, 10) from COMPUTER where Name = 'term-pc'"), "2001-02-03");
    EXPECT_EQ(Sql("select count(*) from FILES"), "2") << "nothing deleted";
}

// Another program in a write transaction on database `path` (the sqlite3 shell after BEGIN
// IMMEDIATE): it holds the database's write lock until Release (the shell's input ends and
// it rolls back).
class WriteLockHolder {
  public:
    explicit WriteLockHolder(const std::string& path) : path_(path) {
        shell_ = ::popen(("sqlite3 -batch '" + path + "' >/dev/null 2>&1").c_str(), "w");
        if (shell_ == nullptr) return;
        std::fputs("BEGIN IMMEDIATE;\n", shell_);
        std::fflush(shell_);
        // Held once a write of another connection is refused at once.
        for (int i = 0; i < 100 && !held_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            held_ = TryWrite().find("locked") != std::string::npos;
        }
    }
    ~WriteLockHolder() { Release(); }
    WriteLockHolder(const WriteLockHolder&) = delete;
    WriteLockHolder& operator=(const WriteLockHolder&) = delete;
    bool Held() const { return held_; }
    void Release() {
        if (shell_ != nullptr) ::pclose(shell_);
        shell_ = nullptr;
    }

  private:
    std::string TryWrite() const {
        std::string out;
        const std::string cmd = "sqlite3 -batch '" + path_ + "' 'BEGIN IMMEDIATE; ROLLBACK;' 2>&1";
        if (std::FILE* p = ::popen(cmd.c_str(), "r")) {
            char buf[256];
            while (std::fgets(buf, sizeof buf, p)) out += buf;
            ::pclose(p);
        }
        return out;
    }

    std::string path_;
    std::FILE* shell_ = nullptr;
    bool held_ = false;
};

// SIGTERM while the scan waits to store its rows because another program holds the
// database's write lock (the wait may last the whole database time-out, here 600 s): the
// scan ends within moments with status 3, and the first scan's rows stay.
TEST_F(ScanProgram, SigtermEndsAWaitForAnotherProgramsWriteLock) {
    test::WriteFile(dir_ / "drivetrek.ini",
                    "[scan]\nroots=" + dir_.path() + "/tree/\n[database]\ntimeout=600\n");
    ASSERT_EQ(Run("busy-pc").status, 0);
    const std::string rows_before = Sql("select SysFILES, DIR, NAME from FILES order by SysFILES");
    const std::string number = Sql("select SysCOMPUTER from COMPUTER where Name = 'busy-pc'");
    ASSERT_FALSE(number.empty());
    for (int i = 0; i < 20; ++i) test::WriteFile(dir_ / ("tree/new" + std::to_string(i) + ".txt"), "n");

    WriteLockHolder holder(work_ + "/master.db");
    ASSERT_TRUE(holder.Held()) << "the sqlite3 shell did not take the write lock";
    const pid_t pid = Start("busy-pc");
    // The store holds this computer's scan lock file open from before its first write on.
    const std::string lock_path = dir_ / ("master.db-scan" + number + ".lock");
    bool scanning = false;
    for (int i = 0; i < 600 && !scanning; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        scanning = HasOpen(pid, lock_path);
    }
    EXPECT_TRUE(scanning) << "the scan did not begin within 30 s";
    std::this_thread::sleep_for(std::chrono::seconds(1));  // it meets the write lock
    ::kill(pid, SIGTERM);
    const auto stopped_at = std::chrono::steady_clock::now();
    Result r = Wait(pid, 15);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped_at).count();
    holder.Release();
    EXPECT_LT(seconds, 10.0) << "the stop did not end the wait";
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_NE(r.out.find("drivetrek: scan stopped; "), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("stopped by a signal"), std::string::npos) << r.err;
    EXPECT_EQ(Sql("select SysFILES, DIR, NAME from FILES where NAME not like 'new%' order by SysFILES"),
              rows_before);
}

TEST_F(ScanProgram, ComputersWhoseNamesShareTheirFirst32BytesKeepTheirOwnRows) {
    const std::string stem(32, 'w');
    ASSERT_EQ(Run(stem + "-one").status, 0);
    Result r = Run(stem + "-two");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sql("select Name from COMPUTER order by SysCOMPUTER"), stem + "-one\n" + stem + "-two");
    // Each scan left the other's rows alone.
    EXPECT_EQ(Sql("select count(*) from FILES group by SysCOMPUTER"), "2\n2");
}

TEST_F(ScanProgram, ANameTooLongForItsFieldIsRefusedByName) {
    const std::string name = std::string(40, 'x') + "-and-more";
    Result r = Run(name);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_NE(r.err.find(name), std::string::npos) << "the message names the host: " << r.err;
    EXPECT_NE(r.out.find("drivetrek: scan stopped; "), std::string::npos) << r.out;
    EXPECT_EQ(Sql("select count(*) from COMPUTER"), "0") << "no row under a cut name";
}

}  // namespace
}  // namespace dt
