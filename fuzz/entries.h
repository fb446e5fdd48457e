// The fuzz entry points: each takes one input of arbitrary bytes, drives one parser or
// builder with it and checks what must hold for every input (a failed check ends the
// process with a message, as a sanitizer finding does). The libFuzzer targets and the
// regression test of the normal suite call the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace dt::fuzz {

using Entry = void (*)(const std::uint8_t* data, std::size_t size);

struct Target {
    const char* name;  // also the folder of its corpus and regression inputs
    Entry entry;
};

// picture, profile, popup, owner, list_format, query.
const std::vector<Target>& Targets();
// The target of that name, or nullptr.
const Target* FindTarget(std::string_view name);

}  // namespace dt::fuzz
