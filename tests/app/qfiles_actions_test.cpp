// What people do with the results: sorting by a click on a column header (every column,
// both directions, the tie rule, the order kept in the settings file), several rows
// selected and copied (popup entries and Ctrl+C), another computer's rows offering only
// the copy entries, "Open containing folder" falling back to the desktop's opener when no
// session bus answers, and every column readable at its default width at scale 1 and 2
// (results list, computer list, browse list). Offscreen, over the embedded database.
#include <algorithm>
#include <cctype>
#include <thread>

#include "app/browse_files.h"
#include "app/main_window.h"
#include "app/program.h"
#include "app/qfiles.h"
#include "app/setup_window.h"
#include "data/statements.h"
#include "platform/profile.h"
#include "runtime/picture.h"
#include "runtime/stddate.h"
#include "tests/app/qfiles_fixture.h"
#include "tests/ui/gui_support.h"
#include "ui/desktop.h"
#include "ui/testing.h"
#include "ui/window.h"

namespace dt {
namespace {

using qtest::SearchSite;

// One crafted row: the list's entry and the whole directory and name.
struct Crafted {
    std::string name, ext, dir;
    int year, month, day, hour, minute;
    ULONG size;
    std::string computer;
};

// Rows chosen so that every column has ties, names differ only in case, and the time of
// day alone would give another order than the whole time stamp.
std::vector<Crafted> CraftedRows() {
    return {
        {"beta.txt", "txt", "/b/", 2024, 5, 1, 23, 0, 300, "OTHERBOX"},
        {"Alpha.doc", "doc", "/a/", 2024, 5, 2, 1, 0, 100, "THISBOX"},
        {"alpha.doc", "doc", "/c/", 2024, 5, 2, 1, 0, 100, "THISBOX"},
        {"gamma", "", "/a/", 2023, 1, 1, 12, 0, 300, "LATEBOX"},
        {"beta.txt", "txt", "/a/", 2024, 5, 1, 23, 0, 300, "THISBOX"},
        {"delta.PDF", "PDF", "/d/", 2025, 12, 31, 0, 5, 5000000000u % 4294967296u, "OTHERBOX"},
    };
}

class QFilesActionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        site_.emplace("drivetrek");
        ASSERT_TRUE(site_->Seed());
    }
    void TearDown() override { site_.reset(); }

    void InFrame(const std::function<void()>& body) {
        ui::test::RunApp([&] {
            ProgramFrame(false, [&] {
                SearchSite::LoadGlobals();
                QCOMPUTER.Free();
                QCOMPUTER.ClearBuffer();
                QCOMPUTER.NAME = "all computers";
                QCOMPUTER.Add();
                for (auto [name, id] :
                     {std::pair{"THISBOX", site_->this_id}, {"OTHERBOX", site_->other_id}}) {
                    QCOMPUTER.ClearBuffer();
                    QCOMPUTER.NAME = name;
                    QCOMPUTER.SYSCOMPUTER = id;
                    QCOMPUTER.Add();
                }
                COMPUTER.SYSCOMPUTER = site_->this_id;
                COMPUTER.NAME = "THISBOX";
                body();
                return 0;
            });
        });
    }

    static void Request(const std::string& filter) {
        G::FILTER1 = filter;
        G::EXTENSION = "";
        G::SEARCHDIR = 0;
        G::SIZE_FROM = G::SIZE_TO = 0;
        G::SEARCHCOMPUTER = "all computers";
        G::SEARCHSYSCOMPUTER = 0;
        G::STARTCLOCK = ClockTime();
    }

    // Replaces what the search found by the crafted rows (row numbers 1 .. n), in the
    // order they came (whatever order the settings file kept).
    void Craft(QFilesWindow& q) {
        q.SORTCOLUMN = 0;
        q.SORTDESCENDING = false;
        q.QFILES.Free();
        q.FOUND.clear();
        q.ROWNO.clear();
        std::uint32_t n = 0;
        for (const Crafted& c : CraftedRows()) {
            q.QFILES.ClearBuffer();
            q.QFILES.NAME = c.name;
            q.QFILES.EXTENSION = c.ext;
            q.QFILES.DIR = c.dir;
            q.QFILES.DATE = DATE::FromStandard(MakeDate(c.year, c.month, c.day));
            q.QFILES.TIME = TIME::FromStandard(MakeTime(c.hour, c.minute, 0, 0));
            q.QFILES.SIZE = c.size;
            q.QFILES.COMPUTER = c.computer;
            q.QFILES.SYSCOMPUTER = c.computer == "THISBOX" ? site_->this_id : site_->other_id;
            q.QFILES.C1 = q.QFILES.C2 = q.QFILES.C3 = q.QFILES.C4 = -1;
            q.QFILES.Add();
            q.FOUND.Add(c.dir, c.name);
            q.ROWNO.push_back(++n);
        }
    }

    std::optional<SearchSite> site_;
};

// The crafted rows' numbers (1-based, as crafted) in the order the window lists them.
std::vector<std::uint32_t> Listed(QFilesWindow& q) {
    return q.ROWNO;
}

TEST_F(QFilesActionsTest, EveryColumnSortsBothWaysWithTiesByNameThenRowNumber) {
    // Expected orders, worked out by hand from CraftedRows (row numbers 1 .. 6).
    // Names folded: alpha(2), alpha(3), beta(1), beta(5), delta(6), gamma(4); equal folded
    // names "Alpha.doc"/"alpha.doc" are ordered by their bytes ("A" before "a").
    const std::vector<std::vector<std::uint32_t>> ascending = {
        {2, 3, 1, 5, 6, 4},  // name
        {4, 2, 3, 6, 1, 5},  // extension: "", doc, doc, PDF, txt, txt
        {2, 5, 4, 1, 3, 6},  // dir: /a/ (Alpha, beta, gamma by name), /b/, /c/, /d/
        {4, 1, 5, 2, 3, 6},  // date: the whole time stamp
        {4, 1, 5, 2, 3, 6},  // time: the same, not the time of day (which puts 6 first)
        {2, 3, 1, 5, 4, 6},  // size: 100, 100, 300 x3 (beta, beta, gamma), 705032704
        {4, 1, 6, 2, 3, 5},  // computer: LATEBOX, OTHERBOX (beta, delta), THISBOX (...)
    };
    const std::vector<std::vector<std::uint32_t>> descending = {
        {4, 6, 1, 5, 2, 3},  // name: the ties of folded names stay in byte, then row order
        {1, 5, 6, 2, 3, 4},  // extension
        {6, 3, 1, 2, 5, 4},  // dir
        {6, 2, 3, 1, 5, 4},  // date
        {6, 2, 3, 1, 5, 4},  // time
        {6, 1, 5, 4, 2, 3},  // size
        {2, 3, 5, 1, 6, 4},  // computer
    };
    std::vector<std::vector<std::uint32_t>> up(7), down(7);
    InFrame([&] {
        Request("report");
        QFiles([&](QFilesWindow& q) {
            Craft(q);
            for (int column = 1; column <= 7; ++column) {
                q.HeaderClicked(column);
                up[column - 1] = Listed(q);
                q.HeaderClicked(column);
                down[column - 1] = Listed(q);
            }
            q.WINDOW->Post(ui::Event::CloseWindow);
        });
    });
    for (int c = 0; c < 7; ++c) {
        EXPECT_EQ(up[c], ascending[c]) << "column " << c + 1 << " ascending";
        EXPECT_EQ(down[c], descending[c]) << "column " << c + 1 << " descending";
    }
}

TEST_F(QFilesActionsTest, AHeaderClickSortsTheListAndTheOrderIsKeptForTheNextSearch) {
    std::vector<ULONG> sizes_next_time;
    std::vector<std::uint32_t> pending_order;
    std::string saved;
    // The sizes of the rows in list order.
    auto sizes = [](QFilesWindow& q) {
        std::vector<ULONG> v;
        QFILES_RECORD e;
        for (std::size_t i = 1; q.QFILES.Peek(i, e); ++i) v.push_back(e.SIZE);
        return v;
    };
    InFrame([&] {
        Request("report");
        QFiles([&](QFilesWindow& q) {
            // The size header twice: largest first. The click goes through the list's header
            // and the window's loop, like a user's.
            ASSERT_TRUE(ui::testing::ClickHeader(*q.WINDOW, QFilesCtl::BROWSE1, 6));
            ASSERT_TRUE(ui::testing::ClickHeader(*q.WINDOW, QFilesCtl::BROWSE1, 6));
            q.WINDOW->Post(ui::Event::CloseWindow);
        });
        saved = platform::ReadProfileString("./drivetrek.ini", "List", "qFILES_List1_Sort", "");
        Request("report");
        QFiles([&](QFilesWindow& q) {
            sizes_next_time = sizes(q);
            // While rows are read, a click only notes the order; the rows stay as they are.
            Craft(q);
            q.READING = true;
            q.HeaderClicked(1);
            pending_order = q.ROWNO;
            EXPECT_TRUE(q.SORTPENDING);
            q.READING = false;
            q.WINDOW->Post(ui::Event::CloseWindow);
        });
    });
    EXPECT_EQ(saved, "6D");
    ASSERT_EQ(sizes_next_time.size(), 11u);
    // Largest first.
    const std::vector<ULONG> expected = {1024, 1024, 1023, 1023, 10, 10, 10, 5, 5, 4, 4};
    EXPECT_EQ(sizes_next_time, expected);
    EXPECT_EQ(pending_order, (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(QFilesActionsTest, CopyEntriesAndCtrlCPutPathsAndNamesOnTheClipboard) {
    std::vector<std::string> copied;
    InFrame([&] {
        // One window per action: the action runs in the window's loop once the hook has
        // returned; the clipboard is read after the window has closed.
        auto act = [&](const std::vector<int>& rows, int key, int entry) {
            ui::SetClipboardText("");
            Request("report");
            QFiles([&](QFilesWindow& q) {
                Craft(q);
                // By name: Alpha.doc /a/, alpha.doc /c/, beta.txt /b/ (OTHERBOX), beta.txt /a/,
                // delta.PDF (OTHERBOX), gamma (LATEBOX).
                q.HeaderClicked(1);
                q.WINDOW->SetSelectedRows(QFilesCtl::BROWSE1, rows);
                if (entry > 0) ui::testing::AnswerPopup(entry);
                EXPECT_TRUE(ui::testing::PressKey(*q.WINDOW, QFilesCtl::BROWSE1, key));
                q.WINDOW->Post(ui::Event::CloseWindow);
            });
            copied.push_back(ui::ClipboardText());
        };
        act({1, 2}, ui::key::MouseRight, RowMenu::COPYPATH);
        act({2, 1}, ui::key::MouseRight, RowMenu::COPYNAME);
        // Ctrl+C: the full paths of the selection, one of them another computer's file.
        act({4, 1, 3}, ui::key::kCtrl | 'C', 0);
        // A row of another computer: the copy entries work.
        act({3}, ui::key::MouseRight, RowMenu::COPYNAME);
        // A cancelled menu and the info entry copy nothing.
        act({1}, ui::key::MouseRight, 0);
    });
    ASSERT_EQ(copied.size(), 5u);
    EXPECT_EQ(copied[0], "/a/Alpha.doc\n/c/alpha.doc");
    EXPECT_EQ(copied[1], "Alpha.doc\nalpha.doc");
    EXPECT_EQ(copied[2], "/a/Alpha.doc\n/b/beta.txt\n/a/beta.txt");
    EXPECT_EQ(copied[3], "beta.txt");
    EXPECT_EQ(copied[4], "");
    const std::vector<std::string> popups = ui::testing::TakeShownPopups();
    ASSERT_EQ(popups.size(), 4u);
    EXPECT_EQ(popups[0], RowMenuText("Alpha.doc", true));
    EXPECT_EQ(popups[1], RowMenuText("alpha.doc", true));
    EXPECT_EQ(popups[2], RowMenuText("beta.txt", false));
    // Another computer's rows: the open entry is shown disabled, so the numbers stay.
    EXPECT_NE(popups[2].find("|-|~Open containing folder|Copy full path|Copy name"), std::string::npos);
    EXPECT_NE(popups[0].find("|-|Open containing folder|Copy full path|Copy name"), std::string::npos);
    EXPECT_EQ(ui::PopupEntries(popups[2]), RowMenu::COPYNAME);
}

TEST_F(QFilesActionsTest, OpenContainingFolderWithoutABusOpensTheFolderWithTheDesktopOpener) {
    // No session bus: the file manager cannot be asked.
    test::ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    const std::string bin = *site_ / "bin";
    std::filesystem::create_directories(bin);
    const std::string log = *site_ / "opened.txt";
    test::WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log + "'\n");
    std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
    test::ScopedEnv path("PATH", (bin + ":" + qtest::Env("PATH")).c_str());
    ui::ShowItemsResult direct = ui::ShowItemsResult::Shown;
    InFrame([&] {
        direct = ui::ShowInFileManager({site_->Tree() + "notes.txt"});
        Request("report");
        QFiles([&](QFilesWindow& q) {
            // A local file in deep/ and one in the tree's top: two folders.
            int deep = 0, top = 0;
            QFILES_RECORD e;
            for (std::size_t i = 1; q.QFILES.Peek(i, e); ++i) {
                if (e.SYSCOMPUTER != site_->this_id) continue;
                if (q.FOUND.at(i - 1).dir.ends_with("deep/"))
                    deep = static_cast<int>(i);
                else if (top == 0)
                    top = static_cast<int>(i);
            }
            ASSERT_GT(deep, 0);
            ASSERT_GT(top, 0);
            q.WINDOW->SetSelectedRows(QFilesCtl::BROWSE1, {top, deep});
            ui::testing::AnswerPopup(RowMenu::OPENFOLDER);
            ASSERT_TRUE(ui::testing::PressKey(*q.WINDOW, QFilesCtl::BROWSE1, ui::key::MouseRight));
            q.WINDOW->Post(ui::Event::CloseWindow);
        });
    });
    EXPECT_EQ(direct, ui::ShowItemsResult::NoBus);
    std::string text;
    for (int i = 0; i < 100; ++i) {
        text = test::ReadFile(log);
        if (std::count(text.begin(), text.end(), '\n') >= 2) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(text.substr(at, nl - at));
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{site_->Tree(), site_->Tree() + "deep/"}));
}

// ---------------------------------------------------------------- freshness

TEST_F(QFilesActionsTest, AStaleIndexIsFlaggedInTheComputerListAndInTheFileInfo) {
    // THISBOX scanned 2 days ago, OTHERBOX 11 days ago, LATEBOX never; the limit is 10.
    platform::WriteProfileString("./drivetrek.ini", "options", "staledays", "10");
    const LONG today = Today();
    struct Listed {
        std::string name, days;
        LONG color;
    };
    std::vector<Listed> listed;
    std::vector<std::string> infos;
    InFrame([&] {
        Relate::COMPUTER->Open();
        ASSERT_EQ(Access::COMPUTER->UseFile(), 0);
        for (auto [id, ago] : {std::pair{site_->this_id, 2}, {site_->other_id, 11}}) {
            COMPUTER.SYSCOMPUTER = id;
            ASSERT_EQ(Access::COMPUTER->Fetch(COMPUTER.KEYSYSCOMPUTER), 0);
            COMPUTER.LASTSCAN_DATE = DATE::FromStandard(today - ago);
            COMPUTER.LASTSCAN_TIME = TIME::FromStandard(MakeTime(8, 15, 0, 0));
            (void)SetNonull(COMPUTER.file, "COMPUTER:LASTSCAN");  // read as NULL: never scanned
            ASSERT_EQ(Access::COMPUTER->Update(), 0);
        }
        MainWindow main;
        main.FillComputerList();
        Relate::COMPUTER->Close();
        QCOMPUTER_RECORD e;
        for (std::size_t i = 1; QCOMPUTER.Peek(i, e); ++i)
            listed.push_back({std::string(e.NAME.View()), std::string(e.DAYS.View()), e.C1});
        COMPUTER.SYSCOMPUTER = site_->this_id;
        for (ULONG sys : {site_->this_id, site_->other_id}) {
            Request("report 2002");
            QFiles(
                [&](QFilesWindow& q) {
                    QFILES_RECORD r;
                    for (std::size_t i = 1; q.QFILES.Peek(i, r); ++i)
                        if (r.SYSCOMPUTER == sys)
                            q.WINDOW->SetChoice(QFilesCtl::BROWSE1, static_cast<int>(i));
                    ui::testing::AnswerPopup(RowMenu::INFO);
                    EXPECT_TRUE(ui::testing::PressKey(*q.WINDOW, QFilesCtl::BROWSE1, ui::key::MouseRight));
                },
                [&](QFilesWindow& q, ui::Window& info) {
                    infos.push_back(ui::testing::ControlText(info, InfoCtl::STALE));
                    ui::testing::Click(info, InfoCtl::CLOSEBUTTON);
                    q.WINDOW->Post(ui::Event::CloseWindow);
                });
        }
    });
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0].name, "all computers");
    EXPECT_EQ(listed[0].color, -1);
    EXPECT_EQ(listed[1].name, "THISBOX");
    EXPECT_EQ(listed[1].days, "2");
    EXPECT_EQ(listed[1].color, -1);
    EXPECT_EQ(listed[2].name, "OTHERBOX");
    EXPECT_EQ(listed[2].days, "11");
    EXPECT_EQ(listed[2].color, kStaleComputerColor);
    // Never scanned: no days, and stale.
    EXPECT_EQ(listed[3].name, "LATEBOX");
    EXPECT_EQ(listed[3].days, "");
    EXPECT_EQ(listed[3].color, kStaleComputerColor);
    auto trim = [](const std::string& t) {
        const std::size_t b = t.find_first_not_of(' ');
        return t.substr(b, t.find_last_not_of(' ') - b + 1);
    };
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].find_first_not_of(' '), std::string::npos) << infos[0];
    EXPECT_EQ(trim(infos[1]),
              "index of OTHERBOX last refreshed on " + trim(Format(today - 11, "D17")) + " 08:15:00");
}

// Pictures of the changed windows at scale 1 and 2, for a person to look at (under the
// build directory): the results sorted by size with two rows selected, the information
// window of a stale computer's file, the main window's computer list and the browse.
TEST_F(QFilesActionsTest, ScreenshotsOfTheChangedWindowsAtBothScales) {
    const std::filesystem::path out(DT_TEST_OUTPUT_DIR);
    for (const char* scale : {"1", "2"}) {
        test::ScopedEnv factor("QT_SCALE_FACTOR", scale);
        const std::string tag = std::string("_x") + scale + ".png";
        std::vector<std::string> shots;
        InFrame([&] {
            // As the start-up fills the list: default colours (-1) on "all computers" too.
            QCOMPUTER.Get(1);
            QCOMPUTER.C1 = QCOMPUTER.C2 = QCOMPUTER.C3 = QCOMPUTER.C4 = -1;
            QCOMPUTER.Put();
            for (std::size_t i = 2; i <= QCOMPUTER.Records(); ++i) {
                QCOMPUTER.Get(i);
                QCOMPUTER.DATE = DATE::FromStandard(Today() - (i == 2 ? 1 : 30));
                QCOMPUTER.TIME = TIME::FromStandard(MakeTime(8, 15, 0, 0));
                QCOMPUTER.DAYS = i == 2 ? "1" : "30";
                QCOMPUTER.C1 = i == 2 ? -1 : kStaleComputerColor;
                QCOMPUTER.C2 = QCOMPUTER.C3 = QCOMPUTER.C4 = -1;
                QCOMPUTER.Put();
            }
            Request("report");
            QFiles(
                [&](QFilesWindow& q) {
                    q.SORTCOLUMN = 0;
                    q.HeaderClicked(6);
                    q.HeaderClicked(6);
                    q.WINDOW->SetSelectedRows(QFilesCtl::BROWSE1, {2, 3});
                    if (ui::testing::Screenshot(*q.WINDOW, (out / ("results" + tag)).string()))
                        shots.push_back("results");
                    QFILES_RECORD e;
                    for (std::size_t i = 1; q.QFILES.Peek(i, e); ++i)
                        if (e.SYSCOMPUTER == site_->other_id)
                            q.WINDOW->SetChoice(QFilesCtl::BROWSE1, static_cast<int>(i));
                    ui::testing::AnswerPopup(RowMenu::INFO);
                    ui::testing::PressKey(*q.WINDOW, QFilesCtl::BROWSE1, ui::key::MouseRight);
                },
                [&](QFilesWindow& q, ui::Window& info) {
                    if (ui::testing::Screenshot(info, (out / ("file_info" + tag)).string()))
                        shots.push_back("info");
                    ui::testing::Click(info, InfoCtl::CLOSEBUTTON);
                    q.WINDOW->Post(ui::Event::CloseWindow);
                });
            MainWindow main;
            ASSERT_EQ(main.WINDOW->Open(), 0);
            main.WINDOW->Display();
            if (ui::testing::Screenshot(*main.WINDOW, (out / ("main_window" + tag)).string()))
                shots.push_back("main");
            main.WINDOW->Close();
            BrowseFilesWindow browse;
            ASSERT_EQ(browse.WINDOW->Open(), 0);
            browse.WINDOW->Display();
            if (ui::testing::Screenshot(*browse.WINDOW, (out / ("browse" + tag)).string()))
                shots.push_back("browse");
            browse.WINDOW->Close();
            SetupWindow setup;
            ASSERT_EQ(setup.WINDOW->Open(), 0);
            setup.WINDOW->Display();
            EXPECT_EQ(ui::testing::ControlText(*setup.WINDOW, SetupCtl::LIVE), "results as you type");
            if (ui::testing::Screenshot(*setup.WINDOW, (out / ("setup" + tag)).string()))
                shots.push_back("setup");
            setup.WINDOW->Close();
        });
        EXPECT_EQ(shots, (std::vector<std::string>{"results", "info", "main", "browse", "setup"})) << scale;
    }
}

// ---------------------------------------------------------------- results as you type

// Waits (at most 10 s) for `pred`.
bool Eventually(const std::function<bool()>& pred) {
    for (int i = 0; i < 500 && !pred(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return pred();
}

// Runs the main procedure over the site; `drive` runs on a thread of its own once the main
// window is open, then the main window is closed.
void RunMainWindow(const std::function<void(MainWindow&)>& drive) {
    std::thread driver;
    GLO::INIFILE = "";
    ui::test::RunApp([&] {
        ProgramFrame(false, [&] {
            return MainProcedure([&](MainWindow& w) {
                driver = std::thread([&drive, &w] {
                    // The window settles first: its first activation redisplays the entries
                    // from their variables.
                    std::this_thread::sleep_for(std::chrono::milliseconds(500));
                    drive(w);
                    w.WINDOW->Post(ui::Event::CloseWindow);
                });
            });
        });
    });
    if (driver.joinable()) driver.join();
}

TEST_F(QFilesActionsTest, ResultsFollowTheTypingOnceAfterThePauseAndAStaleReadWritesNothing) {
    std::vector<std::string> shown;
    // The counters are the process's: this case counts from where they stand.
    const int r0 = LIVE.refreshes.load(), a0 = LIVE.abandoned.load();
    const std::size_t s0 = LIVE.Shown().size();
    int focus_after = 0, refreshes_short = -1, refreshes_burst = -1;
    bool window_short = true;
    RunMainWindow([&](MainWindow& w) {
        ui::Window& main = *w.WINDOW;
        // Two characters: nothing is searched, not even after a pause.
        ASSERT_TRUE(ui::testing::TypeKeys(main, MainCtl::FILTER1, "re"));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        window_short = LIVE.Window() != nullptr;
        refreshes_short = LIVE.refreshes.load() - r0;
        // The third character: one refresh after the pause, in a window that does not
        // take the focus from the entry.
        ASSERT_TRUE(ui::testing::TypeKeys(main, MainCtl::FILTER1, "p"));
        ASSERT_TRUE(Eventually([&] { return LIVE.refreshes.load() - r0 == 1; }));
        focus_after = main.Focus();
        // A burst of keys, then a pause: one refresh, for the whole text.
        ASSERT_TRUE(ui::testing::TypeKeys(main, MainCtl::FILTER1, "ort 2002"));
        ASSERT_TRUE(Eventually([&] { return LIVE.refreshes.load() - r0 == 2; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        refreshes_burst = LIVE.refreshes.load() - r0;
        // A key that arrives while a read runs: that read shows nothing, the newer one does.
        bool once = false;
        LIVE.SetReadHook([&] {
            if (once) return;
            once = true;
            // Six Backspaces ("report"), each asked for by the main window.
            const std::uint64_t before = LIVE.Generation();
            ASSERT_TRUE(ui::testing::TypeKeys(main, MainCtl::FILTER1, "\b\b\b\b\b\b"));
            ASSERT_TRUE(Eventually([&] { return LIVE.Generation() == before + 6; }));
        });
        ASSERT_TRUE(ui::testing::TypeKeys(main, MainCtl::FILTER1, "x"));  // "report 2002x": none
        ASSERT_TRUE(
            Eventually([&] { return LIVE.abandoned.load() - a0 == 1 && LIVE.refreshes.load() - r0 == 3; }));
        LIVE.SetReadHook({});
        shown = LIVE.Shown();
        shown.erase(shown.begin(), shown.begin() + static_cast<long>(s0));
        if (QFilesWindow* r = LIVE.Window()) r->WINDOW->Post(ui::Event::CloseWindow);
        ASSERT_TRUE(Eventually([] { return LIVE.Window() == nullptr; }));
    });
    EXPECT_FALSE(window_short);
    EXPECT_EQ(refreshes_short, 0);
    EXPECT_EQ(focus_after, MainCtl::FILTER1);
    EXPECT_EQ(refreshes_burst, 2);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_NE(shown[0].find("DriveTrek Queue - 11 Files ("), std::string::npos) << shown[0];
    EXPECT_NE(shown[1].find("DriveTrek Queue - 2 Files ("), std::string::npos) << shown[1];
    // The stale read of "report 2002x" (no hits) never showed its "0 Files".
    EXPECT_NE(shown[2].find("DriveTrek Queue - 11 Files ("), std::string::npos) << shown[2];
    EXPECT_EQ(LIVE.abandoned.load() - a0, 1);
}

TEST_F(QFilesActionsTest, WithLiveOffTypingSearchesNothing) {
    platform::WriteProfileString("./drivetrek.ini", "options", "live", "0");
    bool window = true;
    int refreshes = -1;
    const int r0 = LIVE.refreshes.load();
    RunMainWindow([&](MainWindow& w) {
        ASSERT_TRUE(ui::testing::TypeKeys(*w.WINDOW, MainCtl::FILTER1, "report"));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        window = LIVE.Window() != nullptr;
        refreshes = LIVE.refreshes.load() - r0;
    });
    EXPECT_FALSE(window);
    EXPECT_EQ(refreshes, 0);
}

// ---------------------------------------------------------------- column widths

// Every column of `field` in `w` shows its header and its picture's widest value whole.
void ExpectReadable(ui::Window& w, int field, const std::string& what, bool sortable) {
    const int columns = w.Columns(field);
    ASSERT_GT(columns, 0);
    for (int sorted = sortable ? 1 : 0; sorted <= (sortable ? columns : 0); ++sorted) {
        if (sortable) w.SetSortIndicator(field, sorted, false);
        const std::vector<ui::testing::ColumnFit> fits = ui::testing::ColumnFits(w, field);
        ASSERT_EQ(static_cast<int>(fits.size()), columns);
        for (int c = 0; c < columns; ++c) {
            const ui::testing::ColumnFit& f = fits[c];
            // With the indicator on another column, only the sorted column's header is checked.
            if (!sortable || sorted == c + 1) {
                EXPECT_LE(f.header_needed, f.width) << what << " header " << f.header;
            }
            EXPECT_LE(f.value_needed, f.width) << what << " column " << f.header << " value " << f.widest;
        }
    }
}

void CheckWidths(const char* scale) {
    test::ScopedEnv factor("QT_SCALE_FACTOR", scale);
    ui::test::RunApp([&] {
        QFilesWindow results;
        ASSERT_EQ(results.WINDOW->Open(), 0);
        ExpectReadable(*results.WINDOW, QFilesCtl::BROWSE1, std::string("results at ") + scale, true);
        results.WINDOW->Close();
        MainWindow main;
        ASSERT_EQ(main.WINDOW->Open(), 0);
        ExpectReadable(*main.WINDOW, MainCtl::LIST2, std::string("computers at ") + scale, false);
        main.WINDOW->Close();
        BrowseFilesWindow browse;
        ASSERT_EQ(browse.WINDOW->Open(), 0);
        ExpectReadable(*browse.WINDOW, BrowseCtl::BROWSE, std::string("browse at ") + scale, false);
        browse.WINDOW->Close();
    });
}

TEST(ListColumns, EveryColumnIsReadableAtItsDefaultWidthAtScaleOne) {
    CheckWidths("1");
}

TEST(ListColumns, EveryColumnIsReadableAtItsDefaultWidthAtScaleTwo) {
    CheckWidths("2");
}

}  // namespace
}  // namespace dt
