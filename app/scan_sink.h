// The interface between the drive walk and what stores its rows: the walk hands each
// directory's files to a ScanSink (the database store in the program; collectors in tests
// and tools) and tells it which directories it could not read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/schema.h"
#include "runtime/types.h"

namespace dt {

// Counters of one walk.
struct WalkStats {
    ULONG files_stored = 0;      // this computer's rows the scan leaves in FILES
    ULONG files_not_stored = 0;  // files found but not stored
    ULONG dirs_skipped = 0;      // directories whose path is too long to store
    // What the store did (each row once): new rows, changed rows written in place, rows of
    // files that are gone, rows left as they were.
    ULONG rows_inserted = 0;
    ULONG rows_updated = 0;
    ULONG rows_deleted = 0;
    ULONG rows_unchanged = 0;
    ULONG dirs_not_read = 0;  // directories whose listing failed (not "does not exist")
    // Exclusions ([scan] exclude=): the files and directories a pattern matched, left out of
    // the walk; a preview walk also counts everything below an excluded directory.
    ULONG files_excluded = 0;
    ULONG dirs_excluded = 0;
    // Up to kLostShown rows that could not be stored, as directory + name, and the
    // server's reason for the first of them.
    static constexpr std::size_t kLostShown = 20;
    std::vector<std::string> lost;
    std::string first_failure;

    // Notes a row that was not stored (the count is the caller's): its path joins `lost`
    // while there is room; `reason` is kept for the first one.
    void NoteLost(std::string_view dir, std::string_view name, std::string_view reason = {}) {
        if (lost.empty() && first_failure.empty()) first_failure = reason;
        if (lost.size() < kLostShown) lost.push_back(std::string(dir) + std::string(name));
    }
};

// Where the walk puts what it finds. ScanDrives stores the rows in FILES; tests and tools
// may collect them instead. A sink counts each row it takes as stored or not stored, at
// once or when the batch holding it ends.
class ScanSink {
  public:
    virtual ~ScanSink() = default;
    // A directory's files are about to be stored. A directory with many files may come in
    // several parts, each between BeginDirectory and EndDirectory with the same path.
    virtual void BeginDirectory(std::string_view path) { (void)path; }
    // Takes one filled FILES record (SYSFILES 0).
    virtual void Store(const FILES_RECORD& rec, WalkStats& stats) = 0;
    // The directory's files have all been handed over (a possible batch boundary).
    virtual void EndDirectory(WalkStats& stats) { (void)stats; }
    // The listing of `path` (a directory, ending with "/") failed for a reason other than
    // "does not exist": rows stored earlier under it, and under its subdirectories, are
    // kept when a complete scan removes the rows of files it did not see.
    virtual void DirectoryNotRead(std::string_view path) { (void)path; }

    // ---- the scan around the walk (ScanDrives calls these; a walk alone does not) ----
    // The scan of computer `syscomputer` begins, before any directory. False when the
    // sink cannot store (stats.first_failure says why): the scan stops before the walk.
    virtual bool BeginScan(ULONG syscomputer, WalkStats& stats) {
        (void)syscomputer;
        (void)stats;
        return true;
    }
    // The walk saw everything it was to see: the last batch is stored and rows of files
    // the walk did not see may go. False when storing failed (the scan then counts as
    // stopped).
    virtual bool FinishScan(WalkStats& stats) {
        (void)stats;
        return true;
    }
    // The scan stops early (a signal, a root that cannot be read, a failure): the current
    // batch is committed or rolled back, nothing is deleted.
    virtual void StopScan(WalkStats& stats) { (void)stats; }
};

}  // namespace dt
