// Helpers for window tests: run a body as the main procedure of an offscreen application,
// with a watchdog so that a lost event fails the test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "ui/application.h"
#include "ui/testing.h"
#include "ui/window.h"

namespace dt::ui::test {

// Aborts the process when not cancelled within the limit.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit) {
        t_ = std::thread([this, limit] {
            std::unique_lock lock(m_);
            if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                std::fprintf(stderr, "watchdog: test did not finish in time\n");
                std::abort();
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(m_);
            done_ = true;
        }
        cv_.notify_all();
        t_.join();
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread t_;
};

inline int RunApp(const std::function<void()>& body) {
    testing::EnsureOffscreen();
    testing::ResetAnswers();
    Watchdog dog(std::chrono::seconds(60));
    static char arg0[] = "ui_gui_test";
    static char* argv[] = {arg0, nullptr};
    return RunApplication(1, argv, [&] {
        body();
        return 0;
    });
}

// Events a window produces by itself (opening, focus, geometry): tests skip them.
inline bool IsBackground(Event e) {
    return e == Event::OpenWindow || e == Event::Sized || e == Event::Moved || e == Event::GainFocus ||
           e == Event::LoseFocus || e == Event::Selected || e == Event::Restored;
}

// The next event that is not a background event (Event::None when the loop ends or 100
// events pass without one).
inline Event NextReal(Window& w) {
    for (int i = 0; i < 100; ++i) {
        if (!w.NextEvent()) return Event::None;
        if (!IsBackground(w.CurrentEvent())) return w.CurrentEvent();
    }
    return Event::None;
}

}  // namespace dt::ui::test
