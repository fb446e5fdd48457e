#include "framework/error_manager.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "platform/text.h"
#include "runtime/errors.h"
#include "runtime/stddate.h"
#include "runtime/thread_number.h"

namespace dt {
namespace {

std::atomic<std::uint64_t> g_next_serial{1};
std::atomic<LONG> g_next_thread_number{1'000'001};

// The raise state of each manager on this thread, keyed by the manager's serial number
// (never reused, so a later manager at the same address never sees a stale state).
thread_local std::unordered_map<std::uint64_t, RaiseState> t_states;

constexpr std::size_t kSubstituteLimit = 2000;  // the text substitution works on
constexpr std::string_view kUndefinedTitle = "Undefined Message";
constexpr std::string_view kFatalSuffix = "  Press OK to end this application";

// Queue operations leave their own code in the thread's error state; the manager keeps
// the caller's state as it was.
class ErrorStateKeeper {
  public:
    ErrorStateKeeper() : code_(ErrorCode()), file_code_(FileErrorCode()), file_error_(FileError()) {}
    ~ErrorStateKeeper() { SetErrorState(code_, file_code_, file_error_); }
    ErrorStateKeeper(const ErrorStateKeeper&) = delete;
    ErrorStateKeeper& operator=(const ErrorStateKeeper&) = delete;

  private:
    int code_;
    std::string file_code_;
    std::string file_error_;
};

// Every placeholder; a token is matched only where no longer one that begins with it
// matches, so "%File" leaves "%FileError" and "%FileErrorCode" whole.
constexpr std::string_view kTokens[] = {"%File",          "%ErrorCode", "%ErrorText", "%Error",
                                        "%FileErrorCode", "%FileError", "%Message",   "%Field",
                                        "%Procedure",     "%Category",  "%Previous"};

bool LongerTokenAt(std::string_view s, std::size_t at, std::string_view token) {
    for (std::string_view other : kTokens)
        if (other.size() > token.size() && StartsNoCase(other, token) && StartsNoCase(s.substr(at), other))
            return true;
    return false;
}

void CutTo(std::string& s, std::size_t limit) {
    if (s.size() > limit) s.resize(Utf8CutLength(s, limit));
}

// Replaces every whole occurrence of `token`; the search goes on after the inserted value,
// so a value that contains its own token is inserted once.
void ReplaceToken(std::string& s, std::string_view token, std::string_view value) {
    std::size_t from = 0;
    for (;;) {
        std::size_t at = FindNoCase(s, token, from);
        if (at == std::string::npos) return;
        if (LongerTokenAt(s, at, token)) {
            from = at + 1;
            continue;
        }
        s.replace(at, token.size(), value);
        from = at + value.size();
        CutTo(s, kSubstituteLimit);
    }
}

void DefaultHalt(const HaltRequest& r) {
    if (r.silent)
        std::fprintf(stderr, "%s: %s\n", r.halt_text.c_str(), r.text.c_str());
    else if (!r.halt_text.empty())
        std::fprintf(stderr, "%s\n", r.halt_text.c_str());
    std::fflush(stderr);
    std::exit(r.exit_code);
}

}  // namespace

LONG CurrentThreadNumber() {
    if (int runtime_thread = RuntimeThreadNumber(); runtime_thread > 0) return runtime_thread;
    thread_local LONG number = g_next_thread_number.fetch_add(1);
    return number;
}

ErrorManager::ErrorManager() : serial_(g_next_serial.fetch_add(1)) {}

ErrorManager::~ErrorManager() {
    Shutdown();
}

RaiseState& ErrorManager::State() {
    return t_states[serial_];
}

void ErrorManager::Startup(std::string log_path) {
    std_log_ = std::make_unique<ErrorLog>(std::move(log_path));
    STDERRORLOG = std_log_.get();
    {
        std::lock_guard lock(mutex_);
        default_category_ = "APF";
    }
    HISTORYTHRESHOLD = 0;
    HISTORYVIEWLEVEL = 3;
    HISTORYRESETONVIEW = 0;
    started_ = true;
    StartupWithLog(STDERRORLOG);
}

void ErrorManager::StartupWithLog(ERRORLOGINTERFACE* log) {
    ERRORLOG = log;
    {
        std::lock_guard lock(mutex_);
        errors_ = std::make_unique<Queue<ErrorEntry>>();
        procnames_ = std::make_unique<Queue<ProcNameEntry>>();
        if (!history_) history_ = std::make_unique<Queue<ErrorHistoryEntry>>();
    }
    LoadTable(DefaultErrors());
}

void ErrorManager::Shutdown() {
    std::lock_guard lock(mutex_);
    errors_.reset();
    procnames_.reset();
    history_.reset();
    categories_.clear();
    if (ERRORLOG == STDERRORLOG) ERRORLOG = nullptr;
    STDERRORLOG = nullptr;
    std_log_.reset();
    started_ = false;
}

bool ErrorManager::LoadTable(std::span<const std::uint8_t> table) {
    std::vector<MessageDef> defs;
    if (!ParseMessageTable(table, defs)) return false;
    ErrorStateKeeper keep;
    std::lock_guard lock(mutex_);
    if (!errors_) return false;
    for (const MessageDef& d : defs) {
        errors_->ClearBuffer();
        errors_->ID = d.id;
        errors_->FATALITY = d.severity;
        errors_->TITLE = d.title;
        errors_->MESSAGE = d.text;
        errors_->CATEGORY = nullptr;
        errors_->Add();
    }
    return true;
}

std::size_t ErrorManager::Messages() const {
    std::lock_guard lock(mutex_);
    return errors_ ? errors_->Records() : 0;
}

bool ErrorManager::Locate(USHORT id, RaiseState& st) {
    std::lock_guard lock(mutex_);
    st.found = false;
    st.position = 0;
    if (!errors_) return false;
    for (std::size_t pos = errors_->Records(); pos >= 1; --pos) {
        ErrorEntry e{};
        if (errors_->Peek(pos, e) && e.ID == id) {
            st.found = true;
            st.position = pos;
            st.message = e;
            return true;
        }
    }
    return false;
}

void ErrorManager::NoteFileName(std::string_view name) {
    State().FILENAME = Clip(name);
}

void ErrorManager::NoteFieldName(std::string_view name) {
    State().FIELDNAME = Clip(name);
}

void ErrorManager::CaptureErrorState() {
    RaiseState& st = State();
    st.SAVEERRORCODE = ErrorCode();
    st.SAVEERROR = Clip(Error());
    st.SAVEFILEERRORCODE = Clip(FileErrorCode());
    st.SAVEFILEERROR = Clip(FileError());
}

int ErrorManager::Raise(USHORT id) {
    ErrorStateKeeper keep;
    CaptureErrorState();
    return Dispatch(id);
}

int ErrorManager::RaiseWithText(USHORT id, std::string_view text) {
    State().MESSAGETEXT = text;
    return Raise(id);
}

int ErrorManager::Dispatch(USHORT id) {
    ErrorStateKeeper keep;
    RaiseState& st = State();
    if (!Locate(id, st)) {
        // An id nobody loaded still tells the user something went wrong, and goes on.
        st.undefined_text = "Message " + std::to_string(id) + " is not defined.";
        st.message = ErrorEntry{id, st.undefined_text, kUndefinedTitle, SevNotify, nullptr};
        OnNotify();
        return SevNotify;
    }
    switch (st.message.FATALITY) {
        case SevQuiet:
            return OnQuiet();
        case SevAskUser:
        case SevCancel:
            return OnAskUser();
        case SevProgram:
            return OnProgramError();
        case SevFatal:
            return OnFatal();
        case SevNotify:
            OnNotify();
            return SevNotify;
        default:
            return OnOtherSeverity();
    }
}

int ErrorManager::Prompt(USHORT id, int buttons, int default_button) {
    if (SILENT) return default_button;
    ErrorStateKeeper keep;
    RaiseState& st = State();
    if (!Locate(id, st)) {
        st.undefined_text = "Message " + std::to_string(id) + " is not defined.";
        st.message = ErrorEntry{id, st.undefined_text, kUndefinedTitle, SevNotify, nullptr};
    }
    std::string text = SubstitutedText();
    std::string title(st.message.TITLE);
    return ShowBox(text, title, ICON_QUESTION, buttons, default_button, 0);
}

std::string ErrorManager::SubstitutedText() {
    RaiseState& st = State();
    if (!st.found && st.undefined_text.empty()) return {};
    return Substitute(st.message.MESSAGE, st.position, st.message, 0);
}

// Fills the placeholders in this order, each at every occurrence and without regard to
// case: %File, %ErrorCode, %ErrorText, %Error, %FileErrorCode, %FileError, %Message,
// %Field, %Procedure, %Category, %Previous. A value inserted early is itself searched by
// the later tokens. "%ErrorText" is the driver's text and code for error 90 (a failure the
// file driver reported), else the runtime's. "%Previous" is the text of the definition of
// the same id loaded before the one at `position`, with its own placeholders filled, or
// nothing when there is none.
std::string ErrorManager::Substitute(std::string_view text, std::size_t position, const ErrorEntry& entry,
                                     int depth) {
    RaiseState& st = State();
    std::string s(text.substr(0, Utf8CutLength(text, kSubstituteLimit)));
    const std::string code = std::to_string(st.SAVEERRORCODE);
    std::string error_text;
    if (st.SAVEERRORCODE == 90)
        error_text = st.SAVEFILEERROR.Str() + " (" + st.SAVEFILEERRORCODE.Str() + ")";
    else
        error_text = st.SAVEERROR.Str() + " (" + code + ")";

    ReplaceToken(s, "%File", st.FILENAME.View());
    ReplaceToken(s, "%ErrorCode", code);
    ReplaceToken(s, "%ErrorText", error_text);
    ReplaceToken(s, "%Error", st.SAVEERROR.View());
    ReplaceToken(s, "%FileErrorCode", st.SAVEFILEERRORCODE.View());
    ReplaceToken(s, "%FileError", st.SAVEFILEERROR.View());
    ReplaceToken(s, "%Message", st.MESSAGETEXT.View());
    ReplaceToken(s, "%Field", st.FIELDNAME.View());
    if (FindNoCase(s, "%Procedure", 0) != std::string::npos)
        ReplaceToken(s, "%Procedure", CurrentProcedureName());
    if (FindNoCase(s, "%Category", 0) != std::string::npos) {
        std::string category;
        {
            std::lock_guard lock(mutex_);
            if (entry.CATEGORY) category = *entry.CATEGORY;
        }
        ReplaceToken(s, "%Category", category);
    }
    if (FindNoCase(s, "%Previous", 0) != std::string::npos) {
        std::string previous;
        ErrorEntry earlier{};
        std::size_t earlier_pos = 0;
        {
            std::lock_guard lock(mutex_);
            for (std::size_t pos = position; errors_ && pos > 1; --pos) {
                ErrorEntry e{};
                if (errors_->Peek(pos - 1, e) && e.ID == entry.ID) {
                    earlier = e;
                    earlier_pos = pos - 1;
                    break;
                }
            }
        }
        // Each step goes to a strictly earlier entry, so the depth is bounded by the queue.
        if (earlier_pos > 0 && depth < 1000)
            previous = Substitute(earlier.MESSAGE, earlier_pos, entry, depth + 1);
        ReplaceToken(s, "%Previous", previous);
    }
    return s;
}

void ErrorManager::AssignCategory(USHORT id, std::string_view category) {
    std::lock_guard lock(mutex_);
    if (id == kAllMessages) {
        default_category_ = category;
        return;
    }
    if (!errors_) return;
    for (std::size_t pos = errors_->Records(); pos >= 1; --pos) {
        ErrorEntry e{};
        if (errors_->Peek(pos, e) && e.ID == id) {
            ErrorStateKeeper keep;
            categories_.push_back(std::make_unique<std::string>(category));
            errors_->Get(pos);
            errors_->CATEGORY = categories_.back().get();
            errors_->Put();
            return;
        }
    }
}

std::string ErrorManager::CategoryOf(USHORT id) {
    std::lock_guard lock(mutex_);
    if (id != kAllMessages && errors_) {
        for (std::size_t pos = errors_->Records(); pos >= 1; --pos) {
            ErrorEntry e{};
            if (errors_->Peek(pos, e) && e.ID == id) {
                if (e.CATEGORY && !e.CATEGORY->empty()) return *e.CATEGORY;
                break;
            }
        }
    }
    return default_category_;
}

std::string ErrorManager::DefaultCategory() const {
    std::lock_guard lock(mutex_);
    return default_category_;
}

void ErrorManager::EnterProcedure(std::string_view name) {
    ErrorStateKeeper keep;
    std::lock_guard lock(mutex_);
    if (!procnames_) return;
    procnames_->ClearBuffer();
    procnames_->THREAD = CurrentThreadNumber();
    procnames_->NAME = Clip(name);
    procnames_->Add();
}

void ErrorManager::LeaveProcedure() {
    ErrorStateKeeper keep;
    std::lock_guard lock(mutex_);
    if (!procnames_) return;
    const LONG me = CurrentThreadNumber();
    for (std::size_t pos = procnames_->Records(); pos >= 1; --pos) {
        ProcNameEntry e{};
        if (procnames_->Peek(pos, e) && e.THREAD == me) {
            procnames_->Get(pos);
            procnames_->Delete();
            return;
        }
    }
}

std::string ErrorManager::CurrentProcedureName() {
    std::lock_guard lock(mutex_);
    if (!procnames_) return {};
    const LONG me = CurrentThreadNumber();
    for (std::size_t pos = procnames_->Records(); pos >= 1; --pos) {
        ProcNameEntry e{};
        if (procnames_->Peek(pos, e) && e.THREAD == me) return e.NAME.Str();
    }
    return {};
}

void ErrorManager::ClearHistory() {
    std::lock_guard lock(mutex_);
    if (history_) history_->Free();
}

void ErrorManager::AppendHistory() {
    ErrorStateKeeper keep;
    std::lock_guard lock(mutex_);
    if (!history_) return;
    history_->Buffer() = State().history;
    history_->Add();
}

void ErrorManager::SetHaltHandler(HaltHandler handler) {
    std::lock_guard lock(mutex_);
    halt_ = std::move(handler);
}

int ErrorManager::Halt(const HaltRequest& request) {
    HaltHandler handler;
    {
        std::lock_guard lock(mutex_);
        handler = halt_;
    }
    if (handler)
        handler(request);
    else
        DefaultHalt(request);
    return SevFatal;
}

int ErrorManager::ShowMessage(std::string_view text, std::string_view title, IconRef icon, int buttons,
                              int default_button, LONG style) {
    ErrorStateKeeper keep;
    RaiseState& st = State();
    // 1. The log line. A log that cannot be opened or written never stops the message,
    // and a log that did not open is not closed (that would end someone else's use).
    if (LOGERRORS && ERRORLOG) {
        if (ERRORLOG->Open(0) == 0) {
            ERRORLOG->WriteLine(FormatLogLine(Today(), ClockTime(), text));
            ERRORLOG->Close(0);
        }
    }
    // 2. The history.
    const LONG threshold = HISTORYTHRESHOLD;
    if (threshold != 0) {
        std::lock_guard lock(mutex_);
        if (history_ && threshold > 0) {
            // Bounded: every pass removes one entry.
            while (history_->Records() >= static_cast<std::size_t>(threshold)) {
                history_->Get(1);
                history_->Delete();
            }
        }
        st.history.TXT = text;
        st.history.ID = st.message.ID;
        st.history.CATEGORY = CategoryOf(st.message.ID);
        AppendHistory();
    }
    // 3. Nothing is shown, and nobody waits, in an unattended run.
    if (SILENT) return default_button;
    // 4./5. The history dialog for the chosen severity, a plain box otherwise.
    if (threshold != 0 && st.message.FATALITY == HISTORYVIEWLEVEL) {
        int result = ShowHistoryDialog(text, title, icon, buttons, default_button, style);
        if (HISTORYRESETONVIEW) ClearHistory();
        return result;
    }
    return ShowBox(text, title, icon, buttons, default_button, style);
}

int ErrorManager::ShowBox(std::string_view text, std::string_view title, IconRef, int, int default_button,
                          LONG) {
    // Nobody can answer here; the message still reaches whoever reads standard error.
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
                 static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
    return default_button;
}

int ErrorManager::ShowHistoryDialog(std::string_view text, std::string_view title, IconRef icon, int buttons,
                                    int default_button, LONG style) {
    return ShowBox(text, title, icon, buttons, default_button, style);
}

int ErrorManager::OnQuiet() {
    return SevQuiet;
}

int ErrorManager::OnFatal() {
    RaiseState& st = State();
    std::string text = SubstitutedText();
    std::string title(st.message.TITLE);
    const bool silent = SILENT != 0;
    ShowMessage(text + std::string(kFatalSuffix), title, ICON_EXCLAMATION, Button::Ok, Button::Ok, 0);
    // When nobody saw the message the program must not end as if all went well.
    return Halt(HaltRequest{silent ? 1 : 0, title, text, silent});
}

int ErrorManager::OnNotify() {
    RaiseState& st = State();
    std::string text = SubstitutedText();
    std::string title(st.message.TITLE);
    return ShowMessage(text, title, ICON_EXCLAMATION, Button::Ok, Button::Ok, 0);
}

int ErrorManager::OnOtherSeverity() {
    return OnProgramError();
}

int ErrorManager::OnProgramError() {
    return OnFatal();
}

int ErrorManager::OnAskUser() {
    RaiseState& st = State();
    std::string text = SubstitutedText();
    std::string title(st.message.TITLE);
    int pressed = ShowMessage(text, title, ICON_QUESTION, Button::Yes | Button::No, Button::Yes, 0);
    return pressed == Button::Yes ? SevQuiet : SevCancel;
}

int ErrorManager::ShowHistory() {
    return ShowHistoryDialog("", "Errors History", ICON_NONE, Button::Ok, Button::Ok, 0);
}

}  // namespace dt
