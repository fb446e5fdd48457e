// Window: the owner-thread side of an open window and its event loop (see window.h).
#include "ui/window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <atomic>
#include <type_traits>

#include "ui/application.h"
#include "ui/src/gui_window.h"
#include "ui/src/value_format.h"
#include "ui/src/window_state.h"

namespace dt::ui {

const char* EventName(Event e) {
    switch (e) {
        case Event::None:
            return "None";
        case Event::Accepted:
            return "Accepted";
        case Event::NewSelection:
            return "NewSelection";
        case Event::ScrollUp:
            return "ScrollUp";
        case Event::ScrollDown:
            return "ScrollDown";
        case Event::PageUp:
            return "PageUp";
        case Event::PageDown:
            return "PageDown";
        case Event::ScrollTop:
            return "ScrollTop";
        case Event::ScrollBottom:
            return "ScrollBottom";
        case Event::ScrollDrag:
            return "ScrollDrag";
        case Event::Locate:
            return "Locate";
        case Event::PreAlertKey:
            return "PreAlertKey";
        case Event::AlertKey:
            return "AlertKey";
        case Event::Rejected:
            return "Rejected";
        case Event::Selected:
            return "Selected";
        case Event::Edited:
            return "Edited";
        case Event::HeaderPressed:
            return "HeaderPressed";
        case Event::OpenWindow:
            return "OpenWindow";
        case Event::CloseWindow:
            return "CloseWindow";
        case Event::CloseDown:
            return "CloseDown";
        case Event::LoseFocus:
            return "LoseFocus";
        case Event::GainFocus:
            return "GainFocus";
        case Event::Timer:
            return "Timer";
        case Event::Moved:
            return "Moved";
        case Event::Sized:
            return "Sized";
        case Event::Maximized:
            return "Maximized";
        case Event::Restored:
            return "Restored";
        case Event::Iconized:
            return "Iconized";
        case Event::Completed:
            return "Completed";
    }
    return "?";
}

namespace detail {

namespace {
std::atomic<std::uint64_t> next_window_id{1};
using Clock = std::chrono::steady_clock;
}  // namespace

WindowState::WindowState(WindowDef d, Window* w) : id(next_window_id++), def(std::move(d)), owner(w) {
    for (std::size_t i = 0; i < def.controls.size(); ++i) {
        const ControlDef& cd = def.controls[i];
        if (cd.type == ControlType::Separator) continue;
        CtlState c;
        c.index = static_cast<int>(i);
        c.type = cd.type;
        c.text = cd.text;
        c.at = cd.at;
        c.hidden = cd.hidden;
        c.disabled = cd.disabled;
        c.imm = cd.imm;
        c.checked = cd.checked;
        c.drop = cd.drop;
        c.alerts.insert(cd.alerts.begin(), cd.alerts.end());
        c.icon = cd.icon;
        if (cd.type == ControlType::List || cd.type == ControlType::Combo) {
            if (!ParseListFormat(cd.format, c.format)) c.format = ListFormat{};
        }
        ctls.push_back(std::move(c));
    }
    title = def.title;
    at = def.at;
    min_size = Rect{0, 0, def.min_w, def.min_h};
    max_size = Rect{0, 0, def.max_w, def.max_h};
    status.resize(std::max<std::size_t>(def.status_zones.size(), 1));
}

int WindowState::TabOf(int field) const {
    const CtlState* c = Ctl(field);
    return c ? def.controls[c->index].parent : 0;
}

// Creates the widgets of an open window that has none (the first time it is shown).
void ShowWidgets(WindowState& s) {
    if (s.gui || !s.open || !GuiRunning()) return;
    Invoke([&] {
        QWidget* before = QApplication::activeWindow();
        s.gui = new GuiWindow(s);
        if (!s.hidden) s.gui->show();
        // A window shown without activation leaves the focus where it was, also where the
        // platform activates every new window.
        if (s.def.flags.no_activate && before != nullptr && before != s.gui) before->activateWindow();
    });
}

}  // namespace detail

using detail::CtlState;
using detail::EventRecord;
using detail::GuiWindow;
using detail::Invoke;
using detail::WindowState;

namespace {

// Most control properties are kept twice: in the control's state, which is the truth while
// the window has no widgets (and what a widget is built from), and in the widget once it
// exists. The two templates below read and write such a property, named by its member of
// CtlState and, where the widget holds it too, by GuiWindow's accessor for it.

// The property `Member` of a field: read through `Read` from the widget when the window
// has widgets and a reader is given, else from the state. A field that does not exist
// reads as the member type's default (0, false, "").
template <auto Member, auto Read = nullptr>
auto GetProperty(const WindowState& s, int field) {
    using T = std::remove_cvref_t<decltype(std::declval<const CtlState&>().*Member)>;
    const CtlState* c = s.Ctl(field);
    if (!c) return T{};
    if constexpr (!std::is_null_pointer_v<decltype(Read)>) {
        if (s.gui) {
            T v{};
            Invoke([&] { v = (s.gui->*Read)(field); });
            return v;
        }
    }
    return T(c->*Member);
}

// Sets the property `Member` of a field in the state and, when the window has widgets and
// a writer is given, through `Write` in the widget. A field that does not exist is left
// alone.
template <auto Member, auto Write = nullptr, class V>
void SetProperty(WindowState& s, int field, const V& value) {
    CtlState* c = s.Ctl(field);
    if (!c) return;
    c->*Member = value;
    if constexpr (!std::is_null_pointer_v<decltype(Write)>) {
        if (s.gui) Invoke([&] { (s.gui->*Write)(field, value); });
    }
}

// Texts and check states from the use variables into the model (no widgets touched).
void LoadFromUse(WindowState& s, int field) {
    for (int f = 1; f <= static_cast<int>(s.ctls.size()); ++f) {
        if (field != 0 && f != field) continue;
        CtlState& c = s.ctls[f - 1];
        const ControlDef& d = s.Def(c);
        if (!d.use.IsSet()) continue;
        if (c.type == ControlType::Check || c.type == ControlType::Radio) {
            std::string v = detail::FormatValue(d.use.type, d.use.ptr, d.use.size, "");
            c.checked = Clip(v) == Clip(d.true_value);
        } else if (c.type != ControlType::List && c.type != ControlType::Combo) {
            c.text = detail::FormatValue(d.use.type, d.use.ptr, d.use.size, d.picture);
        }
    }
}

// Writes a value given as text into a use variable; false when it does not fit.
bool StoreUse(const ControlDef& d, const std::string& text, const std::string& picture) {
    if (!d.use.IsSet()) return true;
    return detail::ParseValue(text, picture, d.use.type, d.use.ptr, d.use.size);
}

}  // namespace

Window::Window(WindowDef def) : state_(std::make_shared<WindowState>(std::move(def), this)) {}

Window::~Window() {
    Close();
}

int Window::Open() {
    WindowState& s = *state_;
    if (s.open) return 52;
    auto ctx = detail::CurrentContextShared();
    if (!ctx) return 5;
    {
        std::lock_guard lock(s.post_m);
        s.ctx = ctx;
    }
    s.open = true;
    s.ended = false;
    s.have_cur = false;
    s.blocked = false;
    LoadFromUse(s, 0);
    {
        std::lock_guard lock(ctx->m);
        ctx->windows.push_back(&s);
    }
    s.next_tick = detail::Clock::now();
    s.last_sync = detail::Clock::now();
    EventRecord open;
    open.window = s.id;
    open.event = Event::OpenWindow;
    ctx->Push(open);
    EventRecord sized;
    sized.window = s.id;
    sized.event = Event::Sized;
    ctx->Push(sized);
    return 0;
}

void Window::Close() {
    WindowState& s = *state_;
    if (!s.open) return;
    if (s.gui) {
        detail::GuiWindow* g = s.gui;
        Invoke([g] {
            g->CloseNow();
            g->deleteLater();
        });
        s.gui = nullptr;
    }
    s.open = false;
    auto ctx = s.ctx;
    if (ctx) {
        std::lock_guard lock(ctx->m);
        ctx->windows.erase(std::remove(ctx->windows.begin(), ctx->windows.end(), &s), ctx->windows.end());
        if (ctx->active == &s) ctx->active = nullptr;
        ctx->queue.erase(std::remove_if(ctx->queue.begin(), ctx->queue.end(),
                                        [&](const EventRecord& e) { return e.window == s.id; }),
                         ctx->queue.end());
    }
    {
        std::lock_guard lock(s.post_m);
        s.ctx.reset();
    }
    s.validating = false;
    s.validate_next = 0;
}

bool Window::IsOpen() const {
    return state_->open;
}

void Window::Hide(int field) {
    WindowState& s = *state_;
    if (field != 0) return SetProperty<&CtlState::hidden, &GuiWindow::SetHidden>(s, field, true);
    s.hidden = true;
    if (s.gui) Invoke([&] { s.gui->hide(); });
}

void Window::Unhide(int field) {
    WindowState& s = *state_;
    if (field != 0) return SetProperty<&CtlState::hidden, &GuiWindow::SetHidden>(s, field, false);
    s.hidden = false;
    if (!s.gui)
        detail::ShowWidgets(s);
    else
        Invoke([&] { s.gui->show(); });
}

bool Window::Hidden(int field) const {
    return field == 0 ? state_->hidden : GetProperty<&CtlState::hidden>(*state_, field);
}

void Window::Display(int field) {
    WindowState& s = *state_;
    if (!s.open) return;
    LoadFromUse(s, field);
    if (!s.gui) {
        if (!s.hidden) detail::ShowWidgets(s);  // built from the model just loaded
        return;
    }
    Invoke([&] {
        for (int f = 1; f <= static_cast<int>(s.ctls.size()); ++f) {
            if (field != 0 && f != field) continue;
            const CtlState& c = s.ctls[f - 1];
            const ControlDef& d = s.Def(c);
            if (c.type == ControlType::List || c.type == ControlType::Combo) {
                s.gui->RefreshList(f);
            } else if (d.use.IsSet()) {
                if (c.type == ControlType::Check || c.type == ControlType::Radio)
                    s.gui->SetChecked(f, c.checked);
                else
                    s.gui->SetText(f, c.text);
            }
        }
    });
}

void Window::Update(int field) {
    WindowState& s = *state_;
    if (!s.open) return;
    for (int f = 1; f <= static_cast<int>(s.ctls.size()); ++f) {
        if (field != 0 && f != field) continue;
        CtlState& c = s.ctls[f - 1];
        const ControlDef& d = s.Def(c);
        if (!d.use.IsSet()) continue;
        if (c.type == ControlType::Entry || c.type == ControlType::Spin) {
            std::string text = s.gui ? Text(f) : c.text;
            if (StoreUse(d, text, d.picture)) c.text = text;
        } else if (c.type == ControlType::Check || c.type == ControlType::Radio) {
            bool on = Checked(f);
            c.checked = on;
            StoreUse(d, on ? d.true_value : d.false_value, "");
        }
    }
}

// ---------------------------------------------------------------- event loop

namespace {

// The runtime's own handling of an event the handler did not cycle.
void DefaultAction(Window& w, WindowState& s) {
    const EventRecord& e = s.cur;
    switch (e.event) {
        case Event::CloseWindow:
        case Event::CloseDown:
            s.ended = true;
            break;
        case Event::Accepted: {
            const CtlState* c = s.Ctl(e.field);
            if (c && s.Def(*c).std == StdAction::Close) w.Post(Event::CloseWindow);
            break;
        }
        case Event::Rejected:
            w.Select(e.field);
            break;
        default:
            break;
    }
}

// Brings the model up to date with what an event says about its control, and turns an
// accepted entry whose text does not fit its picture into Rejected.
void TakeEvent(WindowState& s) {
    EventRecord& e = s.cur;
    if (e.keycode != 0) s.keycode = e.keycode;
    CtlState* c = s.Ctl(e.field);
    if (e.event == Event::ScrollDrag) s.thumb = e.value;
    if (e.event == Event::HeaderPressed) s.header_column = e.value;
    if (!c) return;
    const ControlDef& d = s.Def(*c);
    switch (e.event) {
        case Event::Accepted:
            if (e.has_text) {
                c->text = e.text;
                c->touched = false;
                if (!StoreUse(d, e.text, d.picture)) e.event = Event::Rejected;
            } else if (c->type == ControlType::Check || c->type == ControlType::Radio) {
                c->checked = e.value != 0;
                StoreUse(d, c->checked ? d.true_value : d.false_value, "");
            } else if (c->type == ControlType::List || c->type == ControlType::Combo) {
                if (e.value > 0) c->choice = e.value;
            }
            break;
        case Event::NewSelection:
            c->choice = e.value;
            break;
        default:
            break;
    }
}

// Disables the thread's windows opened before s and enables those from s on.
void UpdateBlocking(WindowState& s) {
    std::vector<WindowState*> windows;
    {
        std::lock_guard lock(s.ctx->m);
        windows = s.ctx->windows;
        s.ctx->active = &s;
    }
    bool before = true;
    for (WindowState* v : windows) {
        if (v == &s) before = false;
        bool block = before;
        if (v->blocked == block) continue;
        v->blocked = block;
        if (v->gui) Invoke([v, block] { v->gui->SetBlocked(block); });
    }
}

// Next field a validate-all pass looks at, from field f on; 0 when none is left.
int NextValidated(const WindowState& s, int f) {
    for (; f <= static_cast<int>(s.ctls.size()); ++f) {
        const CtlState& c = s.ctls[f - 1];
        if (c.hidden || c.disabled) continue;
        if (c.type == ControlType::Entry || c.type == ControlType::Check || c.type == ControlType::List ||
            c.type == ControlType::Spin || c.type == ControlType::Combo)
            return f;
    }
    return 0;
}

}  // namespace

bool Window::NextEvent() {
    WindowState& s = *state_;
    if (!s.open) return false;
    if (s.have_cur && !s.cycled) DefaultAction(*this, s);
    s.have_cur = false;
    s.cycled = false;
    if (s.ended || !s.open) {
        s.ended = false;
        if (s.ctx) {
            std::lock_guard lock(s.ctx->m);
            if (s.ctx->active == &s) s.ctx->active = nullptr;
        }
        return false;
    }
    UpdateBlocking(s);
    if (!s.gui && !s.hidden) detail::ShowWidgets(s);
    auto ctx = s.ctx;
    bool on_gui = ctx.get() == detail::GuiContext() && OnGuiThread();
    for (;;) {
        // A validate-all pass hands out its events before anything else.
        if (s.validate_next > 0) {
            int f = NextValidated(s, s.validate_next);
            EventRecord e;
            e.window = s.id;
            if (f == 0) {
                s.validate_next = 0;
                s.validating = false;
                e.event = Event::Completed;
            } else {
                s.validate_next = f + 1;
                e.event = Event::Accepted;
                e.field = f;
                const CtlState& c = s.ctls[f - 1];
                if (c.type == ControlType::Entry || c.type == ControlType::Spin) {
                    e.has_text = true;
                    e.text = s.gui ? Text(f) : c.text;
                } else if (c.type == ControlType::Check) {
                    e.value = Checked(f) ? 1 : 0;
                } else {
                    e.value = Choice(f);
                }
            }
            s.cur = std::move(e);
            TakeEvent(s);
            if (s.cur.event == Event::Rejected) {
                s.validate_next = 0;
                s.validating = false;
            }
            s.have_cur = true;
            return true;
        }
        std::unique_lock lock(ctx->m);
        bool found = false;
        for (auto it = ctx->queue.begin(); it != ctx->queue.end();) {
            if (it->window == s.id) {
                s.cur = std::move(*it);
                ctx->queue.erase(it);
                found = true;
                break;
            }
            auto owner = std::find_if(ctx->windows.begin(), ctx->windows.end(),
                                      [&](WindowState* v) { return v->id == it->window; });
            if (owner == ctx->windows.end() || ((*owner)->blocked && it->user_input)) {
                it = ctx->queue.erase(it);  // closed window, or input to a window that takes none now
                continue;
            }
            ++it;
        }
        if (found) break;
        if (s.def.timer > 0 && !s.gui) {
            // No widgets: the timer is kept here. Timer 1 means "as fast as possible".
            auto now = detail::Clock::now();
            if (s.def.timer <= 1 || now >= s.next_tick) {
                lock.unlock();
                s.next_tick = now + std::chrono::milliseconds(s.def.timer * 10);
                if (now - s.last_sync >= std::chrono::milliseconds(10)) {
                    // Let the GUI thread work through what was posted to it so far.
                    Invoke([] {});
                    s.last_sync = detail::Clock::now();
                }
                s.cur = EventRecord{};
                s.cur.window = s.id;
                s.cur.event = Event::Timer;
                break;
            }
            if (!on_gui) {
                ctx->cv.wait_until(lock, s.next_tick);
                continue;
            }
        }
        if (on_gui) {
            lock.unlock();
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents, 50);
            continue;
        }
        ctx->cv.wait(lock);
    }
    TakeEvent(s);
    s.have_cur = true;
    return true;
}

Event Window::CurrentEvent() const {
    return state_->have_cur ? state_->cur.event : Event::None;
}
int Window::Field() const {
    return state_->have_cur ? state_->cur.field : 0;
}
int Window::Keycode() const {
    return state_->keycode;
}
void Window::SetKeycode(int code) {
    state_->keycode = code;
}
void Window::Cycle() {
    state_->cycled = true;
}
int Window::MouseX() const {
    return state_->cur.mouse_x;
}
int Window::MouseY() const {
    return state_->cur.mouse_y;
}
int Window::ThumbPercent() const {
    return state_->thumb;
}
int Window::HeaderColumn() const {
    return state_->header_column;
}

bool Window::Post(Event e, int field) {
    // May run on any thread: only the context pointer and the id are read.
    std::shared_ptr<detail::ThreadContext> ctx;
    {
        std::lock_guard lock(state_->post_m);
        ctx = state_->ctx;
    }
    if (!ctx) return false;
    EventRecord r;
    r.window = state_->id;
    r.event = e;
    r.field = field;
    ctx->Push(std::move(r));
    return true;
}

int Window::Focus() const {
    const WindowState& s = *state_;
    int f = 0;
    if (s.gui) Invoke([&] { f = s.gui->FocusField(); });
    return f;
}

void Window::Select(int field, int row) {
    WindowState& s = *state_;
    CtlState* c = s.Ctl(field);
    if (!c) return;
    if (row > 0) c->choice = row;
    if (!s.gui) return;
    Invoke([&] {
        if (row > 0) s.gui->SetChoice(field, row);
        s.gui->SetFocusField(field);
    });
}

void Window::MarkTouched(int field) {
    SetProperty<&CtlState::touched, &GuiWindow::SetTouched>(*state_, field, true);
}

void Window::ValidateAll() {
    WindowState& s = *state_;
    if (!s.open) return;
    s.validating = true;
    s.validate_next = 1;
}

bool Window::InValidateAll() const {
    return state_->validating;
}

// ---------------------------------------------------------------- properties

ControlType Window::Type(int field) const {
    return GetProperty<&CtlState::type>(*state_, field);
}

int Window::Fields() const {
    return static_cast<int>(state_->ctls.size());
}

int Window::Parent(int field) const {
    return state_->TabOf(field);
}

std::string Window::Label(int field) const {
    const CtlState* c = state_->Ctl(field);
    return c ? state_->Def(*c).label : std::string();
}

int Window::FieldOf(std::string_view label) const {
    return state_->def.FieldOf(std::string(label));
}

std::string Window::Text(int field) const {
    if (field == 0) return state_->title;
    // Only what the user types changes a text behind the state's back: entries and spin
    // boxes are read from their widgets.
    const ControlType type = Type(field);
    if (type == ControlType::Entry || type == ControlType::Spin)
        return GetProperty<&CtlState::text, &GuiWindow::Text>(*state_, field);
    return GetProperty<&CtlState::text>(*state_, field);
}

void Window::SetText(int field, std::string_view text) {
    WindowState& s = *state_;
    std::string t(text);
    if (field == 0) {
        s.title = t;
        if (s.gui) Invoke([&] { s.gui->setWindowTitle(QString::fromStdString(t)); });
        return;
    }
    SetProperty<&CtlState::text, &GuiWindow::SetText>(s, field, t);
}

Rect Window::GetPosition(int field) const {
    const WindowState& s = *state_;
    if (field == 0) return GetPlacement().at;
    const CtlState* c = s.Ctl(field);
    if (!c) return {};
    Rect r = c->at;
    if ((r.w == 0 || r.h == 0) && s.gui) {
        Invoke([&] {
            Rect px = s.gui->GetRect(field);
            if (r.w == 0) r.w = s.gui->DuX(px.w);
            if (r.h == 0) r.h = s.gui->DuY(px.h);
        });
    }
    return r;
}

void Window::SetPosition(int field, Rect r) {
    WindowState& s = *state_;
    if (field == 0) {
        Placement p = GetPlacement();
        p.at.x = r.x;
        p.at.y = r.y;
        if (r.w > 0) p.at.w = r.w;
        if (r.h > 0) p.at.h = r.h;
        p.maximized = p.iconized = false;
        SetPlacement(p);
        return;
    }
    CtlState* c = s.Ctl(field);
    if (!c) return;
    Rect cur = GetPosition(field);
    if (r.w <= 0 || c->nowidth) r.w = cur.w;
    if (r.h <= 0) r.h = cur.h;
    c->at = r;
    if (s.defer > 0) {
        s.deferred.emplace_back(field, r);
        return;
    }
    if (s.gui) Invoke([&] { s.gui->SetRect(field, r); });
}

void Window::SetDeferMove(int n) {
    WindowState& s = *state_;
    s.defer = n;
    if (n > 0 || s.deferred.empty()) return;
    auto moves = std::move(s.deferred);
    s.deferred.clear();
    if (!s.gui) return;
    Invoke([&] {
        s.gui->setUpdatesEnabled(false);
        for (auto& [f, r] : moves) s.gui->SetRect(f, r);
        s.gui->setUpdatesEnabled(true);
    });
}

int Window::DeferMove() const {
    return state_->defer;
}

void Window::Disable(int field) {
    SetProperty<&CtlState::disabled, &GuiWindow::SetDisabled>(*state_, field, true);
}

void Window::Enable(int field) {
    SetProperty<&CtlState::disabled, &GuiWindow::SetDisabled>(*state_, field, false);
}

bool Window::Disabled(int field) const {
    return GetProperty<&CtlState::disabled>(*state_, field);
}

void Window::SetImm(int field, bool on) {
    if (field == 0)
        state_->imm = on;
    else
        SetProperty<&CtlState::imm, &GuiWindow::SetImm>(*state_, field, on);
}

bool Window::Imm(int field) const {
    return field == 0 ? state_->imm : GetProperty<&CtlState::imm>(*state_, field);
}

void Window::SetNoWidth(int field, bool on) {
    SetProperty<&CtlState::nowidth>(*state_, field, on);
}

bool Window::NoWidth(int field) const {
    return GetProperty<&CtlState::nowidth>(*state_, field);
}

int Window::Choice(int field) const {
    return GetProperty<&CtlState::choice, &GuiWindow::Choice>(*state_, field);
}

void Window::SetChoice(int field, int row) {
    // A current row set alone replaces a selection of several rows.
    if (CtlState* c = state_->Ctl(field)) c->selected.clear();
    SetProperty<&CtlState::choice, &GuiWindow::SetChoice>(*state_, field, row);
}

std::vector<int> Window::SelectedRows(int field) const {
    const WindowState& s = *state_;
    const CtlState* c = s.Ctl(field);
    if (!c || c->type != ControlType::List) return {};
    if (s.gui) {
        std::vector<int> rows;
        Invoke([&] { rows = s.gui->SelectedRows(field); });
        return rows;
    }
    if (!c->selected.empty()) return c->selected;
    if (c->choice > 0) return {c->choice};
    return {};
}

void Window::SetSelectedRows(int field, const std::vector<int>& rows) {
    WindowState& s = *state_;
    CtlState* c = s.Ctl(field);
    if (!c || c->type != ControlType::List) return;
    c->selected = rows;
    std::sort(c->selected.begin(), c->selected.end());
    c->selected.erase(std::unique(c->selected.begin(), c->selected.end()), c->selected.end());
    if (!rows.empty()) c->choice = rows.front();
    if (s.gui) Invoke([&] { s.gui->SetSelectedRows(field, rows); });
}

void Window::SetSortIndicator(int field, int column, bool descending) {
    WindowState& s = *state_;
    CtlState* c = s.Ctl(field);
    if (!c || c->type != ControlType::List) return;
    c->sort_column = column;
    c->sort_descending = descending;
    if (s.gui) Invoke([&] { s.gui->SetSortIndicator(field, column, descending); });
}

int Window::SelectedTab(int field) const {
    const WindowState& s = *state_;
    const CtlState* c = s.Ctl(field);
    if (!c || c->type != ControlType::Sheet) return 0;
    if (s.gui) {
        int r = 0;
        Invoke([&] { r = s.gui->SelectedTab(field); });
        return r;
    }
    // Without widgets the first tab of the sheet is the selected one.
    for (int f = 1; f <= static_cast<int>(s.ctls.size()); ++f)
        if (s.ctls[f - 1].type == ControlType::Tab && s.TabOf(f) == field) return f;
    return 0;
}

int Window::Columns(int field) const {
    const CtlState* c = state_->Ctl(field);
    return c ? static_cast<int>(c->format.columns.size()) : 0;
}

int Window::ColumnWidth(int field, int column) const {
    const WindowState& s = *state_;
    const CtlState* c = s.Ctl(field);
    if (!c || column < 1 || column > static_cast<int>(c->format.columns.size())) return 0;
    if (s.gui) {
        int w = 0;
        Invoke([&] { w = s.gui->ColumnWidth(field, column); });
        return w;
    }
    return c->format.columns[column - 1].width;
}

void Window::SetColumnWidth(int field, int column, int width) {
    WindowState& s = *state_;
    CtlState* c = s.Ctl(field);
    if (!c || column < 1 || column > static_cast<int>(c->format.columns.size()) || width < 0) return;
    c->format.columns[column - 1].width = width;
    if (s.gui) Invoke([&] { s.gui->SetColumnWidth(field, column, width); });
}

bool Window::ColumnResizable(int field, int column) const {
    const CtlState* c = state_->Ctl(field);
    if (!c || column < 1 || column > static_cast<int>(c->format.columns.size())) return false;
    return c->format.columns[column - 1].resizable;
}

int Window::Drop(int field) const {
    return GetProperty<&CtlState::drop>(*state_, field);
}

void Window::SetDrop(int field, int rows) {
    SetProperty<&CtlState::drop>(*state_, field, rows);
}

bool Window::Checked(int field) const {
    return GetProperty<&CtlState::checked, &GuiWindow::Checked>(*state_, field);
}

void Window::SetChecked(int field, bool on) {
    SetProperty<&CtlState::checked, &GuiWindow::SetChecked>(*state_, field, on);
}

void Window::SetIcon(int field, std::string_view name) {
    WindowState& s = *state_;
    std::string n(name);
    if (field != 0) return SetProperty<&CtlState::icon, &GuiWindow::SetIcon>(s, field, n);
    s.def.icon = n;
    if (s.gui) Invoke([&] { s.gui->SetIcon(0, n); });
}

std::string Window::Icon(int field) const {
    return field == 0 ? state_->def.icon : GetProperty<&CtlState::icon>(*state_, field);
}

void Window::SetFont(int field, std::string_view family, int size) {
    WindowState& s = *state_;
    std::string f(family);
    if (field == 0) {
        s.def.font = f;
        if (size > 0) s.def.font_size = size;
    } else if (CtlState* c = s.Ctl(field)) {
        s.def.controls[c->index].font = f;
        if (size > 0) s.def.controls[c->index].font_size = size;
    }
    if (s.gui) Invoke([&] { s.gui->SetFont(field, f, size); });
}

void Window::SetColor(int field, long text, long background) {
    WindowState& s = *state_;
    if (s.gui) Invoke([&] { s.gui->SetColor(field, text, background); });
}

std::string Window::StatusText(int zone) const {
    const WindowState& s = *state_;
    if (zone < 1 || zone > static_cast<int>(s.status.size())) return {};
    return s.status[zone - 1];
}

void Window::SetStatusText(int zone, std::string_view text) {
    WindowState& s = *state_;
    if (zone < 1 || zone > static_cast<int>(s.status.size())) return;
    s.status[zone - 1] = std::string(text);
    if (s.gui) Invoke([&] { s.gui->SetStatus(zone, s.status[zone - 1]); });
}

std::string Window::Title() const {
    return state_->title;
}
void Window::SetTitle(std::string_view title) {
    SetText(0, title);
}

void Window::SetMinSize(int w, int h) {
    WindowState& s = *state_;
    s.min_size = Rect{0, 0, w, h};
    if (s.gui) Invoke([&] { s.gui->SetMin(s.min_size); });
}

void Window::SetMaxSize(int w, int h) {
    WindowState& s = *state_;
    s.max_size = Rect{0, 0, w, h};
    if (s.gui) Invoke([&] { s.gui->SetMax(s.max_size); });
}

Rect Window::MinSize() const {
    return state_->min_size;
}
Rect Window::MaxSize() const {
    return state_->max_size;
}
bool Window::Resizable() const {
    return state_->def.flags.resizable;
}

Placement Window::GetPlacement() const {
    const WindowState& s = *state_;
    if (s.gui) {
        Placement p;
        Invoke([&] { p = s.gui->GetPlacement(); });
        return p;
    }
    return Placement{s.at, s.maximized, s.iconized};
}

void Window::SetPlacement(const Placement& p) {
    WindowState& s = *state_;
    s.at = p.at;
    s.maximized = p.maximized;
    s.iconized = p.iconized;
    if (s.gui) Invoke([&] { s.gui->SetPlacement(p); });
}

void Window::Alert(int keycode) {
    WindowState& s = *state_;
    s.alerts.insert(keycode);
    if (s.gui) Invoke([&] { s.gui->SetWindowAlerts(s.alerts); });
}

void Window::Unalert(int keycode) {
    WindowState& s = *state_;
    s.alerts.erase(keycode);
    if (s.gui) Invoke([&] { s.gui->SetWindowAlerts(s.alerts); });
}

void Window::AlertControl(int field, int keycode) {
    WindowState& s = *state_;
    CtlState* c = s.Ctl(field);
    if (!c) return;
    c->alerts.insert(keycode);
    if (s.gui) Invoke([&] { s.gui->SetAlerts(field, c->alerts); });
}

void Window::UnalertControl(int field, int keycode) {
    WindowState& s = *state_;
    CtlState* c = s.Ctl(field);
    if (!c) return;
    c->alerts.erase(keycode);
    if (s.gui) Invoke([&] { s.gui->SetAlerts(field, c->alerts); });
}

bool Window::Alerted(int field, int keycode) const {
    const WindowState& s = *state_;
    if (s.alerts.count(keycode)) return true;
    const CtlState* c = s.Ctl(field);
    return c && c->alerts.count(keycode);
}

int Window::Thread() const {
    return state_->ctx ? state_->ctx->id : 0;
}

const WindowDef& Window::Definition() const {
    return state_->def;
}

}  // namespace dt::ui
