// The error manager's history dialog over real windows of the window layer, offscreen: the
// dialog a raise opens at the history view level, its buttons, list and icon, and the
// answer it gives for a pressed button and for a closed window.
#include <chrono>
#include <filesystem>
#include <thread>

#include "framework/error_history.h"
#include "tests/ui/gui_support.h"

namespace dt {
namespace {

using ui::test::RunApp;

// Posts `event` to control `field` of the window that runs innermost on the calling
// runtime thread, as soon as it has one (the dialog); gives up after about five seconds.
std::thread PostWhenShown(ui::Event event, int field) {
    const int thread = ui::ThreadId();
    return std::thread([event, field, thread] {
        for (int i = 0; i < 500; ++i) {
            if (ui::Post(event, field, thread)) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
}

std::string LogPath() {
    return (std::filesystem::temp_directory_path() / "dt_errors_gui_never_written.log").string();
}

// Raises "Changes will be lost!" (Yes/No, default Yes) at the history view level and
// presses button `field` of the dialog. Buttons are visited from the highest bit, so "&No"
// is the first button (field 1) and "&Yes" the second.
int AnswerQuestionInDialog(int field) {
    int result = -1;
    RunApp([&] {
        WindowErrorManager e;
        e.Startup(LogPath());
        e.HISTORYTHRESHOLD = 5;
        e.HISTORYVIEWLEVEL = SevAskUser;
        std::thread press = PostWhenShown(ui::Event::Accepted, field);
        result = e.Raise(8);
        press.join();
        EXPECT_TRUE(ui::testing::TakeShownMessages().empty());  // no plain box instead
        EXPECT_EQ(e.History()->Records(), 1u);
        e.Shutdown();
    });
    return result;
}

TEST(HistoryDialog, PressingNoAnswersNo) {
    EXPECT_EQ(AnswerQuestionInDialog(1), SevCancel);
}

TEST(HistoryDialog, PressingYesAnswersYes) {
    EXPECT_EQ(AnswerQuestionInDialog(2), SevQuiet);
}

TEST(HistoryDialog, ClosingTheWindowGivesTheDefault) {
    RunApp([] {
        WindowErrorManager e;
        e.Startup(LogPath());
        e.HISTORYTHRESHOLD = -1;
        e.HISTORYVIEWLEVEL = SevAskUser;
        e.HISTORYRESETONVIEW = 1;
        std::thread close = PostWhenShown(ui::Event::CloseWindow, 0);
        EXPECT_EQ(e.Raise(9), SevQuiet);  // the default, Yes
        close.join();
        EXPECT_EQ(e.History()->Records(), 0u);  // emptied after the dialog
        e.Shutdown();
    });
}

// Notes the focused control when the window opens.
struct FocusProbe final : WindowComponent {
    ui::Window* window = nullptr;
    int focus_at_open = -1;
    void Discard() override {}
    void Refresh(BYTE) override {}
    BYTE NeedsRefresh() override { return 0; }
    void ArmAlerts() override {}
    int HandleEvent(const WindowEvent& ev) override {
        if (ev.event == ui::Event::OpenWindow && focus_at_open < 0) focus_at_open = window->Focus();
        return SevQuiet;
    }
    void SaveToRecord() override {}
    void RepaintWindow() override {}
};

TEST(HistoryDialog, ButtonsListAndIcon) {
    RunApp([] {
        WindowErrorManager e;
        e.Startup(LogPath());
        e.HISTORYTHRESHOLD = -1;
        e.AssignCategory(22, "Browse");
        (void)e.Raise(22);
        e.NoteFileName("FILES");
        (void)e.Raise(2);

        MessageWindow d(e, "  ", ICON_NONE, Button::Yes | Button::No | Button::Cancel, Button::No, 0);
        ASSERT_EQ(d.Startup(), SevQuiet);
        ui::Window& w = *d.WIN;
        EXPECT_EQ(w.Title(), "Error");  // a blank caption
        ASSERT_EQ(d.MSGBUTTONS, 3);
        EXPECT_EQ(w.Text(d.ButtonField(0)), "&Cancel");
        EXPECT_EQ(w.Text(d.ButtonField(1)), "&No");
        EXPECT_EQ(w.Text(d.ButtonField(2)), "&Yes");
        for (int i = 3; i < 8; ++i) EXPECT_TRUE(w.Hidden(d.ButtonField(i))) << i;
        EXPECT_FALSE(w.Hidden(d.ButtonField(2)));
        EXPECT_EQ(w.Icon(d.ImageField()), "exclamation");  // no icon given
        EXPECT_EQ(ui::testing::ListHeaders(w, d.ListField()),
                  (std::vector<std::string>{"Message", "Category"}));
        EXPECT_EQ(
            ui::testing::ListRows(w, d.ListField(), 1, 5),
            (std::vector<std::string>{"There are no records available to process.\tBrowse",
                                      "Could not get write access to FILES so trying read-only.\tAPF"}));

        FocusProbe probe;
        probe.window = &w;
        d.AddComponent(probe);
        ASSERT_TRUE(ui::testing::Click(w, d.ButtonField(2)));  // "&Yes"
        d.EventLoop();
        EXPECT_EQ(probe.focus_at_open, d.ButtonField(1));  // the default, "&No"
        EXPECT_EQ(d.MSGRVAL, Button::Yes);
        d.Shutdown();
        EXPECT_EQ(d.WIN, nullptr);

        MessageWindow h(e, "Errors History", ICON_QUESTION, Button::Ok, Button::Ok, 0);
        ASSERT_EQ(h.Startup(), SevQuiet);
        EXPECT_EQ(h.WIN->Title(), "Errors History");
        EXPECT_EQ(h.WIN->Icon(h.ImageField()), "question");
        EXPECT_EQ(h.MSGBUTTONS, 1);
        EXPECT_EQ(h.WIN->Text(h.ButtonField(0)), "O&k");
        h.Shutdown();
        e.Shutdown();
    });
}

TEST(HistoryDialog, WithoutAWindowLayerThreadTheMessageStillShows) {
    // A plain thread of no window layer cannot open the dialog: a box is shown instead.
    ui::testing::ResetAnswers();
    WindowErrorManager e;
    e.Startup(LogPath());
    e.HISTORYTHRESHOLD = 3;
    e.HISTORYVIEWLEVEL = SevNotify;
    EXPECT_EQ(e.Raise(22), SevNotify);
    auto shown = ui::testing::TakeShownMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "There are no records available to process.");
    e.Shutdown();
}

}  // namespace
}  // namespace dt
