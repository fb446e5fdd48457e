#include "platform/profile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/text.h"

namespace dt::platform {

namespace {

// One lock for every read-modify-write of a profile file in this process: two threads
// writing different keys of one file must not lose each other's change.
std::mutex& ProfileMutex() {
    static std::mutex m;
    return m;
}

// The file a caller means: the system profile for an empty name; a bare name (no "/")
// lives beside the system profile, as a bare name lives in the Windows directory for
// the classic calls; any other path is used as it stands (relative to the current
// directory when relative).
std::string ResolvePath(std::string_view file) {
    if (file.empty()) return SystemProfilePath();
    if (file.find('/') == std::string_view::npos) {
        std::string sys = SystemProfilePath();
        if (sys.empty()) return {};
        std::size_t slash = sys.rfind('/');
        return (slash == std::string::npos ? std::string() : sys.substr(0, slash + 1)) + std::string(file);
    }
    return std::string(file);
}

enum class ReadResult { Ok, Missing, Failed };

// Reads the whole file; Missing when it does not exist.
ReadResult ReadWholeFile(const std::string& path, std::string& out) {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::Missing : ReadResult::Failed;
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
}

// The file split at "\n"; each line keeps a trailing "\r" if it had one.
struct Lines {
    std::vector<std::string> lines;
    bool final_newline = false;  // the text ended with "\n"
    bool crlf = false;           // the first line ended with "\r\n"
};

Lines SplitLines(const std::string& text) {
    Lines l;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            l.lines.emplace_back(text.substr(pos));
            break;
        }
        l.lines.emplace_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    l.final_newline = !text.empty() && text.back() == '\n';
    l.crlf = !l.lines.empty() && !l.lines[0].empty() && l.lines[0].back() == '\r';
    return l;
}

std::string JoinLines(const Lines& l) {
    std::string out;
    for (std::size_t i = 0; i < l.lines.size(); ++i) {
        out += l.lines[i];
        if (i + 1 < l.lines.size() || l.final_newline) out += '\n';
    }
    return out;
}

// A section header: "[name]" after optional blanks; a header without "]" runs to the end.
bool ParseSection(std::string_view line, std::string_view& name) {
    std::string_view t = TrimBlanks(line);
    if (t.empty() || t.front() != '[') return false;
    t.remove_prefix(1);
    std::size_t close = t.find(']');
    name = TrimBlanks(close == std::string_view::npos ? t : t.substr(0, close));
    return true;
}

// A key line: "key=value"; comments (";") and lines without "=" are no keys.
bool ParseKey(std::string_view line, std::string_view& key, std::string_view& value) {
    std::string_view t = TrimBlanks(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return false;
    std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) return false;
    key = TrimBlanks(t.substr(0, eq));
    value = TrimBlanks(t.substr(eq + 1));
    return true;
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'')) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

// Where a section and a key sit in the file: indexes into Lines, npos when absent.
struct Place {
    std::size_t section = std::string::npos;    // header line of the first matching section
    std::size_t key = std::string::npos;        // first matching key line inside it
    std::size_t last_body = std::string::npos;  // last non-blank line of that section
};

Place Locate(const Lines& l, std::string_view section, std::string_view key) {
    Place p;
    for (std::size_t i = 0; i < l.lines.size(); ++i) {
        std::string_view name;
        if (ParseSection(l.lines[i], name)) {
            if (p.section != std::string::npos) break;  // the matching section has ended
            if (EqualNoCase(name, section)) p.section = p.last_body = i;
            continue;
        }
        if (p.section == std::string::npos) continue;
        if (!TrimBlanks(l.lines[i]).empty()) p.last_body = i;
        std::string_view k, v;
        if (p.key == std::string::npos && ParseKey(l.lines[i], k, v) && EqualNoCase(k, key)) p.key = i;
    }
    return p;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\n\r\0", 3)) != s.npos;
}

// A value that reading would change (surrounding blanks, one pair of enclosing quotes) is
// written inside double quotes, so it reads back exactly as written.
std::string EncodeValue(std::string_view value) {
    if (TrimBlanks(value).size() != value.size() || Unquote(value).size() != value.size()) {
        return "\"" + std::string(value) + "\"";
    }
    return std::string(value);
}

bool MakeDirectories(const std::string& dir) {
    if (dir.empty()) return true;
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash))) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces path with data through a temporary file in the same directory, flushed to disk
// before the rename, so a crash leaves either the old or the new file. `old` is the
// existing file's status (nullptr for a new file, which gets mode 0600).
bool ReplaceFile(const std::string& path, const std::string& data, const struct stat* old) {
    std::size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (old == nullptr && !MakeDirectories(dir)) return false;

    std::string tmp = (dir == "/" ? "" : dir) + "/." + base + ".XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);  // created with mode 0600
    if (fd < 0) return false;
    bool ok = true;
    if (old != nullptr) {
        ok = ::fchmod(fd, old->st_mode & 07777) == 0;
        if (ok && (old->st_uid != ::geteuid() || old->st_gid != ::getegid())) {
            // Keeping a foreign owner needs privileges; without them the file becomes ours.
            [[maybe_unused]] int ignored = ::fchown(fd, old->st_uid, old->st_gid);
        }
    }
    ok = ok && WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);  // makes the rename itself durable; a failure here loses nothing
        ::close(dfd);
    }
    return true;
}

// The file a write replaces: the target of a symbolic link rather than the link itself.
std::string WriteTarget(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (real != nullptr) {
            std::string r(real);
            std::free(real);
            return r;
        }
    }
    return path;
}

}  // namespace

std::optional<std::string> LookupProfileString(std::string_view file, std::string_view section,
                                               std::string_view key, std::size_t max_len) {
    std::string path = ResolvePath(file);
    if (path.empty()) return std::nullopt;
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    if (section.empty() || key.empty()) return std::nullopt;
    std::string text;
    {
        std::lock_guard lock(ProfileMutex());
        if (ReadWholeFile(path, text) != ReadResult::Ok) return std::nullopt;
    }
    Lines l = SplitLines(text);
    Place p = Locate(l, section, key);
    if (p.key == std::string::npos) return std::nullopt;
    std::string_view k, v;
    ParseKey(l.lines[p.key], k, v);
    v = Unquote(v);
    if (max_len > 0) v = v.substr(0, Utf8CutLength(v, max_len));
    return std::string(v);
}

std::string ReadProfileString(std::string_view file, std::string_view section, std::string_view key,
                              std::string_view def, std::size_t max_len) {
    if (auto found = LookupProfileString(file, section, key, max_len)) return *found;
    if (max_len > 0) def = def.substr(0, Utf8CutLength(def, max_len));
    return std::string(def);
}

namespace {

// Writes `value` under the key, or removes the key's line when `value` is nullopt.
bool ChangeProfile(std::string_view file, std::string_view section, std::string_view key,
                   std::optional<std::string_view> value) {
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    // A line break, "]" in a section or "=" in a key would let a value write lines of
    // its own into the file (other keys, other sections): such writes are refused.
    if (section.empty() || key.empty() || HasLineBreakOrNul(section) || HasLineBreakOrNul(key) ||
        (value && HasLineBreakOrNul(*value)) || section.find(']') != section.npos ||
        key.find('=') != key.npos || key.front() == '[' || key.front() == ';') {
        return false;
    }
    std::string path = ResolvePath(file);
    if (path.empty()) return false;

    std::lock_guard lock(ProfileMutex());
    path = WriteTarget(path);
    std::string text;
    struct stat st;
    const struct stat* old = nullptr;
    switch (ReadWholeFile(path, text)) {
        case ReadResult::Failed:
            return false;  // never replace a file we could not read: its lines would be lost
        case ReadResult::Missing:
            if (!value) return true;  // no file, no key
            break;
        case ReadResult::Ok:
            if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
            if (::access(path.c_str(), W_OK) != 0) return false;  // a read-only file stays as it is
            old = &st;
            break;
    }

    Lines l = SplitLines(text);
    const std::string cr = l.crlf ? "\r" : "";
    Place p = Locate(l, section, key);
    if (!value) {
        if (p.key == std::string::npos) return true;
        l.lines.erase(l.lines.begin() + static_cast<std::ptrdiff_t>(p.key));
        return ReplaceFile(path, JoinLines(l), old);
    }
    const std::string entry = std::string(key) + "=" + EncodeValue(*value) + cr;
    if (p.key != std::string::npos) {
        std::string_view k, v;
        ParseKey(l.lines[p.key], k, v);
        l.lines[p.key] = std::string(k) + "=" + EncodeValue(*value) + cr;
    } else if (p.section != std::string::npos) {
        l.lines.insert(l.lines.begin() + static_cast<std::ptrdiff_t>(p.last_body + 1), entry);
        if (p.last_body + 1 == l.lines.size() - 1) l.final_newline = true;
    } else {
        l.lines.push_back("[" + std::string(section) + "]" + cr);
        l.lines.push_back(entry);
        l.final_newline = true;
    }
    return ReplaceFile(path, JoinLines(l), old);
}

}  // namespace

bool WriteProfileString(std::string_view file, std::string_view section, std::string_view key,
                        std::string_view value) {
    return ChangeProfile(file, section, key, value);
}

bool DeleteProfileKey(std::string_view file, std::string_view section, std::string_view key) {
    return ChangeProfile(file, section, key, std::nullopt);
}

std::string SystemProfilePath() {
    const char* explicit_path = std::getenv("DRIVETREK_PROFILE");
    if (explicit_path != nullptr && *explicit_path != '\0') return explicit_path;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
    if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/drivetrek/win.ini";
    std::string home;
    if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
        home = h;
    } else {
        struct passwd pw;
        struct passwd* found = nullptr;
        std::vector<char> buf(16384);
        if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr) {
            home = found->pw_dir;
        }
    }
    if (home.empty()) return {};
    if (home.size() > 1 && home.back() == '/') home.pop_back();
    return (home == "/" ? "" : home) + "/.config/drivetrek/win.ini";
}

}  // namespace dt::platform
