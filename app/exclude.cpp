#include "app/exclude.h"

#include "platform/profile.h"
#include "platform/text.h"

namespace dt {
namespace {

// One "/"-free piece of a pattern against one "/"-free piece of a path: "*" takes any run
// of bytes, "?" one byte. On a mismatch the last "*" takes one byte more and the match
// goes on from there (a later "*" can always take what an earlier one would have).
bool MatchSegment(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0;
    std::size_t star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

bool WildMatch(std::string_view pattern, std::string_view text) {
    // Neither wild card crosses "/": the pattern's pieces between slashes meet the text's
    // pieces one to one.
    for (;;) {
        const std::size_t ps = pattern.find('/');
        const std::size_t ts = text.find('/');
        if ((ps == std::string_view::npos) != (ts == std::string_view::npos)) return false;
        if (!MatchSegment(pattern.substr(0, ps), text.substr(0, ts))) return false;
        if (ps == std::string_view::npos) return true;
        pattern.remove_prefix(ps + 1);
        text.remove_prefix(ts + 1);
    }
}

Exclusions::Exclusions(std::string_view value) {
    for (std::string_view part : Split(value, ';')) {
        part = Trim(part);
        Pattern p;
        while (!part.empty() && part.back() == '/') {
            p.directories_only = true;
            part.remove_suffix(1);
        }
        if (part.empty()) continue;  // "" and "/" alone match nothing
        p.text = part;
        p.whole_path = part.find('/') != std::string_view::npos;
        any_whole_path_ = any_whole_path_ || p.whole_path;
        patterns_.push_back(std::move(p));
    }
}

std::vector<std::string> Exclusions::Patterns() const {
    std::vector<std::string> out;
    for (const Pattern& p : patterns_) out.push_back(p.text + (p.directories_only ? "/" : ""));
    return out;
}

bool Exclusions::Matches(std::string_view path, std::string_view base, bool directory) const {
    if (base.empty()) return false;
    for (const Pattern& p : patterns_) {
        if (p.directories_only && !directory) continue;
        if (WildMatch(p.text, p.whole_path ? path : base)) return true;
    }
    return false;
}

bool Exclusions::ExcludesEntry(std::string_view dir, std::string_view name, bool directory) const {
    if (patterns_.empty()) return false;
    if (!any_whole_path_) return Matches({}, name, directory);
    std::string path;
    path.reserve(dir.size() + name.size());
    path.append(dir).append(name);
    return Matches(path, name, directory);
}

bool Exclusions::ExcludesPath(std::string_view path, bool directory) const {
    if (patterns_.empty()) return false;
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
        directory = true;
    }
    // Each directory on the way down, then the path itself.
    for (std::size_t slash = path.find('/', 1); slash != std::string_view::npos;
         slash = path.find('/', slash + 1)) {
        const std::string_view above = path.substr(0, slash);
        if (Matches(above, above.substr(above.rfind('/') + 1), true)) return true;
    }
    const std::size_t last = path.rfind('/');
    return Matches(path, last == std::string_view::npos ? path : path.substr(last + 1), directory);
}

std::string ExcludeSetting(std::string_view settings_file) {
    return platform::ReadProfileString(settings_file, "scan", "exclude", "");
}

}  // namespace dt
