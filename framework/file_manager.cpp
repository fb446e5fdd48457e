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
    ErrorKeeper() : code_(ErrorCode()), file_code_(FileErrorCode()), file_error_(FileError()) {}
    ~ErrorKeeper() { SetErrorState(code_, file_code_, file_error_); }
    ErrorKeeper(const ErrorKeeper&) = delete;
    ErrorKeeper& operator=(const ErrorKeeper&) = delete;

  private:
    int code_;
    std::string file_code_, file_error_;
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

int FileManager::Raise(USHORT id) {
    NoteLastError(id);
    ERRORS->NoteFileName(TableName());
    return ERRORS->Raise(id);
}

int FileManager::RaiseLast() {
    USHORT id = LastError();
    if (id == 0) return 0;
    ERRORS->NoteFileName(TableName());
    return ERRORS->Raise(id);
}

int FileManager::RaiseWithText(USHORT id, std::string_view text) {
    NoteLastError(id);
    ERRORS->NoteFileName(TableName());
    return ERRORS->RaiseWithText(id, text);
}

int FileManager::Fail(FileUsage& u, USHORT id, BYTE report, int quiet_result) {
    u.LASTERROR = id;
    if (report) return Raise(id);
    return quiet_result;
}

// ---- opening and closing ----

int FileManager::UseFile(BYTE) {
    INUSEFILE = 1;
    FileUsage& u = Entry();
    ERRORS->NoteFileName(TableName());
    if (LAZYOPEN && !u.USED) {
        if (u.OPENED == 0) {
            int rc = Raise(FileMsg::UsageError);
            INUSEFILE = 0;
            return rc != 0 ? rc : SevFatal;
        }
        USHORT id = SaveBuffer();
        int rc = OpenFile(1);
        RestoreBuffer(id, 1);
        INUSEFILE = 0;
        return rc;
    }
    INUSEFILE = 0;
    return 0;
}

int FileManager::CreateMissing(File& f) {
    // A plain CREATE replaces an existing table: two computers starting at once would
    // drop each other's rows. The create-if-missing form treats "exists" as success.
    return CreateIfMissing(f);
}

int FileManager::OpenFile(BYTE report) {
    File& f = TheFile();
    FileUsage& u = Entry();
    for (int attempt = 0; attempt < 2; ++attempt) {
        int rc = dt::Open(f, OPENMODE);
        if (rc == 5) {
            Send(f, "Recover=" + std::to_string(LOCKRECOVER));
            rc = dt::Open(f, OPENMODE);
        }
        if (rc == 0 || rc == 52) {
            u.USED = 1;
            u.ATEOF = 0;
            u.AUTOINCDONE = 0;
            return 0;
        }
        if (rc == 5) {
            if ((OPENMODE & 0x0F) == 0) return Fail(u, FileMsg::OpenError, report);
            OPENMODE &= 0xF0;
            if (report)
                Raise(FileMsg::AccessDenied);
            else
                u.LASTERROR = FileMsg::AccessDenied;
            continue;
        }
        if (rc == 46) {
            u.LASTERROR = FileMsg::InvalidKey;
            if (!report) return 5;
            Raise(FileMsg::InvalidKey);
            if (Build(f) != 0) return Fail(u, FileMsg::KeyNotBuilt, report);
            continue;
        }
        if (rc == 2 && CREATE) {
            if (CreateMissing(f) != 0) return Fail(u, FileMsg::CreateError, report);
            // Name and row-number lookups need the keys' indexes. A failure here leaves
            // the table usable (only slower), so it does not fail the open.
            if (!keys_.empty()) {
                ErrorKeeper keep;
                Build(f);
            }
            continue;
        }
        return Fail(u, FileMsg::OpenError, report);
    }
    return Fail(u, FileMsg::OpenError, report);
}

int FileManager::Open(BYTE force) {
    FileUsage& u = Entry();
    if (force || (!LAZYOPEN && u.OPENED == 0)) {
        if (!u.USED) {
            int rc = OpenFile(1);
            if (rc != 0) return rc;
        }
    }
    ++u.OPENED;
    return 0;
}

int FileManager::TryOpen(BYTE force) {
    FileUsage& u = Entry();
    if (force || (!LAZYOPEN && u.OPENED == 0)) {
        if (!u.USED) {
            int rc = OpenFile(0);
            if (rc != 0) return rc;
        }
    }
    ++u.OPENED;
    return 0;
}

int FileManager::Close() {
    FileUsage& u = Entry();
    if (u.OPENED > 0) {
        --u.OPENED;
        if (u.OPENED == 0) {
            if (u.USED) {
                ++INCLOSE;
                dt::Close(TheFile());
                --INCLOSE;
            }
            u.USED = 0;
            u.ATEOF = 0;
            u.AUTOINCDONE = 0;
            ForgetAutoIncNumbers();
        }
    }
    return 0;
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
        b.has_nulls = ErrorCode() == 0;
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
        SetNulls(f, b.nulls);
    }
}

BYTE FileManager::EqualBuffer(USHORT id) {
    if (UseFile() != 0) return 0;
    File& f = TheFile();
    std::lock_guard lock(mutex_);
    for (const SavedBuffer& b : buffers_)
        if (b.id == id)
            return b.record.size() == f.record_length &&
                           std::memcmp(b.record.data(), f.Record(), f.record_length) == 0
                       ? 1
                       : 0;
    return 0;
}

std::string FileManager::Position() {
    if (UseFile() != 0) return {};
    File& f = TheFile();
    if (PRIMARYKEY != 0 && PRIMARYKEY <= f.keys.size()) return dt::Position(*f.keys[PRIMARYKEY - 1u]);
    return dt::Position(f);
}

int FileManager::TryReget(std::string_view position) {
    if (UseFile() != 0) return 3;
    File& f = TheFile();
    int rc = PRIMARYKEY != 0 && PRIMARYKEY <= f.keys.size() ? Reget(*f.keys[PRIMARYKEY - 1u], position)
                                                            : Reget(f, position);
    return rc == 0 ? 0 : 5;
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
    ErrorKeeper keep;
    if (restore) {
        ++INRESTORE;
        if (s.state > 0) RestoreState(f, s.state);
        RestoreBuffer(s.buffer, 1);
        Entry().AUTOINCDONE = s.autoincdone;
        --INRESTORE;
    } else {
        RestoreBuffer(s.buffer, 0);
    }
    if (s.state > 0) FreeState(f, s.state);
}

// ---- reading ----

int FileManager::DoRead(BYTE report, bool forward) {
    if (UseFile() != 0) return 3;
    File& f = TheFile();
    FileUsage& u = Entry();
    u.ATEOF = 0;
    int rc = forward ? dt::Next(f) : dt::Previous(f);
    for (int skipped = 0; rc == 43 && SKIPHELDRECORDS && skipped < kHeldSkips; ++skipped)
        rc = forward ? dt::Next(f) : dt::Previous(f);
    if (rc == 0) return 0;
    if (rc == 33) {
        u.ATEOF = 1;
        return 5;
    }
    if (rc == 43) return Fail(u, FileMsg::RecordHeld, report);
    return Fail(u, FileMsg::RetrievalError, report, 3);
}

int FileManager::Next() {
    return DoRead(1, true);
}
int FileManager::TryNext() {
    return DoRead(0, true);
}
int FileManager::Previous() {
    return DoRead(1, false);
}
int FileManager::TryPrevious() {
    return DoRead(0, false);
}

int FileManager::Fetch(Key& key) {
    if (UseFile() != 0) return 3;
    int rc = Get(key);
    if (rc == 0) return 0;
    if (rc == 35) return 5;
    NoteLastError(FileMsg::RetrievalError);
    return 3;
}

int FileManager::FetchOrClear(Key& key) {
    int rc = Fetch(key);
    if (rc != 0) ClearRecord(TheFile());
    return rc;
}

// ---- validation and priming ----

int FileManager::ValidateFieldReport(int field) {
    return ValidateField(field, 1);
}
int FileManager::ValidateFieldQuiet(int field) {
    return ValidateField(field, 0);
}
int FileManager::ValidateField(int, BYTE) {
    return 0;
}

int FileManager::ValidateFields(int first, int last, int* failing) {
    for (int i = first; i <= last; ++i) {
        int rc = ValidateFieldReport(i);
        if (rc != 0) {
            if (failing) *failing = i;
            return rc;
        }
    }
    return 0;
}

int FileManager::ValidateRecord(int* failing) {
    return ValidateFields(1, static_cast<int>(TheFile().fields.size()), failing);
}

int FileManager::ValidateNewRecord() {
    return 0;
}

void FileManager::PrimeFields() {}

int FileManager::PrimeRecord(BYTE keep_buffer) {
    if (!keep_buffer) ClearRecord(TheFile());
    PrimeFields();
    if (!HASAUTOINC) return 0;
    Entry().AUTOINCDONE = 0;
    return PrimeAutoInc();
}

// ---- auto-numbering ----

int FileManager::NextNumber(const FileKeyEntry& k, File& f, long long& value, bool& from_cache) {
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
            return 0;
        }
    }
    std::string saved(f.Record(), f.record_length);
    Key& key = *f.keys[static_cast<std::size_t>(k.KEY - 1)];
    int rc;
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
    if (rc == 0) rc = k.FIELDS[n - 1].ASCEND ? dt::Previous(f) : dt::Next(f);
    long long found = 0;
    if (rc == 0) {
        bool same_group = true;
        for (std::size_t i = 0; i + 1 < n && same_group; ++i) {
            const Field& fld = f.fields[static_cast<std::size_t>(k.FIELDS[i].FIELD)];
            same_group = std::memcmp(f.Record() + fld.offset, saved.data() + fld.offset, fld.size) == 0;
        }
        if (same_group) found = ReadInteger(f, numbered);
    }
    std::memcpy(f.Record(), saved.data(), f.record_length);
    if (rc != 0 && rc != 33) return rc;
    value = found + 1;
    if (single) {
        std::lock_guard lock(mutex_);
        // Another thread of this program may already hold higher numbers.
        if (number_known_ && last_number_ >= value) value = last_number_ + 1;
        last_number_ = value;
        number_known_ = true;
    }
    return 0;
}

bool FileManager::DuplicatesOtherKey(File& f) {
    ErrorKeeper keep;
    std::string saved(f.Record(), f.record_length);
    bool dup = false;
    // No row holds the number: the server refused the row for another unique index of
    // its own (one the declaration does not list, such as one on the computer's name).
    if (const FileKeyEntry* a = AutoIncKey(); a != nullptr && a->FIELDS.size() == 1) {
        const int rc = Get(*f.keys[static_cast<std::size_t>(a->KEY - 1)]);
        std::memcpy(f.Record(), saved.data(), f.record_length);
        if (rc == 35) return true;
    }
    for (const FileKeyEntry& k : keys_) {
        if (k.DUPS || k.AUTOINC) continue;
        int rc = Get(*f.keys[static_cast<std::size_t>(k.KEY - 1)]);
        std::memcpy(f.Record(), saved.data(), f.record_length);
        if (rc == 0) {
            dup = true;
            break;
        }
    }
    return dup;
}

int FileManager::DoPrimeAutoInc(BYTE report) {
    FileUsage& u = Entry();
    if (!HASAUTOINC || u.AUTOINCDONE) return 0;
    if (UseFile() != 0) return 3;
    File& f = TheFile();
    int failed = 0, duplicates = 0, rounds = 0;
    for (;;) {
        int rc = 0;
        bool any_cached = false;
        for (const FileKeyEntry& k : keys_) {
            if (!k.AUTOINC) continue;
            const Field& numbered = f.fields[static_cast<std::size_t>(k.FIELDS[k.AUTOINC - 1u].FIELD)];
            if (!IntegerType(numbered.type)) {
                rc = 80;
                break;
            }
            long long value = 0;
            bool cached = false;
            rc = NextNumber(k, f, value, cached);
            any_cached = any_cached || cached;
            if (rc != 0) return Fail(u, FileMsg::RetrievalError, report);
            if (!WriteInteger(f, numbered, value)) {
                rc = 80;  // the numbers of this field's type are used up
                break;
            }
        }
        if (rc == 0) rc = Add(f);
        if (rc == 0) {
            u.AUTOINCDONE = 1;
            return 0;
        }
        if (rc == 40) {
            ForgetAutoIncNumbers();
            // A row that repeats a unique key other than the numbered one will never go
            // in, whatever its number: let the insert report the duplicate.
            if (DuplicatesOtherKey(f)) return 40;
            // Another writer took the number: read the highest again, quietly.
            if (any_cached || ++duplicates <= kDuplicateRetries) continue;
        }
        if (++failed < 3) continue;
        u.LASTERROR = FileMsg::AutoIncError;
        if (!report || ++rounds >= kAutoIncRounds) return 5;
        if (Raise(FileMsg::AutoIncError) != 0) return 5;
        failed = 0;
        duplicates = 0;
    }
}

int FileManager::PrimeAutoInc() {
    int rc = DoPrimeAutoInc(1);
    return rc == 40 ? 5 : rc;
}

int FileManager::TryPrimeAutoInc() {
    int rc = DoPrimeAutoInc(0);
    return rc == 40 ? 5 : rc;
}

int FileManager::CancelAutoInc(RelationManager* relation) {
    if (UseFile() != 0) return 3;
    FileUsage& u = Entry();
    if (!HASAUTOINC || !u.AUTOINCDONE) return 0;
    File& f = TheFile();
    // The reserved row is found again by its number, whatever the form changed since.
    const FileKeyEntry* k = AutoIncKey();
    int rc = k != nullptr ? Get(*f.keys[static_cast<std::size_t>(k->KEY - 1)]) : 0;
    if (rc != 0) {
        // Nothing to release when the row is gone already.
        if (rc == 35) {
            u.AUTOINCDONE = 0;
            return 0;
        }
        return Fail(u, FileMsg::NotDeleted, 0);
    }
    rc = relation != nullptr ? relation->Delete(0) : DeleteRecord();
    if (rc == 0) u.AUTOINCDONE = 0;
    return rc;
}

// ---- writing ----

int FileManager::DoInsert(BYTE report) {
    if (UseFile() != 0) return 3;
    if (ValidateRecord() != 0) return 5;
    File& f = TheFile();
    FileUsage& u = Entry();
    int rc;
    if (HASAUTOINC) {
        if (u.AUTOINCDONE) {
            rc = Put(f);
        } else {
            rc = DoPrimeAutoInc(report);
            if (rc != 0 && rc != 40) return 5;
        }
    } else {
        rc = Add(f);
    }
    if (rc == 0) {
        u.AUTOINCDONE = 0;
        return 0;
    }
    if (rc == 40) {
        u.LASTERROR = FileMsg::DuplicateKey;
        if (!report) return 5;
        // Name the first key whose values another row already has.
        std::string description;
        {
            ErrorKeeper keep;
            std::string saved(f.Record(), f.record_length);
            for (const FileKeyEntry& k : keys_) {
                if (k.DUPS) continue;
                if (description.empty()) description = k.DESCRIPTION;
                int g = Get(*f.keys[static_cast<std::size_t>(k.KEY - 1)]);
                std::memcpy(f.Record(), saved.data(), f.record_length);
                if (g == 0) {
                    description = k.DESCRIPTION;
                    break;
                }
            }
        }
        RaiseWithText(FileMsg::DuplicateKey, description);
        return 5;
    }
    return Fail(u, FileMsg::InsertError, report);
}

int FileManager::Insert() {
    return DoInsert(1);
}
int FileManager::TryInsert() {
    return DoInsert(0);
}

int FileManager::Update(BYTE mode) {
    if (UseFile() != 0) return 3;
    if (ValidateRecord() != 0) return 1;
    File& f = TheFile();
    FileUsage& u = Entry();
    std::string pos;
    {
        ErrorKeeper keep;
        pos = PRIMARYKEY != 0 && PRIMARYKEY <= f.keys.size() ? dt::Position(*f.keys[PRIMARYKEY - 1u])
                                                             : dt::Position(f);
    }
    int rc = Put(f);
    if (rc == 0) return 0;
    if (rc == 89) {
        u.LASTERROR = mode == 2 ? FileMsg::ChangedShown : FileMsg::Changed;
        if (mode) Raise(u.LASTERROR);
        // Show the other station's values.
        ErrorKeeper keep;
        Watch(f);
        if (PRIMARYKEY != 0 && PRIMARYKEY <= f.keys.size())
            Reget(*f.keys[PRIMARYKEY - 1u], pos);
        else
            Reget(f, pos);
        return 5;
    }
    return Fail(u, FileMsg::NotUpdated, mode);
}

int FileManager::TryUpdate() {
    return Update(0);
}

int FileManager::DeleteRecord() {
    if (dt::Delete(TheFile()) == 0) {
        ForgetAutoIncNumbers();
        return 0;
    }
    NoteLastError(FileMsg::NotDeleted);
    return 5;
}

}  // namespace dt
