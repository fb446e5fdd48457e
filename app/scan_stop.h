// The request to stop a running scan. A signal handler may set it (it only stores a flag);
// the walk and the store look at it at every directory, batch and wait, so that a stop
// never has to wait for a lock or a busy database for the whole time-out.
//
// A stop comes in two kinds: a stop (a signal: the program closes once the scan has
// stopped) and a cancel (the wait window's Cancel button: the scan ends as cancelled and
// the program goes on). Both stop the scan the same way; a stop outranks a cancel.
#pragma once

namespace dt {

// Asks a running scan to stop at its next directory, batch or wait. The request stays
// until ClearScanStop.
void RequestScanStop();
// Asks a running scan to end as cancelled, as soon as it looks (ScanStopRequested is true
// from now on). The request stays until ClearScanCancel or ClearScanStop.
void RequestScanCancel();
// True after RequestScanStop or RequestScanCancel.
bool ScanStopRequested();
// True when the only request is a cancel (no stop).
bool ScanCancelRequested();
// Forgets a cancel; a stop stays.
void ClearScanCancel();
// Forgets both.
void ClearScanStop();

}  // namespace dt
