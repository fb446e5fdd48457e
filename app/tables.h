// The application's four tables (SQLF, FILES, COMPUTER, SQLM): their control blocks with
// fields and keys, and the relation and file managers through which the procedures use
// them (Relate::X and Access::X). FILES and COMPUTER are declared THREAD: each thread has
// its own instance (record buffer, null flags, driver state), so the file browse can read
// FILES on its own thread while the main thread scans or searches.
#pragma once

#include "app/schema.h"
#include "data/file.h"
#include "framework/file_manager.h"
#include "framework/relation_manager.h"

namespace dt {

class ErrorManagerInterface;

// A single-column pass-through table (SQLM, SQLF): FELD1 receives the first column of
// each result row.
struct SqlTable : Table<SQL_RECORD> {
    // `owner`: the connection-string variable read at every open.
    SqlTable(std::string_view label, const STRING<256>& owner);
};

struct FilesTable : Table<FILES_RECORD> {
    FilesTable();
    Key KEYNAME_FILES;  // by name: DUP, OPT, NOCASE
    Key KEYSYSFILES;    // by row number: PRIMARY, OPT, NOCASE; auto-numbered
};

struct ComputerTable : Table<COMPUTER_RECORD> {
    ComputerTable();
    Key KEYNAME_COMPUTER;  // by computer name: DUP, OPT, NOCASE
    Key KEYSYSCOMPUTER;    // by row number: PRIMARY, OPT, NOCASE; auto-numbered
};

extern SqlTable SQLF;                        // OWNER GLO::SQLOWNER
extern thread_local FilesTable FILES;        // OWNER GLO::SQLOWNER, THREAD
extern thread_local ComputerTable COMPUTER;  // OWNER GLO::SQLOWNER, THREAD
extern SqlTable SQLM;                        // OWNER GLO::SQLMASTEROWNER

// The file managers; null before InitTables and after KillTables.
namespace Access {
extern FileManager* SQLF;
extern FileManager* FILES;
extern FileManager* COMPUTER;
extern FileManager* SQLM;
}  // namespace Access

// The relation managers; null before InitTables and after KillTables.
namespace Relate {
extern RelationManager* SQLF;
extern RelationManager* FILES;
extern RelationManager* COMPUTER;
extern RelationManager* SQLM;
}  // namespace Relate

// Creates the managers in the order SQLF, FILES, COMPUTER, SQLM, each file manager bound
// to its table and `errors` (which must outlive them) with lock-recover 10, create on and
// its keys, each relation manager with use-logout 1. Calling it again first kills the
// managers made before.
void InitTables(ErrorManagerInterface& errors);

// Kills the managers in creation order (each relation manager kills its file manager
// first), frees them and clears the references. Safe to call when none exist.
void KillTables();

}  // namespace dt
