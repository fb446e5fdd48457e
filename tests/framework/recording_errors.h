// The real error manager with its message box replaced, for the file manager tests: every
// shown message is kept as "title: text", questions get scripted answers (Yes when none is
// left), and a fatal message is recorded instead of ending the test program.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "framework/error_manager.h"

namespace dt::test {

class RecordingErrors : public ErrorManager {
  public:
    RecordingErrors() {
        Startup("/dev/null");
        SetHaltHandler([this](const HaltRequest& r) {
            std::lock_guard lock(mutex_);
            halts.push_back(r.halt_text);
        });
    }
    ~RecordingErrors() override { Shutdown(); }
    int ShowBox(std::string_view text, std::string_view title, IconRef, int buttons, int default_button,
                LONG) override {
        std::lock_guard lock(mutex_);
        shown.push_back(std::string(title) + ": " + std::string(text));
        if ((buttons & Button::Yes) == 0) return default_button;
        if (answers.empty()) return Button::Yes;
        int a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    bool Shown(std::string_view needle) {
        std::lock_guard lock(mutex_);
        for (const std::string& s : shown)
            if (s.find(needle) != std::string::npos) return true;
        return false;
    }
    std::vector<std::string> shown;
    std::vector<std::string> halts;
    std::vector<int> answers;

  private:
    std::mutex mutex_;
};

}  // namespace dt::test
