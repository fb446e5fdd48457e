// Drives: the mounted file systems that stand for logical drives. Each mounted file
// system is a drive whose root path is its mount point ending in "/"; pseudo file
// systems (proc, sysfs, cgroup ...) are no drives. A settings file may replace the
// mount table with its own list ([scan] roots=dir;dir;...), each listed directory then
// being a fixed drive. Drives are listed in order of their root paths.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dt::platform {

// Drive-type codes, as the classic drive-type call returns them.
enum DriveTypeCode : int {
    kDriveUnknown = 0,    // the type cannot be determined
    kDriveNoRootDir = 1,  // the root path does not exist (or is no drive)
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdRom = 5,
    kDriveRamDisk = 6,
};

struct Drive {
    std::string root;  // absolute, ends with "/"
    int type = kDriveUnknown;
};

// One line of /proc/self/mountinfo, escapes (\040 ...) decoded.
struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;         // the directory of the file system mounted here
    std::string mount_point;  // where it is mounted
    std::string fs_type;      // "ext4", "fuse.sshfs", ...
    std::string source;       // "/dev/sda1", "server:/export", ...
};

// Parses mountinfo text; malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// Decides whether a mount's block device is removable.
using RemovableProbe = std::function<bool(const MountEntry&)>;

// The live probe: the "removable" flag of the mount's block device (of the whole disk for
// a partition) under sys_root ("/sys"). False when there is no such device.
bool KernelSaysRemovable(const MountEntry& entry, const std::string& sys_root = "/sys");

// The drives among the mounts, typed, sorted by root path. A mount point mounted over
// keeps only its last mount.
std::vector<Drive> DrivesFromMounts(const std::vector<MountEntry>& mounts, const RemovableProbe& removable);

// The directories of a [scan] roots value: split at ";", blanks trimmed, empty parts
// dropped, made absolute against the current directory, each ending in "/", repeats
// dropped; in the listed order.
std::vector<std::string> ParseScanRoots(std::string_view value);

// The drives for the settings file F (empty: the system profile): the [scan] roots of F
// when the key is there (all fixed, in their order; none when it lists no directory),
// else the mounted file systems from /proc/self/mountinfo (mount points that are no
// directories left out). Empty when neither can be read.
std::vector<Drive> ListDrives(std::string_view settings_file);

// The mounted file systems as drives (what ListDrives gives without a roots key).
std::vector<Drive> MountedDrives();

// The drive strings: each root path followed by a NUL, the list ended by a second NUL.
std::string DriveStrings(const std::vector<Drive>& drives);

// The drive bit mask: bit i set for the i-th listed drive (from 0); drives after the
// 32nd set no bit.
std::uint32_t DriveMask(const std::vector<Drive>& drives);

// The type of the drive whose root is `root` ("/home" or "/home/") among the drives for
// settings file F; kDriveNoRootDir when no drive has that root.
int DriveType(std::string_view root, std::string_view settings_file);

// The id of the file system holding path (its device number); nullopt when the path
// cannot be examined. Symbolic links are followed.
std::optional<std::uint64_t> FileSystemId(std::string_view path);

// True when both paths exist and lie on the same file system, so a walk from one may
// enter the other without crossing into another mount.
bool SameFileSystem(std::string_view a, std::string_view b);

// True when a walk from directory `from` reaches directory `to`: both absolute, `to` lies
// below `from`, and every directory on the way (`to` included) is a real directory (no
// symbolic link) on `from`'s file system.
bool WalkReaches(std::string_view from, std::string_view to);

// The [scan] roots value of settings file F; nullopt when F has no such key.
std::optional<std::string> ScanRootsSetting(std::string_view settings_file);

}  // namespace dt::platform
