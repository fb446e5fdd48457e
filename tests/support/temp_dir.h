// Test helpers: a temporary directory removed with everything in it when it goes, and
// whole-file read/write.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/env.h"

namespace dt::test {

class TempDir {
  public:
    // A new directory under the system's temporary directory, named `prefix` and six
    // random characters; path() is empty when it could not be made.
    explicit TempDir(const std::string& prefix = "dt-test-") {
        std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
        if (::mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
    }
    ~TempDir() { Remove(); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Removes the directory now (also when a test left parts of it unreadable).
    void Remove() {
        if (path_.empty()) return;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(
                 path_, std::filesystem::directory_options::skip_permission_denied, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
        }
        std::filesystem::remove_all(path_, ec);
        path_.clear();
    }

    // Leaves the directory in place when this goes.
    void Keep() { path_.clear(); }

  private:
    std::string path_;
};

// A temporary directory that is the current directory while it lives: the old one is
// restored and the directory removed at the end (kept when DT_KEEP is set, to look into).
class TempWorkDir {
  public:
    explicit TempWorkDir(const std::string& prefix = "dt-test-") : dir_(prefix), path_(dir_.path()) {
        std::error_code ec;
        old_ = std::filesystem::current_path(ec);
        if (!path_.empty()) std::filesystem::current_path(path_, ec);
    }
    ~TempWorkDir() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
        if (!Env("DT_KEEP").empty()) dir_.Keep();
    }
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    TempDir dir_;
    std::filesystem::path path_, old_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

}  // namespace dt::test
