// What the window manager, the file managers (and the other framework pieces that report
// through it) need of the program's error manager: raising a numbered message, asking a
// numbered question, noting the file a message is about, and the running procedure's name
// per thread. The ErrorManager implements this interface;
// tests implement it with fakes. Also the framework's severities and button bits.
#pragma once

#include <string>
#include <string_view>

#include "runtime/types.h"

namespace dt {

// Severities: the result codes of raised messages and of the window manager's handlers.
// A plain enumeration with an int base, so a severity still compares with its number; it
// is a type of its own beside the runtime's ErrCode (runtime/errors.h): neither converts
// to the other, and a bare number converts to neither.
enum Severity : int {
    SevQuiet = 0,    // nothing shown; go on
    SevAskUser = 1,  // Yes/No question: Yes gives 0, anything else 4
    SevProgram = 2,  // handled as SevFatal
    SevFatal = 3,    // shown, then the program halts; a handler result that ends the loop
    SevCancel = 4,   // handled as SevAskUser; the "No" of a question
    SevNotify = 5,   // shown with OK; a handler result that skips the rest of the event
};

// A stored message severity (the FATALITY byte of a loaded message) taken as a Severity;
// a byte outside the list stays itself (the error manager handles it as a program error).
[[nodiscard]] constexpr Severity ToSeverity(int number) {
    return static_cast<Severity>(number);
}

// For a raised message that only tells: its result is that of a notification (always
// SevNotify) or of a fatal message (which ends the program), so the caller goes on the
// same way whatever it is. Writing it says so where a result is left unread.
constexpr void ShowOnly(Severity shown) {
    (void)shown;
}

// Button set of messages and questions (a bit each); a question returns the pressed bit.
namespace Button {
constexpr int Ok = 1;
constexpr int Yes = 2;
constexpr int No = 4;
constexpr int Abort = 8;
constexpr int Retry = 16;
constexpr int Ignore = 32;
constexpr int Cancel = 64;
constexpr int Help = 128;
}  // namespace Button

// Ids of the built-in messages the window manager raises.
namespace Msg {
constexpr USHORT RecordAdded = 3;    // "Record Added", Yes/No
constexpr USHORT ConfirmCancel = 8;  // "Changes will be lost!", Yes/No
constexpr USHORT DeleteError = 33;   // "Record Delete Error", asked with Prompt
constexpr USHORT UpdateError = 34;   // "Record Update Error", asked with Prompt
constexpr USHORT SaveRecord = 35;    // "Save Record", asked with Prompt
}  // namespace Msg

// Number of the calling thread as the error manager and the file managers record it: the
// window layer's runtime thread number when the thread is one of its runtime threads (see
// runtime/thread_number.h), else a number of its own (from 1,000,001 up) that no other
// live thread has.
LONG CurrentThreadNumber();

class ErrorManagerInterface {
  public:
    virtual ~ErrorManagerInterface() = default;
    // Raises message `id` after capturing the runtime and driver error state; returns the
    // severity result (SevAskUser questions: 0 for Yes, 4 otherwise; SevNotify: 5).
    [[nodiscard]] virtual Severity Raise(USHORT id) = 0;
    // As Raise, with `text` for "%Message".
    [[nodiscard]] virtual Severity RaiseWithText(USHORT id, std::string_view text) = 0;
    // Asks message `id` with the question icon and the given Button bits; returns the
    // pressed bit (the default when nothing may be shown).
    [[nodiscard]] virtual int Prompt(USHORT id, int buttons, int default_button) = 0;
    // Stores the name of the file (table) the calling thread's next raise is about, for the
    // message's "%File". A manager whose messages name no file may leave it as it is.
    virtual void NoteFileName(std::string_view name) { (void)name; }
    // Registers / unregisters the running procedure's name for the calling thread.
    virtual void EnterProcedure(std::string_view name) = 0;
    virtual void LeaveProcedure() = 0;
    // The name last registered on the calling thread; empty when none.
    virtual std::string CurrentProcedureName() = 0;
};

}  // namespace dt
