// The search results procedure (QFiles) and the file actions it offers: opening a file with
// its associated program and the file information window.
#pragma once

namespace dt {

// Runs one search from the global request (G::FILTER1 …), shows its result window and
// returns when the user closes it; the window manager's result goes to the global response.
void QFiles();

}  // namespace dt
