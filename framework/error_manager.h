// ErrorManager: the program's one error manager. It holds the loaded message tables,
// raises a message by id with its placeholders filled from the error state captured at
// that moment, lets the message's severity decide whether the user is told, asked, or the
// program ends, and optionally logs every shown message and keeps a history of them.
// This manager needs no window: nobody can answer its boxes, so a box's text goes to
// standard error and the default button is the answer. A program with windows uses
// WindowErrorManager (framework/error_history.h), which shows the boxes and the history
// dialog through the window layer.
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
#include "runtime/queue.h"
#include "runtime/types.h"

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
    [[nodiscard]] Severity Raise(USHORT id) override;
    // MESSAGETEXT = text (cut to 254 bytes), then Raise(id).
    [[nodiscard]] Severity RaiseWithText(USHORT id, std::string_view text) override;
    // Store the name (cut to 254 bytes, without trailing blanks) for "%File" / "%Field"
    // of the calling thread's next raise.
    void NoteFileName(std::string_view name) override;
    void NoteFieldName(std::string_view name);
    // Copies the calling thread's runtime error code and text and the file driver's error
    // code and text into SAVEERRORCODE, SAVEERROR, SAVEFILEERRORCODE, SAVEFILEERROR.
    void CaptureErrorState();
    // Locates message `id` and calls the handler of its severity: 0 OnQuiet, 1 and 4
    // OnAskUser, 2 OnProgramError, 3 OnFatal, 5 OnNotify (result 5 whatever it returned),
    // others OnOtherSeverity. An id that is not loaded is shown as a notification
    // "Message <id> is not defined." titled "Undefined Message"; result 5.
    [[nodiscard]] Severity Dispatch(USHORT id);
    // Asks message `id` as a question with `buttons` (Button bits) and `default_button`;
    // returns the bit of the button pressed, or `default_button` at once when SILENT. Shows
    // through ShowBox only: no log line, no history.
    [[nodiscard]] int Prompt(USHORT id, int buttons, int default_button) override;

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
    // 3: runs the history dialog; returns the bit of the button chosen. Without windows
    // there is no dialog: the message goes through ShowBox.
    virtual int ShowHistoryDialog(std::string_view text, std::string_view title, IconRef icon, int buttons,
                                  int default_button, LONG style);
    // 4: ERRORLOG = log; creates the message queue and loads the built-in table, creates
    // the procedure-name queue, and the history queue unless one exists.
    virtual void StartupWithLog(ERRORLOGINTERFACE* log);
    // 5: logs, records history, and shows a message (box or history dialog); returns the
    // button pressed, or `default_button` when SILENT.
    virtual int ShowMessage(std::string_view text, std::string_view title, IconRef icon, int buttons,
                            int default_button, LONG style);
    // 6: the message box; returns the button pressed. Without windows nobody can answer:
    // "title: text" goes to standard error and the result is `default_button`.
    virtual int ShowBox(std::string_view text, std::string_view title, IconRef icon, int buttons,
                        int default_button, LONG style);
    // 7: nothing; 0.
    [[nodiscard]] virtual Severity OnQuiet();
    // 8: shows the message and "  Press OK to end this application" with OK, then ends the
    // program through the halt handler (status 0; 1 when SILENT kept the user from seeing
    // it). Returns 3 only if a replaced handler returns.
    [[nodiscard]] virtual Severity OnFatal();
    // 9: shows the message with the exclamation icon and OK; returns the button.
    virtual int OnNotify();
    // 10: OnProgramError.
    [[nodiscard]] virtual Severity OnOtherSeverity();
    // 11: OnFatal.
    [[nodiscard]] virtual Severity OnProgramError();
    // 12: asks the message with Yes and No, default Yes: 0 for Yes, 4 otherwise.
    [[nodiscard]] virtual Severity OnAskUser();
    // 13: the history dialog titled "Errors History" with OK only.
    virtual int ShowHistory();

  private:
    bool Locate(USHORT id, RaiseState& st);
    std::string Substitute(std::string_view text, std::size_t position, const ErrorEntry& entry, int depth);
    Severity Halt(const HaltRequest& request);

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

}  // namespace dt
