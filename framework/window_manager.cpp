#include "framework/window_manager.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/window_resizer.h"
#include "ui/application.h"
#include "ui/window.h"

namespace dt {

// ---------------------------------------------------------------- UiWindowPort

bool UiWindowPort::TakeEvent(WindowEvent& out) {
    if (!window_.NextEvent()) return false;
    out.event = window_.CurrentEvent();
    out.field = window_.Field();
    out.keycode = window_.Keycode();
    // Handlers registered for this event run before anyone handles it; a copy, because a
    // handler may register or unregister.
    std::vector<std::function<void()>> due;
    for (const auto& [key, fn] : handlers_)
        if (key.first == static_cast<int>(out.event)) due.push_back(fn);
    for (auto& fn : due) fn();
    return true;
}

void UiWindowPort::Cycle() {
    window_.Cycle();
}
void UiWindowPort::PostEvent(Event event, LONG control) {
    window_.Post(event, int(control));
}

void UiWindowPort::Register(Event event, const void* owner, std::function<void()> fn) {
    handlers_[{static_cast<int>(event), owner}] = std::move(fn);
}
void UiWindowPort::Unregister(Event event, const void* owner) {
    handlers_.erase({static_cast<int>(event), owner});
}

void UiWindowPort::Select(LONG control) {
    window_.Select(int(control));
}
void UiWindowPort::SelectAll() {
    window_.ValidateAll();
}
bool UiWindowPort::AcceptAllRunning() const {
    return window_.InValidateAll();
}
LONG UiWindowPort::FocusControl() const {
    return window_.Focus();
}
void UiWindowPort::Display(LONG control) {
    window_.Display(int(control));
}
void UiWindowPort::Beep() {
    ui::Beep();
}
void UiWindowPort::SetBusyCursor(bool busy) {
    ui::SetCursor(busy ? ui::Cursor::Wait : ui::Cursor::Arrow);
}
void UiWindowPort::Alert(LONG keycode, LONG control) {
    window_.AlertControl(int(control), int(keycode));
}
LONG UiWindowPort::KeyCode() const {
    return window_.Keycode();
}
void UiWindowPort::SetKeyCode(LONG keycode) {
    window_.SetKeycode(int(keycode));
}

LONG UiWindowPort::NextField(LONG after) const {
    return after < window_.Fields() ? after + 1 : 0;
}
LONG UiWindowPort::Type(LONG control) const {
    return static_cast<LONG>(window_.Type(int(control)));
}

WindowRect UiWindowPort::ControlRect(LONG control) const {
    ui::Rect r = window_.GetPosition(int(control));
    return WindowRect{r.x, r.y, r.w, r.h};
}
void UiWindowPort::SetControlRect(LONG control, const WindowRect& rect) {
    window_.SetPosition(int(control), ui::Rect{rect.XPOS, rect.YPOS, rect.WIDTH, rect.HEIGHT});
}
LONG UiWindowPort::Parent(LONG control) const {
    return window_.Parent(int(control));
}
bool UiWindowPort::InToolBar(LONG) const {
    return false;
}  // the layer has no toolbars
bool UiWindowPort::Drop(LONG control) const {
    return window_.Drop(int(control)) != 0;
}
bool UiWindowPort::NoWidth(LONG control) const {
    return window_.NoWidth(int(control));
}
std::string UiWindowPort::Text(LONG control) const {
    return window_.Text(int(control));
}
bool UiWindowPort::Disabled(LONG control) const {
    return window_.Disabled(int(control));
}
std::string UiWindowPort::Icon(LONG control) const {
    return window_.Icon(int(control));
}

WindowRect UiWindowPort::Rect() const {
    return ControlRect(0);
}
void UiWindowPort::SetRect(const WindowRect& rect) {
    SetControlRect(0, rect);
}
bool UiWindowPort::Maximized() const {
    return window_.GetPlacement().maximized;
}
bool UiWindowPort::Iconized() const {
    return window_.GetPlacement().iconized;
}
LONG UiWindowPort::DeferMove() const {
    return window_.DeferMove();
}
void UiWindowPort::SetDeferMove(LONG count) {
    window_.SetDeferMove(int(count));
}
void UiWindowPort::SetImm(bool on) {
    window_.SetImm(0, on);
}
void UiWindowPort::SetMinSize(LONG width, LONG height) {
    window_.SetMinSize(int(width), int(height));
}
void UiWindowPort::SetMaxSize(LONG width, LONG height) {
    window_.SetMaxSize(int(width), int(height));
}
int UiWindowPort::Popup(std::string_view menu, LONG x, LONG y) {
    return ui::Popup(menu, int(x), int(y));
}

// ---------------------------------------------------------------- WindowManager

WindowManager::WindowManager() = default;

// Components and saved buffers belong to the derived window and its tables, which may be
// gone by now: the destructor only drops the manager's own lists. Shutdown is the place
// where components are discarded.
WindowManager::~WindowManager() = default;

void WindowManager::SetWindow(ui::Window& window) {
    own_port_ = std::make_unique<UiWindowPort>(window);
    port_ = own_port_.get();
}

void WindowManager::SetWindow(WindowPort& port) {
    own_port_.reset();
    port_ = &port;
}

int WindowManager::Startup() {
    ORIGINALREQUEST = REQUEST;
    CL = std::make_unique<Queue<ComponentEntry>>();
    BUTTONS = std::make_unique<Queue<ButtonEntry>>();
    // The key that started this procedure (a right click or its release on a list) must
    // not act again in the new window.
    if (ui::Window* caller = ui::ActiveWindow()) {
        int key = caller->Keycode();
        if (key == 2 || key == 130) caller->SetKeycode(0);
    }
    INSERTACTION = 2;
    DELETEACTION = 2;
    CHANGEACTION = 1;
    CANCELACTION = 3;
    AUTOTOOLBAR = 1;
    AUTOREFRESH = 1;
    return SevQuiet;
}

int WindowManager::Shutdown() {
    if (DEAD || !CL) return SevNotify;
    // Components leave the list one at a time from the front, each told first.
    for (std::size_t guard = CL->Records(); CL->Records() > 0 && guard > 0; --guard) {
        CL->Get(1);
        WindowComponent* wc = CL->WC;
        CL->Delete();
        if (wc != nullptr) wc->Discard();
    }
    CL.reset();
    BUTTONS.reset();
    HISTORY.reset();
    if (FILES) {
        for (std::size_t i = 1, n = FILES->Records(); i <= n; ++i) {
            FILES->Get(i);
            if (FILES->FILE != nullptr) FILES->FILE->RestoreBuffer(FILES->SAVED, 0);
        }
        FILES.reset();
    }
    if (PRIMARY != nullptr && SAVED != 0) PRIMARY->Manager().RestoreBuffer(SAVED, 0);
    SAVED = 0;
    if (TOOLBAR != nullptr) TOOLBAR->Kill();
    if (RESIZE != nullptr) RESIZE->Shutdown();
    DEAD = 1;
    return SevQuiet;
}

BYTE WindowManager::Run() {
    if (Startup() == SevQuiet) EventLoop();
    Shutdown();
    return RESPONSE != 0 ? RESPONSE : ResponseCancelled;
}

BYTE WindowManager::RunRelated(USHORT, BYTE) {
    return ResponseCancelled;
}

void WindowManager::EventLoop() {
    if (DEAD) return;
    LASTINSERTEDPOSITION.Clear();
    if (port_ == nullptr) return;
    while (port_->TakeEvent(event_)) {
        int result = HandleEvent();
        if (result == SevFatal) break;
        // Notify: the event is done; the layer's own handling (a close...) is skipped.
        if (result == SevNotify) port_->Cycle();
    }
}

int WindowManager::HandleEvent() {
    const WindowEvent e = event_;
    const bool window_event = !ui::IsFieldEvent(e.event);
    int result = SevQuiet;
    if (window_event) {
        result = OnWindowEvent();
        if (result != SevQuiet) return result;
    }
    switch (e.event) {
        case Event::Accepted:
            result = OnAccepted();
            break;
        case Event::Rejected:
            result = OnRejected();
            break;
        case Event::Selected:
            result = OnSelected();
            break;
        case Event::NewSelection:
            result = OnNewSelection();
            break;
        case Event::AlertKey:
            if (HISTORYKEY != 0 && e.keycode == HISTORYKEY)
                RecallFieldHistory(port_ != nullptr ? port_->FocusControl() : 0);
            break;
        default:
            break;
    }
    if (result != SevQuiet) return result;
    if (!window_event && e.field != 0) {
        result = OnFieldEvent();
        if (result != SevQuiet) return result;
    }
    if (CL) {
        // By position, re-reading the count: a handler may remove components.
        for (std::size_t i = 1; i <= CL->Records(); ++i) {
            ComponentEntry entry{};
            if (!CL->Peek(i, entry) || entry.WC == nullptr) continue;
            result = entry.WC->HandleEvent(e);
            if (result != SevQuiet) return result;
        }
        if (AUTOREFRESH) {
            for (std::size_t i = 1; i <= CL->Records(); ++i) {
                ComponentEntry entry{};
                if (!CL->Peek(i, entry) || entry.WC == nullptr) continue;
                if (entry.WC->NeedsRefresh()) {
                    Refresh(0);
                    break;
                }
            }
        }
    }
    return SevQuiet;
}

int WindowManager::OnWindowEvent() {
    switch (event_.event) {
        case Event::OpenWindow:
            if (!(INITED & 1)) OnWindowOpened();
            if (FIRSTFIELD != 0) FocusFirstField();
            break;
        case Event::LoseFocus:
            if (RESETONGAINFOCUS) FORCEDRESET = 1;
            break;
        case Event::GainFocus:
            if (INITED & 1)
                Refresh(0);
            else
                OnWindowOpened();
            break;
        case Event::Sized:
            if (!(INITED & 2))
                INITED |= 2;
            else
                Refresh(0);
            break;
        case Event::Completed:
            return OnCompleted();
        case Event::CloseWindow:
        case Event::CloseDown:
            return OnCloseRequest();
        default:
            break;
    }
    return SevQuiet;
}

void WindowManager::OnWindowOpened() {
    if (TRANSLATOR != nullptr && port_ != nullptr) TRANSLATOR->TranslateWindow(*port_);
    Refresh(0);
    INITED |= 1;
}

void WindowManager::PrimeNewRecord() {}

void WindowManager::Refresh(BYTE force) {
    // Refreshing while the validate-all pass runs would overwrite the values being checked.
    if (port_ != nullptr && port_->AcceptAllRunning()) return;
    force = BYTE(force + FORCEDRESET);
    FORCEDRESET = 0;
    if (CL) {
        for (std::size_t i = 1; i <= CL->Records(); ++i) {
            ComponentEntry entry{};
            if (CL->Peek(i, entry) && entry.WC != nullptr) entry.WC->Refresh(force);
        }
        for (std::size_t i = 1; i <= CL->Records(); ++i) {
            ComponentEntry entry{};
            if (CL->Peek(i, entry) && entry.WC != nullptr) entry.WC->RepaintWindow();
        }
    }
    if (port_ != nullptr) port_->Display(0);
}

void WindowManager::RecallFieldHistory(LONG control) {
    if (!HISTORY) return;
    for (std::size_t i = 1, n = HISTORY->Records(); i <= n; ++i) {
        FieldHistoryEntry h{};
        if (!HISTORY->Peek(i, h) || h.CONTROL != control) continue;
        std::memcpy(h.FIELD, h.SAVED, std::min(h.FIELDSIZE, h.SAVEDSIZE));
        if (port_ != nullptr) port_->Display(control);
        return;
    }
}

void WindowManager::ArmAlerts() {
    if (CL) {
        for (std::size_t i = 1; i <= CL->Records(); ++i) {
            ComponentEntry entry{};
            if (CL->Peek(i, entry) && entry.WC != nullptr) entry.WC->ArmAlerts();
        }
    }
    if (HISTORY && HISTORYKEY != 0 && port_ != nullptr) {
        for (std::size_t i = 1, n = HISTORY->Records(); i <= n; ++i) {
            FieldHistoryEntry h{};
            if (HISTORY->Peek(i, h)) port_->Alert(HISTORYKEY, h.CONTROL);
        }
    }
}

void WindowManager::FinishWith(BYTE response) {
    RESPONSE = response;
    if (port_ != nullptr) port_->PostEvent(Event::CloseWindow);
    if (response == ResponseCancelled && TOOLBAR != nullptr && VCRREQUEST != nullptr) *VCRREQUEST = 0;
}

int WindowManager::OnAccepted() {
    const LONG control = event_.field;
    if (TOOLBAR != nullptr) {
        TOOLBAR->TakeAccepted(control, VCRREQUEST);
        if (control == kToolbarHistoryButton)
            RecallFieldHistory(port_ != nullptr ? port_->FocusControl() : 0);
    }
    if (BUTTONS) {
        for (std::size_t i = 1, n = BUTTONS->Records(); i <= n; ++i) {
            ButtonEntry b{};
            if (BUTTONS->Peek(i, b) && b.CONTROL == control) {
                FinishWith(b.ACTION);
                return SevNotify;
            }
        }
    }
    if (OKCONTROL != 0 && control == OKCONTROL && port_ != nullptr) {
        if (ORIGINALREQUEST == RequestInsert || ORIGINALREQUEST == RequestChange)
            port_->SelectAll();
        else
            port_->PostEvent(Event::Completed);
    }
    return SevQuiet;
}

int WindowManager::OnCompleted() {
    if (HISTORY) {
        for (std::size_t i = 1, n = HISTORY->Records(); i <= n; ++i) {
            FieldHistoryEntry h{};
            if (HISTORY->Peek(i, h)) std::memcpy(h.SAVED, h.FIELD, std::min(h.FIELDSIZE, h.SAVEDSIZE));
        }
    }
    switch (REQUEST) {
        case RequestInsert:
            return InsertRoutine();
        case RequestChange:
            return ChangeRoutine();
        case RequestDelete:
            return DeleteRoutine();
        default:
            return SevQuiet;
    }
}

void WindowManager::FocusFirstField() {
    if (port_ != nullptr && FIRSTFIELD != 0) port_->Select(FIRSTFIELD);
}

int WindowManager::InsertRoutine() {
    if (PRIMARY == nullptr) return SevQuiet;
    FileManagerInterface& file = PRIMARY->Manager();
    if (file.Insert() != SevQuiet) {
        FocusFirstField();
        return SevNotify;
    }
    switch (INSERTACTION) {
        case 2:
            FinishWith(ResponseCompleted);
            return SevQuiet;
        case 4:
            if (ERRORS == nullptr || ERRORS->Raise(Msg::RecordAdded) != SevQuiet) {
                FinishWith(ResponseCompleted);
                return SevQuiet;
            }
            [[fallthrough]];
        case 3: {
            LASTINSERTEDPOSITION = file.Position();
            if (FILES) {
                for (std::size_t i = 1, n = FILES->Records(); i <= n; ++i) {
                    FILES->Get(i);
                    if (FILES->FILE == nullptr) continue;
                    FILES->FILE->RestoreBuffer(FILES->SAVED, 1);
                    FILES->SAVED = FILES->FILE->SaveBuffer();
                    FILES->Put();
                }
            }
            file.RestoreBuffer(SAVED, 1);
            if (file.PrimeRecord(0) != SevQuiet) {
                if (port_ != nullptr) port_->PostEvent(Event::CloseWindow);
            } else {
                PrimeNewRecord();
                RESPONSE = ResponseCancelled;
            }
            SAVED = file.SaveBuffer();
            if (port_ != nullptr) port_->Display(0);
            FocusFirstField();
            return SevNotify;
        }
        default:
            return SevQuiet;
    }
}

int WindowManager::ChangeRoutine() {
    if (PRIMARY == nullptr) return SevQuiet;
    FileManagerInterface& file = PRIMARY->Manager();
    bool unchanged = false;
    // A record left as it was is not written: that counts as done.
    const WriteOutcome outcome = RetryWithPrompt(Msg::UpdateError, NotifyIs::Collision, [&] {
        unchanged = file.EqualBuffer(SAVED) != 0;
        return unchanged ? SevQuiet : PRIMARY->Update(HISTORYKEY != 0 ? 1 : 0);
    });
    if (outcome != WriteOutcome::Written) return AfterUnwritten(outcome);
    RESPONSE = ResponseCompleted;
    if (unchanged && TOOLBAR != nullptr && VCRREQUEST != nullptr && *VCRREQUEST != 0)
        RESPONSE = ResponseCancelled;
    if (port_ != nullptr) port_->PostEvent(Event::CloseWindow);
    return SevQuiet;
}

int WindowManager::DeleteRoutine() {
    if (PRIMARY == nullptr) return SevQuiet;
    const WriteOutcome outcome = RetryWithPrompt(Msg::DeleteError, NotifyIs::Failure,
                                                 [&] { return PRIMARY->Delete(DELETEACTION == 2 ? 1 : 0); });
    if (outcome != WriteOutcome::Written) return AfterUnwritten(outcome);
    FinishWith(ResponseCompleted);
    return SevQuiet;
}

WindowManager::WriteOutcome WindowManager::RetryWithPrompt(USHORT question, NotifyIs notify,
                                                           const std::function<int()>& write) {
    // Repeats only when the user asks to try again.
    for (;;) {
        RESPONSE = ResponseCancelled;
        if (port_ != nullptr) port_->SetBusyCursor(true);
        const int result = write();
        if (port_ != nullptr) port_->SetBusyCursor(false);
        if (result == SevQuiet) return WriteOutcome::Written;
        // A collision: shown, the other station's values are in the buffer.
        if (result == SevNotify && notify == NotifyIs::Collision) return WriteOutcome::Shown;
        const int answer =
            ERRORS != nullptr
                ? ERRORS->Prompt(question, Button::Yes | Button::No | Button::Cancel, Button::Cancel)
                : Button::Cancel;
        if (answer == Button::Yes) continue;
        return answer == Button::No ? WriteOutcome::Abandoned : WriteOutcome::Kept;
    }
}

int WindowManager::AfterUnwritten(WriteOutcome outcome) {
    if (outcome == WriteOutcome::Abandoned) {
        if (port_ != nullptr) port_->PostEvent(Event::CloseWindow);
        return SevQuiet;
    }
    if (port_ != nullptr) port_->Display(0);
    FocusFirstField();
    return SevNotify;
}

void WindowManager::PressOk() {
    if (port_ == nullptr) return;
    if (OKCONTROL != 0) {
        port_->PostEvent(Event::Accepted, OKCONTROL);
    } else if (ORIGINALREQUEST == RequestInsert || ORIGINALREQUEST == RequestChange) {
        // Without an OK button, posting Accepted to control 0 would do nothing and the
        // window could never close: start the validation the OK button would start.
        port_->SelectAll();
    } else {
        port_->PostEvent(Event::Completed);
    }
}

int WindowManager::OnCloseRequest() {
    if (RESPONSE == ResponseCompleted || PRIMARY == nullptr) return SevQuiet;
    FileManagerInterface& file = PRIMARY->Manager();
    if (CANCELACTION != 0 && (REQUEST == RequestInsert || REQUEST == RequestChange) &&
        !file.EqualBuffer(SAVED)) {
        if ((CANCELACTION & 3) == 3) {
            int answer = ERRORS != nullptr
                             ? ERRORS->Prompt(Msg::SaveRecord, Button::Yes | Button::No | Button::Cancel,
                                              Button::Cancel)
                             : Button::Cancel;
            if (answer == Button::Yes) {
                PressOk();
                return SevNotify;
            }
            if (answer != Button::No) {
                FocusFirstField();
                return SevNotify;
            }
        } else if (CANCELACTION & 1) {
            PressOk();
            return SevNotify;
        } else {
            if (ERRORS != nullptr && ERRORS->Raise(Msg::ConfirmCancel) == SevCancel) {
                FocusFirstField();
                return SevNotify;
            }
        }
    }
    if (ORIGINALREQUEST == RequestInsert && RESPONSE == ResponseCancelled) {
        if (PRIMARY->CancelInsert() != SevQuiet) {
            FocusFirstField();
            return SevNotify;
        }
    }
    if (!LASTINSERTEDPOSITION.IsBlank()) {
        RESPONSE = ResponseCompleted;
        // Shows the record just inserted again when it can; the insert stands either way.
        (void)file.TryReget(LASTINSERTEDPOSITION.Clip());
    }
    return SevQuiet;
}

int WindowManager::PrepareUpdate() {
    if (PRIMARY == nullptr) return SevQuiet;
    FileManagerInterface& file = PRIMARY->Manager();
    // A form over a table that cannot be used is not shown.
    if (int used = file.UseFile(); used != SevQuiet) return used;
    PRIMARY->PrepareRelated();
    if (FILES) {
        for (std::size_t i = 1, n = FILES->Records(); i <= n; ++i) {
            FILES->Get(i);
            if (FILES->FILE == nullptr) continue;
            FILES->SAVED = FILES->FILE->SaveBuffer();
            FILES->Put();
        }
    }
    int result = SevQuiet;
    if (REQUEST == RequestInsert) {
        if (INSERTACTION != 0) {
            RESPONSE = ResponseCompleted;
            PrimeNewRecord();
            if (RESPONSE == ResponseCancelled)
                result = SevFatal;
            else
                RESPONSE = ResponseCancelled;
        }
    } else if (REQUEST == RequestDelete && (DELETEACTION == 2 || DELETEACTION == 4)) {
        RESPONSE =
            PRIMARY->Delete(DELETEACTION == 2 ? 1 : 0) == SevQuiet ? ResponseCompleted : ResponseCancelled;
        result = SevFatal;
    }
    SAVED = file.SaveBuffer();
    return result;
}

int WindowManager::OnFieldEvent() {
    return SevQuiet;
}

int WindowManager::OnNewSelection() {
    if (port_ != nullptr && port_->Type(event_.field) == LONG(ui::ControlType::Sheet)) {
        Refresh(0);
        if (AUTOTOOLBAR && TOOLBAR != nullptr) TOOLBAR->SetWindow(*this);
    }
    return SevQuiet;
}

int WindowManager::OnRejected() {
    if (port_ != nullptr) {
        port_->Beep();
        port_->Display(event_.field);
        port_->Select(event_.field);
    }
    return SevQuiet;
}

int WindowManager::OnSelected() {
    return SevQuiet;
}

void WindowManager::SaveComponents() {
    if (!CL) return;
    for (std::size_t i = 1; i <= CL->Records(); ++i) {
        ComponentEntry entry{};
        if (CL->Peek(i, entry) && entry.WC != nullptr) entry.WC->SaveToRecord();
    }
}

void WindowManager::AddComponent(WindowComponent& component) {
    if (!CL) CL = std::make_unique<Queue<ComponentEntry>>();
    CL->WC = &component;
    CL->Add();
}

void WindowManager::RemoveComponent(WindowComponent& component) {
    if (!CL) return;
    for (std::size_t i = CL->Records(); i >= 1; --i) {
        CL->Get(i);
        if (CL->WC == &component) CL->Delete();
    }
}

void WindowManager::SetResizer(WindowResizer& resizer) {
    RESIZE = &resizer;
}

void WindowManager::SetToolbar(ToolbarInterface& toolbar) {
    TOOLBAR = &toolbar;
    toolbar.SetWindow(*this);
}

void WindowManager::AddBrowse(WindowComponent& browse, BYTE& selecting) {
    AddComponent(browse);
    if (REQUEST == RequestSelect) selecting = 1;
}

void WindowManager::AddButton(LONG control, BYTE action) {
    if (!BUTTONS) BUTTONS = std::make_unique<Queue<ButtonEntry>>();
    BUTTONS->CONTROL = control;
    BUTTONS->ACTION = action;
    BUTTONS->Add();
}

void WindowManager::AddRelatedFile(FileManagerInterface& file) {
    if (!FILES) FILES = std::make_unique<Queue<RelatedFileEntry>>();
    FILES->FILE = &file;
    FILES->SAVED = 0;
    FILES->Add();
}

void WindowManager::AddHistoryField(void* field, std::size_t field_size, void* saved, std::size_t saved_size,
                                    LONG control) {
    if (!HISTORY) HISTORY = std::make_unique<Queue<FieldHistoryEntry>>();
    HISTORY->FIELD = field;
    HISTORY->FIELDSIZE = ULONG(field_size);
    HISTORY->SAVED = saved;
    HISTORY->SAVEDSIZE = ULONG(saved_size);
    HISTORY->CONTROL = control;
    HISTORY->Add();
}

}  // namespace dt
