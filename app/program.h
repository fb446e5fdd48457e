// The program frame: the objects that live for the whole program (the global error
// manager, the settings-file manager, the global request and response), the start and
// end of the program around the main procedure, and the window placement adapter through
// which procedures save and restore their window positions.
#pragma once

#include <cstdio>
#include <functional>

#include "app/unattended.h"
#include "framework/ini_manager.h"
#include "framework/window_component.h"
#include "runtime/types.h"

namespace dt {

namespace ui {
class Window;
}

// The program's error manager, settings-file manager, and the request a procedure is
// called with and the response it leaves (Request... / Response... of window_manager.h).
extern ProgramErrorManager GlobalErrors;
extern IniManager GlobalIni;
extern BYTE GlobalRequest;
extern BYTE GlobalResponse;

// A window of the window layer as the settings-file manager saves and restores it.
// The window must stay open while the adapter is used.
class UiPlacement final : public WindowPlacement {
  public:
    explicit UiPlacement(ui::Window& window) : window_(window) {}
    bool IsMinimized() const override;
    bool IsMaximized() const override;
    void SetMaximized(bool maximized) override;
    void GetPosition(int& x, int& y) const override;
    void SetPosition(int x, int y) override;
    void GetSize(int& width, int& height) const override;
    void SetSize(int width, int height) override;
    bool IsResizable() const override;

  private:
    ui::Window& window_;
};

// The toolbar object every procedure attaches (SetToolbar). The program's windows have
// no record-navigation toolbar, so it only remembers its window.
class ProcedureToolbar final : public ToolbarInterface {
  public:
    void SetWindow(WindowManager& window) override { window_ = &window; }
    void TakeAccepted(LONG, LONG*) override {}
    void Kill() override { window_ = nullptr; }

  private:
    WindowManager* window_ = nullptr;
};

// The program frame, on runtime thread 1 of the window layer: sets up the error manager
// (SILENT and the halt handler for unattended runs), the table managers and the
// settings-file manager (on the system profile), runs `main_procedure`, then writes the
// settings-file manager back and shuts everything down in creation order. Returns the
// main procedure's exit status.
int ProgramFrame(bool unattended, const std::function<int()>& main_procedure);

// The whole program from the command line: "/S" (any case, anywhere) selects the
// unattended scan; without a display the windows run offscreen. SIGINT and SIGTERM stop a
// running scan and close the innermost window of the main procedure (a second signal
// ends the process). Returns the exit status.
int RunProgram(int argc, char** argv);

// A close of the program asked from outside (a signal): the main window closes as soon as
// it is open. Any thread.
void RequestClose();
bool CloseRequested();

// True when the command line holds the switch "/S" (any case).
bool HasScanSwitch(int argc, char** argv);

// Exit status for a command line the program does not understand (2 already means "some
// files were not stored").
constexpr int kUsageStatus = 64;

// Looks at the command line before anything starts: "--help" (or "-h") prints the help,
// naming the files the program would use, and "--version" the version line, both on
// `out` (status 0); an argument that is neither "/S" nor one of the window layer's own
// options prints a short usage on `err` (status kUsageStatus). Returns -1 when the
// program is to run.
int CheckCommandLine(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace dt
