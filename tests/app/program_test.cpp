// The program itself, run as a process offscreen in a directory of the test's own: the
// unattended scan of a small tree ends with its result; an unattended run that would
// have to ask (missing database) or cannot reach its server ends with the text on
// standard error and a non-zero status; an interactive run that cannot reach its server
// ends cleanly after its message; SIGTERM closes the main window through its shutdown.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/postgres.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace dt {
namespace {

struct Result {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

// A port on 127.0.0.1 that nothing listens on (bound, read and closed again).
int ClosedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

class Program : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "tree/sub");
        test::WriteFile(dir_ / "tree/a.txt", "hello");
        test::WriteFile(dir_ / "tree/sub/b.doc", "x");
        Settings("");
        test::WriteFile(dir_ / "win.ini", "");
    }
    void Settings(const std::string& database_lines) {
        test::WriteFile(dir_ / "drivetrek.ini",
                        (database_lines.empty() ? "" : "[database]\n" + database_lines) +
                            "[scan]\nroots=" + dir_.path() + "/tree/\n");
    }

    // Starts the program in the test's directory.
    std::unique_ptr<test::Process> Start(const std::vector<std::string>& args) {
        std::vector<std::string> argv{DRIVETREK_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        test::ProcessOptions o;
        o.directory = dir_.path();
        o.env = {{"QT_QPA_PLATFORM", "offscreen"},
                 {"DRIVETREK_PROFILE", dir_ / "win.ini"},
                 {"DRIVETREK_COMPUTERNAME", "proc-pc"}};
        return std::make_unique<test::Process>(argv, o);
    }
    // Waits up to `limit` for the process; kills it when it does not end.
    Result Wait(test::Process& p, std::chrono::seconds limit = std::chrono::seconds(60)) {
        test::ProcessResult pr = p.Wait(limit);
        if (pr.timed_out) ADD_FAILURE() << "the program did not end in time";
        return Result{pr.status, pr.out, pr.err};
    }
    Result Run(const std::vector<std::string>& args) { return Wait(*Start(args)); }

    test::TempDir dir_;
};

TEST_F(Program, UnattendedScanOfTheEmbeddedDatabaseEndsWithItsResult) {
    Result r = Run({"/S"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("scan done; 2 files stored, 0 not stored"), std::string::npos) << r.out << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir_ / "master.db"));
    // The switch in any case; the second scan replaces the first.
    r = Run({"/s"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("2 files stored"), std::string::npos) << r.out;
}

// An unattended run shows no window worth placing: the system profile keeps its bytes
// (no [Main] placement, no registry section), whether the run succeeds or ends early.
TEST_F(Program, UnattendedRunLeavesTheSystemProfileUnchanged) {
    const std::string profile = "; kept as it is\n[Other]\nKey=Value\n";
    test::WriteFile(dir_ / "win.ini", profile);
    Result r = Run({"/S"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("2 files stored"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(test::ReadFile(dir_ / "win.ini"), profile);
    Settings("database=NEWDB\n");  // ends early: the database would have to be created
    r = Run({"/S"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(test::ReadFile(dir_ / "win.ini"), profile);
    // An empty profile stays empty.
    test::WriteFile(dir_ / "win.ini", "");
    Settings("");
    r = Run({"/S"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::ReadFile(dir_ / "win.ini"), "");
}

TEST_F(Program, UnattendedRunDoesNotAskToCreateADatabase) {
    Settings("database=NEWDB\n");
    Result r = Run({"/S"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("create database: Database NEWDB not exist.\nCreate database on Server ?"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "NEWDB.db"));
    EXPECT_EQ(r.out.find("scan"), std::string::npos) << "nothing was scanned";
}

// The server named in the settings is not there (a closed port on 127.0.0.1): the driver
// must not fall back to the embedded database, and nobody waits.
TEST_F(Program, UnreachableServerEndsWithAClearMessage) {
    test::WriteFile(dir_ / "win.ini", "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n");
    Settings("server=127.0.0.1:" + std::to_string(ClosedPort()) + "\ndatabase=files\nuser=scan\npass=pw\n");
    Result r = Run({"/S"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File Access Error"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("SQLM"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("127.0.0.1"), std::string::npos) << "the server's own words: " << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "master.db")) << "no fall-back to the embedded database";
    EXPECT_FALSE(std::filesystem::exists(dir_ / "files.db"));

    // Interactive (offscreen: the message box takes its default at once): the same
    // message, then a clean end.
    r = Run({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "master.db"));
}

// A login the server refuses ends the run with the server's words; it never falls back to
// the embedded database (needs the test script's PostgreSQL server).
TEST_F(Program, RefusedLoginEndsTheRunWithoutFallingBack) {
    const std::optional<test::PgServer> pg = test::PgServer::FromEnvironment();
    if (!pg) GTEST_SKIP() << test::PgServer::kMissing;
    test::WriteFile(dir_ / "win.ini", "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n");
    Settings("server=" + pg->Server() + "\ndatabase=postgres\nuser=" + pg->user +
             "\npass=not-the-password\n");
    Result r = Run({"/S"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("password authentication failed"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("not-the-password"), std::string::npos) << "the password is never shown";
    EXPECT_FALSE(std::filesystem::exists(dir_ / "master.db"));
}

TEST_F(Program, SigtermClosesTheMainWindowThroughItsShutdown) {
    const std::unique_ptr<test::Process> program = Start({});
    // The program is up once its database exists and a moment has passed for the window.
    for (int i = 0; i < 600 && !std::filesystem::exists(dir_ / "master.db"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(program->pid(), SIGTERM);
    Result r = Wait(*program, std::chrono::seconds(30));
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string profile = test::ReadFile(dir_ / "win.ini");
    EXPECT_NE(profile.find("[Main]"), std::string::npos) << "the window position was saved: " << profile;
}

}  // namespace
}  // namespace dt
