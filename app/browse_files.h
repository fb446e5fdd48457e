// The file browse (module dtrek004): a window that pages through the whole FILES table in
// name order, with a filter entry that narrows it by words and switches to size ("/S") or
// date ("/D") order. Runs on a runtime thread of its own, started from "Browse Files".
#pragma once

namespace dt {

// Runs the browse window until it is closed; stores its response in GlobalResponse.
// Started with ui::Start(BrowseFILES, 25000); several may run at once. Failures are shown
// in the window (message 40, message 1), never thrown.
void BrowseFILES();

}  // namespace dt
