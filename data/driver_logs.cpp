#include "data/driver_logs.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/text.h"

namespace dt {
namespace {

// The registrations file the driver manager reads (unixODBC's rule).
std::string RegistrationsPath() {
    const char* dir = std::getenv("ODBCSYSINI");
    const char* name = std::getenv("ODBCINSTINI");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/etc") + "/" +
           (name != nullptr && *name != '\0' ? name : "odbcinst.ini");
}

}  // namespace

std::string WithoutDriverLogs(std::string_view ini) {
    std::string out;
    out.reserve(ini.size());
    while (!ini.empty()) {
        const std::size_t end = ini.find('\n');
        const std::string_view line = ini.substr(0, end == std::string_view::npos ? ini.size() : end + 1);
        ini.remove_prefix(line.size());
        const std::size_t eq = line.find('=');
        const std::string_view key =
            eq == std::string_view::npos ? std::string_view() : TrimSpace(line.substr(0, eq));
        if (EqualNoCase(key, "CommLog") || EqualNoCase(key, "Debug")) {
            out.append(key).append("=0");
            if (line.back() == '\n') out += '\n';
        } else {
            out.append(line);
        }
    }
    return out;
}

bool QuietDriverLogs() {
    static std::once_flag once;
    static bool quiet = false;
    std::call_once(once, [] {
        std::ifstream in(RegistrationsPath(), std::ios::binary);
        if (!in) return;
        std::ostringstream text;
        text << in.rdbuf();
        const std::string original = text.str();
        const std::string copy = WithoutDriverLogs(original);
        if (copy == original) return;  // no log is switched on: nothing to do
        // Not closed on exec: a child process inherits the variables, and with them the
        // descriptor they name (its own programs then read the same quiet copy).
        const int fd = ::memfd_create("odbcinst.ini", 0);
        if (fd < 0) return;
        std::size_t done = 0;
        while (done < copy.size()) {
            const ssize_t n = ::write(fd, copy.data() + done, copy.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (done != copy.size()) {
            ::close(fd);
            return;
        }
        // The descriptor stays open for the life of the process; the driver manager and
        // the driver open the copy by this name whenever they read a registration.
        ::setenv("ODBCSYSINI", "/proc/self/fd", 1);
        ::setenv("ODBCINSTINI", std::to_string(fd).c_str(), 1);
        quiet = true;
    });
    return quiet;
}

}  // namespace dt
