// The main window after a scan, offscreen over the embedded database: the record count and
// the computer list show the scan's result at once, not only after the next start. The
// scan's wait window shows what the scan does, and its Cancel button stops the scan with
// the index whole and the last scan as it was.
#include <chrono>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "app/scan_stop.h"
#include "app/tables.h"
#include "data/statements.h"
#include "tests/app/app_support.h"

namespace dt {
namespace {

using test::RunDir;
using test::RunMain;
namespace t = ui::testing;

// The name and scan date of the computer list's entries after "all computers".
std::string Listed() {
    std::string out;
    QCOMPUTER_RECORD r{};
    for (std::size_t i = 2; QCOMPUTER.Peek(i, r); ++i)
        out += std::string(r.NAME.View()) + (r.DATE.ToStandard() > 0 ? " scanned" : " never") + ";";
    return out;
}

TEST(ScanWindow, TheCountAndTheComputerListShowTheScanAtOnce) {
    RunDir run("window-pc");
    run.WriteProfile("");
    run.WriteSettings("");
    t::ResetAnswers();
    std::string records_before, records_after, listed_before, listed_after;
    // The first start of a computer: its row is made, but the list was filled before.
    ASSERT_EQ(RunMain(
                  [&](MainWindow& w) {
                      records_before = t::ControlText(*w.WINDOW, MainCtl::RECORDSSTRING);
                      listed_before = Listed();
                      w.on_scanned = [&](MainWindow& m) {
                          records_after = t::ControlText(*m.WINDOW, MainCtl::RECORDSSTRING);
                          listed_after = Listed();
                          m.WINDOW->Post(ui::Event::CloseWindow);
                      };
                      t::Click(*w.WINDOW, MainCtl::SCANBUTTON);
                  },
                  false, {ui::button::Yes, ui::button::Ok}),
              0);
    EXPECT_EQ(std::string(Clip(records_before)).back(), '0') << records_before;
    EXPECT_EQ(listed_before, "") << "a new computer is not listed before its scan";
    EXPECT_EQ(std::string(Clip(records_after)).back(), '2') << "the tree's two files: " << records_after;
    EXPECT_EQ(listed_after, "window-pc scanned;");
}

// This computer's rows: directory + name -> row number. A row stored twice fails.
std::map<std::string, ULONG> Rows(ULONG syscomputer) {
    std::map<std::string, ULONG> rows;
    Relate::FILES->Open();
    EXPECT_EQ(Access::FILES->UseFile(), 0);
    EXPECT_EQ(SetProperty(FILES, PROP_SQL,
                          "select * from FILES where SysCOMPUTER = " + std::to_string(syscomputer)),
              0);
    for (int guard = 0; guard < 100000 && Next(FILES) == 0; ++guard)
        EXPECT_TRUE(rows.emplace(FILES.DIR.Str() + FILES.NAME.Str(), FILES.SYSFILES).second)
            << "stored twice: " << FILES.DIR.Str() + FILES.NAME.Str();
    Relate::FILES->Close();
    return rows;
}

// One value of a statement through the pass-through table ("no row" when none).
std::string Value(const std::string& query) {
    Relate::SQLF->Open();
    std::string v = "unusable";
    if (Access::SQLF->UseFile() == 0)
        v = SetProperty(SQLF, PROP_SQL, query) != 0 ? "error" : Next(SQLF) == 0 ? SQLF.FELD1.Str() : "no row";
    Relate::SQLF->Close();
    return v;
}

// What WIN_WAIT showed at one progress turn.
struct Shown {
    std::string files, dirs, elapsed, directory, tooltip, drive, count;
};

long Number(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9') digits += c;
    return digits.empty() ? -1 : std::atol(digits.c_str());
}

// A rescan is cancelled with the wait window's button in its seventh directory: the rows
// stored before stay whole (every earlier row once, under its number, the rows of files
// gone since too), the new rows of the directories stored so far are kept, the last scan
// stays as it was, the message says "Scan cancelled!" with the time, and the program goes
// on: the next scan runs to its end. While it ran, the window's counters, elapsed time and
// directory followed the scan.
TEST(ScanWindow, CancelInTheMiddleKeepsTheIndexWholeAndTheLastScan) {
    RunDir run("cancel-pc");
    run.WriteProfile("");
    run.WriteSettings("");
    const std::string tree = run / "tree/";
    const int kDirs = 24, kFiles = 40;
    auto dir_name = [](int d) { return std::string("d") + (d < 10 ? "0" : "") + std::to_string(d); };
    for (int d = 0; d < kDirs; ++d) {
        std::filesystem::create_directories(tree + dir_name(d));
        for (int i = 0; i < kFiles; ++i)
            test::WriteFile(tree + dir_name(d) + "/f" + std::to_string(i) + ".txt", "x");
    }
    t::ResetAnswers();

    ULONG pc = 0;
    int scans = 0, calls = 0;
    std::map<std::string, ULONG> first, cancelled, complete;
    std::string last_scan, scan_time, last_scan_after;
    ScanOutcome outcome = ScanOutcome::NotRun;
    bool stop_left = true;
    std::vector<t::ShownMessage> messages;
    std::vector<Shown> shown;
    auto watch = [&](MainWindow& m, const ScanProgress&) {
        ui::Window& ww = *m.WIN_WAIT;
        shown.push_back({t::DisplayedText(ww, WaitCtl::FILES), t::DisplayedText(ww, WaitCtl::DIRS),
                         t::DisplayedText(ww, WaitCtl::ELAPSED), t::DisplayedText(ww, WaitCtl::DIRECTORY),
                         t::ToolTip(ww, WaitCtl::DIRECTORY), t::ControlText(ww, WaitCtl::DRIVE),
                         ww.StatusText(1)});
        // Each turn lasts longer than the time between two progress reports, so every
        // directory gets one; the first lasts over a second, so the time moves on.
        std::this_thread::sleep_for(std::chrono::milliseconds(++calls == 1 ? 1100 : 120));
        if (calls == 6) t::Click(ww, WaitCtl::CANCELBUTTON);
    };
    ASSERT_EQ(
        RunMain(
            [&](MainWindow& w) {
                pc = COMPUTER.SYSCOMPUTER;
                w.on_scanned = [&](MainWindow& m) {
                    ++scans;
                    if (scans == 1) {
                        first = Rows(pc);
                        Value(
                            "update COMPUTER set LastScan = '2001-02-03 04:05:06', ScanTime = '00:00:07' "
                            "where SysCOMPUTER = " +
                            std::to_string(pc));
                        last_scan =
                            Value("select LastScan from COMPUTER where SysCOMPUTER = " + std::to_string(pc));
                        scan_time =
                            Value("select ScanTime from COMPUTER where SysCOMPUTER = " + std::to_string(pc));
                        // Work for the rescan: a file gone and a new one in every directory.
                        for (int d = 0; d < kDirs; ++d) {
                            std::filesystem::remove(tree + dir_name(d) + "/f0.txt");
                            test::WriteFile(tree + dir_name(d) + "/new.txt", "n");
                        }
                        t::TakeShownMessages();
                        m.on_scan_progress = watch;
                    } else if (scans == 2) {
                        outcome = m.SCAN.outcome;
                        stop_left = ScanStopRequested();
                        cancelled = Rows(pc);
                        last_scan_after =
                            Value("select LastScan from COMPUTER where SysCOMPUTER = " + std::to_string(pc)) +
                            " " +
                            Value("select ScanTime from COMPUTER where SysCOMPUTER = " + std::to_string(pc));
                        messages = t::TakeShownMessages();
                        m.on_scan_progress = nullptr;
                    } else {
                        complete = Rows(pc);
                        m.WINDOW->Post(ui::Event::CloseWindow);
                        return;
                    }
                    // The main window takes no input until its loop runs again: the
                    // next scan is asked for by an event.
                    m.WINDOW->Post(ui::Event::Accepted, MainCtl::SCANBUTTON);
                };
                t::Click(*w.WINDOW, MainCtl::SCANBUTTON);
            },
            false,
            {ui::button::Yes, ui::button::Ok, ui::button::Yes, ui::button::Ok, ui::button::Yes,
             ui::button::Ok}),
        0);
    ASSERT_EQ(scans, 3) << "a cancelled scan leaves the program running";
    ASSERT_EQ(first.size(), static_cast<std::size_t>(kDirs * kFiles + 2));

    // The cancelled scan.
    EXPECT_EQ(outcome, ScanOutcome::Cancelled);
    EXPECT_FALSE(stop_left) << "the cancel ends with its scan";
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "Scan disk for files?");
    EXPECT_TRUE(std::regex_match(messages[1].text, std::regex(R"(Scan cancelled!\|Time: \d\d:\d\d:\d\d)")))
        << messages[1].text;
    EXPECT_GE(messages[1].text.substr(messages[1].text.size() - 8), "00:00:01")
        << "the scan ran over a second";
    EXPECT_EQ(messages[1].caption, "Scan Drive");
    EXPECT_EQ(last_scan_after, last_scan + " " + scan_time) << "a cancelled scan is no last scan";
    EXPECT_EQ(scan_time, "00:00:07");
    for (const auto& [path, number] : first) {
        auto it = cancelled.find(path);
        ASSERT_NE(it, cancelled.end()) << "lost: " << path;
        EXPECT_EQ(it->second, number) << path << " was stored anew";
    }
    std::size_t new_rows = 0;
    for (const auto& [path, number] : cancelled) new_rows += path.size() > 8 && path.ends_with("/new.txt");
    EXPECT_EQ(cancelled.size(), first.size() + new_rows) << "nothing but the new files was added";
    // Six directories were stored before the cancel: the tree's top, perhaps "sub", and
    // four or five of the new files' directories.
    EXPECT_GE(new_rows, 4u) << "the directories stored before the cancel keep their new rows";
    EXPECT_LT(new_rows, static_cast<std::size_t>(kDirs)) << "the scan ended in the middle";

    // What the window showed: the drive, the running number, and counters, time and
    // directory moving on.
    EXPECT_EQ(shown.size(), 7u) << "the cancel was seen at the next turn";
    ASSERT_GE(shown.size(), 6u);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const Shown& s = shown[i];
        EXPECT_EQ(s.drive, tree.substr(0, 30));
        EXPECT_TRUE(std::regex_match(s.elapsed, std::regex(R"(\d\d:\d\d:\d\d)"))) << s.elapsed;
        EXPECT_EQ(s.directory, s.tooltip) << "a short path is shown whole";
        EXPECT_EQ(s.tooltip.rfind(tree, 0), 0u) << s.tooltip;
        if (i == 0) continue;
        EXPECT_NE(s.directory, shown[i - 1].directory) << "one directory per turn";
        EXPECT_GE(Number(s.files), Number(shown[i - 1].files));
        EXPECT_GE(Number(s.dirs), Number(shown[i - 1].dirs));
        EXPECT_GE(s.elapsed, "00:00:01") << "the first turn lasted over a second";
        EXPECT_EQ(Number(s.count) % 100, 1) << "the running number: 1st, 101st ... file";
    }
    EXPECT_GT(Number(shown.back().files), Number(shown.front().files)) << "files stored went up";
    EXPECT_GE(Number(shown.back().files), 4 * (kFiles - 1)) << "at least four directories of unchanged files";
    EXPECT_GE(Number(shown.back().dirs), 6);

    // The next scan completes the work: the gone files' rows go, every new file is in.
    EXPECT_EQ(complete.size(), first.size());
    for (int d = 0; d < kDirs; ++d) {
        EXPECT_EQ(complete.count(tree + dir_name(d) + "/f0.txt"), 0u);
        EXPECT_EQ(complete.count(tree + dir_name(d) + "/new.txt"), 1u);
    }
}

// The wait window's close box cancels a scan as its button does: the window stays until
// the scan ends, the button is greyed, and a first scan cancelled leaves the computer
// without a last scan.
TEST(ScanWindow, TheCloseBoxCancelsTheScanAndTheWindowStaysUntilItEnds) {
    RunDir run("closebox-pc");
    run.WriteProfile("");
    run.WriteSettings("");
    for (int d = 0; d < 8; ++d) {
        std::filesystem::create_directories(run / ("tree/d" + std::to_string(d)));
        for (int i = 0; i < 10; ++i)
            test::WriteFile(run / ("tree/d" + std::to_string(d) + "/f" + std::to_string(i)), "x");
    }
    t::ResetAnswers();
    int calls = 0;
    bool open_after = false, greyed_after = false;
    ScanOutcome outcome = ScanOutcome::NotRun;
    std::string listed;
    std::vector<t::ShownMessage> messages;
    ASSERT_EQ(RunMain(
                  [&](MainWindow& w) {
                      w.on_scan_progress = [&](MainWindow& m, const ScanProgress&) {
                          ui::Window& ww = *m.WIN_WAIT;
                          std::this_thread::sleep_for(std::chrono::milliseconds(kScanProgressMs + 10));
                          if (++calls == 1) {
                              EXPECT_FALSE(ww.Disabled(WaitCtl::CANCELBUTTON));
                              EXPECT_TRUE(t::CloseBox(ww));
                          } else {
                              open_after = ww.IsOpen() && t::HasWidgets(ww);
                              greyed_after = ww.Disabled(WaitCtl::CANCELBUTTON);
                          }
                      };
                      w.on_scanned = [&](MainWindow& m) {
                          outcome = m.SCAN.outcome;
                          listed = Listed();
                          messages = t::TakeShownMessages();
                          m.WINDOW->Post(ui::Event::CloseWindow);
                      };
                      t::Click(*w.WINDOW, MainCtl::SCANBUTTON);
                  },
                  false, {ui::button::Yes, ui::button::Ok}),
              0);
    EXPECT_EQ(outcome, ScanOutcome::Cancelled);
    EXPECT_EQ(calls, 2) << "the close was seen at the next turn";
    EXPECT_TRUE(open_after) << "the close box does not close the window of a running scan";
    EXPECT_TRUE(greyed_after) << "Cancel is greyed once the scan is cancelled";
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text.rfind("Scan cancelled!|Time: ", 0), 0u) << messages[1].text;
    EXPECT_EQ(listed, "closebox-pc never;") << "a cancelled first scan is no last scan";
}

}  // namespace
}  // namespace dt
