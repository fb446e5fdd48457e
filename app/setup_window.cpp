#include "app/setup_window.h"

#include <mutex>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "app/tables.h"
#include "data/sql_connection.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "platform/drives.h"
#include "platform/profile.h"
#include "ui/application.h"
#include "ui/window.h"

namespace dt {

ui::WindowDef SetupWindowDef(SetupWindow* w) {
    using namespace ui;
    // With the embedded database the Database tab gains a line naming its file: a server
    // name would not locate it.
    const bool embedded = w != nullptr && CurrentServerKind() == ServerKind::Embedded;
    const int grow = embedded ? 14 : 0;
    WindowDef d = ProcedureWindowDef("Options", {0, 0, 236, 132 + grow});
    d.flags.modal = true;
    const int sheet = d.Add(SheetDef({4, 4, 228, 100 + grow}));
    d.controls.back().label = "?SHEET1";
    const int tab = d.Add(TabDef("Database", sheet));
    d.controls.back().label = "?TAB1";
    auto on_tab = [&d, tab](ControlDef c) {
        c.parent = tab;
        return d.Add(std::move(c));
    };
    on_tab(PromptDef("SQL Server:", {12, 24, 52, 10}));
    on_tab(EntryDef("s32", Use(GLO::SQLSERVER), {68, 23, 156, 12}));
    on_tab(PromptDef("Database:", {12, 40, 52, 10}));
    ControlDef database = EntryDef("s20", Use(GLO::SQLDATABASE), {68, 39, 100, 12});
    database.live_edits = embedded;
    on_tab(std::move(database));
    on_tab(PromptDef("User:", {12, 56, 52, 10}));
    on_tab(EntryDef("s20", Use(GLO::SQLUSER), {68, 55, 100, 12}));
    on_tab(PromptDef("Password:", {12, 72, 52, 10}));
    ControlDef pass = EntryDef("s20", Use(GLO::SQLPASSWD), {68, 71, 100, 12});
    pass.password = true;
    on_tab(std::move(pass));
    ControlDef kill = ButtonDef("kill drivetrek table from master database", {12, 86, 212, 14});
    kill.label = "?KILLMASTERBUTTON";
    on_tab(std::move(kill));
    ControlDef ok = ButtonDef("OK", {124, 110 + grow, 50, 16});
    ok.label = "?OKBUTTON";
    ok.default_button = true;
    d.Add(std::move(ok));
    ControlDef cancel = ButtonDef("Cancel", {180, 110 + grow, 50, 16});
    cancel.label = "?CANCELBUTTON";
    d.Add(std::move(cancel));
    if (w == nullptr) return d;
    ControlDef check = CheckDef("results as you type", Use(w->LIVE), {8, 112 + grow, 110, 12});
    check.label = "?LIVE";
    d.Add(std::move(check));
    // The scan's roots and exclusions, with the preview.
    const int scan_tab = d.Add(TabDef("Scan", sheet));
    d.controls.back().label = "?TAB2";
    auto on_scan = [&d, scan_tab](ControlDef c, const char* label) {
        c.parent = scan_tab;
        c.label = label;
        return d.Add(std::move(c));
    };
    on_scan(PromptDef("Roots:", {12, 24, 36, 10}), "?ROOTSPROMPT");
    on_scan(EntryDef("s1024", Use(w->ROOTS), {50, 23, 174, 12}), "?ROOTS");
    on_scan(PromptDef("Exclude:", {12, 40, 36, 10}), "?EXCLUDEPROMPT");
    on_scan(EntryDef("s1024", Use(w->EXCLUDE), {50, 39, 174, 12}), "?EXCLUDE");
    on_scan(StringDef("Separate with ;    Blank roots: every fixed drive", {12, 53, 212, 10}),
            "?EXCLUDEHINT");
    on_scan(ButtonDef("Preview", {12, 66, 34, 14}), "?PREVIEWBUTTON");
    on_scan(TextDef("", {50, 66, 174, 30}), "?PREVIEWTEXT");
    ControlDef db_file = StringDef("", {12, 102, 212, 10});
    db_file.parent = tab;
    db_file.label = "?DBFILE";
    db_file.hidden = !embedded;
    db_file.elide_middle = true;
    d.Add(std::move(db_file));
    return d;
}

SetupWindow::SetupWindow()
    : ProcedureWindow("Setup", SetupCtl::SERVERPROMPT),
      WINDOW(std::make_unique<ui::Window>(SetupWindowDef(this))) {
    UseWindows(*WINDOW, {WINDOW.get()});
}

SetupWindow::~SetupWindow() = default;

int SetupWindow::PrepareWindow() {
    LIVE = LiveSetting() ? 1 : 0;
    // A value the entry cannot hold whole is shown, but never written back cut.
    const auto load = [this](const char* key, STRING<1024>& field, bool& kept) {
        const std::string value = platform::ReadProfileString(GLO::INIFILE.Str(), "scan", key, "");
        field = value;
        kept = value.size() > sizeof(field.data);
    };
    load("roots", ROOTS, roots_kept_);
    load("exclude", EXCLUDE, exclude_kept_);
    return SevQuiet;
}

int SetupWindow::SetUpWindow() {
    ShowDatabaseFile();
    if (roots_kept_) WINDOW->Disable(SetupCtl::ROOTS);
    if (exclude_kept_) WINDOW->Disable(SetupCtl::EXCLUDE);
    return SevQuiet;
}

int SetupWindow::Shutdown() {
    // A preview still walking ends before the window it reports to.
    preview_.Cancel();
    preview_.Join();
    return ProcedureWindow::Shutdown();
}

void SetupWindow::ShowDatabaseFile() {
    if (WINDOW->Hidden(SetupCtl::DBFILE)) return;
    std::string name(Clip(WINDOW->Text(SetupCtl::SQLDATABASE)));
    if (name.empty()) name = "DRIVETREK";  // what the start-up uses for a blank name
    WINDOW->SetText(SetupCtl::DBFILE, "Database file: " + EmbeddedDatabasePath(name));
}

void SetupWindow::OnWindowOpened() {
    WindowManager::OnWindowOpened();
    if (on_opened) on_opened(*this);
}

int SetupWindow::OnAccepted() {
    const int result = WindowManager::OnAccepted();
    switch (CurrentEvent().field) {
        case SetupCtl::KILLMASTERBUTTON:
            SaveComponents();
            KillMasterFiles();
            return result;
        case SetupCtl::OKBUTTON:
            SaveComponents();
            SaveSettings(GLO::INIFILE.Str());
            platform::WriteProfileString(GLO::INIFILE.Str(), "options", "live", LIVE ? "1" : "0");
            SaveScanSettings();
            return SevFatal;
        case SetupCtl::CANCELBUTTON:
            SaveComponents();
            return SevFatal;
        case SetupCtl::PREVIEWBUTTON:
            StartPreview();
            return result;
        default:
            return result;
    }
}

int SetupWindow::HandleEvent() {
    // The preview's thread posts a timer event whenever it has news.
    if (CurrentEvent().event == ui::Event::Timer && OPENED) ShowPreview();
    // The database file's line follows the name as it is typed.
    if (CurrentEvent().event == ui::Event::Edited && CurrentEvent().field == SetupCtl::SQLDATABASE)
        ShowDatabaseFile();
    return WindowManager::HandleEvent();
}

void SetupWindow::StartPreview() {
    if (preview_.Running()) {
        preview_.Cancel();  // the walk says "cancelled" when it has ended
        return;
    }
    // The roots a scan would start from: the listed ones, or every fixed file system.
    // A value too long for its entry is taken whole from the file.
    const std::string& file = GLO::INIFILE.Str();
    const std::string roots_text =
        roots_kept_ ? platform::ReadProfileString(file, "scan", "roots", "") : ROOTS.Str();
    const std::string exclude_text = exclude_kept_ ? ExcludeSetting(file) : EXCLUDE.Str();
    std::vector<std::string> roots;
    if (roots_text.empty()) {
        for (const platform::Drive& d : platform::MountedDrives())
            if (d.type == platform::kDriveFixed) roots.push_back(d.root);
    } else {
        roots = platform::ParseScanRoots(roots_text);
    }
    if (roots.empty()) {
        WINDOW->SetText(SetupCtl::PREVIEWTEXT, "There is no root to walk.");
        return;
    }
    ui::Window* window = WINDOW.get();
    preview_told_ = false;
    preview_.Start(std::move(roots), Exclusions(exclude_text), preview_limit,
                   [window] { window->Post(ui::Event::Timer); });
    WINDOW->SetText(SetupCtl::PREVIEWBUTTON, "Stop");
    WINDOW->SetText(SetupCtl::PREVIEWTEXT, "Walking...");
}

void SetupWindow::ShowPreview() {
    if (preview_told_) return;  // no preview, or its end is shown already
    const PreviewCounts counts = preview_.Counts();
    WINDOW->SetText(SetupCtl::PREVIEWTEXT, counts.Text());
    if (!counts.done) return;
    preview_told_ = true;
    WINDOW->SetText(SetupCtl::PREVIEWBUTTON, "Preview");
    if (on_preview) on_preview(*this);
}

void SetupWindow::SaveScanSettings() {
    // Blank entries leave the keys out: every fixed file system, nothing excluded.
    const std::string& file = GLO::INIFILE.Str();
    const auto save = [&file](const char* key, const STRING<1024>& field, bool kept) {
        if (kept) return;
        if (field.IsBlank())
            platform::DeleteProfileKey(file, "scan", key);
        else
            platform::WriteProfileString(file, "scan", key, field.Clip());
    };
    save("roots", ROOTS, roots_kept_);
    save("exclude", EXCLUDE, exclude_kept_);
}

void Setup(const std::function<void(SetupWindow&)>& on_opened,
           const std::function<void(SetupWindow&)>& on_preview) {
    SetupWindow window;
    window.on_opened = on_opened;
    window.on_preview = on_preview;
    GlobalResponse = window.Run();
}

// SQLF is one record buffer and one statement: the live results window's thread asks for
// a computer's name while the main window may be counting the files.
static std::mutex& PassThroughMutex() {
    static std::mutex m;
    return m;
}

std::string SQLValue(std::string_view statement) {
    const std::string text(statement.substr(0, 4098));
    std::string answer;
    std::lock_guard lock(PassThroughMutex());
    const RelationOpen sqlf(Relate::SQLF);
    if (Access::SQLF->UseFile() == SevQuiet) {
        // A failing statement is not looked at: its NEXT fails too and the answer stays "".
        (void)SetProperty(SQLF.file, PROP_SQL, text);
        if (Next(SQLF.file) == ErrNone) answer = SQLF.FELD1.View();
    }
    return answer;
}

ErrCode SQLExecute(RelationManager& relate, FileManager& access, File& file, std::string_view statement,
                   std::string& error) {
    std::lock_guard lock(PassThroughMutex());
    const RelationOpen open(&relate);
    if (access.UseFile() != SevQuiet) {
        // The file manager's result is a severity: the code is the one its failure left.
        error = "The table " + file.label + " could not be opened.";
        return ErrorCode() != ErrNone ? ErrorCode() : ErrFileSystem;
    }
    const ErrCode rc = SetProperty(file, PROP_SQL, statement);
    if (rc != ErrNone) error = LastErrorText();
    return rc;
}

void KillMasterFiles() {
    // The setup window may run before the connection texts exist (a blank server at
    // start-up): build them from what the window shows now.
    if (GLO::SQLMASTEROWNER.IsBlank()) {
        BuildOwners(DialectOf(ExpectedServerKind()).MasterDatabase());
    }
    // Which server this is decides the statement: the master connection tells.
    RelationOpen sqlm(Relate::SQLM);
    if (Access::SQLM->UseFile() != SevQuiet) return;  // the file manager has reported why
    const Dialect& dialect = DialectOf(KindOfDbms(GetProperty(SQLM.file, PROP_DbmsName)));
    const std::string question = "Drop the table " + dialect.MasterFilesName() + " on " +
                                 GLO::SQLSERVER.Str() + " ?|Every row in it is lost.";
    if (ui::Message(question, "kill drivetrek table", ui::MessageIcon::Question,
                    ui::button::Yes | ui::button::No, ui::button::No) != ui::button::Yes)
        return;
    std::string error;
    const ErrCode rc =
        dialect.DropThroughMaster()
            ? SQLExecute(*Relate::SQLM, *Access::SQLM, SQLM.file, dialect.DropMasterFiles(), error)
            : SQLExecute(*Relate::SQLF, *Access::SQLF, SQLF.file, dialect.DropMasterFiles(), error);
    sqlm.Close();
    if (rc == ErrNone) {
        // With the default settings this was the application's own FILES table: the
        // next number must come from the table again, not from what this run assigned.
        if (Access::FILES != nullptr) Access::FILES->ForgetAutoIncNumbers();
        ui::Message("ok!", "", ui::MessageIcon::None, ui::button::Ok);
    } else {
        ui::Message(error, "error", ui::MessageIcon::Stop, ui::button::Ok);
    }
}

}  // namespace dt
