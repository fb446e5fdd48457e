// Directory listing: fills a queue of QDIR entries with the entries of one directory that
// match a wild-card name and an attribute mask (the runtime's find-first/find-next walk).
#pragma once

#include <string_view>

#include "runtime/queue.h"
#include "runtime/types.h"

namespace dt {

// Attribute bits of a listed entry.
enum : BYTE {
    kAttrReadOnly = 1,
    kAttrHidden = 2,
    kAttrSystem = 4,
    kAttrDirectory = 16,
    kAttrArchive = 32,
};

#pragma pack(push, 1)
// One entry of a directory listing (the layout of QDIR).
struct DirEntryRecord {
    STRING<256> NAME;      // the entry's name
    STRING<13> SHORTNAME;  // 8.3 alternative name: always blank here
    LONG DATE;             // last write, local time, standard date
    LONG TIME;             // last write, local time, standard time with hundredths 0
    LONG SIZE;             // low 32 bits of the size in bytes
    BYTE ATTRIB;           // read-only 1, hidden 2, directory 16, archive 32
};
#pragma pack(pop)
static_assert(sizeof(DirEntryRecord) == 282, "QDIR entries are 282 bytes");

// True when an entry with attributes `attrib` is admitted under `mask`: with c and m the
// hidden, system and directory bits (16h) of each, m == 0 admits c == 0 only; otherwise
// c == 0 or c & m admits it. Mask 23 admits everything.
bool DirEntryAdmitted(BYTE attrib, BYTE mask);

// True when `name` matches the wild-card name `wild`: "*.*" matches every name, otherwise
// "*" stands for any run of bytes and "?" for one byte; everything else (brackets too)
// matches itself, case-sensitively.
bool DirNameMatches(std::string_view wild, std::string_view name);

// Appends to q one entry per admitted directory entry whose name matches the pattern, a
// directory path followed by a wild-card name ("/a/b/*.*"; no "/" means the current
// directory). "." and ".." are directories (16, not hidden). Symbolic links are listed
// with their own data and never followed. The queue is not emptied first; the queue's
// buffer is overwritten. An unreadable directory or a pattern that matches nothing leaves
// the queue unchanged; an entry that vanishes while it is listed is skipped. Entries come
// in the order the system returns them.
void ListDirectory(Queue<DirEntryRecord>& q, std::string_view pattern, BYTE mask);

}  // namespace dt
