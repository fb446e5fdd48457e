// The database store of a scan: a ScanSink that writes the difference between what the
// walk finds and the rows FILES holds for this computer, so that the computer's index is
// whole at every moment of a rescan and after a scan that was stopped or failed.
//
// Begin takes the one-scan-per-computer lock (PostgreSQL: an advisory lock of the scan's
// own connection, released by the server if the program dies; the embedded database: an
// exclusive lock on a file beside the database file), waits for it at most the database
// time-out, and reads this computer's rows once into a compact table keyed by directory
// and name (compared byte for byte here, never by the server's collation). Store then
// classifies each walked file: unchanged (nothing written), changed (updated in place,
// keeping its number) or new (inserted under a number reserved from the counter table).
// Writes go in batches of a few thousand rows, each in one read-committed transaction:
// multi-row INSERT statements prepared once and executed again, updates by number.
// On the embedded database a batch that meets another program's write lock is rolled back
// and written again, in short steps up to the database time-out; a stop ends that wait.
// Finish, after a complete walk, deletes the rows of files the walk did not see (in
// batches, by number) except under directories whose listing failed (there too when the
// exclusions now leave the row's path out), and reduces
// duplicate rows of one file to one. Stop ends the open batch and deletes nothing.
//
// A computer without rows (its first scan) skips the read and stores at bulk speed. On the
// embedded database a scan that finds FILES empty (a new database: no search can lose a
// hit) also drops the indexes that only serve speed (the substring index with its
// triggers, the directory index, the browse orders) and has them made again from the
// table as it then is when it ends, complete or stopped; a program that dies in between
// leaves them to drivetrek's start, which makes whatever is missing. The keys of FILES
// and the index of a computer's rows stay. Searches meanwhile read the table.
// Threads: every call but DirectoryNotRead on one thread; DirectoryNotRead may come
// from the walk's thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/exclude.h"
#include "app/scan_sink.h"
#include "app/schema.h"

namespace dt {

class SqlSession;

// What a scan did to this computer's rows.
struct StoreCounts {
    std::uint64_t inserted = 0;
    std::uint64_t updated = 0;
    std::uint64_t deleted = 0;    // rows of files gone, of roots not walked, and duplicates
    std::uint64_t unchanged = 0;  // walked files whose row was already right
    std::uint64_t not_stored = 0;
    std::uint64_t kept = 0;           // rows under directories not read, kept as they were
    std::uint64_t dirs_not_read = 0;  // directories whose listing failed
    std::uint64_t rows_before = 0;    // this computer's rows when the scan began
    std::uint64_t rows_after = 0;     // ... and when it ended (as far as this program knows)
    std::string first_failure;        // the server's reason for the first row not stored
};

class ScanStore final : public ScanSink {
  public:
    // `owner`: the connection text of FILES; `table`: the FILES table's name.
    explicit ScanStore(std::string owner, std::string table = "FILES");
    ~ScanStore() override;
    ScanStore(const ScanStore&) = delete;
    ScanStore& operator=(const ScanStore&) = delete;

    // Connects, runs the upgrade step's FILES entries, takes the lock and reads the
    // computer's rows. False with Error() when the scan must not go on (no connection,
    // another scan of this computer still running after the wait, the read failed).
    bool Begin(ULONG syscomputer);

    void BeginDirectory(std::string_view path) override;
    void Store(const FILES_RECORD& rec, WalkStats& stats) override;
    void EndDirectory(WalkStats& stats) override;
    void DirectoryNotRead(std::string_view path) override;

    // After a complete walk: the last batch, then the deletes. False when something
    // could not be written (see Error(); the counts say what was stored).
    bool Finish(WalkStats& stats);
    // The walk was stopped or failed: the open batch is committed (or rolled back when
    // it cannot be), nothing is deleted.
    void Stop(WalkStats& stats);

    // The same as hooks of the scan around the walk: the counts (and the first failure) are
    // copied into `stats` as the summary reports them.
    bool BeginScan(ULONG syscomputer, WalkStats& stats) override;
    bool FinishScan(WalkStats& stats) override;
    void StopScan(WalkStats& stats) override;

    const StoreCounts& Counts() const { return counts_; }
    // The reason the store failed ("" while it works): the server's text when it has one.
    const std::string& Error() const { return error_; }
    // Whether this scan dropped the speed-only indexes at its start (tests).
    bool DroppedIndexes() const { return dropped_at_begin_; }
    bool Failed() const { return !error_.empty(); }

    // Rows per multi-row INSERT, rows per transaction (tests make them small).
    void SetBatchRows(std::size_t rows) { batch_rows_ = rows; }
    // Rows a first scan adds to the substring index at a time (tests make them few).
    void SetIndexFillRows(std::size_t rows) { fill_rows_ = rows; }
    // Rows per page when the stored rows are read in pages (the embedded database).
    void SetReadPage(long rows) { read_page_ = rows > 0 ? rows : 20000; }
    // The scan's exclusions: Finish keeps no row they leave out, under a directory not
    // read either.
    void SetExclusions(Exclusions exclude) { exclude_ = std::move(exclude); }
    // Called after each committed batch with the number of batches so far (tests).
    void SetAfterBatch(std::function<void(std::size_t)> fn) { after_batch_ = std::move(fn); }

  private:
    struct Row;     // a stored row, compact
    struct Insert;  // a row waiting to be inserted
    struct Update;  // a row waiting to be updated
    class Statements;

    void CopyCounts(WalkStats& stats) const;
    bool Lock(ULONG syscomputer);
    void Unlock();
    bool ReadRows();
    bool Flush(WalkStats* stats);
    // Inserts inserts_[from, from + count) in multi-row statements; `done` gets the rows of
    // the statements that succeeded (all of them when it returns true).
    bool InsertRows(std::size_t from, std::size_t count, long long first_number, std::size_t& done);
    // False when the database cannot write at all (the batch is given up).
    bool InsertOneByOne(std::size_t from, std::size_t count, long long& next_number, long long& last_number);
    // Whether the last failure was one no single row causes (see CannotWrite in the .cpp).
    bool CannotWriteNow() const;
    // A row the server refused, with its reason: Flush counts it as not stored and names it
    // in the scan's summary once the batch is over.
    void NoteRefused(const FILES_RECORD& rec);
    // One try of the open batch: numbers, inserts, updates, commit. False when the batch
    // cannot be committed (the session's last diagnostic says why).
    bool WriteBatch(std::uint64_t& inserted, std::uint64_t& updated);
    // After a failed write: true when another program held the embedded database's write
    // lock and the write is to be tried again (the transaction is rolled back). Gives up
    // (false, with Error()) on a stop or once `since`, the first such failure of this
    // write, lies the database time-out back.
    bool RetryWhenBusy(std::optional<std::chrono::steady_clock::time_point>& since);
    bool DeleteNumbers(const std::vector<std::uint64_t>& numbers);
    void Fail(const std::string& why);
    // The embedded database's first scan: drops the speed-only indexes when FILES is
    // empty (decided in the write transaction of the drop), and makes them again.
    void DropIndexesWhenEmpty();
    void RemakeIndexes();
    // While a first scan stores, its committed rows enter the substring index in large
    // steps (FillIndexStep, in a transaction of its own), on the storing side's time that
    // the walk leaves over; what is left, the triggers and the directory index are added
    // in RemakeIndexes (CompleteIndexFill) if no other connection has written to the
    // database meanwhile. Otherwise the index is made from the table as it then is.
    void FillIndexStep();
    bool CompleteIndexFill();
    // Indexes the rows noted (NoteStoredRange) and not indexed yet, in the open transaction.
    bool IndexPendingRows();
    void NoteStoredRange(long long first, long long last);
    int Find(std::string_view name) const;

    std::string owner_, table_;
    std::unique_ptr<SqlSession> session_;
    std::unique_ptr<Statements> stmts_;
    class LogCopier;
    std::unique_ptr<LogCopier> log_copier_;  // a first scan's, on the embedded database
    ULONG syscomputer_ = 0;
    bool locked_ = false;
    int lock_fd_ = -1;
    bool begun_ = false;
    bool indexes_dropped_ = false;
    bool dropped_at_begin_ = false;  // the speed-only indexes wait to be made again
    struct IndexFill {
        bool on = false;
        std::string data_version;  // the database's, as this session saw it at the drop
        std::vector<std::pair<long long, long long>> pending;  // stored numbers not indexed yet
        std::size_t pending_rows = 0;
        std::string dirs_done = "0";  // the highest FILESDIR row in its index
    } fill_;
    std::pair<long long, long long> batch_range_{0, -1};  // the numbers the open batch stored

    // Texts kept while the scan runs (the rows' names, the directories), back to back in
    // blocks that never move once made: the texts grow without being copied, so that the
    // memory a rescan holds is the texts themselves and not twice as much while they grow.
    class TextArena {
      public:
        // Keeps `text` (at most kBlock bytes); returns where it lies, for At.
        std::uint32_t Add(std::string_view text);
        std::string_view At(std::uint32_t at, std::size_t size) const {
            return {blocks_[at >> kBlockBits].get() + (at & (kBlock - 1)), size};
        }

      private:
        static constexpr unsigned kBlockBits = 19;
        static constexpr std::size_t kBlock = std::size_t{1} << kBlockBits;
        std::vector<std::unique_ptr<char[]>> blocks_;
        std::size_t used_ = 0;  // of the last block
    };

    // The stored rows, sorted by directory and then name (bytes); the table is made as
    // large as the computer's row count at once.
    std::vector<Row> rows_;
    TextArena texts_;
    std::unordered_map<std::string_view, std::pair<std::uint32_t, std::uint32_t>>
        dirs_;  // dir -> [begin, end)
    std::pair<std::uint32_t, std::uint32_t> cur_dir_{0, 0};

    std::vector<Insert> inserts_;
    std::vector<Update> updates_;
    std::vector<std::pair<const FILES_RECORD*, std::string>> refused_;  // in the open batch
    std::size_t batch_rows_ = 5000;
    // Each step of a first scan's index fill leaves the index a segment of its own, which
    // it merges as it grows: a few large steps.
    std::size_t fill_rows_ = 25000;
    std::size_t insert_rows_ = 250;
    std::size_t batches_ = 0;
    long read_page_ = 20000;
    std::chrono::steady_clock::time_point batch_began_{};
    std::function<void(std::size_t)> after_batch_;

    Exclusions exclude_;
    std::mutex not_read_mutex_;
    std::vector<std::string> not_read_;

    StoreCounts counts_;
    std::string error_;
};

}  // namespace dt
