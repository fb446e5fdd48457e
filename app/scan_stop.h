// The request to stop a running scan. A signal handler may set it (it only stores a flag);
// the walk and the store look at it at every directory, batch and wait, so that a stop
// never has to wait for a lock or a busy database for the whole time-out.
#pragma once

namespace dt {

// Asks a running scan to stop at its next directory, batch or wait. The request stays
// until ClearScanStop.
void RequestScanStop();
bool ScanStopRequested();
void ClearScanStop();

}  // namespace dt
