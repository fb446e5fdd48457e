// Registry stand-in: values under HKEY_LOCAL_MACHINE are kept in the system profile, one
// section per key path (section "Software\Kestrelworks\MSSQL", key "DLL").
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dt::platform {

// Reads value `name` of the machine key `key_path`. nullopt when the key or the value is
// missing; "" when the value exists and is empty. Cut to max_len bytes when max_len > 0.
std::optional<std::string> ReadMachineRegistryValue(std::string_view key_path, std::string_view name,
                                                    std::size_t max_len = 0);

}  // namespace dt::platform
