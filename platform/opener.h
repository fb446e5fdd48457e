// Opening a file with the program the desktop associates with it (xdg-open).
#pragma once

#include <string_view>

namespace dt::platform {

// Starts `xdg-open` (looked up on PATH) with the file's absolute path as its only
// argument: no shell, the current directory unchanged. Does not wait for the program;
// the child is reaped in the background. False when the path is empty, cannot be made
// absolute, names no existing file, or the program cannot be started.
bool OpenWithAssociatedProgram(std::string_view path);

}  // namespace dt::platform
