#include "platform/drives.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/cwd.h"
#include "tests/support/temp_dir.h"

namespace dt::platform {
namespace {

using test::TempDir;
using test::WriteFile;

std::vector<Drive> FromText(std::string_view text, const std::string& removable_source = "") {
    return DrivesFromMounts(ParseMountInfo(text), [&](const MountEntry& m) {
        return !removable_source.empty() && m.source == removable_source;
    });
}

// A typical desktop: the mount order is not the order of the list.
constexpr std::string_view kDesktop =
    "22 27 0:21 / /proc rw,relatime shared:12 - proc proc rw\n"
    "23 27 0:22 / /sys rw,relatime shared:2 - sysfs sysfs rw\n"
    "24 27 0:6 / /dev rw,relatime - devtmpfs udev rw,size=8000k\n"
    "27 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n"
    "31 23 0:28 / /sys/fs/cgroup rw,relatime - cgroup2 cgroup2 rw\n"
    "40 27 8:17 / /media/usb\\040stick rw,nosuid - vfat /dev/sdb1 rw,fmask=0022\n"
    "41 27 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
    "42 27 0:45 / /mnt/share rw - nfs4 server:/export rw,vers=4.2\n"
    "43 27 0:46 / /run/user/1000 rw - tmpfs tmpfs rw,size=100k\n"
    "44 27 0:47 / /mnt/remote rw - fuse.sshfs me@host:/home rw\n"
    "45 27 0:48 /@home /home rw - btrfs /dev/sda3 rw,subvol=/@home\n"
    "46 27 0:49 / /mnt/other rw - weirdfs none rw\n"
    "47 22 0:50 / /proc/sys/fs/binfmt_misc rw - binfmt_misc binfmt_misc rw\n"
    "48 27 0:51 / /sys/kernel/debug rw - debugfs debugfs rw\n"
    "garbage that is no mount line\n"
    "49 27 x:y / /bad rw - ext4 /dev/sdz rw\n";

TEST(Drives, MountTableBecomesTypedSortedDriveList) {
    std::vector<Drive> d = FromText(kDesktop, "/dev/sdb1");
    std::vector<std::pair<std::string, int>> got;
    for (const Drive& x : d) got.emplace_back(x.root, x.type);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>{
                       {"/", kDriveFixed},
                       {"/home/", kDriveFixed},
                       {"/media/cdrom/", kDriveCdRom},
                       {"/media/usb stick/", kDriveRemovable},  // "\040" is a blank
                       {"/mnt/other/", kDriveUnknown},
                       {"/mnt/remote/", kDriveRemote},
                       {"/mnt/share/", kDriveRemote},
                       {"/run/user/1000/", kDriveRamDisk},
                   }));
    // The drive strings and the mask follow the same list.
    std::string expected;
    for (const auto& [root, type] : got) expected += root + '\0';
    EXPECT_EQ(DriveStrings(d), expected + '\0');
    EXPECT_EQ(DriveMask(d), 0xFFu);
}

TEST(Drives, DriveStringsLikeDrivesACD) {
    // Three drives (the classic A:, C:, D:): three roots in order, each ended by a NUL, then a NUL.
    std::vector<Drive> d = FromText(
        "1 0 8:1 / /a rw - ext4 /dev/sda1 rw\n"
        "2 0 8:2 / /c rw - ext4 /dev/sda2 rw\n"
        "3 0 11:0 / /d ro - udf /dev/sr0 ro\n",
        "/dev/sda1");
    EXPECT_EQ(DriveStrings(d), std::string("/a/\0/c/\0/d/\0\0", 13));
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0].type, kDriveRemovable);
    EXPECT_EQ(d[1].type, kDriveFixed);
    EXPECT_EQ(d[2].type, kDriveCdRom);
    EXPECT_EQ(DriveMask(d), 0b111u);
    EXPECT_EQ(DriveStrings({}), std::string("\0", 1));
    EXPECT_EQ(DriveMask({}), 0u);
}

TEST(Drives, OverMountedPointKeepsOnlyItsLastMount) {
    std::vector<Drive> d = FromText(
        "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "2 1 0:30 / /data rw - tmpfs tmpfs rw\n"
        "3 2 8:3 / /data rw - xfs /dev/sda3 rw\n");
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[1].root, "/data/");
    EXPECT_EQ(d[1].type, kDriveFixed);
}

TEST(Drives, MaskSetsOnlyTheFirst32Bits) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "%d 1 0:%d / /m%02d rw - tmpfs tmpfs rw\n", i + 2, 100 + i, i);
        text += line;
    }
    std::vector<Drive> d = FromText(text);
    ASSERT_EQ(d.size(), 40u);
    EXPECT_EQ(DriveMask(d), 0xFFFFFFFFu);
    d.resize(31);
    EXPECT_EQ(DriveMask(d), 0x7FFFFFFFu);
}

TEST(Drives, RemovableFlagComesFromTheDiskOfAPartition) {
    // A fake sysfs: 8:17 is partition sdb1 of removable disk sdb, 8:1 is sda1 of fixed sda.
    TempDir sys;
    namespace fs = std::filesystem;
    for (const char* d : {"devices/sdb/sdb1", "devices/sda/sda1", "dev/block"})
        fs::create_directories(sys / d);
    WriteFile(sys / "devices/sdb/removable", "1\n");
    WriteFile(sys / "devices/sdb/sdb1/partition", "1\n");
    WriteFile(sys / "devices/sda/removable", "0\n");
    WriteFile(sys / "devices/sda/sda1/partition", "1\n");
    fs::create_symlink("../../devices/sdb/sdb1", sys / "dev/block/8:17");
    fs::create_symlink("../../devices/sda/sda1", sys / "dev/block/8:1");
    fs::create_symlink("../../devices/sdb", sys / "dev/block/8:16");

    MountEntry m;
    m.source = "not-a-device";
    m.major = 8;
    m.minor = 17;
    EXPECT_TRUE(KernelSaysRemovable(m, sys.path()));
    m.minor = 16;  // the whole disk
    EXPECT_TRUE(KernelSaysRemovable(m, sys.path()));
    m.minor = 1;
    EXPECT_FALSE(KernelSaysRemovable(m, sys.path()));
    m.minor = 99;  // unknown device
    EXPECT_FALSE(KernelSaysRemovable(m, sys.path()));
    m.major = 0;  // anonymous device, no block device to ask
    EXPECT_FALSE(KernelSaysRemovable(m, sys.path()));
}

TEST(Drives, ScanRootsReplaceTheMountTable) {
    TempDir dir;
    const std::string ini = dir / "drivetrek.ini";
    // No [scan] roots: the mount table, which always has "/" somewhere.
    auto live = ListDrives(ini);
    EXPECT_FALSE(live.empty());
    EXPECT_FALSE(ScanRootsSetting(ini).has_value());
    // A roots key that lists nothing: no drive at all, never every mounted file system.
    WriteFile(ini, "[scan]\nroots=  ;  \n");
    EXPECT_TRUE(ListDrives(ini).empty());
    WriteFile(ini, "[scan]\nroots=\n");
    EXPECT_TRUE(ListDrives(ini).empty());
    EXPECT_EQ(ScanRootsSetting(ini), std::optional<std::string>(""));

    WriteFile(ini,
              "[Scan]\nRoots= " + dir.path() + "/b ;\t" + dir.path() + "/a/ ; ;" + dir.path() + "/b/;rel\n");
    std::vector<Drive> d = ListDrives(ini);
    const std::string cwd = CurrentDirectory();
    std::vector<std::string> roots;
    for (const Drive& x : d) {
        roots.push_back(x.root);
        EXPECT_EQ(x.type, kDriveFixed) << x.root;
    }
    // In the listed order, trimmed, each ending in "/", the repeat of b dropped, "rel" made absolute.
    EXPECT_EQ(roots, (std::vector<std::string>{dir / "b/", dir / "a/", (cwd == "/" ? "" : cwd) + "/rel/"}));
    EXPECT_EQ(DriveType(dir / "a", ini), kDriveFixed);
    EXPECT_EQ(DriveType(dir / "a/", ini), kDriveFixed);
    EXPECT_EQ(DriveType(dir / "c/", ini), kDriveNoRootDir);
    EXPECT_EQ(DriveType("", ini), kDriveNoRootDir);
}

TEST(Drives, LiveTableSkipsPseudoFileSystemsAndBindMountedFiles) {
    TempDir dir;
    const std::string ini = dir / "none.ini";
    std::vector<Drive> d = ListDrives(ini);
    bool has_root = false;
    for (const Drive& x : d) {
        EXPECT_EQ(x.root.back(), '/');
        EXPECT_NE(x.root, "/proc/");
        EXPECT_NE(x.root, "/sys/");
        EXPECT_TRUE(std::filesystem::is_directory(x.root)) << x.root;
        has_root = has_root || x.root == "/";
        EXPECT_EQ(DriveType(x.root, ini), x.type);
    }
    EXPECT_TRUE(has_root);
    EXPECT_EQ(DriveType("/proc", ini), kDriveNoRootDir);
}

TEST(Drives, SameFileSystem) {
    TempDir dir;
    std::filesystem::create_directories(dir / "sub");
    EXPECT_TRUE(SameFileSystem(dir.path(), dir / "sub"));
    EXPECT_FALSE(SameFileSystem(dir.path(), dir / "missing"));
    // /proc is always another mount than the temporary directory.
    EXPECT_FALSE(SameFileSystem(dir.path(), "/proc"));
    EXPECT_TRUE(FileSystemId(dir.path()).has_value());
    EXPECT_FALSE(FileSystemId(dir / "missing").has_value());
}

}  // namespace
}  // namespace dt::platform
