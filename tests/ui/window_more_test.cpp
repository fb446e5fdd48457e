#include <future>

#include "runtime/queue.h"
#include "tests/ui/gui_support.h"
#include "ui/list_source.h"

namespace dt::ui {
namespace {

using test::NextReal;
using test::RunApp;

#pragma pack(push, 1)
struct Line {
    CSTRING<16> TEXT;
};
#pragma pack(pop)

TEST(WindowMore, ImmListsReportScrollingAtTheirEdges) {
    RunApp([] {
        Queue<Line> q;
        for (int i = 1; i <= 3; ++i) {
            q.TEXT = "row" + std::to_string(i);
            q.Add();
        }
        WindowDef d;
        ControlDef lc = ListDef("60L~Text~@s16@", MakeQueueSource(q, &Line::TEXT), {2, 2, 100, 60});
        lc.imm = true;
        int browse = d.Add(lc);
        int plain = d.Add(ListDef("60L~Text~@s16@", MakeQueueSource(q, &Line::TEXT), {110, 2, 100, 60}));
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Display();
        w.SetChoice(browse, 3);
        ASSERT_TRUE(testing::PressKey(w, browse, key::Down));  // below the last row the page must move
        ASSERT_EQ(NextReal(w), Event::ScrollDown);
        w.SetChoice(browse, 1);
        ASSERT_TRUE(testing::PressKey(w, browse, key::Up));
        ASSERT_EQ(NextReal(w), Event::ScrollUp);
        ASSERT_TRUE(testing::PressKey(w, browse, key::kCtrl | key::End));
        ASSERT_EQ(NextReal(w), Event::ScrollBottom);
        ASSERT_TRUE(testing::PressKey(w, browse, key::PgUp));
        ASSERT_EQ(NextReal(w), Event::PageUp);
        // A plain list scrolls by itself and reports nothing.
        w.SetChoice(plain, 3);
        EXPECT_FALSE(testing::PressKey(w, plain, key::Down));
        EXPECT_EQ(w.Columns(browse), 1);
        EXPECT_FALSE(w.ColumnResizable(browse, 1));
        w.SetColumnWidth(browse, 1, 80);
        EXPECT_NEAR(w.ColumnWidth(browse, 1), 80, 1);
        EXPECT_EQ(w.ColumnWidth(browse, 2), 0);  // no such column
    });
}

TEST(WindowMore, SheetTabsShowOnlyTheirOwnControls) {
    RunApp([] {
        STRING<20> pass("secret");
        WindowDef d;
        int sheet = d.Add(SheetDef({2, 2, 200, 80}));
        int tab1 = d.Add(TabDef("Database", sheet));
        ControlDef p = EntryDef("s20", Use(pass), {10, 20, 80, 10});
        p.password = true;
        p.parent = tab1;
        int pw = d.Add(p);
        int tab2 = d.Add(TabDef("More", sheet));
        ControlDef b = ButtonDef("Kill", {10, 20, 60, 14});
        b.parent = tab2;
        int kill = d.Add(b);
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Display();
        EXPECT_EQ(w.Parent(pw), tab1);
        EXPECT_EQ(w.SelectedTab(sheet), tab1);
        EXPECT_EQ(testing::ControlText(w, pw), "secret");  // the text is there, shown as dots
        EXPECT_FALSE(testing::Click(w, kill) && NextReal(w) == Event::Accepted && w.Field() == kill)
            << "a button on a hidden tab cannot be pressed";
        w.Select(tab2);
        w.SetChoice(sheet, 2);
        EXPECT_EQ(w.SelectedTab(sheet), tab2);
        ASSERT_TRUE(testing::Click(w, kill));
        ASSERT_EQ(NextReal(w), Event::Accepted);
        EXPECT_EQ(w.Field(), kill);
    });
}

// A window placed below the screen's bottom (below another window, or saved on a screen
// that is gone) opens on the screen: a resizable one gives up height first, a fixed one
// is moved up whole.
TEST(WindowMore, AWindowPlacedOffTheScreenOpensOnIt) {
    RunApp([] {
        const Rect screen = testing::ScreenPixelRect();
        ASSERT_GT(screen.h, 0);
        for (bool resizable : {true, false}) {
            WindowDef d;
            d.title = resizable ? "resizable" : "fixed";
            d.flags.resizable = resizable;
            d.at = {10, 0, 200, 100};
            Window probe(d);  // where a window of this size would sit at the screen's top
            ASSERT_EQ(probe.Open(), 0);
            const Rect size = testing::WindowPixelRect(probe);
            probe.Close();
            d.at.y = 100000;  // far below any screen
            Window w(d);
            ASSERT_EQ(w.Open(), 0);
            const Rect r = testing::WindowPixelRect(w);
            EXPECT_GE(r.y, screen.y) << d.title;
            EXPECT_LE(r.y + r.h, screen.y + screen.h) << d.title;
            EXPECT_GE(r.x, screen.x) << d.title;
            if (resizable)
                EXPECT_LE(r.h, size.h) << "may give up height";
            else
                EXPECT_EQ(r.h, size.h) << "keeps its size";
            w.Close();
        }
    });
}

TEST(WindowMore, AHiddenWindowShownLaterCarriesWhatWasSetMeanwhile) {
    RunApp([] {
        WindowDef d;
        d.title = "scan drives";
        d.flags.status_bar = true;
        int s = d.Add(StringDef("getting files from drive", {4, 4, 120, 10}));
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Hide();
        w.SetText(s, "/home/");
        w.SetStatusText(1, "101");
        w.Disable(s);
        w.Display();
        EXPECT_FALSE(testing::HasWidgets(w));
        w.Unhide();
        EXPECT_TRUE(testing::HasWidgets(w));
        EXPECT_EQ(testing::ControlText(w, s), "/home/");
        EXPECT_EQ(w.StatusText(1), "101");
        EXPECT_TRUE(w.Disabled(s));
    });
}

TEST(WindowMore, ShownWindowTimerAndPostingToAnotherThreadsActiveWindow) {
    RunApp([] {
        WindowDef d;
        d.timer = 2;  // 20 ms
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Display();
        int timers = 0;
        for (int i = 0; i < 200 && timers < 3; ++i)
            if (NextReal(w) == Event::Timer) ++timers;
        EXPECT_EQ(timers, 3);

        std::promise<int> thread;
        std::promise<int> got;
        Start(
            [&] {
                WindowDef bd;
                bd.Add(ButtonDef("x", {2, 2, 20, 12}));
                Window b(bd);
                b.Open();
                thread.set_value(ThreadId());
                while (b.NextEvent())
                    if (b.CurrentEvent() == Event::Accepted) {
                        got.set_value(b.Field());
                        b.Post(Event::CloseWindow);
                    }
            },
            0);
        int t = thread.get_future().get();
        EXPECT_TRUE(Post(Event::Accepted, 1, t));
        EXPECT_EQ(got.get_future().get(), 1);
        EXPECT_FALSE(Post(Event::Accepted, 1, 999));  // no such thread
    });
}

TEST(WindowMore, ClosingThroughTheWindowFrameAsksTheLoop) {
    RunApp([] {
        WindowDef d;
        d.title = "closable";
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Display();
        // The user closes the window: the loop is asked, the window stays until it agrees.
        ASSERT_TRUE(testing::CloseBox(w));
        ASSERT_EQ(NextReal(w), Event::CloseWindow);
        w.Cycle();  // refused: the window stays open
        w.Post(Event::Timer);
        EXPECT_EQ(NextReal(w), Event::Timer);
        EXPECT_TRUE(w.IsOpen());
        ASSERT_TRUE(testing::CloseBox(w));
        EXPECT_EQ(NextReal(w), Event::CloseWindow);
        EXPECT_FALSE(w.NextEvent());
        w.Close();
        EXPECT_FALSE(w.IsOpen());
        EXPECT_FALSE(w.Post(Event::Timer));
    });
}

}  // namespace
}  // namespace dt::ui
