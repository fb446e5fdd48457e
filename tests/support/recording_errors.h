// The real error manager with its message box replaced, for tests and benchmarks: every
// shown message is kept as "title: text" (and echoed to standard error when a prefix is
// given), questions get scripted answers, and a fatal message is recorded instead of ending
// the program.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/error_manager.h"

namespace dt::test {

class RecordingErrors : public ErrorManager {
  public:
    // What a question gets when no scripted answer is left.
    enum class Unanswered { Yes, DefaultButton };

    explicit RecordingErrors(Unanswered unanswered = Unanswered::Yes, std::string echo_prefix = "")
        : unanswered_(unanswered), echo_prefix_(std::move(echo_prefix)) {
        Startup("/dev/null");
        SetHaltHandler([this](const HaltRequest& r) {
            std::lock_guard lock(mutex_);
            halts.push_back(r.halt_text);
            halt_texts_.push_back(r.text);
        });
    }
    ~RecordingErrors() override { Shutdown(); }
    int ShowBox(std::string_view text, std::string_view title, IconRef, int buttons, int default_button,
                LONG) override {
        std::lock_guard lock(mutex_);
        shown.push_back(std::string(title) + ": " + std::string(text));
        if (!echo_prefix_.empty())
            std::fprintf(stderr, "%s: %s\n", echo_prefix_.c_str(), shown.back().c_str());
        if (!answers.empty() && (buttons & Button::Yes) != 0) {
            int a = answers.front();
            answers.erase(answers.begin());
            return a;
        }
        if ((buttons & Button::Yes) == 0 || unanswered_ == Unanswered::DefaultButton) return default_button;
        return Button::Yes;
    }
    bool Shown(std::string_view needle) {
        std::lock_guard lock(mutex_);
        for (const std::string& s : shown)
            if (s.find(needle) != std::string::npos) return true;
        return false;
    }
    // Everything shown (and halts, as "HALT text"), one message a line.
    std::string Text() {
        std::lock_guard lock(mutex_);
        std::string all;
        for (const std::string& s : shown) all += s + "\n";
        for (const std::string& s : halt_texts_) all += "HALT " + s + "\n";
        return all;
    }
    std::vector<std::string> shown;
    std::vector<std::string> halts;
    std::vector<int> answers;

  private:
    Unanswered unanswered_;
    std::string echo_prefix_;
    std::vector<std::string> halt_texts_;
    std::mutex mutex_;
};

}  // namespace dt::test
