// ErrorManager: the program's one error manager. It holds the loaded message tables,
// raises a message by id with its placeholders filled from the error state captured at
// that moment, lets the message's severity decide whether the user is told, asked, or the
// program ends, and optionally logs every shown message and keeps a history of them that
// the history dialog (MessageWindow with a HistoryList) shows. Messages are shown through
// the window layer's message box.
//
// Threads: one manager serves every thread. The names and the captured error state a
// raise works with (FILENAME, FIELDNAME, MESSAGETEXT, SAVEERROR...) are kept per thread,
// so two threads raising at once never mix their texts; the message, history and
// procedure-name queues are shared under one lock that is never held while a message is
// shown.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/error_interface.h"
#include "framework/error_log.h"
#include "framework/error_messages.h"
#include "framework/window_manager.h"
#include "runtime/queue.h"
#include "runtime/types.h"
#include "ui/definition.h"

namespace dt {

// The runtime's four-byte reference to a system icon, bytes in memory order
// (FF 01 04 7F is the exclamation icon).
using IconRef = ULONG;
constexpr IconRef ICON_NONE = 0;
constexpr IconRef ICON_EXCLAMATION = 0x7F0401FFu;
constexpr IconRef ICON_QUESTION = 0x7F0301FFu;

// The id that stands for "every message" in AssignCategory and CategoryOf.
constexpr USHORT kAllMessages = 65535;

// One loaded message definition. TITLE and MESSAGE point into the loaded table, which
// must outlive the manager; CATEGORY points to text the manager keeps (null: none).
struct ErrorEntry {
    USHORT ID;
    std::string_view MESSAGE;
    std::string_view TITLE;
    BYTE FATALITY;
    const std::string* CATEGORY;
};

#pragma pack(push, 1)
// One shown message in the history.
struct ErrorHistoryEntry {
    CSTRING<256> CATEGORY;
    STRING<1024> TXT;
    USHORT ID;
};

// One running procedure: its thread and name.
struct ProcNameEntry {
    LONG THREAD;
    CSTRING<255> NAME;
};
#pragma pack(pop)

// What a raise works with on one thread: the names noted for the placeholders, the error
// state captured at the raise, and the message located for it.
struct RaiseState {
    CSTRING<255> FILENAME;
    CSTRING<255> FIELDNAME;
    CSTRING<255> MESSAGETEXT;
    CSTRING<255> SAVEERROR;
    LONG SAVEERRORCODE = 0;
    CSTRING<255> SAVEFILEERROR;
    CSTRING<255> SAVEFILEERRORCODE;

    // The located message (valid only when `found`) and its position in the queue.
    bool found = false;
    std::size_t position = 0;
    ErrorEntry message{};
    // The history entry being prepared for AppendHistory.
    ErrorHistoryEntry history{};
    // Text of the stand-in message for an id that is not loaded (`message` points here).
    std::string undefined_text;
};

// How the program ends after a fatal message. `exit_code` is the status to end with,
// `halt_text` the message's title, `text` the message as shown, `silent` tells that
// nothing was shown because SILENT was set. The handler is not expected to return.
struct HaltRequest {
    int exit_code = 0;
    std::string halt_text;
    std::string text;
    bool silent = false;
};
using HaltHandler = std::function<void(const HaltRequest&)>;

// Number of the calling thread as the error manager records it: the window layer's
// runtime thread number when the thread is one of its runtime threads, else a number of
// its own (from 1,000,001 up) that no other live thread has.
LONG CurrentThreadNumber();

class ErrorManager : public ErrorManagerInterface {
  public:
    ErrorManager();
    // Shuts the manager down if it is still running. Never throws.
    ~ErrorManager() override;
    ErrorManager(const ErrorManager&) = delete;
    ErrorManager& operator=(const ErrorManager&) = delete;

    // ---- fields set by the program ----
    std::atomic<BYTE> SILENT{0};              // non-zero: nothing is shown; questions answer their default
    std::atomic<BYTE> LOGERRORS{0};           // non-zero: every shown message is also logged
    std::atomic<LONG> HISTORYTHRESHOLD{0};    // 0: no history; > 0: at most this many; < 0: no limit
    std::atomic<LONG> HISTORYVIEWLEVEL{3};    // severity shown in the history dialog instead of a box
    std::atomic<BYTE> HISTORYRESETONVIEW{0};  // non-zero: the history is emptied after the dialog
    ERRORLOGINTERFACE* ERRORLOG = nullptr;    // where log lines go (not owned)
    ErrorLog* STDERRORLOG = nullptr;          // the standard log, owned, made by Startup

    // ---- operations (those of ErrorManagerInterface are overrides) ----
    // Creates the standard log ("APFError.Log" in the current directory, or `log_path`),
    // sets the defaults (DEFAULTCATEGORY "APF", HISTORYTHRESHOLD 0, HISTORYVIEWLEVEL 3,
    // HISTORYRESETONVIEW 0) and calls StartupWithLog with the standard log.
    void Startup(std::string log_path = ErrorLog::kDefaultName);
    // Frees the message, procedure-name and history queues and the standard log.
    void Shutdown();

    // Captures the runtime and file-driver error state of the calling thread, then
    // dispatches message `id`. Returns the severity result (see Dispatch). The thread's
    // runtime error state is the same afterwards as before.
    int Raise(USHORT id) override;
    // MESSAGETEXT = text (cut to 254 bytes), then Raise(id).
    int RaiseWithText(USHORT id, std::string_view text) override;
    // Store the name (cut to 254 bytes, without trailing blanks) for "%File" / "%Field"
    // of the calling thread's next raise.
    void NoteFileName(std::string_view name);
    void NoteFieldName(std::string_view name);
    // Copies the calling thread's runtime error code and text and the file driver's error
    // code and text into SAVEERRORCODE, SAVEERROR, SAVEFILEERRORCODE, SAVEFILEERROR.
    void CaptureErrorState();
    // Locates message `id` and calls the handler of its severity: 0 OnQuiet, 1 and 4
    // OnAskUser, 2 OnProgramError, 3 OnFatal, 5 OnNotify (result 5 whatever it returned),
    // others OnOtherSeverity. An id that is not loaded is shown as a notification
    // "Message <id> is not defined." titled "Undefined Message"; result 5.
    int Dispatch(USHORT id);
    // Asks message `id` as a question with `buttons` (Button bits) and `default_button`;
    // returns the bit of the button pressed, or `default_button` at once when SILENT. Shows
    // through ShowBox only: no log line, no history.
    int Prompt(USHORT id, int buttons, int default_button) override;

    // Sets the category of message `id` (kAllMessages: DEFAULTCATEGORY). An id that is not
    // loaded is ignored.
    void AssignCategory(USHORT id, std::string_view category);
    // The category of message `id`; DEFAULTCATEGORY for kAllMessages, an id that is not
    // loaded, or a message without a category.
    std::string CategoryOf(USHORT id);
    // DEFAULTCATEGORY: the category of messages that have none.
    std::string DefaultCategory() const;

    // Registers the running procedure `name` (cut to 254 bytes) for the calling thread.
    void EnterProcedure(std::string_view name) override;
    // Removes the entry CurrentProcedureName finds, if any.
    void LeaveProcedure() override;
    // The name of the calling thread's most recently entered procedure; "" when none.
    std::string CurrentProcedureName() override;

    // Empties the history.
    void ClearHistory();
    // The history queue (read it with Peek/With/Records from any thread); null before
    // Startup and after Shutdown.
    const Queue<ErrorHistoryEntry>* History() const { return history_.get(); }
    // Number of loaded message definitions.
    std::size_t Messages() const;

    // The calling thread's raise state (names, captured error, located message). The
    // reference stays valid for the thread's life.
    RaiseState& State();
    // The located message's text with every placeholder filled in (see error_manager.cpp
    // for the order); "" when no message is located.
    std::string SubstitutedText();

    // Replaces what OnFatal does to end the program (null restores the default: write the
    // text to standard error and exit with the request's status).
    void SetHaltHandler(HaltHandler handler);

    // ---- virtual operations, in slot order ----
    // 1: appends every message of `table` to the message queue with no category. `table`
    // must outlive the manager. Returns false and loads nothing when the block is malformed.
    virtual bool LoadTable(std::span<const std::uint8_t> table);
    // 2: appends the prepared history entry (State().history) to the history.
    virtual void AppendHistory();
    // 3: runs the history dialog; returns the bit of the button chosen.
    virtual int ShowHistoryDialog(std::string_view text, std::string_view title, IconRef icon, int buttons,
                                  int default_button, LONG style);
    // 4: ERRORLOG = log; creates the message queue and loads the built-in table, creates
    // the procedure-name queue, and the history queue unless one exists.
    virtual void StartupWithLog(ERRORLOGINTERFACE* log);
    // 5: logs, records history, and shows a message (box or history dialog); returns the
    // button pressed, or `default_button` when SILENT.
    virtual int ShowMessage(std::string_view text, std::string_view title, IconRef icon, int buttons,
                            int default_button, LONG style);
    // 6: the window layer's message box; returns the button pressed.
    virtual int ShowBox(std::string_view text, std::string_view title, IconRef icon, int buttons,
                        int default_button, LONG style);
    // 7: nothing; 0.
    virtual int OnQuiet();
    // 8: shows the message and "  Press OK to end this application" with OK, then ends the
    // program through the halt handler (status 0; 1 when SILENT kept the user from seeing
    // it). Returns 3 only if a replaced handler returns.
    virtual int OnFatal();
    // 9: shows the message with the exclamation icon and OK; returns the button.
    virtual int OnNotify();
    // 10: OnProgramError.
    virtual int OnOtherSeverity();
    // 11: OnFatal.
    virtual int OnProgramError();
    // 12: asks the message with Yes and No, default Yes: 0 for Yes, 4 otherwise.
    virtual int OnAskUser();
    // 13: the history dialog titled "Errors History" with OK only.
    virtual int ShowHistory();

  private:
    bool Locate(USHORT id, RaiseState& st);
    std::string Substitute(std::string_view text, std::size_t position, const ErrorEntry& entry, int depth);
    int Halt(const HaltRequest& request);

    const std::uint64_t serial_;
    mutable std::recursive_mutex mutex_;  // guards the queues, categories and DEFAULTCATEGORY
    std::string default_category_;
    std::vector<std::unique_ptr<std::string>> categories_;
    std::unique_ptr<Queue<ErrorEntry>> errors_;
    std::unique_ptr<Queue<ProcNameEntry>> procnames_;
    std::unique_ptr<Queue<ErrorHistoryEntry>> history_;
    std::unique_ptr<ErrorLog> std_log_;
    HaltHandler halt_;
    bool started_ = false;
};

// Text of a button bit in the history dialog ("O&k", "&Yes", ... "&Help"); "" for a value
// that is not one bit of the button set.
std::string_view ButtonText(int bit);

// The buttons of a message dialog: the bits of the button set are visited from 128 down
// to 1 and each set bit takes the next button (index 0 is control 100). MSGBUTTONID holds
// the bit of each shown button; `default_index` is the button whose bit is the default
// (-1 when the default is none of them).
struct MessageButtonLayout {
    int MSGBUTTONS = 0;
    LONG MSGBUTTONID[8] = {};
    int default_index = -1;
};
MessageButtonLayout LayoutMessageButtons(int buttons, int default_button);

// The history dialog's list: two columns, "Message" (217 units, @s255, scrolls sideways)
// and "Category" (42 units, @s255), fed from the history queue, newest row current when
// the window opens. The queue must outlive the component.
class HistoryList final : public WindowComponent {
  public:
    static constexpr const char* kFormat = "217L(2)|M~Message~S(255)@s255@42L(2)|M~Category~@s255@";

    explicit HistoryList(const Queue<ErrorHistoryEntry>& history);
    // The list control of the dialog (definition) showing the queue at `at`.
    ui::ControlDef ListControl(ui::Rect at) const;
    // Binds the component to the window and the list's field number.
    void Init(ui::Window& window, int list_field);

    // Rows (history entries), columns (2) and the text of a cell (row 1-based, column 1
    // Message, 2 Category; "" outside).
    std::size_t RowCount() const;
    int ColumnCount() const { return 2; }
    std::string CellText(std::size_t row, int column) const;

    void Discard() override;
    void Refresh(BYTE force) override;
    BYTE NeedsRefresh() override;
    void ArmAlerts() override {}
    int HandleEvent(const WindowEvent& event) override;
    void SaveToRecord() override {}
    void RepaintWindow() override {}

  private:
    const Queue<ErrorHistoryEntry>& history_;
    ui::Window* window_ = nullptr;
    int list_ = 0;
    unsigned long shown_version_ = 0;
};

// The history dialog ("aperror"): an image (control 300) with the given icon (the
// exclamation icon when none), the history list (control 200) and up to eight buttons
// (controls 100 to 107) laid out by LayoutMessageButtons, the default one focused.
// Pressing a button ends the dialog with its bit in MSGRVAL; closing the window leaves
// the default there. Run it on a runtime thread of the window layer.
class MessageWindow final : public WindowManager {
  public:
    MessageWindow(ErrorManager& errors, std::string_view caption, IconRef icon, int buttons,
                  int default_button, LONG style);
    ~MessageWindow() override;

    int BUTTONTYPES = 0;
    std::string CAPTION;
    ErrorManager* ERR = nullptr;
    IconRef ICON = ICON_NONE;
    std::unique_ptr<HistoryList> HISTORYHANDLER;
    int MSGBUTTONS = 0;
    LONG MSGBUTTONID[8] = {};
    LONG MSGRVAL = 0;  // the default, then the result
    LONG STYLE = 0;
    std::unique_ptr<ui::Window> WIN;

    // Opens the dialog; non-zero (and nothing open) when the window cannot be opened here.
    int Startup() override;
    // Closes the window and frees the caption.
    int Shutdown() override;
    // A button ends the dialog with its bit (result 3).
    int OnAccepted() override;

    // Field numbers of the dialog's controls in the window layer (0 before Startup).
    int ButtonField(int index) const { return index >= 0 && index < 8 ? button_fields_[index] : 0; }
    int ListField() const { return list_field_; }
    int ImageField() const { return image_field_; }

  private:
    int button_fields_[8] = {};
    int list_field_ = 0;
    int image_field_ = 0;
};

}  // namespace dt
