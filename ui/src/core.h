// Internals shared by the layer's sources: runtime threads and their event queues, the
// blocking hand-over to the GUI thread, and the registry of open windows.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/events.h"

namespace dt::ui::detail {

class WindowState;

// One event on its way to a window's loop.
struct EventRecord {
    std::uint64_t window = 0;  // WindowState::id
    Event event = Event::None;
    int field = 0;
    int keycode = 0;
    int mouse_x = 0, mouse_y = 0;  // dialog units in the client area
    int value = 0;                 // list: row; sheet: tab index; scroll drag: percent
    bool has_text = false;         // entry: the text the control showed when accepted
    std::string text;
    bool user_input = false;  // made by the user (dropped while the window is blocked)
};

// A runtime thread: its number, its event queue and its open windows.
class ThreadContext {
  public:
    explicit ThreadContext(int number) : id(number) {}
    const int id;

    // Queues an event and wakes the thread. Timer, Sized, Moved, GainFocus and LoseFocus
    // are kept at most once per window in the queue.
    void Push(EventRecord e);

    std::mutex m;
    std::condition_variable cv;
    std::deque<EventRecord> queue;      // guarded by m
    std::vector<WindowState*> windows;  // open windows in open order; guarded by m
    WindowState* active = nullptr;      // innermost running loop; guarded by m
};

// The calling thread's context (nullptr on threads the layer did not start).
ThreadContext* CurrentContext();
std::shared_ptr<ThreadContext> CurrentContextShared();
// The context of runtime thread n (nullptr when it has ended or never was).
std::shared_ptr<ThreadContext> ContextOf(int n);

// Runs fn on the GUI thread and waits for it (directly when already there). Returns false
// (fn not run) when the GUI is not running.
bool Invoke(const std::function<void()>& fn);
bool GuiRunning();

// Makes a context for the GUI thread itself, so that tests may open windows there.
ThreadContext* GuiContext();

}  // namespace dt::ui::detail
