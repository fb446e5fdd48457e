// The search results window offscreen, inside the program frame, over a site scanned as
// three computers: the caption, the rows with their colours and computer names, the
// information window, the popup's disabled entries, opening files (through a stand-in
// xdg-open), refusing files of other computers, column widths across a restart, a
// statement the server rejects, and dtfind finding exactly what the window lists.
// Built for SQLite and for PostgreSQL (tests/support/backend.h).
#include <regex>

#include "app/program.h"
#include "app/qfiles.h"
#include "app/setup_window.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "runtime/picture.h"
#include "runtime/stddate.h"
#include "tests/app/qfiles_fixture.h"
#include "tests/ui/gui_support.h"
#include "ui/testing.h"
#include "ui/window.h"

namespace dt {
namespace {

using qtest::LongName;
using qtest::SearchSite;
using ui::testing::ControlText;

constexpr LONG kDefault = -1;

// One row of the window as the test saw it.
struct Row {
    QFILES_RECORD entry;
    FoundFile found;
};

class QFilesGuiTest : public test::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        const std::string database = IsPostgres() ? MakeDatabase("dtsearch") : "drivetrek";
        ASSERT_FALSE(database.empty());
        site_.emplace(database);
        ASSERT_TRUE(site_->Seed());
    }
    void TearDown() override {
        site_.reset();
        BackendTest::TearDown();  // the test database goes
    }

    // Runs `body` as the main procedure inside the program frame, after what the main
    // window's start-up leaves for a search: the settings, the computer list (without
    // LATEBOX, whose row came later) and this computer's row in the COMPUTER buffer.
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

    // The main window's request: words, the chosen computer-list entry.
    static void Request(const std::string& filter, const std::string& computer = "all computers",
                        ULONG sys = 0) {
        G::FILTER1 = filter;
        G::EXTENSION = "";
        G::SEARCHDIR = 0;
        G::SIZE_FROM = G::SIZE_TO = 0;
        G::SEARCHCOMPUTER = computer;
        G::SEARCHSYSCOMPUTER = static_cast<LONG>(sys);
        G::STARTCLOCK = ClockTime();
    }

    static std::vector<Row> Rows(QFilesWindow& q) {
        std::vector<Row> rows;
        QFILES_RECORD e;
        for (std::size_t i = 1; q.QFILES.Peek(i, e); ++i) rows.push_back({e, q.FOUND.at(i - 1)});
        return rows;
    }

    // The list row (1-based) of the file `name` found on computer `sys`; 0 when none.
    static int RowOf(QFilesWindow& q, const std::string& name, ULONG sys) {
        QFILES_RECORD e;
        for (std::size_t i = 1; q.QFILES.Peek(i, e); ++i)
            if (q.FOUND.at(i - 1).name == name && e.SYSCOMPUTER == sys) return static_cast<int>(i);
        return 0;
    }

    std::optional<SearchSite> site_;
};

// The text of a cell or control without the blanks that pad it to its picture.
std::string Trim(const std::string& s) {
    return std::string(ClipBoth(s));
}

TEST_F(QFilesGuiTest, ListsEveryHitWithCaptionGreyRowsAndComputerNames) {
    std::string title;
    std::vector<std::string> headers, texts;
    std::vector<Row> rows;
    InFrame([&] {
        Request("report");
        QFiles([&](QFilesWindow& q) {
            title = q.WINDOW->Title();
            headers = ui::testing::ListHeaders(*q.WINDOW, QFilesCtl::BROWSE1);
            texts = ui::testing::ListRows(*q.WINDOW, QFilesCtl::BROWSE1, 1, 100);
            rows = Rows(q);
            q.WINDOW->Post(ui::Event::CloseWindow);
        });
    });
    EXPECT_TRUE(std::regex_match(
        title, std::regex(R"(DriveTrek Queue - 11 Files \(\d\d:\d\d:\d\d\)  all computers)")))
        << title;
    EXPECT_EQ(headers,
              (std::vector<std::string>{"Name", "Extension", "Dir", "Date", "Time", "Size", "Computer"}));
    ASSERT_EQ(rows.size(), 11u);
    ASSERT_EQ(texts.size(), 11u);
    int late = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QFILES_RECORD& e = rows[i].entry;
        // Files of other computers show their names in grey, the others in the default colour.
        EXPECT_EQ(e.C1, e.SYSCOMPUTER == site_->this_id ? kDefault : kOtherComputerColor) << i;
        EXPECT_EQ(e.C2, kDefault);
        EXPECT_EQ(e.C3, kDefault);
        EXPECT_EQ(e.C4, kDefault);
        // A computer missing from the computer list (its row came later) has no name here.
        const std::string computer(e.COMPUTER.View());
        if (e.SYSCOMPUTER == site_->this_id) {
            EXPECT_EQ(computer, "THISBOX");
        }
        if (e.SYSCOMPUTER == site_->other_id) {
            EXPECT_EQ(computer, "OTHERBOX");
        }
        if (e.SYSCOMPUTER == site_->late_id) {
            ++late;
            EXPECT_EQ(computer, "");
            // The list shows the first 127 characters; the whole name is kept for opening.
            EXPECT_EQ(std::string(e.NAME.View()), LongName().substr(0, 127));
            EXPECT_EQ(rows[i].found.name, LongName());
            EXPECT_EQ(rows[i].found.dir, site_->Tree() + "deep/");
        }
        if (rows[i].found.name == "report 2002.doc" && e.SYSCOMPUTER == site_->this_id) {
            std::vector<std::string> cells;
            std::string cell;
            for (char c : texts[i] + "\t") {
                if (c == '\t') {
                    cells.push_back(Trim(cell));
                    cell.clear();
                } else {
                    cell += c;
                }
            }
            const LONG date = MakeDate(2024, 3, 10);
            const LONG time = MakeTime(9, 30, 15, 0);
            EXPECT_EQ(cells, (std::vector<std::string>{"report 2002.doc", "doc", site_->Tree(),
                                                       Trim(Format(date, "@d17")), Trim(Format(time, "@t7")),
                                                       "1,024", "THISBOX"}));
        }
    }
    EXPECT_EQ(late, 1);

    // dtfind lists the same files in the same order (it names the late computer too).
    const qtest::Result r = qtest::RunDtfind({"report"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.lines.size(), rows.size());
    std::multiset<std::string> window_set, dtfind_set;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::vector<std::string> f = qtest::Fields(r.lines[i]);
        ASSERT_EQ(f.size(), 7u);
        std::string name = rows[i].found.name;
        for (std::size_t at = name.find('\t'); at != std::string::npos; at = name.find('\t', at + 2))
            name.replace(at, 1, "\\t");
        EXPECT_EQ(f[2], name) << "row " << i + 1;
        const QFILES_RECORD& e = rows[i].entry;
        const std::string computer =
            e.SYSCOMPUTER == site_->late_id ? "LATEBOX" : std::string(e.COMPUTER.View());
        window_set.insert(computer + "|" + rows[i].found.dir + "|" + name + "|" +
                          std::string(e.EXTENSION.View()) + "|" + std::to_string(e.SIZE));
        dtfind_set.insert(f[0] + "|" + f[1] + "|" + f[2] + "|" + f[3] + "|" + f[4]);
    }
    EXPECT_EQ(window_set, dtfind_set);
}

TEST_F(QFilesGuiTest, NoHitsAndAChosenComputerAreReportedInTheCaption) {
    std::string none_title, other_title;
    std::vector<Row> other_rows;
    InFrame([&] {
        Request("nothing-like-this", "OTHERBOX", site_->other_id);
        QFiles([&](QFilesWindow& q) {
            none_title = q.WINDOW->Title();
            EXPECT_EQ(ui::testing::ListRowCount(*q.WINDOW, QFilesCtl::BROWSE1), 0u);
            q.WINDOW->Post(ui::Event::CloseWindow);
        });
        Request("report", "OTHERBOX", site_->other_id);
        QFiles([&](QFilesWindow& q) {
            other_title = q.WINDOW->Title();
            other_rows = Rows(q);
            q.WINDOW->Post(ui::Event::CloseWindow);
        });
        EXPECT_TRUE(ui::testing::TakeShownMessages().empty());
    });
    EXPECT_TRUE(
        std::regex_match(none_title, std::regex(R"(DriveTrek Queue - 0 Files \(\d\d:\d\d:\d\d\)  OTHERBOX)")))
        << none_title;
    EXPECT_TRUE(std::regex_match(other_title,
                                 std::regex(R"(DriveTrek Queue - 5 Files \(\d\d:\d\d:\d\d\)  OTHERBOX)")))
        << other_title;
    for (const Row& r : other_rows) EXPECT_EQ(r.entry.SYSCOMPUTER, site_->other_id);
}

TEST_F(QFilesGuiTest, InfoWindowShowsSizeTimeAndTheComputerTheFileLiesOn) {
    struct Case {
        std::string name;
        ULONG sys;
        std::string size, computer;
    };
    const std::vector<Case> cases = {
        {"report 2002.doc", site_->this_id, "1 KBytes", "THISBOX"},
        {"Report-final.doc", site_->other_id, "1,023 Byte", "OTHERBOX"},
        // Not in the computer list, but the information window asks the database.
        {LongName(), site_->late_id, "10 Byte", "LATEBOX"},
    };
    InFrame([&] {
        for (const Case& c : cases) {
            int infos = 0;
            std::vector<std::string> popups;
            Request("report");
            QFiles(
                [&](QFilesWindow& q) {
                    const int row = RowOf(q, c.name, c.sys);
                    ASSERT_GT(row, 0) << c.name;
                    q.WINDOW->SetChoice(QFilesCtl::BROWSE1, row);
                    ui::testing::AnswerPopup(8);
                    ASSERT_TRUE(ui::testing::PressKey(*q.WINDOW, QFilesCtl::BROWSE1, ui::key::MouseRight));
                },
                [&](QFilesWindow& q, ui::Window& info) {
                    ++infos;
                    EXPECT_EQ(info.Title(), "file info");
                    EXPECT_EQ(Trim(ControlText(info, InfoCtl::NAME)), c.name.substr(0, 127));
                    EXPECT_EQ(Trim(ControlText(info, InfoCtl::DIR)),
                              c.sys == site_->late_id ? site_->Tree() + "deep/" : site_->Tree());
                    EXPECT_EQ(Trim(ControlText(info, InfoCtl::SIZE)), c.size);
                    EXPECT_EQ(Trim(ControlText(info, InfoCtl::DATE)),
                              Trim(Format(MakeDate(2024, 3, 10), "D17")));
                    EXPECT_EQ(Trim(ControlText(info, InfoCtl::TIME)), "09:30:15");
                    EXPECT_EQ(Trim(ControlText(info, InfoCtl::COMPUTERNAME)), c.computer);
                    EXPECT_TRUE(ui::testing::Click(info, InfoCtl::CLOSEBUTTON));
                    q.WINDOW->Post(ui::Event::CloseWindow);
                });
            popups = ui::testing::TakeShownPopups();
            EXPECT_EQ(infos, 1) << c.name;
            ASSERT_EQ(popups.size(), 1u);
            EXPECT_EQ(popups[0], RowMenuText(c.name.substr(0, 127), c.sys == site_->this_id));
        }
    });
}

TEST_F(QFilesGuiTest, DisabledEntriesAndTheNameItemDoNothing) {
    int infos = 0;
    std::vector<std::string> popups;
    InFrame([&] {
        Request("report");
        QFiles(
            [&](QFilesWindow& q) {
                q.WINDOW->SetChoice(QFilesCtl::BROWSE1, 1);
                for (int entry : {2, 3, 4, 5, 6, 7, 1}) {
                    ui::testing::AnswerPopup(entry);
                    ui::testing::PressKey(*q.WINDOW, QFilesCtl::BROWSE1, ui::key::MouseRight);
                }
                q.WINDOW->Post(ui::Event::CloseWindow);
            },
            [&](QFilesWindow&, ui::Window& info) {
                ++infos;
                ui::testing::Click(info, InfoCtl::CLOSEBUTTON);
            });
        popups = ui::testing::TakeShownPopups();
    });
    EXPECT_EQ(infos, 0);
    EXPECT_EQ(popups.size(), 7u);
    for (const std::string& p : popups)
        EXPECT_NE(p.find("|-|~copy|~delete|~move|~select all|~select none|~revert selection|-|info"),
                  std::string::npos);
}

TEST_F(QFilesGuiTest, EnterAndDoubleClickOpenTheWholePathOfLocalFilesOnly) {
    // A stand-in for the desktop's opener, first on PATH: it notes its arguments.
    const std::string bin = *site_ / "bin";
    std::filesystem::create_directories(bin);
    const std::string log = *site_ / "opened.txt";
    test::WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$#:$1\" >> '" + log + "'\n");
    std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
    test::ScopedEnv path("PATH", (bin + ":" + qtest::Env("PATH")).c_str());

    // Waits (at most 10 s) until the log holds `lines` lines.
    auto opened = [&](std::size_t lines) {
        std::string text;
        for (int i = 0; i < 100; ++i) {
            text = test::ReadFile(log);
            if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return text;
    };
    // One search; `key` pressed on the row of `name` found on `sys`.
    auto act = [&](const std::string& name, ULONG sys, int key) {
        Request("report");
        QFiles([&](QFilesWindow& q) {
            const int row = RowOf(q, name, sys);
            ASSERT_GT(row, 0) << name;
            q.WINDOW->SetChoice(QFilesCtl::BROWSE1, row);
            EXPECT_TRUE(ui::testing::PressKey(*q.WINDOW, QFilesCtl::BROWSE1, key));
            q.WINDOW->Post(ui::Event::CloseWindow);
        });
    };
    std::vector<ui::testing::ShownMessage> messages;
    InFrame([&] {
        // The list shows 127 characters of this name; the opener gets all of it.
        act(LongName(), site_->this_id, ui::key::Enter);
        act("it's a report.txt", site_->this_id, ui::key::MouseLeft2);
        // The same paths exist here, but the rows are other computers' files.
        act("report 2002.doc", site_->other_id, ui::key::Enter);
        act(LongName(), site_->late_id, ui::key::MouseLeft2);
        messages = ui::testing::TakeShownMessages();
    });
    const std::string expected =
        "1:" + site_->Tree() + "deep/" + LongName() + "\n" + "1:" + site_->Tree() + "it's a report.txt\n";
    EXPECT_EQ(opened(2), expected);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].text.find("OTHERBOX"), std::string::npos) << messages[0].text;
    EXPECT_NE(messages[1].text.find("LATEBOX"), std::string::npos) << messages[1].text;
    EXPECT_EQ(messages[0].icon, ui::MessageIcon::Stop);
    // Nothing else was started meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(test::ReadFile(log), expected);
}

TEST_F(QFilesGuiTest, ColumnWidthsSurviveARestartAndBadWidthsAreIgnored) {
    std::vector<int> restored, after_bad;
    auto widths = [](ui::Window& w) {
        std::vector<int> v;
        for (int j = 1; j <= w.Columns(QFilesCtl::BROWSE1); ++j)
            v.push_back(w.ColumnWidth(QFilesCtl::BROWSE1, j));
        return v;
    };
    std::string saved;
    InFrame([&] {
        Request("report");
        QFiles([&](QFilesWindow& q) {
            EXPECT_EQ(widths(*q.WINDOW), (std::vector<int>{120, 50, 172, 40, 35, 66, 124}));
            q.WINDOW->SetColumnWidth(QFilesCtl::BROWSE1, 1, 150);
            q.WINDOW->SetColumnWidth(QFilesCtl::BROWSE1, 3, 200);
            q.WINDOW->Post(ui::Event::CloseWindow);
        });
        saved = platform::ReadProfileString("./drivetrek.ini", "List", "qFILES_List1", "");
        QFiles([&](QFilesWindow& q) {
            restored = widths(*q.WINDOW);
            q.WINDOW->Post(ui::Event::CloseWindow);
        });
        // Too narrow, too wide, not a number, then one good width; the text ends there.
        platform::WriteProfileString("./drivetrek.ini", "List", "qFILES_List1", "0009050112a40041");
        QFiles([&](QFilesWindow& q) {
            after_bad = widths(*q.WINDOW);
            q.WINDOW->Post(ui::Event::CloseWindow);
        });
    });
    EXPECT_EQ(saved, "0150005002000040003500660124");
    EXPECT_EQ(restored, (std::vector<int>{150, 50, 200, 40, 35, 66, 124}));
    EXPECT_EQ(after_bad, (std::vector<int>{120, 50, 172, 41, 35, 66, 124}));
}

TEST_F(QFilesGuiTest, ListFollowsTheWindowSize) {
    ui::Rect list;
    InFrame([&] {
        Request("report");
        QFiles(
            [&](QFilesWindow& q) {
                const ui::Rect at = q.WINDOW->GetPosition(0);
                q.WINDOW->SetPosition(0, {at.x, at.y, 300, 150});
                q.WINDOW->SetChoice(QFilesCtl::BROWSE1, 1);
                ui::testing::AnswerPopup(8);
                ui::testing::PressKey(*q.WINDOW, QFilesCtl::BROWSE1, ui::key::MouseRight);
            },
            [&](QFilesWindow& q, ui::Window& info) {
                // The size event came before the right click.
                list = q.WINDOW->GetPosition(QFilesCtl::BROWSE1);
                ui::testing::Click(info, InfoCtl::CLOSEBUTTON);
                q.WINDOW->Post(ui::Event::CloseWindow);
            });
    });
    EXPECT_EQ(list.w, 298);
    EXPECT_EQ(list.h, 148);
}

// Runs a search for "report" with the extension "doc" after `sabotage` has changed the
// database under the open FILES table; the messages shown, and whether the list opened.
std::vector<ui::testing::ShownMessage> FailedSearch(const std::function<void()>& sabotage, bool& opened) {
    std::vector<ui::testing::ShownMessage> messages;
    Relate::FILES->Open();
    EXPECT_EQ(Access::FILES->UseFile(), 0);
    sabotage();
    G::FILTER1 = "report";
    G::EXTENSION = "doc";
    G::SEARCHCOMPUTER = "all computers";
    G::SEARCHSYSCOMPUTER = 0;
    QFiles([&](QFilesWindow& q) {
        opened = true;
        q.WINDOW->Post(ui::Event::CloseWindow);
    });
    Relate::FILES->Close();
    return ui::testing::TakeShownMessages();
}

TEST_F(QFilesGuiTest, AStatementTheServerRejectsShowsItsTextNotAnEmptyList) {
    bool opened = false;
    std::vector<ui::testing::ShownMessage> messages;
    InFrame([&] {
        // Another station replaced FILES by a table without the extension column.
        messages = FailedSearch(
            [] {
                SQLValue("drop table FILES");
                SQLValue("create table FILES (SysFILES integer, Name varchar(20))");
            },
            opened);
    });
    EXPECT_FALSE(opened);
    ASSERT_EQ(messages.size(), 1u);
    // The server's own words name the column.
    EXPECT_NE(Lower(messages[0].text).find("extension"), std::string::npos) << messages[0].text;
    EXPECT_EQ(Lower(messages[0].text).find("0 files"), std::string::npos);
    EXPECT_EQ(messages[0].icon, ui::MessageIcon::Stop);
}

TEST_F(QFilesGuiTest, ATableDroppedUnderTheSearchIsReportedAsMissing) {
    bool opened = false;
    std::vector<ui::testing::ShownMessage> messages;
    InFrame([&] { messages = FailedSearch([] { SQLValue("drop table FILES"); }, opened); });
    EXPECT_FALSE(opened);
    ASSERT_EQ(messages.size(), 1u);
    // The server's words when the driver passes them on, else the runtime's code and the
    // table's name.
    const std::string text = Lower(messages[0].text);
    EXPECT_NE(text.find("files"), std::string::npos) << messages[0].text;
    EXPECT_TRUE(text.find("no such table") != std::string::npos ||
                text.find("does not exist") != std::string::npos ||
                text.find("file not found") != std::string::npos)
        << messages[0].text;
}

}  // namespace
}  // namespace dt
