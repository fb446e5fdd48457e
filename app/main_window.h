// The main procedure (module dtrek001): the main window WINDOW with its 26 controls, the
// start window WIN_START and the scan's wait window WIN_WAIT, and the window manager that
// runs the start-up (settings, connection texts, database check and creation, drive list,
// tables, computer list, this computer's row), the unattended scan and the commands.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/dialect.h"
#include "app/program.h"
#include "app/scan.h"
#include "app/schema.h"
#include "app/search_index.h"
#include "app/procedure_window.h"
#include "framework/window_resizer.h"
#include "runtime/queue.h"
#include "runtime/types.h"
#include "ui/definition.h"

namespace dt {

namespace ui {
class Window;
}

// Field numbers of the main window's controls, by label.
namespace MainCtl {
constexpr int FILE = 1;
constexpr int FILEOPTIONS = 2;
constexpr int FILEBROWSEFILES = 3;
constexpr int FILEEXIT = 4;
constexpr int PROMPT3 = 5;
constexpr int FILTER1 = 6;  // G:FILTER1
constexpr int SCANBUTTON = 7;
constexpr int EXTENSION = 8;  // G:EXTENSION
constexpr int PROMPT2 = 9;
constexpr int SIZE_FROM = 10;  // L:SIZE_FROM
constexpr int STRING1 = 11;
constexpr int SIZE_TO = 12;  // L:SIZE_TO
constexpr int SEARCHBUTTON = 13;
constexpr int PROMPT1 = 14;
constexpr int SEARCHDIR = 15;  // G:SEARCHDIR
constexpr int PROMPT4 = 16;
constexpr int LIST1 = 17;
constexpr int SQLSERVER = 18;  // GLO:SQLSERVER
constexpr int LIST2 = 19;
constexpr int SQLDATABASE = 20;  // GLO:SQLDATABASE
constexpr int PROMPT5 = 21;
constexpr int RECORDSSTRING = 22;
constexpr int STRING5 = 23;
constexpr int PANEL1 = 24;
constexpr int STRING2 = 25;
constexpr int SYSCOMPUTER = 26;   // COMPUTER:SYSCOMPUTER
constexpr int DBFILESTRING = 27;  // the embedded database's file, in place of the server lines
}  // namespace MainCtl

// Field numbers of WIN_WAIT's controls.
namespace WaitCtl {
constexpr int STRING1 = 1;  // "getting files from drive"
constexpr int DRIVE = 2;    // L:DRIVE
constexpr int FILESPROMPT = 3;
constexpr int FILES = 4;  // files stored so far
constexpr int DIRSPROMPT = 5;
constexpr int DIRS = 6;  // directories walked so far
constexpr int ELAPSEDPROMPT = 7;
constexpr int ELAPSED = 8;  // time since the scan began
constexpr int DIRPROMPT = 9;
constexpr int DIRECTORY = 10;  // the directory whose files are being stored
constexpr int CANCELBUTTON = 11;
}  // namespace WaitCtl

// Pause after the last key before the results follow the typing.
inline constexpr std::chrono::milliseconds kLiveDelay{150};
// The kind of server the first driver on the list reaches: the master database's name
// must be known before anything is connected.
ServerKind ExpectedServerKind();
// The kind the database connection reported once the start-up has connected (a driver
// later on the list may have answered); ExpectedServerKind before that.
ServerKind CurrentServerKind();
// Whether results follow the typing: [options] live= of the settings file (1 unless "0").
bool LiveSetting();

// The list formats of the drive list (A) and the computer list (B). A drive's root is a
// mount point here, so the drive column is wider than a drive letter's.
inline constexpr const char* kDriveListFormat = "60L(2)|M~Drive~@s60@126L(2)|M~Desciption~@s39@";
inline constexpr const char* kComputerListFormat =
    "74L(2)|M*~Name~@s32@40L(2)|M~Scan Date~@d17B@35L(2)|M~Time~@t7B@25R(2)|M~Days~@s6@";

// Text colour (0x00BBGGRR) of computers whose index is older than the stale limit.
constexpr LONG kStaleComputerColor = 0x000060C0;
// Days without a scan after which a computer's index counts as stale: [options]
// staledays= of the settings file, 7 when missing or not a number.
int StaleDays();
// Whole days from `scan_date` (standard date, 0: never) to `today`; -1 for never.
long DaysSinceScan(LONG scan_date, LONG today);
// "index of <computer> last refreshed on <date> <time>" for the computer of row number
// `sys` when its index is stale ("" when it is fresh or not in the computer list).
std::string StaleIndexText(ULONG sys);

class MainWindow final : public ProcedureWindow {
  public:
    MainWindow();
    ~MainWindow() override;

    // ---- the procedure's locals ----
    LONG SIZE_FROM = 0;  // kilobytes
    LONG SIZE_TO = 0;    // kilobytes
    STRING<30> DRIVE;    // progress text of WIN_WAIT
    // What WIN_WAIT shows of a running scan.
    ULONG SCANFILES = 0;   // files stored
    ULONG SCANDIRS = 0;    // directories walked
    LONG SCANELAPSED = 0;  // time since the scan began (standard time: 1 is 00:00:00)
    CSTRING<256> SCANDIR;  // the directory being stored
    Queue<QDRIVE_RECORD> QDRIVE;
    ULONG DRIVEMASK = 0;
    BYTE UNATTENDED = 0;  // "/S"
    ScanContext SCAN;     // the last scan's context and results
    LONG VCR = 0;         // navigation request of the toolbar (none here)
    WindowResizer RESIZER;
    std::unique_ptr<ui::Window> WINDOW;     // the main window
    std::unique_ptr<ui::Window> WIN_START;  // "connect to database.."
    std::unique_ptr<ui::Window> WIN_WAIT;   // "scan drives"

    // The server kind the master connection reached (the statements of the database
    // check and creation are this kind's).
    ServerKind KIND = ServerKind::SqlServer;
    // Exit status of the program when this procedure ends it (0 unless an unattended run
    // failed).
    int EXITSTATUS = 0;

    // Runs once the main window is open and its loop has started (tests drive the window
    // from here: press buttons, read texts, post CloseWindow).
    std::function<void(MainWindow&)> on_opened;
    // The search-results procedure Search runs (empty: QFiles).
    std::function<void()> run_results;
    // Runs after a scan from the Scan button has ended and the window shows its result.
    std::function<void(MainWindow&)> on_scanned;
    // Runs after WIN_WAIT has shown a scan's progress and taken its events (tests look at
    // the window and press Cancel from here).
    std::function<void(MainWindow&, const ScanProgress&)> on_scan_progress;
    // Tables of more rows than this show the search index build's progress in WIN_START's
    // status bar (tests lower it).
    long long index_progress_rows = kProgressRows;
    // Runs after WIN_START has shown a step of the index build (tests read the window here).
    std::function<void(MainWindow&, const SearchIndexProgress&)> on_index_progress;
    // Results as you type ([options] live=, 1 unless "0"): the results window follows the
    // typing in the filter, extension and size entries, on a thread of its own.
    bool LIVE = true;

    int Startup() override;
    void OnWindowOpened() override;
    int OnAccepted() override;
    int OnNewSelection() override;

    // Start-up steps 8-10: the database check through SQLM, the question and CREATE
    // DATABASE. True to go on; false when the program ends (EXITSTATUS set).
    bool CheckDatabase();
    // Step 14: QCOMPUTER from "all computers" and the COMPUTER rows by row number.
    void FillComputerList();
    // Step 15: this computer's row in the COMPUTER buffer, inserted when missing.
    void EnsureOwnRow();
    // The record count line ("files in the database are " + count in "N15").
    void ShowRecordCount();
    // With the embedded database: its file's full path in place of the server and
    // database lines.
    void ShowDatabaseFile();
    // Runs the scan with WIN_WAIT as its display.
    void RunScan();
    // WIN_WAIT shows where the scan is, then takes what the user did in it since the last
    // time (on the scan's turns): Cancel or its close box cancel the scan.
    void ShowScanProgress(const ScanProgress& p);
    void TakeWaitEvents();
    // WIN_START's status bar shows the index build's step (the start-up goes on meanwhile;
    // the window paints on the GUI thread, so it never looks frozen between two steps).
    void ShowIndexProgress(const SearchIndexProgress& p);
    void CancelScan();
    // After a scan in the window: the computer list and the record count anew.
    void ShowScanResult();
    // This computer's whole name when it is longer than GLO::COMPUTERNAME; else "".
    std::string NameTooLong() const;
    // The computer list's current entry into G:SEARCHCOMPUTER / G:SEARCHSYSCOMPUTER.
    void TakeComputerChoice();
    int OnFieldEvent() override;
    // Results as you type: asks the results window for what the entries show now, due
    // after `delay`; starts the window when none runs. False when the entries hold nothing
    // worth a search yet.
    bool AskLive(std::chrono::milliseconds delay, bool any_criterion);

  private:
    // The procedure window's start-up steps of the main window: the upgrade, the
    // computer list and this computer's row before the window opens; its texts, the
    // unattended scan and the resizer once it is open.
    int PrepareWindow() override;
    int SetUpWindow() override;
    int StartupFailed(int result) override;
    // Ends the start-up early: closes the start window, keeps `status`.
    int EndStartup(int status);
};

// The definitions of the three windows. `w` provides the locals the controls show.
ui::WindowDef MainWindowDef(MainWindow& w);
ui::WindowDef WinStartDef();
ui::WindowDef WinWaitDef(MainWindow& w);

// WIN_START's status text for a step of the search index build: "40% <step>" for a
// step with a measure (the share first, so that a narrow window still shows it), else
// the step alone.
std::string IndexProgressText(const SearchIndexProgress& p);
// The start-up's question when the database is missing.
std::string MissingDatabaseText();
// The runtime's error text of the calling thread's last failure, with the server's own
// message on a second line when the driver gave one.
std::string LastErrorText();

// The main procedure: creates the windows, runs the main window manager, stores its
// response in GlobalResponse. Returns the program's exit status. `on_opened` as above.
int MainProcedure(const std::function<void(MainWindow&)>& on_opened = {});

}  // namespace dt
