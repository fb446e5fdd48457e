// Events and key codes of the window layer. A window's event loop (Window::NextEvent)
// hands out one event at a time; field events carry the number of the control they
// belong to (Window::Field()), window events carry control 0.
#pragma once

namespace dt::ui {

// Every event the layer delivers. Field events come first (below FirstWindowEvent),
// window events after it.
enum class Event : int {
    None = 0,
    // --- field events (Window::Field() names the control) ---
    Accepted = 1,   // button pressed; entry left after a change or Enter; check box toggled;
                    // menu item chosen; list: Enter or double-click (after AlertKey if alerted).
                    // The control's use variable already holds the new value.
    NewSelection,   // list: current row changed (Choice() is the new row); sheet: tab changed
    ScrollUp,       // list: scrolled one row up (arrow key / wheel at the top row)
    ScrollDown,     // list: scrolled one row down
    PageUp,         // list: page up
    PageDown,       // list: page down
    ScrollTop,      // list: Ctrl+Home / thumb dragged to the top
    ScrollBottom,   // list: Ctrl+End / thumb dragged to the bottom
    ScrollDrag,     // list: scroll thumb released; Window::ThumbPercent() gives 0..100
    Locate,         // list: a printable key was typed on it (Keycode() holds it)
    PreAlertKey,    // an alerted key, before the control's own handling (see AlertKey)
    AlertKey,       // an alerted key or mouse button on the control (Keycode(), MouseX/Y)
    Rejected,       // entry: the text does not fit the picture; the use variable is unchanged
    Selected,       // a control got the focus
    Edited,         // entry with live edits: its text was changed by typing (Window::Text
                    // gives it; the use variable is unchanged until the entry is accepted)
    HeaderPressed,  // list with sortable headers: a column header was clicked
                    // (Window::HeaderColumn() gives the column, 1-based)
    // --- window events (Field() is 0) ---
    FirstWindowEvent = 0x100,
    OpenWindow = FirstWindowEvent,  // first event after Open
    CloseWindow,  // the window is asked to close (system menu, close box, a Close button, Post)
    CloseDown,    // the application is ending (sent to every window of the other threads)
    LoseFocus,    // the window stopped being the active window
    GainFocus,    // the window became the active window
    Timer,        // the window's timer ran out (at most one pending at a time)
    Moved,        // the window was moved by the user
    Sized,        // the window's size changed (after the size change)
    Maximized,    // the window was maximised
    Restored,     // the window came back from maximised or minimised
    Iconized,     // the window was minimised
    Completed,    // a validate-all pass found every control valid (Window::ValidateAll)
};

// True for events that belong to a control (Field() is not 0).
constexpr bool IsFieldEvent(Event e) {
    return static_cast<int>(e) < static_cast<int>(Event::FirstWindowEvent);
}

// Name of an event, for logs and test messages ("Accepted", "Timer"...).
const char* EventName(Event e);

// Key codes (Window::Keycode(), alerts). Keyboard keys are the virtual-key numbers below,
// optionally or-ed with the modifier bits; mouse buttons have codes of their own.
namespace key {
constexpr int kShift = 0x100;
constexpr int kCtrl = 0x200;
constexpr int kAlt = 0x400;

constexpr int MouseLeft = 0x01;     // left button pressed
constexpr int MouseRight = 0x02;    // right button pressed
constexpr int MouseCenter = 0x04;   // middle button pressed
constexpr int MouseLeft2 = 0x05;    // left double click
constexpr int MouseRight2 = 0x06;   // right double click
constexpr int MouseLeftUp = 0x81;   // left button released
constexpr int MouseRightUp = 0x82;  // right button released

constexpr int BackSpace = 0x08;
constexpr int Tab = 0x09;
constexpr int Enter = 0x0D;
constexpr int Esc = 0x1B;
constexpr int Space = 0x20;
constexpr int PgUp = 0x21;
constexpr int PgDn = 0x22;
constexpr int End = 0x23;
constexpr int Home = 0x24;
constexpr int Left = 0x25;
constexpr int Up = 0x26;
constexpr int Right = 0x27;
constexpr int Down = 0x28;
constexpr int Insert = 0x2D;
constexpr int Delete = 0x2E;
// Letters and digits are their upper-case ASCII codes ('A' .. 'Z', '0' .. '9').
constexpr int F1 = 0x70;  // F1 .. F12 are F1 + 0 .. F1 + 11
constexpr int CtrlEnter = kCtrl | Enter;

// True for the mouse codes above.
constexpr bool IsMouse(int code) {
    int k = code & 0xFF;
    return code < 0x100 && (k == MouseLeft || k == MouseRight || k == MouseCenter || k == MouseLeft2 ||
                            k == MouseRight2 || k == MouseLeftUp || k == MouseRightUp);
}
}  // namespace key

}  // namespace dt::ui
