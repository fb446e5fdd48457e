// A site's first night: several programs start at the same moment against a database
// that has none of the program's tables. Each creates the tables, runs the upgrade step
// and registers its computer; none fails because another was first, and each computer
// ends with exactly one COMPUTER row, also when two programs of one computer start
// together. The programs are real processes (fork). Compiled for the embedded database
// and for PostgreSQL (DT_TEST_PG=1; skipped without DRIVETREK_TEST_PG_*).
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

#ifndef DT_TEST_PG
#define DT_TEST_PG 0
#endif

namespace dt::test {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string PgOwner(const std::string& database, const std::string& wsid) {
    return Env("DRIVETREK_TEST_PG_HOST") + ":" + Env("DRIVETREK_TEST_PG_PORT") + "," + database + "," +
           Env("DRIVETREK_TEST_PG_USER") + "," + Env("DRIVETREK_TEST_PG_PASSWORD") +
           ";APP=DRIVETREK;WSID=" + wsid;
}

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

TEST(FirstNight, ProgramsStartingTogetherCreateEverythingOnceAndOneRowPerComputer) {
    char tmpl[] = "/tmp/dt-night-XXXXXX";
    const fs::path dir = ::mkdtemp(tmpl);
    std::ofstream(dir / "win.ini") << (DT_TEST_PG
                                           ? "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n"
                                           : "");
    ::setenv("DRIVETREK_PROFILE", (dir / "win.ini").c_str(), 1);
    const fs::path old_cwd = fs::current_path();
    fs::current_path(dir);
    std::string database = "night";
    std::unique_ptr<SqlSession> admin;
#if DT_TEST_PG
    if (Env("DRIVETREK_TEST_PG_HOST").empty()) GTEST_SKIP() << "DRIVETREK_TEST_PG_* not set";
    database = "dtnight" + std::to_string(::getpid());
    Diag d;
    admin = SqlSession::Open(PgOwner("postgres", "ADMIN"), "", d);
    ASSERT_TRUE(admin) << d.message;
    ASSERT_TRUE(admin->Exec("CREATE DATABASE " + database)) << admin->LastError();
    auto owner = [&](const std::string& wsid) { return PgOwner(database, wsid); };
#else
    auto owner = [&](const std::string& wsid) {
        return "Server," + database + ",sa,;APP=DRIVETREK;WSID=" + wsid;
    };
#endif
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
    }
#if DT_TEST_PG
    admin->Exec("DROP DATABASE IF EXISTS " + database + " WITH (FORCE)");
#endif
    fs::current_path(old_cwd);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace dt::test
