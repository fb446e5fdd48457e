// The file browse: its filter text (words, switches, apostrophes, a filter never cut), and
// the whole procedure on its own thread over the program's FILES table (embedded database,
// offscreen window), driven from the main procedure's thread as a user would: the name
// order at start with the main window's text in the entry, "/S" and "/D" with paging over
// ties, a word filter, the switch's order kept, opening a row (this computer's only), rows
// inserted by the main thread while the browse pages, and the position saved.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/browse_files.h"
#include "app/globals.h"
#include "app/program.h"
#include "app/tables.h"
#include "data/statements.h"
#include "platform/text.h"
#include "runtime/errors.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/gui_support.h"
#include "ui/application.h"
#include "ui/testing.h"

namespace dt {
namespace {

TEST(BrowseFilter, WordsAndSwitches) {
    BrowseOrder order = BrowseOrder::Unchanged;
    EXPECT_EQ(BuildBrowseFilter("", DialectOf(ServerKind::Embedded), false, &order), "(SysFILES > 0)");
    EXPECT_EQ(order, BrowseOrder::Unchanged);
    // "/s" alone: no term, size order.
    EXPECT_EQ(BuildBrowseFilter("/s", DialectOf(ServerKind::Embedded), false, &order), "(SysFILES > 0)");
    EXPECT_EQ(order, BrowseOrder::Size);
    // A word and the date switch.
    order = BrowseOrder::Unchanged;
    EXPECT_EQ(BuildBrowseFilter("xyz /d", DialectOf(ServerKind::Embedded), false, &order),
              "(SysFILES > 0) and (name like '%xyz%' or dir like '%xyz%')");
    EXPECT_EQ(order, BrowseOrder::Date);
    // A switch inside a word: the whole word is a switch.
    EXPECT_EQ(BuildBrowseFilter("xyz/Sdef", DialectOf(ServerKind::Embedded), false, &order),
              "(SysFILES > 0)");
    EXPECT_EQ(order, BrowseOrder::Size);
    // Both switches: the last one wins.
    EXPECT_EQ(BuildBrowseFilter("/S a /D", DialectOf(ServerKind::Embedded), false, &order),
              "(SysFILES > 0) and (name like '%a%' or dir like '%a%')");
    EXPECT_EQ(order, BrowseOrder::Date);
    // A trailing "/" is part of the last word, searched for literally.
    order = BrowseOrder::Unchanged;
    EXPECT_EQ(BuildBrowseFilter("abc/", DialectOf(ServerKind::Embedded), false, &order),
              "(SysFILES > 0) and (name like '%abc/%' or dir like '%abc/%')");
    EXPECT_EQ(order, BrowseOrder::Unchanged);
    // Two blanks make an empty word; trailing blanks none.
    EXPECT_EQ(
        BuildBrowseFilter("a  b   ", DialectOf(ServerKind::PostgreSQL), false, nullptr),
        "(SysFILES > 0) and (name ilike '%a%' or dir ilike '%a%') and (name ilike '%%' or dir ilike '%%')"
        " and (name ilike '%b%' or dir ilike '%b%')");
}

TEST(BrowseFilter, TypedTextNeverChangesTheStatementAndIsNeverCut) {
    // An apostrophe is doubled: it cannot end the literal.
    EXPECT_EQ(BuildBrowseFilter("o'brien", DialectOf(ServerKind::Embedded), false, nullptr),
              "(SysFILES > 0) and (name like '%o''brien%' or dir like '%o''brien%')");
    // Forty characters of mostly blanks: every empty word has its term and the text stays
    // whole (a cut condition would be invalid SQL).
    const std::string many = "a" + std::string(38, ' ') + "b";
    const std::string f = BuildBrowseFilter(many, DialectOf(ServerKind::Embedded), false, nullptr);
    EXPECT_GT(f.size(), 1024u);
    EXPECT_EQ(f.substr(f.size() - 35), "(name like '%b%' or dir like '%b%')");
    // Only forty characters are read.
    EXPECT_EQ(BuildBrowseFilter(std::string(40, 'x') + "/s", DialectOf(ServerKind::Embedded), false, nullptr),
              "(SysFILES > 0) and (name like '%" + std::string(40, 'x') + "%' or dir like '%" +
                  std::string(40, 'x') + "%')");
}

// ---------------------------------------------------------------- the procedure

struct Row {
    ULONG id;
    std::string name, dir;
    ULONG size;
    ULONG date;
    ULONG computer;
};

bool WaitFor(const std::function<bool()>& pred) {
    for (int i = 0; i < 500; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

class BrowseProcedure : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.empty());
        std::ofstream(dir_ / "win.ini").close();
        GLO::SQLOWNER = "Server,drivetrek,sa,;APP=DRIVETREK;WSID=TEST";
        GLO::SQLMASTEROWNER = "Server,master,sa,;APP=DRIVETREK;WSID=TEST";
        GLO::COMPUTERNAME = "TESTPC";
        G::THISSYSCOMPUTER = 1;  // the row Store gives this computer
        G::FILTER1 = "start text";
    }

    // Rows on the calling thread's FILES (and this computer's COMPUTER row).
    void Store(int count) {
        Relate::COMPUTER->Open();
        ASSERT_EQ(Access::COMPUTER->UseFile(), 0);
        COMPUTER.SYSCOMPUTER = 1;
        COMPUTER.NAME = "TESTPC";
        ASSERT_EQ(Add(COMPUTER.file), 0) << FileError();
        COMPUTER.SYSCOMPUTER = 2;
        COMPUTER.NAME = "OTHERPC";
        ASSERT_EQ(Add(COMPUTER.file), 0) << FileError();
        Relate::COMPUTER->Close();
        Relate::FILES->Open();
        ASSERT_EQ(Access::FILES->UseFile(), 0);
        const char* names[] = {"report.txt", "Report.txt", "notes.md", "NOTES.md", "photo.jpg", "a.out"};
        for (int i = 1; i <= count; ++i) {
            Row r{ULONG(i),
                  names[(i * 7) % 6],
                  i % 9 == 0 ? "/xyz/" : "/home/",
                  ULONG((i * 5) % 4) * 100,
                  dt::DATE{BYTE(1 + i % 3), 5, 2022}.Value(),
                  ULONG(i == 3 ? 2 : 1)};
            Insert(r);
        }
    }
    void Insert(const Row& r) {
        FILES.SYSFILES = r.id;
        FILES.SYSCOMPUTER = r.computer;
        FILES.NAME = r.name;
        FILES.EXTENSION = "";
        FILES.DIR = r.dir;
        FILES.TYPE = 32;
        FILES.DATE_DATE = dt::DATE::FromValue(r.date);
        FILES.DATE_TIME = dt::TIME{0, 0, 0, 12};
        FILES.SIZE = r.size;
        ASSERT_EQ(Add(FILES.file), 0) << FileError();
        std::lock_guard lock(rows_mutex_);
        rows_.push_back(r);
    }
    template <class Key>
    std::vector<ULONG> Expected(Key key, const std::function<bool(const Row&)>& keep = {}) {
        std::lock_guard lock(rows_mutex_);
        std::vector<Row> sorted;
        for (const Row& r : rows_)
            if (!keep || keep(r)) sorted.push_back(r);
        std::stable_sort(sorted.begin(), sorted.end(), [&](const Row& a, const Row& b) {
            return key(a) != key(b) ? key(a) < key(b) : a.id < b.id;
        });
        std::vector<ULONG> ids;
        for (const Row& r : sorted) ids.push_back(r.id);
        return ids;
    }
    static std::vector<ULONG> Shown(BrowseFilesWindow& w) {
        std::vector<ULONG> ids;
        for (std::size_t i = 1; i <= w.QUEUE.Records(); ++i) {
            BROWSE_QUEUE_RECORD e;
            if (w.QUEUE.Peek(i, e)) ids.push_back(e.SYSFILES);
        }
        return ids;
    }
    static std::vector<ULONG> Slice(const std::vector<ULONG>& v, std::size_t from, std::size_t n) {
        from = std::min(from, v.size());
        return std::vector<ULONG>(v.begin() + long(from), v.begin() + long(std::min(v.size(), from + n)));
    }

    test::TempWorkDir work_{"dt-browse-test-"};
    std::filesystem::path dir_ = work_.path();
    test::ScopedEnv profile_{"DRIVETREK_PROFILE", (dir_ / "win.ini").c_str()};
    std::mutex rows_mutex_;
    std::vector<Row> rows_;
};

TEST_F(BrowseProcedure, FiltersSwitchesPagingOpeningAndInsertsOfTheMainThread) {
    ui::test::RunApp([&] {
        auto body = [&] {
            Store(70);
            std::atomic<BrowseFilesWindow*> win{nullptr};
            std::atomic<bool> done{false};
            std::mutex open_mutex;
            std::vector<std::string> opened;
            const int thread = ui::Start(
                [&] {
                    RunBrowseFILES([&](BrowseFilesWindow& w) {
                        w.open_file = [&](const std::string& path) {
                            std::lock_guard lock(open_mutex);
                            opened.push_back(path);
                            return true;
                        };
                        win = &w;
                    });
                    done = true;
                },
                25000);
            ASSERT_GT(thread, 0);
            ASSERT_TRUE(WaitFor([&] { return win.load() != nullptr; }));
            BrowseFilesWindow& w = *win.load();
            ui::Window& window = *w.WINDOW;
            // Types a filter and waits until the browse has handled it to the end (its
            // redisplay of the entry included), so the next action cannot race with it.
            auto filter = [&](const std::string& text) {
                const int before = w.filters_applied.load();
                if (!ui::testing::Type(window, BrowseCtl::FILTER1, text)) return false;
                return WaitFor([&] { return w.filters_applied.load() > before; });
            };
            // The list shows as many rows as its height holds, which may change once while
            // the window settles: each check takes the count from the same snapshot.
            auto shows = [&](const std::vector<ULONG>& x, long page) {
                const std::vector<ULONG> s = Shown(w);
                const std::size_t n = s.size();
                if (n < 1) return false;
                const std::size_t from = page >= 0 ? std::size_t(page) * n : x.size() - std::min(n, x.size());
                return s == Slice(x, from, n) && (n >= 4 || n == x.size());
            };

            // Name order at start, the main window's text in the entry but not applied.
            const auto by_name = Expected([](const Row& r) { return Upper(r.name); });
            ASSERT_TRUE(WaitFor([&] { return shows(by_name, 0); }));
            EXPECT_EQ(ui::testing::ControlText(window, BrowseCtl::FILTER1), "start text");
            EXPECT_EQ(window.Title(), "DriveTrek");
            EXPECT_EQ(ui::testing::ListHeaders(window, BrowseCtl::BROWSE),
                      (std::vector<std::string>{"Name", "Dir", "Date", "Time", "Size"}));

            // "/s": every row, by size; pages forwards and backwards over equal sizes.
            ASSERT_TRUE(filter("/s"));
            const auto by_size = Expected([](const Row& r) { return r.size; });
            ASSERT_TRUE(WaitFor([&] { return shows(by_size, 0); }));
            window.Post(Event::PageDown, BrowseCtl::BROWSE);
            EXPECT_TRUE(WaitFor([&] { return shows(by_size, 1); }));
            window.Post(Event::PageDown, BrowseCtl::BROWSE);
            EXPECT_TRUE(WaitFor([&] { return shows(by_size, 2); }));
            window.Post(Event::PageUp, BrowseCtl::BROWSE);
            EXPECT_TRUE(WaitFor([&] { return shows(by_size, 1); }));
            window.Post(Event::ScrollBottom, BrowseCtl::BROWSE);
            EXPECT_TRUE(WaitFor([&] { return shows(by_size, -1); }));

            // "xyz /d": rows with xyz in name or directory, by date.
            ASSERT_TRUE(filter("xyz /d"));
            const auto xyz_by_date =
                Expected([](const Row& r) { return r.date; },
                         [](const Row& r) { return r.dir.find("xyz") != std::string::npos; });
            ASSERT_FALSE(xyz_by_date.empty());
            EXPECT_TRUE(WaitFor([&] { return shows(xyz_by_date, 0); }));
            EXPECT_EQ(w.filter_sql, "(SysFILES > 0) and (name like '%xyz%' or dir like '%xyz%')");

            // An empty filter: every row again, the date order kept.
            ASSERT_TRUE(filter(""));
            const auto by_date = Expected([](const Row& r) { return r.date; });
            EXPECT_TRUE(WaitFor([&] { return shows(by_date, 0); }));
            EXPECT_EQ(w.filter_sql, "(SysFILES > 0)");

            // Enter on the list opens the current row's file (the queue's row, by path).
            // The list stands at the top already: no event of the browse moves the choice.
            window.Select(BrowseCtl::BROWSE, 2);
            ASSERT_TRUE(ui::testing::PressKey(window, BrowseCtl::BROWSE, ui::key::Enter));
            const Row second = [&] {
                std::lock_guard lock(rows_mutex_);
                return *std::find_if(rows_.begin(), rows_.end(),
                                     [&](const Row& r) { return r.id == by_date[1]; });
            }();
            ASSERT_EQ(second.computer, 1u);
            ASSERT_TRUE(WaitFor([&] {
                std::lock_guard lock(open_mutex);
                return !opened.empty();
            }));
            {
                std::lock_guard lock(open_mutex);
                EXPECT_EQ(opened.back(), second.dir + second.name);
            }
            EXPECT_FALSE(w.last_open_foreign);

            // Another computer's file is not opened as a local file of the same path (row 3
            // lies on the other computer; it comes first by date).
            // (The list still shows the first rows by date; nothing is pending in the browse.)
            ASSERT_TRUE(shows(by_date, 0));
            ASSERT_EQ(by_date.front(), 3u);
            const std::size_t before = [&] {
                std::lock_guard lock(open_mutex);
                return opened.size();
            }();
            window.Select(BrowseCtl::BROWSE, 1);
            ASSERT_TRUE(ui::testing::PressKey(window, BrowseCtl::BROWSE, ui::key::Enter));
            EXPECT_TRUE(WaitFor([&] { return w.last_open_foreign.load(); }));
            {
                std::lock_guard lock(open_mutex);
                EXPECT_EQ(opened.size(), before);
            }

            // The main thread inserts through the same connection while the browse pages.
            ASSERT_TRUE(filter("/d"));
            for (int i = 0; i < 60; ++i) {
                Insert(Row{ULONG(1000 + i), "inserted" + std::to_string(i), "/new/", ULONG(i % 3) * 100,
                           dt::DATE{1, 1, 2021}.Value(), 1});
                if (i % 10 == 0) window.Post(Event::PageDown, BrowseCtl::BROWSE);
            }
            // A refresh keeps the current row; from the top the rows are all there, in order.
            ASSERT_TRUE(filter("/s"));
            const auto all_by_size = Expected([](const Row& r) { return r.size; });
            window.Post(Event::ScrollTop, BrowseCtl::BROWSE);
            EXPECT_TRUE(WaitFor([&] { return shows(all_by_size, 0); }));
            window.Post(Event::PageDown, BrowseCtl::BROWSE);
            EXPECT_TRUE(WaitFor([&] { return shows(all_by_size, 1); }));

            window.Post(Event::CloseWindow);
            ASSERT_TRUE(WaitFor([&] { return done.load(); }));
            Relate::FILES->Close();
            // Nothing was reported on the way.
            for (const auto& m : ui::testing::TakeShownMessages())
                ADD_FAILURE() << m.caption << ": " << m.text;
        };
        ProgramFrame(false, [&] {
            body();
            return 0;
        });
    });
    // The window's position is kept under "BrowseFILES" in the system profile.
    std::ifstream in(dir_ / "win.ini");
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_NE(ss.str().find("[BrowseFILES]"), std::string::npos) << ss.str();
}

TEST_F(BrowseProcedure, AnotherComputersFileIsNeverOpenedWhateverBecameOfItsRowOrItsName) {
    std::vector<std::string> opened;
    std::vector<bool> foreign;
    ui::test::RunApp([&] {
        ProgramFrame(false, [&] {
            // This computer is row 1; row 3 bears the same name, row 2 another one.
            Relate::COMPUTER->Open();
            EXPECT_EQ(Access::COMPUTER->UseFile(), 0);
            for (auto [id, name] : {std::pair{1u, "TESTPC"}, {2u, "OTHERPC"}, {3u, "TESTPC"}}) {
                COMPUTER.SYSCOMPUTER = id;
                COMPUTER.NAME = name;
                EXPECT_EQ(Add(COMPUTER.file), 0) << FileError();
            }
            Relate::COMPUTER->Close();
            Relate::FILES->Open();
            EXPECT_EQ(Access::FILES->UseFile(), 0);
            const ULONG date = dt::DATE{1, 5, 2022}.Value();
            Insert(Row{1, "a-here.txt", "/h/", 1, date, 1});
            Insert(Row{2, "b-same-name.txt", "/h/", 1, date, 3});
            Insert(Row{3, "c-other.txt", "/h/", 1, date, 2});
            Insert(Row{4, "d-other-deleted.txt", "/h/", 1, date, 2});
            Insert(Row{5, "e-here-deleted.txt", "/h/", 1, date, 1});
            std::atomic<BrowseFilesWindow*> win{nullptr};
            std::atomic<bool> done{false};
            std::mutex m;
            const int thread = ui::Start(
                [&] {
                    RunBrowseFILES([&](BrowseFilesWindow& w) {
                        w.open_file = [&](const std::string& path) {
                            std::lock_guard lock(m);
                            opened.push_back(path);
                            return true;
                        };
                        win = &w;
                    });
                    done = true;
                },
                25000);
            EXPECT_GT(thread, 0);
            EXPECT_TRUE(WaitFor([&] { return win.load() != nullptr; }));
            BrowseFilesWindow* w = win.load();
            if (w == nullptr) return 0;
            EXPECT_TRUE(WaitFor([&] { return w->QUEUE.Records() == 5; }));
            // Rows 4 and 5 go after they were listed.
            EXPECT_EQ(SetProperty(FILES.file, PROP_SQL, "delete from FILES where SysFILES in (4, 5)"), 0)
                << FileError();
            for (int row = 1; row <= 5; ++row) {
                const int before = w->opens_decided.load();
                w->WINDOW->Select(BrowseCtl::BROWSE, row);
                EXPECT_TRUE(ui::testing::PressKey(*w->WINDOW, BrowseCtl::BROWSE, ui::key::Enter));
                EXPECT_TRUE(WaitFor([&] { return w->opens_decided.load() > before; })) << row;
                foreign.push_back(w->last_open_foreign.load());
            }
            w->WINDOW->Post(Event::CloseWindow);
            EXPECT_TRUE(WaitFor([&] { return done.load(); }));
            Relate::FILES->Close();
            return 0;
        });
    });
    // By name: a-here, b-same-name, c-other, d-other-deleted, e-here-deleted.
    EXPECT_EQ(foreign, (std::vector<bool>{false, true, true, true, false}));
    EXPECT_EQ(opened, (std::vector<std::string>{"/h/a-here.txt", "/h/e-here-deleted.txt"}));
}

}  // namespace
}  // namespace dt
