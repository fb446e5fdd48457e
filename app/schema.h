// Record layouts of the application's tables and the entry layouts of its queues.
// Every layout is packed and has the exact size the database declarations and the
// queues were designed with, except where a comment at the size check says why it grew;
// GROUP ... OVER is an anonymous union.
#pragma once

#include <cstddef>

#include "runtime/types.h"

namespace dt {

#pragma pack(push, 1)

// One row per computer whose drives were scanned.
struct COMPUTER_RECORD {
    ULONG SYSCOMPUTER;     // row number, assigned by auto-numbering on insert
    CSTRING<41> NAME;      // the computer's network name
    CSTRING<11> SCANTIME;  // duration of the last scan, "T4" (hh:mm:ss)
    union {                // one timestamp column in the database
        STRING<8> LASTSCAN{};
        struct {  // LASTSCAN_GROUP, OVER LASTSCAN
            DATE LASTSCAN_DATE;
            TIME LASTSCAN_TIME;
        };
    };
    ULONG DRIVES;  // bit mask of the drives present when the row was created
};

// One row per file found by a scan.
struct FILES_RECORD {
    ULONG SYSFILES;         // row number, assigned by auto-numbering on insert
    ULONG SYSCOMPUTER;      // COMPUTER.SYSCOMPUTER of the computer the file lies on
    CSTRING<257> NAME;      // full name with extension, without directory
    CSTRING<11> EXTENSION;  // text after the last dot of the name
    CSTRING<261> DIR;       // directory from the drive root, ending with the separator
    BYTE TYPE;              // attribute byte (read-only 1, hidden 2, system 4, archive 32)
    union {                 // one timestamp column in the database
        STRING<8> DATE{};
        struct {  // DATE_GROUP, OVER DATE
            dt::DATE DATE_DATE;
            dt::TIME DATE_TIME;
        };
    };
    INT64 SIZE;  // size in bytes, all 64 bits
};

// The pass-through tables SQLM and SQLF: one column, the first column of a result row.
struct SQL_RECORD {
    CSTRING<256> FELD1;
};

// The main window's computer list.
struct QCOMPUTER_RECORD {
    CSTRING<33> NAME;   // computer name, or "all computers" for the first entry
    dt::DATE DATE;      // date of the last scan
    dt::TIME TIME;      // time of the last scan
    ULONG SYSCOMPUTER;  // the computer's row number; 0 for "all computers"
    BYTE MARK;
    CSTRING<7> DAYS;      // whole days since the last scan ("" when never scanned)
    LONG C1, C2, C3, C4;  // colours of the name: fore, back, selected fore, back
};

// The drives of this computer. A drive's root is a mount point here ("/home/"), so the
// root field holds a whole path rather than a drive letter, colon and separator.
struct QDRIVE_RECORD {
    CSTRING<261> DRIVE;      // root path of the drive
    CSTRING<40> DESCIPTION;  // text for the drive type
    BYTE TYPE;               // drive type code (0 .. 6)
};

// The search results.
struct QFILES_RECORD {
    CSTRING<128> NAME;    // file name as listed (a longer name is cut for the list only)
    LONG C1, C2, C3, C4;  // colours of the name column: fore, back, selected fore, back
    CSTRING<11> EXTENSION;
    CSTRING<260> DIR;
    dt::DATE DATE;
    dt::TIME TIME;
    INT64 SIZE;            // all 64 bits
    CSTRING<32> COMPUTER;  // name of the computer the file was found on
    ULONG SYSCOMPUTER;     // that computer's row number
};

#pragma pack(pop)

static_assert(sizeof(COMPUTER_RECORD) == 68);
// 554: SIZE holds the whole 64-bit size (a 32-bit field stored a 5 GiB file as 1 GiB and
// made size searches wrong from 4 GiB on); the column was BIGINT already.
static_assert(sizeof(FILES_RECORD) == 554);
static_assert(sizeof(SQL_RECORD) == 256);
static_assert(sizeof(QCOMPUTER_RECORD) == 69);  // 46, the days and the name's colours
static_assert(sizeof(QDRIVE_RECORD) == 302);    // 46 with a 5-byte drive letter root
static_assert(sizeof(QFILES_RECORD) == 467);    // 463 with a 32-bit SIZE
static_assert(offsetof(FILES_RECORD, DATE_TIME) == offsetof(FILES_RECORD, DATE) + 4);
static_assert(offsetof(COMPUTER_RECORD, DRIVES) == 64);

}  // namespace dt
