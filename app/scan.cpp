#include "app/scan.h"

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/exclude.h"
#include "app/globals.h"
#include "app/scan_store.h"
#include "app/tables.h"
#include "framework/error_log.h"
#include "data/statements.h"
#include "platform/drives.h"
#include "runtime/errors.h"
#include "runtime/picture.h"
#include "runtime/stddate.h"
#include "ui/application.h"
#include "ui/window.h"

namespace dt {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A directory path (with its separator) longer than this does not fit the scan's path
// variable, CSTRING(256).
constexpr std::size_t kMaxScanPath = 255;
// Bytes of the extension field, CSTRING(11).
constexpr std::size_t kMaxExtension = 10;
constexpr BYTE kScanMask = 23;  // read-only, hidden, system and directory admitted
// The window layer gets a turn at most this often; within one large directory every
// kPaceFiles files as well.
constexpr auto kPaceInterval = std::chrono::milliseconds(20);
constexpr std::size_t kPaceFiles = 2048;
constexpr auto kProgressInterval = std::chrono::milliseconds(kScanProgressMs);
// A directory with more files goes to the store in parts of this many rows (each between
// BeginDirectory and EndDirectory), so that the store's batches stay small and a cancel
// or the elapsed time never waits for one huge write. A multiple of kScanTurnRows.
constexpr std::size_t kScanPartRows = 1024;
// The levels of a walk that keep their directory open for their subdirectories.
constexpr int kHeldDirectories = 64;
static_assert(kScanPartRows % kScanTurnRows == 0);

bool IsDotEntry(const DirEntryRecord& e) {
    if ((e.ATTRIB & kAttrDirectory) == 0) return false;
    std::string_view n = e.NAME.View();
    return n == "." || n == "..";
}

// The walk of ScanDirectory over one drive: the file system it stays on, where rows go,
// what it counts, what it leaves out. An excluded file is not handed to the sink and an
// excluded directory is not listed at all (so it is never "not read"), unless
// `walk_excluded` (the preview) has the walk go through it to count what it holds.
class Walker {
  public:
    Walker(ULONG syscomputer, ScanSink& sink, WalkStats& stats, const std::function<void()>& pace,
           std::function<bool()> stop = {}, const Exclusions* exclude = nullptr, bool walk_excluded = false)
        : syscomputer_(syscomputer),
          sink_(sink),
          stats_(stats),
          pace_(pace),
          stop_(std::move(stop)),
          exclude_(exclude != nullptr && !exclude->Empty() ? exclude : nullptr),
          walk_excluded_(walk_excluded) {}

    // Counts every directory the walk enters in `n` (read by another thread).
    void CountEntered(std::atomic<ULONG>* n) { entered_ = n; }

    // Walks the tree; returns how the root's own listing went.
    DirListResult Walk(std::string_view path_in) {
        std::string path(path_in);
        if (path.empty() || path.back() != '/') path += '/';
        device_ = platform::FileSystemId(path);
        if (!device_) return DirListResult::NotFound;  // the root cannot be examined
        return Directory(path);
    }

    // Counts what the tree at `path_in` holds as excluded (a preview of an excluded root).
    DirListResult WalkExcluded(std::string_view path_in) {
        std::string path(path_in);
        if (path.empty() || path.back() != '/') path += '/';
        device_ = platform::FileSystemId(path);
        if (!device_) return DirListResult::NotFound;
        return Excluded(path);
    }

  private:
    bool Stopping() const { return ScanStopRequested() || (stop_ && stop_()); }

    // One directory: its files first (when its path fits), then its subdirectories.
    // Below the root, `parent` is the open directory that listed it as `name` (null deep
    // down, where directories are opened by their paths).
    DirListResult Directory(const std::string& path, const OpenDirectory* parent = nullptr,
                            const std::string& name = {}) {
        if (Stopping()) return DirListResult::Ok;
        std::optional<OpenDirectory> dir(std::in_place, parent, parent != nullptr ? name : path);
        // Never into another mount; a directory gone since its parent was listed has no
        // rows to keep.
        if (depth_ > 0 && (dir->Status() == DirListResult::NotFound ||
                           (dir->Status() == DirListResult::Ok && dir->Device() != *device_)))
            return DirListResult::Ok;
        if (entered_) entered_->fetch_add(1, std::memory_order_relaxed);
        const bool fits = path.size() <= kMaxScanPath;
        if (!fits) ++stats_.dirs_skipped;

        Queue<DirEntryRecord> qdir;
        const DirListResult listed = dir->List(qdir, kScanMask);
        // One that could not be read (whole) keeps the rows stored under it before.
        if (listed != DirListResult::Ok && listed != DirListResult::NotFound) {
            ++stats_.dirs_not_read;
            sink_.DirectoryNotRead(path);
        }
        qdir.Sort(&DirEntryRecord::ATTRIB);

        // Files, from the end of the sorted list: the highest attribute byte first.
        std::vector<std::string> subdirs;
        const std::size_t n = qdir.Records();
        if (fits && n > 0) {
            if (pace_) pace_();
            sink_.BeginDirectory(path);
        }
        std::size_t since_pace = 0;
        for (std::size_t i = n; i >= 1; --i) {
            qdir.Get(i);
            if (qdir.ATTRIB & kAttrDirectory) {
                subdirs.emplace_back(qdir.NAME.View());
                continue;
            }
            if (exclude_ != nullptr && exclude_->ExcludesEntry(path, qdir.NAME.View(), false)) {
                ++stats_.files_excluded;
                continue;
            }
            if (!fits) {
                ++stats_.files_not_stored;
                continue;
            }
            if (pace_ && ++since_pace == kPaceFiles) {
                since_pace = 0;
                pace_();
            }
            RecordFile(qdir, path);
        }
        if (fits && n > 0) sink_.EndDirectory(stats_);
        qdir.Free();
        // Each level of the walk holds its directory open for its subdirectories; past
        // kHeldDirectories levels they are opened by their paths, so that a very deep
        // tree never runs out of descriptors.
        if (depth_ + 1 >= kHeldDirectories) dir.reset();

        // Subdirectories, depth-first, from the end of the sorted list. An excluded one
        // is not even looked at (it may be a mount that hangs), unless the preview counts
        // what it holds.
        for (const std::string& sub_name : subdirs) {
            if (Stopping()) break;
            const bool excluded = exclude_ != nullptr && exclude_->ExcludesEntry(path, sub_name, true);
            if (excluded && !walk_excluded_) {
                ++stats_.dirs_excluded;
                continue;
            }
            std::string sub = path + sub_name + '/';
            if (excluded) {
                std::optional<std::uint64_t> dev = platform::FileSystemId(sub);
                if (dev && *dev == *device_) Excluded(sub);
                continue;
            }
            ++depth_;
            Directory(sub, dir ? &*dir : nullptr, sub_name);
            --depth_;
        }
        return listed;
    }

    // A directory the exclusions leave out, walked by the preview only: it and everything
    // below it (on the same file system) is counted as excluded; nothing is stored.
    DirListResult Excluded(const std::string& path) {
        if (Stopping()) return DirListResult::Ok;
        ++stats_.dirs_excluded;
        Queue<DirEntryRecord> qdir;
        const DirListResult listed = ListDirectory(qdir, path + "*.*", kScanMask);
        std::vector<std::string> subdirs;
        for (std::size_t i = qdir.Records(); i >= 1; --i) {
            qdir.Get(i);
            if (IsDotEntry(qdir)) continue;
            if (qdir.ATTRIB & kAttrDirectory)
                subdirs.emplace_back(qdir.NAME.View());
            else
                ++stats_.files_excluded;
        }
        qdir.Free();
        for (const std::string& name : subdirs) {
            if (Stopping()) break;
            std::string sub = path + name + '/';
            std::optional<std::uint64_t> dev = platform::FileSystemId(sub);
            if (dev && *dev == *device_) Excluded(sub);
        }
        return listed;
    }

    void RecordFile(const DirEntryRecord& entry, const std::string& path) {
        if (!FillFilesRecord(rec_, entry, path, syscomputer_)) {
            ++stats_.files_not_stored;
            return;
        }
        sink_.Store(rec_, stats_);
    }

    ULONG syscomputer_;
    ScanSink& sink_;
    WalkStats& stats_;
    const std::function<void()>& pace_;
    const std::function<bool()> stop_;
    const Exclusions* exclude_;
    const bool walk_excluded_;
    std::optional<std::uint64_t> device_;
    std::atomic<ULONG>* entered_ = nullptr;
    int depth_ = 0;  // of the directory being walked below its root
    FILES_RECORD rec_{};
};

// One directory's rows as the walk found them, handed from the walking thread to the
// storing one; or the start of a drive; or a directory that could not be read. A row is
// kept in a few dozen bytes rather than the 560 of its record: the directory is the
// batch's path (the walk gives every row of a directory its path), the name and the
// extension lie in `texts`. The walk runs up to kAheadRows ahead of the storing, and a
// first scan's storing pauses for its index steps: this is the memory that runs ahead.
struct DirBatch {
    enum Kind { Files, Drive, NotRead };
    std::string path;  // the directory, or the drive's root
    Kind kind = Files;

    std::size_t Rows() const { return rows_.size(); }
    void Add(const FILES_RECORD& rec) {
        const std::string_view name = rec.NAME.View(), ext = rec.EXTENSION.View();
        Row r;
        r.text_at = static_cast<std::uint32_t>(texts_.size());
        r.name_len = static_cast<std::uint16_t>(name.size());
        r.ext_len = static_cast<std::uint8_t>(ext.size());
        r.type = rec.TYPE;
        r.syscomputer = rec.SYSCOMPUTER;
        std::memcpy(r.stamp, &rec.DATE, sizeof r.stamp);
        r.size = rec.SIZE;
        texts_.append(name).append(ext);
        rows_.push_back(r);
    }
    // Row i as the walk made it.
    void Get(std::size_t i, FILES_RECORD& rec) const {
        const Row& r = rows_[i];
        std::memset(static_cast<void*>(&rec), 0, sizeof rec);
        rec.SYSCOMPUTER = r.syscomputer;
        rec.NAME = std::string_view(texts_).substr(r.text_at, r.name_len);
        rec.EXTENSION = std::string_view(texts_).substr(r.text_at + r.name_len, r.ext_len);
        rec.DIR = path;
        rec.TYPE = r.type;
        std::memcpy(&rec.DATE, r.stamp, sizeof r.stamp);
        rec.SIZE = r.size;
    }

  private:
    struct Row {
        std::uint32_t text_at;
        std::uint16_t name_len;
        std::uint8_t ext_len;
        BYTE type;
        ULONG syscomputer;
        char stamp[sizeof(FILES_RECORD::DATE)];  // the date and the time
        INT64 size;
    };
    static_assert(sizeof(FILES_RECORD::NAME) <= 0x10000 && sizeof(FILES_RECORD::EXTENSION) <= 0x100);
    std::string texts_;
    std::vector<Row> rows_;
};

// The bounded hand-over between the walk and the storing: the walk lists directories
// while the rows of earlier ones are stored, and never runs more than kAheadRows ahead.
// Directories go over in groups of about kGroupRows rows: one hand-over (a lock, perhaps a
// wake-up of the other thread) per directory would cost more than storing its few rows.
class BatchChannel {
  public:
    static constexpr std::size_t kAheadRows = 20000;
    static constexpr std::size_t kGroupRows = 1000;
    using Group = std::vector<DirBatch>;

    // Waits for room; false when the reader has gone.
    bool Push(Group&& g) {
        std::size_t rows = 0;
        for (const DirBatch& b : g) rows += b.Rows();
        std::unique_lock lock(m_);
        room_.wait(lock, [&] { return Cancelled() || rows_ < kAheadRows; });
        if (Cancelled()) return false;
        rows_ += rows;
        q_.emplace_back(std::move(g), rows);
        ready_.notify_one();
        return true;
    }
    // Waits for the next group; false when the walk has ended and everything was taken.
    bool Pop(Group& out) {
        std::unique_lock lock(m_);
        ready_.wait(lock, [&] { return closed_ || !q_.empty(); });
        if (q_.empty()) return false;
        out = std::move(q_.front().first);
        rows_ -= q_.front().second;
        q_.pop_front();
        room_.notify_one();
        return true;
    }
    // The walk has ended.
    void Close() {
        std::lock_guard lock(m_);
        closed_ = true;
        ready_.notify_all();
    }
    // The reader stops taking batches: a waiting walk gives up.
    void Cancel() {
        std::lock_guard lock(m_);
        cancelled_.store(true, std::memory_order_relaxed);
        room_.notify_all();
    }
    // Read by the walk at every directory: no lock.
    bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

  private:
    std::mutex m_;
    std::condition_variable ready_, room_;
    std::deque<std::pair<Group, std::size_t>> q_;  // groups with their row counts
    std::size_t rows_ = 0;
    bool closed_ = false;
    std::atomic<bool> cancelled_{false};
};

// Collects directories' rows on the walking thread and hands them over in groups, in the
// walk's order.
class ChannelSink final : public ScanSink {
  public:
    explicit ChannelSink(BatchChannel& channel) : channel_(channel) {}
    void BeginDirectory(std::string_view path) override {
        DirBatch& b = group_.emplace_back();
        b.path = path;
    }
    void Store(const FILES_RECORD& rec, WalkStats&) override {
        group_.back().Add(rec);
        ++group_rows_;
    }
    void EndDirectory(WalkStats&) override {
        if (group_.back().Rows() == 0) group_.pop_back();
        if (group_rows_ >= BatchChannel::kGroupRows) Send();
    }
    void DirectoryNotRead(std::string_view path) override {
        DirBatch& b = group_.emplace_back();
        b.kind = DirBatch::NotRead;
        b.path = path;
    }
    // Hands over what was collected; false when the reader has gone.
    bool Send() {
        if (group_.empty()) return true;
        const bool taken = channel_.Push(std::move(group_));
        group_.clear();
        group_rows_ = 0;
        return taken;
    }

  private:
    BatchChannel& channel_;
    BatchChannel::Group group_;
    std::size_t group_rows_ = 0;
};

// The walk of the fixed drives on a thread of its own (it touches no table and no
// window). It ends early when a stop is requested, when the storing side stops taking
// batches, or when a root cannot be listed (failed_root). Its counters are read after
// Join.
class WalkThread {
  public:
    WalkThread(std::vector<std::string> roots, ULONG syscomputer, BatchChannel& channel,
               const Exclusions& exclude)
        : channel_(channel), thread_([this, roots = std::move(roots), syscomputer, &exclude] {
              ChannelSink sink(channel_);
              const std::function<void()> no_pace;
              const std::function<bool()> cancelled = [this] { return channel_.Cancelled(); };
              for (const std::string& root : roots) {
                  DirBatch start;
                  start.path = root;
                  start.kind = DirBatch::Drive;
                  BatchChannel::Group group;
                  group.push_back(std::move(start));
                  if (!channel_.Push(std::move(group))) break;
                  Walker walker(syscomputer, sink, stats_, no_pace, cancelled, &exclude);
                  walker.CountEntered(&entered_);
                  const DirListResult r = walker.Walk(root);
                  if (!sink.Send()) break;
                  if (r != DirListResult::Ok) {
                      failed_root_ = root;
                      failure_ = r;
                      break;
                  }
                  if (ScanStopRequested() || channel_.Cancelled()) break;
              }
              channel_.Close();
          }) {}
    ~WalkThread() {
        channel_.Cancel();
        Join();
    }
    WalkThread(const WalkThread&) = delete;
    WalkThread& operator=(const WalkThread&) = delete;

    const WalkStats& Join() {
        if (thread_.joinable()) thread_.join();
        return stats_;
    }
    // Directories entered so far (any thread, any time).
    ULONG DirsEntered() const { return entered_.load(std::memory_order_relaxed); }
    // After Join: the root whose listing failed ("" when none) and how.
    const std::string& FailedRoot() const { return failed_root_; }
    DirListResult Failure() const { return failure_; }

  private:
    BatchChannel& channel_;
    WalkStats stats_;
    std::atomic<ULONG> entered_{0};
    std::string failed_root_;
    DirListResult failure_ = DirListResult::Ok;
    std::thread thread_;
};

// The working window: hidden right after it is opened, never shown, reused for the whole
// scan. Its event loop runs until its next timer event whenever the window layer is due a
// turn, so pending events are processed while files are stored.
class WorkingWindow {
  public:
    WorkingWindow() : window_(Definition()) {
        if (!ui::Application::Running()) return;
        if (window_.Open() != 0) return;
        window_.Hide();
        open_ = true;
    }
    ~WorkingWindow() { window_.Close(); }
    WorkingWindow(const WorkingWindow&) = delete;
    WorkingWindow& operator=(const WorkingWindow&) = delete;

    // Gives the window layer a turn when the last one is kPaceInterval ago.
    void Pace() {
        if (!open_) return;
        auto now = SteadyClock::now();
        if (now - last_ < kPaceInterval) return;
        while (window_.NextEvent()) {
            if (window_.CurrentEvent() == ui::Event::Timer) {
                last_ = SteadyClock::now();
                return;
            }
        }
        open_ = false;  // the loop was ended (the application closes down): stop pacing
    }

  private:
    static ui::WindowDef Definition() {
        ui::WindowDef def;
        def.label = "WINDOW";
        def.title = "";
        def.timer = 1;
        def.at = {0, 0, 100, 30};
        def.Add(ui::StringDef("Processing...", {4, 4, 90, 10}));  // STRING2
        def.Add(ui::StringDef("String 1", {4, 16, 90, 10}));      // STRING1
        return def;
    }

    ui::Window window_;
    bool open_ = false;
    SteadyClock::time_point last_{};
};

// Shows a text to the user, or writes it to standard error in an unattended run.
void Tell(const ScanContext& ctx, std::string_view text, std::string_view caption, ui::MessageIcon icon) {
    if (ctx.unattended) {
        std::string line(text);
        for (char& c : line)
            if (c == '|') c = '\n';
        std::fprintf(stderr, "%s\n", line.c_str());
        return;
    }
    ui::Message(text, caption, icon, ui::button::Ok);
}

}  // namespace

int ScanContext::ExitStatus() const {
    switch (outcome) {
        case ScanOutcome::Done:
            return files_not_stored > 0 ? 2 : 0;
        case ScanOutcome::Stopped:
        case ScanOutcome::Cancelled:
            return 3;
        case ScanOutcome::NotRun:
        case ScanOutcome::Declined:
        case ScanOutcome::Refused:
            break;
    }
    return 1;
}

std::string ScanContext::Summary() const {
    std::string out;
    if (outcome == ScanOutcome::Done)
        out = "scan done; " + std::to_string(files_stored) + " files stored, " +
              std::to_string(files_not_stored) + " not stored";
    else if (outcome == ScanOutcome::Stopped)
        out = "scan stopped; " + stop_reason;
    else if (outcome == ScanOutcome::Cancelled)
        out = "scan cancelled; " + std::to_string(files_stored) + " files stored, " +
              std::to_string(files_not_stored) + " not stored";
    else
        return "scan not run; " + std::to_string(files_stored) + " files stored, " +
               std::to_string(files_not_stored) + " not stored";
    out += "\n" + std::to_string(stats.rows_inserted) + " inserted, " + std::to_string(stats.rows_updated) +
           " updated, " + std::to_string(stats.rows_deleted) + " deleted, " +
           std::to_string(stats.rows_unchanged) + " unchanged, " + std::to_string(files_not_stored) +
           " not stored, " + std::to_string(stats.dirs_not_read) + " directories not read, " +
           std::to_string(stats.files_excluded) + " files excluded, " + std::to_string(stats.dirs_excluded) +
           " directories excluded";
    return out;
}

std::string ExtensionOf(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string_view rest = name.substr(dot + 1);
    rest = rest.substr(0, Utf8CutLength(rest, kMaxExtension));
    return std::string(Clip(rest));
}

bool FillFilesRecord(FILES_RECORD& rec, const DirEntryRecord& entry, std::string_view dir,
                     ULONG syscomputer) {
    std::string_view name = entry.NAME.View();
    if (dir.size() >= sizeof(rec.DIR) || name.size() >= sizeof(rec.NAME)) return false;
    std::memset(static_cast<void*>(&rec), 0, sizeof rec);
    rec.SYSCOMPUTER = syscomputer;
    rec.NAME = name;
    rec.EXTENSION = ExtensionOf(name);
    rec.DIR = dir;
    rec.TYPE = entry.ATTRIB;
    rec.DATE_DATE = DATE::FromStandard(entry.DATE);
    rec.DATE_TIME = TIME::FromStandard(entry.TIME);
    rec.SIZE = entry.SIZE;
    return true;
}

LONG ScanElapsed(LONG start_clock, LONG end_clock, std::int64_t monotonic_hundredths) {
    LONG diff = end_clock - start_clock;
    // Equal clock values: a scan shorter than the clock's step, or one of exactly a day.
    if (diff == 0) return monotonic_hundredths < kMaxStandardTime / 2 ? 1 : kMaxStandardTime;
    if (diff < 0) diff += kMaxStandardTime;  // past midnight
    return diff;
}

BYTE ScanDirectory(std::string_view path, ULONG syscomputer, ScanSink& sink, WalkStats& stats,
                   const std::function<void()>& pace, const Exclusions* exclude) {
    Walker walker(syscomputer, sink, stats, pace, {}, exclude);
    walker.Walk(path);
    return 1;
}

std::vector<std::string> WalkRoots(const std::vector<std::string>& roots, const Exclusions& exclude,
                                   ULONG* excluded) {
    std::vector<std::string> kept;
    for (const std::string& root : roots) {
        if (exclude.ExcludesPath(root, true)) {
            if (excluded != nullptr) ++*excluded;
            continue;
        }
        kept.push_back(root);
    }
    return DistinctRoots(kept);
}

std::vector<std::string> DistinctRoots(const std::vector<std::string>& roots) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < roots.size(); ++i) {
        bool reached = false;
        for (std::size_t j = 0; j < roots.size() && !reached; ++j) {
            // Equal roots: the first one is walked.
            if (roots[j] == roots[i]) {
                reached = j < i;
                continue;
            }
            reached = platform::WalkReaches(roots[j], roots[i]);
        }
        if (!reached) out.push_back(roots[i]);
    }
    return out;
}

namespace {

// The fixed drives' roots, each once, without the excluded ones (counted in `excluded`).
std::vector<std::string> RootsOf(const ScanContext& ctx, const Exclusions& exclude, ULONG& excluded) {
    std::vector<std::string> roots;
    if (Queue<QDRIVE_RECORD>* qdrive = ctx.QDRIVE) {
        for (std::size_t i = 1; i <= qdrive->Records(); ++i) {
            qdrive->Get(i);
            if (qdrive->TYPE == platform::kDriveFixed) roots.emplace_back(qdrive->DRIVE.View());
        }
    }
    return WalkRoots(roots, exclude, &excluded);
}

std::string RootFailureText(const std::string& root, DirListResult why) {
    switch (why) {
        case DirListResult::NotFound:
            return "the root " + root + " does not exist";
        case DirListResult::Unreadable:
            return "the root " + root + " cannot be read (permission denied)";
        default:
            return "the root " + root + " cannot be read";
    }
}

// The rows that could not be stored, on standard error and in the error log.
void ReportLost(const ScanContext& ctx) {
    const WalkStats& s = ctx.stats;
    if (ctx.files_not_stored == 0) return;
    std::vector<std::string> lines;
    lines.push_back(std::to_string(ctx.files_not_stored) + " files not stored" +
                    (s.first_failure.empty() ? std::string() : "; the first because: " + s.first_failure));
    for (const std::string& path : s.lost) lines.push_back("not stored: " + path);
    if (ctx.files_not_stored > s.lost.size())
        lines.push_back("... and " + std::to_string(ctx.files_not_stored - s.lost.size()) + " more");
    for (const std::string& line : lines) std::fprintf(stderr, "drivetrek: %s\n", line.c_str());
    std::fflush(stderr);
    if (ctx.log != nullptr && ctx.log->Open(0) == 0) {
        for (const std::string& line : lines) ctx.log->WriteLine("scan: " + line);
        ctx.log->Close(0);
    }
}

// Ends a scan that stopped before its end: the reason kept, shown unless a stop was
// asked from outside (the program is closing then).
void Stop(ScanContext& ctx, std::string reason) {
    ctx.outcome = ScanOutcome::Stopped;
    ctx.stop_reason = std::move(reason);
    ctx.files_stored = ctx.stats.files_stored;
    ctx.files_not_stored = ctx.stats.files_not_stored;
    ctx.dirs_skipped = ctx.stats.dirs_skipped;
    ctx.message = "Scan stopped: " + ctx.stop_reason + ".|The computer's last scan stays as it was.";
    if (ctx.unattended) {
        Tell(ctx, ctx.message, "scan", ui::MessageIcon::Stop);  // the summary follows on stdout
        return;
    }
    if (!ScanStopRequested()) ui::Message(ctx.message, "Scan Drive", ui::MessageIcon::Stop, ui::button::Ok);
}

}  // namespace

void ScanDrives(ScanContext& ctx) {
    // A cancel belongs to one scan: none is left over from before, none outlives this one.
    ClearScanCancel();
    struct CancelEnds {
        ~CancelEnds() { ClearScanCancel(); }
    } cancel_ends;
    ctx.files_stored = ctx.files_not_stored = ctx.dirs_skipped = 0;
    ctx.stats = WalkStats{};
    ctx.message.clear();
    ctx.stop_reason.clear();

    if (!ctx.name_too_long.empty()) {
        // A name cut to its field could be another computer's: that computer's rows would
        // be replaced by this one's.
        ctx.outcome = ScanOutcome::Stopped;
        ctx.stop_reason = "the computer name \"" + ctx.name_too_long + "\" is longer than " +
                          std::to_string(sizeof(COMPUTER_RECORD::NAME) - 1) + " bytes";
        ctx.message = "The computer name \"" + ctx.name_too_long + "\" is longer than " +
                      std::to_string(sizeof(COMPUTER_RECORD::NAME) - 1) +
                      " bytes.|The scan was not started: set DRIVETREK_COMPUTERNAME to a shorter name.";
        Tell(ctx, ctx.message, "scan", ui::MessageIcon::Stop);
        return;
    }
    // A scan under row number 0, or under the number of a row that was deleted behind the
    // program, would delete and store rows that belong to no computer. (A row that cannot
    // be read leaves the buffer cleared, so later scans refuse as well.)
    const bool have_row = Access::FILES != nullptr && Access::COMPUTER != nullptr &&
                          Relate::FILES != nullptr && COMPUTER.SYSCOMPUTER != 0 &&
                          Access::COMPUTER->FetchOrClear(COMPUTER.KEYSYSCOMPUTER) == 0;
    if (!have_row) {
        ctx.outcome = ScanOutcome::Refused;
        ctx.message = "This computer has no row in the computer table.|The scan was not started.";
        Tell(ctx, ctx.message, "scan", ui::MessageIcon::Stop);
        return;
    }
    if (!ctx.unattended && ui::Message("Scan disk for files?", "scan", ui::MessageIcon::Question,
                                       ui::button::Yes | ui::button::No) != ui::button::Yes) {
        ctx.outcome = ScanOutcome::Declined;
        return;
    }

    G::STARTCLOCK = ClockTime();
    G::FILECOUNT = 0;
    const auto started = SteadyClock::now();
    const ULONG syscomputer = COMPUTER.SYSCOMPUTER;

    // The exclusions of the settings file as they are now (edited in the setup window
    // since the start, too), unless the caller gave them.
    const Exclusions exclude(ctx.exclude              ? *ctx.exclude
                             : GLO::INIFILE.IsBlank() ? std::string()
                                                      : ExcludeSetting(GLO::INIFILE.Str()));

    // Every root must be there before anything is stored: an unmounted share or a typo
    // would otherwise look like a drive whose files are all gone.
    const std::vector<std::string> roots = RootsOf(ctx, exclude, ctx.stats.dirs_excluded);
    if (roots.empty()) {
        Stop(ctx, ctx.stats.dirs_excluded > 0 ? "every root is excluded by [scan] exclude="
                                              : "there is no fixed drive to scan (is [scan] roots= empty?)");
        return;
    }
    for (const std::string& root : roots) {
        Queue<DirEntryRecord> probe;
        const DirListResult r = ListDirectory(probe, root + "*.nothing-is-named-so", kScanMask);
        if (r != DirListResult::Ok) {
            Stop(ctx, RootFailureText(root, r));
            return;
        }
    }
    if (ScanStopRequested()) {
        Stop(ctx, "stopped by a signal before it began");
        return;
    }

    // The working window is opened before WIN_WAIT: its loop blocks the windows opened
    // before it, and WIN_WAIT must take its Cancel button between directories.
    std::optional<WorkingWindow> working;
    working.emplace();
    RelationOpen files(Relate::FILES);
    if (ctx.display.open) ctx.display.open();
    if (ctx.display.drive) ctx.display.drive("clean database");

    // The store writes the difference to this computer's rows over a connection of its
    // own, holding the computer's scan lock; the table exists from here on.
    WalkStats& stats = ctx.stats;
    // A failure here is reported by the file manager; the store's own connection then
    // fails to begin, and that failure stops the scan below.
    (void)Access::FILES->UseFile();
    ScanStore store(GLO::SQLOWNER.Str());
    store.SetExclusions(exclude);
    ScanSink& sink = store;
    if (!sink.BeginScan(syscomputer, stats)) {
        working.reset();
        if (ctx.display.close) ctx.display.close();
        files.Close();
        Stop(ctx, "the scan was not started: " + stats.first_failure);
        return;
    }

    // The walk runs on its own thread, ahead of the storing; the rows are stored here, in
    // the walk's order, with the working window pacing between directories.
    std::string failed_root;
    DirListResult failure = DirListResult::Ok;
    bool stopped = false;
    {
        BatchChannel channel;
        WalkThread walk(roots, syscomputer, channel, exclude);
        // A turn: the window layer gets its turn, the display its progress (which may
        // cancel the scan).
        auto last_progress = started - kProgressInterval;
        auto turn = [&](std::string_view directory) {
            working->Pace();
            if (!ctx.display.progress) return;
            const auto now = SteadyClock::now();
            if (now - last_progress < kProgressInterval) return;
            last_progress = now;
            const StoreCounts& counts = store.Counts();
            ScanProgress p;
            p.files_stored = static_cast<ULONG>(counts.inserted + counts.updated + counts.unchanged);
            p.dirs_walked = walk.DirsEntered();
            p.directory = directory;
            p.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - started).count() / 10;
            ctx.display.progress(p);
        };
        // One directory's rows, a drive's start or a directory not read; false when a stop
        // ends the scan.
        FILES_RECORD row;
        auto take = [&](const DirBatch& batch) {
            if (ScanStopRequested()) return false;
            if (batch.kind == DirBatch::Drive) {
                if (ctx.display.drive) ctx.display.drive(batch.path);
                return true;
            }
            if (batch.kind == DirBatch::NotRead) {
                sink.DirectoryNotRead(batch.path);
                return true;
            }
            turn(batch.path);
            if (ScanStopRequested()) return false;
            sink.BeginDirectory(batch.path);
            for (std::size_t i = 0; i < batch.Rows(); ++i) {
                batch.Get(i, row);
                if (i > 0 && i % kScanTurnRows == 0) {
                    if (i % kScanPartRows == 0) {
                        sink.EndDirectory(stats);
                        sink.BeginDirectory(batch.path);
                    }
                    turn(batch.path);
                    if (ScanStopRequested()) break;  // a huge directory need not be finished
                }
                if (ctx.display.file_count && ++G::FILECOUNT % 100 == 1) ctx.display.file_count(G::FILECOUNT);
                sink.Store(row, stats);
            }
            sink.EndDirectory(stats);
            return true;
        };
        BatchChannel::Group group;
        bool going = true;
        while (going && channel.Pop(group))
            for (const DirBatch& batch : group)
                if (!(going = take(batch))) break;
        channel.Cancel();
        const WalkStats& walked = walk.Join();
        stats.files_not_stored += walked.files_not_stored;
        stats.dirs_skipped += walked.dirs_skipped;
        stats.dirs_not_read += walked.dirs_not_read;
        stats.files_excluded += walked.files_excluded;
        stats.dirs_excluded += walked.dirs_excluded;
        failed_root = walk.FailedRoot();
        failure = walk.Failure();
        stopped = ScanStopRequested();
        if (stopped || !failed_root.empty())
            sink.StopScan(stats);
        else if (!sink.FinishScan(stats))
            stopped = true;
    }
    working.reset();
    if (ctx.display.close) ctx.display.close();
    files.Close();
    ctx.files_stored = stats.files_stored;
    ctx.files_not_stored = stats.files_not_stored;
    ctx.dirs_skipped = stats.dirs_skipped;
    ReportLost(ctx);

    if (!failed_root.empty()) {
        Stop(ctx, RootFailureText(failed_root, failure));
        return;
    }
    const auto hundredths =
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started).count() / 10;
    const LONG elapsed = ScanElapsed(G::STARTCLOCK, ClockTime(), hundredths);
    if (stopped && ScanCancelRequested()) {
        // Everything stored so far stays (the store deleted nothing), and so does the
        // computer's last scan.
        ctx.outcome = ScanOutcome::Cancelled;
        ctx.stop_reason = "cancelled";
        G::ELAPSED = TIME::FromStandard(elapsed);
        ctx.elapsed = G::ELAPSED;
        ctx.message = "Scan cancelled!|Time: " + Format(static_cast<double>(elapsed), "T4");
        Tell(ctx, ctx.message, "Scan Drive", ui::MessageIcon::None);
        return;
    }
    if (stopped) {
        Stop(ctx, ScanStopRequested() ? "stopped by a signal; the rows stored so far are kept"
                                      : "the store failed: " + stats.first_failure);
        return;
    }

    G::ELAPSED = TIME::FromStandard(elapsed);
    for (int i = 0; i < 5; ++i) ui::Beep();

    COMPUTER.SYSCOMPUTER = syscomputer;
    if (Access::COMPUTER->FetchOrClear(COMPUTER.KEYSYSCOMPUTER) == 0) {
        COMPUTER.LASTSCAN_DATE = DATE::FromStandard(Today());
        COMPUTER.LASTSCAN_TIME = TIME::FromStandard(ClockTime());
        COMPUTER.SCANTIME = Format(static_cast<double>(elapsed), "T4");
        // Update(1) reports its own failure; the scan's summary stands either way.
        (void)Access::COMPUTER->Update(1);
    }

    ctx.outcome = ScanOutcome::Done;
    ctx.elapsed = G::ELAPSED;
    ctx.message = "Scan done!|Time: " + Format(static_cast<double>(elapsed), "T4");
    std::string lost;
    if (ctx.files_not_stored > 0) lost = "Files not stored: " + std::to_string(ctx.files_not_stored);
    if (stats.dirs_not_read > 0)
        lost += (lost.empty() ? "" : "|") + std::string("Directories not read: ") +
                std::to_string(stats.dirs_not_read);
    if (!lost.empty()) ctx.message += "|" + lost;
    if (stats.files_excluded > 0 || stats.dirs_excluded > 0)
        ctx.message += "|Excluded: " + std::to_string(stats.files_excluded) + " files, " +
                       std::to_string(stats.dirs_excluded) + " directories";
    if (!ctx.unattended) ui::Message(ctx.message, "Scan Drive", ui::MessageIcon::None, ui::button::Ok);
}

// ---------------------------------------------------------------- the preview

namespace {

// Counts the files a scan would store; stores nothing.
class CountingSink final : public ScanSink {
  public:
    void Store(const FILES_RECORD&, WalkStats& stats) override { ++stats.files_stored; }
};

// How often a running preview reports its counts.
constexpr auto kPreviewReport = std::chrono::milliseconds(100);

// A count with its thousands separators, without the picture's padding.
std::string CountText(ULONG n) {
    std::string text = Format(static_cast<double>(n), "N13");
    text.erase(0, text.find_first_not_of(' '));
    return std::string(Clip(text));
}

}  // namespace

std::string PreviewCounts::Text() const {
    std::string text = CountText(files) + " files, " + CountText(dirs) + " directories";
    if (files_dropped > 0 || dirs_dropped > 0)
        text += "; the exclusions drop " + CountText(files_dropped) + " files and " +
                CountText(dirs_dropped) + " directories";
    else
        text += "; the exclusions drop nothing";
    if (dirs_not_read > 0) text += "; " + CountText(dirs_not_read) + " directories cannot be read";
    if (!done)
        text = "Walking... " + text + " so far";
    else if (cancelled)
        text = "Preview cancelled: " + text + " so far";
    else if (cut)
        text = "Preview stopped after " + CountText(files + files_dropped) + " files: " + text + " so far";
    if (!failed_root.empty()) text += "\nA scan would stop: " + failed_root + ".";
    return text;
}

PreviewCounts PreviewWalk(const std::vector<std::string>& roots, const Exclusions& exclude,
                          const std::function<bool()>& cancelled, ULONG max_files,
                          const std::function<void(const PreviewCounts&)>& progress) {
    PreviewCounts counts;
    WalkStats stats;
    CountingSink sink;
    std::atomic<ULONG> entered{0};  // directories walked, excluded ones not counted
    const auto take = [&] {
        counts.files = stats.files_stored;
        counts.dirs = entered.load();
        counts.files_dropped = stats.files_excluded;
        counts.dirs_dropped = stats.dirs_excluded;
        counts.dirs_not_read = stats.dirs_not_read;
    };
    auto reported = SteadyClock::now();
    // Asked between directories: ends the walk when cancelled or at the bound, and
    // reports the counts now and then.
    const std::function<bool()> stop = [&] {
        take();
        if (cancelled && cancelled())
            counts.cancelled = true;
        else if (static_cast<std::uint64_t>(stats.files_stored) + stats.files_excluded +
                     stats.files_not_stored >=
                 max_files)
            counts.cut = true;
        if (progress && SteadyClock::now() - reported >= kPreviewReport) {
            reported = SteadyClock::now();
            progress(counts);
        }
        return counts.cancelled || counts.cut;
    };
    const std::function<void()> no_pace;
    for (const std::string& root : DistinctRoots(roots)) {
        if (stop()) break;
        Walker walker(0, sink, stats, no_pace, stop, &exclude, true);
        walker.CountEntered(&entered);
        // An excluded root is not walked by a scan (nor checked): what it holds is dropped.
        if (exclude.ExcludesPath(root, true)) {
            walker.WalkExcluded(root);
            continue;
        }
        const DirListResult r = walker.Walk(root);
        if (r != DirListResult::Ok && counts.failed_root.empty())
            counts.failed_root = RootFailureText(root, r);
    }
    take();
    counts.done = true;
    return counts;
}

ScanPreview::~ScanPreview() {
    Cancel();
    Join();
}

void ScanPreview::Start(std::vector<std::string> roots, Exclusions exclude, ULONG max_files,
                        std::function<void()> notify) {
    Cancel();
    Join();
    cancel_ = false;
    running_ = true;
    {
        std::lock_guard lock(m_);
        counts_ = PreviewCounts{};
    }
    thread_ = std::thread([this, roots = std::move(roots), exclude = std::move(exclude), max_files,
                           notify = std::move(notify)] {
        const PreviewCounts counts = PreviewWalk(
            roots, exclude,
            [this] {
                if (hook_) hook_();
                return cancel_.load();
            },
            max_files,
            [&](const PreviewCounts& so_far) {
                {
                    std::lock_guard lock(m_);
                    counts_ = so_far;
                }
                if (notify) notify();
            });
        {
            std::lock_guard lock(m_);
            counts_ = counts;
        }
        running_ = false;
        if (notify) notify();
    });
}

void ScanPreview::Cancel() {
    cancel_ = true;
}

void ScanPreview::Join() {
    if (thread_.joinable()) thread_.join();
}

bool ScanPreview::Running() const {
    return running_;
}

PreviewCounts ScanPreview::Counts() const {
    std::lock_guard lock(m_);
    return counts_;
}

}  // namespace dt
