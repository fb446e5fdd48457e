#include "framework/file_manager.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "data/sql_driver.h"
#include "data/statements.h"
#include "framework/error_interface.h"
#include "framework/relation_manager.h"
#include "runtime/errors.h"
#include "runtime/packed_field.h"

namespace dt {
namespace {

// A duplicate on the auto-numbered key means another writer took the number between our
// read and our insert. It is retried after reading the highest number again; this bounds
// how often, so that a table that refuses every number still ends in message 32.
constexpr int kDuplicateRetries = 100;
// Rounds of "Try Again?" after message 32. A silent error manager answers Yes at once,
// so without a bound an unattended run would retry for ever.
constexpr int kAutoIncRounds = 10;
// Reads that skip records held by another station.
constexpr int kHeldSkips = 1000;

// Keeps the calling thread's runtime error state across statements that are not the
// subject of a later message (saving buffers, null flags, restoring positions).
class ErrorKeeper {
  public:
    ErrorKeeper() = default;
    ~ErrorKeeper() { kept_.Restore(); }
    ErrorKeeper(const ErrorKeeper&) = delete;
    ErrorKeeper& operator=(const ErrorKeeper&) = delete;

  private:
    ErrorState kept_;
};

bool IntegerType(FieldType t) {
    return t == FT_BYTE || t == FT_SHORT || t == FT_USHORT || t == FT_LONG || t == FT_ULONG;
}

// The value of an integer field of the types auto-numbering takes; 0 for any other type.
long long ReadInteger(const File& f, const Field& fld) {
    long long v = 0;
    if (IntegerType(fld.type)) LoadIntegerField(fld.type, f.Record() + fld.offset, v);
    return v;
}

// Stores `v` in an integer field; false when it does not fit the field's type.
bool WriteInteger(File& f, const Field& fld, long long v) {
    char* p = f.Record() + fld.offset;
    switch (fld.type) {
        case FT_BYTE:
            return StoreIntegerField<BYTE>(p, v);
        case FT_SHORT:
            return StoreIntegerField<SHORT>(p, v);
        case FT_USHORT:
            return StoreIntegerField<USHORT>(p, v);
        case FT_LONG:
            return StoreIntegerField<LONG>(p, v);
        case FT_ULONG:
            return StoreIntegerField<ULONG>(p, v);
        default:
            return false;
    }
}

long long MaxOf(FieldType t) {
    switch (t) {
        case FT_BYTE:
            return std::numeric_limits<BYTE>::max();
        case FT_SHORT:
            return std::numeric_limits<SHORT>::max();
        case FT_USHORT:
            return std::numeric_limits<USHORT>::max();
        case FT_LONG:
            return std::numeric_limits<LONG>::max();
        default:
            return std::numeric_limits<ULONG>::max();
    }
}

}  // namespace

FileManager::FileManager() = default;

FileManager::~FileManager() {
    if (!CLEANEDUP && file_ != nullptr) Kill();
}

// ---- callback ----

int FileManager::OnFileOperation(int, File&) {
    return 1;
}

int FileManager::AfterFileOperation(int operation, File& file, int error) {
    if (INCALLBACK || INCLOSE || file_ == nullptr) return 1;
    ++INCALLBACK;
    if (operation == OP_CLOSE && error == 0) {
        FileUsage& u = Entry();
        if (u.USED && u.file == &file) {
            // Closed behind the manager's back: its counts no longer hold.
            u.OPENED = 0;
            u.USED = 0;
            u.ATEOF = 0;
            u.AUTOINCDONE = 0;
        }
    } else if (operation == OP_DESTROY) {
        --INCALLBACK;
        Kill();
        return 1;
    }
    --INCALLBACK;
    return 1;
}

void FileManager::Destroy() {
    Kill();
}

void FileManager::RegisterBuffer() {}

// ---- set-up and clean-up ----

void FileManager::Init(File& file, ErrorManagerInterface& errors) {
    file_ = &file;
    ERRORS = &errors;
    FILENAMEVALUE = file.label;
    CLEANEDUP = 0;
}

void FileManager::Init(FileResolver resolver, ErrorManagerInterface& errors) {
    resolver_ = resolver;
    Init(resolver(), errors);
}

void FileManager::Kill() {
    if (CLEANEDUP) return;
    std::lock_guard lock(mutex_);
    info_.clear();
    buffers_.clear();
    saved_.clear();
    keys_.clear();
    number_known_ = false;
    CLEANEDUP = 1;
}

File& FileManager::TheFile() const {
    return resolver_ != nullptr ? resolver_() : *file_;
}

FileUsage& FileManager::Entry() {
    File& f = TheFile();
    const LONG id = f.Has(FILE_THREAD) ? CurrentThreadNumber() : 1;
    std::lock_guard lock(mutex_);
    for (FileUsage& u : info_)
        if (u.ID == id) {
            if (u.file != &f) {
                // Another instance (a thread number that was given again): start afresh.
                u = FileUsage{};
                u.ID = id;
                u.file = &f;
            }
            return u;
        }
    FileUsage u;
    u.ID = id;
    u.file = &f;
    info_.push_back(u);
    return info_.back();
}

FileUsage FileManager::Usage() {
    return Entry();
}

std::string FileManager::TableName() const {
    if (FILENAME != nullptr) return *FILENAME;
    return FILENAMEVALUE.Str();
}

void FileManager::AddKey(Key& key, std::string_view description, BYTE autoinc) {
    FileKeyEntry e;
    e.KEY = key.number;
    e.DESCRIPTION = std::string(description.substr(0, Utf8CutLength(description, 80)));
    for (const KeyComponent& c : key.components) {
        FileKeyComponent fc;
        fc.FIELD = c.field;
        if (c.field >= 0) fc.FIELDNAME = key.file.fields[static_cast<std::size_t>(c.field)].label;
        fc.ASCEND = c.descending ? 0 : 1;
        e.FIELDS.push_back(fc);
    }
    e.AUTOINC = autoinc <= e.FIELDS.size() ? autoinc : 0;
    e.DUPS = key.Has(KEY_DUP) ? 1 : 0;
    e.NOCASE = key.Has(KEY_NOCASE) ? 1 : 0;
    if (e.AUTOINC) HASAUTOINC = 1;
    keys_.push_back(std::move(e));
}

const FileKeyEntry* FileManager::AutoIncKey() const {
    for (const FileKeyEntry& k : keys_)
        if (k.AUTOINC) return &k;
    return nullptr;
}

void FileManager::ForgetAutoIncNumbers() {
    std::lock_guard lock(mutex_);
    number_known_ = false;
}

// ---- messages ----

void FileManager::NoteLastError(USHORT id) {
    Entry().LASTERROR = id;
}

USHORT FileManager::LastError() {
    return Entry().LASTERROR;
}

Severity FileManager::Raise(USHORT id) {
    NoteLastError(id);
    ERRORS->NoteFileName(TableName());
    return ERRORS->Raise(id);
}

Severity FileManager::RaiseLast() {
    USHORT id = LastError();
    if (id == 0) return SevQuiet;
    ERRORS->NoteFileName(TableName());
    return ERRORS->Raise(id);
}

Severity FileManager::RaiseWithText(USHORT id, std::string_view text) {
    NoteLastError(id);
    ERRORS->NoteFileName(TableName());
    return ERRORS->RaiseWithText(id, text);
}

Severity FileManager::Fail(FileUsage& u, USHORT id, BYTE report, Severity quiet_result) {
    u.LASTERROR = id;
    if (report) return Raise(id);
    return quiet_result;
}

// ---- opening and closing ----

Severity FileManager::UseFile(BYTE) {
    INUSEFILE = 1;
    FileUsage& u = Entry();
    ERRORS->NoteFileName(TableName());
    if (LAZYOPEN && !u.USED) {
        if (u.OPENED == 0) {
            const Severity rc = Raise(FileMsg::UsageError);
            INUSEFILE = 0;
            return rc != SevQuiet ? rc : SevFatal;
        }
        USHORT id = SaveBuffer();
        const Severity rc = OpenFile(1);
        RestoreBuffer(id, 1);
        INUSEFILE = 0;
        return rc;
    }
    INUSEFILE = 0;
    return SevQuiet;
}

ErrCode FileManager::CreateMissing(File& f) {
    // A plain CREATE replaces an existing table: two computers starting at once would
    // drop each other's rows. The create-if-missing form treats "exists" as success.
    return ToErrCode(CreateIfMissing(f));
}

Severity FileManager::OpenFile(BYTE report) {
    File& f = TheFile();
    FileUsage& u = Entry();
    for (int attempt = 0; attempt < 2; ++attempt) {
        ErrCode rc = dt::Open(f, OPENMODE);
        if (rc == ErrAccessDenied) {
            Send(f, "Recover=" + std::to_string(LOCKRECOVER));
            rc = dt::Open(f, OPENMODE);
        }
        if (rc == ErrNone || rc == ErrFileAlreadyOpen) {
            u.USED = 1;
            u.ATEOF = 0;
            u.AUTOINCDONE = 0;
            return SevQuiet;
        }
        if (rc == ErrAccessDenied) {
            if ((OPENMODE & 0x0F) == 0) return Fail(u, FileMsg::OpenError, report);
            OPENMODE &= 0xF0;
            if (report)
                ShowOnly(Raise(FileMsg::AccessDenied));
            else
                u.LASTERROR = FileMsg::AccessDenied;
            continue;
        }
        if (rc == ErrKeyMustBeRebuilt) {
            u.LASTERROR = FileMsg::InvalidKey;
            if (!report) return SevNotify;
            ShowOnly(Raise(FileMsg::InvalidKey));
            if (Build(f) != ErrNone) return Fail(u, FileMsg::KeyNotBuilt, report);
            continue;
        }
        if (rc == ErrFileNotFound && CREATE) {
            if (CreateMissing(f) != ErrNone) return Fail(u, FileMsg::CreateError, report);
            // Name and row-number lookups need the keys' indexes. A failure here leaves
            // the table usable (only slower), so it does not fail the open.
            if (!keys_.empty()) {
                ErrorKeeper keep;
                (void)Build(f);
            }
            continue;
        }
        return Fail(u, FileMsg::OpenError, report);
    }
    return Fail(u, FileMsg::OpenError, report);
}

Severity FileManager::Open(BYTE force) {
    FileUsage& u = Entry();
    if (force || (!LAZYOPEN && u.OPENED == 0)) {
        if (!u.USED) {
            const Severity rc = OpenFile(1);
            if (rc != SevQuiet) return rc;
        }
    }
    ++u.OPENED;
    return SevQuiet;
}

Severity FileManager::TryOpen(BYTE force) {
    FileUsage& u = Entry();
    if (force || (!LAZYOPEN && u.OPENED == 0)) {
        if (!u.USED) {
            const Severity rc = OpenFile(0);
            if (rc != SevQuiet) return rc;
        }
    }
    ++u.OPENED;
    return SevQuiet;
}

Severity FileManager::Close() {
    FileUsage& u = Entry();
    if (u.OPENED > 0) {
        --u.OPENED;
        if (u.OPENED == 0) {
            if (u.USED) {
                ++INCLOSE;
                // The last Close of the thread: the usage marks go whatever CLOSE says,
                // and a table that cannot be closed has nothing left to undo.
                (void)dt::Close(TheFile());
                --INCLOSE;
            }
            u.USED = 0;
            u.ATEOF = 0;
            u.AUTOINCDONE = 0;
            ForgetAutoIncNumbers();
        }
    }
    return SevQuiet;
}

// ---- buffers and states ----

void FileManager::ClearRecord(File& f) {
    std::memset(f.Record(), 0, f.record_length);
    // In declaration order, so the members of a GROUP laid over a STRING end up zero.
    for (const Field& fld : f.fields) {
        if (fld.type == FT_GROUP) continue;
        char* p = f.Record() + fld.offset;
        std::memset(p, fld.type == FT_STRING ? ' ' : 0, fld.size);
    }
}

USHORT FileManager::SaveBuffer() {
    File& f = TheFile();
    SavedBuffer b;
    b.record.assign(f.Record(), f.record_length);
    b.has_nulls = false;
    if (Entry().USED) {
        ErrorKeeper keep;
        b.nulls = GetNulls(f);
        b.has_nulls = ErrorCode() == ErrNone;
    }
    std::lock_guard lock(mutex_);
    if (++last_buffer_id_ == 0) last_buffer_id_ = 1;
    b.id = last_buffer_id_;
    buffers_.push_back(std::move(b));
    return last_buffer_id_;
}

void FileManager::RestoreBuffer(USHORT& id, BYTE restore) {
    if (id == 0) return;
    SavedBuffer b;
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        for (auto it = buffers_.begin(); it != buffers_.end(); ++it)
            if (it->id == id) {
                b = std::move(*it);
                buffers_.erase(it);
                found = true;
                break;
            }
    }
    id = 0;
    if (!found || !restore) return;
    File& f = TheFile();
    std::memcpy(f.Record(), b.record.data(), std::min(b.record.size(), f.record_length));
    if (b.has_nulls) {
        ErrorKeeper keep;
        (void)SetNulls(f, b.nulls);  // flags saved from this same table: nothing to report
    }
}

BYTE FileManager::EqualBuffer(USHORT id) {
    if (UseFile() != SevQuiet) return SevQuiet;
    File& f = TheFile();
    std::lock_guard lock(mutex_);
    for (const SavedBuffer& b : buffers_)
        if (b.id == id)
            return b.record.size() == f.record_length &&
                           std::memcmp(b.record.data(), f.Record(), f.record_length) == 0
                       ? 1
                       : 0;
    return SevQuiet;
}

std::string FileManager::Position() {
    if (UseFile() != SevQuiet) return {};
    File& f = TheFile();
    if (PRIMARYKEY != 0 && PRIMARYKEY <= f.keys.size()) return dt::Position(*f.keys[PRIMARYKEY - 1u]);
    return dt::Position(f);
}

Severity FileManager::TryReget(std::string_view position) {
    if (UseFile() != SevQuiet) return SevFatal;
    File& f = TheFile();
    const ErrCode rc = PRIMARYKEY != 0 && PRIMARYKEY <= f.keys.size()
                           ? Reget(*f.keys[PRIMARYKEY - 1u], position)
                           : Reget(f, position);
    return rc == ErrNone ? SevQuiet : SevNotify;
}

USHORT FileManager::SaveFile() {
    File& f = TheFile();
    FileUsage& u = Entry();
    SavedState s{};
    s.buffer = SaveBuffer();
    s.autoincdone = u.AUTOINCDONE;
    if (u.USED) {
        ErrorKeeper keep;
        s.state = GetState(f);
        s.pos = PRIMARYKEY != 0 && PRIMARYKEY <= f.keys.size() ? dt::Position(*f.keys[PRIMARYKEY - 1u])
                                                               : dt::Position(f);
    }
    std::lock_guard lock(mutex_);
    if (++last_state_id_ == 0) last_state_id_ = 1;
    s.id = last_state_id_;
    saved_.push_back(std::move(s));
    return last_state_id_;
}

void FileManager::RestoreFile(USHORT& id, BYTE restore) {
    if (id == 0) return;
    SavedState s{};
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        for (auto it = saved_.begin(); it != saved_.end(); ++it)
            if (it->id == id) {
                s = std::move(*it);
                saved_.erase(it);
                found = true;
                break;
            }
    }
    id = 0;
    if (!found) return;
    File& f = TheFile();
    // A handle this manager took itself: RestoreFile has no result to give, and the
    // caller's error state is kept whatever the driver says.
    ErrorKeeper keep;
    if (restore) {
        ++INRESTORE;
        if (s.state > 0) (void)RestoreState(f, s.state);
        RestoreBuffer(s.buffer, 1);
        Entry().AUTOINCDONE = s.autoincdone;
        --INRESTORE;
    } else {
        RestoreBuffer(s.buffer, 0);
    }
    if (s.state > 0) (void)FreeState(f, s.state);
}

// ---- reading ----

Severity FileManager::DoRead(BYTE report, bool forward) {
    if (UseFile() != SevQuiet) return SevFatal;
    File& f = TheFile();
    FileUsage& u = Entry();
    u.ATEOF = 0;
    ErrCode rc = forward ? dt::Next(f) : dt::Previous(f);
    for (int skipped = 0; rc == ErrRecordHeld && SKIPHELDRECORDS && skipped < kHeldSkips; ++skipped)
        rc = forward ? dt::Next(f) : dt::Previous(f);
    if (rc == ErrNone) return SevQuiet;
    if (rc == ErrRecordNotAvailable) {
        u.ATEOF = 1;
        return SevNotify;
    }
    if (rc == ErrRecordHeld) return Fail(u, FileMsg::RecordHeld, report);
    return Fail(u, FileMsg::RetrievalError, report, SevFatal);
}

Severity FileManager::Next() {
    return DoRead(1, true);
}
Severity FileManager::TryNext() {
    return DoRead(0, true);
}
Severity FileManager::Previous() {
    return DoRead(1, false);
}
Severity FileManager::TryPrevious() {
    return DoRead(0, false);
}

Severity FileManager::Fetch(Key& key) {
    if (UseFile() != SevQuiet) return SevFatal;
    const ErrCode rc = Get(key);
    if (rc == ErrNone) return SevQuiet;
    if (rc == ErrRecordNotFound) return SevNotify;
    NoteLastError(FileMsg::RetrievalError);
    return SevFatal;
}

Severity FileManager::FetchOrClear(Key& key) {
    const Severity rc = Fetch(key);
    if (rc != SevQuiet) ClearRecord(TheFile());
    return rc;
}

// ---- validation and priming ----

Severity FileManager::ValidateFieldReport(int field) {
    return ValidateField(field, 1);
}
Severity FileManager::ValidateFieldQuiet(int field) {
    return ValidateField(field, 0);
}
Severity FileManager::ValidateField(int, BYTE) {
    return SevQuiet;
}

Severity FileManager::ValidateFields(int first, int last, int* failing) {
    for (int i = first; i <= last; ++i) {
        const Severity rc = ValidateFieldReport(i);
        if (rc != SevQuiet) {
            if (failing) *failing = i;
            return rc;
        }
    }
    return SevQuiet;
}

Severity FileManager::ValidateRecord(int* failing) {
    return ValidateFields(1, static_cast<int>(TheFile().fields.size()), failing);
}

Severity FileManager::ValidateNewRecord() {
    return SevQuiet;
}

void FileManager::PrimeFields() {}

Severity FileManager::PrimeRecord(BYTE keep_buffer) {
    if (!keep_buffer) ClearRecord(TheFile());
    PrimeFields();
    if (!HASAUTOINC) return SevQuiet;
    Entry().AUTOINCDONE = 0;
    return PrimeAutoInc();
}

// ---- auto-numbering ----

ErrCode FileManager::NextNumber(const FileKeyEntry& k, File& f, long long& value, bool& from_cache) {
    from_cache = false;
    const std::size_t n = k.AUTOINC;
    const Field& numbered = f.fields[static_cast<std::size_t>(k.FIELDS[n - 1].FIELD)];
    const bool single = k.FIELDS.size() == 1;
    if (single) {
        // While every row added since the highest number was read came from this
        // manager, the next number is known without asking the server again. A row
        // another computer added in between makes the insert fail on the unique key,
        // which drops this knowledge and reads the number afresh.
        std::lock_guard lock(mutex_);
        if (number_known_) {
            value = ++last_number_;
            from_cache = true;
            return ErrNone;
        }
    }
    std::string saved(f.Record(), f.record_length);
    Key& key = *f.keys[static_cast<std::size_t>(k.KEY - 1)];
    ErrCode rc;
    if (single) {
        // The highest value is the last in key order: read from the end.
        rc = Set(key);
    } else {
        // Within the group of the leading values: position after the group's highest.
        for (std::size_t i = n - 1; i < k.FIELDS.size(); ++i) {
            const Field& fld = f.fields[static_cast<std::size_t>(k.FIELDS[i].FIELD)];
            if (IntegerType(fld.type)) WriteInteger(f, fld, MaxOf(fld.type));
        }
        rc = Set(key, key);
    }
    if (rc == ErrNone) rc = k.FIELDS[n - 1].ASCEND ? dt::Previous(f) : dt::Next(f);
    long long found = 0;
    if (rc == ErrNone) {
        bool same_group = true;
        for (std::size_t i = 0; i + 1 < n && same_group; ++i) {
            const Field& fld = f.fields[static_cast<std::size_t>(k.FIELDS[i].FIELD)];
            same_group = std::memcmp(f.Record() + fld.offset, saved.data() + fld.offset, fld.size) == 0;
        }
        if (same_group) found = ReadInteger(f, numbered);
    }
    std::memcpy(f.Record(), saved.data(), f.record_length);
    if (rc != ErrNone && rc != ErrRecordNotAvailable) return rc;
    value = found + 1;
    if (single) {
        std::lock_guard lock(mutex_);
        // Another thread of this program may already hold higher numbers.
        if (number_known_ && last_number_ >= value) value = last_number_ + 1;
        last_number_ = value;
        number_known_ = true;
    }
    return ErrNone;
}

bool FileManager::DuplicatesOtherKey(File& f) {
    ErrorKeeper keep;
    std::string saved(f.Record(), f.record_length);
    bool dup = false;
    // No row holds the number: the server refused the row for another unique index of
    // its own (one the declaration does not list, such as one on the computer's name).
    if (const FileKeyEntry* a = AutoIncKey(); a != nullptr && a->FIELDS.size() == 1) {
        const ErrCode rc = Get(*f.keys[static_cast<std::size_t>(a->KEY - 1)]);
        std::memcpy(f.Record(), saved.data(), f.record_length);
        if (rc == ErrRecordNotFound) return true;
    }
    for (const FileKeyEntry& k : keys_) {
        if (k.DUPS || k.AUTOINC) continue;
        const ErrCode rc = Get(*f.keys[static_cast<std::size_t>(k.KEY - 1)]);
        std::memcpy(f.Record(), saved.data(), f.record_length);
        if (rc == ErrNone) {
            dup = true;
            break;
        }
    }
    return dup;
}

Severity FileManager::DoPrimeAutoInc(BYTE report, bool* duplicate) {
    FileUsage& u = Entry();
    if (!HASAUTOINC || u.AUTOINCDONE) return SevQuiet;
    if (UseFile() != SevQuiet) return SevFatal;
    File& f = TheFile();
    int failed = 0, duplicates = 0, rounds = 0;
    for (;;) {
        ErrCode rc = ErrNone;
        bool any_cached = false;
        for (const FileKeyEntry& k : keys_) {
            if (!k.AUTOINC) continue;
            const Field& numbered = f.fields[static_cast<std::size_t>(k.FIELDS[k.AUTOINC - 1u].FIELD)];
            if (!IntegerType(numbered.type)) {
                rc = ErrUnsupportedFunction;
                break;
            }
            long long value = 0;
            bool cached = false;
            rc = NextNumber(k, f, value, cached);
            any_cached = any_cached || cached;
            if (rc != ErrNone) return Fail(u, FileMsg::RetrievalError, report);
            if (!WriteInteger(f, numbered, value)) {
                rc = ErrUnsupportedFunction;  // the numbers of this field's type are used up
                break;
            }
        }
        if (rc == ErrNone) rc = Add(f);
        if (rc == ErrNone) {
            u.AUTOINCDONE = 1;
            return SevQuiet;
        }
        if (rc == ErrDuplicateKey) {
            ForgetAutoIncNumbers();
            // A row that repeats a unique key other than the numbered one will never go
            // in, whatever its number: let the insert report the duplicate.
            if (DuplicatesOtherKey(f)) {
                if (duplicate != nullptr) *duplicate = true;
                return SevNotify;
            }
            // Another writer took the number: read the highest again, quietly.
            if (any_cached || ++duplicates <= kDuplicateRetries) continue;
        }
        if (++failed < 3) continue;
        u.LASTERROR = FileMsg::AutoIncError;
        if (!report || ++rounds >= kAutoIncRounds) return SevNotify;
        if (Raise(FileMsg::AutoIncError) != SevQuiet) return SevNotify;
        failed = 0;
        duplicates = 0;
    }
}

Severity FileManager::PrimeAutoInc() {
    return DoPrimeAutoInc(1);
}

Severity FileManager::TryPrimeAutoInc() {
    return DoPrimeAutoInc(0);
}

Severity FileManager::CancelAutoInc(RelationManager* relation) {
    if (UseFile() != SevQuiet) return SevFatal;
    FileUsage& u = Entry();
    if (!HASAUTOINC || !u.AUTOINCDONE) return SevQuiet;
    File& f = TheFile();
    // The reserved row is found again by its number, whatever the form changed since.
    const FileKeyEntry* k = AutoIncKey();
    const ErrCode found = k != nullptr ? Get(*f.keys[static_cast<std::size_t>(k->KEY - 1)]) : ErrNone;
    if (found != ErrNone) {
        // Nothing to release when the row is gone already.
        if (found == ErrRecordNotFound) {
            u.AUTOINCDONE = 0;
            return SevQuiet;
        }
        return Fail(u, FileMsg::NotDeleted, 0);
    }
    const Severity rc = relation != nullptr ? relation->Delete(0) : DeleteRecord();
    if (rc == SevQuiet) u.AUTOINCDONE = 0;
    return rc;
}

// ---- writing ----

Severity FileManager::DoInsert(BYTE report) {
    if (UseFile() != SevQuiet) return SevFatal;
    if (ValidateRecord() != SevQuiet) return SevNotify;
    File& f = TheFile();
    FileUsage& u = Entry();
    ErrCode rc;
    if (HASAUTOINC) {
        if (u.AUTOINCDONE) {
            rc = Put(f);
        } else {
            // Adding the row is how its number is reserved: it is in once that succeeds.
            bool duplicate = false;
            if (DoPrimeAutoInc(report, &duplicate) != SevQuiet && !duplicate) return SevNotify;
            rc = duplicate ? ErrDuplicateKey : ErrNone;
        }
    } else {
        rc = Add(f);
    }
    if (rc == ErrNone) {
        u.AUTOINCDONE = 0;
        return SevQuiet;
    }
    if (rc == ErrDuplicateKey) {
        u.LASTERROR = FileMsg::DuplicateKey;
        if (!report) return SevNotify;
        // Name the first key whose values another row already has.
        std::string description;
        {
            ErrorKeeper keep;
            std::string saved(f.Record(), f.record_length);
            for (const FileKeyEntry& k : keys_) {
                if (k.DUPS) continue;
                if (description.empty()) description = k.DESCRIPTION;
                const ErrCode g = Get(*f.keys[static_cast<std::size_t>(k.KEY - 1)]);
                std::memcpy(f.Record(), saved.data(), f.record_length);
                if (g == ErrNone) {
                    description = k.DESCRIPTION;
                    break;
                }
            }
        }
        ShowOnly(RaiseWithText(FileMsg::DuplicateKey, description));
        return SevNotify;
    }
    return Fail(u, FileMsg::InsertError, report);
}

Severity FileManager::Insert() {
    return DoInsert(1);
}
Severity FileManager::TryInsert() {
    return DoInsert(0);
}

Severity FileManager::Update(BYTE mode) {
    if (UseFile() != SevQuiet) return SevFatal;
    if (ValidateRecord() != SevQuiet) return SevAskUser;
    File& f = TheFile();
    FileUsage& u = Entry();
    std::string pos;
    {
        ErrorKeeper keep;
        pos = PRIMARYKEY != 0 && PRIMARYKEY <= f.keys.size() ? dt::Position(*f.keys[PRIMARYKEY - 1u])
                                                             : dt::Position(f);
    }
    const ErrCode rc = Put(f);
    if (rc == ErrNone) return SevQuiet;
    if (rc == ErrRecordChanged) {
        u.LASTERROR = mode == 2 ? FileMsg::ChangedShown : FileMsg::Changed;
        if (mode) ShowOnly(Raise(u.LASTERROR));
        // Show the other station's values. The update has failed whatever these say;
        // a row that cannot be read again leaves the form's own values in the buffer.
        ErrorKeeper keep;
        (void)Watch(f);
        if (PRIMARYKEY != 0 && PRIMARYKEY <= f.keys.size())
            (void)Reget(*f.keys[PRIMARYKEY - 1u], pos);
        else
            (void)Reget(f, pos);
        return SevNotify;
    }
    return Fail(u, FileMsg::NotUpdated, mode);
}

Severity FileManager::TryUpdate() {
    return Update(0);
}

Severity FileManager::DeleteRecord() {
    if (dt::Delete(TheFile()) == ErrNone) {
        ForgetAutoIncNumbers();
        return SevQuiet;
    }
    NoteLastError(FileMsg::NotDeleted);
    return SevNotify;
}

}  // namespace dt
