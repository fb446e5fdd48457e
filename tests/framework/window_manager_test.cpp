// WindowManager over a scripted window, a fake error manager and a fake table: event
// dispatch order, the loop's results, buttons and the OK button, the update form's insert,
// change and delete routines, the close request, PrepareUpdate and refresh rules.
#include "framework/window_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>

#include "fake_window_port.h"
#include "framework/window_resizer.h"

namespace dt {
namespace {

using testing::FakeWindowPort;

// Answers questions from a script (default: the default button / Yes) and logs them.
struct FakeErrors : ErrorManagerInterface {
    std::deque<int> answers;
    std::vector<std::string> log;
    int Next(int fallback) {
        if (answers.empty()) return fallback;
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    Severity Raise(USHORT id) override {
        log.push_back("Raise " + std::to_string(id));
        return ToSeverity(Next(SevQuiet));
    }
    Severity RaiseWithText(USHORT id, std::string_view) override { return Raise(id); }
    int Prompt(USHORT id, int buttons, int def) override {
        log.push_back("Prompt " + std::to_string(id) + " " + std::to_string(buttons) + " " +
                      std::to_string(def));
        return Next(def);
    }
    void EnterProcedure(std::string_view) override {}
    void LeaveProcedure() override {}
    std::string CurrentProcedureName() override { return {}; }
};

// A table with a one-number record buffer and saved copies of it.
struct FakeFile : FileManagerInterface {
    int record = 0;
    std::map<USHORT, int> saved;
    USHORT next_id = 0;
    std::vector<std::string> log;
    int insert_result = 0, prime_result = 0, use_result = 0;
    long position = 0;

    Severity UseFile(BYTE) override { return ToSeverity(use_result); }
    Severity Insert() override {
        log.push_back("Insert " + std::to_string(record));
        if (insert_result == 0) position = record;
        return ToSeverity(insert_result);
    }
    Severity PrimeRecord(BYTE keep) override {
        log.push_back("Prime");
        if (!keep) record = 0;
        return ToSeverity(prime_result);
    }
    BYTE EqualBuffer(USHORT id) override { return saved.count(id) && saved[id] == record; }
    USHORT SaveBuffer() override {
        saved[++next_id] = record;
        return next_id;
    }
    void RestoreBuffer(USHORT& id, BYTE restore) override {
        log.push_back(std::string(restore ? "Restore " : "Release ") + std::to_string(id));
        if (restore && saved.count(id)) record = saved[id];
        saved.erase(id);
        id = 0;
    }
    std::string Position() override { return std::to_string(position); }
    Severity TryReget(std::string_view pos) override {
        log.push_back("Reget " + std::string(pos));
        record = std::stoi(std::string(pos));
        return SevQuiet;
    }
};

struct FakeRelation : RelationManagerInterface {
    FakeFile file;
    std::deque<int> update_results, delete_results;
    int cancel_result = 0;
    std::vector<std::string> log;
    FileManagerInterface& Manager() override { return file; }
    Severity CancelInsert() override {
        log.push_back("CancelInsert");
        return ToSeverity(cancel_result);
    }
    Severity Delete(BYTE ask) override {
        log.push_back("Delete " + std::to_string(ask));
        int r = delete_results.empty() ? 0 : delete_results.front();
        if (!delete_results.empty()) delete_results.pop_front();
        return ToSeverity(r);
    }
    void PrepareRelated() override { log.push_back("PrepareRelated"); }
    Severity Update(BYTE mode) override {
        log.push_back("Update " + std::to_string(mode));
        int r = update_results.empty() ? 0 : update_results.front();
        if (!update_results.empty()) update_results.pop_front();
        return ToSeverity(r);
    }
};

struct FakeComponent : WindowComponent {
    std::string name;
    std::vector<std::string>* log;
    int result = 0;
    BYTE needs = 0;
    FakeComponent(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
    void Discard() override { log->push_back(name + ".Discard"); }
    void Refresh(BYTE force) override { log->push_back(name + ".Refresh " + std::to_string(force)); }
    BYTE NeedsRefresh() override {
        log->push_back(name + ".NeedsRefresh");
        return needs;
    }
    void ArmAlerts() override { log->push_back(name + ".ArmAlerts"); }
    int HandleEvent(const WindowEvent&) override {
        log->push_back(name + ".HandleEvent");
        return result;
    }
    void SaveToRecord() override { log->push_back(name + ".SaveToRecord"); }
    void RepaintWindow() override { log->push_back(name + ".Repaint"); }
};

// Logs the handlers it passes through.
class TestWindow : public WindowManager {
  public:
    std::vector<std::string>* log;
    int startup_result = 0;
    bool refuse_insert = false;
    explicit TestWindow(std::vector<std::string>* l) : log(l) {}
    using WindowManager::AfterUnwritten;
    using WindowManager::NotifyIs;
    using WindowManager::RetryWithPrompt;
    using WindowManager::WriteOutcome;
    int Startup() override {
        int r = WindowManager::Startup();
        return r != 0 ? r : startup_result;
    }
    int OnAccepted() override {
        log->push_back("OnAccepted " + std::to_string(CurrentEvent().field));
        return WindowManager::OnAccepted();
    }
    int OnFieldEvent() override {
        log->push_back("OnFieldEvent");
        return WindowManager::OnFieldEvent();
    }
    int OnWindowEvent() override {
        log->push_back("OnWindowEvent");
        return WindowManager::OnWindowEvent();
    }
    void OnWindowOpened() override {
        log->push_back("OnWindowOpened");
        WindowManager::OnWindowOpened();
    }
    void PrimeNewRecord() override {
        log->push_back("PrimeNewRecord");
        if (refuse_insert) RESPONSE = ResponseCancelled;
    }
};

class Manager : public ::testing::Test {
  protected:
    FakeWindowPort port;
    FakeErrors errors;
    FakeRelation table;
    std::vector<std::string> log;
    TestWindow w{&log};
    FakeComponent a{"a", &log}, b{"b", &log};

    void SetUp() override {
        w.SetWindow(port);
        w.ERRORS = &errors;
    }
    // An update form over the fake table, set up as a derived form's Startup would.
    void Form(BYTE request, int record = 10) {
        table.file.record = record;
        w.REQUEST = request;
        w.Startup();
        w.PRIMARY = &table;
        w.OKCONTROL = 9;
        w.FIRSTFIELD = 2;
    }
    bool Posted(Event e, LONG control = 0) {
        for (auto& p : port.posted)
            if (p.first == e && p.second == control) return true;
        return false;
    }
};

TEST_F(Manager, StartupDefaultsAndRunResponse) {
    EXPECT_EQ(w.Startup(), 0);
    EXPECT_EQ(w.INSERTACTION, 2);
    EXPECT_EQ(w.DELETEACTION, 2);
    EXPECT_EQ(w.CHANGEACTION, 1);
    EXPECT_EQ(w.CANCELACTION, 3);
    EXPECT_EQ(w.AUTOTOOLBAR, 1);
    EXPECT_EQ(w.AUTOREFRESH, 1);
    EXPECT_TRUE(w.LASTINSERTEDPOSITION.IsBlank());
    EXPECT_EQ(w.Shutdown(), 0);
    EXPECT_EQ(w.Shutdown(), SevNotify);  // already dead

    // A refused Startup skips the loop, still shuts down, and reports 2.
    TestWindow refused(&log);
    refused.SetWindow(port);
    refused.startup_result = 3;
    port.Queue(Event::OpenWindow);
    EXPECT_EQ(refused.Run(), ResponseCancelled);
    EXPECT_EQ(port.taken, 0);
    EXPECT_EQ(refused.DEAD, 1);
}

TEST_F(Manager, DispatchOrderForAFieldEvent) {
    w.Startup();
    w.AddComponent(a);
    w.AddComponent(b);
    b.needs = 1;
    port.Queue(Event::Accepted, 5);
    w.EventLoop();
    std::vector<std::string> expected = {"OnAccepted 5",   "OnFieldEvent",   "a.HandleEvent", "b.HandleEvent",
                                         "a.NeedsRefresh", "b.NeedsRefresh", "a.Refresh 0",   "b.Refresh 0",
                                         "a.Repaint",      "b.Repaint"};
    EXPECT_EQ(log, expected);
    // A component that handles the event hides it from the later ones and from the refresh.
    log.clear();
    a.result = 7;
    port.Queue(Event::Selected, 5);
    w.EventLoop();
    expected = {"OnFieldEvent", "a.HandleEvent"};
    EXPECT_EQ(log, expected);
    // AUTOREFRESH off: nobody is asked.
    log.clear();
    a.result = 0;
    w.AUTOREFRESH = 0;
    port.Queue(Event::Timer);
    w.EventLoop();
    expected = {"OnWindowEvent", "a.HandleEvent", "b.HandleEvent"};
    EXPECT_EQ(log, expected);
    // Removing a component takes every entry of it off.
    w.AddComponent(a);
    w.RemoveComponent(a);
    EXPECT_EQ(w.CL->Records(), 1u);
}

TEST_F(Manager, LoopResults) {
    w.Startup();
    w.AddComponent(a);
    a.result = SevNotify;
    port.Queue(Event::Accepted, 1);
    a.needs = 0;
    w.EventLoop();
    EXPECT_EQ(port.log, std::vector<std::string>{"Cycle"});
    // SevFatal leaves the loop: the second event stays untaken.
    a.result = SevFatal;
    port.Queue(Event::Accepted, 1);
    port.Queue(Event::Accepted, 2);
    w.EventLoop();
    EXPECT_EQ(port.events.size(), 1u);
    // A dead window takes no event at all.
    port.events.clear();
    port.Queue(Event::Accepted, 1);
    w.DEAD = 1;
    int taken = port.taken;
    w.EventLoop();
    EXPECT_EQ(port.taken, taken);
}

TEST_F(Manager, WindowEvents) {
    w.Startup();
    w.FIRSTFIELD = 4;
    w.AddComponent(a);
    port.Queue(Event::OpenWindow);
    port.Queue(Event::OpenWindow);
    port.Queue(Event::Sized);
    w.EventLoop();
    EXPECT_EQ(std::count(log.begin(), log.end(), "OnWindowOpened"), 1);
    EXPECT_EQ(w.INITED, 3);
    EXPECT_EQ(port.focus, 4);
    // The first size event only marks; the next refreshes.
    log.clear();
    port.Queue(Event::Sized);
    w.EventLoop();
    EXPECT_EQ(std::count(log.begin(), log.end(), "a.Refresh 0"), 1);
    // Losing the focus with RESETONGAINFOCUS makes the next refresh a full one.
    log.clear();
    w.RESETONGAINFOCUS = 1;
    w.AUTOREFRESH = 0;
    port.Queue(Event::LoseFocus);
    port.Queue(Event::GainFocus);
    w.EventLoop();
    EXPECT_EQ(std::count(log.begin(), log.end(), "a.Refresh 1"), 1);
    EXPECT_EQ(w.FORCEDRESET, 0);
}

TEST_F(Manager, RefreshIsSkippedDuringValidateAll) {
    w.Startup();
    w.AddComponent(a);
    port.accept_all_running = true;
    w.Refresh(1);
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(port.log.empty());
    port.accept_all_running = false;
    w.Refresh(1);
    EXPECT_EQ(log.front(), "a.Refresh 1");
    EXPECT_EQ(port.log.back(), "Display 0");
}

TEST_F(Manager, ButtonsAndOkControl) {
    w.Startup();
    w.AddButton(6, ResponseCompleted);
    w.OKCONTROL = 9;
    port.Queue(Event::Accepted, 6);
    w.EventLoop();
    EXPECT_EQ(w.RESPONSE, ResponseCompleted);
    EXPECT_TRUE(Posted(Event::CloseWindow));
    // The button's event was complete: the layer's own handling is skipped.
    EXPECT_EQ(port.log[1], "Cycle");

    // OK on a form that is neither insert nor change posts Completed.
    port.log.clear();
    port.posted.clear();
    port.events.clear();
    port.Queue(Event::Accepted, 9);
    w.EventLoop();
    EXPECT_TRUE(Posted(Event::Completed));
    // OK on a change form validates every control instead.
    TestWindow form(&log);
    form.SetWindow(port);
    form.REQUEST = RequestChange;
    form.Startup();
    form.OKCONTROL = 9;
    port.log.clear();
    port.Queue(Event::Accepted, 9);
    form.EventLoop();
    EXPECT_EQ(port.log.front(), "SelectAll");
}

TEST_F(Manager, RejectedBeepsAndReselects) {
    w.Startup();
    port.Queue(Event::Rejected, 3);
    w.EventLoop();
    std::vector<std::string> expected = {"Beep", "Display 3", "Select 3"};
    EXPECT_EQ(port.log, expected);
}

TEST_F(Manager, ChangeFormWithoutEditsCompletesWithoutWriting) {
    Form(RequestChange);
    w.SAVED = table.file.SaveBuffer();
    EXPECT_EQ(w.OnCompleted(), 0);
    EXPECT_EQ(w.RESPONSE, ResponseCompleted);
    EXPECT_TRUE(table.log.empty());
    EXPECT_TRUE(Posted(Event::CloseWindow));
    // With a pending toolbar navigation request the response stays 2.
    struct Bar : ToolbarInterface {
        void SetWindow(WindowManager&) override {}
        void TakeAccepted(LONG, LONG*) override {}
        void Kill() override {}
    } bar;
    LONG vcr = 3;
    w.SetToolbar(bar);
    w.VCRREQUEST = &vcr;
    w.OnCompleted();
    EXPECT_EQ(w.RESPONSE, ResponseCancelled);
}

TEST_F(Manager, ChangeFailureRetriesAtTheUsersChoice) {
    Form(RequestChange);
    w.SAVED = table.file.SaveBuffer();
    table.file.record = 11;
    w.HISTORYKEY = 0x71;
    table.update_results = {1, 1};
    errors.answers = {Button::Yes, Button::Cancel};
    EXPECT_EQ(w.OnCompleted(), SevNotify);
    std::vector<std::string> expected = {"Update 1", "Update 1"};
    EXPECT_EQ(table.log, expected);
    ASSERT_EQ(errors.log.size(), 2u);
    EXPECT_EQ(errors.log[0], "Prompt 34 70 64");
    EXPECT_EQ(port.focus, 2);
    EXPECT_EQ(w.RESPONSE, ResponseCancelled);
    EXPECT_FALSE(Posted(Event::CloseWindow));
    // No closes the form.
    table.update_results = {1};
    errors.answers = {Button::No};
    EXPECT_EQ(w.OnCompleted(), 0);
    EXPECT_TRUE(Posted(Event::CloseWindow));
    // A collision was shown already: no question, the form stays on the first field.
    port.posted.clear();
    errors.log.clear();
    table.update_results = {SevNotify};
    EXPECT_EQ(w.OnCompleted(), SevNotify);
    EXPECT_TRUE(errors.log.empty());
    EXPECT_FALSE(Posted(Event::CloseWindow));
    // Success: completed.
    table.update_results = {0};
    EXPECT_EQ(w.OnCompleted(), 0);
    EXPECT_EQ(w.RESPONSE, ResponseCompleted);
}

// The retry loop shared by the change and delete routines, over a scripted write.
class Retry : public Manager {
  protected:
    std::deque<int> results;  // what each try returns (then success)
    int tries = 0;
    TestWindow::WriteOutcome Write(USHORT question,
                                   TestWindow::NotifyIs notify = TestWindow::NotifyIs::Failure) {
        return w.RetryWithPrompt(question, notify, [&] {
            ++tries;
            // Every try starts from a cancelled response, whatever the one before left.
            EXPECT_EQ(w.RESPONSE, ResponseCancelled);
            w.RESPONSE = ResponseCompleted;
            const int r = results.empty() ? SevQuiet : results.front();
            if (!results.empty()) results.pop_front();
            return r;
        });
    }
};

TEST_F(Retry, FailuresAnsweredYesAreTriedAgainUntilTheWriteSucceeds) {
    w.Startup();
    results = {1, SevNotify};
    errors.answers = {Button::Yes, Button::Yes};
    EXPECT_EQ(Write(Msg::UpdateError), TestWindow::WriteOutcome::Written);
    EXPECT_EQ(tries, 3);
    const std::vector<std::string> asked = {"Prompt 34 70 64", "Prompt 34 70 64"};
    EXPECT_EQ(errors.log, asked);
    // The busy cursor covers each try and only the try: never the question.
    const std::vector<std::string> cursor = {"Busy", "Arrow", "Busy", "Arrow", "Busy", "Arrow"};
    EXPECT_EQ(port.log, cursor);
    // The window stays: closing it is the caller's business.
    EXPECT_TRUE(port.posted.empty());
}

TEST_F(Retry, CancelNoAndOtherAnswersEndWithTheFailure) {
    w.Startup();
    results = {1};
    errors.answers = {Button::Cancel};
    EXPECT_EQ(Write(Msg::DeleteError), TestWindow::WriteOutcome::Kept);
    EXPECT_EQ(tries, 1);
    EXPECT_EQ(errors.log, std::vector<std::string>{"Prompt 33 70 64"});
    EXPECT_EQ(w.RESPONSE, ResponseCompleted);  // as the failed try left it
    // No: the record is given up.
    tries = 0;
    results = {1, 1};
    errors.answers = {Button::Yes, Button::No};
    EXPECT_EQ(Write(Msg::DeleteError), TestWindow::WriteOutcome::Abandoned);
    EXPECT_EQ(tries, 2);
    // A button the question does not offer counts as Cancel.
    results = {1};
    errors.answers = {Button::Ok};
    EXPECT_EQ(Write(Msg::DeleteError), TestWindow::WriteOutcome::Kept);
    // Nobody to ask: one try, no question.
    w.ERRORS = nullptr;
    errors.log.clear();
    tries = 0;
    results = {1};
    EXPECT_EQ(Write(Msg::DeleteError), TestWindow::WriteOutcome::Kept);
    EXPECT_EQ(tries, 1);
    EXPECT_TRUE(errors.log.empty());
    EXPECT_TRUE(port.posted.empty());
}

TEST_F(Retry, ACollisionIsNotAskedAboutWhereTheWriteShowsIt) {
    w.Startup();
    results = {SevNotify};
    EXPECT_EQ(Write(Msg::UpdateError, TestWindow::NotifyIs::Collision), TestWindow::WriteOutcome::Shown);
    EXPECT_EQ(tries, 1);
    EXPECT_TRUE(errors.log.empty());
    // Any other failure of the same write is asked about.
    results = {1};
    errors.answers = {Button::Cancel};
    EXPECT_EQ(Write(Msg::UpdateError, TestWindow::NotifyIs::Collision), TestWindow::WriteOutcome::Kept);
    EXPECT_EQ(errors.log.size(), 1u);
    // After an unwritten record: No closes the window, the others go back to the form.
    w.FIRSTFIELD = 4;
    EXPECT_EQ(w.AfterUnwritten(TestWindow::WriteOutcome::Shown), SevNotify);
    EXPECT_EQ(port.focus, 4);
    EXPECT_TRUE(port.posted.empty());
    EXPECT_EQ(w.AfterUnwritten(TestWindow::WriteOutcome::Abandoned), SevQuiet);
    EXPECT_TRUE(Posted(Event::CloseWindow));
}

TEST_F(Manager, InsertActions) {
    Form(RequestInsert, 5);
    ASSERT_EQ(w.PrepareUpdate(), 0);
    EXPECT_EQ(w.RESPONSE, ResponseCancelled);
    // Failure keeps the form open on its first field.
    table.file.insert_result = SevNotify;
    EXPECT_EQ(w.OnCompleted(), SevNotify);
    EXPECT_EQ(port.focus, 2);
    EXPECT_FALSE(Posted(Event::CloseWindow));
    // INSERTACTION 2: done.
    table.file.insert_result = 0;
    EXPECT_EQ(w.OnCompleted(), 0);
    EXPECT_EQ(w.RESPONSE, ResponseCompleted);
    EXPECT_TRUE(Posted(Event::CloseWindow));
    // INSERTACTION 4 answered No: done, without another record.
    port.posted.clear();
    w.RESPONSE = ResponseCancelled;
    w.INSERTACTION = 4;
    errors.answers = {SevCancel};
    EXPECT_EQ(w.OnCompleted(), 0);
    EXPECT_EQ(errors.log.back(), "Raise 3");
    EXPECT_EQ(w.RESPONSE, ResponseCompleted);
}

TEST_F(Manager, InsertAnotherThenCloseReportsTheLastRecord) {
    Form(RequestInsert, 0);
    w.INSERTACTION = 3;
    FakeFile related;
    related.record = 77;
    w.AddRelatedFile(related);
    ASSERT_EQ(w.PrepareUpdate(), 0);
    for (int value : {41, 42}) {
        table.file.record = value;
        related.record = 1;  // edited by the form
        EXPECT_EQ(w.OnCompleted(), SevNotify);
        EXPECT_EQ(w.RESPONSE, ResponseCancelled);
        EXPECT_EQ(table.file.record, 0);  // primed afresh
        EXPECT_EQ(related.record, 77);    // back to the saved state
        EXPECT_EQ(port.focus, 2);
    }
    EXPECT_EQ(w.LASTINSERTEDPOSITION.Str(), "42");
    EXPECT_FALSE(Posted(Event::CloseWindow));
    // Closing without edits: the insert preparation is undone, the last record re-read.
    EXPECT_EQ(w.OnCloseRequest(), 0);
    EXPECT_EQ(table.log.back(), "CancelInsert");
    EXPECT_EQ(w.RESPONSE, ResponseCompleted);
    EXPECT_EQ(table.file.log.back(), "Reget 42");
    EXPECT_EQ(table.file.record, 42);
    // Shutdown releases every saved buffer without restoring.
    w.Shutdown();
    EXPECT_TRUE(table.file.saved.empty());
    EXPECT_TRUE(related.saved.empty());
    EXPECT_EQ(related.record, 77);
}

TEST_F(Manager, PrepareUpdateRefusalsAndImmediateDelete) {
    Form(RequestInsert);
    w.refuse_insert = true;
    EXPECT_EQ(w.PrepareUpdate(), SevFatal);
    EXPECT_EQ(table.log.front(), "PrepareRelated");

    TestWindow del(&log);
    del.SetWindow(port);
    del.REQUEST = RequestDelete;
    del.Startup();
    del.PRIMARY = &table;
    del.DELETEACTION = 4;
    table.log.clear();
    EXPECT_EQ(del.PrepareUpdate(), SevFatal);
    EXPECT_EQ(table.log.back(), "Delete 0");
    EXPECT_EQ(del.RESPONSE, ResponseCompleted);
    EXPECT_TRUE(errors.log.empty());
    // Confirmed delete that fails: not shown either, response 2.
    del.DELETEACTION = 2;
    table.delete_results = {SevNotify};
    EXPECT_EQ(del.PrepareUpdate(), SevFatal);
    EXPECT_EQ(table.log.back(), "Delete 1");
    EXPECT_EQ(del.RESPONSE, ResponseCancelled);
    // An unusable table keeps the form from opening.
    table.file.use_result = 3;
    EXPECT_EQ(del.PrepareUpdate(), 3);
}

TEST_F(Manager, DeleteRoutineRetriesAtTheUsersChoice) {
    Form(RequestDelete);
    table.delete_results = {SevNotify, 0};
    errors.answers = {Button::Yes};
    EXPECT_EQ(w.OnCompleted(), 0);
    std::vector<std::string> expected = {"Delete 1", "Delete 1"};
    EXPECT_EQ(table.log, expected);
    EXPECT_EQ(errors.log.front(), "Prompt 33 70 64");
    EXPECT_EQ(w.RESPONSE, ResponseCompleted);
    // Cancel: stays open.
    table.delete_results = {SevNotify};
    errors.answers = {Button::Cancel};
    EXPECT_EQ(w.OnCompleted(), SevNotify);
    EXPECT_EQ(w.RESPONSE, ResponseCancelled);
}

TEST_F(Manager, CloseRequestOnAnEditedInsertForm) {
    Form(RequestInsert, 0);
    ASSERT_EQ(w.PrepareUpdate(), 0);
    table.file.record = 99;  // edited
    // Yes: the OK button is pressed, the window stays.
    errors.answers = {Button::Yes};
    EXPECT_EQ(w.OnCloseRequest(), SevNotify);
    EXPECT_EQ(errors.log.back(), "Prompt 35 70 64");
    EXPECT_TRUE(Posted(Event::Accepted, 9));
    // Cancel: back to the first field.
    errors.answers = {Button::Cancel};
    EXPECT_EQ(w.OnCloseRequest(), SevNotify);
    EXPECT_EQ(port.focus, 2);
    EXPECT_TRUE(table.log.empty() || table.log.back() != "CancelInsert");
    // No: closes, releasing the auto-incremented record; a failed release keeps it open.
    table.cancel_result = SevNotify;
    errors.answers = {Button::No};
    EXPECT_EQ(w.OnCloseRequest(), SevNotify);
    table.cancel_result = 0;
    errors.answers = {Button::No};
    EXPECT_EQ(w.OnCloseRequest(), 0);
    EXPECT_EQ(table.log.back(), "CancelInsert");
}

TEST_F(Manager, CloseRequestByCancelAction) {
    Form(RequestChange);
    w.SAVED = table.file.SaveBuffer();
    table.file.record = 12;
    // Bit 1 only: save without asking.
    w.CANCELACTION = 1;
    EXPECT_EQ(w.OnCloseRequest(), SevNotify);
    EXPECT_TRUE(Posted(Event::Accepted, 9));
    EXPECT_TRUE(errors.log.empty());
    // Bit 1 clear: "Changes will be lost!"; No keeps the form.
    w.CANCELACTION = 2;
    errors.answers = {SevCancel};
    EXPECT_EQ(w.OnCloseRequest(), SevNotify);
    EXPECT_EQ(errors.log.back(), "Raise 8");
    errors.answers = {SevQuiet};
    EXPECT_EQ(w.OnCloseRequest(), 0);
    // CANCELACTION 0: no question at all.
    errors.log.clear();
    w.CANCELACTION = 0;
    EXPECT_EQ(w.OnCloseRequest(), 0);
    EXPECT_TRUE(errors.log.empty());
    // Completed forms and windows without a primary table close at once.
    w.CANCELACTION = 3;
    w.RESPONSE = ResponseCompleted;
    EXPECT_EQ(w.OnCloseRequest(), 0);
    w.RESPONSE = 0;
    w.PRIMARY = nullptr;
    EXPECT_EQ(w.OnCloseRequest(), 0);
    EXPECT_TRUE(errors.log.empty());
    // Without an OK button, "save" validates the form rather than pressing nothing.
    w.PRIMARY = &table;
    w.OKCONTROL = 0;
    w.CANCELACTION = 1;
    port.log.clear();
    EXPECT_EQ(w.OnCloseRequest(), SevNotify);
    EXPECT_EQ(port.log.back(), "SelectAll");
}

TEST_F(Manager, FieldHistoryRecallAndAlerts) {
    w.Startup();
    LONG field = 5, saved = 0;
    w.AddHistoryField(&field, sizeof field, &saved, sizeof saved, 3);
    w.HISTORYKEY = 0x71;
    w.ArmAlerts();
    EXPECT_EQ(port.log.back(), "Alert 113 3");
    w.OnCompleted();  // saves current values
    EXPECT_EQ(saved, 5);
    field = 8;
    port.focus = 3;
    port.Queue(Event::AlertKey, 3, 0x71);
    w.EventLoop();
    EXPECT_EQ(field, 5);
    EXPECT_EQ(port.log.back(), "Display 3");
}

TEST_F(Manager, ShutdownDiscardsComponentsAndTellsThePieces) {
    struct Bar : ToolbarInterface {
        int window = 0, kills = 0;
        void SetWindow(WindowManager&) override { ++window; }
        void TakeAccepted(LONG, LONG*) override {}
        void Kill() override { ++kills; }
    } bar;
    w.Startup();
    w.AddComponent(a);
    w.AddComponent(b);
    w.SetToolbar(bar);
    WindowResizer resizer;
    resizer.Startup(port, 1);
    w.SetResizer(resizer);
    EXPECT_EQ(port.handlers.size(), 1u);
    // A sheet's new tab refreshes and retargets the toolbar.
    port.Add(4, 37, {0, 0, 100, 100});
    port.Queue(Event::NewSelection, 4);
    w.EventLoop();
    EXPECT_EQ(bar.window, 2);
    log.clear();
    EXPECT_EQ(w.Shutdown(), 0);
    std::vector<std::string> expected = {"a.Discard", "b.Discard"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(bar.kills, 1);
    EXPECT_TRUE(port.handlers.empty());
    EXPECT_EQ(w.DEAD, 1);
    // Browse registration in a select request starts the list in selection mode.
    TestWindow pick(&log);
    pick.REQUEST = RequestSelect;
    pick.Startup();
    BYTE selecting = 0;
    pick.AddBrowse(a, selecting);
    EXPECT_EQ(selecting, 1);
}

}  // namespace
}  // namespace dt
