// The program frame's pieces without a database or window. Unattended runs never wait:
// with SILENT set, the program's error manager writes a notice to standard error and goes
// on, and ends the program on a question or a fatal error with the text on standard error
// and a non-zero status (death tests: the process really ends). The "/S" switch, and the
// master database and maintenance drop of each server kind.
#include <gtest/gtest.h>

#include "app/dialect.h"
#include "app/program.h"
#include "app/unattended.h"

namespace dt {
namespace {

class UnattendedErrors : public ::testing::Test {
  protected:
    void SetUp() override {
        errors_.Startup("/dev/null");
        errors_.SetHaltHandler(&HaltProgram);
        errors_.SILENT = 1;
        errors_.NoteFileName("FILES");
    }
    void TearDown() override {
        errors_.SetHaltHandler(nullptr);
        errors_.Shutdown();
    }
    ProgramErrorManager errors_;
};

TEST_F(UnattendedErrors, NoticeGoesToStandardErrorAndTheRunGoesOn) {
    ::testing::internal::CaptureStderr();
    const int result = errors_.Raise(4);  // "Record Insert Error", a notice
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, SevNotify);
    EXPECT_NE(err.find("Record Insert Error: "), std::string::npos) << err;
    EXPECT_NE(err.find("FILES"), std::string::npos) << err;
}

TEST_F(UnattendedErrors, QuestionEndsTheProgram) {
    EXPECT_EXIT((void)errors_.Raise(8), ::testing::ExitedWithCode(kUnattendedFailure),
                "Changes will be lost!: Are you sure you want to cancel\\?");
    EXPECT_EXIT(errors_.Prompt(9, Button::Yes | Button::No, Button::No),
                ::testing::ExitedWithCode(kUnattendedFailure), "cannot be answered");
}

TEST_F(UnattendedErrors, FatalErrorEndsTheProgramWithItsText) {
    EXPECT_EXIT((void)errors_.Raise(23), ::testing::ExitedWithCode(kUnattendedFailure),
                "File Access Error: File FILES could not be opened");
}

TEST(UnattendedText, BarsBecomeLinesAfterTheCaption) {
    EXPECT_EQ(StderrText("create database", "Database X not exist.|Create database on S ?"),
              "create database: Database X not exist.\nCreate database on S ?");
    EXPECT_EQ(StderrText("", "ok!"), "ok!");
}

TEST(CommandLine, ScanSwitchInAnyCaseAndPosition) {
    char p[] = "drivetrek", s[] = "/s", x[] = "-x", t[] = "/Scan";
    char* with[] = {p, x, s, nullptr};
    char* without[] = {p, t, x, nullptr};
    EXPECT_TRUE(HasScanSwitch(3, with));
    EXPECT_FALSE(HasScanSwitch(3, without)) << "a word that starts with /S is no switch";
    EXPECT_FALSE(HasScanSwitch(1, with));
}

// PostgreSQL has no database "master": its database list is read in "postgres"; the
// kind is known from the driver's name before anything is connected.
TEST(MasterDatabase, EachKindHasItsOwnAndItsOwnDrop) {
    EXPECT_EQ(KindOfDriverName("PostgreSQL Unicode"), ServerKind::PostgreSQL);
    EXPECT_EQ(KindOfDriverName("SQLite3"), ServerKind::Embedded);
    EXPECT_EQ(KindOfDriverName("SQL Server"), ServerKind::SqlServer);
    EXPECT_EQ(KindOfDriverName("FreeTDS"), ServerKind::SqlServer);
    EXPECT_EQ(DialectOf(ServerKind::PostgreSQL).MasterDatabase(), "postgres");
    EXPECT_EQ(DialectOf(ServerKind::SqlServer).MasterDatabase(), "master");
    EXPECT_EQ(DialectOf(ServerKind::Embedded).MasterDatabase(), "master");
    // SQL Server keeps its own statement over the application's connection; the others
    // cannot name another database and drop over the master connection.
    EXPECT_EQ(DialectOf(ServerKind::SqlServer).DropMasterFiles(), "drop table master.dbo.files");
    EXPECT_FALSE(DialectOf(ServerKind::SqlServer).DropThroughMaster());
    EXPECT_TRUE(DialectOf(ServerKind::PostgreSQL).DropThroughMaster());
    EXPECT_TRUE(DialectOf(ServerKind::Embedded).DropThroughMaster());
}

}  // namespace
}  // namespace dt
