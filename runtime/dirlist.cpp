#include "runtime/dirlist.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "runtime/stddate.h"

namespace dt {
namespace {

constexpr BYTE kAdmissionBits = kAttrHidden | kAttrSystem | kAttrDirectory;  // 16h

// Owns an open directory stream.
class DirHandle {
  public:
    explicit DirHandle(const std::string& path) : dir_(::opendir(path.c_str())) {}
    ~DirHandle() {
        if (dir_) ::closedir(dir_);
    }
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
    DIR* get() const { return dir_; }

  private:
    DIR* dir_;
};

BYTE AttributesOf(std::string_view name, const struct stat& st) {
    BYTE a = 0;
    if (S_ISDIR(st.st_mode)) a |= kAttrDirectory;
    if (S_ISREG(st.st_mode)) a |= kAttrArchive;
    if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
    // A leading dot hides a name; "." and ".." are the directory itself and its parent.
    if (!name.empty() && name[0] == '.' && name != "." && name != "..") a |= kAttrHidden;
    return a;
}

DirListResult FailureOf(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return DirListResult::NotFound;
        case EACCES:
        case EPERM:
            return DirListResult::Unreadable;
        default:
            return DirListResult::Failed;
    }
}

}  // namespace

bool DirEntryAdmitted(BYTE attrib, BYTE mask) {
    const BYTE c = attrib & kAdmissionBits;
    const BYTE m = mask & kAdmissionBits;
    if (m == 0) return c == 0;
    return c == 0 || (c & m) != 0;
}

bool DirNameMatches(std::string_view wild, std::string_view name) {
    if (wild == "*.*") return true;
    // Greedy match with one back-tracking point: linear in practice, never exponential.
    std::size_t w = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (w < wild.size() && (wild[w] == '?' || wild[w] == name[n])) {
            ++w, ++n;
        } else if (w < wild.size() && wild[w] == '*') {
            star = w++;
            resume = n;
        } else if (star != std::string_view::npos) {
            w = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (w < wild.size() && wild[w] == '*') ++w;
    return w == wild.size();
}

namespace {

// Appends the admitted entries of `dir` whose names match `wild` (from where its stream
// stands), "." and ".." too unless `skip_dots`.
DirListResult ReadEntries(DIR* dir, std::string_view wild, BYTE mask, bool skip_dots,
                          Queue<DirEntryRecord>& q) {
    const int fd = ::dirfd(dir);
    DirListResult result = DirListResult::Ok;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (e == nullptr) {
            if (errno != 0) return FailureOf(errno);  // the reading broke off
            break;
        }
        const std::string_view name = e->d_name;
        if (skip_dots && (name == "." || name == "..")) continue;
        if (!DirNameMatches(wild, name)) continue;
        struct stat st {};
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // Vanished meanwhile: skipped. Anything else (a directory that may be read but
            // not searched) means the listing is not whole.
            if (errno != ENOENT && result == DirListResult::Ok) result = FailureOf(errno);
            continue;
        }
        const BYTE attrib = AttributesOf(name, st);
        if (!DirEntryAdmitted(attrib, mask)) continue;

        std::tm tm{};
        const time_t mtime = st.st_mtim.tv_sec;
        LONG date = 0, time = 0;
        if (::localtime_r(&mtime, &tm)) {
            const int year = tm.tm_year + 1900;
            // MakeDate would read a year below 100 as a two-digit one: such a time is no date.
            date = year >= 1800 ? MakeDate(year, tm.tm_mon + 1, tm.tm_mday) : 0;
            // Local midnight has all parts zero and so is time 0 ("no time").
            time = MakeTime(tm.tm_hour, tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec, 0);
        }
        q.NAME = name;
        q.SHORTNAME.Clear();
        q.DATE = date;
        q.TIME = time;
        q.SIZE = static_cast<INT64>(st.st_size);
        q.ATTRIB = attrib;
        q.Add();
    }
    return result;
}

}  // namespace

DirListResult ListDirectory(Queue<DirEntryRecord>& q, std::string_view pattern, BYTE mask) {
    const std::size_t slash = pattern.rfind('/');
    std::string dir = ".";
    std::string_view wild = pattern;
    if (slash != std::string_view::npos) {
        dir.assign(pattern.data(), slash == 0 ? 1 : slash);  // "/x" lists the root
        wild = pattern.substr(slash + 1);
    }
    if (wild.empty()) return DirListResult::Ok;  // no name to look for: nothing matches

    DirHandle handle(dir);
    if (!handle.get()) return FailureOf(errno);
    return ReadEntries(handle.get(), wild, mask, false, q);
}

OpenDirectory::OpenDirectory(const OpenDirectory* parent, const std::string& name) {
    if (parent != nullptr && parent->dir_ == nullptr) {
        status_ = parent->status_ != DirListResult::Ok ? parent->status_ : DirListResult::Failed;
        return;
    }
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK | (parent != nullptr ? O_NOFOLLOW : 0);
    const int fd = ::openat(parent != nullptr ? ::dirfd(parent->dir_) : AT_FDCWD, name.c_str(), flags);
    if (fd < 0) {
        // ELOOP: a symbolic link where a directory was listed.
        status_ = errno == ELOOP ? DirListResult::NotFound : FailureOf(errno);
        return;
    }
    struct stat st {};
    dir_ = ::fstat(fd, &st) == 0 ? ::fdopendir(fd) : nullptr;
    if (dir_ == nullptr) {
        status_ = FailureOf(errno);
        ::close(fd);
        return;
    }
    device_ = static_cast<std::uint64_t>(st.st_dev);
}

OpenDirectory::~OpenDirectory() {
    if (dir_ != nullptr) ::closedir(dir_);
}

DirListResult OpenDirectory::List(Queue<DirEntryRecord>& q, BYTE mask) {
    if (dir_ == nullptr) return status_;
    return ReadEntries(dir_, "*.*", mask, true, q);
}

}  // namespace dt
