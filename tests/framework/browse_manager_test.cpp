// The view and browse managers over a real table (the embedded database) and a real list
// window (offscreen): sort orders and AppendOrder, ranges and named filters, the list
// queue holding only the visible rows while scrolling by row, page and to the ends, a list
// longer than the view, a reset that keeps the updated row on its line, the locator, the
// open and read failures (messages 40 and 1) and the standard popup menu.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "data/statements.h"
#include "data/view.h"
#include "framework/browse_manager.h"
#include "framework/file_manager.h"
#include "framework/relation_manager.h"
#include "framework/window_manager.h"
#include "platform/text.h"
#include "runtime/errors.h"
#include "tests/data/test_tables.h"
#include "tests/support/recording_errors.h"
#include "tests/ui/gui_support.h"
#include "ui/list_source.h"

namespace dt::test {
namespace {

#pragma pack(push, 1)
struct Entry {
    CSTRING<257> NAME;
    ULONG SIZE;
    ULONG SYSFILES;
    STRING<1024> POSITION;
};
#pragma pack(pop)

constexpr int kList = 1;
constexpr int kEntry = 2;
constexpr int kChange = 3;

// Everything a browse needs, made on the thread that uses it.
struct Rig {
    TempWorkDir dir;
    std::string owner = "Server,browses,sa,;APP=DRIVETREK;WSID=TEST";
    FilesTable table{"bfiles"};
    RecordingErrors errors;
    FileManager fm;
    RelationManager rm;
    Queue<Entry> queue;
    ListQueue<Entry> adapter{queue};
    CSTRING<41> locate;
    std::unique_ptr<ui::Window> window;
    WindowManager wm;
    View view{table.file};
    BrowseManager brw;
    EntryLocator locator;
    std::vector<std::pair<std::string, ULONG>> rows;  // name, size by id - 1

    Rig() {
        std::ofstream(dir.path() / "win.ini").close();
        ::setenv("DRIVETREK_PROFILE", (dir.path() / "win.ini").c_str(), 1);
        table.file.SetOwner(owner);
        fm.Init(table.file, errors);
        fm.AddKey(table.KEYNAME_FILES, "by name");
        fm.AddKey(table.KEYSYSFILES, "ID", 1);
        rm.Init(fm, 1);
        rm.Open();
        ui::WindowDef d;
        d.title = "browse";
        d.at = {0, 0, 300, 200};
        ui::ControlDef list =
            ui::ListDef("100L(2)|M~Name~@s60@40R(2)|M~Size~@n13@",
                        ui::MakeQueueSource(queue, &Entry::NAME, &Entry::SIZE), {4, 4, 290, 150});
        list.imm = true;
        d.Add(std::move(list));
        d.Add(ui::EntryDef("s40", ui::Use(locate), {4, 160, 100, 12}));
        d.Add(ui::ButtonDef("Change", {120, 160, 40, 14}));
        window = std::make_unique<ui::Window>(d);
    }
    ~Rig() {
        brw.Kill();
        wm.Shutdown();
        window->Close();
        rm.Close();
        Remove(table.file);
        ::unsetenv("DRIVETREK_PROFILE");
    }
    void Insert(int count) {
        const char* names[] = {"alpha", "Alpha", "beta", "BETA", "gamma", "Delta", "delta", "epsilon"};
        EXPECT_EQ(fm.UseFile(), 0);
        for (int i = 1; i <= count; ++i) {
            table.SYSFILES = ULONG(i);
            table.SYSCOMPUTER = 1;
            table.NAME = names[(i * 5) % 8];
            table.DIR = "/x/";
            table.SIZE = ULONG((i * 3) % 4) * 10;
            table.DATE_DATE = dt::DATE{1, 2, 2023};
            ASSERT_EQ(Add(table.file), 0) << FileError();
            rows.emplace_back(table.NAME.Str(), table.SIZE);
        }
    }
    // Expected ids in name order (without regard to case, ties by id).
    std::vector<ULONG> NameOrder() const {
        std::vector<ULONG> ids;
        for (ULONG i = 1; i <= rows.size(); ++i) ids.push_back(i);
        auto up = [&](ULONG id) { return Upper(rows[id - 1].first); };
        std::stable_sort(ids.begin(), ids.end(), [&](ULONG a, ULONG b) { return up(a) < up(b); });
        return ids;
    }
    void Start(LONG lastitems) {
        ASSERT_EQ(window->Open(), 0);
        wm.SetWindow(*window);
        ASSERT_EQ(brw.Init(kList, queue.POSITION, view, adapter, rm, wm), 0);
        brw.AddSortOrder(&table.KEYNAME_FILES);
        brw.AppendOrder("FILES:SysFILES");
        locator.Init(kEntry, "FILES:NAME", 1);
        brw.AddLocator(locator);
        brw.AddField(table.NAME, queue.NAME);
        brw.AddField(table.SIZE, queue.SIZE);
        brw.AddField(table.SYSFILES, queue.SYSFILES);
        brw.LASTITEMS = lastitems;
        brw.PAGESIZE = 4;
        brw.CHANGECONTROL = kChange;
        brw.ArmAlerts();
        brw.ResetSort(1);
    }
    std::vector<ULONG> Shown() {
        std::vector<ULONG> ids;
        for (std::size_t i = 1; i <= queue.Records(); ++i) {
            Entry e{};
            queue.Peek(i, e);
            ids.push_back(e.SYSFILES);
        }
        return ids;
    }
    ULONG Current() {
        Entry e{};
        queue.Peek(std::size_t(window->Choice(kList)), e);
        return e.SYSFILES;
    }
};

std::vector<ULONG> Slice(const std::vector<ULONG>& v, std::size_t from, std::size_t n) {
    from = std::min(from, v.size());
    return std::vector<ULONG>(v.begin() + long(from), v.begin() + long(std::min(v.size(), from + n)));
}

void InApp(const std::function<void()>& body) {
    ui::test::RunApp(body);
}

TEST(BrowseManager, AppendOrderSetOrderAndRangeTexts) {
    InApp([] {
        Rig r;
        r.Start(5);
        EXPECT_EQ(r.brw.OrderText(), "UPPER(FILES:NAME),FILES:SysFILES");
        r.brw.AppendOrder("FILES:SIZE");  // a second expression joins the first with ","
        EXPECT_EQ(r.brw.CurrentOrder()->ORDER, "FILES:SysFILES,FILES:SIZE");
        r.brw.AppendOrder("*FILES:DIR");  // "*" replaces
        EXPECT_EQ(r.brw.CurrentOrder()->ORDER, "FILES:DIR");
        r.brw.SetOrder("FILES:Size");  // the key no longer leads
        EXPECT_EQ(r.brw.OrderText(), "FILES:Size");
        EXPECT_EQ(r.brw.ApplyOrder(), 0);
        EXPECT_EQ(r.view.OrderBy(true), "SIZE,SYSFILES");

        // Ranges: type 1 equal values, type 3 the last between low and high; named filters.
        ULONG computer = 1, low = 10, high = 20;
        r.brw.AddSortOrder(&r.table.KEYSYSFILES);
        EXPECT_EQ(r.brw.SortOrders(), 2u);
        r.brw.AddRange("FILES:SYSCOMPUTER", &computer);
        EXPECT_EQ(r.brw.RangeText(), "FILES:SYSCOMPUTER = 1");
        r.brw.AddRange("FILES:SIZE", &low, &high, RangeRange);
        EXPECT_EQ(r.brw.RangeText(), "FILES:SYSCOMPUTER = 1 AND FILES:SIZE >= 10 AND FILES:SIZE <= 20");
        r.brw.SetFilter("FILES:NAME <> 'x'", "names");
        EXPECT_EQ(r.brw.RangeText(),
                  "FILES:SYSCOMPUTER = 1 AND FILES:SIZE >= 10 AND FILES:SIZE <= 20 AND (FILES:NAME <> 'x')");
        r.brw.SetFilter("", "names");
        EXPECT_EQ(r.brw.RangeText().find("NAME"), std::string::npos);
        // SetSort: 0 means 1; the current one gives 0.
        EXPECT_EQ(r.brw.SetSort(0), 1);
        EXPECT_EQ(r.brw.SetSort(1), 0);
    });
}

TEST(BrowseManager, ScrollingKeepsOnlyTheVisibleRows) {
    InApp([] {
        Rig r;
        r.Insert(37);
        r.Start(6);
        const std::vector<ULONG> all = r.NameOrder();
        EXPECT_EQ(r.Shown(), Slice(all, 0, 6));
        EXPECT_EQ(r.window->Choice(kList), 1);
        // By row at the bottom edge: one row dropped at the top, one added.
        r.brw.ScrollOne(true);
        EXPECT_EQ(r.Shown(), Slice(all, 1, 6));
        EXPECT_EQ(r.Current(), all[6]);
        // By page, over ties of equal names.
        for (int p = 0; p < 3; ++p) r.brw.ScrollPage(true);
        EXPECT_EQ(r.Shown(), Slice(all, 19, 6));
        r.brw.ScrollPage(false);
        EXPECT_EQ(r.Shown(), Slice(all, 13, 6));
        r.brw.ScrollOne(false);
        EXPECT_EQ(r.Shown(), Slice(all, 12, 6));
        EXPECT_EQ(r.Current(), all[12]);
        // To the ends.
        r.brw.ScrollEnd(true);
        EXPECT_EQ(r.Shown(), Slice(all, 31, 6));
        EXPECT_EQ(r.Current(), all.back());
        r.brw.ScrollOne(true);  // nothing below the last row
        EXPECT_EQ(r.Shown(), Slice(all, 31, 6));
        r.brw.ScrollPage(false);
        EXPECT_EQ(r.Shown(), Slice(all, 25, 6));
        r.brw.ScrollEnd(false);
        EXPECT_EQ(r.Shown(), Slice(all, 0, 6));
        r.brw.ScrollPage(false);  // nothing above the first
        EXPECT_EQ(r.Shown(), Slice(all, 0, 6));
        // The whole view page by page: every row once, never more rows than the list shows.
        std::vector<ULONG> seen = r.Shown();
        for (int p = 0; p < 20 && seen.size() < all.size(); ++p) {
            r.brw.ScrollPage(true);
            EXPECT_LE(r.queue.Records(), 6u);
            std::vector<ULONG> now = r.Shown();
            for (ULONG id : now)
                if (std::find(seen.begin(), seen.end(), id) == seen.end()) seen.push_back(id);
        }
        EXPECT_EQ(seen, all);
        EXPECT_TRUE(r.errors.shown.empty());
    });
}

TEST(BrowseManager, ListEventsScrollAndLocateThroughTheWindow) {
    InApp([] {
        Rig r;
        r.Insert(20);
        r.Start(5);
        const std::vector<ULONG> all = r.NameOrder();
        auto deliver = [&](Event e, LONG key = 0) { return r.brw.HandleEvent(WindowEvent{e, kList, key}); };
        EXPECT_EQ(deliver(Event::ScrollDown), SevNotify);
        EXPECT_EQ(r.Shown(), Slice(all, 1, 5));
        deliver(Event::PageDown);
        EXPECT_EQ(r.Shown(), Slice(all, 6, 5));
        deliver(Event::ScrollBottom);
        EXPECT_EQ(r.Shown(), Slice(all, 15, 5));
        deliver(Event::ScrollTop);
        EXPECT_EQ(r.Shown(), Slice(all, 0, 5));
        // The locator: typed keys (upper-case codes) position at the first name that
        // begins with them, without regard to case.
        deliver(Event::Locate, 'D');
        EXPECT_EQ(r.rows[r.Current() - 1].first == "Delta" || r.rows[r.Current() - 1].first == "delta", true);
        EXPECT_EQ(r.window->Choice(kList), 1);
        const std::size_t first_delta =
            std::size_t(std::find(all.begin(), all.end(), r.Current()) - all.begin());
        EXPECT_EQ(r.Shown(), Slice(all, first_delta, 5));
        deliver(Event::Locate, 'E');
        deliver(Event::Locate, 'L');
        EXPECT_EQ(r.brw.CurrentOrder()->LOCATOR->TEXT, "DEL");
        deliver(Event::Locate, ui::key::BackSpace);
        EXPECT_EQ(r.brw.CurrentOrder()->LOCATOR->TEXT, "DE");
        // Past the last name: the list shows the last rows (filled upwards).
        r.brw.Locate("zz");
        EXPECT_EQ(r.Shown(), Slice(all, 15, 5));
        // Accepting the locator's entry locates by its text.
        r.locate = "gam";
        r.window->Display(kEntry);
        r.brw.HandleEvent(WindowEvent{Event::Accepted, kEntry, 0});
        EXPECT_EQ(r.rows[r.Current() - 1].first, "gamma");
        // A real key on the real list: Down on the last row scrolls.
        deliver(Event::ScrollTop);
        r.window->Select(kList, 5);
        ASSERT_TRUE(ui::testing::PressKey(*r.window, kList, ui::key::Down));
        ASSERT_EQ(ui::test::NextReal(*r.window), Event::ScrollDown);
        const std::vector<ULONG> before = r.Shown();
        deliver(r.window->CurrentEvent());
        EXPECT_EQ(r.Shown().front(), before[1]);
    });
}

TEST(BrowseManager, ShortViewsAndTheUnfilledRule) {
    InApp([] {
        Rig r;
        r.Insert(4);
        r.Start(10);
        // Fewer rows than the list shows: from the top, the rest empty.
        EXPECT_EQ(r.Shown(), r.NameOrder());
        r.brw.ScrollPage(true);
        EXPECT_EQ(r.Shown(), r.NameOrder());
    });
    InApp([] {
        Rig r;
        r.Insert(12);
        r.Start(5);
        const std::vector<ULONG> all = r.NameOrder();
        // Locating the last name: with ALLOWUNFILLED 0 the list fills upwards...
        r.brw.Locate("EPSILON");
        EXPECT_EQ(r.Shown().size(), 5u);
        EXPECT_EQ(r.Shown().back(), all.back());
        // ...with 1 it keeps the located row at the top and leaves the rest empty.
        r.brw.ALLOWUNFILLED = 1;
        r.brw.Locate("EPSILON");
        EXPECT_LT(r.Shown().size(), 5u);
        EXPECT_EQ(r.rows[r.Shown().front() - 1].first, "epsilon");
    });
}

TEST(BrowseManager, ResetAfterAnUpdateKeepsTheRowOnItsLine) {
    InApp([] {
        Rig r;
        r.Insert(30);
        r.Start(8);
        r.brw.ScrollPage(true);
        r.window->SetChoice(kList, 5);
        const ULONG id = r.Current();
        // Another station changes the current row: the reset shows the new value with the
        // row on the same line.
        r.table.SYSFILES = id;
        ASSERT_EQ(Get(r.table.KEYSYSFILES), 0);
        r.table.SIZE = 999;
        ASSERT_EQ(Put(r.table.file), 0) << FileError();
        r.brw.ResetQueue(1);
        EXPECT_EQ(r.window->Choice(kList), 5);
        EXPECT_EQ(r.Current(), id);
        Entry e{};
        r.queue.Peek(5, e);
        EXPECT_EQ(e.SIZE, 999u);
        EXPECT_EQ(r.queue.Records(), 8u);
        // A forced refresh keeps it as well.
        r.brw.Refresh(1);
        EXPECT_EQ(r.Current(), id);
        EXPECT_EQ(r.window->Choice(kList), 5);
        // The row the view read last (the list's last line) is read again too, not served
        // from the view's buffer.
        r.window->SetChoice(kList, 8);
        const ULONG last = r.Current();
        r.table.SYSFILES = last;
        ASSERT_EQ(Get(r.table.KEYSYSFILES), 0);
        r.table.SIZE = 4321;
        ASSERT_EQ(Put(r.table.file), 0) << FileError();
        r.brw.ResetQueue(1);
        EXPECT_EQ(r.window->Choice(kList), 8);
        r.queue.Peek(8, e);
        EXPECT_EQ(e.SYSFILES, last);
        EXPECT_EQ(e.SIZE, 4321u);
    });
}

TEST(BrowseManager, OpenAndReadFailuresRaiseTheirMessages) {
    InApp([] {
        Rig r;
        r.Insert(6);
        // A filter the server refuses at open: message 40, the browse goes on unfiltered.
        r.view.SetSqlFilter("no_such_column = 1");
        r.Start(10);
        EXPECT_TRUE(r.errors.Shown("View Open Error")) << (r.errors.shown.empty() ? "" : r.errors.shown[0]);
        EXPECT_EQ(r.queue.Records(), 6u);
        // A filter refused while reading: message 1, the fetch stops, the list is empty.
        r.errors.shown.clear();
        r.view.SetSqlFilter("no_such_column = 2");
        r.brw.ResetSort(1);
        EXPECT_TRUE(r.errors.Shown("Record Retrieval Error"));
        EXPECT_EQ(r.queue.Records(), 0u);
        // A filter that matches nothing leaves the list empty without a message.
        r.errors.shown.clear();
        r.view.SetSqlFilter("(SysFILES > 1000)");
        r.brw.ResetSort(1);
        EXPECT_EQ(r.queue.Records(), 0u);
        EXPECT_TRUE(r.errors.shown.empty());
    });
}

TEST(BrowseManager, StandardPopupMirrorsTheButtons) {
    InApp([] {
        Rig r;
        r.Insert(3);
        r.Start(5);
        ui::testing::TakeShownPopups();
        ui::testing::AnswerPopup(0);
        r.brw.HandleEvent(WindowEvent{Event::AlertKey, kList, ui::key::MouseRightUp});
        const std::vector<std::string> shown = ui::testing::TakeShownPopups();
        ASSERT_EQ(shown.size(), 1u);
        // Only the change button exists: it gives its text; the others are disabled.
        EXPECT_NE(shown[0].find("Change"), std::string::npos) << shown[0];
        EXPECT_NE(shown[0].find("~&Insert&Insert|"), std::string::npos) << shown[0];
        EXPECT_EQ(shown[0].find('!'), std::string::npos) << shown[0];
        EXPECT_EQ(shown[0].find("~Change"), std::string::npos) << shown[0];
        EXPECT_EQ(r.brw.POPUP->GetItems(), 9u);
    });
}

}  // namespace
}  // namespace dt::test
