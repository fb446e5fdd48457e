// Window: one open window of a procedure, built from a WindowDef. It belongs to the runtime
// thread that opened it: its events are taken there (NextEvent), its use variables are
// read and written there, and every call except Post must be made there. The widgets live
// on the GUI thread; calls reach them through a blocking hand-over (calls made on the GUI
// thread itself run directly). A window that is never shown has no widgets at all: its
// controls' state lives in the object until the window is first displayed.
//
// Field numbers are those of WindowDef::Add (1-based, definition order); field 0 means the
// window itself where a call accepts it. Positions and sizes are dialog units of the
// window's font. A call on a field that does not exist does nothing (reads return 0 or "").
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/definition.h"
#include "ui/events.h"

namespace dt::ui {

namespace detail {
class WindowState;
}

// Position, size and state of a window (for saving and restoring placement). x and y are
// dialog units from the screen's top-left corner.
struct Placement {
    Rect at;
    bool maximized = false;
    bool iconized = false;
};

class Window final {
  public:
    // Keeps a copy of the definition; nothing is shown until Open.
    explicit Window(WindowDef def);
    // Closes the window when it is open. Never throws.
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // ---- lifecycle ----
    // Opens the window on the calling thread and queues OpenWindow. The window becomes
    // visible at its first Display or at the first NextEvent, unless hidden before. Returns
    // 0, or 5 ("Access Denied") when the calling thread is no runtime thread of the layer
    // and not the GUI thread, or 52 ("File Already Open") when it is open already.
    int Open();
    // Closes the window: its widgets are destroyed, pending events dropped. Idempotent.
    void Close();
    bool IsOpen() const;
    // Hides / shows a control (field > 0) or the window (field 0).
    void Hide(int field = 0);
    void Unhide(int field = 0);
    bool Hidden(int field) const;

    // Copies use variables into the controls (field 0: every control) and shows the window
    // when it is open and not hidden. Lists re-read their source.
    void Display(int field = 0);
    // Copies what the controls show back into their use variables (field 0: every control).
    // A text that does not fit its picture leaves the variable unchanged.
    void Update(int field = 0);

    // ---- event loop ----
    // Waits for the window's next event. First carries out the default action of the
    // previous event unless Cycle() was called for it: CloseWindow and CloseDown end the
    // loop; Accepted on a control with StdAction::Close posts CloseWindow; Rejected
    // re-selects the control. Returns false when the loop has ended (the window stays open
    // until Close). While this window's loop runs, the thread's windows opened before it
    // take no input (they are disabled and their input events dropped) until their own
    // loop runs again. A hidden window without widgets delivers its Timer events without
    // waiting for a clock tick when the timer is 1 (as fast as possible), after letting the
    // GUI thread work through what was posted to it before.
    bool NextEvent();
    // The current event, its field (0 for window events) and the key that caused it.
    Event CurrentEvent() const;
    int Field() const;
    int Keycode() const;
    // Clears (or sets) the pending key code, e.g. so that a key does not act again.
    void SetKeycode(int code);
    // Skips the default action of the current event.
    void Cycle();
    // Queues an event for this window (field 0: a window event). Any thread may call it;
    // the owning thread takes it in NextEvent. Returns false when the window is not open.
    bool Post(Event e, int field = 0);
    // Mouse position of the current event, dialog units from the window's client area.
    int MouseX() const;
    int MouseY() const;
    // List: thumb position (0..100) of the last ScrollDrag.
    int ThumbPercent() const;
    // List: column (1-based) whose header the last HeaderPressed was for.
    int HeaderColumn() const;

    // ---- focus, selection, validation ----
    // The field with the focus (0: none).
    int Focus() const;
    // Gives the field the focus (SELECT); for a list, row > 0 also makes that row current.
    void Select(int field, int row = 0);
    // Marks an entry as touched: leaving it produces Accepted even when unchanged.
    void MarkTouched(int field);
    // Validate-all: queues Accepted for every entry, check box and list in field order; when
    // each is valid, queues Completed. Rejected for an entry ends the pass.
    void ValidateAll();
    // True while a validate-all pass is being delivered (until Completed is taken).
    bool InValidateAll() const;

    // ---- control properties ----
    ControlType Type(int field) const;
    int Fields() const;                  // number of numbered controls
    int Parent(int field) const;         // containing sheet, tab or menu (0: the window)
    std::string Label(int field) const;  // the control's label from the definition
    int FieldOf(std::string_view label) const;
    std::string Text(int field) const;  // field 0: the title
    void SetText(int field, std::string_view text);
    Rect GetPosition(int field) const;    // field 0: the window (screen position, client size)
    void SetPosition(int field, Rect r);  // w or h of 0 keeps the current value
    void Disable(int field);
    void Enable(int field);
    bool Disabled(int field) const;
    // Imm: a list delivers its scroll events at once; the window delivers Sized while dragged.
    void SetImm(int field, bool on);
    bool Imm(int field) const;
    // DeferMove: > 0 collects SetPosition calls; setting 0 (or a negative value) carries
    // them out together.
    void SetDeferMove(int n);
    int DeferMove() const;
    // NoWidth: SetPosition keeps the control's width.
    void SetNoWidth(int field, bool on);
    bool NoWidth(int field) const;
    // List: current row (1-based, 0: none) and making a row current.
    int Choice(int field) const;
    void SetChoice(int field, int row);
    // List: the selected rows (1-based, ascending). A list without several-row selection
    // gives its current row (none: empty).
    std::vector<int> SelectedRows(int field) const;
    // List: selects exactly `rows` (the first becomes the current row); empty clears.
    void SetSelectedRows(int field, const std::vector<int>& rows);
    // List: shows the sort indicator on `column` (1-based; 0 hides it), pointing down for a
    // descending order.
    void SetSortIndicator(int field, int column, bool descending);
    // Sheet: selected tab as its field number.
    int SelectedTab(int field) const;
    // List columns: count, width in dialog units, resizable flag.
    int Columns(int field) const;
    int ColumnWidth(int field, int column) const;
    void SetColumnWidth(int field, int column, int width);
    bool ColumnResizable(int field, int column) const;
    // List: drop count (0: not a drop-down list).
    int Drop(int field) const;
    void SetDrop(int field, int rows);
    // Check box or menu item: checked state.
    bool Checked(int field) const;
    void SetChecked(int field, bool on);
    // Icon of a button, image or the window (field 0), by name (Application::IconNames).
    void SetIcon(int field, std::string_view name);
    std::string Icon(int field) const;
    // Font of a control (field 0: the window's); size in points, 0 keeps it.
    void SetFont(int field, std::string_view family, int size);
    // Colours as 0x00BBGGRR, -1 for the default.
    void SetColor(int field, long text, long background);

    // ---- window properties ----
    std::string StatusText(int zone) const;  // zones are 1-based
    void SetStatusText(int zone, std::string_view text);
    std::string Title() const;
    void SetTitle(std::string_view title);
    void SetMinSize(int w, int h);  // dialog units; 0 removes the limit
    void SetMaxSize(int w, int h);
    Rect MinSize() const;  // w and h only
    Rect MaxSize() const;
    bool Resizable() const;
    Placement GetPlacement() const;
    void SetPlacement(const Placement& p);

    // ---- alerts ----
    // Window-wide: an alerted key pressed on any control gives AlertKey for that control.
    void Alert(int keycode);
    void Unalert(int keycode);
    // On one control only.
    void AlertControl(int field, int keycode);
    void UnalertControl(int field, int keycode);
    bool Alerted(int field, int keycode) const;

    // Runtime thread that owns the window (0 when not open).
    int Thread() const;
    // The definition the window was built from (controls keep their definition state).
    const WindowDef& Definition() const;

    // For the layer itself (tests, Application): the state object. Not for applications.
    detail::WindowState* State() const { return state_.get(); }

  private:
    std::shared_ptr<detail::WindowState> state_;
};

}  // namespace dt::ui
