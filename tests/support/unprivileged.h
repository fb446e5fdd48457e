// Tests whose check needs an ordinary user's file permissions (root reads and writes every
// file whatever its mode). Under root they are skipped with this reason; the test program
// is registered a second time with CTest (dt_add_unprivileged_test in tests/CMakeLists.txt)
// to run just those tests as an unprivileged user.
#pragma once

#include <unistd.h>

namespace dt::test {

inline bool RunningAsRoot() {
    return ::geteuid() == 0;
}

inline constexpr const char* kNeedsOrdinaryUser =
    "root is not bound by file permissions; the CTest test <program>.unprivileged runs this as an "
    "unprivileged user";

}  // namespace dt::test
