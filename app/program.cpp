#include "app/program.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/scan.h"
#include "app/settings.h"
#include "app/tables.h"
#include "app/version.h"
#include "platform/text.h"
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
        if (argv[i] != nullptr && EqualNoCase(argv[i], "/S")) return true;
    return false;
}

namespace {

// The window layer's own options (either "-name" or "--name"); the first group takes a
// value, as the next argument or after "=".
constexpr const char* kWindowOptionsWithValue[] = {
    "platform",     "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon",  "qwindowtitle",       "session",       "display", "geometry",
    "style",        "stylesheet",         "name",          "title",   "visual",
    "qmljsdebugger"};
constexpr const char* kWindowFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

constexpr const char* kShortUsage =
    "usage: drivetrek [/S] [--help] [--version] [window options such as -platform NAME]\n"
    "Try 'drivetrek --help' for more information.\n";

}  // namespace

int CheckCommandLine(int argc, char** argv, std::FILE* out, std::FILE* err) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i] != nullptr ? argv[i] : "";
        if (a == "--help" || a == "-h") {
            const FileLocations l = ProgramFileLocations();
            std::string data = l.data_dir.empty() ? "the current directory" : l.data_dir;
            std::fprintf(
                out,
                "usage: drivetrek [/S] [window options]\n"
                "Finds files across all the computers of a site: opens the main window, where words,\n"
                "an extension or a size range search the files every computer has stored.\n"
                "\n"
                "  /S          scan this computer's drives unattended, store the files and end\n"
                "  --help      print this help and exit\n"
                "  --version   print the version and exit\n"
                "Window options of the toolkit work as usual (-platform offscreen, -style NAME).\n"
                "\n"
                "Exit status of /S: 0 every file stored, 1 the run could not be done (no database,\n"
                "no answer possible), 2 some files were not stored, 3 the scan was cut short;\n"
                "%d for a command line it does not understand.\n"
                "\n"
                "Files used from here:\n"
                "  settings            %s\n"
                "  embedded database   %s\n"
                "(./drivetrek.ini in the current directory, when present, keeps everything there.)\n",
                kUsageStatus, l.settings_file.c_str(), data.c_str());
            return 0;
        }
        if (a == "--version") {
            std::fprintf(out, "%s\n", VersionLine("drivetrek").c_str());
            return 0;
        }
    }
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i] != nullptr ? argv[i] : "";
        if (EqualNoCase(a, "/S")) continue;
        bool known = false;
        if (a.size() > 1 && a.front() == '-') {
            std::string_view name = a.substr(a.rfind('-', 1) == 1 ? 2 : 1);
            const std::size_t eq = name.find('=');
            const bool has_value = eq != std::string_view::npos;
            name = name.substr(0, eq);
            for (const char* o : kWindowOptionsWithValue) {
                if (name == o) {
                    known = true;
                    if (!has_value) ++i;  // its value
                }
            }
            for (const char* o : kWindowFlags) known = known || (name == o && !has_value);
        }
        if (!known) {
            std::fprintf(err, "drivetrek: unknown argument %s\n%s", std::string(a).c_str(), kShortUsage);
            return kUsageStatus;
        }
    }
    return -1;
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
    if (unattended) {
        // Nobody reads an unattended run's standard error but for the program's own lines:
        // the toolkit's messages go to the log beside the embedded database.
        // (A directory that cannot be made is reported by the start-up.)
        const FileLocations l = ProgramFileLocations();
        std::string ignored;
        CreateProgramDirectories(l, ignored);
        ui::SetToolkitLog(l.data_dir + "drivetrek.log");
    }
    SignalCloser closer;
    return ui::RunApplication(
        argc, argv, [unattended] { return ProgramFrame(unattended, [] { return MainProcedure(); }); });
}

}  // namespace dt
