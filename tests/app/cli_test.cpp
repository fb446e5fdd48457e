// The three programs as a user or a script starts them: --help and --version on standard
// output with status 0 and nothing else done; an unknown option gives a short usage on
// standard error (2 for dtfind and dtsql, 64 for drivetrek); where the settings and the
// embedded database are kept (./drivetrek.ini here, else the XDG directories, created
// owner-only); a settings file that cannot be read, a settings path too long for its field
// and a database directory that cannot be written each stop the program with a message
// naming the place; no database file appears as a side effect.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace dt {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(Home());
        fs::create_directories(dir_ / "work");
        fs::create_directories(dir_ / "tree/sub");
        test::WriteFile(dir_ / "tree/a.txt", "hello");
        test::WriteFile(dir_ / "tree/sub/b.txt", "x");
        test::WriteFile(dir_ / "win.ini", "");
        env_ = {{"HOME", Home()},
                {"XDG_CONFIG_HOME", dir_ / "config"},
                {"XDG_DATA_HOME", dir_ / "data"},
                {"DRIVETREK_PROFILE", dir_ / "win.ini"},
                {"DRIVETREK_COMPUTERNAME", "cli-pc"},
                {"QT_QPA_PLATFORM", "offscreen"}};
    }
    std::string Home() const { return dir_ / "home"; }
    std::string Work() const { return dir_ / "work"; }
    std::string ScanSettings() const { return "[scan]\nroots=" + dir_.path() + "/tree/\n"; }

    // Runs `program` in `cwd` with the test's environment; gives up after 60 seconds.
    Outcome Start(const char* program, const std::vector<std::string>& args, const std::string& cwd) {
        Outcome r;
        const std::string out = dir_ / "out.txt", err = dir_ / "err.txt";
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(cwd.c_str()) != 0) ::_exit(120);
            for (const auto& [name, value] : env_) {
                if (value.empty())
                    ::unsetenv(name.c_str());
                else
                    ::setenv(name.c_str(), value.c_str(), 1);
            }
            if (std::freopen(out.c_str(), "w", stdout) == nullptr) ::_exit(122);
            if (std::freopen(err.c_str(), "w", stderr) == nullptr) ::_exit(122);
            std::vector<char*> argv{const_cast<char*>(program)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(program, argv.data());
            ::_exit(121);
        }
        int st = 0;
        pid_t done = 0;
        for (int i = 0; i < 600 && (done = ::waitpid(pid, &st, WNOHANG)) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (done == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &st, 0);
            ADD_FAILURE() << program << " did not end in time";
        }
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        r.out = test::ReadFile(out);
        r.err = test::ReadFile(err);
        return r;
    }

    // Every file below `dir`, as paths relative to it.
    static std::vector<std::string> Files(const std::string& dir) {
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            names.push_back(fs::relative(it->path(), dir).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static int Mode(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
    }

    test::TempDir dir_;
    std::map<std::string, std::string> env_;
};

const char* const kPrograms[] = {DRIVETREK_PATH, DTFIND_PATH, DTSQL_PATH};

std::string NameOf(const char* path) {
    return fs::path(path).filename().string();
}

TEST_F(Cli, HelpAndVersionAnswerOnStandardOutputAndDoNothingElse) {
    for (const char* program : kPrograms) {
        const std::string name = NameOf(program);
        const Outcome help = Start(program, {"--help"}, Work());
        EXPECT_EQ(help.status, 0) << name << help.err;
        EXPECT_EQ(help.err, "") << name;
        EXPECT_NE(help.out.find("--version"), std::string::npos) << name << help.out;
        EXPECT_NE(help.out.find("xit status"), std::string::npos) << name << help.out;

        const Outcome version = Start(program, {"--version"}, Work());
        EXPECT_EQ(version.status, 0) << name;
        EXPECT_EQ(version.err, "") << name;
        EXPECT_TRUE(
            std::regex_match(version.out, std::regex(name + R"( 1\.05 \(git ([0-9a-f]{7}|unknown)\)\n)")))
            << version.out;
    }
    // Nothing was created: no database, no settings directory, no log.
    EXPECT_EQ(Files(Work()), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(dir_ / "config"));
    EXPECT_FALSE(fs::exists(dir_ / "data"));
}

TEST_F(Cli, DrivetrekHelpNamesTheFilesItWouldUse) {
    const Outcome elsewhere = Start(DRIVETREK_PATH, {"--help"}, Work());
    EXPECT_NE(elsewhere.out.find(dir_ / "config/drivetrek/drivetrek.ini"), std::string::npos)
        << elsewhere.out;
    EXPECT_NE(elsewhere.out.find(dir_ / "data/drivetrek/"), std::string::npos) << elsewhere.out;

    // Unset or relative variables fall back to the home directory.
    env_["XDG_CONFIG_HOME"] = "";
    env_["XDG_DATA_HOME"] = "relative/data";
    const Outcome fallback = Start(DRIVETREK_PATH, {"--help"}, Work());
    EXPECT_NE(fallback.out.find(Home() + "/.config/drivetrek/drivetrek.ini"), std::string::npos)
        << fallback.out;
    EXPECT_NE(fallback.out.find(Home() + "/.local/share/drivetrek/"), std::string::npos) << fallback.out;

    test::WriteFile(Work() + "/drivetrek.ini", "");
    const Outcome here = Start(DRIVETREK_PATH, {"--help"}, Work());
    EXPECT_NE(here.out.find("./drivetrek.ini"), std::string::npos) << here.out;
    EXPECT_NE(here.out.find("the current directory"), std::string::npos) << here.out;
}

TEST_F(Cli, UnknownOptionsGiveAShortUsageOnStandardError) {
    struct Case {
        const char* program;
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {DTFIND_PATH, {"--bogus", "report"}, 2},
        {DTFIND_PATH, {"--format", "xml", "report"}, 2},
        {DTFIND_PATH, {"--limit", "many", "x"}, 2},
        {DTSQL_PATH, {"--bogus", "select 1"}, 2},
        {DTSQL_PATH, {}, 2},
        {DRIVETREK_PATH, {"--bogus"}, 64},
        {DRIVETREK_PATH, {"/S", "-x"}, 64},
        {DRIVETREK_PATH, {"scan"}, 64},
    };
    for (const Case& c : cases) {
        const Outcome r = Start(c.program, c.args, Work());
        const std::string name = NameOf(c.program);
        EXPECT_EQ(r.status, c.status) << name << " " << (c.args.empty() ? "" : c.args[0]) << ": " << r.err;
        EXPECT_EQ(r.out, "") << name;
        EXPECT_NE(r.err.find("usage: " + name), std::string::npos) << name << ": " << r.err;
    }
    EXPECT_EQ(Files(Work()), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(dir_ / "data"));
}

TEST_F(Cli, OutOfRangeNumbersAreRefused) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--from", "-5", "-e", "doc"},
                                               {"--to", "-1", "x"},
                                               {"--from", "10", "--to", "5", "x"},
                                               {"--limit", "-3", "x"},
                                               {"--from", "99999999999", "x"}}) {
        const Outcome r = Start(DTFIND_PATH, args, Work());
        EXPECT_EQ(r.status, 2) << args[0] << " " << args[1];
        EXPECT_NE(r.err, "") << args[0];
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(Cli, WithoutALocalSettingsFileTheUsersDirectoriesAreUsed) {
    fs::create_directories(dir_ / "config/drivetrek");
    test::WriteFile(dir_ / "config/drivetrek/drivetrek.ini", ScanSettings());
    env_["XDG_RUNTIME_DIR"] = "";  // the toolkit complains about it: into the log, not stderr
    const Outcome scan = Start(DRIVETREK_PATH, {"/S"}, Work());
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.err.find("QStandardPaths"), std::string::npos) << scan.err;
    EXPECT_EQ(scan.err.find("propagateSizeHints"), std::string::npos) << scan.err;
    EXPECT_TRUE(fs::exists(dir_ / "data/drivetrek/master.db"));
    EXPECT_EQ(Mode(dir_ / "data/drivetrek"), 0700);
    EXPECT_EQ(Files(Work()), std::vector<std::string>{});
    EXPECT_NE(test::ReadFile(dir_ / "data/drivetrek/drivetrek.log").find("XDG_RUNTIME_DIR"),
              std::string::npos);
    // The database file is named where the run reports.
    EXPECT_NE((scan.out + scan.err).find(dir_ / "data/drivetrek/master.db"), std::string::npos)
        << scan.out << scan.err;

    const Outcome count = Start(DTFIND_PATH, {"--count", "-e", "txt"}, Work());
    EXPECT_EQ(count.status, 0) << count.err;
    EXPECT_EQ(count.out, "2\n");

    // A directory that holds drivetrek.ini keeps everything there.
    test::WriteFile(Work() + "/drivetrek.ini", ScanSettings());
    const Outcome here = Start(DRIVETREK_PATH, {"/S"}, Work());
    ASSERT_EQ(here.status, 0) << here.err;
    EXPECT_TRUE(fs::exists(Work() + "/master.db"));
    const Outcome none = Start(DTFIND_PATH, {"--count", "-e", "doc"}, Work());
    EXPECT_EQ(none.status, 1) << none.err;
    EXPECT_EQ(none.out, "0\n");
}

TEST_F(Cli, ASettingsFileThatCannotBeReadStopsEveryProgram) {
    fs::create_directories(Work() + "/drivetrek.ini");  // present, but no file to read
    const Outcome find = Start(DTFIND_PATH, {"report"}, Work());
    EXPECT_EQ(find.status, 2);
    const Outcome sql = Start(DTSQL_PATH, {"select 1"}, Work());
    EXPECT_EQ(sql.status, 1);
    const Outcome scan = Start(DRIVETREK_PATH, {"/S"}, Work());
    EXPECT_EQ(scan.status, 1);
    for (const Outcome* r : {&find, &sql, &scan}) {
        EXPECT_NE(r->err.find("settings file ./drivetrek.ini"), std::string::npos) << r->err;
        EXPECT_NE(r->err.find("directory"), std::string::npos) << r->err;
    }
    // No database appeared (the toolkit's log of the unattended run may).
    std::vector<std::string> left = Files(Work());
    std::erase(left, "drivetrek.log");
    EXPECT_EQ(left, std::vector<std::string>{"drivetrek.ini"});

    if (::geteuid() != 0) {
        fs::remove(Work() + "/drivetrek.ini");
        test::WriteFile(Work() + "/drivetrek.ini", "[database]\nserver=Server\n");
        ::chmod((Work() + "/drivetrek.ini").c_str(), 0);
        const Outcome denied = Start(DTFIND_PATH, {"report"}, Work());
        EXPECT_EQ(denied.status, 2);
        EXPECT_NE(denied.err.find("Permission denied"), std::string::npos) << denied.err;
    }
}

TEST_F(Cli, ASettingsPathLongerThanItsFieldIsRefused) {
    const std::string deep = dir_ / std::string(120, 'c');
    env_["XDG_CONFIG_HOME"] = deep;
    for (const char* program : kPrograms) {
        const Outcome r = Start(program, {NameOf(program) == "dtsql" ? "select 1" : "/S"}, Work());
        EXPECT_NE(r.status, 0) << NameOf(program);
        EXPECT_NE(r.err.find("longer than 127 bytes"), std::string::npos) << NameOf(program) << r.err;
    }
    EXPECT_FALSE(fs::exists(deep));
}

TEST_F(Cli, ADatabaseDirectoryThatCannotBeMadeOrWrittenIsNamed) {
    test::WriteFile(dir_ / "blocker", "a file where a directory should be");
    env_["XDG_DATA_HOME"] = dir_ / "blocker";
    const Outcome scan = Start(DRIVETREK_PATH, {"/S"}, Work());
    EXPECT_EQ(scan.status, 1);
    EXPECT_NE(scan.err.find(dir_ / "blocker"), std::string::npos) << scan.err;

    if (::geteuid() != 0) {
        env_["XDG_DATA_HOME"] = dir_ / "data";
        fs::create_directories(dir_ / "data/drivetrek");
        ::chmod((dir_ / "data/drivetrek").c_str(), 0500);
        const Outcome ro = Start(DRIVETREK_PATH, {"/S"}, Work());
        ::chmod((dir_ / "data/drivetrek").c_str(), 0700);
        EXPECT_EQ(ro.status, 1);
        EXPECT_NE(ro.err.find("database directory " + dir_ / "data/drivetrek/"), std::string::npos) << ro.err;
        EXPECT_EQ(ro.err.find("connect failed"), std::string::npos) << ro.err;
    }
}

TEST_F(Cli, DtsqlNeverCreatesTheEmbeddedDatabase) {
    fs::create_directories(dir_ / "data/drivetrek");
    const Outcome r = Start(DTSQL_PATH, {"select 1"}, Work());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.err, "");
    EXPECT_EQ(Files(dir_ / "data/drivetrek"), std::vector<std::string>{});
    EXPECT_EQ(Files(Work()), std::vector<std::string>{});
}

}  // namespace
}  // namespace dt
