// The start-up steps that need no window: version and settings-file name, the computer
// name, the database name default and the list of local drives.
#pragma once

#include <string_view>

#include "app/schema.h"
#include "runtime/queue.h"

namespace dt {

// GLO::VERSION = "1.05"; GLO::INIFILE = the settings file of ProgramFileLocations()
// ("./drivetrek.ini" when the current directory holds one). Creates nothing.
void SetVersionAndIniFile();

// GLO::COMPUTERNAME from the operating system's computer name, read into a 33-byte
// buffer of size 32 (always terminated, never read past).
void ReadComputerName();

// The drive-type description shown in the drive list; "" for an unknown code.
std::string_view DriveDescription(int type);

// Fills `qdrive` with this computer's drives in the order the system lists them (the
// mount table, or the [scan] roots of the settings file `inifile`): each with its root,
// type code and description. Returns the drive bit mask (one bit per listed drive, the
// first 32 drives only). A root too long for the queue field is left out, never cut.
ULONG ListLocalDrives(Queue<QDRIVE_RECORD>& qdrive, std::string_view inifile);

}  // namespace dt
