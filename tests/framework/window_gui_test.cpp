// The window manager, the resizer and popup menus over real windows of the window layer,
// offscreen: an update form completed through its OK button, a form closed by a button of
// the button list, controls following a window's size, and a popup menu and toolbox whose
// choices reach the window's controls.
#include <chrono>
#include <thread>

#include "framework/popup_manager.h"
#include "framework/window_manager.h"
#include "framework/window_resizer.h"
#include "tests/ui/gui_support.h"

namespace dt {
namespace {

using ui::test::RunApp;

// One LONG record with saved copies; Update writes it to `stored`.
struct Table : RelationManagerInterface, FileManagerInterface {
    LONG record = 10;
    LONG stored = 10;
    std::map<USHORT, LONG> saved;
    USHORT next = 0;
    int updates = 0;
    FileManagerInterface& Manager() override { return *this; }
    Severity CancelInsert() override { return SevQuiet; }
    Severity Delete(BYTE) override { return SevQuiet; }
    void PrepareRelated() override {}
    Severity Update(BYTE) override {
        ++updates;
        stored = record;
        return SevQuiet;
    }
    Severity UseFile(BYTE) override { return SevQuiet; }
    Severity Insert() override { return SevQuiet; }
    Severity PrimeRecord(BYTE) override { return SevQuiet; }
    BYTE EqualBuffer(USHORT id) override { return saved.count(id) && saved[id] == record; }
    USHORT SaveBuffer() override {
        saved[++next] = record;
        return next;
    }
    void RestoreBuffer(USHORT& id, BYTE restore) override {
        if (restore && saved.count(id)) record = saved[id];
        saved.erase(id);
        id = 0;
    }
    std::string Position() override { return std::to_string(record); }
    Severity TryReget(std::string_view) override { return SevQuiet; }
};

struct NoErrors : ErrorManagerInterface {
    Severity Raise(USHORT) override { return SevQuiet; }
    Severity RaiseWithText(USHORT, std::string_view) override { return SevQuiet; }
    int Prompt(USHORT, int, int def) override { return def; }
    void EnterProcedure(std::string_view) override {}
    void LeaveProcedure() override {}
    std::string CurrentProcedureName() override { return {}; }
};

// A change form: an entry on the record, OK and Cancel. The script runs once the window
// is open and set up, as a user would act on it.
class ChangeForm final : public WindowManager {
  public:
    Table& table;
    NoErrors errors;
    std::function<void(ui::Window&, int entry, int ok, int cancel)> script;
    std::unique_ptr<ui::Window> window;
    int entry = 0, ok = 0, cancel = 0;

    explicit ChangeForm(Table& t) : table(t) {}
    int Startup() override {
        REQUEST = RequestChange;
        if (int r = WindowManager::Startup(); r != 0) return r;
        ERRORS = &errors;
        PRIMARY = &table;
        ui::WindowDef d;
        d.title = "Change";
        d.at = {0, 0, 160, 60};
        entry = d.Add(ui::EntryDef("n-9", ui::Use(table.record), {40, 6, 60, 11}));
        ok = d.Add(ui::ButtonDef("OK", {20, 30, 40, 14}));
        cancel = d.Add(ui::ButtonDef("Cancel", {70, 30, 40, 14}));
        window = std::make_unique<ui::Window>(std::move(d));
        if (window->Open() != 0) return SevFatal;
        OPENED = 1;
        SetWindow(*window);
        OKCONTROL = ok;
        FIRSTFIELD = entry;
        AddButton(cancel, ResponseCancelled);
        return PrepareUpdate();
    }
    void OnWindowOpened() override {
        WindowManager::OnWindowOpened();
        if (script) script(*window, entry, ok, cancel);
    }
    int Shutdown() override {
        int r = WindowManager::Shutdown();
        if (window) window->Close();
        return r;
    }
};

TEST(WindowManagerGui, ChangeFormCompletesThroughOk) {
    RunApp([] {
        Table table;
        ChangeForm form(table);
        // The edit is made on the record and shown (a Refresh at the window's first focus
        // would show the record over text typed before it); OK then validates the entry,
        // whose Completed writes the change.
        form.script = [&table](ui::Window& w, int entry, int ok, int) {
            table.record = 42;
            w.Display(entry);
            ASSERT_TRUE(ui::testing::Click(w, ok));
        };
        EXPECT_EQ(form.Run(), ResponseCompleted);
        EXPECT_EQ(table.updates, 1);
        EXPECT_EQ(table.stored, 42);
        EXPECT_TRUE(table.saved.empty());
    });
}

TEST(WindowManagerGui, CancelButtonEndsWithoutWriting) {
    RunApp([] {
        Table table;
        ChangeForm form(table);
        form.script = [](ui::Window& w, int, int, int cancel) { ASSERT_TRUE(ui::testing::Click(w, cancel)); };
        EXPECT_EQ(form.Run(), ResponseCancelled);
        EXPECT_EQ(table.updates, 0);
    });
}

TEST(WindowManagerGui, ClosingAnUneditedFormCancels) {
    RunApp([] {
        Table table;
        ChangeForm form(table);
        form.script = [](ui::Window& w, int, int, int) { w.Post(ui::Event::CloseWindow); };
        EXPECT_EQ(form.Run(), ResponseCancelled);
        EXPECT_EQ(table.updates, 0);
    });
}

// Takes events until `done` or the loop ends (at most 200 events).
template <class Done>
void Pump(WindowPort& port, Done done) {
    WindowEvent e;
    for (int i = 0; i < 200 && !done(); ++i)
        if (!port.TakeEvent(e)) return;
}

TEST(WindowResizerGui, ControlsFollowTheWindowAndComeBack) {
    RunApp([] {
        ui::WindowDef d;
        d.title = "Resizable";
        d.at = {0, 0, 300, 200};
        d.flags.resizable = true;
        int list = d.Add(ui::TextDef("A box that grows with the window", {6, 6, 200, 150}));
        int button = d.Add(ui::ButtonDef("Go", {250, 180, 40, 14}));
        ui::Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Display();
        UiWindowPort port(w);
        const ui::Rect list0 = w.GetPosition(list), button0 = w.GetPosition(button);
        WindowResizer resizer;
        resizer.Startup(port, AppStrategy::kSpread);
        ui::Rect r = w.GetPosition(0);
        w.SetPosition(0, {r.x, r.y, r.w + 100, r.h + 60});
        Pump(port, [&] { return resizer.RESIZECALLED != 0; });
        ASSERT_EQ(resizer.RESIZECALLED, 1);
        const ui::Rect now = w.GetPosition(0);
        const int dw = now.w - r.w, dh = now.h - r.h;
        EXPECT_GT(dw, 50);
        // The box keeps its corner and takes the whole change; the button keeps its distance
        // to the right and bottom edges.
        EXPECT_EQ(w.GetPosition(list), (ui::Rect{list0.x, list0.y, list0.w + dw, list0.h + dh}));
        EXPECT_EQ(w.GetPosition(button), (ui::Rect{button0.x + dw, button0.y + dh, button0.w, button0.h}));
        resizer.RESIZECALLED = 0;
        w.SetPosition(0, r);
        Pump(port, [&] { return resizer.RESIZECALLED != 0; });
        EXPECT_EQ(w.GetPosition(list), list0);
        EXPECT_EQ(w.GetPosition(button), button0);
        resizer.Shutdown();
        w.Close();
    });
}

TEST(PopupGui, ChoiceMapsBackAndPressesTheMirroredButton) {
    RunApp([] {
        ui::WindowDef d;
        d.title = "Popup";
        int insert = d.Add(ui::ButtonDef("&Insert", {4, 4, 40, 14}));
        int del = d.Add(ui::ButtonDef("&Delete", {50, 4, 40, 14}));
        ui::Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Disable(del);
        UiWindowPort port(w);
        PopupManager pm;
        pm.Startup(port);
        pm.AddMenu("One|Two|-|Four{Five|Six}");
        pm.AddItemMimic("!&Insert", SHORT(insert));
        pm.AddItemMimic("!&Delete", SHORT(del));
        ui::testing::TakeShownPopups();
        // The layer numbers the entries exactly as the manager maps them back.
        EXPECT_EQ(ui::PopupEntries(pm.MenuText()), 6);
        ui::testing::AnswerPopup(4);
        EXPECT_EQ(pm.Ask(), "Six");
        auto shown = ui::testing::TakeShownPopups();
        ASSERT_EQ(shown.size(), 1u);
        // New items without a depth join the depth of the last item (the submenu here).
        EXPECT_EQ(shown[0], "One|Two|-|Four{Five|Six|&Insert|~&Delete}");
        // The disabled button's item cannot be chosen; the enabled one presses its button.
        ui::testing::AnswerPopup(6);
        EXPECT_EQ(pm.Ask(), "");
        ui::testing::AnswerPopup(5);
        EXPECT_EQ(pm.Ask(), "Insert");
        bool pressed = false;
        Pump(port, [&] {
            pressed = pressed || (w.CurrentEvent() == ui::Event::Accepted && w.Field() == insert);
            return pressed;
        });
        EXPECT_TRUE(pressed);

        // The toolbox: its own thread; a pressed button chooses its item.
        ASSERT_TRUE(pm.Toolbox("Browse Actions"));
        EXPECT_EQ(pm.INTOOLBOX, 1);
        int thread = 0;
        for (int i = 0; i < 500 && thread == 0; ++i) {
            thread = pm.ToolboxThread();
            if (thread == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_GT(thread, 1);
        EXPECT_NE(thread, ui::ThreadId());
        // Toolbox buttons: the mirrored items (Insert, then Delete); press Insert.
        bool posted = false;
        for (int i = 0; i < 500 && !posted; ++i) {
            posted = ui::Post(ui::Event::Accepted, 1, thread);
            if (!posted) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(posted);
        pressed = false;
        Pump(port, [&] {
            pressed = pressed || (w.CurrentEvent() == ui::Event::Accepted && w.Field() == insert);
            return pressed;
        });
        EXPECT_TRUE(pressed);
        EXPECT_EQ(pm.GetLastSelection(), "Insert");
        pm.Shutdown();
        EXPECT_EQ(pm.INTOOLBOX, 0);
        EXPECT_EQ(pm.ToolboxThread(), 0);
        w.Close();
    });
}

}  // namespace
}  // namespace dt
