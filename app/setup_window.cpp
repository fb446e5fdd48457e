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
#include "platform/profile.h"
#include "ui/application.h"
#include "ui/window.h"

namespace dt {

ui::WindowDef SetupWindowDef(BYTE* live) {
    using namespace ui;
    WindowDef d;
    d.label = "WINDOW";
    d.title = "Options";
    d.icon = "GO.ICO";
    d.font = "MS Sans Serif";
    d.at = {0, 0, 236, 132};
    d.flags.centered = true;
    d.flags.modal = true;
    const int sheet = d.Add(SheetDef({4, 4, 228, 100}));
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
    on_tab(EntryDef("s20", Use(GLO::SQLDATABASE), {68, 39, 100, 12}));
    on_tab(PromptDef("User:", {12, 56, 52, 10}));
    on_tab(EntryDef("s20", Use(GLO::SQLUSER), {68, 55, 100, 12}));
    on_tab(PromptDef("Password:", {12, 72, 52, 10}));
    ControlDef pass = EntryDef("s20", Use(GLO::SQLPASSWD), {68, 71, 100, 12});
    pass.password = true;
    on_tab(std::move(pass));
    ControlDef kill = ButtonDef("kill drivetrek table from master database", {12, 86, 212, 14});
    kill.label = "?KILLMASTERBUTTON";
    on_tab(std::move(kill));
    ControlDef ok = ButtonDef("OK", {124, 110, 50, 16});
    ok.label = "?OKBUTTON";
    ok.default_button = true;
    d.Add(std::move(ok));
    ControlDef cancel = ButtonDef("Cancel", {180, 110, 50, 16});
    cancel.label = "?CANCELBUTTON";
    d.Add(std::move(cancel));
    if (live != nullptr) {
        ControlDef check = CheckDef("results as you type", Use(*live), {8, 112, 110, 12});
        check.label = "?LIVE";
        d.Add(std::move(check));
    }
    return d;
}

SetupWindow::SetupWindow() : WINDOW(std::make_unique<ui::Window>(SetupWindowDef(&LIVE))) {}

SetupWindow::~SetupWindow() = default;

int SetupWindow::Startup() {
    GlobalErrors.EnterProcedure("Setup");
    REQUEST = GlobalRequest;
    if (int r = WindowManager::Startup(); r != SevQuiet) return r;
    FIRSTFIELD = SetupCtl::SERVERPROMPT;
    ERRORS = &GlobalErrors;
    GlobalRequest = 0;
    GlobalResponse = 0;
    SetToolbar(TOOLBARMGR);
    LIVE = LiveSetting() ? 1 : 0;
    if (WINDOW->Open() != 0) return SevFatal;
    OPENED = 1;
    SetWindow(*WINDOW);
    UiPlacement placement(*WINDOW);
    GlobalIni.RestoreWindow("Setup", placement);
    ArmAlerts();
    return SevQuiet;
}

int SetupWindow::Shutdown() {
    if (int r = WindowManager::Shutdown(); r != SevQuiet) return r;
    if (OPENED) {
        UiPlacement placement(*WINDOW);
        GlobalIni.SaveWindow("Setup", placement);
    }
    GlobalErrors.LeaveProcedure();
    WINDOW->Close();
    return SevQuiet;
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
            return SevFatal;
        case SetupCtl::CANCELBUTTON:
            SaveComponents();
            return SevFatal;
        default:
            return result;
    }
}

void Setup(const std::function<void(SetupWindow&)>& on_opened) {
    SetupWindow window;
    window.on_opened = on_opened;
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
    Relate::SQLF->Open();
    if (Access::SQLF->UseFile() == 0) {
        // A failing statement is not looked at: its NEXT fails too and the answer stays "".
        SetProperty(SQLF.file, PROP_SQL, text);
        if (Next(SQLF.file) == 0) answer = SQLF.FELD1.View();
    }
    Relate::SQLF->Close();
    return answer;
}

int SQLExecute(RelationManager& relate, FileManager& access, File& file, std::string_view statement,
               std::string& error) {
    std::lock_guard lock(PassThroughMutex());
    relate.Open();
    int rc = access.UseFile();
    if (rc == 0) {
        rc = SetProperty(file, PROP_SQL, statement);
        if (rc != 0) error = LastErrorText();
    } else {
        error = "The table " + file.label + " could not be opened.";
    }
    relate.Close();
    return rc;
}

void KillMasterFiles() {
    // The setup window may run before the connection texts exist (a blank server at
    // start-up): build them from what the window shows now.
    if (GLO::SQLMASTEROWNER.IsBlank()) {
        const std::vector<std::string> names = DriverNameList();
        BuildOwners(DialectOf(names.empty() ? ServerKind::SqlServer : KindOfDriverName(names.front()))
                        .MasterDatabase());
    }
    // Which server this is decides the statement: the master connection tells.
    Relate::SQLM->Open();
    if (Access::SQLM->UseFile() != 0) {
        Relate::SQLM->Close();
        return;  // the file manager has reported why
    }
    const Dialect& dialect = DialectOf(KindOfDbms(GetProperty(SQLM.file, PROP_DbmsName)));
    const std::string question = "Drop the table " + dialect.MasterFilesName() + " on " +
                                 GLO::SQLSERVER.Str() + " ?|Every row in it is lost.";
    if (ui::Message(question, "kill drivetrek table", ui::MessageIcon::Question,
                    ui::button::Yes | ui::button::No, ui::button::No) != ui::button::Yes) {
        Relate::SQLM->Close();
        return;
    }
    std::string error;
    const int rc =
        dialect.DropThroughMaster()
            ? SQLExecute(*Relate::SQLM, *Access::SQLM, SQLM.file, dialect.DropMasterFiles(), error)
            : SQLExecute(*Relate::SQLF, *Access::SQLF, SQLF.file, dialect.DropMasterFiles(), error);
    Relate::SQLM->Close();
    if (rc == 0) {
        // With the default settings this was the application's own FILES table: the
        // next number must come from the table again, not from what this run assigned.
        if (Access::FILES != nullptr) Access::FILES->ForgetAutoIncNumbers();
        ui::Message("ok!", "", ui::MessageIcon::None, ui::button::Ok);
    } else {
        ui::Message(error, "error", ui::MessageIcon::Stop, ui::button::Ok);
    }
}

}  // namespace dt
