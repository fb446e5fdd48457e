// The test-support library itself: a program's input, output, error and status arrive as
// given, a program that does not end is killed at its limit, variables reach the program
// only, and a temporary directory goes with whatever a test left in it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/support/env.h"
#include "tests/support/postgres.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace dt::test {
namespace {

TEST(Process, InputOutputErrorAndStatusArriveApart) {
    ProcessOptions o;
    o.input = "line one\nline two\n";
    const ProcessResult r = RunProcess({"sh", "-c", "cat; echo oops >&2; exit 3"}, o);
    EXPECT_EQ(r.status, 3);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, "line one\nline two\n");
    EXPECT_EQ(r.err, "oops\n");
    EXPECT_FALSE(r.Ok());
}

TEST(Process, ASignalIsReportedAbove128AndAMissingProgramAs127) {
    EXPECT_EQ(RunProcess({"sh", "-c", "kill -TERM $$"}).status, 128 + 15);
    EXPECT_EQ(RunProcess({"/nonexistent/program"}).status, 127);
}

TEST(Process, AProgramThatDoesNotEndIsKilledAtItsLimit) {
    ProcessOptions o;
    o.limit = std::chrono::milliseconds(200);
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult r = RunProcess({"sleep", "30"}, o);
    EXPECT_TRUE(r.timed_out);
    EXPECT_EQ(r.status, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(Process, VariablesAndDirectoryAreTheProgramsOnly) {
    TempDir dir;
    ScopedEnv outer("DT_SUPPORT_TEST_VAR", "outer");
    ProcessOptions o;
    o.env = {{"DT_SUPPORT_TEST_VAR", "inner"}, {"DT_SUPPORT_TEST_NEW", "new"}};
    o.directory = dir.path();
    const ProcessResult r =
        RunProcess({"sh", "-c", "echo \"$DT_SUPPORT_TEST_VAR $DT_SUPPORT_TEST_NEW\"; pwd -P"}, o);
    EXPECT_EQ(r.out, "inner new\n" + std::filesystem::canonical(dir.path()).string() + "\n");
    EXPECT_EQ(Env("DT_SUPPORT_TEST_VAR"), "outer");
    EXPECT_EQ(Env("DT_SUPPORT_TEST_NEW"), "");
}

TEST(Process, OutputCanGoToAFileAndInputComeFromOne) {
    TempDir dir;
    WriteFile(dir / "in.txt", "from a file\n");
    ProcessOptions o;
    o.input_file = dir / "in.txt";
    o.out_file = dir / "out.txt";
    const ProcessResult r = RunProcess({"cat"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "") << "not captured as well";
    EXPECT_EQ(ReadFile(dir / "out.txt"), "from a file\n");
}

TEST(TempDir, GoesWithUnreadableDirectoriesInside) {
    std::string path;
    {
        TempDir dir("dt-support-test-");
        path = dir.path();
        ASSERT_FALSE(path.empty());
        std::filesystem::create_directories(dir / "a/locked/inner");
        WriteFile(dir / "a/locked/inner/f.txt", "x");
        ASSERT_EQ(::chmod((dir / "a/locked").c_str(), 0), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(TempWorkDir, IsTheCurrentDirectoryWhileItLives) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::path inside;
    {
        TempWorkDir work;
        inside = std::filesystem::current_path();
        EXPECT_EQ(inside, work.path());
    }
    EXPECT_EQ(std::filesystem::current_path(), before);
    EXPECT_FALSE(std::filesystem::exists(inside));
}

TEST(PgServer, NeedsHostPortAndUser) {
    ScopedEnv host("DRIVETREK_TEST_PG_HOST", "127.0.0.1");
    ScopedEnv port("DRIVETREK_TEST_PG_PORT", "5432");
    ScopedEnv db("DRIVETREK_TEST_PG_DATABASE", nullptr);
    {
        ScopedEnv user("DRIVETREK_TEST_PG_USER", nullptr);
        EXPECT_FALSE(PgServer::FromEnvironment());
    }
    ScopedEnv user("DRIVETREK_TEST_PG_USER", "someone");
    ScopedEnv pass("DRIVETREK_TEST_PG_PASSWORD", "pw");
    const std::optional<PgServer> s = PgServer::FromEnvironment();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->database, "postgres");
    EXPECT_EQ(s->Owner("files", "PC"), "127.0.0.1:5432,files,someone,pw;APP=DRIVETREK;WSID=PC");
    EXPECT_NE(UniqueDatabaseName("dt"), UniqueDatabaseName("dt"));
}

}  // namespace
}  // namespace dt::test
