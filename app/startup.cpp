#include "app/startup.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/globals.h"
#include "platform/computer.h"
#include "platform/drives.h"

namespace dt {

void SetVersionAndIniFile() {
    GLO::VERSION = "1.05";
    GLO::INIFILE = "./drivetrek.ini";
}

void ReadComputerName() {
    char buffer[33] = {};
    const long size = 32;
    platform::GetComputerName(buffer, size + 1);
    GLO::COMPUTERNAME = buffer;
}

std::string_view DriveDescription(int type) {
    switch (type) {
        case 0:
            return "The drive type cannot be determined.";
        case 1:
            return "The root directory does not exist.";
        case 2:
            return "removable drive";
        case 3:
            return "fixed drive";
        case 4:
            return "network drive";
        case 5:
            return "CDROM drive";
        case 6:
            return "ramdisk";
        default:
            return "";
    }
}

ULONG ListLocalDrives(Queue<QDRIVE_RECORD>& qdrive, std::string_view inifile) {
    const std::vector<platform::Drive> drives = platform::ListDrives(inifile);
    const ULONG mask = platform::DriveMask(drives);
    // The drive strings: each root ended by a NUL, the list by a second NUL. The buffer
    // is as long as the list needs (a fixed 200 bytes would drop drives of a machine
    // with many mounts).
    const std::string buffer = platform::DriveStrings(drives) + '\0';
    auto type_of = [&drives](std::string_view root) {
        for (const platform::Drive& d : drives)
            if (d.root == root) return d.type;
        return int(platform::kDriveNoRootDir);
    };
    qdrive.ClearBuffer();
    std::string root;
    for (char ch : buffer) {
        if (static_cast<unsigned char>(ch) > 20) {
            root += ch;
            continue;
        }
        if (root.empty()) continue;
        if (root.size() < sizeof(qdrive.DRIVE)) {
            const int type = type_of(root);
            qdrive.DRIVE = root;
            qdrive.TYPE = static_cast<BYTE>(type);
            qdrive.DESCIPTION = DriveDescription(type);
            qdrive.Add();
        } else {
            std::fprintf(stderr, "drive left out, its root path is too long: %s\n", root.c_str());
        }
        qdrive.ClearBuffer();
        root.clear();
    }
    return mask;
}

}  // namespace dt
