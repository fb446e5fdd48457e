// The drive scan: replaces everything the database holds about this computer's files.
// ScanDrives deletes the computer's FILES rows, walks every fixed drive directory by
// directory (ScanDirectory), stores one FILES row per file (RecordFile) and writes the
// scan's date, time and duration into the computer's COMPUTER row.
//
// The walk never follows a symbolic link, never crosses into another mount, and never
// cuts a path that is too long for its field into another path: such a directory is
// skipped and its files are counted as not stored. A directory's files are stored in one
// go, in the order the scan defines (highest attribute byte first, files before
// subdirectories), inside transactions of a few thousand rows; one hidden working window,
// reused for the whole scan, lets the window layer process pending events between
// directories at most every few hundredths of a second.
//
// Threads: call ScanDrives on the thread that owns the COMPUTER record buffer holding this
// computer's row (the main procedure's thread). The walk itself (listing directories) runs
// on a thread of its own a little ahead of the storing, which stays on the calling thread
// and keeps the walk's order. Inside the window layer's application the
// working window paces the work; outside it (tools, tests) the walk runs unpaced.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/exclude.h"
#include "app/scan_sink.h"
#include "app/scan_stop.h"
#include "app/schema.h"
#include "runtime/dirlist.h"
#include "runtime/queue.h"
#include "runtime/types.h"

namespace dt {

class ERRORLOGINTERFACE;

// Where a running scan is, for the wait window.
struct ScanProgress {
    // Files of this scan in FILES so far: rows written (new or changed) and rows that were
    // already right. Rows waiting in the open batch are not counted until it is written.
    ULONG files_stored = 0;
    ULONG dirs_walked = 0;       // directories the walk has entered (it runs ahead of the storing)
    std::string_view directory;  // the directory whose files are being stored
    std::int64_t elapsed = 0;    // hundredths of a second since the scan began
};

// What the scan shows while it runs (WIN_WAIT). Every member may be empty: then nothing
// is shown for it. All are called on the scanning thread.
struct ScanDisplay {
    std::function<void()> open;                   // open WIN_WAIT and display it
    std::function<void(std::string_view)> drive;  // L:DRIVE = text, then display it
    std::function<void(ULONG)> file_count;        // show G::FILECOUNT (1st, 101st ... file)
    // Called while files are stored, at most every kScanProgressMs milliseconds and about
    // that often while rows keep coming (a single batch write can hold it up). It may
    // take the window's events and call RequestScanCancel: the scan then stops before
    // the next directory or within kScanTurnRows rows.
    std::function<void(const ScanProgress&)> progress;
    std::function<void()> close;  // close WIN_WAIT
};

// How often the scan reports its progress, and the rows stored between two looks at the
// clock inside a directory.
inline constexpr std::int64_t kScanProgressMs = 100;
inline constexpr std::size_t kScanTurnRows = 256;

// How a ScanDrives call ended.
enum class ScanOutcome : int {
    NotRun = 0,  // not called yet
    Declined,    // the user answered the question with anything but Yes
    Refused,     // this computer has no COMPUTER row (row number 0): nothing deleted or stored
    Done,        // the scan ran to its end (see files_not_stored for rows that were lost)
    Stopped,     // the scan ended early (a signal, a root that cannot be read, a failed
                 // store): the last-scan date and time are not updated
    Cancelled,   // the user cancelled it (RequestScanCancel): as Stopped, but the program
                 // goes on and the message says "Scan cancelled!"
};

// The main procedure's locals and results that the scan uses.
struct ScanContext {
    // ---- in ----
    Queue<QDRIVE_RECORD>* QDRIVE = nullptr;  // the local drives (Part of the start-up); required
    BYTE unattended = 0;                     // "/S": no question, no message; texts go to stderr
    ScanDisplay display;                     // WIN_WAIT, or nothing
    ERRORLOGINTERFACE* log = nullptr;        // rows that could not be stored are listed here
    // This computer's whole name when it does not fit its field: the scan is refused
    // with a message naming it (a cut name could be another computer's).
    std::string name_too_long;
    // The [scan] exclude= patterns; unset: read from the settings file GLO::INIFILE when
    // the scan begins (so an edit in the setup window counts at the next scan).
    std::optional<std::string> exclude;

    // ---- out ----
    ScanOutcome outcome = ScanOutcome::NotRun;
    ULONG files_stored = 0;      // rows inserted into FILES
    ULONG files_not_stored = 0;  // files found but not stored (insert failed, path too long)
    ULONG dirs_skipped = 0;      // directories not stored because their path is too long
    WalkStats stats;             // every count of the scan (inserted, updated ... not read)
    TIME elapsed{};              // the scan's duration (also in G::ELAPSED)
    std::string message;         // the final text shown (or written to stderr with "/S")
    std::string stop_reason;     // why a Stopped scan stopped

    // Exit status for an unattended run: 0 when the scan ran and stored every file it
    // found, 1 when it was refused or declined, 2 when files were not stored, 3 when it
    // stopped (or was cancelled) before its end.
    int ExitStatus() const;
    // The unattended summary: "scan done; N files stored, M not stored" (or "scan
    // stopped; reason") and a line with every count, the exclusions' last: "N inserted,
    // ..., N directories not read, N files excluded, N directories excluded".
    std::string Summary() const;
};

// Runs the scan (the Scan button and "/S"): asks first unless unattended, refuses under
// row number 0 or a computer name too long for its field, checks that every root can be
// listed (a missing one stops the scan before anything is stored), lets the store begin
// (BeginScan), walks the fixed drives of ctx.QDRIVE (a root inside another is walked
// once; excluded files and directories are left out, an excluded root is not walked, and
// a scan whose every root is excluded stops), ends the store (FinishScan, or StopScan when
// the walk was stopped), updates the COMPUTER row after a complete scan only and shows
// "Scan done!|Time: " (plus a line with the number of files not stored when there are
// any) or a stop message; a scan cancelled through RequestScanCancel shows "Scan
// cancelled!|Time: " instead, keeps every row stored so far and the last scan as they
// were, and forgets the cancel. Failures are reported as the text says and counted in
// ctx; nothing is thrown. Needs InitTables and the COMPUTER buffer holding this
// computer's row (start-up step 15).
void ScanDrives(ScanContext& ctx);

// ---- the walk, for ScanDrives and for tests and tools ----

// Walks the tree at `path` (a directory; "/" is appended when missing) as ScanDirectory
// does: "." and ".." dropped, entries sorted by attribute, files (highest attribute first)
// handed to sink.Store before any subdirectory is entered, subdirectories depth-first from
// the end of the sorted list. A subdirectory on another file system than `path`, or a
// symbolic link, is not entered; a directory whose path (with its "/") exceeds 255 bytes
// is not stored and its files are counted as not stored. A directory whose listing fails
// for a reason other than "does not exist" is handed to sink.DirectoryNotRead and counted
// in stats.dirs_not_read. `syscomputer` goes into every row. `pace` (may be empty) runs
// before each directory's files are stored. With `exclude`, a file it excludes is not
// handed to the sink and a directory it excludes is neither listed nor entered (counted in
// stats.files_excluded and stats.dirs_excluded; `path` itself is not checked). The walk
// ends early, between directories, once a scan stop is requested. Returns 1 (the result
// the callers store and do not act on).
BYTE ScanDirectory(std::string_view path, ULONG syscomputer, ScanSink& sink, WalkStats& stats,
                   const std::function<void()>& pace = {}, const Exclusions* exclude = nullptr);

// The roots a scan walks: those of `roots` that `exclude` leaves in (a root is out when it
// or a directory above it is excluded; each counted in `excluded`), then DistinctRoots.
std::vector<std::string> WalkRoots(const std::vector<std::string>& roots, const Exclusions& exclude,
                                   ULONG* excluded = nullptr);

// The roots among `roots` (absolute, each ending in "/") that a walk must start from: a
// root that the walk of another listed root reaches (below it, on the same file system,
// through no symbolic link) is left out, so its files are not stored twice. Order kept.
std::vector<std::string> DistinctRoots(const std::vector<std::string>& roots);

// ---- the preview of the setup window: a walk that stores nothing ----

// What a scan of some roots would store, and what the exclusions leave out of it.
struct PreviewCounts {
    ULONG files = 0;          // files a scan would store
    ULONG dirs = 0;           // directories it would walk
    ULONG files_dropped = 0;  // files the exclusions leave out (all below an excluded directory)
    ULONG dirs_dropped = 0;   // directories they leave out (excluded ones and all below them)
    ULONG dirs_not_read = 0;  // directories whose listing failed
    std::string failed_root;  // why the scan would stop before storing anything ("" : it would not)
    bool cut = false;         // the walk met its bound: the counts are those up to there
    bool cancelled = false;   // the walk was cancelled: the counts are those up to there
    bool done = false;        // the walk has ended (run, cut or cancelled)

    // "N files, M directories; the exclusions drop X files and Y directories", with a
    // note when the walk was cut, cancelled, still running or would stop at a root.
    std::string Text() const;
};

// Walks `roots` (absolute, each ending in "/") as a scan would, with the same rules and
// exclusions, but stores nothing; excluded directories and roots are walked too, to count
// what they hold. Ends between directories when `cancelled` says so or once `max_files`
// files were seen; `progress` (may be empty) gets the counts so far between directories.
PreviewCounts PreviewWalk(const std::vector<std::string>& roots, const Exclusions& exclude,
                          const std::function<bool()>& cancelled, ULONG max_files,
                          const std::function<void(const PreviewCounts&)>& progress = {});

// A PreviewWalk on a thread of its own. `notify` is called on that thread whenever the
// counts change noticeably and once at the end (the setup window posts itself an event).
// The destructor cancels the walk and waits for it.
class ScanPreview {
  public:
    ScanPreview() = default;
    ~ScanPreview();
    ScanPreview(const ScanPreview&) = delete;
    ScanPreview& operator=(const ScanPreview&) = delete;

    // Starts a walk (one still running is cancelled and waited for first).
    void Start(std::vector<std::string> roots, Exclusions exclude, ULONG max_files,
               std::function<void()> notify);
    // Asks the walk to end; Counts() says cancelled once it has.
    void Cancel();
    bool CancelRequested() const { return cancel_; }
    // Runs on the walk's thread between directories (tests hold the walk there). Set it
    // before Start.
    void SetHook(std::function<void()> hook) { hook_ = std::move(hook); }
    // Waits for the walk to end.
    void Join();
    bool Running() const;
    // The counts so far (done once the walk has ended).
    PreviewCounts Counts() const;

  private:
    mutable std::mutex m_;
    PreviewCounts counts_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> running_{false};
    std::function<void()> hook_;
    std::thread thread_;
};

// The extension of a listed name (blanks at its end are no part of it): the text after its
// last dot, cut to 10 bytes at a UTF-8 boundary, without trailing blanks; "" when the
// name has no dot.
std::string ExtensionOf(std::string_view name);

// Fills `rec` for the listed entry `entry` in directory `dir` (ending with "/"): name
// exactly as listed (trailing blanks kept), extension, directory, attributes, date, time
// (an invalid time becomes 0) and size (all 64 bits). SYSFILES is left 0 for auto-numbering. False when
// the directory or name does not fit its field (the row would name another file).
bool FillFilesRecord(FILES_RECORD& rec, const DirEntryRecord& entry, std::string_view dir, ULONG syscomputer);

// The scan's duration as a standard time from the clock values (hundredths since
// midnight) at start and end. A negative difference means the scan ran past midnight and
// a day is added; equal clock values are told apart by `monotonic_hundredths` (the
// duration by a steady clock): a scan shorter than the clock's step gives 1 (00:00:00),
// one of a whole day gives a day.
LONG ScanElapsed(LONG start_clock, LONG end_clock, std::int64_t monotonic_hundredths);

}  // namespace dt
