// ErrorManager without the window layer: what nobody can answer goes to standard error and
// takes the default answer, and threads are told apart by the runtime thread number the
// window layer records (or a number of the manager's own).
#include "framework/error_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "runtime/thread_number.h"

namespace dt {
namespace {

class ErrorManagerWithoutWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        errors.Startup("/dev/null");
        errors.SetHaltHandler([this](const HaltRequest& r) { halts.push_back(r.halt_text); });
    }
    ErrorManager errors;
    std::vector<std::string> halts;
};

TEST_F(ErrorManagerWithoutWindows, ABoxGoesToStandardErrorAndTakesTheDefault) {
    ::testing::internal::CaptureStderr();
    const int pressed =
        errors.ShowBox("Disk full", "Scan", ICON_EXCLAMATION, Button::Yes | Button::No, Button::No, 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(pressed, Button::No);
    EXPECT_EQ(err, "Scan: Disk full\n");
}

TEST_F(ErrorManagerWithoutWindows, RaisedMessagesReachStandardErrorWithTheirText) {
    errors.NoteFileName("FILES");
    ::testing::internal::CaptureStderr();
    // 8 asks "Changes will be lost!" with Yes as the default: nobody answers, so Yes.
    EXPECT_EQ(errors.Raise(Msg::ConfirmCancel), SevQuiet);
    // 4 is a notice that names the file noted for it.
    EXPECT_EQ(errors.Raise(4), SevNotify);
    EXPECT_EQ(errors.Prompt(Msg::DeleteError, Button::Yes | Button::No | Button::Cancel, Button::Cancel),
              Button::Cancel);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Changes will be lost!: Are you sure you want to cancel?\n", 0), 0u) << err;
    EXPECT_NE(
        err.find(
            "Record Insert Error: An error was experienced during the creation of a record.|File: FILES|"),
        std::string::npos)
        << err;
    EXPECT_NE(err.find("Record Delete Error: "), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3) << err;
    EXPECT_TRUE(halts.empty());
}

TEST_F(ErrorManagerWithoutWindows, TheHistoryDialogFallsBackToABox) {
    errors.HISTORYTHRESHOLD = 10;
    errors.HISTORYVIEWLEVEL = SevNotify;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(errors.ShowHistory(), Button::Ok);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Errors History: \n");
}

TEST_F(ErrorManagerWithoutWindows, ThreadsAreToldApartByTheirRuntimeNumber) {
    // A thread the window layer did not number gets a number of the manager's own.
    std::string seen_unnumbered, seen_numbered, seen_after;
    LONG own = 0, numbered = 0;
    std::thread([&] {
        own = CurrentThreadNumber();
        errors.EnterProcedure("Walk");
        seen_unnumbered = errors.CurrentProcedureName();
        SetRuntimeThreadNumber(7);
        numbered = CurrentThreadNumber();
        // The name was entered under the thread's own number, not under runtime thread 7.
        seen_numbered = errors.CurrentProcedureName();
        errors.EnterProcedure("Browse");
        SetRuntimeThreadNumber(0);
        seen_after = errors.CurrentProcedureName();
        errors.LeaveProcedure();
    }).join();
    EXPECT_GE(own, 1'000'001);
    EXPECT_EQ(numbered, 7);
    EXPECT_EQ(seen_unnumbered, "Walk");
    EXPECT_EQ(seen_numbered, "");
    EXPECT_EQ(seen_after, "Walk");
    // Runtime thread 7's entry is still there for whichever thread carries that number.
    std::string seen_seven;
    std::thread([&] {
        SetRuntimeThreadNumber(7);
        seen_seven = errors.CurrentProcedureName();
        errors.LeaveProcedure();
        SetRuntimeThreadNumber(0);
    }).join();
    EXPECT_EQ(seen_seven, "Browse");
    EXPECT_EQ(errors.CurrentProcedureName(), "");
}

}  // namespace
}  // namespace dt
