// Logins whose user, password and database names hold punctuation, against the test
// script's PostgreSQL server: each reaches the server as one value (the login works and
// the server names the role and database), and no part of the password is written
// anywhere: not in the trace log, the error log, standard error or any file of the run,
// the settings file being the one place that holds it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "data/sql_connection.h"
#include "data/statements.h"
#include "runtime/errors.h"
#include "runtime/types.h"
#include "data/file.h"
#include "data/sql_driver.h"
#include "tests/support/temp_dir.h"

namespace dt {
namespace {

#pragma pack(push, 1)
struct SqlRecord {
    CSTRING<256> FELD1;
};
#pragma pack(pop)

// The pass-through table of the program's shape.
struct SqlTable : Table<SqlRecord> {
    explicit SqlTable(const std::string& name)
        : Table("SQLF", SqlDriver(), "", name, FILE_CREATE,
                {Field::Cstring("SQLF:FELD1", offsetof(SqlRecord, FELD1), 256)}) {}
};

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Every punctuation character of ASCII, once.
const std::string kAllPunctuation = "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";

// The first substring of `secret` longer than two characters that `text` holds, or "".
std::string LeakedPart(const std::string& text, const std::string& secret) {
    for (std::size_t i = 0; i + 3 <= secret.size(); ++i)
        if (text.find(secret.substr(i, 3)) != std::string::npos) return secret.substr(i, 3);
    return {};
}

// A PostgreSQL name as a quoted identifier, and a text as a literal.
std::string Ident(const std::string& s) {
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}
std::string Literal(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

class Secrets : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Env("DRIVETREK_TEST_PG_HOST").empty() || Env("DRIVETREK_TEST_PG_PORT").empty() ||
            Env("DRIVETREK_TEST_PG_USER").empty())
            GTEST_SKIP() << "DRIVETREK_TEST_PG_* not set";
        server_ = Env("DRIVETREK_TEST_PG_HOST") + ":" + Env("DRIVETREK_TEST_PG_PORT");
        profile_.emplace("DRIVETREK_PROFILE", (dir_ / "win.ini").c_str());
        Profile(false);
    }
    void TearDown() override {
        if (server_.empty()) return;
        Profile(false);
        // The logins' connections are closed with their tables; their roles and
        // databases go with everything they own.
        for (const std::string& db : databases_) Admin("DROP DATABASE IF EXISTS " + Ident(db));
        for (const std::string& role : roles_) {
            Admin("DROP OWNED BY " + Ident(role));
            Admin("DROP ROLE IF EXISTS " + Ident(role));
        }
        if (admin_) {
            (void)Close(*admin_);
            (void)Remove(*admin_);
        }
    }

    // The system profile: PostgreSQL first; with `trace`, the driver trace into trace.log.
    void Profile(bool trace) {
        std::string text = "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n";
        if (trace)
            text += "[QXMSSQL]\nTrace=1\nProfile=1\nDetails=1\nTraceFile=" + (dir_ / "trace.log") + "\n";
        test::WriteFile(dir_ / "win.ini", text);
    }

    // One statement as the test script's superuser on database postgres.
    int Admin(const std::string& statement) {
        if (!admin_) {
            admin_ = std::make_unique<SqlTable>("dtsec_admin_" + std::to_string(::getpid()));
            admin_->file.SetOwner(server_ + ",postgres," + OwnerPart(Env("DRIVETREK_TEST_PG_USER")) + "," +
                                  OwnerPart(Env("DRIVETREK_TEST_PG_PASSWORD")));
            EXPECT_EQ(CreateIfMissing(*admin_), 0) << FileError();
            EXPECT_EQ(Open(*admin_), 0) << FileError();
        }
        return SetProperty(*admin_, PROP_SQL, statement);
    }

    // A role with `password` that owns a database of its own.
    void MakeLogin(const std::string& role, const std::string& password, const std::string& database) {
        ASSERT_EQ(Admin("CREATE ROLE " + Ident(role) + " LOGIN PASSWORD " + Literal(password)), 0)
            << FileError();
        roles_.push_back(role);
        ASSERT_EQ(Admin("CREATE DATABASE " + Ident(database) + " OWNER " + Ident(role)), 0) << FileError();
        databases_.push_back(database);
    }

    // Logs in through the driver with the owner text the program builds and asks the
    // server who and where it is.
    void ExpectLogin(const std::string& role, const std::string& password, const std::string& database) {
        SqlTable t("dtsec_" + std::to_string(::getpid()));
        t.file.SetOwner(server_ + "," + OwnerPart(database) + "," + OwnerPart(role) + "," +
                        OwnerPart(password) + ";APP=DRIVETREK;WSID=SECRETS");
        ASSERT_EQ(CreateIfMissing(t), 0) << FileError();
        ASSERT_EQ(Open(t), 0) << FileError();
        ASSERT_EQ(SetProperty(t, PROP_SQL, "SELECT current_user || '|' || current_database()"), 0)
            << FileError();
        ASSERT_EQ(Next(t), 0) << FileError();
        EXPECT_EQ(std::string(t.FELD1.View()), role + "|" + database);
        (void)Close(t);
    }

    test::TempDir dir_;
    std::optional<test::ScopedEnv> profile_;
    std::string server_;
    std::unique_ptr<SqlTable> admin_;
    std::vector<std::string> roles_, databases_;
};

TEST_F(Secrets, PunctuationLoginsConnectAndTheTraceMasksThem) {
    const std::string id = std::to_string(::getpid());
    struct Login {
        std::string role, password, database;
    };
    const Login logins[] = {
        {"dtsec_all_" + id, kAllPunctuation, "dtsec_all_" + id},
        {"dt;{u}=,'\" " + id, "Se;cr}et{X9", "dt;{d}=,'" + id},
        {"{dtsec}" + id, "{q=1;Trace=Yes}", "%2B+" + id},
        {"dtsec_plus_" + id, "a+b%41 c", "dtsec_plus_" + id},
    };
    for (const Login& l : logins) MakeLogin(l.role, l.password, l.database);
    Profile(true);
    for (const Login& l : logins) ExpectLogin(l.role, l.password, l.database);
    Profile(false);
    const std::string trace = test::ReadFile(dir_ / "trace.log");
    ASSERT_NE(trace.find("Connecting to Driver={PostgreSQL Unicode}"), std::string::npos) << trace;
    EXPECT_NE(trace.find("PWD=********;"), std::string::npos);
    for (const Login& l : logins) {
        EXPECT_EQ(LeakedPart(trace, l.password), "") << "password " << l.password << " shows in\n" << trace;
    }
}

// The program run as an unattended scan with tracing on: every file the run writes is
// searched for the password.
TEST_F(Secrets, UnattendedRunWritesNoPartOfThePasswordAnywhere) {
    const std::string id = std::to_string(::getpid() % 100000);
    const std::string role = "dt{u};=," + id, database = "dt;{d}=,'" + id;
    const std::string password = "x;,{}='\"\\%+&}{;X9=,y";  // 20 characters: the field's size
    ASSERT_EQ(password.size(), 20u);
    MakeLogin(role, password, database);
    // The master database of PostgreSQL holds the program's SQLM table.
    ASSERT_EQ(Admin("GRANT CREATE ON SCHEMA public TO " + Ident(role)), 0) << FileError();
    Admin("GRANT ALL ON sqlm TO " + Ident(role));  // when an earlier run created it

    std::filesystem::create_directories(dir_ / "tree/sub");
    std::filesystem::create_directories(dir_ / "tmp");
    test::WriteFile(dir_ / "tree/a.txt", "hello");
    test::WriteFile(dir_ / "tree/sub/b.doc", "x");
    test::WriteFile(dir_ / "drivetrek.ini", "[database]\nserver=" + server_ + "\ndatabase=" + database +
                                                "\nuser=" + role + "\npass=" + password +
                                                "\n[scan]\nroots=" + dir_.path() + "/tree/\n");
    Profile(true);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir_.path().c_str()) != 0) ::_exit(120);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("DRIVETREK_COMPUTERNAME", "secrets-pc", 1);
        ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
        if (std::freopen((dir_ / "out.txt").c_str(), "w", stdout) == nullptr) ::_exit(122);
        if (std::freopen((dir_ / "err.txt").c_str(), "w", stderr) == nullptr) ::_exit(123);
        ::execl(DRIVETREK_PATH, DRIVETREK_PATH, "/S", static_cast<char*>(nullptr));
        ::_exit(121);
    }
    int st = 0;
    pid_t done = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while ((done = ::waitpid(pid, &st, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &st, 0);
        ADD_FAILURE() << "the program did not end in time";
    }
    Profile(false);
    const std::string out = test::ReadFile(dir_ / "out.txt"), err = test::ReadFile(dir_ / "err.txt");
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << err;
    EXPECT_NE(out.find("2 files stored"), std::string::npos) << out << err;

    const std::string trace = test::ReadFile(dir_ / "trace.log");
    EXPECT_NE(trace.find("PWD=********;"), std::string::npos) << trace;
    int files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir_.path())) {
        if (!e.is_regular_file() || e.path() == std::filesystem::path(dir_ / "drivetrek.ini")) continue;
        ++files;
        EXPECT_EQ(LeakedPart(test::ReadFile(e.path().string()), password), "") << e.path();
    }
    EXPECT_GE(files, 4) << "trace log, standard output and error, system profile";
}

}  // namespace
}  // namespace dt
