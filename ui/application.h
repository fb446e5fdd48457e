// The application around the windows: the GUI thread and the runtime threads, starting a
// procedure on a new thread, posting to a thread, message boxes, popup menus, cursor, beep,
// the display check, the UI font and the program's own icons.
//
// Threads: the process's main thread runs the GUI event loop and nothing else. The main
// procedure runs on runtime thread 1; every Start adds a runtime thread (2, 3, ...). Each
// runtime thread owns an event queue on which its windows' event loops wait.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/events.h"

namespace dt::ui {

class Window;

// Runs the application: makes the GUI, runs main_procedure on runtime thread 1 and the GUI
// event loop on the calling thread until it returns. Then every window of the other
// runtime threads gets CloseDown and the call waits for those threads to end. Returns the
// main procedure's result. Call it once at a time, from the process's main thread.
int RunApplication(int argc, char** argv, std::function<int()> main_procedure);

// Sends the toolkit's own messages (its platform plugins' warnings and the like) to the
// file `path` (appended one line each, created readable by its owner only) instead of
// standard error; an empty path gives them back to standard error. When the file cannot
// be opened a message still goes to standard error. Call before RunApplication.
void SetToolkitLog(std::string path);

// Starts procedure on a new runtime thread with a stack of at least stack_size bytes (and
// never less than 8 MiB, since procedures run window loops and drivers). Returns the new
// thread's number, or 0 when no thread could be made or the application is not running.
int Start(std::function<void()> procedure, std::size_t stack_size);

// Number of the calling runtime thread (1 = the main procedure), 0 on any other thread.
int ThreadId();
// True on the GUI thread.
bool OnGuiThread();

// Posts an event to the window whose event loop runs innermost on runtime thread `thread`
// (0: the calling thread), for control `field`. Returns false when that thread has no
// window. Any thread may call it.
bool Post(Event e, int field = 0, int thread = 0);

// The window whose event loop runs innermost on the calling thread (nullptr when none).
Window* ActiveWindow();

// ---- message boxes ----
enum class MessageIcon : int { None = 0, Question, Stop, Exclamation, Information };

namespace button {
constexpr int Ok = 1;
constexpr int Yes = 2;
constexpr int No = 4;
constexpr int Abort = 8;
constexpr int Retry = 16;
constexpr int Ignore = 32;
constexpr int Cancel = 64;
}  // namespace button

// Shows a message box over the calling thread's active window and waits for the answer.
// text: "|" starts a new line. buttons: a set of button:: bits (0 means Ok). default_button:
// one button:: bit (0: the first button). Returns the button:: bit chosen; closing the box
// gives Cancel when offered, else No, else the default. Without a display (offscreen) and
// without a queued test answer, the default button is taken at once, so an unattended run
// never waits.
int Message(std::string_view text, std::string_view caption = {}, MessageIcon icon = MessageIcon::None,
            int buttons = button::Ok, int default_button = 0);

// Shows a popup menu and waits for a choice. menu: items separated by "|"; "{" after an
// item's text opens its submenu and "}" closes it; "-" alone is a separator; prefixes "~"
// disabled, "+" checked, "-" unchecked check item; "[icon]" before the text is accepted and
// ignored. x, y: dialog units from the active window's client area; 0 takes the mouse
// position for that coordinate. Returns the 1-based number of the chosen entry counting
// only selectable entries (not separators, not items that open a submenu), 0 when
// cancelled. Offscreen without a queued test answer it returns 0 at once.
int Popup(std::string_view menu, int x = 0, int y = 0);

// Counts the selectable entries of a popup menu text (what Popup numbers).
int PopupEntries(std::string_view menu);

// ---- cursor and sound ----
enum class Cursor : int { Arrow = 0, Wait };
// Sets the cursor for the whole application (Wait until set back to Arrow).
void SetCursor(Cursor c);
// Sounds the standard beep.
void Beep();

// ---- application facts ----
class Application final {
  public:
    // True when a display can be reached: $QT_QPA_PLATFORM is not "offscreen" and
    // $DISPLAY or $WAYLAND_DISPLAY is set. Usable before RunApplication.
    static bool HasDisplay();
    // Makes RunApplication use the offscreen platform (no windows on any screen).
    static void UseOffscreen();
    // True when the GUI runs and draws offscreen.
    static bool Offscreen();
    // True while RunApplication runs.
    static bool Running();
    // The platform's UI font: family and size in points (valid while running; before, the
    // fallback "DejaVu Sans", 9).
    static std::string UiFontFamily();
    static int UiFontSize();
    // Names of the layer's own icons: "app", "search", "scan" (also "GO.ICO" for the app
    // icon and the resource numbers "32525" search and "32528" scan).
    static std::vector<std::string> IconNames();
};

}  // namespace dt::ui
