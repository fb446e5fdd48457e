// A scripted WindowPort for the framework's unit tests: controls with rectangles and
// states, a queue of events that TakeEvent hands out (posted events join it), and a log of
// the calls that change the window, so that tests can check what happened in which order.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "framework/window_component.h"

namespace dt::testing {

struct FakeControl {
    LONG type = 0;
    WindowRect rect;
    LONG parent = 0;
    bool in_toolbar = false;
    bool drop = false;
    bool no_width = false;
    std::string text;
    bool disabled = false;
    std::string icon;
};

class FakeWindowPort : public WindowPort {
  public:
    std::map<LONG, FakeControl> controls;
    WindowRect window{0, 0, 400, 300};
    bool maximized = false;
    bool iconized = false;
    LONG defer = 0;
    bool imm = false;
    WindowRect min_size, max_size;
    bool accept_all_running = false;
    LONG focus = 0;
    LONG keycode = 0;
    std::deque<WindowEvent> events;
    std::vector<std::string> log;
    std::vector<std::pair<Event, LONG>> posted;
    std::vector<std::string> menus;  // menu texts shown by Popup
    int popup_answer = 0;
    std::map<std::pair<int, const void*>, std::function<void()>> handlers;
    int taken = 0;

    void Add(LONG id, LONG type, WindowRect rect, LONG parent = 0) {
        FakeControl c;
        c.type = type;
        c.rect = rect;
        c.parent = parent;
        controls[id] = c;
    }
    void Queue(Event e, LONG field = 0, LONG key = 0) { events.push_back(WindowEvent{e, field, key}); }
    // Changes the window's size and delivers Sized to the registered handlers.
    void SizeTo(LONG w, LONG h) {
        window.WIDTH = w;
        window.HEIGHT = h;
        Fire(Event::Sized);
    }
    void Fire(Event e) {
        std::vector<std::function<void()>> due;
        for (auto& [k, fn] : handlers)
            if (k.first == int(e)) due.push_back(fn);
        for (auto& fn : due) fn();
    }
    int Moves() const {
        int n = 0;
        for (const auto& s : log) n += s.rfind("Move ", 0) == 0;
        return n;
    }

    bool TakeEvent(WindowEvent& out) override {
        if (events.empty()) return false;
        out = events.front();
        events.pop_front();
        ++taken;
        Fire(out.event);
        return true;
    }
    void Cycle() override { log.push_back("Cycle"); }
    void PostEvent(Event e, LONG control) override {
        posted.emplace_back(e, control);
        log.push_back("Post " + std::to_string(int(e)) + " " + std::to_string(control));
        events.push_back(WindowEvent{e, control, 0});
    }
    void Register(Event e, const void* owner, std::function<void()> fn) override {
        handlers[{int(e), owner}] = std::move(fn);
    }
    void Unregister(Event e, const void* owner) override { handlers.erase({int(e), owner}); }
    void Select(LONG control) override {
        focus = control;
        log.push_back("Select " + std::to_string(control));
    }
    void SelectAll() override { log.push_back("SelectAll"); }
    bool AcceptAllRunning() const override { return accept_all_running; }
    LONG FocusControl() const override { return focus; }
    void Display(LONG control) override { log.push_back("Display " + std::to_string(control)); }
    void Beep() override { log.push_back("Beep"); }
    void SetBusyCursor(bool busy) override { log.push_back(busy ? "Busy" : "Arrow"); }
    void Alert(LONG key, LONG control) override {
        log.push_back("Alert " + std::to_string(key) + " " + std::to_string(control));
    }
    LONG KeyCode() const override { return keycode; }
    void SetKeyCode(LONG k) override { keycode = k; }
    LONG NextField(LONG after) const override {
        auto it = controls.upper_bound(after);
        return it == controls.end() ? 0 : it->first;
    }
    LONG Type(LONG c) const override { return Get(c).type; }
    WindowRect ControlRect(LONG c) const override { return Get(c).rect; }
    void SetControlRect(LONG c, const WindowRect& r) override {
        auto it = controls.find(c);
        if (it == controls.end()) return;
        // A deferred batch is carried out at once here; the order of calls is what counts.
        it->second.rect = r;
        log.push_back("Move " + std::to_string(c));
    }
    LONG Parent(LONG c) const override { return Get(c).parent; }
    bool InToolBar(LONG c) const override { return Get(c).in_toolbar; }
    bool Drop(LONG c) const override { return Get(c).drop; }
    bool NoWidth(LONG c) const override { return Get(c).no_width; }
    std::string Text(LONG c) const override { return Get(c).text; }
    bool Disabled(LONG c) const override { return Get(c).disabled; }
    std::string Icon(LONG c) const override { return Get(c).icon; }
    WindowRect Rect() const override { return window; }
    void SetRect(const WindowRect& r) override { window = r; }
    bool Maximized() const override { return maximized; }
    bool Iconized() const override { return iconized; }
    LONG DeferMove() const override { return defer; }
    void SetDeferMove(LONG n) override {
        defer = n;
        log.push_back("Defer " + std::to_string(n));
    }
    void SetImm(bool on) override { imm = on; }
    void SetMinSize(LONG w, LONG h) override { min_size = {0, 0, w, h}; }
    void SetMaxSize(LONG w, LONG h) override { max_size = {0, 0, w, h}; }
    int Popup(std::string_view menu, LONG, LONG) override {
        menus.emplace_back(menu);
        return popup_answer;
    }

  private:
    const FakeControl& Get(LONG c) const {
        static const FakeControl none;
        auto it = controls.find(c);
        return it == controls.end() ? none : it->second;
    }
};

}  // namespace dt::testing
