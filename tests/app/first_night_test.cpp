// A site's first night: several programs start at the same moment against a database
// that has none of the program's tables. Each creates the tables, runs the upgrade step
// and registers its computer; none fails because another was first, and each computer
// ends with exactly one COMPUTER row, also when two programs of one computer start
// together. The programs are real processes (fork). Built for the embedded database and
// for PostgreSQL (tests/support/backend.h; PostgreSQL in a database of its own).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/startup.h"
#include "app/tables.h"
#include "app/upgrade.h"
#include "data/sql_session.h"
#include "framework/error_manager.h"
#include "tests/support/backend.h"

namespace dt::test {
namespace {

namespace fs = std::filesystem;

class QuietErrors : public ErrorManager {
  public:
    QuietErrors() { Startup("/dev/null"); }
    ~QuietErrors() override { Shutdown(); }
    int ShowBox(std::string_view text, std::string_view title, IconRef, int, int default_button,
                LONG) override {
        std::fprintf(stderr, "first night: %.*s: %.*s\n", int(title.size()), title.data(), int(text.size()),
                     text.data());
        return default_button;
    }
};

// One program's start: tables, upgrade step, own row. Exit status 0 when all went well.
[[noreturn]] void Program(const std::string& owner, const std::string& name, int start_fd) {
    char go = 0;
    if (::read(start_fd, &go, 1) != 1) ::_exit(9);
    QuietErrors errors;
    InitTables(errors);
    GLO::SQLOWNER = owner;
    Relate::COMPUTER->Open();
    Relate::FILES->Open();
    int status = 0;
    if (Access::COMPUTER->UseFile() != 0 || Access::FILES->UseFile() != 0)
        status = 1;
    else if (!RunStartupUpgrade())
        status = 2;
    else if (EnsureOwnComputerRow(name, 1) != 0 || COMPUTER.SYSCOMPUTER == 0)
        status = 3;
    Relate::FILES->Close();
    Relate::COMPUTER->Close();
    KillTables();
    std::fflush(stderr);
    ::_exit(status);
}

class FirstNight : public BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        old_cwd_ = fs::current_path();
        fs::current_path(ProfileDir().path());  // the embedded database file lies here
        database_ = IsPostgres() ? MakeDatabase("dtnight") : std::string("night");
        ASSERT_FALSE(database_.empty());
    }
    void TearDown() override {
        if (!old_cwd_.empty()) fs::current_path(old_cwd_);
        BackendTest::TearDown();  // the test database goes
    }
    fs::path old_cwd_;
    std::string database_;
};

TEST_F(FirstNight, ProgramsStartingTogetherCreateEverythingOnceAndOneRowPerComputer) {
    auto owner = [&](const std::string& wsid) { return Backend::Owner(database_, wsid); };
    // PC0 starts twice.
    const std::vector<std::string> names = {"PC0", "PC1", "PC2", "PC3", "PC0"};
    for (int round = 0; round < 2; ++round) {
        int start[2];
        ASSERT_EQ(::pipe(start), 0);
        std::vector<pid_t> kids;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                ::close(start[1]);
                Program(owner(names[i] + "_" + std::to_string(i)), names[i], start[0]);
            }
            kids.push_back(pid);
        }
        ::close(start[0]);
        ASSERT_EQ(::write(start[1], "goooo", names.size()), static_cast<ssize_t>(names.size()));
        ::close(start[1]);
        for (std::size_t i = 0; i < kids.size(); ++i) {
            int status = -1;
            ::waitpid(kids[i], &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << "round " << round << ": program " << i << " (" << names[i] << ") ended with " << status;
        }
    }
    {
        Diag d;
        auto s = SqlSession::Open(owner("CHECK"), "", d);
        ASSERT_TRUE(s) << d.message;
        std::string v;
        ASSERT_TRUE(s->QueryValue("SELECT COUNT(*) FROM COMPUTER", v)) << s->LastError();
        EXPECT_EQ(v, "4");
        ASSERT_TRUE(s->QueryValue("SELECT COUNT(DISTINCT NAME) FROM COMPUTER", v));
        EXPECT_EQ(v, "4");
        const Dialect& dialect = DialectOf(KindOfSession(*s));
        ASSERT_TRUE(s->QueryValue(dialect.IndexStateQuery("FILES_SYSCOMPUTER"), v));
        EXPECT_EQ(v, "1");
        ASSERT_TRUE(s->QueryValue(dialect.IndexStateQuery("COMPUTER_NAME"), v));
        EXPECT_EQ(v, "1");
        if (!IsPostgres()) {
            // The new file got its larger pages from whichever program came first, and
            // the others' changes of the journal on the way left it whole.
            ASSERT_TRUE(s->QueryValue("PRAGMA page_size", v));
            EXPECT_EQ(v, "16384");
            ASSERT_TRUE(s->QueryValue("PRAGMA journal_mode", v));
            EXPECT_EQ(v, "wal");
            ASSERT_TRUE(s->QueryValue("PRAGMA integrity_check", v));
            EXPECT_EQ(v, "ok");
        }
    }
}

// A database file that exists keeps its pages as they are, whatever their size, and its
// rows; only a file that connecting creates gets the larger pages.
TEST_F(FirstNight, AnExistingEmbeddedDatabaseKeepsItsPageSize) {
    if (IsPostgres()) GTEST_SKIP() << "the embedded database's file";
    const std::string owner = Backend::Owner(database_, "PC0");
    Diag d;
    std::string v;
    {
        auto s = SqlSession::Open(owner, "", d);
        ASSERT_TRUE(s) << d.message;
        ASSERT_TRUE(s->QueryValue("PRAGMA page_size", v));
        EXPECT_EQ(v, "16384");
        // As a database of an earlier version was made: pages of 4 KB, a row in it.
        for (const char* step :
             {"PRAGMA journal_mode=DELETE", "PRAGMA page_size=4096", "VACUUM", "PRAGMA journal_mode=WAL",
              "CREATE TABLE OLD (X TEXT)", "INSERT INTO OLD VALUES ('kept')"})
            ASSERT_TRUE(s->Exec(step)) << step << ": " << s->LastError();
        s->Commit();
    }
    auto s = SqlSession::Open(owner, "", d);
    ASSERT_TRUE(s) << d.message;
    ASSERT_TRUE(s->QueryValue("PRAGMA page_size", v));
    EXPECT_EQ(v, "4096");
    ASSERT_TRUE(s->QueryValue("SELECT X FROM OLD", v));
    EXPECT_EQ(v, "kept");
}

}  // namespace
}  // namespace dt::test
