// ProcedureWindow: what every procedure window of the program does the same way at its
// start and at its end, around what each window does of its own.
//
// Start-up, in this order: the procedure is entered in the error manager under its name,
// the caller's request taken (GlobalRequest), the window manager's own start-up run; then
// the first field, the error manager and the toolbar are set, the global request and
// response cleared, the procedure's tables opened (in the order given), PrepareWindow
// runs, the window opens and is bound to the manager, SetUpWindow runs, the window's
// position is restored from the settings under the procedure's name (and the resizer, if
// any, lays the controls out anew), FinishStartup runs, and the alerts are armed.
//
// Shutdown, in this order: the window manager's own shutdown; ReleaseTables; the tables
// closed (in the order they were opened); when the window was open, SaveLayout and its
// position saved; the procedure left in the error manager; the windows closed (in the
// order given).
//
// A start-up that fails after the tables were opened leaves them open for the shutdown,
// which Run always calls: they are closed there, once.
#pragma once

#include <string>
#include <vector>

#include "app/program.h"
#include "framework/window_manager.h"
#include "ui/definition.h"

namespace dt {

class RelationManager;

namespace ui {
class Window;
}

// The definition every procedure's own window starts from: label WINDOW, `title`, the
// program's icon and font, `at`, centred on the screen.
ui::WindowDef ProcedureWindowDef(std::string title, ui::Rect at);

class ProcedureWindow : public WindowManager {
  public:
    ProcedureToolbar TOOLBARMGR;

    int Startup() override;
    int Shutdown() override;

    // The procedure's name: its entry in the error manager and the settings section of
    // its window's position.
    const std::string& ProcedureName() const { return name_; }

  protected:
    // `name` as above; `first_field`: the control that gets the focus first.
    ProcedureWindow(std::string name, LONG first_field);

    // The window the procedure runs in, and every window it owns in the order they close
    // at shutdown (the procedure's window among them). Called from the derived window's
    // constructor; the windows must outlive the shutdown.
    void UseWindows(ui::Window& window, std::vector<ui::Window*> close_order);
    // The tables the procedure keeps open while it runs, as the addresses of their
    // relation managers (read at start-up: a manager made later counts). A start-up
    // without every one of them fails before any is opened.
    void UseTables(std::vector<RelationManager* const*> tables);

    // Steps of the window's own. Each returns 0 to go on; anything else ends the start-up
    // with that result.
    // After the tables are open, before the window opens.
    virtual int PrepareWindow() { return SevQuiet; }
    // After the window has opened, before its position is restored.
    virtual int SetUpWindow() { return SevQuiet; }
    // After the position is restored, before the alerts are armed.
    virtual int FinishStartup() { return SevQuiet; }
    // The result of a start-up that one of the common steps refused (`result`): the window
    // manager's start-up, a missing table, or a window that would not open.
    virtual int StartupFailed(int result) { return result; }
    // At shutdown, before the tables close: what reads them stops.
    virtual void ReleaseTables() {}
    // At shutdown, when the window was open, before its position is saved.
    virtual void SaveLayout() {}

  private:
    bool OpenTables();
    void CloseTables();

    std::string name_;
    LONG first_field_ = 0;
    ui::Window* window_ = nullptr;
    std::vector<ui::Window*> close_order_;
    std::vector<RelationManager* const*> tables_;
    bool entered_ = false;  // the procedure is entered in the error manager
};

}  // namespace dt
