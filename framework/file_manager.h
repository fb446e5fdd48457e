// FileManager: the one way the framework and the procedures open, read, write and close
// a table. It counts opens per thread and defers the physical open to the first use (lazy
// open), retries refused opens, rebuilds damaged keys, creates a missing table (never
// dropping one that exists) and builds its indexes, numbers new records on auto-increment
// keys, saves and restores record buffers and file states, and turns every failure into
// a numbered message of the error manager.
//
// Results are the framework's severities: 0 success, 5 failure (reported or remembered),
// 3 the table could not be used, 1 (updates) the record did not pass validation.
// Reporting operations raise their message; the Try... variants only remember it
// (LASTERROR of the calling thread's usage entry, raised later by RaiseLast).
//
// Threads: a FILE declared THREAD is a thread_local object; its manager is initialised
// with a function that returns the calling thread's instance and keeps one usage entry
// (open count, physical-open mark, auto-increment reservation, last message) per thread.
// Other tables share one entry. Keys are remembered by number, so every thread uses the
// keys of its own instance.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "data/file.h"
#include "framework/relation_interface.h"
#include "runtime/errors.h"
#include "runtime/types.h"

namespace dt {

class ErrorManagerInterface;
class RelationManager;

// Ids of the messages the file and relation managers raise.
namespace FileMsg {
constexpr USHORT RetrievalError = 1;         // "Record Retrieval Error"
constexpr USHORT AccessDenied = 2;           // "Access Denied" (trying read-only)
constexpr USHORT InsertError = 4;            // "Record Insert Error"
constexpr USHORT Changed = 6;                // "Record Was Not Updated" (changed by another station)
constexpr USHORT ChangedShown = 7;           // the same, for a form that can recall its values
constexpr USHORT ConfirmDelete = 9;          // "Confirm Delete", Yes/No
constexpr USHORT CreateError = 10;           // "File Creation Error", fatal
constexpr USHORT NotDeleted = 11;            // "Record was not deleted"
constexpr USHORT DuplicateKey = 13;          // "Duplicate Key Error"
constexpr USHORT TransactionCancelled = 21;  // "Transaction cancelled"
constexpr USHORT OpenError = 23;             // "File Access Error", fatal
constexpr USHORT NotUpdated = 25;            // "Record was not updated"
constexpr USHORT KeyNotBuilt = 26;           // "Key was not built", fatal
constexpr USHORT InvalidKey = 27;            // "Invalid Key"
constexpr USHORT RecordHeld = 28;            // "Record not read"
constexpr USHORT AutoIncError = 32;          // "Auto Increment Error", Yes/No
constexpr USHORT DeleteError = 33;           // "Record Delete Error", Yes/No
constexpr USHORT UsageError = 39;            // "File Usage Error", ends the program
}  // namespace FileMsg

// One usage entry (INFO): a thread's use of the table.
struct FileUsage {
    LONG ID = 1;                 // the thread number for a THREAD table, else 1
    BYTE USED = 0;               // physically open
    USHORT OPENED = 0;           // open count
    BYTE ATEOF = 0;              // the last read ran off the end
    BYTE AUTOINCDONE = 0;        // a record was added to reserve its number, not yet completed
    USHORT LASTERROR = 0;        // message id to raise
    const File* file = nullptr;  // the instance the marks above describe
};

// One component of a key entry.
struct FileKeyComponent {
    int FIELD = -1;  // index into File::fields
    std::string FIELDNAME;
    BYTE ASCEND = 1;
};

// One key entry (KEYS), in the order the keys were added.
struct FileKeyEntry {
    int KEY = 0;              // the key's number in its File (1-based)
    std::string DESCRIPTION;  // shown in the duplicate-key message (at most 80 bytes)
    std::vector<FileKeyComponent> FIELDS;
    BYTE AUTOINC = 0;  // 0: not numbered; n: the n-th component is numbered
    BYTE DUPS = 0;
    BYTE NOCASE = 0;
};

// A function that returns the calling thread's instance of a THREAD table.
using FileResolver = File& (*)();

class FileManager : public FileManagerInterface {
  public:
    FileManager();
    // Kills the manager if Kill has not run. Never throws.
    ~FileManager() override;
    FileManager(const FileManager&) = delete;
    FileManager& operator=(const FileManager&) = delete;

    // ---- fields, in declaration order ----
    FileManager* ALIASEDFILE = nullptr;  // not used by this program's tables
    BYTE CREATE = 1;                     // create the table when it does not exist
    ErrorManagerInterface* ERRORS = nullptr;
    const std::string* FILENAME = nullptr;  // when set, its value names the table in messages
    STRING<256> FILENAMEVALUE;              // the FILE's label
    BYTE HASAUTOINC = 0;
    BYTE INUSEFILE = 0;
    BYTE INCALLBACK = 0;
    BYTE INCLOSE = 0;
    BYTE INRESTORE = 0;
    BYTE LAZYOPEN = 1;
    SHORT LOCKRECOVER = 10;  // sent as "Recover=<value>" when an open is refused
    BYTE OPENMODE = 0x42;    // read/write, deny none
    BYTE PRIMARYKEY = 0;     // key number used for positions; 0: the record pointer
    BYTE SKIPHELDRECORDS = 0;
    BYTE CLEANEDUP = 0;

    // ---- virtual operations, in slot order ----
    // 1, 2: the callback interface for statements done on the FILE directly. A direct
    // CLOSE resets the usage marks, a DESTROY kills the manager. Both return 1 (go on).
    virtual int OnFileOperation(int operation, File& file);
    virtual int AfterFileOperation(int operation, File& file, int error);
    // 3: Kill.
    virtual void Destroy();
    // 4: the record buffer belongs to the File here; nothing to hand over.
    virtual void RegisterBuffer();
    // 5: deletes the record added to reserve an auto-increment number (through
    // `relation`'s delete without asking when given): 0, or the delete's failure result.
    [[nodiscard]] virtual Severity CancelAutoInc(RelationManager* relation = nullptr);
    // 6: one Close per Open; the last one of the thread closes the FILE. 0.
    [[nodiscard]] virtual Severity Close();
    // 7: 1 when the record buffer equals the copy saved under `id`; 0 otherwise and when
    // the table cannot be used.
    BYTE EqualBuffer(USHORT id) override;
    // 8: Fetch; on failure the record buffer is cleared.
    [[nodiscard]] virtual Severity FetchOrClear(Key& key);
    // 9: binds the manager to `file` and `errors` (both outlive it) and registers it.
    virtual void Init(File& file, ErrorManagerInterface& errors);
    // 10: inserts the record buffer, reporting failures: 0, 3 or 5.
    [[nodiscard]] Severity Insert() override;
    // 11: forgets the table: usage entries, keys, saved buffers and states. Idempotent.
    virtual void Kill();
    // 12: reads the next record in the current order, reporting failures. 5 at the end.
    [[nodiscard]] virtual Severity Next();
    // 13: counts an open of the calling thread; opens physically when `force` is set or
    // lazy opening is off (then failures are reported).
    [[nodiscard]] virtual Severity Open(BYTE force = 0);
    // 14: as Next, backwards.
    [[nodiscard]] virtual Severity Previous();
    // 15: numbers the record and adds it to reserve the number, reporting failures.
    [[nodiscard]] virtual Severity PrimeAutoInc();
    // 16: fills default values; the base has none.
    virtual void PrimeFields();
    // 17: clears the buffer unless `keep_buffer`, PrimeFields, then PrimeAutoInc.
    [[nodiscard]] Severity PrimeRecord(BYTE keep_buffer = 0) override;
    // 18: remembers `id` and raises it now.
    [[nodiscard]] virtual Severity Raise(USHORT id);
    // 19: raises the remembered message.
    [[nodiscard]] virtual Severity RaiseLast();
    // 20: remembers `id` and raises it with `text` for "%Message".
    [[nodiscard]] virtual Severity RaiseWithText(USHORT id, std::string_view text);
    // 21: reads the record whose `key` components equal the buffer's: 0; 5 when there is
    // none; 3 (message 1 remembered) on any other failure or when the table is unusable.
    [[nodiscard]] virtual Severity Fetch(Key& key);
    // 22 .. 26: quiet variants of Insert, Next, Open, Previous, PrimeAutoInc.
    [[nodiscard]] virtual Severity TryInsert();
    [[nodiscard]] virtual Severity TryNext();
    [[nodiscard]] virtual Severity TryOpen(BYTE force = 0);
    [[nodiscard]] virtual Severity TryPrevious();
    [[nodiscard]] virtual Severity TryPrimeAutoInc();
    // 27: Update without showing anything.
    [[nodiscard]] virtual Severity TryUpdate();
    // 28: writes the changed record: 0; 1 when it fails validation; 5 on failure.
    // `mode` 0 quiet, 1 report, 2 report for a form that can recall its values (7, not 6).
    [[nodiscard]] virtual Severity Update(BYTE mode = 1);
    // 29, 30: ValidateField reporting / quiet.
    [[nodiscard]] virtual Severity ValidateFieldReport(int field);
    [[nodiscard]] virtual Severity ValidateFieldQuiet(int field);
    // 31: 0 when field number `field` (1-based) is acceptable; the base accepts all.
    [[nodiscard]] virtual Severity ValidateField(int field, BYTE report);
    // 32: ValidateField for fields first .. last; the failing field's number in *failing.
    [[nodiscard]] virtual Severity ValidateFields(int first, int last, int* failing = nullptr);
    // 33: ValidateFields over every field.
    [[nodiscard]] virtual Severity ValidateRecord(int* failing = nullptr);
    // 34: deletes the current record: 0; 5 with message 11 remembered on failure.
    [[nodiscard]] virtual Severity DeleteRecord();
    // 35: 0.
    [[nodiscard]] virtual Severity ValidateNewRecord();

    // ---- non-virtual operations ----
    // As Init, for a THREAD table: `resolver` returns the calling thread's instance.
    void Init(FileResolver resolver, ErrorManagerInterface& errors);
    // Makes the table usable for the calling thread: a deferred open happens now (the
    // table is created when missing). 39 is raised when it was never opened. 0 or the
    // failure's result. Call it before sending statements to the FILE directly (for
    // example the SQL pass-through property followed by NEXT).
    [[nodiscard]] Severity UseFile(BYTE mode = 0) override;
    // The physical open with its retries, create and key rebuild. 0 or a failure result
    // (5 when quiet).
    [[nodiscard]] Severity OpenFile(BYTE report);
    // The current record's position (by PRIMARYKEY or record pointer); "" when unusable.
    std::string Position() override;
    // Re-reads the record at `position`: 0; 5 when not found; 3 when unusable.
    [[nodiscard]] Severity TryReget(std::string_view position) override;
    // Saves a copy of the record buffer and null flags; the id (never 0).
    USHORT SaveBuffer() override;
    // Copies the saved buffer back when `restore`; frees it and sets `id` to 0.
    void RestoreBuffer(USHORT& id, BYTE restore) override;
    // Saves buffer, driver state, position and the reservation; the id (never 0).
    USHORT SaveFile();
    // Returns the FILE to the saved state when `restore`; frees it and sets `id` to 0.
    void RestoreFile(USHORT& id, BYTE restore);
    // Remembers message `id` for RaiseLast.
    void NoteLastError(USHORT id);
    // The message id remembered for the calling thread (0: none).
    USHORT LastError();
    // The name messages use: *FILENAME when set, else FILENAMEVALUE.
    std::string TableName() const;
    // Adds a key in declaration order; `autoinc` numbers its n-th component (0: none).
    void AddKey(Key& key, std::string_view description, BYTE autoinc = 0);
    // The first auto-increment key entry, or nullptr.
    const FileKeyEntry* AutoIncKey() const;
    // The key entries, in the order they were added.
    const std::vector<FileKeyEntry>& Keys() const { return keys_; }
    // The calling thread's instance of the FILE.
    File& TheFile() const;
    // A copy of the calling thread's usage entry (for tests and diagnostics).
    FileUsage Usage();
    // Forgets the numbers this program assigned, so the next auto-number reads the
    // highest one from the table again (after rows were deleted behind the manager).
    void ForgetAutoIncNumbers();

  private:
    struct SavedBuffer {
        USHORT id;
        std::string record;
        std::string nulls;
        bool has_nulls;
    };
    struct SavedState {
        USHORT id;
        USHORT buffer;
        BYTE autoincdone;
        long state;
        std::string pos;
    };
    FileUsage& Entry();
    [[nodiscard]] Severity Fail(FileUsage& u, USHORT id, BYTE report, Severity quiet_result = SevNotify);
    [[nodiscard]] Severity DoInsert(BYTE report);
    [[nodiscard]] Severity DoRead(BYTE report, bool forward);
    // Numbers the record and adds it; *duplicate set when the row repeats another unique
    // key (no number can help: the insert reports it).
    [[nodiscard]] Severity DoPrimeAutoInc(BYTE report, bool* duplicate = nullptr);
    [[nodiscard]] ErrCode NextNumber(const FileKeyEntry& k, File& f, long long& value, bool& from_cache);
    bool DuplicatesOtherKey(File& f);
    void ClearRecord(File& f);
    [[nodiscard]] ErrCode CreateMissing(File& f);

    File* file_ = nullptr;
    FileResolver resolver_ = nullptr;
    std::vector<FileKeyEntry> keys_;
    std::mutex mutex_;  // guards the usage entries, saved buffers and states, the number cache
    std::deque<FileUsage> info_;
    std::vector<SavedBuffer> buffers_;
    std::vector<SavedState> saved_;
    USHORT last_buffer_id_ = 0;
    USHORT last_state_id_ = 0;
    // Highest number this program assigned on the single-component auto-increment key,
    // valid while only this manager is known to have added rows (see PrimeAutoInc).
    bool number_known_ = false;
    long long last_number_ = 0;
};

}  // namespace dt
