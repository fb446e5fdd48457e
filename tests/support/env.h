// Environment look-ups for tests and benchmarks: a variable's value ("" when unset) and a
// variable set (or removed) for one scope.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace dt::test {

inline std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

class ScopedEnv {
  public:
    // A null `value` removes the variable for the scope.
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace dt::test
