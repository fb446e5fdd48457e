#include "platform/cwd.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace dt::platform {

std::string CurrentDirectory() {
    std::vector<char> buf(4096);
    for (int tries = 0; tries < 8; ++tries) {
        if (::getcwd(buf.data(), buf.size()) != nullptr) {
            std::string dir(buf.data());
            // Linux marks an unreachable directory with "(unreachable)"; it is no path.
            if (dir.empty() || dir.front() != '/') return {};
            return dir;
        }
        if (errno != ERANGE) return {};
        buf.resize(buf.size() * 2);
    }
    return {};
}

std::string AbsolutePath(std::string_view path) {
    if (path.empty() || path.front() == '/') return std::string(path);
    std::string dir = CurrentDirectory();
    if (dir.empty()) return {};
    if (dir != "/") dir += '/';
    return dir + std::string(path);
}

}  // namespace dt::platform
