#include "app/main_window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "app/browse_files.h"
#include "app/globals.h"
#include "app/qfiles.h"
#include "app/search_index.h"
#include "app/query.h"
#include "app/settings.h"
#include "app/setup_window.h"
#include "app/startup.h"
#include "app/tables.h"
#include "data/sql_text.h"
#include "framework/window_resizer.h"
#include "platform/computer.h"
#include "platform/profile.h"
#include "data/sql_connection.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "platform/text.h"
#include "runtime/errors.h"
#include "runtime/picture.h"
#include "runtime/stddate.h"
#include "ui/application.h"
#include "ui/list_source.h"
#include "ui/window.h"

namespace dt {
namespace {

// Rows the start-up reads from one statement at most: a list that long is damage, and
// a loop must end.
constexpr int kMaxRows = 1000000;

ui::ControlDef WithFont(ui::ControlDef c, std::string font) {
    c.font = std::move(font);
    return c;
}

}  // namespace

ServerKind ExpectedServerKind() {
    const std::vector<std::string> names = DriverNameList();
    return names.empty() ? ServerKind::SqlServer : KindOfDriverName(names.front());
}

namespace {
// What the database connection said it is, once the start-up has connected.
std::optional<ServerKind> g_connected_kind;
}  // namespace

ServerKind CurrentServerKind() {
    return g_connected_kind ? *g_connected_kind : ExpectedServerKind();
}

// A start-up failure that ends the program: on standard error in an unattended run,
// else in a message box. Returns the exit status.
int StartupFailure(const std::string& text) {
    if (Unattended()) {
        WriteStderr("drivetrek", text);
        return kUnattendedFailure;
    }
    ui::Message(text, "error", ui::MessageIcon::Stop, ui::button::Ok, ui::button::Ok);
    return kUnattendedFailure;
}

std::string MissingDatabaseText() {
    return "Database " + GLO::SQLDATABASE.Str() + " not exist.|Create database on " + GLO::SQLSERVER.Str() +
           " ?";
}

std::string LastErrorText() {
    std::string text = Error();
    const std::string server = FileError();
    if (!server.empty()) text += "|" + server;
    return text;
}

// ---------------------------------------------------------------- definitions

ui::WindowDef MainWindowDef(MainWindow& w) {
    using namespace ui;
    WindowDef d = ProcedureWindowDef("DriveTrek", {0, 0, 400, 238});
    d.flags.resizable = true;
    d.flags.maximize_box = true;
    d.flags.status_bar = true;
    d.status_zones = {200, -1};

    const int file = d.Add(MenuDef("&File"));
    d.controls.back().label = "FILE";
    d.Add(ItemDef("&Options", file));
    d.controls.back().label = "FILEOPTIONS";
    d.Add(SeparatorDef(file));
    d.Add(ItemDef("Browse Files", file));
    d.controls.back().label = "FILEBROWSEFILES";
    d.Add(ItemDef("E&xit", file, StdAction::Close));
    d.controls.back().label = "FILEEXIT";

    auto add = [&d](ControlDef c, const char* label) {
        c.label = label;
        return d.Add(std::move(c));
    };
    add(PromptDef("Filter:", {8, 8, 56, 10}), "PROMPT3");
    auto live = [](ControlDef c) {
        c.live_edits = true;  // results as you type
        return c;
    };
    add(live(EntryDef("s40", Use(G::FILTER1), {68, 7, 180, 12})), "G:FILTER1");
    add(ButtonDef("Scan", {334, 5, 58, 17}, "32528"), "SCANBUTTON");
    add(live(EntryDef("s10", Use(G::EXTENSION), {68, 23, 50, 12})), "G:EXTENSION");
    add(PromptDef("Extension:", {8, 24, 56, 10}), "PROMPT2");
    ControlDef from = live(EntryDef("n-14B", Use(w.SIZE_FROM), {68, 39, 56, 12}));
    from.right_align = true;
    add(std::move(from), "L:SIZE_FROM");
    add(StringDef("KByte  to:", {128, 40, 40, 10}), "STRING1");
    ControlDef to = live(EntryDef("n-14B", Use(w.SIZE_TO), {170, 39, 56, 12}));
    to.right_align = true;
    add(std::move(to), "L:SIZE_TO");
    ControlDef search = ButtonDef("Search", {254, 5, 66, 17}, "32525");
    search.default_button = true;
    add(std::move(search), "SEARCHBUTTON");
    add(PromptDef("Filesize from:", {8, 40, 56, 10}), "PROMPT1");
    add(CheckDef("search also for directory name", Use(G::SEARCHDIR), {68, 55, 180, 11}), "G:SEARCHDIR");
    add(PromptDef("Drives:", {8, 72, 60, 10}), "PROMPT4");
    ControlDef drives = ListDef(kDriveListFormat,
                                MakeQueueSource(w.QDRIVE, &QDRIVE_RECORD::DRIVE, &QDRIVE_RECORD::DESCIPTION),
                                {8, 82, 196, 88});
    drives.vscroll = true;
    add(std::move(drives), "LIST1");
    add(DisplayDef("s32", Use(GLO::SQLSERVER), {8, 176, 130, 10}), "GLO:SQLSERVER");
    ControlDef computers =
        ListDef(kComputerListFormat,
                MakeQueueSource(QCOMPUTER, &QCOMPUTER_RECORD::NAME, &QCOMPUTER_RECORD::C1,
                                &QCOMPUTER_RECORD::C2, &QCOMPUTER_RECORD::C3, &QCOMPUTER_RECORD::C4,
                                &QCOMPUTER_RECORD::DATE, &QCOMPUTER_RECORD::TIME, &QCOMPUTER_RECORD::DAYS),
                {210, 82, 182, 88});
    computers.vscroll = true;
    add(std::move(computers), "LIST2");
    add(DisplayDef("s20", Use(GLO::SQLDATABASE), {142, 176, 62, 10}), "GLO:SQLDATABASE");
    add(PromptDef("Computer:", {210, 72, 60, 10}), "PROMPT5");
    add(StringDef("Records", {210, 176, 182, 10}), "RECORDSSTRING");
    add(StringDef("DRIVETREK /S  - scan local drive and exit", {8, 190, 240, 10}), "STRING5");
    add(PanelDef({8, 204, 384, 16}), "PANEL1");
    add(WithFont(StringDef("DriveTrek - every computer's files, one search away", {12, 207, 260, 10}),
                 "Arial"),
        "STRING2");
    ControlDef sys = DisplayDef("n13", Use(COMPUTER.SYSCOMPUTER), {300, 207, 88, 10});
    sys.right_align = true;
    add(std::move(sys), "COMPUTER:SYSCOMPUTER");
    // Takes the place of the server and database lines when the database is the embedded
    // file, which a server name would not locate.
    ControlDef db_file = StringDef("", {8, 176, 196, 10});
    db_file.hidden = true;
    db_file.elide_middle = true;
    add(std::move(db_file), "DBFILESTRING");
    return d;
}

ui::WindowDef WinStartDef() {
    using namespace ui;
    WindowDef d;
    d.label = "WIN_START";
    d.title = "connect to database..";
    d.icon = "GO.ICO";
    d.at = {0, 0, 160, 44};
    d.flags.centered = true;
    // The search index build of a large table shows its progress here.
    d.flags.status_bar = true;
    ControlDef text = StringDef("DRIVETREK", {10, 12, 140, 16});
    text.font_size = 16;
    d.Add(std::move(text));
    return d;
}

ui::WindowDef WinWaitDef(MainWindow& w) {
    using namespace ui;
    WindowDef d;
    d.label = "WIN_WAIT";
    d.title = "scan drives";
    d.icon = "GO.ICO";
    d.at = {0, 0, 260, 122};
    d.flags.centered = true;
    // The file counter of the scan is shown here: the scan's working window is hidden.
    d.flags.status_bar = true;
    auto add = [&d](ControlDef c, const char* label) {
        c.label = label;
        d.Add(std::move(c));
    };
    add(StringDef("getting files from drive", {8, 6, 244, 10}), "STRING1");
    add(DisplayDef("s30", Use(w.DRIVE), {8, 18, 244, 10}), "L:DRIVE");
    // The counters: a column of prompts, a column of right-aligned values.
    auto value = [](ControlDef c) {
        c.right_align = true;
        return c;
    };
    add(PromptDef("Files stored:", {8, 34, 84, 10}), "FILESPROMPT");
    add(value(DisplayDef("n13", Use(w.SCANFILES), {96, 34, 64, 10})), "L:SCANFILES");
    add(PromptDef("Directories walked:", {8, 46, 84, 10}), "DIRSPROMPT");
    add(value(DisplayDef("n13", Use(w.SCANDIRS), {96, 46, 64, 10})), "L:SCANDIRS");
    add(PromptDef("Elapsed time:", {8, 58, 84, 10}), "ELAPSEDPROMPT");
    add(value(DisplayDef("T4", Use(w.SCANELAPSED), {96, 58, 64, 10})), "L:SCANELAPSED");
    add(PromptDef("Current directory:", {8, 74, 244, 10}), "DIRPROMPT");
    ControlDef dir = DisplayDef("s255", Use(w.SCANDIR), {8, 86, 244, 10});
    dir.elide_middle = true;
    add(std::move(dir), "L:SCANDIR");
    add(ButtonDef("Cancel", {196, 102, 56, 14}), "?CANCELBUTTON");
    return d;
}

// The per-type defaults of strategy 2 let both lists grow to the window's right and bottom
// edges, over each other and over the lines below them. These strategies keep the layout
// when the window grows: the form stays at the top left, the buttons at the top right,
// the lists share the width, the lines below the lists keep their distance to the bottom.
static void KeepLayout(WindowResizer& r) {
    using namespace MainCtl;
    using namespace Resize;
    const USHORT fixed = kLockWidth | kLockHeight;
    for (int c : {PROMPT3, EXTENSION, PROMPT2, SIZE_FROM, STRING1, SIZE_TO, PROMPT1, SEARCHDIR, PROMPT4})
        r.SetStrategy(c, kFixLeft | kFixTop, fixed);
    r.SetStrategy(SCANBUTTON, kFixRight | kFixTop, fixed);
    r.SetStrategy(SEARCHBUTTON, kFixRight | kFixTop, fixed);
    r.SetStrategy(PROMPT5, kFixXCenter | kFixTop, fixed);
    r.SetStrategy(LIST1, kFixLeft | kFixTop, kConstantRightCenter | kConstantBottom);
    r.SetStrategy(LIST2, kFixXCenter | kFixTop, kConstantRight | kConstantBottom);
    for (int c : {SQLSERVER, SQLDATABASE, STRING5, DBFILESTRING})
        r.SetStrategy(c, kFixLeft | kFixBottom, fixed);
    r.SetStrategy(RECORDSSTRING, kFixXCenter | kFixBottom, fixed);
    r.SetStrategy(PANEL1, kFixLeft | kFixBottom, kConstantRight | kLockHeight);
    r.SetStrategy(STRING2, kFixLeft | kFixTop, fixed);
    r.SetStrategy(SYSCOMPUTER, kFixRight | kFixTop, fixed);
}

// ---------------------------------------------------------------- the procedure

MainWindow::MainWindow()
    : ProcedureWindow("Main", MainCtl::PROMPT3),
      WINDOW(std::make_unique<ui::Window>(MainWindowDef(*this))),
      WIN_START(std::make_unique<ui::Window>(WinStartDef())),
      WIN_WAIT(std::make_unique<ui::Window>(WinWaitDef(*this))) {
    VCRREQUEST = &VCR;
    UseWindows(*WINDOW, {WINDOW.get(), WIN_WAIT.get(), WIN_START.get()});
    UseTables({&Relate::COMPUTER, &Relate::SQLM});
}

// The windows close with their objects; the tables were closed by Shutdown.
MainWindow::~MainWindow() = default;

int MainWindow::EndStartup(int status) {
    EXITSTATUS = status;
    if (WIN_START) WIN_START->Close();
    return SevFatal;
}

bool MainWindow::CheckDatabase() {
    const RelationOpen sqlm(Relate::SQLM);
    if (Access::SQLM->UseFile() != SevQuiet) {
        // The file manager has said why (server unreachable, login refused); when its
        // message was not fatal the program still cannot go on without the server.
        EXITSTATUS = UNATTENDED ? kUnattendedFailure : 0;
        return false;
    }
    KIND = KindOfDbms(GetProperty(SQLM.file, PROP_DbmsName));
    g_connected_kind = KIND;
    const Dialect& dialect = DialectOf(KIND);
    bool found = false;
    if (KIND == ServerKind::Embedded) {
        // The embedded kind has no database list: database X is the file X.db here.
        std::error_code ec;
        found = std::filesystem::exists(dialect.DatabaseFile(GLO::SQLDATABASE.View()), ec);
    } else if (SetProperty(SQLM.file, PROP_SQL, dialect.DatabaseListQuery(GLO::SQLDATABASE.View())) ==
               ErrNone) {
        for (int row = 0; row < kMaxRows && !found; ++row) {
            if (Next(SQLM.file) != ErrNone) break;
            found = EqualNoCase(SQLM.FELD1.Clip(), GLO::SQLDATABASE.Clip());
        }
    }
    if (!found) {
        const std::string question = MissingDatabaseText();
        if (UNATTENDED) {
            WriteStderr("create database", question);
            WriteStderr("",
                        "unattended run: the database is not created without an answer; the program ends");
            EXITSTATUS = kUnattendedFailure;
            return false;
        }
        if (ui::Message(question, "create database", ui::MessageIcon::Question,
                        ui::button::Yes | ui::button::No, ui::button::Yes) != ui::button::Yes) {
            EXITSTATUS = 0;
            return false;
        }
        // The embedded kind has nothing to send: connecting to X creates X.db.
        const std::string create = dialect.CreateDatabase(GLO::SQLDATABASE.View());
        if (!create.empty() && SetProperty(SQLM.file, PROP_SQL, create) != ErrNone) {
            ui::Message(LastErrorText(), "error", ui::MessageIcon::Stop, ui::button::Ok);
            EXITSTATUS = 0;
            return false;
        }
    }
    return true;
}

int StaleDays() {
    const std::string text = platform::ReadProfileString(GLO::INIFILE.Str(), "options", "staledays", "7");
    char* end = nullptr;
    const long days = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && *end == '\0' && days >= 0 && days < 100000 ? static_cast<int>(days) : 7;
}

long DaysSinceScan(LONG scan_date, LONG today) {
    return scan_date > 0 ? static_cast<long>(today) - scan_date : -1;
}

std::string StaleIndexText(ULONG sys) {
    QCOMPUTER_RECORD e;
    for (std::size_t i = 1; QCOMPUTER.Peek(i, e); ++i) {
        if (e.SYSCOMPUTER != sys || sys == 0) continue;
        const long days = DaysSinceScan(e.DATE.ToStandard(), Today());
        if (days >= 0 && days <= StaleDays()) return {};
        if (days < 0) return "index of " + std::string(e.NAME.Clip()) + " never refreshed";
        auto trim = [](const std::string& t) {
            const std::size_t b = t.find_first_not_of(' ');
            return b == std::string::npos ? std::string() : std::string(Clip(t.substr(b)));
        };
        return "index of " + std::string(e.NAME.Clip()) + " last refreshed on " +
               trim(Format(static_cast<double>(e.DATE.ToStandard()), "D17")) + " " +
               trim(Format(static_cast<double>(e.TIME.ToStandard()), "T4"));
    }
    return {};
}

void MainWindow::FillComputerList() {
    QCOMPUTER.Free();
    QCOMPUTER.ClearBuffer();
    QCOMPUTER.NAME = "all computers";
    QCOMPUTER.SYSCOMPUTER = 0;
    QCOMPUTER.C1 = QCOMPUTER.C2 = QCOMPUTER.C3 = QCOMPUTER.C4 = -1;
    QCOMPUTER.Add();
    const LONG today = Today();
    const int stale = StaleDays();
    if (Access::COMPUTER->UseFile() != 0) return;
    if (SetProperty(COMPUTER.file, PROP_SQL, "select * from COMPUTER order by SysCOMPUTER") != 0) return;
    for (int row = 0; row < kMaxRows; ++row) {
        if (Next(COMPUTER.file) != 0) break;
        QCOMPUTER.ClearBuffer();
        QCOMPUTER.NAME = COMPUTER.NAME.View();
        const DATE date = COMPUTER.LASTSCAN_DATE;
        const TIME time = COMPUTER.LASTSCAN_TIME;
        QCOMPUTER.DATE = date.ToStandard() > 0 ? date : DATE{};
        QCOMPUTER.TIME = time.ToStandard() > 0 ? time : TIME{};
        QCOMPUTER.SYSCOMPUTER = COMPUTER.SYSCOMPUTER;
        // Days since the last scan; an index older than the limit (or none) in the warning
        // colour.
        const long days = DaysSinceScan(QCOMPUTER.DATE.ToStandard(), today);
        QCOMPUTER.DAYS = days >= 0 ? std::to_string(days) : std::string();
        QCOMPUTER.C1 = days < 0 || days > stale ? kStaleComputerColor : -1;
        QCOMPUTER.C2 = QCOMPUTER.C3 = QCOMPUTER.C4 = -1;
        QCOMPUTER.Add();
    }
}

std::string MainWindow::NameTooLong() const {
    std::string name = platform::ComputerName();
    return name.size() > sizeof GLO::COMPUTERNAME ? name : std::string();
}

void MainWindow::EnsureOwnRow() {
    // A name longer than its field is never cut: the cut name could be another
    // computer's. The buffer stays clear (row number 0) and the scan refuses.
    if (!NameTooLong().empty()) {
        COMPUTER.SYSCOMPUTER = 0;
        COMPUTER.NAME.Clear();
        return;
    }
    // The name without its trailing blanks: SQL Server ignores them when it compares,
    // PostgreSQL and the embedded database do not, and would add a row at every start.
    // A computer seen for the first time joins the computer list at the next start (or
    // after its first scan).
    (void)EnsureOwnComputerRow(GLO::COMPUTERNAME.Clip(), DRIVEMASK);
    G::THISSYSCOMPUTER = COMPUTER.SYSCOMPUTER;
}

void MainWindow::ShowRecordCount() {
    const std::string answer(Clip(SQLValue("select count(SysFILES) from FILES")));
    const double count = answer.empty() ? 0.0 : std::strtod(answer.c_str(), nullptr);
    WINDOW->SetText(MainCtl::RECORDSSTRING, "files in the database are " + Format(count, "N15"));
}

void MainWindow::ShowDatabaseFile() {
    if (KIND != ServerKind::Embedded) return;
    WINDOW->Hide(MainCtl::SQLSERVER);
    WINDOW->Hide(MainCtl::SQLDATABASE);
    WINDOW->SetText(MainCtl::DBFILESTRING, "Database file: " + EmbeddedDatabasePath(GLO::SQLDATABASE.View()));
    WINDOW->Unhide(MainCtl::DBFILESTRING);
}

void MainWindow::RunScan() {
    SCAN = ScanContext{};
    SCAN.QDRIVE = &QDRIVE;
    SCAN.unattended = UNATTENDED;
    SCAN.display.open = [this] {
        SCANFILES = SCANDIRS = 0;
        SCANELAPSED = 1;  // 00:00:00
        SCANDIR = "";
        WIN_WAIT->Open();
        WIN_WAIT->Enable(WaitCtl::CANCELBUTTON);
        WIN_WAIT->Display();
    };
    SCAN.display.drive = [this](std::string_view text) {
        DRIVE = text;
        WIN_WAIT->Display(2);
    };
    SCAN.display.file_count = [this](ULONG count) { WIN_WAIT->SetStatusText(1, std::to_string(count)); };
    SCAN.display.progress = [this](const ScanProgress& p) { ShowScanProgress(p); };
    SCAN.display.close = [this] { WIN_WAIT->Close(); };
    SCAN.log = GlobalErrors.ERRORLOG;
    SCAN.name_too_long = NameTooLong();
    ScanDrives(SCAN);
}

void MainWindow::ShowScanProgress(const ScanProgress& p) {
    SCANFILES = p.files_stored;
    SCANDIRS = p.dirs_walked;
    // As a standard time (1 is 00:00:00); a scan of a day or more starts the clock again.
    SCANELAPSED = static_cast<LONG>(p.elapsed % kMaxStandardTime) + 1;
    SCANDIR = p.directory;
    WIN_WAIT->Display();
    TakeWaitEvents();
    if (on_scan_progress) on_scan_progress(*this, p);
}

std::string IndexProgressText(const SearchIndexProgress& p) {
    if (p.total <= 0) return p.step;
    const long long share = std::clamp(p.done * 100 / p.total, 0LL, 100LL);
    return std::to_string(share) + "% " + p.step;
}

void MainWindow::ShowIndexProgress(const SearchIndexProgress& p) {
    WIN_START->SetStatusText(1, IndexProgressText(p));
    if (on_index_progress) on_index_progress(*this, p);
}

void MainWindow::TakeWaitEvents() {
    ui::Window& w = *WIN_WAIT;
    // WIN_WAIT has no timer of its own: the Timer posted here comes after every event
    // queued before it, so the loop below ends once they are taken, without waiting.
    if (!w.Post(ui::Event::Timer)) return;
    for (int taken = 0; taken < 100 && w.NextEvent(); ++taken) {
        switch (w.CurrentEvent()) {
            case ui::Event::Timer:
                return;
            case ui::Event::Accepted:
                if (w.Field() == WaitCtl::CANCELBUTTON) CancelScan();
                break;
            case ui::Event::CloseWindow:
                // The close box cancels the scan; the window stays until the scan closes it.
                w.Cycle();
                CancelScan();
                break;
            default:
                break;
        }
    }
}

void MainWindow::CancelScan() {
    RequestScanCancel();
    WIN_WAIT->Disable(WaitCtl::CANCELBUTTON);
}

void MainWindow::ShowScanResult() {
    // A computer scanned for the first time joins the list now, and every computer's
    // last scan shows, not only after the next start.
    FillComputerList();
    ShowRecordCount();
    WINDOW->Display();
}

void MainWindow::TakeComputerChoice() {
    const int row = WINDOW->Choice(MainCtl::LIST2);
    if (row <= 0 || QCOMPUTER.Get(static_cast<std::size_t>(row)) != 0) return;
    G::SEARCHCOMPUTER = QCOMPUTER.NAME.View();
    G::SEARCHSYSCOMPUTER = static_cast<LONG>(QCOMPUTER.SYSCOMPUTER);
    WINDOW->Display();
}

int MainWindow::Startup() {
    // ---- before the main window opens ----
    WIN_START->Open();
    WIN_START->Display();
    SetVersionAndIniFile();
    std::string settings_error;
    if (!FindSettings(SettingsUse::Program, settings_error))
        return EndStartup(StartupFailure(settings_error));
    ReadComputerName();
    // Nobody can fill in the setup window of an unattended run: it goes on with what the
    // settings file says.
    if (GLO::SQLSERVER.IsBlank() && !UNATTENDED) Setup();
    if (GLO::SQLDATABASE.IsBlank()) GLO::SQLDATABASE = "DRIVETREK";
    BuildOwners(DialectOf(ExpectedServerKind()).MasterDatabase());
    // The embedded database is created and written in its directory: one that cannot be
    // written is named here rather than failing later as a bare connection failure.
    if (ExpectedServerKind() == ServerKind::Embedded) {
        if (const std::string problem = EmbeddedDirectoryProblem(); !problem.empty())
            return EndStartup(StartupFailure(problem));
    }
    if (!CheckDatabase()) return EndStartup(EXITSTATUS);
    DRIVEMASK = ListLocalDrives(QDRIVE, GLO::INIFILE.View());

    const int result = ProcedureWindow::Startup();
    // A close asked while the start-up ran reached the start window, not this one.
    if (result == SevQuiet && CloseRequested()) WINDOW->Post(ui::Event::CloseWindow);
    return result;
}

int MainWindow::StartupFailed(int) {
    return EndStartup(UNATTENDED ? kUnattendedFailure : 0);
}

int MainWindow::PrepareWindow() {
    // Indexes and numbering objects that a database made by an earlier version lacks,
    // the search's indexes among them.
    RunStartupUpgrade(
        UNATTENDED, GlobalErrors.ERRORLOG, [this](const SearchIndexProgress& p) { ShowIndexProgress(p); },
        index_progress_rows);
    FillComputerList();
    EnsureOwnRow();
    WIN_START->Close();
    return SevQuiet;
}

int MainWindow::SetUpWindow() {
    WINDOW->SetTitle(std::string(Clip(WINDOW->Title() + " Version " + GLO::VERSION.Str())));
    WINDOW->Display();
    if (UNATTENDED) {
        RunScan();
        EXITSTATUS = SCAN.ExitStatus();
        const std::string summary = SCAN.Summary();
        std::size_t start = 0;
        while (start <= summary.size()) {
            std::size_t end = summary.find('\n', start);
            if (end == std::string::npos) end = summary.size();
            std::printf("drivetrek: %s\n", summary.substr(start, end - start).c_str());
            start = end + 1;
        }
        // With the embedded database a last line names its file: it may lie in the user's
        // data directory rather than here.
        if (KIND == ServerKind::Embedded)
            std::printf("drivetrek: database %s\n", EmbeddedDatabasePath(GLO::SQLDATABASE.View()).c_str());
        std::fflush(stdout);
        return SevFatal;  // ends the program: no event loop
    }
    ShowRecordCount();
    ShowDatabaseFile();
    LIVE = LiveSetting();
    WINDOW->SetMinSize(400, 68);
    RESIZER.Startup(*Port(), AppStrategy::kSpread);
    KeepLayout(RESIZER);
    RESIZER.SetStrategy(MainCtl::FILTER1, 513, 9);
    SetResizer(RESIZER);
    return SevQuiet;
}

void MainWindow::OnWindowOpened() {
    WindowManager::OnWindowOpened();
    if (on_opened) on_opened(*this);
}

int MainWindow::OnNewSelection() {
    // A click on the computer list chooses the computer for the next search, as Enter or
    // a double click (Accepted) does.
    if (CurrentEvent().field == MainCtl::LIST2) TakeComputerChoice();
    return WindowManager::OnNewSelection();
}

int MainWindow::OnAccepted() {
    const LONG control = CurrentEvent().field;
    if (control == MainCtl::LIST2) TakeComputerChoice();
    const int result = WindowManager::OnAccepted();
    switch (control) {
        case MainCtl::FILEOPTIONS:
            SaveComponents();
            Setup();
            LIVE = LiveSetting();
            QDRIVE.Free();  // the scan's roots may have changed
            DRIVEMASK = ListLocalDrives(QDRIVE, GLO::INIFILE.View());
            Refresh(0);
            break;
        case MainCtl::FILEBROWSEFILES:
            SaveComponents();
            ui::Start(BrowseFILES, 25000);
            Refresh(0);
            break;
        case MainCtl::SCANBUTTON:
            SaveComponents();
            UNATTENDED = 0;
            WINDOW->SetStatusText(2, "start: " + Format(double(ClockTime()), "T4"));
            RunScan();
            if (SCAN.outcome == ScanOutcome::Done || SCAN.outcome == ScanOutcome::Stopped ||
                SCAN.outcome == ScanOutcome::Cancelled)
                ShowScanResult();
            if (on_scanned) on_scanned(*this);
            // A signal that stopped the scan also closes the program (the close it posted
            // went to the scan's working window).
            if (ScanStopRequested()) WINDOW->Post(ui::Event::CloseWindow);
            break;
        case MainCtl::SEARCHBUTTON:
            SaveComponents();
            if (IsEmptyRequest(G::FILTER1.View(), G::EXTENSION.View(), SIZE_FROM, SIZE_TO)) {
                ui::Message("please enter a search expression", "search", ui::MessageIcon::Stop,
                            ui::button::Ok);
                return SevNotify;
            }
            G::STARTCLOCK = ClockTime();
            G::SIZE_FROM = KilobytesToBytes(SIZE_FROM);
            G::SIZE_TO = KilobytesToBytes(SIZE_TO);
            if (LIVE && !run_results) {
                // At once, into the window that follows the typing.
                AskLive(std::chrono::milliseconds(0), true);
                WINDOW->Select(MainCtl::FILTER1);
                break;
            }
            if (run_results)
                run_results();
            else
                QFiles();
            WINDOW->MarkTouched(MainCtl::FILTER1);
            WINDOW->Select(MainCtl::FILTER1);
            break;
        default:
            break;
    }
    return result;
}

bool LiveSetting() {
    return Clip(platform::ReadProfileString(GLO::INIFILE.Str(), "options", "live", "1")) != "0";
}

namespace {

// A size entry's text as kilobytes (0 when it is no number).
long KilobytesOf(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != ',' && c != ' ') digits += c;
    char* end = nullptr;
    const long v = std::strtol(digits.c_str(), &end, 10);
    return end != digits.c_str() && *end == '\0' ? v : 0;
}

}  // namespace

bool MainWindow::AskLive(std::chrono::milliseconds delay, bool any_criterion) {
    // What the entries show now: their variables change only when they are left.
    const std::string filter = WINDOW->Text(MainCtl::FILTER1);
    const std::string extension = WINDOW->Text(MainCtl::EXTENSION);
    const long from = KilobytesOf(WINDOW->Text(MainCtl::SIZE_FROM));
    const long to = KilobytesOf(WINDOW->Text(MainCtl::SIZE_TO));
    if (any_criterion ? IsEmptyRequest(filter, extension, from, to)
                      : !LiveWorthy(filter, extension, from, to))
        return false;
    LiveRequest live;
    live.request = SearchRequestFromGlobals();
    live.request.filter = filter.substr(0, 40);
    live.request.extension = extension.substr(0, 10);
    live.request.size_from = KilobytesToBytes(from);
    live.request.size_to = KilobytesToBytes(to);
    live.computer_name = G::SEARCHCOMPUTER.Str();
    live.startclock = ClockTime();
    if (dt::LIVE.Ask(live, delay)) {
        dt::LIVE.SetAnchor(WINDOW->GetPosition(0));
        ui::Start(QFilesLive, 25000);
    } else if (delay.count() == 0) {
        dt::LIVE.Wake();
    }
    return true;
}

int MainWindow::OnFieldEvent() {
    const int result = WindowManager::OnFieldEvent();
    const WindowEvent& e = CurrentEvent();
    if (LIVE && e.event == ui::Event::Edited &&
        (e.field == MainCtl::FILTER1 || e.field == MainCtl::EXTENSION || e.field == MainCtl::SIZE_FROM ||
         e.field == MainCtl::SIZE_TO))
        AskLive(kLiveDelay, false);
    return result;
}

int MainProcedure(const std::function<void(MainWindow&)>& on_opened) {
    MainWindow window;
    window.UNATTENDED = Unattended() ? 1 : 0;
    window.on_opened = on_opened;
    GlobalResponse = window.Run();
    return window.EXITSTATUS;
}

}  // namespace dt
