// The process's current directory, and absolute paths made from it.
#pragma once

#include <string>
#include <string_view>

namespace dt::platform {

// The current directory as an absolute path without a trailing "/" (except "/" itself);
// "" when it cannot be had (removed, or not reachable).
std::string CurrentDirectory();

// path made absolute against the current directory ("" stays ""; an absolute path is
// returned as given). "." and ".." are kept as they are: no file is looked at.
std::string AbsolutePath(std::string_view path);

}  // namespace dt::platform
