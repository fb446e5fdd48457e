#include "platform/registry.h"

#include "platform/profile.h"

namespace dt::platform {

std::optional<std::string> ReadMachineRegistryValue(std::string_view key_path, std::string_view name,
                                                    std::size_t max_len) {
    return LookupProfileString("", key_path, name, max_len);
}

}  // namespace dt::platform
