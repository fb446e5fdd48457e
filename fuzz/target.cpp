// One libFuzzer target; DT_FUZZ_TARGET names its entry point (see entries.h).
#include <cstdlib>

#include "fuzz/entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const dt::fuzz::Target* target = dt::fuzz::FindTarget(DT_FUZZ_TARGET);
    if (target == nullptr) std::abort();
    target->entry(data, size);
    return 0;
}
