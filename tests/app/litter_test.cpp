// No litter: the three programs run against PostgreSQL (psqlODBC registered as Debian
// ships it, with its communication log switched on) leave no file in /tmp: nothing named
// after the driver's log and nothing that holds the process id.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace dt {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

// Runs `program` with `args` in `cwd`; returns its process id and exit status.
std::pair<pid_t, int> RunIn(const std::string& cwd, const char* program,
                            const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(cwd.c_str()) != 0) ::_exit(120);
        if (std::freopen("/dev/null", "w", stdout) == nullptr ||
            std::freopen("/dev/null", "w", stderr) == nullptr)
            ::_exit(122);
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
    }
    return {pid, WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st)};
}

std::set<std::string> TmpEntries() {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/tmp", ec)) names.insert(e.path().filename().string());
    return names;
}

// The entries of /tmp not in `before` whose names hold the process id `pid` as a number of
// their own. (Process ids are reused: an older file may hold the same number.)
std::vector<std::string> NewTmpEntriesOf(pid_t pid, const std::set<std::string>& before) {
    std::vector<std::string> found;
    const std::string id = std::to_string(pid);
    for (const std::string& name : TmpEntries()) {
        if (before.count(name) != 0) continue;
        for (std::size_t at = name.find(id); at != std::string::npos; at = name.find(id, at + 1)) {
            const bool before = at == 0 || !std::isdigit(static_cast<unsigned char>(name[at - 1]));
            const std::size_t after = at + id.size();
            if (before && (after == name.size() || !std::isdigit(static_cast<unsigned char>(name[after])))) {
                found.push_back(name);
                break;
            }
        }
    }
    return found;
}

TEST(Litter, ProgramsOnPostgresqlLeaveNothingInTmp) {
    if (Env("DRIVETREK_TEST_PG_HOST").empty() || Env("DRIVETREK_TEST_PG_PORT").empty())
        GTEST_SKIP() << "DRIVETREK_TEST_PG_HOST/PORT not set";
    test::TempDir dir;
    const std::string database = "dtlitter" + std::to_string(::getpid());
    fs::create_directories(dir / "tree");
    test::WriteFile(dir / "tree/one.txt", "1");
    test::WriteFile(dir / "win.ini", "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n");
    test::WriteFile(dir / "drivetrek.ini", "[database]\nserver=" + Env("DRIVETREK_TEST_PG_HOST") + ":" +
                                               Env("DRIVETREK_TEST_PG_PORT") + "\ndatabase=" + database +
                                               "\nuser=" + Env("DRIVETREK_TEST_PG_USER") +
                                               "\npass=" + Env("DRIVETREK_TEST_PG_PASSWORD") +
                                               "\n[scan]\nroots=" + dir.path() + "/tree/\n");
    test::ScopedEnv profile("DRIVETREK_PROFILE", (dir / "win.ini").c_str());
    test::ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");

    struct Step {
        const char* program;
        std::vector<std::string> args;
        int status;
    };
    const Step steps[] = {
        {DTSQL_PATH, {"--master", "CREATE DATABASE " + database}, 0},
        {DRIVETREK_PATH, {"/S"}, 0},
        {DTFIND_PATH, {"--format", "json", "one"}, 0},
        {DTSQL_PATH, {"select count(*) from FILES"}, 0},
        {DTSQL_PATH, {"--master", "DROP DATABASE " + database}, 0},
    };
    for (const Step& s : steps) {
        const std::set<std::string> before = TmpEntries();
        const auto [pid, status] = RunIn(dir.path(), s.program, s.args);
        EXPECT_EQ(status, s.status) << s.program << " " << s.args[0];
        EXPECT_EQ(NewTmpEntriesOf(pid, before), std::vector<std::string>{}) << s.program;
    }
}

}  // namespace
}  // namespace dt
