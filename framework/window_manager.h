// WindowManager: drives one procedure's window. A procedure derives its window class from
// it, overrides set-up, shutdown and a few handlers, and calls Run. The manager owns the
// event loop, dispatches each event to its handler, keeps the window's components (list
// browses, toolbars, the error history list) which see every event, and implements the
// standard update form (insert, change, delete one record of a primary table, with its
// questions, retries and the response reported to the caller).
//
// Also UiWindowPort, the WindowPort over a window of the window layer.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "framework/error_interface.h"
#include "framework/relation_interface.h"
#include "framework/window_component.h"
#include "runtime/queue.h"
#include "runtime/types.h"

namespace dt {

namespace ui {
class Window;
}

class WindowResizer;

// What a caller asks of a procedure (REQUEST) and what it reports back (RESPONSE).
constexpr BYTE RequestInsert = 1;
constexpr BYTE RequestChange = 2;
constexpr BYTE RequestDelete = 3;
constexpr BYTE RequestSelect = 4;
constexpr BYTE ResponseCompleted = 1;
constexpr BYTE ResponseCancelled = 2;

// The toolbar's history button: accepting it recalls the focused field's last value.
constexpr LONG kToolbarHistoryButton = 3012;

struct ComponentEntry {
    WindowComponent* WC;
};
struct ButtonEntry {
    LONG CONTROL;
    BYTE ACTION;  // the response that pressing the control sets
};
struct FieldHistoryEntry {
    void* FIELD;
    ULONG FIELDSIZE;
    void* SAVED;
    ULONG SAVEDSIZE;
    LONG CONTROL;
};
struct RelatedFileEntry {
    FileManagerInterface* FILE;
    USHORT SAVED;  // id of its saved buffer
};

// WindowPort over a window of the window layer. The window must stay open as long as the
// port is used; registered handlers run as their events are taken.
class UiWindowPort final : public WindowPort {
  public:
    explicit UiWindowPort(ui::Window& window) : window_(window) {}

    bool TakeEvent(WindowEvent& out) override;
    void Cycle() override;
    void PostEvent(Event event, LONG control = 0) override;
    void Register(Event event, const void* owner, std::function<void()> fn) override;
    void Unregister(Event event, const void* owner) override;
    void Select(LONG control) override;
    void SelectAll() override;
    bool AcceptAllRunning() const override;
    LONG FocusControl() const override;
    void Display(LONG control = 0) override;
    void Beep() override;
    void SetBusyCursor(bool busy) override;
    void Alert(LONG keycode, LONG control) override;
    LONG KeyCode() const override;
    void SetKeyCode(LONG keycode) override;
    LONG NextField(LONG after) const override;
    LONG Type(LONG control) const override;
    WindowRect ControlRect(LONG control) const override;
    void SetControlRect(LONG control, const WindowRect& rect) override;
    LONG Parent(LONG control) const override;
    bool InToolBar(LONG control) const override;
    bool Drop(LONG control) const override;
    bool NoWidth(LONG control) const override;
    std::string Text(LONG control) const override;
    bool Disabled(LONG control) const override;
    std::string Icon(LONG control) const override;
    WindowRect Rect() const override;
    void SetRect(const WindowRect& rect) override;
    bool Maximized() const override;
    bool Iconized() const override;
    LONG DeferMove() const override;
    void SetDeferMove(LONG count) override;
    void SetImm(bool on) override;
    void SetMinSize(LONG width, LONG height) override;
    void SetMaxSize(LONG width, LONG height) override;
    int Popup(std::string_view menu, LONG x, LONG y) override;

    ui::Window& UiWindow() { return window_; }

  private:
    ui::Window& window_;
    std::map<std::pair<int, const void*>, std::function<void()>> handlers_;
};

class WindowManager {
  public:
    WindowManager();
    virtual ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // ---- fields, in declaration order ----
    BYTE AUTOREFRESH = 0;
    BYTE AUTOTOOLBAR = 0;
    std::unique_ptr<Queue<ButtonEntry>> BUTTONS;
    std::unique_ptr<Queue<ComponentEntry>> CL;
    BYTE CANCELACTION = 0;
    BYTE CHANGEACTION = 0;
    BYTE DEAD = 0;
    BYTE DELETEACTION = 0;
    ErrorManagerInterface* ERRORS = nullptr;
    std::unique_ptr<Queue<RelatedFileEntry>> FILES;
    BYTE FILESOPENED = 0;
    LONG FIRSTFIELD = 0;
    BYTE FORCEDRESET = 0;
    std::unique_ptr<Queue<FieldHistoryEntry>> HISTORY;
    LONG HISTORYKEY = 0;
    BYTE INITED = 0;
    BYTE INSERTACTION = 0;
    STRING<1024> LASTINSERTEDPOSITION;
    LONG OKCONTROL = 0;
    BYTE OPENED = 0;
    BYTE ORIGINALREQUEST = 0;
    RelationManagerInterface* PRIMARY = nullptr;
    BYTE REQUEST = 0;
    BYTE RESETONGAINFOCUS = 0;
    WindowResizer* RESIZE = nullptr;
    BYTE RESPONSE = 0;
    USHORT SAVED = 0;
    ToolbarInterface* TOOLBAR = nullptr;
    TranslatorInterface* TRANSLATOR = nullptr;
    LONG* VCRREQUEST = nullptr;

    // ---- virtual operations, in slot order ----
    // 1: takes the window's events one by one and hands each to HandleEvent.
    virtual void EventLoop();
    // 2: base set-up (defaults, lists); derived windows call it first. 0 runs the window.
    virtual int Startup();
    // 3: base shutdown (components discarded, saved buffers released). 5 when already dead.
    virtual int Shutdown();
    // 4: translation, first refresh, INITED bit 1.
    virtual void OnWindowOpened();
    // 5: fills defaults of a new record; may set RESPONSE to 2 to refuse the insert.
    virtual void PrimeNewRecord();
    // 6: prepares an update form from its Startup; non-zero: the form is not shown.
    virtual int PrepareUpdate();
    // 7: refreshes components and redisplays the window (not during validate-all).
    virtual void Refresh(BYTE force);
    // 8: puts back the last saved value of the field shown by `control`.
    virtual void RecallFieldHistory(LONG control);
    // 9: Startup, EventLoop, Shutdown; the response (2 when none was decided).
    virtual BYTE Run();
    // 10: runs the numbered related procedure; the base has none (2).
    virtual BYTE RunRelated(USHORT number, BYTE request);
    // 11: components' alerts and the history key on the history fields.
    virtual void ArmAlerts();
    // 12: sets the response and asks the window to close.
    virtual void FinishWith(BYTE response);
    // Handlers return a severity: 0 go on, 3 (SevFatal) leave the loop, 5 (SevNotify) the
    // event is done (the layer's own handling is skipped). CurrentEvent() names the event.
    // 13: an accepted control: toolbar first, then the button list (5), then the OK button.
    virtual int OnAccepted();
    // 14: the form is valid: the insert, change or delete routine by REQUEST.
    virtual int OnCompleted();
    // 15: the window is asked to close: 0 lets it close, 5 keeps it open.
    virtual int OnCloseRequest();
    // 16: sends the current event to the handlers and components; the first non-zero result.
    virtual int HandleEvent();
    // 17: any event of a control, after the specific handler; base: 0.
    virtual int OnFieldEvent();
    // 18: a new selection (a sheet's new tab refreshes and retargets the toolbar); 0.
    virtual int OnNewSelection();
    // 19: an entry refused its text: beep, redisplay and re-select it; 0.
    virtual int OnRejected();
    // 20: a control got the focus; base: 0.
    virtual int OnSelected();
    // 21: window events (open, focus, size, completion, close).
    virtual int OnWindowEvent();
    // 22: every component's screen values back to their variables.
    virtual void SaveComponents();

    // ---- non-virtual operations ----
    void AddComponent(WindowComponent& component);
    // Removes every entry holding the component.
    void RemoveComponent(WindowComponent& component);
    void SetResizer(WindowResizer& resizer);
    // Sets the toolbar and tells it its window.
    void SetToolbar(ToolbarInterface& toolbar);
    // Registers a list's component; for a select request its `selecting` flag is set.
    void AddBrowse(WindowComponent& browse, BYTE& selecting);
    // A button that ends the window with a fixed response when accepted.
    void AddButton(LONG control, BYTE action);
    // A related table whose record buffer is saved with the form.
    void AddRelatedFile(FileManagerInterface& file);
    // A field whose last entered value can be recalled: the field, its saved copy (both
    // owned by the caller, alive as long as the window) and the control that shows it.
    void AddHistoryField(void* field, std::size_t field_size, void* saved, std::size_t saved_size,
                         LONG control);

    // Binds the manager to its open window (which must outlive the manager's Shutdown).
    void SetWindow(ui::Window& window);
    // Binds the manager to any WindowPort (tests, windows of other kinds); not owned.
    void SetWindow(WindowPort& port);
    // The bound window (nullptr before SetWindow).
    WindowPort* Port() const { return port_; }
    // The event being handled: its code, control and key code.
    const WindowEvent& CurrentEvent() const { return event_; }

  protected:
    int InsertRoutine();
    int ChangeRoutine();
    int DeleteRoutine();

    // How a write that the user may have asked to repeat ended.
    enum class WriteOutcome {
        Written,    // the write succeeded, at the first try or a later one
        Shown,      // a collision the write has shown itself: neither asked about nor repeated
        Abandoned,  // the user answered No: nothing written, the window is to close
        Kept,       // the user answered Cancel (or nobody could be asked): back to the form
    };
    // Whether a write's SevNotify is a collision it has shown already (an update's) or a
    // failure like any other (a delete's).
    enum class NotifyIs { Collision, Failure };
    // Runs `write` (a severity) under the busy cursor, RESPONSE set to cancelled before each
    // try, until it succeeds or the user, asked `question` (Yes/No/Cancel, default Cancel)
    // after a failure, answers other than Yes.
    WriteOutcome RetryWithPrompt(USHORT question, NotifyIs notify, const std::function<int()>& write);
    // What the form does after a write that did not succeed: No closes the window (0);
    // otherwise the form is shown again on its first field (5).
    int AfterUnwritten(WriteOutcome outcome);
    // What pressing OK means when a close asks to save: the OK button, or (without one)
    // the validate-all that the OK button of an update form starts.
    void PressOk();
    void FocusFirstField();

    WindowPort* port_ = nullptr;
    std::unique_ptr<UiWindowPort> own_port_;
    WindowEvent event_;
};

}  // namespace dt
