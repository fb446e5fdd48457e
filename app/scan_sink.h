// The interface between the drive walk and what stores its rows: the walk hands each
// directory's files to a ScanSink (the database store in the program; collectors in tests
// and tools) and tells it which directories it could not read.
#pragma once

#include <string_view>

#include "app/schema.h"
#include "runtime/types.h"

namespace dt {

// Counters of one walk.
struct WalkStats {
    ULONG files_stored = 0;
    ULONG files_not_stored = 0;
    ULONG dirs_skipped = 0;
};

// Where the walk puts what it finds. ScanDrives stores the rows in FILES; tests and tools
// may collect them instead. A sink counts each row it takes as stored or not stored, at
// once or when the batch holding it ends.
class ScanSink {
  public:
    virtual ~ScanSink() = default;
    // A directory's files are about to be stored.
    virtual void BeginDirectory(std::string_view path) { (void)path; }
    // Takes one filled FILES record (SYSFILES 0).
    virtual void Store(const FILES_RECORD& rec, WalkStats& stats) = 0;
    // The directory's files have all been handed over (a possible batch boundary).
    virtual void EndDirectory(WalkStats& stats) { (void)stats; }
    // The listing of `path` (a directory, ending with "/") failed for a reason other than
    // "does not exist": rows stored earlier under it, and under its subdirectories, are
    // kept when a complete scan removes the rows of files it did not see.
    virtual void DirectoryNotRead(std::string_view path) { (void)path; }
};

}  // namespace dt
