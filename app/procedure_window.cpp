#include "app/procedure_window.h"

#include <utility>

#include "framework/relation_manager.h"
#include "framework/window_resizer.h"
#include "ui/window.h"

namespace dt {

ui::WindowDef ProcedureWindowDef(std::string title, ui::Rect at) {
    ui::WindowDef d;
    d.label = "WINDOW";
    d.title = std::move(title);
    d.icon = "GO.ICO";
    d.font = "MS Sans Serif";
    d.at = at;
    d.flags.centered = true;
    return d;
}

ProcedureWindow::ProcedureWindow(std::string name, LONG first_field)
    : name_(std::move(name)), first_field_(first_field) {}

void ProcedureWindow::UseWindows(ui::Window& window, std::vector<ui::Window*> close_order) {
    window_ = &window;
    close_order_ = std::move(close_order);
}

void ProcedureWindow::UseTables(std::vector<RelationManager* const*> tables) {
    tables_ = std::move(tables);
}

int ProcedureWindow::Startup() {
    GlobalErrors.EnterProcedure(name_);
    REQUEST = GlobalRequest;
    if (int r = WindowManager::Startup(); r != SevQuiet) {
        GlobalErrors.LeaveProcedure();
        return StartupFailed(r);
    }
    entered_ = true;
    FIRSTFIELD = first_field_;
    ERRORS = &GlobalErrors;
    GlobalRequest = 0;
    GlobalResponse = 0;
    SetToolbar(TOOLBARMGR);
    if (!OpenTables()) return StartupFailed(SevFatal);
    if (int r = PrepareWindow(); r != SevQuiet) return r;
    if (window_ == nullptr || window_->Open() != 0) return StartupFailed(SevFatal);
    OPENED = 1;
    SetWindow(*window_);
    if (int r = SetUpWindow(); r != SevQuiet) return r;
    {
        UiPlacement placement(*window_);
        GlobalIni.RestoreWindow(name_, placement);
    }
    // The restored size moves the controls the resizer looks after.
    if (RESIZE != nullptr) RESIZE->ResizeAll();
    if (int r = FinishStartup(); r != SevQuiet) return r;
    ArmAlerts();
    return SevQuiet;
}

int ProcedureWindow::Shutdown() {
    if (int r = WindowManager::Shutdown(); r != SevQuiet) return r;
    ReleaseTables();
    CloseTables();
    if (OPENED) {
        SaveLayout();
        UiPlacement placement(*window_);
        GlobalIni.SaveWindow(name_, placement);
    }
    if (entered_) {
        GlobalErrors.LeaveProcedure();
        entered_ = false;
    }
    for (ui::Window* w : close_order_)
        if (w != nullptr) w->Close();
    return SevQuiet;
}

// The one place where a procedure's tables are opened and closed: every table is opened
// once at start-up and closed once at shutdown, in the same order.
bool ProcedureWindow::OpenTables() {
    for (RelationManager* const* t : tables_)
        if (*t == nullptr) return false;
    // Open here, close in CloseTables (start-up to shutdown, no one scope): a lazy Open only
    // counts, so it cannot fail.
    for (RelationManager* const* t : tables_) (void)(*t)->Open();
    if (!tables_.empty()) FILESOPENED = 1;
    return true;
}

void ProcedureWindow::CloseTables() {
    if (!FILESOPENED) return;
    for (RelationManager* const* t : tables_)
        if (*t != nullptr) (void)(*t)->Close();  // a Close only counts down
    FILESOPENED = 0;
}

}  // namespace dt
