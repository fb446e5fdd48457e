#include "app/program.h"

#include <pthread.h>
#include <signal.h>
#include <strings.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/scan.h"
#include "app/tables.h"
#include "ui/application.h"
#include "ui/window.h"

namespace dt {

ProgramErrorManager GlobalErrors;
IniManager GlobalIni;
BYTE GlobalRequest = 0;
BYTE GlobalResponse = 0;

// ---------------------------------------------------------------- UiPlacement

bool UiPlacement::IsMinimized() const {
    return window_.GetPlacement().iconized;
}
bool UiPlacement::IsMaximized() const {
    return window_.GetPlacement().maximized;
}
void UiPlacement::SetMaximized(bool maximized) {
    ui::Placement p = window_.GetPlacement();
    p.maximized = maximized;
    p.iconized = false;
    window_.SetPlacement(p);
}
void UiPlacement::GetPosition(int& x, int& y) const {
    const ui::Rect r = window_.GetPosition(0);
    x = r.x;
    y = r.y;
}
void UiPlacement::SetPosition(int x, int y) {
    const ui::Rect r = window_.GetPosition(0);
    window_.SetPosition(0, {x, y, r.w, r.h});
}
void UiPlacement::GetSize(int& width, int& height) const {
    const ui::Rect r = window_.GetPosition(0);
    width = r.w;
    height = r.h;
}
void UiPlacement::SetSize(int width, int height) {
    // A damaged settings file must not make the window vanish: sizes below one unit keep
    // the current size (SetPosition reads 0 as "keep").
    const ui::Rect r = window_.GetPosition(0);
    window_.SetPosition(0, {r.x, r.y, width > 0 ? width : 0, height > 0 ? height : 0});
}
bool UiPlacement::IsResizable() const {
    return window_.Resizable();
}

// ---------------------------------------------------------------- the frame

int ProgramFrame(bool unattended, const std::function<int()>& main_procedure) {
    SetUnattended(unattended);
    GlobalErrors.Startup();
    GlobalErrors.SetHaltHandler(&HaltProgram);
    // Nobody can answer in an unattended run: messages go to standard error, questions
    // and fatal errors end the program there (see ProgramErrorManager).
    GlobalErrors.SILENT = unattended ? 1 : 0;
    InitTables(GlobalErrors);
    // The settings file's name is still empty here, so window positions go to the system
    // profile. (Full-window drag is a setting of another platform: nothing to switch.)
    GlobalIni.Startup(GLO::INIFILE.View());
    // An unattended run shows no window worth placing: the system profile stays as it is.
    GlobalIni.SetReadOnly(unattended);

    const int status = main_procedure ? main_procedure() : 0;

    GlobalIni.BeforeShutdown();
    GlobalIni.Shutdown();
    KillTables();
    GlobalErrors.SetHaltHandler(nullptr);
    GlobalErrors.Shutdown();
    return status;
}

namespace {
std::atomic<bool> g_close_requested{false};
}  // namespace

void RequestClose() {
    g_close_requested = true;
}

bool CloseRequested() {
    return g_close_requested.load();
}

bool HasScanSwitch(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] != nullptr && strcasecmp(argv[i], "/S") == 0) return true;
    return false;
}

namespace {

// Waits for SIGINT or SIGTERM (blocked in every other thread), stops a running scan, asks
// the program to close (CloseRequested) and closes the main procedure's innermost window,
// so that a scripted or interactive interrupt ends the program through its normal
// shutdown. A second signal ends the process at once.
class SignalCloser {
  public:
    SignalCloser() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
        thread_ = std::thread([this] { Wait(); });
    }
    ~SignalCloser() {
        done_ = true;
        pthread_kill(thread_.native_handle(), SIGTERM);
        thread_.join();
    }
    SignalCloser(const SignalCloser&) = delete;
    SignalCloser& operator=(const SignalCloser&) = delete;

  private:
    void Wait() {
        bool asked = false;
        for (;;) {
            int sig = 0;
            if (sigwait(&set_, &sig) != 0) continue;
            if (done_) return;
            if (asked) EndProcess(128 + sig);
            asked = true;
            // A running scan stops at its next directory or batch (its store ends its
            // batch, the last-scan date stays), then the program closes.
            RequestScanStop();
            RequestClose();
            ui::Post(ui::Event::CloseWindow, 0, 1);
        }
    }

    sigset_t set_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

int RunProgram(int argc, char** argv) {
    const bool unattended = HasScanSwitch(argc, argv);
    if (!ui::Application::HasDisplay()) {
        ui::Application::UseOffscreen();
        if (!unattended)
            std::fprintf(stderr,
                         "drivetrek: no display; the windows run offscreen. Use \"drivetrek /S\" for an "
                         "unattended scan, SIGTERM or Ctrl+C to end.\n");
    }
    SignalCloser closer;
    return ui::RunApplication(
        argc, argv, [unattended] { return ProgramFrame(unattended, [] { return MainProcedure(); }); });
}

}  // namespace dt
