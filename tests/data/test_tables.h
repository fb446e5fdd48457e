// Record layouts and table objects the data tests declare (the FILES and pass-through
// shapes of the application), and helpers for temporary directories and profiles.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "data/file.h"
#include "data/sql_driver.h"
#include "runtime/types.h"
#include "tests/support/temp_dir.h"

namespace dt::test {

#pragma pack(push, 1)
struct FilesRecord {
    ULONG SYSFILES;
    ULONG SYSCOMPUTER;
    CSTRING<257> NAME;
    CSTRING<11> EXTENSION;
    CSTRING<261> DIR;
    BYTE TYPE;
    union {
        STRING<8> DATE{};
        struct {
            dt::DATE DATE_DATE;
            dt::TIME DATE_TIME;
        };
    };
    ULONG SIZE;
};
struct SqlRecord {
    CSTRING<256> FELD1;
};
#pragma pack(pop)
static_assert(sizeof(FilesRecord) == 550);

inline std::vector<Field> FilesFields() {
    using R = FilesRecord;
    return {
        Field::Ulong("FILES:SYSFILES", offsetof(R, SYSFILES)),
        Field::Ulong("FILES:SYSCOMPUTER", offsetof(R, SYSCOMPUTER)),
        Field::Cstring("FILES:NAME", offsetof(R, NAME), 257),
        Field::Cstring("FILES:EXTENSION", offsetof(R, EXTENSION), 11),
        Field::Cstring("FILES:DIR", offsetof(R, DIR), 261),
        Field::Byte("FILES:TYPE", offsetof(R, TYPE)),
        Field::String("FILES:DATE", offsetof(R, DATE), 8),
        Field::Group("FILES:DATE_GROUP", offsetof(R, DATE), 8).Over("FILES:DATE"),
        Field::Date("FILES:DATE_DATE", offsetof(R, DATE_DATE)).In("FILES:DATE_GROUP"),
        Field::Time("FILES:DATE_TIME", offsetof(R, DATE_TIME)).In("FILES:DATE_GROUP"),
        Field::Ulong("FILES:SIZE", offsetof(R, SIZE)),
    };
}

// FILES with its two keys; `name` is the table name in the database.
struct FilesTable : Table<FilesRecord> {
    explicit FilesTable(const std::string& name, const std::string& driver_string = "",
                        std::uint8_t flags = FILE_CREATE)
        : Table("FILES", SqlDriver(), driver_string, name, flags, FilesFields()) {}
    Key KEYNAME_FILES{file, "FILES:KEYNAME_FILES", {"FILES:NAME"}, KEY_DUP | KEY_OPT | KEY_NOCASE};
    Key KEYSYSFILES{file, "FILES:KEYSYSFILES", {"FILES:SYSFILES"}, KEY_PRIMARY | KEY_OPT | KEY_NOCASE};
};

// A one-column pass-through table.
struct SqlTable : Table<SqlRecord> {
    explicit SqlTable(const std::string& name = "SQLF")
        : Table("SQLF", SqlDriver(), "", name, FILE_CREATE,
                {Field::Cstring("SQLF:FELD1", offsetof(SqlRecord, FELD1), 256)}) {}
};

}  // namespace dt::test
