#include <pthread.h>

#include <future>

#include "runtime/queue.h"
#include "tests/ui/gui_support.h"
#include "ui/list_source.h"

namespace dt::ui {
namespace {

using test::NextReal;
using test::RunApp;

TEST(WindowThreads, TwoWindowsOnTwoThreadsPostToEachOther) {
    RunApp([] {
        WindowDef da;
        da.title = "A";
        int ping = da.Add(ButtonDef("Ping", {4, 4, 40, 14}));
        Window a(da);
        ASSERT_EQ(a.Open(), 0);
        std::promise<Window*> ready;
        std::promise<int> done;
        int pongs = 0;
        int t = Start(
            [&] {
                WindowDef db;
                db.title = "B";
                int pong = db.Add(ButtonDef("Pong", {4, 4, 40, 14}));
                Window b(db);
                b.Open();
                ready.set_value(&b);
                while (b.NextEvent()) {
                    if (b.CurrentEvent() == Event::Accepted && b.Field() == pong) {
                        ++pongs;
                        a.Post(Event::Accepted, ping);  // answer on A's thread
                    }
                }
                b.Close();
                done.set_value(pongs);
            },
            25000);
        ASSERT_GT(t, 1);
        Window* b = ready.get_future().get();
        EXPECT_NE(b->Thread(), a.Thread());
        EXPECT_EQ(a.Thread(), ThreadId());
        b->Post(Event::Accepted, 1);
        int replies = 0;
        for (int i = 0; i < 200 && replies < 3; ++i) {
            Event e = NextReal(a);
            ASSERT_NE(e, Event::None);
            if (e == Event::Accepted && a.Field() == ping && ++replies < 3) b->Post(Event::Accepted, 1);
        }
        EXPECT_EQ(replies, 3);
        b->Post(Event::CloseWindow);
        EXPECT_EQ(done.get_future().get(), 3);
        // Both windows were real windows with widgets on the GUI thread.
        EXPECT_TRUE(testing::HasWidgets(a));
    });
}

TEST(WindowThreads, StartedThreadsGetALargeStack) {
    RunApp([] {
        std::promise<std::size_t> size;
        int t = Start(
            [&] {
                pthread_attr_t attr;
                std::size_t s = 0;
                if (pthread_getattr_np(pthread_self(), &attr) == 0) {
                    pthread_attr_getstacksize(&attr, &s);
                    pthread_attr_destroy(&attr);
                }
                size.set_value(s);
            },
            25000);  // what the browse asks for: far too small for a window loop
        ASSERT_GT(t, 0);
        EXPECT_GE(size.get_future().get(), std::size_t(8) << 20);
    });
}

TEST(WindowThreads, EndingTheProgramClosesDownOtherThreadsWindows) {
    std::atomic<int> seen{0};
    std::promise<void> looping;
    RunApp([&] {
        Start(
            [&] {
                WindowDef d;
                d.title = "browse";
                Window w(d);
                w.Open();
                looping.set_value();
                while (w.NextEvent())
                    if (w.CurrentEvent() == Event::CloseDown) seen = 1;
            },
            0);
        looping.get_future().wait();
        // The main procedure returns with the other window still open.
    });
    EXPECT_EQ(seen.load(), 1);
}

#pragma pack(push, 1)
struct Row {
    CSTRING<20> NAME;
    LONG C1, C2, C3, C4;
    ULONG SIZE;
};
#pragma pack(pop)

TEST(WindowLists, HundredThousandRowsReadStraightFromTheQueue) {
    RunApp([] {
        Queue<Row> q;
        for (int i = 1; i <= 100000; ++i) {
            q.NAME = "file" + std::to_string(i);
            q.C1 = i % 2 ? 8421504 : -1;
            q.C2 = q.C3 = q.C4 = -1;
            q.SIZE = static_cast<ULONG>(i) * 1000u;
            q.Add();
        }
        auto src = MakeQueueSource(q, &Row::NAME, &Row::C1, &Row::C2, &Row::C3, &Row::C4, &Row::SIZE);
        WindowDef d;
        d.title = "big";
        d.at = {0, 0, 300, 200};
        d.flags.resizable = true;
        int list = d.Add(ListDef("120L(2)|M*~Name~@s20@60R(2)|M~Size~@n13@", src, {2, 2, 296, 196}));
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Display();
        EXPECT_EQ(testing::ListRowCount(w, list), 100000u);
        auto first = testing::ListRows(w, list, 1, 2);
        ASSERT_EQ(first.size(), 2u);
        EXPECT_EQ(first[0], "file1\t1,000");
        EXPECT_EQ(first[1], "file2\t2,000");
        auto last = testing::ListRows(w, list, 100000, 5);
        ASSERT_EQ(last.size(), 1u);
        EXPECT_EQ(last[0], "file100000\t100,000,000");
        EXPECT_EQ(testing::ListHeaders(w, list), (std::vector<std::string>{"Name", "Size"}));
        w.SetChoice(list, 100000);
        EXPECT_EQ(w.Choice(list), 100000);
        EXPECT_EQ(testing::ControlText(w, list), "file100000\t100,000,000");

        // The list follows the queue: an entry changed and one added show after Display.
        q.Get(1);
        q.NAME = "renamed";
        q.Put();
        q.NAME = "extra";
        q.SIZE = 5;
        q.Add();
        w.Display(list);
        EXPECT_EQ(testing::ListRowCount(w, list), 100001u);
        EXPECT_EQ(testing::ListRows(w, list, 1, 1)[0], "renamed\t1,000");
        EXPECT_EQ(testing::ListRows(w, list, 100001, 1)[0], "extra\t5");
        EXPECT_EQ(w.Choice(list), 100000);  // the current row stays where it was
        q.Free();
        w.Display(list);
        EXPECT_EQ(testing::ListRowCount(w, list), 0u);
        EXPECT_EQ(w.Choice(list), 0);
    });
}

TEST(WindowLists, DoubleClickEnterAndRightClickFollowTheAlerts) {
    RunApp([] {
        Queue<Row> q;
        for (int i = 1; i <= 3; ++i) {
            q.NAME = "r" + std::to_string(i);
            q.Add();
        }
        WindowDef d;
        ControlDef lc = ListDef("40L~N~@s20@", MakeQueueSource(q, &Row::NAME), {2, 2, 100, 60});
        lc.alerts = {key::MouseLeft2, key::Enter, key::MouseRight};
        int list = d.Add(lc);
        int plain = d.Add(ListDef("40L~N~@s20@", MakeQueueSource(q, &Row::NAME), {110, 2, 100, 60}));
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Display();
        w.SetChoice(list, 2);
        ASSERT_TRUE(testing::PressKey(w, list, key::MouseRight));
        ASSERT_EQ(NextReal(w), Event::AlertKey);
        EXPECT_EQ(w.Field(), list);
        EXPECT_EQ(w.Keycode(), key::MouseRight);
        ASSERT_TRUE(testing::PressKey(w, list, key::Enter));
        ASSERT_EQ(NextReal(w), Event::AlertKey);
        EXPECT_EQ(w.Keycode(), key::Enter);
        // Without alerts, Enter and a double click accept the list.
        w.SetChoice(plain, 3);
        ASSERT_TRUE(testing::PressKey(w, plain, key::MouseLeft2));
        ASSERT_EQ(NextReal(w), Event::Accepted);
        EXPECT_EQ(w.Field(), plain);
        EXPECT_EQ(w.Choice(plain), 3);
        // A key that is not alerted on a control is ignored by the layer.
        EXPECT_FALSE(testing::PressKey(w, plain, key::Insert));
        w.Alert(key::Insert);
        EXPECT_TRUE(testing::PressKey(w, plain, key::Insert));
        ASSERT_EQ(NextReal(w), Event::AlertKey);
        EXPECT_EQ(w.Keycode(), key::Insert);
    });
}

TEST(WindowDialogs, MessageBoxesTakeQueuedAnswersAndNeverWaitOffscreen) {
    RunApp([] {
        testing::AnswerMessage(button::No);
        EXPECT_EQ(Message("Scan disk for files?", "scan", MessageIcon::Question, button::Yes | button::No),
                  button::No);
        // An answer the box does not offer is a close of the box: No here.
        testing::AnswerMessage(button::Retry);
        EXPECT_EQ(Message("q", "c", MessageIcon::Question, button::Yes | button::No, button::Yes),
                  button::No);
        // No queued answer offscreen: the default button, at once. (On a real display the
        // box would wait for a person, so the answer is queued there.)
        if (!Application::Offscreen()) {
            testing::AnswerMessage(button::Yes);
            testing::AnswerMessage(button::Ok);
        }
        EXPECT_EQ(Message("Database x not exist.|Create database on y ?", "create database",
                          MessageIcon::Question, button::Yes | button::No, button::Yes),
                  button::Yes);
        EXPECT_EQ(Message("ok!"), button::Ok);
        auto shown = testing::TakeShownMessages();
        ASSERT_EQ(shown.size(), 4u);
        EXPECT_EQ(shown[0].text, "Scan disk for files?");
        EXPECT_EQ(shown[0].caption, "scan");
        EXPECT_EQ(shown[0].icon, MessageIcon::Question);
        EXPECT_EQ(shown[0].default_button, button::Yes);  // none given: the first button
        EXPECT_EQ(shown[2].text, "Database x not exist.|Create database on y ?");
        EXPECT_EQ(shown[3].buttons, button::Ok);
        EXPECT_TRUE(testing::TakeShownMessages().empty());
    });
}

TEST(WindowDialogs, PopupAnswersCountSelectableEntriesOnly) {
    RunApp([] {
        const char* menu = "Item1|-|Sub{A|B}|~Disabled|+Checked";
        testing::AnswerPopup(3);
        EXPECT_EQ(Popup(menu), 3);  // B
        testing::AnswerPopup(4);
        EXPECT_EQ(Popup(menu), 0);  // the disabled entry cannot be chosen
        testing::AnswerPopup(9);
        EXPECT_EQ(Popup(menu), 0);  // no such entry
        if (!Application::Offscreen()) testing::AnswerPopup(0);
        EXPECT_EQ(Popup(menu), 0);  // offscreen without an answer: cancelled
        auto shown = testing::TakeShownPopups();
        ASSERT_EQ(shown.size(), 4u);
        EXPECT_EQ(shown[0], menu);
    });
}

TEST(WindowLoops, NestedLoopTakesInputAwayFromEarlierWindows) {
    RunApp([] {
        WindowDef d;
        d.title = "main";
        int scan = d.Add(ButtonDef("Scan", {4, 4, 40, 14}, "scan"));
        int exitb = d.Add(ButtonDef("Exit", {50, 4, 40, 14}));
        d.controls.back().std = StdAction::Close;
        Window main(d);
        ASSERT_EQ(main.Open(), 0);
        main.Display();
        ASSERT_TRUE(testing::Click(main, scan));
        ASSERT_EQ(NextReal(main), Event::Accepted);
        ASSERT_EQ(main.Field(), scan);
        {
            // The Scan handler runs a loop of its own on the same thread.
            WindowDef wd;
            wd.timer = 1;
            wd.Add(StringDef("Processing...", {2, 2, 100, 10}));
            Window pace(wd);
            ASSERT_EQ(pace.Open(), 0);
            pace.Hide();
            int timers = 0;
            while (pace.NextEvent()) {
                if (pace.CurrentEvent() != Event::Timer) continue;
                if (++timers == 1) {
                    EXPECT_TRUE(testing::InputBlocked(main));
                    EXPECT_FALSE(testing::Click(main, exitb));  // Exit cannot be pressed now
                    EXPECT_FALSE(testing::Click(main, scan));   // nor a second Scan
                }
                if (timers == 5) pace.Post(Event::CloseWindow);
            }
            EXPECT_EQ(timers, 5);
            EXPECT_FALSE(testing::HasWidgets(pace));
        }
        // Back in the main loop: no stale click arrives, and input works again.
        main.Post(Event::Timer);  // a marker behind anything that might have been queued
        EXPECT_EQ(NextReal(main), Event::Timer);
        EXPECT_FALSE(testing::InputBlocked(main));
        ASSERT_TRUE(testing::Click(main, exitb));
        ASSERT_EQ(NextReal(main), Event::Accepted);
        EXPECT_EQ(NextReal(main), Event::CloseWindow);  // the button's standard action
        EXPECT_FALSE(main.NextEvent());
    });
}

TEST(WindowLoops, HiddenPacingWindowDeliversAThousandTimerEventsWithoutWidgets) {
    RunApp([] {
        WindowDef d;
        d.timer = 1;
        int s1 = d.Add(StringDef("Processing...", {2, 2, 100, 10}));
        d.flags.status_bar = true;
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Hide();
        int timers = 0;
        while (w.NextEvent()) {
            if (w.CurrentEvent() != Event::Timer) continue;
            w.SetText(s1, "/some/dir/file" + std::to_string(timers));
            w.Display(s1);
            if (timers % 100 == 0) w.SetStatusText(1, std::to_string(timers + 1));
            if (++timers == 1000) w.Post(Event::CloseWindow);
        }
        EXPECT_EQ(timers, 1000);
        EXPECT_FALSE(testing::HasWidgets(w));
        EXPECT_EQ(w.StatusText(1), "901");
        EXPECT_EQ(w.Text(s1), "/some/dir/file999");
    });
}

TEST(WindowControls, EntriesCheckBoxesAndValidateAll) {
    RunApp([] {
        STRING<20> name("Bob");
        LONG size = 5;
        BYTE flag = 0;
        WindowDef d;
        int e1 = d.Add(EntryDef("s20", Use(name), {40, 4, 80, 10}));
        int e2 = d.Add(EntryDef("n-14B", Use(size), {40, 18, 60, 10}));
        int chk = d.Add(CheckDef("search also for directory name", Use(flag), {4, 32, 150, 10}));
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Display();
        EXPECT_EQ(testing::ControlText(w, e1), "Bob");
        EXPECT_EQ(testing::ControlText(w, e2), "5");
        ASSERT_TRUE(testing::Type(w, e1, "Alice"));
        ASSERT_EQ(NextReal(w), Event::Accepted);
        EXPECT_EQ(w.Field(), e1);
        EXPECT_EQ(name.Clip(), "Alice");  // written before the handler sees the event
        ASSERT_TRUE(testing::Type(w, e2, "xyz"));
        ASSERT_EQ(NextReal(w), Event::Rejected);
        EXPECT_EQ(size, 5);
        ASSERT_TRUE(testing::Click(w, chk));
        ASSERT_EQ(NextReal(w), Event::Accepted);
        EXPECT_EQ(flag, 1);
        // Leaving an unchanged entry accepts nothing, unless it was marked as touched.
        ASSERT_TRUE(testing::Type(w, e1, "Alice"));
        w.MarkTouched(e1);
        ASSERT_TRUE(testing::Type(w, e1, "Alice"));
        ASSERT_EQ(NextReal(w), Event::Accepted);
        EXPECT_EQ(w.Field(), e1);

        // Validate-all stops at the entry that does not fit its picture.
        w.ValidateAll();
        ASSERT_EQ(NextReal(w), Event::Accepted);
        EXPECT_EQ(w.Field(), e1);
        EXPECT_TRUE(w.InValidateAll());
        ASSERT_EQ(NextReal(w), Event::Rejected);
        EXPECT_EQ(w.Field(), e2);
        EXPECT_FALSE(w.InValidateAll());
        ASSERT_TRUE(testing::Type(w, e2, "1,024"));
        ASSERT_EQ(NextReal(w), Event::Accepted);
        EXPECT_EQ(size, 1024);
        w.ValidateAll();
        std::vector<Event> seen;
        for (int i = 0; i < 4; ++i) seen.push_back(NextReal(w));
        EXPECT_EQ(seen,
                  (std::vector<Event>{Event::Accepted, Event::Accepted, Event::Accepted, Event::Completed}));
        EXPECT_FALSE(w.InValidateAll());

        // Display copies the variables back into the controls.
        name = "Carol";
        size = -1234567;
        flag = 0;
        w.Display();
        EXPECT_EQ(testing::ControlText(w, e1), "Carol");
        EXPECT_EQ(testing::ControlText(w, e2), "-1,234,567");
        EXPECT_FALSE(w.Checked(chk));
    });
}

TEST(WindowControls, MenuStandardCloseAndProperties) {
    RunApp([] {
        WindowDef d;
        d.title = "DriveTrek";
        d.flags.resizable = true;
        d.flags.status_bar = true;
        d.status_zones = {80, -1};
        d.at = {10, 10, 200, 100};
        int file = d.Add(MenuDef("&File"));
        int opts = d.Add(ItemDef("&Options", file));
        d.Add(SeparatorDef(file));
        int exitm = d.Add(ItemDef("E&xit", file, StdAction::Close));
        int prompt = d.Add(PromptDef("Filter:", {4, 4, 30, 10}));
        EXPECT_EQ(opts, 2);
        EXPECT_EQ(exitm, 3);  // the separator takes no number
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        // Properties set before the window is shown are kept and shown later.
        w.SetStatusText(2, "start: 10:00:00");
        w.SetTitle("DriveTrek Version 1.05");
        w.Display();
        EXPECT_EQ(testing::ControlText(w, 0), "DriveTrek Version 1.05");
        EXPECT_EQ(w.StatusText(2), "start: 10:00:00");
        EXPECT_EQ(w.Type(file), ControlType::Menu);
        EXPECT_EQ(w.Parent(exitm), file);
        // Positions in dialog units, with DeferMove collecting moves: while collecting, the
        // control stays where it is on screen; setting 0 carries the move out.
        const Rect before = testing::PixelRect(w, prompt);
        w.SetDeferMove(2);
        EXPECT_EQ(w.DeferMove(), 2);
        w.SetPosition(prompt, {20, 30, 50, 12});
        const Rect deferred = testing::PixelRect(w, prompt);
        EXPECT_EQ(deferred.x, before.x);
        EXPECT_EQ(deferred.y, before.y);
        EXPECT_EQ(deferred.w, before.w);
        w.SetDeferMove(0);
        EXPECT_EQ(w.DeferMove(), 0);
        Rect px = testing::PixelRect(w, prompt);
        int dux = testing::DialogUnitX1000(w), duy = testing::DialogUnitY1000(w);
        EXPECT_NEAR(px.x, 20 * dux / 1000, 1);
        EXPECT_NEAR(px.y, 30 * duy / 1000, 1);
        EXPECT_NEAR(px.w, 50 * dux / 1000, 1);
        w.SetNoWidth(prompt, true);
        w.SetPosition(prompt, {24, 30, 90, 12});
        EXPECT_EQ(w.GetPosition(prompt).w, 50);
        Placement p = w.GetPlacement();
        EXPECT_NEAR(p.at.w, 200, 1);
        EXPECT_NEAR(p.at.h, 100, 1);
        w.SetMinSize(150, 80);
        EXPECT_EQ(w.MinSize().w, 150);
        Placement q = p;
        q.at.w = 260;
        q.at.h = 140;
        w.SetPlacement(q);
        EXPECT_NEAR(w.GetPlacement().at.w, 260, 1);
        EXPECT_NEAR(w.GetPlacement().at.h, 140, 1);
        // The Exit item closes the window by its standard action.
        w.Disable(opts);
        EXPECT_FALSE(testing::Click(w, opts));
        ASSERT_TRUE(testing::Click(w, exitm));
        ASSERT_EQ(NextReal(w), Event::Accepted);
        EXPECT_EQ(w.Field(), exitm);
        EXPECT_EQ(NextReal(w), Event::CloseWindow);
        EXPECT_FALSE(w.NextEvent());
        // Cycling the close keeps the loop running.
        w.Post(Event::CloseWindow);
        ASSERT_TRUE(w.NextEvent());
        EXPECT_EQ(w.CurrentEvent(), Event::CloseWindow);
        w.Cycle();
        w.Post(Event::Timer);
        EXPECT_EQ(NextReal(w), Event::Timer);
    });
}

TEST(WindowControls, OpenOutsideTheLayersThreadsIsRefused) {
    Window w(WindowDef{});
    EXPECT_EQ(w.Open(), 5);  // no application running on this thread
    EXPECT_FALSE(w.IsOpen());
    EXPECT_FALSE(w.NextEvent());
}

}  // namespace
}  // namespace dt::ui
