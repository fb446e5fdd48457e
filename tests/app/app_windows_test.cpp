// The main window's commands and the setup window, offscreen over the embedded database
// in the test's own directory: the computer list choice, the refused empty search, the
// size bounds in bytes, the setup window's OK, Cancel and kill button, and pictures of the
// main window, WIN_WAIT and the setup window (in the test's build directory).
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "app/settings.h"
#include "app/setup_window.h"
#include "app/startup.h"
#include "app/tables.h"
#include "runtime/stddate.h"
#include "tests/app/app_support.h"
#include "tests/support/env.h"

namespace dt {
namespace {

using test::RunDir;
using test::RunFrame;
using test::RunMain;
namespace t = ui::testing;

// The globals a search starts with.
struct SearchSnapshot {
    std::string computer;
    LONG syscomputer = -1;
    std::int64_t from = -1, to = -1;
    LONG clock = 0;
};

class MainWindowCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        run_.WriteProfile("");
        run_.WriteSettings("");
        t::ResetAnswers();
        G::FILTER1 = "";
        G::EXTENSION = "";
        G::SEARCHCOMPUTER = "";
        G::SEARCHSYSCOMPUTER = -1;
        G::SIZE_FROM = G::SIZE_TO = 0;
        // The first start registers this computer; from the second it is listed.
        ASSERT_EQ(RunMain([](MainWindow& w) { w.WINDOW->Post(ui::Event::CloseWindow); }), 0);
    }
    RunDir run_;
};

TEST_F(MainWindowCommands, ComputerChoiceAndSearchBoundsReachTheSearch) {
    std::vector<SearchSnapshot> searches;
    ULONG own_row = 0;
    // Each step's events are handled before the next step starts: the second search is
    // set up from inside the first one.
    ASSERT_EQ(RunMain([&](MainWindow& w) {
                  own_row = COMPUTER.SYSCOMPUTER;
                  ui::Window& win = *w.WINDOW;
                  w.run_results = [&] {
                      searches.push_back({std::string(G::SEARCHCOMPUTER.View()), G::SEARCHSYSCOMPUTER,
                                          G::SIZE_FROM, G::SIZE_TO, G::STARTCLOCK});
                      if (searches.size() == 1) {
                          // All computers, then a search by extension only.
                          win.SetChoice(MainCtl::LIST2, 1);
                          t::Click(win, MainCtl::LIST2);
                          t::Type(win, MainCtl::SIZE_FROM, "0");
                          t::Type(win, MainCtl::SIZE_TO, "0");
                          t::Type(win, MainCtl::EXTENSION, "txt");
                          t::Click(win, MainCtl::SEARCHBUTTON);
                      } else {
                          win.Post(ui::Event::CloseWindow);
                      }
                  };
                  // This computer, then a search by size only (100 to 200 KByte).
                  win.SetChoice(MainCtl::LIST2, 2);
                  t::Click(win, MainCtl::LIST2);
                  t::Type(win, MainCtl::SIZE_FROM, "100");
                  t::Type(win, MainCtl::SIZE_TO, "200");
                  t::Click(win, MainCtl::SEARCHBUTTON);
              }),
              0);
    ASSERT_EQ(searches.size(), 2u);
    EXPECT_EQ(searches[0].computer, "apptest-pc");
    EXPECT_EQ(searches[0].syscomputer, LONG(own_row));
    EXPECT_EQ(searches[0].from, 102400);
    EXPECT_EQ(searches[0].to, 204800);
    EXPECT_GT(searches[0].clock, 0);
    EXPECT_EQ(searches[1].computer, "all computers");
    EXPECT_EQ(searches[1].syscomputer, 0);
    EXPECT_EQ(searches[1].from, 0);
    EXPECT_EQ(std::string(G::EXTENSION.View()), "txt");
    EXPECT_TRUE(t::TakeShownMessages().empty());
}

TEST_F(MainWindowCommands, EmptySearchIsRefusedAndRunsNothing) {
    int searches = 0;
    std::string filter_after;
    ASSERT_EQ(RunMain([&](MainWindow& w) {
                  w.run_results = [&] { ++searches; };
                  t::Click(*w.WINDOW, MainCtl::SEARCHBUTTON);
                  w.WINDOW->Post(ui::Event::CloseWindow);
              }),
              0);
    EXPECT_EQ(searches, 0);
    const auto shown = t::TakeShownMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "please enter a search expression");
    EXPECT_EQ(shown[0].caption, "search");
    EXPECT_EQ(shown[0].icon, ui::MessageIcon::Stop);
    EXPECT_EQ(shown[0].buttons, ui::button::Ok);
}

// Scan asks first, stores this computer's files, says it is done; the next start counts
// the files and lists the scan's date.
TEST_F(MainWindowCommands, ScanButtonScansAfterItsQuestion) {
    ASSERT_EQ(RunMain(
                  [](MainWindow& w) {
                      t::Click(*w.WINDOW, MainCtl::SCANBUTTON);
                      w.WINDOW->Post(ui::Event::CloseWindow);
                  },
                  false, {ui::button::Yes, ui::button::Ok}),
              0);
    auto shown = t::TakeShownMessages();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "Scan disk for files?");
    EXPECT_EQ(shown[1].text.substr(0, 17), "Scan done!|Time: ");

    std::string records;
    DATE scanned{};
    ASSERT_EQ(RunMain([&](MainWindow& w) {
                  records = t::ControlText(*w.WINDOW, MainCtl::RECORDSSTRING);
                  QCOMPUTER_RECORD r{};
                  if (QCOMPUTER.Peek(2, r)) scanned = r.DATE;
                  w.WINDOW->Post(ui::Event::CloseWindow);
              }),
              0);
    EXPECT_EQ(std::string(Clip(records)).back(), '2') << records;
    EXPECT_GT(scanned.ToStandard(), 0) << "the last scan's date is listed";
}

// The three windows as pictures, every control in place: looked at by a person.
TEST_F(MainWindowCommands, ScreenshotsOfTheMainWindowAndWinWait) {
    const std::filesystem::path out(DT_TEST_OUTPUT_DIR);
    bool main_ok = false, wait_ok = false;
    std::string scan_start;
    ASSERT_EQ(RunMain([&](MainWindow& w) {
                  ui::Window& win = *w.WINDOW;
                  t::Type(win, MainCtl::FILTER1, "annual report");
                  t::Type(win, MainCtl::EXTENSION, "doc");
                  win.SetChoice(MainCtl::LIST1, 1);
                  win.SetChoice(MainCtl::LIST2, 2);
                  win.SetStatusText(2, "start: 09:30:00");
                  main_ok = t::Screenshot(win, (out / "main_window.png").string());
                  EXPECT_EQ(t::ListRowCount(win, MainCtl::LIST1), 1u);
                  EXPECT_EQ(t::ListRows(win, MainCtl::LIST2, 1, 1)[0].substr(0, 13), "all computers");
                  EXPECT_EQ(t::ListHeaders(win, MainCtl::LIST2),
                            (std::vector<std::string>{"Name", "Scan Date", "Time", "Days"}));
                  w.DRIVE = "/home/";
                  ASSERT_EQ(w.WIN_WAIT->Open(), 0);
                  w.WIN_WAIT->Display();
                  w.WIN_WAIT->SetStatusText(1, "101");
                  wait_ok = t::Screenshot(*w.WIN_WAIT, (out / "win_wait.png").string());
                  EXPECT_EQ(w.WIN_WAIT->Title(), "scan drives");
                  w.WIN_WAIT->Close();
                  win.Post(ui::Event::CloseWindow);
              }),
              0);
    EXPECT_TRUE(main_ok);
    EXPECT_TRUE(wait_ok);
    EXPECT_GT(std::filesystem::file_size(out / "main_window.png"), 5000u);
}

// WIN_WAIT at scale 1 and 2 with the widest values its counters can show: every prompt,
// value and the button show their whole text; a directory too long for its line is
// shortened in the middle, both ends kept, and its tooltip holds it whole. Pictures for a
// person to look at go to the build directory (win_wait_x1.png, win_wait_x2.png).
TEST(WinWait, EveryTextIsWholeAtBothScalesAndALongDirectoryIsShortenedInTheMiddle) {
    const std::filesystem::path out(DT_TEST_OUTPUT_DIR);
    const std::string head = "/srv/projects/2026/customer-archive/";
    std::string deep = head;
    for (int i = 0; deep.size() < 200; ++i) deep += "level-" + std::to_string(i) + "/";
    deep += "final directory/";
    for (const char* scale : {"1", "2"}) {
        test::ScopedEnv factor("QT_SCALE_FACTOR", scale);
        SCOPED_TRACE(std::string("scale ") + scale);
        ui::test::RunApp([&] {
            MainWindow w;
            w.DRIVE = "/home/";
            w.SCANFILES = w.SCANDIRS = 4294967295u;
            w.SCANELAPSED = MakeTime(23, 59, 59, 0);
            w.SCANDIR = deep;
            ui::Window& ww = *w.WIN_WAIT;
            ASSERT_EQ(ww.Open(), 0);
            ww.Display();
            ww.SetStatusText(1, "4294967201");
            EXPECT_EQ(t::ControlText(ww, WaitCtl::FILES), "4,294,967,295");
            EXPECT_EQ(t::ControlText(ww, WaitCtl::ELAPSED), "23:59:59");
            for (int f = 1; f <= ww.Fields(); ++f) {
                if (f != WaitCtl::DIRECTORY) {
                    EXPECT_TRUE(t::TextFits(ww, f)) << ww.Label(f) << ": " << t::ControlText(ww, f);
                }
            }
            const std::string painted = t::DisplayedText(ww, WaitCtl::DIRECTORY);
            EXPECT_NE(painted.find("…"), std::string::npos) << painted;
            EXPECT_LT(painted.size(), deep.size());
            EXPECT_EQ(painted.rfind("/srv/", 0), 0u) << painted;
            EXPECT_TRUE(painted.ends_with("directory/")) << painted;
            EXPECT_EQ(t::ToolTip(ww, WaitCtl::DIRECTORY), deep);
            EXPECT_EQ(t::ControlText(ww, WaitCtl::DIRECTORY), deep) << "the control keeps the whole text";
            EXPECT_TRUE(t::Screenshot(ww, (out / (std::string("win_wait_x") + scale + ".png")).string()));
            // A path that fits is shown as it is.
            w.SCANDIR = head;
            ww.Display(WaitCtl::DIRECTORY);
            EXPECT_EQ(t::DisplayedText(ww, WaitCtl::DIRECTORY), head);
            ww.Close();
        });
    }
}

// The code reaches the controls by number: every label sits at the number its constant
// says, and the windows carry the texts the program shows.
TEST(WindowDefinitions, ControlsSitAtTheirNumbers) {
    MainWindow w;
    const ui::WindowDef& d = w.WINDOW->Definition();
    EXPECT_EQ(d.Fields(), 27);
    const std::pair<const char*, int> labels[] = {
        {"FILE", MainCtl::FILE},
        {"FILEOPTIONS", MainCtl::FILEOPTIONS},
        {"FILEBROWSEFILES", MainCtl::FILEBROWSEFILES},
        {"FILEEXIT", MainCtl::FILEEXIT},
        {"PROMPT3", MainCtl::PROMPT3},
        {"G:FILTER1", MainCtl::FILTER1},
        {"SCANBUTTON", MainCtl::SCANBUTTON},
        {"G:EXTENSION", MainCtl::EXTENSION},
        {"L:SIZE_FROM", MainCtl::SIZE_FROM},
        {"L:SIZE_TO", MainCtl::SIZE_TO},
        {"SEARCHBUTTON", MainCtl::SEARCHBUTTON},
        {"G:SEARCHDIR", MainCtl::SEARCHDIR},
        {"LIST1", MainCtl::LIST1},
        {"LIST2", MainCtl::LIST2},
        {"RECORDSSTRING", MainCtl::RECORDSSTRING},
        {"STRING5", MainCtl::STRING5},
        {"PANEL1", MainCtl::PANEL1},
        {"STRING2", MainCtl::STRING2},
        {"COMPUTER:SYSCOMPUTER", MainCtl::SYSCOMPUTER},
        {"DBFILESTRING", MainCtl::DBFILESTRING},
    };
    for (const auto& [label, field] : labels) EXPECT_EQ(d.FieldOf(label), field) << label;
    EXPECT_EQ(d.controls[d.IndexOf(MainCtl::STRING1)].text, "KByte  to:");
    EXPECT_EQ(d.controls[d.IndexOf(MainCtl::STRING5)].text, "DRIVETREK /S  - scan local drive and exit");
    EXPECT_EQ(d.controls[d.IndexOf(MainCtl::LIST2)].format, kComputerListFormat);
    EXPECT_EQ(d.controls[d.IndexOf(MainCtl::SIZE_FROM)].picture, "n-14B");
    EXPECT_EQ(d.controls[d.IndexOf(MainCtl::FILEEXIT)].std, ui::StdAction::Close);
    EXPECT_EQ(w.WIN_START->Definition().title, "connect to database..");
    EXPECT_EQ(w.WIN_WAIT->Definition().controls[0].text, "getting files from drive");
    const ui::WindowDef& wait = w.WIN_WAIT->Definition();
    EXPECT_EQ(wait.Fields(), WaitCtl::CANCELBUTTON);
    for (const auto& [label, field] :
         std::vector<std::pair<const char*, int>>{{"L:DRIVE", WaitCtl::DRIVE},
                                                  {"L:SCANFILES", WaitCtl::FILES},
                                                  {"L:SCANDIRS", WaitCtl::DIRS},
                                                  {"L:SCANELAPSED", WaitCtl::ELAPSED},
                                                  {"L:SCANDIR", WaitCtl::DIRECTORY},
                                                  {"?CANCELBUTTON", WaitCtl::CANCELBUTTON}})
        EXPECT_EQ(wait.FieldOf(label), field) << label;
    EXPECT_EQ(wait.controls[wait.IndexOf(WaitCtl::DRIVE)].picture, "s30");

    const ui::WindowDef s = SetupWindowDef();
    EXPECT_EQ(s.Fields(), 13);
    EXPECT_EQ(s.FieldOf("?KILLMASTERBUTTON"), SetupCtl::KILLMASTERBUTTON);
    EXPECT_EQ(s.FieldOf("?OKBUTTON"), SetupCtl::OKBUTTON);
    EXPECT_EQ(s.FieldOf("?CANCELBUTTON"), SetupCtl::CANCELBUTTON);
    EXPECT_TRUE(s.controls[s.IndexOf(SetupCtl::SQLPASSWD)].password);
    EXPECT_EQ(s.controls[s.IndexOf(SetupCtl::SQLPASSWD)].parent, SetupCtl::TAB1);
}

// ---------------------------------------------------------------- the setup window

class SetupWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run_.WriteProfile("");
        t::ResetAnswers();
    }
    std::string Ini() { return test::ReadFile(run_ / "drivetrek.ini"); }
    RunDir run_;
};

TEST_F(SetupWindowTest, OkWritesTheFourKeysWithoutTrailingBlanks) {
    run_.WriteSettings("server=old\n");
    run_.WriteProfile("SQLite3");  // the embedded database comes first
    RunFrame([&] {
        SetVersionAndIniFile();
        LoadSettings(GLO::INIFILE.Str());
        dt::Setup([](SetupWindow& s) {
            ui::Window& w = *s.WINDOW;
            EXPECT_EQ(t::ControlText(w, SetupCtl::SQLSERVER), "old");
            EXPECT_EQ(t::ControlText(w, SetupCtl::SQLUSER), "sa");
            // The embedded database is named by its file.
            EXPECT_FALSE(w.Hidden(SetupCtl::DBFILE));
            EXPECT_EQ(t::ControlText(w, SetupCtl::DBFILE),
                      "Database file: " + EmbeddedDatabasePath("master"));
            EXPECT_EQ(EmbeddedDatabasePath("master"), std::filesystem::current_path() / "master.db");
            t::Type(w, SetupCtl::SQLSERVER, "db.example");
            t::Type(w, SetupCtl::SQLDATABASE, "Files");
            t::Type(w, SetupCtl::SQLPASSWD, "s3cret");
            EXPECT_TRUE(
                t::Screenshot(w, (std::filesystem::path(DT_TEST_OUTPUT_DIR) / "setup_window.png").string()));
            t::Click(w, SetupCtl::OKBUTTON);
        });
    });
    const std::string ini = Ini();
    EXPECT_NE(ini.find("server=db.example\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("database=Files\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("user=sa\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("pass=s3cret\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("roots="), std::string::npos) << "other sections are kept";
    EXPECT_EQ(GLO::SQLSERVER.Clip(), "db.example");
}

TEST_F(SetupWindowTest, CancelWritesNothingButKeepsTheEdits) {
    run_.WriteSettings("server=old\n");
    const std::string before = Ini();
    RunFrame([&] {
        SetVersionAndIniFile();
        LoadSettings(GLO::INIFILE.Str());
        dt::Setup([](SetupWindow& s) {
            t::Type(*s.WINDOW, SetupCtl::SQLSERVER, "changed");
            t::Click(*s.WINDOW, SetupCtl::CANCELBUTTON);
        });
    });
    EXPECT_EQ(Ini(), before);
    EXPECT_EQ(GLO::SQLSERVER.Clip(), "changed") << "the edit stays in the global for this run";
}

// The kill button names the table and drops it only on Yes; "ok!" only when the drop
// worked, the error text when it did not.
TEST_F(SetupWindowTest, KillButtonAsksDropsAndTellsTheOutcome) {
    run_.WriteSettings("");
    std::string count_before, count_after_yes;
    RunFrame([&] {
        SetVersionAndIniFile();
        LoadSettings(GLO::INIFILE.Str());
        ReadComputerName();
        BuildOwners();
        SQLValue("create table files (x int)");
        count_before = SQLValue("select count(*) from files");
        t::AnswerMessage(ui::button::No);   // keep it
        t::AnswerMessage(ui::button::Yes);  // drop it
        t::AnswerMessage(ui::button::Ok);   // "ok!"
        t::AnswerMessage(ui::button::Yes);  // drop again: there is nothing to drop
        t::AnswerMessage(ui::button::Ok);   // the error
        dt::Setup([&](SetupWindow& s) {
            ui::Window& w = *s.WINDOW;
            t::Click(w, SetupCtl::KILLMASTERBUTTON);
            t::Click(w, SetupCtl::KILLMASTERBUTTON);
            t::Click(w, SetupCtl::KILLMASTERBUTTON);
            t::Click(w, SetupCtl::CANCELBUTTON);
        });
        count_after_yes = SQLValue("select count(*) from files");
    });
    EXPECT_EQ(count_before, "0");
    EXPECT_EQ(count_after_yes, "") << "dropped";
    const auto shown = t::TakeShownMessages();
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].text,
              "Drop the table files of the database master (master.db) on Server ?|Every row in it is lost.");
    EXPECT_EQ(shown[0].buttons, ui::button::Yes | ui::button::No);
    EXPECT_EQ(shown[0].default_button, ui::button::No);
    EXPECT_EQ(shown[2].text, "ok!");
    EXPECT_EQ(shown[2].caption, "");
    EXPECT_EQ(shown[2].icon, ui::MessageIcon::None);
    // The drop failed: its error with the server's words, not "ok!".
    EXPECT_NE(shown[4].text.find("no such table: files"), std::string::npos) << shown[4].text;
    EXPECT_EQ(shown[4].icon, ui::MessageIcon::Stop);
}

// The Scan tab: roots and exclusions from the settings file, a preview of what they leave
// out, and OK writing both keys (a blank entry removes its key).
TEST_F(SetupWindowTest, PreviewSaysWhatTheExclusionsDropAndOkWritesTheScanKeys) {
    run_.WriteSettings("");
    std::filesystem::create_directories(run_ / "tree/skip");
    test::WriteFile(run_ / "tree/skip/c.tmp", "c");
    test::WriteFile(run_ / "tree/d.tmp", "d");
    std::string shown, button, roots_shown;
    int previews = 0;
    RunFrame([&] {
        SetVersionAndIniFile();
        LoadSettings(GLO::INIFILE.Str());
        dt::Setup(
            [&](SetupWindow& s) {
                ui::Window& w = *s.WINDOW;
                roots_shown = t::ControlText(w, SetupCtl::ROOTS);
                EXPECT_EQ(t::ControlText(w, SetupCtl::EXCLUDE), "");
                EXPECT_TRUE(t::Type(w, SetupCtl::EXCLUDE, "skip; *.tmp"));
                // The tab as a user would bring it to the front (its change is handled
                // after the typing, which the redisplay of the tab keeps).
                w.Select(SetupCtl::TAB2);
                EXPECT_TRUE(t::Click(w, SetupCtl::PREVIEWBUTTON));
            },
            [&](SetupWindow& s) {
                ui::Window& w = *s.WINDOW;
                shown = t::ControlText(w, SetupCtl::PREVIEWTEXT);
                button = t::ControlText(w, SetupCtl::PREVIEWBUTTON);
                if (++previews == 1) {
                    // tree/: a.txt and sub/b.doc stored; d.tmp, and skip/ with c.tmp, dropped.
                    EXPECT_EQ(shown, "2 files, 2 directories; the exclusions drop 2 files and 1 directories");
                    // (Typed before the window was first shown, the entry shows the text
                    // again only when typed again.)
                    t::Type(w, SetupCtl::EXCLUDE, "skip; *.tmp");
                    EXPECT_TRUE(t::Screenshot(
                        w, (std::filesystem::path(DT_TEST_OUTPUT_DIR) / "setup_window_scan.png").string()));
                    t::Type(w, SetupCtl::ROOTS, run_ / "tree/sub");
                    t::Click(w, SetupCtl::PREVIEWBUTTON);
                    return;
                }
                // The roots as typed, not as saved.
                EXPECT_EQ(shown, "1 files, 1 directories; the exclusions drop nothing");
                t::Type(w, SetupCtl::ROOTS, "");
                t::Click(w, SetupCtl::OKBUTTON);
            });
    });
    EXPECT_EQ(roots_shown, run_.path() + "/tree/");
    EXPECT_EQ(previews, 2);
    EXPECT_EQ(button, "Preview");
    const std::string ini = Ini();
    EXPECT_NE(ini.find("exclude=skip; *.tmp\n"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("roots="), std::string::npos) << "a blank entry: every fixed file system\n" << ini;
}

// The walk runs beside the window: held in the middle, the window still takes a click on
// Stop, and the preview ends as cancelled.
TEST_F(SetupWindowTest, APreviewHeldInItsWalkLeavesTheWindowWorkingAndStopStopsIt) {
    run_.WriteSettings("");
    std::string walking, stop_button, shown;
    RunFrame([&] {
        SetVersionAndIniFile();
        LoadSettings(GLO::INIFILE.Str());
        dt::Setup(
            [&](SetupWindow& s) {
                // Held until the window has taken the second click (at most 20 s).
                s.Preview().SetHook([&s] {
                    for (int i = 0; i < 2000 && !s.Preview().CancelRequested(); ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                });
                ui::Window& w = *s.WINDOW;
                w.Select(SetupCtl::TAB2);
                EXPECT_TRUE(t::Click(w, SetupCtl::PREVIEWBUTTON));
                // Queued behind the first click: handled while the walk is held.
                t::Click(w, SetupCtl::PREVIEWBUTTON);
                walking = "asked";
            },
            [&](SetupWindow& s) {
                shown = t::ControlText(*s.WINDOW, SetupCtl::PREVIEWTEXT);
                stop_button = t::ControlText(*s.WINDOW, SetupCtl::PREVIEWBUTTON);
                t::Click(*s.WINDOW, SetupCtl::CANCELBUTTON);
            });
    });
    EXPECT_EQ(walking, "asked");
    EXPECT_EQ(shown.rfind("Preview cancelled: ", 0), 0u) << shown;
    EXPECT_EQ(stop_button, "Preview");
}

TEST_F(SetupWindowTest, SqlValueGivesTheFirstColumnOrNothing) {
    run_.WriteSettings("");
    std::string one, none, bad;
    RunFrame([&] {
        SetVersionAndIniFile();
        LoadSettings(GLO::INIFILE.Str());
        ReadComputerName();
        BuildOwners();
        one = SQLValue("select 6*7");
        none = SQLValue("create table t1 (x int)");  // no result set
        bad = SQLValue("select * from no_such_table");
    });
    EXPECT_EQ(one, "42");
    EXPECT_EQ(none, "");
    EXPECT_EQ(bad, "");
}

}  // namespace
}  // namespace dt
