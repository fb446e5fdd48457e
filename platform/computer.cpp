#include "platform/computer.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace dt::platform {

std::string ComputerName() {
    const char* env = std::getenv("DRIVETREK_COMPUTERNAME");
    if (env != nullptr && *env != '\0') return env;
    char host[HOST_NAME_MAX + 2] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return {};
    host[sizeof host - 1] = '\0';  // gethostname need not terminate a cut name
    return host;
}

long GetComputerName(char* buf, std::size_t size) {
    if (buf == nullptr || size == 0) return -1;
    buf[0] = '\0';
    std::string name = ComputerName();
    if (name.empty()) return -1;
    std::size_t n = Utf8CutLength(name, size - 1);
    std::memcpy(buf, name.data(), n);
    buf[n] = '\0';
    return static_cast<long>(n);
}

}  // namespace dt::platform
