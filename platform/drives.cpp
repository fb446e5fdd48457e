#include "platform/drives.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/cwd.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace dt::platform {

namespace {

constexpr int kNoDrive = -1;

template <std::size_t N>
bool OneOf(std::string_view s, const std::array<std::string_view, N>& set) {
    return std::find(set.begin(), set.end(), s) != set.end();
}

// File systems of the kernel's own (no files of the user): never drives.
constexpr std::array<std::string_view, 29> kPseudo = {
    "proc",       "sysfs",       "cgroup", "cgroup2",      "devpts",   "mqueue",    "debugfs",
    "tracefs",    "securityfs",  "pstore", "bpf",          "autofs",   "configfs",  "fusectl",
    "hugetlbfs",  "binfmt_misc", "nsfs",   "devtmpfs",     "efivarfs", "selinuxfs", "rpc_pipefs",
    "nfsd",       "sockfs",      "pipefs", "anon_inodefs", "rootfs",   "smackfs",   "fuse.gvfsd-fuse",
    "fuse.portal"};

constexpr std::array<std::string_view, 17> kNetwork = {
    "nfs",         "nfs4",        "cifs",     "smb3",      "smbfs",     "sshfs",          "fuse.sshfs",
    "9p",          "afs",         "ceph",     "fuse.ceph", "glusterfs", "fuse.glusterfs", "davfs",
    "fuse.davfs2", "fuse.rclone", "fuse.s3fs"};

constexpr std::array<std::string_view, 2> kCdRom = {"iso9660", "udf"};
constexpr std::array<std::string_view, 2> kRam = {"tmpfs", "ramfs"};

// Local file systems that live on a block device (or, for zfs and overlay, on local
// storage without one).
constexpr std::array<std::string_view, 24> kLocal = {
    "ext2",    "ext3",   "ext4",     "xfs",      "btrfs", "vfat",  "msdos",    "exfat",
    "ntfs",    "ntfs3",  "fuseblk",  "f2fs",     "zfs",   "jfs",   "reiserfs", "hfs",
    "hfsplus", "nilfs2", "bcachefs", "squashfs", "erofs", "minix", "ufs",      "overlay"};

// The drive type of a mount, or kNoDrive for a pseudo file system.
int Classify(const MountEntry& m, const RemovableProbe& removable) {
    const std::string_view t = m.fs_type;
    if (OneOf(t, kPseudo)) return kNoDrive;
    if (OneOf(t, kRam)) return kDriveRamDisk;
    if (OneOf(t, kCdRom)) return kDriveCdRom;
    if (OneOf(t, kNetwork)) return kDriveRemote;
    const bool on_device = m.source.rfind("/dev/", 0) == 0;
    if (OneOf(t, kLocal) || on_device) {
        if (t == "overlay" || t == "zfs") return kDriveFixed;
        return (removable && removable(m)) ? kDriveRemovable : kDriveFixed;
    }
    return kDriveUnknown;
}

// Decodes the octal escapes the kernel writes for blanks, tabs, newlines and "\".
std::string Unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && s.size() - i >= 4 && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
            s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> f;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ') ++pos;
        if (pos >= line.size()) break;
        std::size_t end = line.find(' ', pos);
        if (end == std::string_view::npos) end = line.size();
        f.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return f;
}

bool ParseUnsigned(std::string_view s, unsigned& out) {
    if (s.empty() || s.size() > 9) return false;
    unsigned v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + unsigned(c - '0');
    }
    out = v;
    return true;
}

std::string RootOf(const std::string& mount_point) {
    return mount_point.back() == '/' ? mount_point : mount_point + "/";
}

bool ReadSmallFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    // id parent major:minor root mount-point options [optional fields...] - type source super-options
    std::vector<MountEntry> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        std::vector<std::string_view> f = Fields(text.substr(pos, nl - pos));
        pos = nl + 1;
        if (f.size() < 9) continue;
        auto dash = std::find(f.begin() + 6, f.end(), std::string_view("-"));
        if (dash == f.end() || f.end() - dash < 3) continue;
        MountEntry m;
        std::string_view dev = f[2];
        std::size_t colon = dev.find(':');
        if (colon == std::string_view::npos || !ParseUnsigned(dev.substr(0, colon), m.major) ||
            !ParseUnsigned(dev.substr(colon + 1), m.minor)) {
            continue;
        }
        m.root = Unescape(f[3]);
        m.mount_point = Unescape(f[4]);
        m.fs_type = Unescape(dash[1]);
        m.source = Unescape(dash[2]);
        if (m.mount_point.empty() || m.mount_point.front() != '/') continue;
        out.push_back(std::move(m));
    }
    return out;
}

bool KernelSaysRemovable(const MountEntry& entry, const std::string& sys_root) {
    unsigned major = entry.major;
    unsigned minor = entry.minor;
    // btrfs and others report an anonymous device number: ask the source device instead.
    struct stat st;
    if (entry.source.rfind("/dev/", 0) == 0 && ::stat(entry.source.c_str(), &st) == 0 &&
        S_ISBLK(st.st_mode)) {
        major = ::major(st.st_rdev);
        minor = ::minor(st.st_rdev);
    }
    if (major == 0) return false;
    std::string link = sys_root + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    char* real = ::realpath(link.c_str(), nullptr);
    if (real == nullptr) return false;
    std::string dir(real);
    std::free(real);
    std::string flag;
    if (::access((dir + "/partition").c_str(), F_OK) == 0) dir = dir.substr(0, dir.find_last_of('/'));
    if (!ReadSmallFile(dir + "/removable", flag)) return false;
    return flag.rfind('1', 0) == 0;
}

std::vector<Drive> DrivesFromMounts(const std::vector<MountEntry>& mounts, const RemovableProbe& removable) {
    std::vector<Drive> drives;
    for (const MountEntry& m : mounts) {
        std::string root = RootOf(m.mount_point);
        // A later mount on the same point hides the earlier one.
        drives.erase(
            std::remove_if(drives.begin(), drives.end(), [&](const Drive& d) { return d.root == root; }),
            drives.end());
        int type = Classify(m, removable);
        if (type != kNoDrive) drives.push_back(Drive{root, type});
    }
    std::stable_sort(drives.begin(), drives.end(),
                     [](const Drive& a, const Drive& b) { return a.root < b.root; });
    return drives;
}

std::vector<std::string> ParseScanRoots(std::string_view value) {
    std::vector<std::string> roots;
    for (std::string_view part : Split(value, ';')) {
        part = TrimBlanks(part);
        if (part.empty()) continue;
        std::string dir = AbsolutePath(part);
        if (dir.empty()) continue;
        if (dir.back() != '/') dir += '/';
        if (std::find(roots.begin(), roots.end(), dir) == roots.end()) roots.push_back(std::move(dir));
    }
    return roots;
}

std::vector<Drive> ListDrives(std::string_view settings_file) {
    // A roots key that lists nothing usable is no reason to scan every mounted file system.
    if (std::optional<std::string> listed = ScanRootsSetting(settings_file)) {
        std::vector<Drive> drives;
        for (std::string& r : ParseScanRoots(*listed)) drives.push_back(Drive{std::move(r), kDriveFixed});
        return drives;
    }
    return MountedDrives();
}

std::vector<Drive> MountedDrives() {
    std::vector<Drive> drives;
    std::string text;
    if (!ReadSmallFile("/proc/self/mountinfo", text)) return drives;
    drives =
        DrivesFromMounts(ParseMountInfo(text), [](const MountEntry& m) { return KernelSaysRemovable(m); });
    // Single files bind-mounted into place (containers do this for /etc/hosts) are no drives.
    drives.erase(
        std::remove_if(drives.begin(), drives.end(), [](const Drive& d) { return !IsDirectory(d.root); }),
        drives.end());
    return drives;
}

std::string DriveStrings(const std::vector<Drive>& drives) {
    std::string out;
    for (const Drive& d : drives) {
        out += d.root;
        out += '\0';
    }
    out += '\0';
    return out;
}

std::uint32_t DriveMask(const std::vector<Drive>& drives) {
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < drives.size() && i < 32; ++i) mask |= std::uint32_t{1} << i;
    return mask;
}

int DriveType(std::string_view root, std::string_view settings_file) {
    if (root.empty()) return kDriveNoRootDir;
    std::string want = AbsolutePath(root);
    if (want.empty()) return kDriveNoRootDir;
    if (want.back() != '/') want += '/';
    for (const Drive& d : ListDrives(settings_file)) {
        if (d.root == want) return d.type;
    }
    return kDriveNoRootDir;
}

std::optional<std::uint64_t> FileSystemId(std::string_view path) {
    struct stat st;
    if (::stat(std::string(path).c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_dev);
}

std::optional<std::string> ScanRootsSetting(std::string_view settings_file) {
    return LookupProfileString(settings_file, "scan", "roots");
}

bool WalkReaches(std::string_view from_in, std::string_view to_in) {
    std::string from(from_in), to(to_in);
    if (from.empty() || from.front() != '/' || to.empty() || to.front() != '/') return false;
    if (from.back() != '/') from += '/';
    if (to.back() != '/') to += '/';
    if (to.size() <= from.size() || to.compare(0, from.size(), from) != 0) return false;
    struct stat top;
    if (::stat(from.c_str(), &top) != 0 || !S_ISDIR(top.st_mode)) return false;
    // Each directory below `from`, one component at a time.
    for (std::size_t slash = to.find('/', from.size()); slash != std::string::npos;
         slash = to.find('/', slash + 1)) {
        struct stat st;
        if (::lstat(to.substr(0, slash).c_str(), &st) != 0) return false;
        if (!S_ISDIR(st.st_mode) || st.st_dev != top.st_dev) return false;
    }
    return true;
}

bool SameFileSystem(std::string_view a, std::string_view b) {
    auto da = FileSystemId(a);
    auto db = FileSystemId(b);
    return da && db && *da == *db;
}

}  // namespace dt::platform
