#include "app/startup.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/search_index.h"
#include "app/settings.h"
#include "app/tables.h"
#include "app/upgrade.h"
#include "app/version.h"
#include "platform/computer.h"
#include "platform/drives.h"

namespace dt {

void SetVersionAndIniFile() {
    GLO::VERSION = kVersion;
    GLO::INIFILE = ProgramFileLocations().settings_file;
}

void ReadComputerName() {
    char buffer[sizeof GLO::COMPUTERNAME + 1] = {};
    const long size = sizeof GLO::COMPUTERNAME;
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
    // The drives come as a list rather than as NUL-separated drive strings: a mount point
    // may hold bytes below 21 (a tab, a line feed), which would split it into two roots.
    const std::vector<platform::Drive> drives = platform::ListDrives(inifile);
    qdrive.ClearBuffer();
    for (const platform::Drive& drive : drives) {
        if (drive.root.size() < sizeof(qdrive.DRIVE)) {
            qdrive.DRIVE = drive.root;
            qdrive.TYPE = static_cast<BYTE>(drive.type);
            qdrive.DESCIPTION = DriveDescription(drive.type);
            qdrive.Add();
        } else {
            std::fprintf(stderr, "drive left out, its root path is too long: %s\n", drive.root.c_str());
        }
        qdrive.ClearBuffer();
    }
    return platform::DriveMask(drives);
}

bool RunStartupUpgrade(bool unattended, ERRORLOGINTERFACE* log, const SearchIndexProgressFn& shown,
                       long long progress_rows) {
    if (Access::COMPUTER == nullptr || Access::COMPUTER->UseFile() != 0) return false;
    // The search's indexes are built while this program holds the upgrade step's lock:
    // two programs building the same index concurrently would wait for each other.
    const UpgradeResult r = RunUpgrade(GLO::SQLOWNER.Str(), [unattended, log, &shown, progress_rows] {
        PrepareSearchIndexes(unattended, log, shown, progress_rows);
    });
    for (const std::string& f : r.failures)
        std::fprintf(stderr, "drivetrek: database upgrade: %s\n", f.c_str());
    return r.ok;
}

int EnsureOwnComputerRow(std::string_view name, ULONG drives) {
    COMPUTER.NAME = name;
    if (Access::COMPUTER->FetchOrClear(COMPUTER.KEYNAME_COMPUTER) == 0) return 0;
    COMPUTER.NAME = name;
    COMPUTER.DRIVES = drives;
    if (Access::COMPUTER->TryInsert() == 0) return 0;
    // Another program of this computer was first: its row is this computer's row.
    COMPUTER.NAME = name;
    if (Access::COMPUTER->FetchOrClear(COMPUTER.KEYNAME_COMPUTER) == 0) return 0;
    COMPUTER.NAME = name;
    COMPUTER.DRIVES = drives;
    return Access::COMPUTER->Insert();
}

}  // namespace dt
