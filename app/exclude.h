// Exclusions of the scan ([scan] exclude= in the settings file): paths the walk neither
// enters nor stores.
//
// The value is a list of patterns separated by ";"; blanks around a pattern are dropped and
// empty patterns ignored. A pattern without "/" is matched against the base name of a file
// or directory ("node_modules", "*.tmp"); a pattern with "/" against the whole absolute
// path from the file system's root ("/home/*/.cache"). "*" matches any run of bytes and
// "?" exactly one byte, neither ever matching "/"; every other byte ("[", "\" and a
// leading "." included) matches only itself. Matching is on the bytes, case-sensitive. A
// pattern ending in "/" matches directories only; that last "/" does not count as a "/"
// of the pattern ("build/" is a base-name pattern). A directory's path is matched without
// its closing "/"; the root directory "/" matches no pattern.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dt {

// True when `text` matches `pattern` with the wild cards above ("*" and "?" never match
// "/").
bool WildMatch(std::string_view pattern, std::string_view text);

class Exclusions {
  public:
    Exclusions() = default;
    // Parses a [scan] exclude value.
    explicit Exclusions(std::string_view value);

    bool Empty() const { return patterns_.empty(); }
    // The patterns as parsed (blanks trimmed, a trailing "/" kept), in their order.
    std::vector<std::string> Patterns() const;

    // The entry `name` of directory `dir` (absolute, ending in "/") is excluded by a
    // pattern of its own (the directories above it are not looked at).
    bool ExcludesEntry(std::string_view dir, std::string_view name, bool directory) const;
    // The absolute `path` (a directory when `directory`; a closing "/" is allowed), or any
    // directory above it, is excluded: nothing at that path is stored by a scan.
    bool ExcludesPath(std::string_view path, bool directory) const;

  private:
    // `path` (directory without its closing "/") or its base name `base` matches a pattern.
    bool Matches(std::string_view path, std::string_view base, bool directory) const;

    struct Pattern {
        std::string text;  // without the trailing "/"
        bool whole_path = false;
        bool directories_only = false;
    };
    std::vector<Pattern> patterns_;
    bool any_whole_path_ = false;
};

// The [scan] exclude value of settings file `settings_file` ("" when it has none).
std::string ExcludeSetting(std::string_view settings_file);

}  // namespace dt
