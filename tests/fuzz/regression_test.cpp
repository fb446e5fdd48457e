// Every input kept under fuzz/regressions/<target>/ (each once made a fuzz target crash,
// trip a sanitizer or fail a check) and every seed of fuzz/corpus/<target>/ goes through
// the target's entry point; a failed check ends the test program with its message.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/entries.h"

namespace dt::fuzz {
namespace {

std::vector<std::filesystem::path> Inputs(const std::string& kind, const std::string& target) {
    std::vector<std::filesystem::path> out;
    const std::filesystem::path dir = std::filesystem::path(DT_FUZZ_DIR) / kind / target;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.is_regular_file()) out.push_back(e.path());
    return out;
}

void Feed(const Target& t, const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(file.string());
    t.entry(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

TEST(FuzzRegression, EveryTargetHasSeedsAndTheyPass) {
    for (const Target& t : Targets()) {
        const auto seeds = Inputs("corpus", t.name);
        EXPECT_GE(seeds.size(), 3u) << t.name;
        for (const auto& f : seeds) Feed(t, f);
    }
}

TEST(FuzzRegression, InputsThatOnceFailedPass) {
    int fed = 0;
    for (const Target& t : Targets()) {
        for (const auto& f : Inputs("regressions", t.name)) {
            Feed(t, f);
            ++fed;
        }
    }
    RecordProperty("inputs", fed);
}

}  // namespace
}  // namespace dt::fuzz
