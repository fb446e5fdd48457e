// Directory listing: fills a queue of QDIR entries with the entries of one directory that
// match a wild-card name and an attribute mask (the runtime's find-first/find-next walk).
#pragma once

#include <dirent.h>

#include <cstdint>
#include <string>
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
    CSTRING<257> NAME;     // the entry's name, exactly as the file system has it
    STRING<13> SHORTNAME;  // 8.3 alternative name: always blank here
    LONG DATE;             // last write, local time, standard date
    LONG TIME;             // last write, local time, standard time with hundredths 0
    INT64 SIZE;            // the size in bytes, all 64 bits
    BYTE ATTRIB;           // read-only 1, hidden 2, directory 16, archive 32
};
#pragma pack(pop)
// 287 bytes rather than 282: the name is NUL-terminated, so a name ending in blanks
// ("dir ") is not read as another name ("dir"), and the size keeps all 64 bits (a 5 GiB
// file is not listed as 1 GiB).
static_assert(sizeof(DirEntryRecord) == 287, "QDIR entries are 287 bytes");

// How a listing went.
enum class DirListResult {
    Ok,          // every entry was read (the directory may be empty)
    NotFound,    // the directory does not exist (any more), or a part of its path is no directory
    Unreadable,  // the directory exists but may not be read (permissions)
    Failed,      // any other failure (input/output error, out of handles, an interrupted read)
};

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
// buffer is overwritten. A pattern that matches nothing leaves the queue unchanged; an
// entry that vanishes while it is listed is skipped. Entries come
// in the order the system returns them. Returns why a listing failed: a directory that
// cannot be opened adds nothing; one whose reading broke off keeps the entries read.
DirListResult ListDirectory(Queue<DirEntryRecord>& q, std::string_view pattern, BYTE mask);

// A directory open for a walk. Its entries are read through its descriptor and its
// subdirectories are opened relative to it: no path is resolved again from the root at
// every directory (what a deep walk spends most of its system time on), and a directory
// renamed meanwhile is still the one that was opened.
class OpenDirectory {
  public:
    // Opens `name` relative to `parent`, never following a symbolic link (a walk enters
    // only what it listed as a directory); without a parent, `name` is a path, followed
    // as any path is.
    OpenDirectory(const OpenDirectory* parent, const std::string& name);
    ~OpenDirectory();
    OpenDirectory(const OpenDirectory&) = delete;
    OpenDirectory& operator=(const OpenDirectory&) = delete;

    // Ok when open; else why it could not be opened (a directory replaced by something
    // else since it was listed counts as NotFound).
    DirListResult Status() const { return status_; }
    // The file system the directory lies on (0 when it is not open).
    std::uint64_t Device() const { return device_; }
    // Appends what ListDirectory(its path + "*.*", mask) would, but "." and "..". Reads
    // the directory once; a second call adds nothing.
    DirListResult List(Queue<DirEntryRecord>& q, BYTE mask);

  private:
    DIR* dir_ = nullptr;
    DirListResult status_ = DirListResult::Ok;
    std::uint64_t device_ = 0;
};

}  // namespace dt
