// The start-up of the main procedure against a real database, offscreen: the embedded
// database in the test's own directory (no settings, tables in master.db), or the
// PostgreSQL server of the test script (tests/support/backend.h; a database of the test's
// own, made by the program and dropped at the end). A computer's own row is inserted at its first start and
// listed from the next; a missing database is created on Yes and ends the program on No;
// an unattended run ends with the question on standard error instead of asking.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/tables.h"
#include "data/sql_driver.h"
#include "data/sql_session.h"
#include "data/statements.h"
#include "tests/app/app_support.h"
#include "tests/support/backend.h"

namespace dt {
namespace {

using test::RunDir;
using test::RunMain;

std::atomic<int> g_serial{0};

// What the open main window showed.
struct Seen {
    std::vector<std::string> computers;  // QCOMPUTER names in order
    std::vector<ULONG> numbers;          // their row numbers
    ULONG own_row = 0;                   // COMPUTER:SYSCOMPUTER
    ULONG own_drives = 0;                // COMPUTER:DRIVES of the own row
    std::string title, records, sys_text;
    std::string db_file;  // DBFILESTRING's text, "" when hidden
    bool server_shown = false;
};

// Closes the main window at once, remembering what it showed.
std::function<void(MainWindow&)> Look(Seen& seen) {
    return [&seen](MainWindow& w) {
        for (std::size_t i = 1; i <= QCOMPUTER.Records(); ++i) {
            QCOMPUTER_RECORD r{};
            QCOMPUTER.Peek(i, r);
            seen.computers.push_back(std::string(r.NAME.View()));
            seen.numbers.push_back(r.SYSCOMPUTER);
        }
        seen.own_row = COMPUTER.SYSCOMPUTER;
        seen.own_drives = COMPUTER.DRIVES;
        seen.title = w.WINDOW->Title();
        seen.records = ui::testing::ControlText(*w.WINDOW, MainCtl::RECORDSSTRING);
        seen.sys_text = ui::testing::ControlText(*w.WINDOW, MainCtl::SYSCOMPUTER);
        if (!w.WINDOW->Hidden(MainCtl::DBFILESTRING))
            seen.db_file = ui::testing::ControlText(*w.WINDOW, MainCtl::DBFILESTRING);
        seen.server_shown = !w.WINDOW->Hidden(MainCtl::SQLSERVER) && !w.WINDOW->Hidden(MainCtl::SQLDATABASE);
        w.WINDOW->Post(ui::Event::CloseWindow);
    };
}

class Bootstrap : public test::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();  // the system profile names the server's driver
        if (IsSkipped()) return;
        server_ = test::Backend::Server();
        ui::testing::ResetAnswers();
    }
    void TearDown() override {
        for (const std::string& db : created_) test::Backend::DropDatabase(db);
        BackendTest::TearDown();
    }

    // A database name of this test's own (the program makes it; it is removed at the end).
    std::string NewDatabaseName() {
        std::string name = "dtapp" + std::to_string(::getpid()) + "_" + std::to_string(++g_serial);
        created_.push_back(name);
        return name;
    }
    // Settings naming `database` ("" : the defaults where the kind allows).
    void UseDatabase(const std::string& database) {
        run_.WriteSettings(database.empty() ? "" : test::Backend::SettingsLines(database));
    }
    // True when `database` exists on the server (the embedded kind: the file is there).
    bool DatabaseExists(const std::string& database) {
        if (!IsPostgres()) return std::filesystem::exists(run_ / (database + ".db"));
        // Division by zero (an error) when the database is not listed.
        return test::Backend::Pg().Execute(
            "SELECT 1/(SELECT count(*) FROM pg_database WHERE datname = " + SqlLiteral(database) + ")");
    }

    RunDir run_;
    std::string server_;
    std::vector<std::string> created_;
};

// The default path of a fresh machine: the tables go into the master database, this
// computer's row is inserted with its drive mask, and it is listed from the next start.
TEST_F(Bootstrap, OwnRowIsInsertedAtTheFirstStartAndListedFromTheNext) {
    std::vector<int> answers;
    if (IsPostgres()) {
        UseDatabase(NewDatabaseName());
        answers.push_back(ui::button::Yes);  // the test's database is new
    } else {
        UseDatabase("");  // server "Server", database "master", user "sa", no password
    }
    Seen first;
    ASSERT_EQ(RunMain(Look(first), false, answers), 0);
    EXPECT_EQ(first.computers, std::vector<std::string>{"all computers"}) << "not listed at its first start";
    EXPECT_EQ(first.numbers, std::vector<ULONG>{0});
    EXPECT_GT(first.own_row, 0u) << "the row got a number";
    EXPECT_EQ(first.own_drives, 1u) << "one drive ([scan] roots): bit 0";
    EXPECT_EQ(first.title, "DriveTrek Version 1.05");
    EXPECT_EQ(first.records.substr(0, 26), "files in the database are ");
    EXPECT_EQ(std::string(Clip(first.records.substr(26))).back(), '0') << first.records;
    EXPECT_NE(first.sys_text.find(std::to_string(first.own_row)), std::string::npos);
    // The embedded database is located by its file, not by a server name.
    if (IsPostgres()) {
        EXPECT_TRUE(first.server_shown);
        EXPECT_EQ(first.db_file, "");
    } else {
        EXPECT_FALSE(first.server_shown);
        EXPECT_EQ(first.db_file, "Database file: " + std::filesystem::canonical(run_ / "master.db").string());
    }
    if (!IsPostgres()) {
        EXPECT_TRUE(std::filesystem::exists(run_ / "master.db"));
        EXPECT_FALSE(std::filesystem::exists(run_ / "DRIVETREK.db")) << "no database was created";
        const auto shown = ui::testing::TakeShownMessages();
        EXPECT_TRUE(shown.empty()) << shown.front().text;
    }

    Seen second;
    ASSERT_EQ(RunMain(Look(second)), 0);
    ASSERT_EQ(second.computers, (std::vector<std::string>{"all computers", "apptest-pc"}));
    EXPECT_EQ(second.numbers[1], first.own_row);
    EXPECT_EQ(second.own_row, first.own_row) << "found again, not inserted twice";

    // Another computer on the same database gets a row of its own.
    run_.SetComputer("second-pc");
    Seen third;
    ASSERT_EQ(RunMain(Look(third)), 0);
    EXPECT_EQ(third.computers, (std::vector<std::string>{"all computers", "apptest-pc"}));
    EXPECT_GT(third.own_row, first.own_row);
    Seen fourth;
    ASSERT_EQ(RunMain(Look(fourth)), 0);
    EXPECT_EQ(fourth.computers, (std::vector<std::string>{"all computers", "apptest-pc", "second-pc"}));
}

// A database of an earlier version: FILES holds rows and the search index is missing. The
// start builds it while the start-up window is up, and that window's status bar shows the
// build's steps as they come (the share done first); the window keeps its title and text.
// An unattended run writes the same steps to standard error.
TEST_F(Bootstrap, TheStartUpWindowShowsTheSearchIndexBuild) {
    std::vector<int> answers;
    std::string database = "master";
    if (IsPostgres()) {
        database = NewDatabaseName();
        answers.push_back(ui::button::Yes);
    }
    UseDatabase(IsPostgres() ? database : "");
    Seen first;
    ASSERT_EQ(RunMain(Look(first), false, answers), 0);
    Diag d;
    auto s = SqlSession::Open(test::Backend::Owner(database), "", d);
    ASSERT_TRUE(s) << d.message;
    std::string rows = "INSERT INTO FILES (SysFILES,SysCOMPUTER,NAME,EXTENSION,DIR,TYPE,DATE,Size) VALUES ";
    for (int i = 1; i <= 60; ++i)
        rows += (i == 1 ? "(" : ",(") + std::to_string(i + 1000) + ",99,'file" + std::to_string(i) +
                ".txt','txt','/d" + std::to_string(i % 7) + "/',32,NULL," + std::to_string(i) + ")";
    ASSERT_TRUE(s->Exec(rows)) << s->LastError();
    auto drop_index = [&] {
        const std::vector<std::string> drops = IsPostgres()
                                                   ? std::vector<std::string>{"DROP INDEX files_name_trgm"}
                                                   : std::vector<std::string>{"DROP TABLE FILES_NAME_FTS"};
        for (const std::string& drop : drops) ASSERT_TRUE(s->Exec(drop)) << s->LastError();
    };

    std::vector<std::string> status;
    std::string title, text;
    auto start = [&](bool unattended) {
        int code = -1;
        GLO::INIFILE = "";
        ui::test::RunApp([&] {
            code = ProgramFrame(unattended, [&] {
                MainWindow w;
                w.UNATTENDED = unattended ? 1 : 0;
                w.index_progress_rows = 50;
                w.on_index_progress = [&](MainWindow& m, const SearchIndexProgress&) {
                    status.push_back(ui::testing::StatusBarText(*m.WIN_START, 1));
                    title = ui::testing::ControlText(*m.WIN_START, 0);
                    text = ui::testing::ControlText(*m.WIN_START, 1);
                };
                w.on_opened = [](MainWindow& m) { m.WINDOW->Post(ui::Event::CloseWindow); };
                GlobalResponse = w.Run();
                return w.EXITSTATUS;
            });
        });
        return code;
    };
    drop_index();
    ASSERT_EQ(start(false), 0);
    ASSERT_FALSE(status.empty()) << "60 rows are more than 50";
    EXPECT_EQ(title, "connect to database..");
    EXPECT_EQ(text, "DRIVETREK");
    // The embedded index is filled in counted slices, its directories in one step without a
    // measure; PostgreSQL builds each index in one statement without a measure (the table
    // was never analysed: its size stands for its rows).
    const std::vector<std::string> wanted =
        IsPostgres() ? std::vector<std::string>{"Creating the index files_name_trgm"}
                     : std::vector<std::string>{"0% Indexing file names for the search",
                                                "Indexing directories for the search"};
    for (const std::string& line : wanted)
        EXPECT_TRUE(std::find(status.begin(), status.end(), line) != status.end())
            << line << " not among " << status.size() << " texts, the first " << status.front();

    drop_index();
    status.clear();
    const std::string err_file = run_ / "stderr.txt";
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int fd = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
    const int code = start(true);
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    EXPECT_EQ(code, 0);
    std::ifstream in(err_file);
    const std::string err((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(err.find(IsPostgres() ? "drivetrek: Creating the index files_name_trgm\n"
                                    : "drivetrek: Indexing file names for the search: 0 of 60 rows\n"),
              std::string::npos)
        << err;
    EXPECT_FALSE(status.empty()) << "the start-up window shows it too";
}

// A database that is not there: No ends the program (exit 0) without creating it, Yes
// creates it and the program goes on; the next start finds it and asks nothing.
TEST_F(Bootstrap, MissingDatabaseIsCreatedOnYesAndEndsTheProgramOnNo) {
    const std::string db = NewDatabaseName();
    UseDatabase(db);
    bool opened = false;
    EXPECT_EQ(RunMain(
                  [&](MainWindow& w) {
                      opened = true;
                      w.WINDOW->Post(ui::Event::CloseWindow);
                  },
                  false, {ui::button::No}),
              0);
    EXPECT_FALSE(opened) << "No ends the program before the main window";
    auto shown = ui::testing::TakeShownMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Database " + db + " not exist.|Create database on " + server_ + " ?");
    EXPECT_EQ(shown[0].caption, "create database");
    EXPECT_EQ(shown[0].icon, ui::MessageIcon::Question);
    EXPECT_EQ(shown[0].buttons, ui::button::Yes | ui::button::No);
    EXPECT_EQ(shown[0].default_button, ui::button::Yes);
    EXPECT_FALSE(DatabaseExists(db));

    Seen seen;
    EXPECT_EQ(RunMain(Look(seen), false, {ui::button::Yes}), 0);
    EXPECT_EQ(ui::testing::TakeShownMessages().size(), 1u);
    EXPECT_TRUE(DatabaseExists(db));
    EXPECT_GT(seen.own_row, 0u) << "the tables live in the new database";

    Seen again;
    EXPECT_EQ(RunMain(Look(again)), 0);
    EXPECT_TRUE(ui::testing::TakeShownMessages().empty()) << "found: nothing asked";
    EXPECT_EQ(again.computers.size(), 2u);
}

// An unattended run cannot answer: the question goes to standard error, the program ends
// with a non-zero status, and nothing is created or shown.
TEST_F(Bootstrap, UnattendedRunEndsOnTheMissingDatabaseQuestion) {
    const std::string db = NewDatabaseName();
    UseDatabase(db);
    ::testing::internal::CaptureStderr();
    const int status = RunMain({}, true);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, kUnattendedFailure);
    EXPECT_NE(
        err.find("create database: Database " + db + " not exist.\nCreate database on " + server_ + " ?"),
        std::string::npos)
        << err;
    EXPECT_TRUE(ui::testing::TakeShownMessages().empty());
    EXPECT_FALSE(DatabaseExists(db));
}

// A database name is data: an apostrophe or a quote in it never changes the statements.
TEST_F(Bootstrap, DatabaseNameWithQuotesIsCheckedAndCreatedAsData) {
    const std::string db = NewDatabaseName() + "x'y";
    created_.back() = db;
    UseDatabase(db);
    Seen seen;
    EXPECT_EQ(RunMain(Look(seen), false, {ui::button::Yes}), 0);
    EXPECT_EQ(ui::testing::TakeShownMessages().size(), 1u);
    EXPECT_TRUE(DatabaseExists(db));
    Seen again;
    EXPECT_EQ(RunMain(Look(again)), 0);
    EXPECT_TRUE(ui::testing::TakeShownMessages().empty()) << "the quoted name was found";
}

}  // namespace
}  // namespace dt
