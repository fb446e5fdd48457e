// drivetrek: the program's entry. Reads the command line for the switch "/S" and runs
// the program frame.
#include <cstdio>
#include <string>
#include <strings.h>

#include "app/globals.h"
#include "app/settings.h"
#include "app/startup.h"

namespace {

bool HasScanSwitch(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (strcasecmp(argv[i], "/S") == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace dt;
    const bool unattended = HasScanSwitch(argc, argv);

    SetVersionAndIniFile();
    LoadSettings(GLO::INIFILE.Str());
    ReadComputerName();
    if (GLO::SQLDATABASE.IsBlank()) GLO::SQLDATABASE = "DRIVETREK";
    BuildOwners();

    Queue<QDRIVE_RECORD> qdrive;
    const ULONG mask = ListLocalDrives(qdrive, GLO::INIFILE.View());

    std::printf("DriveTrek Version %s\n", std::string(GLO::VERSION.Clip()).c_str());
    std::printf("computer: %s\n", std::string(GLO::COMPUTERNAME.Clip()).c_str());
    std::printf("server: %s  database: %s  user: %s\n", GLO::SQLSERVER.Str().c_str(),
                GLO::SQLDATABASE.Str().c_str(), GLO::SQLUSER.Str().c_str());
    std::printf("drives (mask %08x):\n", mask);
    for (std::size_t i = 1; i <= qdrive.Records(); ++i) {
        qdrive.Get(i);
        std::printf("  %-30s %s\n", qdrive.DRIVE.data, qdrive.DESCIPTION.data);
    }
    if (unattended) std::printf("unattended scan requested (/S)\n");
    return 0;
}
