// The runtime thread number of the calling thread. The window layer numbers the threads
// its procedures run on (1 = the main procedure, 2, 3, ... for each procedure started) and
// records the number here, so that code without windows (the error manager's procedure
// names, for one) can tell those threads apart without linking the window layer.
#pragma once

namespace dt {

// The number recorded for the calling thread; 0 when none was (a thread the window layer
// did not start, or no window layer at all).
int RuntimeThreadNumber();
// Records `number` for the calling thread (0 clears it).
void SetRuntimeThreadNumber(int number);

}  // namespace dt
