#include "app/tables.h"

#include <cstddef>
#include <memory>

#include "app/globals.h"
#include "data/sql_driver.h"

namespace dt {
namespace {

std::vector<Field> SqlFields(std::string_view label) {
    std::string pre(label);
    return {Field::Cstring(pre + ":FELD1", offsetof(SQL_RECORD, FELD1), sizeof(SQL_RECORD::FELD1))};
}

std::vector<Field> FilesFields() {
    using R = FILES_RECORD;
    return {
        Field::Ulong("FILES:SYSFILES", offsetof(R, SYSFILES)),
        Field::Ulong("FILES:SYSCOMPUTER", offsetof(R, SYSCOMPUTER)),
        Field::Cstring("FILES:NAME", offsetof(R, NAME), sizeof(R::NAME)),
        Field::Cstring("FILES:EXTENSION", offsetof(R, EXTENSION), sizeof(R::EXTENSION)),
        Field::Cstring("FILES:DIR", offsetof(R, DIR), sizeof(R::DIR)),
        Field::Byte("FILES:TYPE", offsetof(R, TYPE)),
        Field::String("FILES:DATE", offsetof(R, DATE), 8),
        Field::Group("FILES:DATE_GROUP", offsetof(R, DATE), 8).Over("FILES:DATE"),
        Field::Date("FILES:DATE_DATE", offsetof(R, DATE_DATE)).In("FILES:DATE_GROUP"),
        Field::Time("FILES:DATE_TIME", offsetof(R, DATE_TIME)).In("FILES:DATE_GROUP"),
        Field::Ulong("FILES:SIZE", offsetof(R, SIZE)),
    };
}

std::vector<Field> ComputerFields() {
    using R = COMPUTER_RECORD;
    return {
        Field::Ulong("COMPUTER:SYSCOMPUTER", offsetof(R, SYSCOMPUTER)),
        Field::Cstring("COMPUTER:NAME", offsetof(R, NAME), sizeof(R::NAME)),
        Field::Cstring("COMPUTER:SCANTIME", offsetof(R, SCANTIME), sizeof(R::SCANTIME)),
        Field::String("COMPUTER:LASTSCAN", offsetof(R, LASTSCAN), 8),
        Field::Group("COMPUTER:LASTSCAN_GROUP", offsetof(R, LASTSCAN), 8).Over("COMPUTER:LASTSCAN"),
        Field::Date("COMPUTER:LASTSCAN_DATE", offsetof(R, LASTSCAN_DATE)).In("COMPUTER:LASTSCAN_GROUP"),
        Field::Time("COMPUTER:LASTSCAN_TIME", offsetof(R, LASTSCAN_TIME)).In("COMPUTER:LASTSCAN_GROUP"),
        Field::Ulong("COMPUTER:DRIVES", offsetof(R, DRIVES)),
    };
}

// The calling thread's instances of the THREAD tables.
File& FilesFile() {
    return FILES.file;
}
File& ComputerFile() {
    return COMPUTER.file;
}

// Settings every file manager of this program gets.
void Configure(FileManager& fm) {
    fm.CREATE = 1;
    fm.LOCKRECOVER = 10;
}

// The managers, in creation order.
struct Managers {
    std::unique_ptr<FileManager> file;
    std::unique_ptr<RelationManager> relation;
};
Managers g_managers[4];

}  // namespace

SqlTable::SqlTable(std::string_view label, const STRING<256>& owner)
    : Table<SQL_RECORD>(label, SqlDriver(), "", "", FILE_CREATE, SqlFields(label)) {
    file.SetOwnerVariable(owner);
}

FilesTable::FilesTable()
    : Table<FILES_RECORD>("FILES", SqlDriver(), "", "", FILE_CREATE | FILE_THREAD, FilesFields()),
      KEYNAME_FILES(file, "FILES:KEYNAME_FILES", {"FILES:NAME"}, KEY_DUP | KEY_OPT | KEY_NOCASE),
      KEYSYSFILES(file, "FILES:KEYSYSFILES", {"FILES:SYSFILES"}, KEY_PRIMARY | KEY_OPT | KEY_NOCASE) {
    file.SetOwnerVariable(GLO::SQLOWNER);
}

ComputerTable::ComputerTable()
    : Table<COMPUTER_RECORD>("COMPUTER", SqlDriver(), "", "", FILE_CREATE | FILE_THREAD, ComputerFields()),
      KEYNAME_COMPUTER(file, "COMPUTER:KEYNAME_COMPUTER", {"COMPUTER:NAME"}, KEY_DUP | KEY_OPT | KEY_NOCASE),
      KEYSYSCOMPUTER(file, "COMPUTER:KEYSYSCOMPUTER", {"COMPUTER:SYSCOMPUTER"},
                     KEY_PRIMARY | KEY_OPT | KEY_NOCASE) {
    file.SetOwnerVariable(GLO::SQLOWNER);
}

SqlTable SQLF("SQLF", GLO::SQLOWNER);
thread_local FilesTable FILES;
thread_local ComputerTable COMPUTER;
SqlTable SQLM("SQLM", GLO::SQLMASTEROWNER);

namespace Access {
FileManager* SQLF = nullptr;
FileManager* FILES = nullptr;
FileManager* COMPUTER = nullptr;
FileManager* SQLM = nullptr;
}  // namespace Access

namespace Relate {
RelationManager* SQLF = nullptr;
RelationManager* FILES = nullptr;
RelationManager* COMPUTER = nullptr;
RelationManager* SQLM = nullptr;
}  // namespace Relate

void InitTables(ErrorManagerInterface& errors) {
    KillTables();
    for (Managers& m : g_managers) {
        m.file = std::make_unique<FileManager>();
        m.relation = std::make_unique<RelationManager>();
    }

    FileManager& sqlf = *g_managers[0].file;
    sqlf.Init(dt::SQLF.file, errors);
    Configure(sqlf);

    FileManager& files = *g_managers[1].file;
    files.Init(&FilesFile, errors);
    Configure(files);
    files.AddKey(dt::FILES.KEYNAME_FILES, "by name");
    files.AddKey(dt::FILES.KEYSYSFILES, "ID", 1);

    FileManager& computer = *g_managers[2].file;
    computer.Init(&ComputerFile, errors);
    Configure(computer);
    computer.AddKey(dt::COMPUTER.KEYNAME_COMPUTER, "by Computername");
    computer.AddKey(dt::COMPUTER.KEYSYSCOMPUTER, "ID", 1);

    FileManager& sqlm = *g_managers[3].file;
    sqlm.Init(dt::SQLM.file, errors);
    Configure(sqlm);

    for (Managers& m : g_managers) m.relation->Init(*m.file, 1);

    Access::SQLF = &sqlf;
    Access::FILES = &files;
    Access::COMPUTER = &computer;
    Access::SQLM = &sqlm;
    Relate::SQLF = g_managers[0].relation.get();
    Relate::FILES = g_managers[1].relation.get();
    Relate::COMPUTER = g_managers[2].relation.get();
    Relate::SQLM = g_managers[3].relation.get();
}

void KillTables() {
    RelationManager** relate[4] = {&Relate::SQLF, &Relate::FILES, &Relate::COMPUTER, &Relate::SQLM};
    FileManager** access[4] = {&Access::SQLF, &Access::FILES, &Access::COMPUTER, &Access::SQLM};
    for (int i = 0; i < 4; ++i) {
        Managers& m = g_managers[i];
        if (m.relation) m.relation->Kill();
        *relate[i] = nullptr;
        *access[i] = nullptr;
        m.relation.reset();
        m.file.reset();
    }
}

}  // namespace dt
