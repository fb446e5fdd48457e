#include "runtime/thread_number.h"

namespace dt {
namespace {

thread_local int t_number = 0;

}  // namespace

int RuntimeThreadNumber() {
    return t_number;
}

void SetRuntimeThreadNumber(int number) {
    t_number = number;
}

}  // namespace dt
