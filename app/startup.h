// The start-up steps that need no window: version and settings-file name, the computer
// name, the database name default and the list of local drives.
#pragma once

#include <string_view>

#include "app/schema.h"
#include "app/search_index.h"
#include "runtime/queue.h"

namespace dt {

class ERRORLOGINTERFACE;

// GLO::VERSION = "1.05"; GLO::INIFILE = the settings file of ProgramFileLocations()
// ("./drivetrek.ini" when the current directory holds one). Creates nothing.
void SetVersionAndIniFile();

// GLO::COMPUTERNAME from the operating system's computer name, read into a buffer of the
// global's size plus its NUL (always terminated, never read past).
void ReadComputerName();

// The drive-type description shown in the drive list; "" for an unknown code.
std::string_view DriveDescription(int type);

// Fills `qdrive` with this computer's drives in the order the system lists them (the
// mount table, or the [scan] roots of the settings file `inifile`): each with its root,
// type code and description. Returns the drive bit mask (one bit per listed drive, the
// first 32 drives only). A root too long for the queue field is left out, never cut.
ULONG ListLocalDrives(Queue<QDRIVE_RECORD>& qdrive, std::string_view inifile);

// The start-up upgrade step of drivetrek (never of the read-only programs), run once the
// COMPUTER table is open: makes the tables it needs exist (COMPUTER is created when
// missing, by this program or by another starting at the same moment) and then creates
// what a database of an earlier version lacks (see upgrade.h). Failures are written to
// standard error and do not stop the program: it works without the new objects, only
// slower or with less protection. Last come the search's substring and browse-order
// indexes (PrepareSearchIndexes: the progress of a table of more than `progress_rows`
// rows to `shown` and, when `unattended`, to standard error; the line that says why
// searches are slow also to `log`, which may be null). Returns true when the upgrade's
// own objects are in place.
bool RunStartupUpgrade(bool unattended = true, ERRORLOGINTERFACE* log = nullptr,
                       const SearchIndexProgressFn& shown = {}, long long progress_rows = kProgressRows);

// This computer's COMPUTER row (start-up): read by `name`; when missing, inserted with
// `drives`. When another program of the same computer inserted it at the same moment
// (the unique index on the name refuses the second row), the row is read again: each
// computer has exactly one row. 0 with the row in the COMPUTER buffer; otherwise the file
// manager's result (its failure reported).
int EnsureOwnComputerRow(std::string_view name, ULONG drives);

}  // namespace dt
