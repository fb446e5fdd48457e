// What the framework's window pieces plug into and rely on: the WindowComponent
// interface that list boxes, toolbars and the error history implement; the toolbar and
// translator interfaces the window manager calls; and WindowPort, the narrow view of one
// open window of the window layer (events, focus, display, control geometry and state)
// through which the window manager, the resizer and popup menus reach it. Fakes of
// WindowPort drive the framework in unit tests; UiWindowPort (window_manager.h) binds it
// to a real window.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "runtime/types.h"
#include "ui/definition.h"
#include "ui/events.h"

namespace dt {

class WindowManager;

// Event codes are the window layer's.
using Event = ui::Event;

// One event as the window's event loop takes it: its code, the control it belongs to
// (0 for a window event) and, for key and mouse alerts, the key code.
struct WindowEvent {
    Event event = Event::None;
    LONG field = 0;
    LONG keycode = 0;
};

// A rectangle in dialog units; for controls in window coordinates.
struct WindowRect {
    LONG XPOS = 0;
    LONG YPOS = 0;
    LONG WIDTH = 0;
    LONG HEIGHT = 0;
    friend bool operator==(const WindowRect&, const WindowRect&) = default;
};

// One open window as the framework sees it. Every call is made on the thread that owns
// the window; the implementation hands it to the GUI thread as it must.
class WindowPort {
  public:
    virtual ~WindowPort() = default;

    // Blocks for the window's next event; false when the window is gone (loop ends).
    // Handlers registered for the event's code run before it is returned.
    virtual bool TakeEvent(WindowEvent& out) = 0;
    // Skips the layer's default action of the event last taken (closing on CloseWindow...).
    virtual void Cycle() = 0;
    // Posts an event to a control (0: the window); it arrives through TakeEvent. Any thread.
    virtual void PostEvent(Event event, LONG control = 0) = 0;
    // Calls fn whenever an event of that code is taken, before anyone handles it
    // (`owner` names the registration for Unregister). One registration per owner/code.
    virtual void Register(Event event, const void* owner, std::function<void()> fn) = 0;
    virtual void Unregister(Event event, const void* owner) = 0;

    // Focus (SELECT of one control).
    virtual void Select(LONG control) = 0;
    // Validate-all: every control is accepted in turn; EVENT:Completed follows when all
    // are valid.
    virtual void SelectAll() = 0;
    // True while a validate-all pass over this window is running.
    virtual bool AcceptAllRunning() const = 0;
    // The control that has the focus (0: none).
    virtual LONG FocusControl() const = 0;
    // Redisplays one control from its use variable (0: the whole window).
    virtual void Display(LONG control = 0) = 0;
    virtual void Beep() = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    // Alerts a key on a control (the key then arrives as EVENT:AlertKey).
    virtual void Alert(LONG keycode, LONG control) = 0;
    // The key code of the last key or mouse action of this thread; SetKeyCode(0) clears it.
    virtual LONG KeyCode() const = 0;
    virtual void SetKeyCode(LONG keycode) = 0;

    // Controls in the layer's order: the first after `after` (0: the first), 0 at the end.
    virtual LONG NextField(LONG after) const = 0;
    // The control's type code; 0 when there is no such control.
    virtual LONG Type(LONG control) const = 0;
    virtual WindowRect ControlRect(LONG control) const = 0;
    virtual void SetControlRect(LONG control, const WindowRect& rect) = 0;
    // The control's container in the layer (sheet, tab, panel, group), 0: the window.
    virtual LONG Parent(LONG control) const = 0;
    virtual bool InToolBar(LONG control) const = 0;
    // Drop property (a list shown as a drop-down).
    virtual bool Drop(LONG control) const = 0;
    // NoWidth property (a control that keeps its own width).
    virtual bool NoWidth(LONG control) const = 0;
    virtual std::string Text(LONG control) const = 0;
    virtual bool Disabled(LONG control) const = 0;
    virtual std::string Icon(LONG control) const = 0;

    // The window's position and size.
    virtual WindowRect Rect() const = 0;
    virtual void SetRect(const WindowRect& rect) = 0;
    virtual bool Maximized() const = 0;
    virtual bool Iconized() const = 0;
    // DeferMove: a positive count collects moves; setting 0 (or a negative) carries them out.
    virtual LONG DeferMove() const = 0;
    virtual void SetDeferMove(LONG count) = 0;
    // Imm: size events are delivered while the user drags.
    virtual void SetImm(bool on) = 0;
    virtual void SetMinSize(LONG width, LONG height) = 0;
    virtual void SetMaxSize(LONG width, LONG height) = 0;

    // The runtime's popup-menu call: shows `menu` (menu-text syntax of the popup manager)
    // at (x, y), 0 meaning the mouse position for that coordinate; returns the 1-based number
    // of the chosen selectable entry, 0 when nothing was chosen.
    virtual int Popup(std::string_view menu, LONG x, LONG y) = 0;
};

// A plug-in of a window manager (list box browse, toolbar, error history list). It sees
// every event of the window after the manager's own handlers.
class WindowComponent {
  public:
    virtual ~WindowComponent() = default;
    // 1: the window is closing.
    virtual void Discard() = 0;
    // 2: brings the component's display up to date; force asks for a full reset.
    virtual void Refresh(BYTE force) = 0;
    // 3: non-zero when the window should refresh after this event.
    virtual BYTE NeedsRefresh() = 0;
    // 4: alerts the keys the component handles.
    virtual void ArmAlerts() = 0;
    // 5: severity result; 0: not handled, go on.
    virtual int HandleEvent(const WindowEvent& event) = 0;
    // 6: copies screen values back to their variables.
    virtual void SaveToRecord() = 0;
    // 7: repaints what the component draws.
    virtual void RepaintWindow() = 0;
};

// The toolbar object of a window (record navigation, history button).
class ToolbarInterface {
  public:
    virtual ~ToolbarInterface() = default;
    // Tells the toolbar which window it serves (SetToolbar) and retargets it there.
    virtual void SetWindow(WindowManager& window) = 0;
    // Sees an accepted control before the window does; may set *vcr_request (may be null).
    virtual void TakeAccepted(LONG control, LONG* vcr_request) = 0;
    // The window is shutting down.
    virtual void Kill() = 0;
};

// Translates the texts of a window (and of popup menus) at open.
class TranslatorInterface {
  public:
    virtual ~TranslatorInterface() = default;
    virtual std::string TranslateString(std::string_view text) = 0;
    // Translates every control text of the window (through WindowPort or the layer).
    virtual void TranslateWindow(WindowPort& window) = 0;
};

}  // namespace dt
