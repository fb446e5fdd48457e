// Registry stand-in, computer name, current directory and the file opener.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "platform/computer.h"
#include "platform/cwd.h"
#include "platform/opener.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace dt::platform {
namespace {

using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFile;

TEST(Registry, TellsMissingFromEmpty) {
    TempDir dir;
    ScopedEnv p("DRIVETREK_PROFILE", (dir / "win.ini").c_str());
    const char* key = "Software\\Kestrelworks\\MSSQL";
    // No profile at all, then a profile without the key: missing.
    EXPECT_EQ(ReadMachineRegistryValue(key, "DLL"), std::nullopt);
    WriteFile(dir / "win.ini", "[intl]\nsLanguage=enu\n");
    EXPECT_EQ(ReadMachineRegistryValue(key, "DLL"), std::nullopt);
    // The key exists, the value is empty: empty, not missing.
    WriteFile(dir / "win.ini", "[software\\kestrelworks\\mssql]\nDLL=\n");
    EXPECT_EQ(ReadMachineRegistryValue(key, "DLL"), std::optional<std::string>(""));
    EXPECT_EQ(ReadMachineRegistryValue(key, "Other"), std::nullopt);
    WriteFile(dir / "win.ini", "[Software\\Kestrelworks\\MSSQL]\ndll=PostgreSQL Unicode\n");
    EXPECT_EQ(ReadMachineRegistryValue(key, "DLL"), std::optional<std::string>("PostgreSQL Unicode"));
    EXPECT_EQ(ReadMachineRegistryValue(key, "DLL", 10), std::optional<std::string>("PostgreSQL"));
}

TEST(ComputerName, OverrideAndCut) {
    {
        ScopedEnv unset("DRIVETREK_COMPUTERNAME", nullptr);
        char host[256] = {};
        ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
        EXPECT_EQ(ComputerName(), std::string(host));
        // An empty override counts as none.
        ScopedEnv empty("DRIVETREK_COMPUTERNAME", "");
        EXPECT_EQ(ComputerName(), std::string(host));
    }
    ScopedEnv e("DRIVETREK_COMPUTERNAME", "WORKSTATION-WITH-A-VERY-LONG-NAME-0123456789");
    EXPECT_EQ(ComputerName(), "WORKSTATION-WITH-A-VERY-LONG-NAME-0123456789");

    // The application's buffer: 33 bytes, size 32. Guard bytes around it must stay as they are.
    char guard[40];
    std::memset(guard, '#', sizeof guard);
    char* buf = guard + 2;
    EXPECT_EQ(GetComputerName(buf, 32), 31);
    EXPECT_EQ(std::string(buf), "WORKSTATION-WITH-A-VERY-LONG-NA");
    for (std::size_t i = 34; i < sizeof guard; ++i) EXPECT_EQ(guard[i], '#') << i;
    EXPECT_EQ(guard[0], '#');
    EXPECT_EQ(guard[1], '#');

    // A short name fits whole; size 1 leaves only the NUL; size 0 writes nothing.
    ScopedEnv s("DRIVETREK_COMPUTERNAME", "PC1");
    char small[8];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(GetComputerName(small, sizeof small), 3);
    EXPECT_STREQ(small, "PC1");
    EXPECT_EQ(GetComputerName(small, 1), 0);
    EXPECT_STREQ(small, "");
    small[0] = '#';
    EXPECT_EQ(GetComputerName(small, 0), -1);
    EXPECT_EQ(small[0], '#');
    // A cut never splits a UTF-8 character.
    ScopedEnv u("DRIVETREK_COMPUTERNAME", "ab\xC3\xA9");
    EXPECT_EQ(GetComputerName(small, 4), 2);
    EXPECT_STREQ(small, "ab");
}

TEST(CurrentDirectory, AbsolutePaths) {
    std::string cwd = CurrentDirectory();
    ASSERT_FALSE(cwd.empty());
    EXPECT_EQ(cwd.front(), '/');
    EXPECT_EQ(AbsolutePath("/etc/x"), "/etc/x");
    EXPECT_EQ(AbsolutePath(""), "");
    EXPECT_EQ(AbsolutePath("a b/c"), (cwd == "/" ? "" : cwd) + "/a b/c");
}

// Processes whose parent is this process, from /proc/<pid>/stat.
int ChildCount() {
    int n = 0;
    const std::string me = std::to_string(::getpid());
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string name = e.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = ReadFile(e.path().string() + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        // ") S 1234 ..." : state, then the parent's pid
        std::istringstream rest(stat.substr(close + 1));
        std::string state, ppid;
        rest >> state >> ppid;
        if (ppid == me) ++n;
    }
    return n;
}

// A fake xdg-open first on PATH writes each argument it gets on a line of its own.
class Opener : public ::testing::Test {
  protected:
    void SetUp() override {
        out_ = dir_ / "args.txt";
        std::string script = dir_ / "xdg-open";
        WriteFile(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + out_ +
                              ".tmp'\nprintf '%s\\n' \"$#\" \"$PWD\" >> '" + out_ + ".tmp'\nmv '" + out_ +
                              ".tmp' '" + out_ + "'\n");
        ASSERT_EQ(::chmod(script.c_str(), 0700), 0);
        const char* old = std::getenv("PATH");
        path_ =
            std::make_unique<ScopedEnv>("PATH", (dir_.path() + ":" + (old ? old : "/usr/bin:/bin")).c_str());
    }
    // Waits (at most 10 s) for the fake program's report.
    std::string Report() {
        for (int i = 0; i < 1000; ++i) {
            if (::access(out_.c_str(), F_OK) == 0) return ReadFile(out_);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return "(no report)";
    }
    TempDir dir_;
    std::string out_;
    std::unique_ptr<ScopedEnv> path_;
};

TEST_F(Opener, PathArrivesAsOneAbsoluteArgument) {
    const std::string cwd = CurrentDirectory();
    const std::string odd = dir_ / "it's a file; $(touch pwned) `x`.txt";
    WriteFile(odd, "");
    ASSERT_TRUE(OpenWithAssociatedProgram(odd));
    EXPECT_EQ(Report(), odd + "\n1\n" + cwd + "\n");
    EXPECT_EQ(::access((dir_ / "pwned").c_str(), F_OK), -1);
    EXPECT_EQ(CurrentDirectory(), cwd);
}

TEST_F(Opener, RelativeNameWithLeadingDashBecomesAbsolute) {
    // The name is relative to the current directory, as the browse windows use it.
    const std::string before = CurrentDirectory();
    ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
    WriteFile("-n file.txt", "");
    const bool started = OpenWithAssociatedProgram("-n file.txt");
    const std::string cwd = CurrentDirectory();
    ASSERT_EQ(::chdir(before.c_str()), 0);
    ASSERT_TRUE(started);
    EXPECT_EQ(Report(), cwd + "/-n file.txt\n1\n" + cwd + "\n");
}

TEST_F(Opener, ChildIsReapedAndFailuresReported) {
    WriteFile(dir_ / "x.txt", "");
    ASSERT_TRUE(OpenWithAssociatedProgram(dir_ / "x.txt"));
    Report();
    // The background waiter reaps the child: soon no process (zombie or not) is ours.
    int children = -1;
    for (int i = 0; i < 500 && children != 0; ++i) {
        children = ChildCount();
        if (children != 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(children, 0);
    EXPECT_FALSE(OpenWithAssociatedProgram(""));
    EXPECT_FALSE(OpenWithAssociatedProgram(dir_ / "no such file.txt"));
    ScopedEnv none("PATH", (dir_ / "empty").c_str());
    EXPECT_FALSE(OpenWithAssociatedProgram(dir_ / "x.txt"));
}

}  // namespace
}  // namespace dt::platform
