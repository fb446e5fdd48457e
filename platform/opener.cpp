#include "platform/opener.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "platform/cwd.h"

extern char** environ;

namespace dt::platform {

bool OpenWithAssociatedProgram(std::string_view path) {
    if (path.empty() || path.find('\0') != std::string_view::npos) return false;
    // An absolute path never begins with "-", so the program cannot take it for an option.
    std::string absolute = AbsolutePath(path);
    if (absolute.empty()) return false;
    // A file that is not there is a failure now, not a complaint of the opener later.
    struct stat st;
    if (::stat(absolute.c_str(), &st) != 0) return false;

    std::string program = "xdg-open";
    char* argv[] = {program.data(), absolute.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
    // A detached waiter reaps the child whenever it ends, so no zombie stays behind and
    // the caller never waits for the program.
    try {
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // No thread could be made: reap now rather than leave a zombie; xdg-open hands the
        // file to the desktop and ends quickly.
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    return true;
}

}  // namespace dt::platform
