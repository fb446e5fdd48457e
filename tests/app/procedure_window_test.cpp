// The base of the program's procedure windows, run offscreen inside the program frame over
// tables that only record their opens and closes: the order of the common steps around a
// window's own, the procedure's entry in the error manager, the window position kept in
// the settings, and what a start-up that fails on the way leaves open (nothing).
#include "app/procedure_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "framework/relation_manager.h"
#include "tests/app/app_support.h"
#include "ui/window.h"

namespace dt {
namespace {

using Log = std::vector<std::string>;

// A table that opens and closes nothing but the log.
class LoggedTable : public RelationManager {
  public:
    LoggedTable(std::string name, Log& log) : name_(std::move(name)), log_(log) {}
    Severity Open() override {
        log_.push_back("open " + name_);
        return SevQuiet;
    }
    Severity Close() override {
        log_.push_back("close " + name_);
        return SevQuiet;
    }

  private:
    std::string name_;
    Log& log_;
};

ui::WindowDef TestWindowDef() {
    ui::WindowDef d;
    d.title = "procedure";
    d.at = {10, 10, 160, 80};
    d.flags.resizable = true;
    d.Add(ui::ButtonDef("OK", {8, 8, 40, 14}));
    return d;
}

// A procedure window whose own steps log themselves and can be made to fail.
class TestProcedure final : public ProcedureWindow {
  public:
    TestProcedure(Log& log, std::vector<RelationManager* const*> tables)
        : ProcedureWindow("TestProc", 1), log_(log), WINDOW(std::make_unique<ui::Window>(TestWindowDef())) {
        UseWindows(*WINDOW, {WINDOW.get()});
        UseTables(std::move(tables));
    }

    int prepare_result = SevQuiet, set_up_result = SevQuiet;
    // What the error manager and the globals said while the procedure prepared its window.
    std::string name_in_prepare;
    BYTE request_in_prepare = 0, global_request_in_prepare = 99;
    // The window's position once it was restored.
    ui::Rect restored{};

  protected:
    int PrepareWindow() override {
        log_.push_back("prepare");
        name_in_prepare = GlobalErrors.CurrentProcedureName();
        request_in_prepare = REQUEST;
        global_request_in_prepare = GlobalRequest;
        return prepare_result;
    }
    int SetUpWindow() override {
        log_.push_back(WINDOW->IsOpen() ? "set up (open)" : "set up (closed)");
        // Shown before its position is restored, as the main window is.
        WINDOW->Display();
        return set_up_result;
    }
    int FinishStartup() override {
        log_.push_back("finish");
        restored = WINDOW->GetPosition(0);
        return SevQuiet;
    }
    int StartupFailed(int result) override {
        log_.push_back("failed " + std::to_string(result));
        return result;
    }
    void ReleaseTables() override { log_.push_back("release"); }
    void SaveLayout() override { log_.push_back("save layout"); }
    void OnWindowOpened() override {
        ProcedureWindow::OnWindowOpened();
        log_.push_back("opened");
        WINDOW->Post(ui::Event::CloseWindow);
    }

  private:
    Log& log_;

  public:
    std::unique_ptr<ui::Window> WINDOW;
};

class ProcedureWindowTest : public ::testing::Test {
  protected:
    test::RunDir run_;
    Log log_;
    LoggedTable a_{"A", log_}, b_{"B", log_};
    RelationManager* a_ptr_ = &a_;
    RelationManager* b_ptr_ = &b_;
    RelationManager* missing_ = nullptr;

    // Runs `body` inside the program frame, inside an outer procedure: every run must
    // leave the error manager as it found it.
    void InFrame(const std::function<void()>& body) {
        test::RunFrame([&] {
            GlobalErrors.EnterProcedure("Outer");
            body();
            EXPECT_EQ(GlobalErrors.CurrentProcedureName(), "Outer");
            GlobalErrors.LeaveProcedure();
        });
    }
};

TEST_F(ProcedureWindowTest, CommonStepsRunInTheirOrderAroundTheWindowsOwn) {
    std::string saved_x;
    BYTE request = 0, response = 7;
    InFrame([&] {
        TestProcedure w(log_, {&a_ptr_, &b_ptr_});
        GlobalRequest = RequestChange;
        GlobalResponse = 7;
        w.Run();
        EXPECT_EQ(w.name_in_prepare, "TestProc");
        request = w.request_in_prepare;
        EXPECT_EQ(w.global_request_in_prepare, 0);
        response = GlobalResponse;
        EXPECT_FALSE(w.WINDOW->IsOpen());
        EXPECT_EQ(w.FILESOPENED, 0);
        saved_x = GlobalIni.TryRead("TestProc", "XPos");
    });
    // The tables open before the window's own preparation and close, in the same order,
    // after the window's own release and before its layout is saved.
    const Log expected = {"open A", "open B",  "prepare", "set up (open)", "finish",
                          "opened", "release", "close A", "close B",       "save layout"};
    EXPECT_EQ(log_, expected);
    EXPECT_EQ(request, RequestChange);  // the caller's request, taken before it was cleared
    EXPECT_EQ(response, 0);
    EXPECT_FALSE(saved_x.empty());
}

TEST_F(ProcedureWindowTest, TheWindowComesBackWhereTheSettingsSayUnderItsName) {
    ui::Rect first{}, second{};
    InFrame([&] {
        GlobalIni.Write("TestProc", "Maximize", "No");
        GlobalIni.Write("TestProc", "XPos", "31");
        GlobalIni.Write("TestProc", "YPos", "27");
        GlobalIni.Write("TestProc", "Width", "190");
        GlobalIni.Write("TestProc", "Height", "95");
        TestProcedure w(log_, {});
        w.Run();
        first = w.restored;
        // What the run saved brings the next run back to the same place.
        TestProcedure again(log_, {});
        again.Run();
        second = again.restored;
    });
    EXPECT_EQ(first.x, 31);
    EXPECT_EQ(first.y, 27);
    EXPECT_EQ(first.w, 190);
    EXPECT_EQ(first.h, 95);
    EXPECT_EQ(second.x, first.x);
    EXPECT_EQ(second.y, first.y);
    EXPECT_EQ(second.w, first.w);
    EXPECT_EQ(second.h, first.h);
}

TEST_F(ProcedureWindowTest, AFailureBeforeTheWindowOpensClosesTheTablesItOpened) {
    std::string saved;
    BYTE response = 0;
    InFrame([&] {
        TestProcedure w(log_, {&a_ptr_, &b_ptr_});
        w.prepare_result = SevFatal;
        response = w.Run();
        EXPECT_FALSE(w.WINDOW->IsOpen());
        saved = GlobalIni.TryRead("TestProc", "Maximize");
    });
    const Log expected = {"open A", "open B", "prepare", "release", "close A", "close B"};
    EXPECT_EQ(log_, expected);
    EXPECT_EQ(response, ResponseCancelled);
    // A window that never opened has no position to keep.
    EXPECT_TRUE(saved.empty());
}

TEST_F(ProcedureWindowTest, AFailureOnceTheWindowIsOpenStillSavesItsPlace) {
    std::string saved;
    InFrame([&] {
        TestProcedure w(log_, {&a_ptr_});
        w.set_up_result = SevFatal;
        w.Run();
        EXPECT_FALSE(w.WINDOW->IsOpen());
        saved = GlobalIni.TryRead("TestProc", "Maximize");
    });
    // No loop ran: neither the finishing step nor the opened window's handler.
    const Log expected = {"open A", "prepare", "set up (open)", "release", "close A", "save layout"};
    EXPECT_EQ(log_, expected);
    EXPECT_EQ(saved, "No");
}

TEST_F(ProcedureWindowTest, AMissingTableOpensNoneAndClosesNone) {
    InFrame([&] {
        TestProcedure w(log_, {&a_ptr_, &missing_});
        w.Run();
        EXPECT_EQ(w.FILESOPENED, 0);
    });
    const Log expected = {"failed 3", "release"};
    EXPECT_EQ(log_, expected);
}

TEST_F(ProcedureWindowTest, AWindowThatWillNotOpenEndsTheStartupAndClosesTheTables) {
    InFrame([&] {
        TestProcedure w(log_, {&a_ptr_});
        // Open refuses a window that is open already.
        ASSERT_EQ(w.WINDOW->Open(), 0);
        ASSERT_NE(w.WINDOW->Open(), 0);
        w.Run();
        // The procedure's windows close with it, whoever opened them.
        EXPECT_FALSE(w.WINDOW->IsOpen());
    });
    const Log expected = {"open A", "prepare", "failed 3", "release", "close A"};
    EXPECT_EQ(log_, expected);
}

}  // namespace
}  // namespace dt
