// The version line every program prints for --version: "dtfind 1.05 (git 1a2b3c4)".
#pragma once

#include <string>
#include <string_view>

#include "app/build_version.h"

namespace dt {

inline constexpr std::string_view kVersion = DT_VERSION_TEXT;
inline constexpr std::string_view kGitCommit = DT_GIT_COMMIT_TEXT;

inline std::string VersionLine(std::string_view program) {
    return std::string(program) + " " + std::string(kVersion) + " (git " + std::string(kGitCommit) + ")";
}

}  // namespace dt
