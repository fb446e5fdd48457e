#include "data/statements.h"

#include <vector>

#include "runtime/errors.h"

namespace dt {
namespace {

// The calling thread's transaction: the files named by its LOGOUT.
thread_local std::vector<File*> t_logout_files;

[[nodiscard]] ErrCode Call(int op, File& f, DriverArgs& a) {
    return CallDriver(op, f, a);
}

ErrCode Simple(int op, File& f) {
    DriverArgs a;
    return Call(op, f, a);
}

ErrCode WithKey(int op, Key& k) {
    DriverArgs a;
    a.key = &k;
    return Call(op, k.file, a);
}

ErrCode FieldOp(int op, File& f, std::string_view label) {
    DriverArgs a;
    a.text = label;
    a.value = f.FieldIndex(label);
    if (a.value < 0) return SetError(ErrInvalidRecordDeclaration);
    return Call(op, f, a);
}

}  // namespace

ErrCode CallDriver(int op, File& f, DriverArgs& a) {
    if (f.driver == nullptr || f.driver->entry == nullptr || !f.driver->SupportsOperation(op))
        return SetError(ErrUnsupportedFunction);
    if (TakesKey(op) && (a.key == nullptr || &a.key->file != &f)) return SetError(ErrInvalidKeyFile);
    const ErrCode rc = ToErrCode(f.driver->entry(op, f, a));
    if (rc == ErrFileSystem) return SetErrorState(ErrFileSystem, a.file_error_code, a.file_error);
    return SetError(rc);
}

ErrCode Open(File& f, int mode) {
    DriverArgs a;
    a.value = mode;
    return Call(OP_OPEN, f, a);
}

ErrCode Share(File& f, int mode) {
    DriverArgs a;
    a.value = mode;
    return Call(OP_SHARE, f, a);
}

ErrCode Close(File& f) {
    return Simple(OP_CLOSE, f);
}
void CloseAfterUse(File& f) {
    (void)Close(f);
}
ErrCode Create(File& f) {
    return Simple(OP_CREATE, f);
}
ErrCode Remove(File& f) {
    return Simple(OP_REMOVE, f);
}
ErrCode Build(File& f) {
    return Simple(OP_BUILDfile, f);
}
ErrCode Build(Key& k) {
    return WithKey(OP_BUILDkey, k);
}
ErrCode Empty(File& f) {
    return Simple(OP_EMPTY, f);
}

ErrCode Set(File& f) {
    return Simple(OP_SETfile, f);
}
ErrCode Set(Key& k) {
    return WithKey(OP_SETkey, k);
}

ErrCode Set(Key& k, Key& start) {
    DriverArgs a;
    a.key = &k;
    a.key2 = &start;
    return Call(OP_SETkeykey, k.file, a);
}

ErrCode SetFileKey(File& f, Key& start) {
    DriverArgs a;
    a.key = &start;
    return Call(OP_SETfilekey, f, a);
}

std::string Position(File& f) {
    std::string out;
    DriverArgs a;
    a.out = &out;
    (void)Call(OP_POSITIONfile, f, a);  // the code is in ErrorCode()
    return out;
}

std::string Position(Key& k) {
    std::string out;
    DriverArgs a;
    a.key = &k;
    a.out = &out;
    (void)Call(OP_POSITIONkey, k.file, a);  // the code is in ErrorCode()
    return out;
}

ErrCode Reset(Key& k, std::string_view position) {
    DriverArgs a;
    a.key = &k;
    a.text = position;
    return Call(OP_RESETkey, k.file, a);
}

ErrCode Reset(File& f, std::string_view position) {
    DriverArgs a;
    a.text = position;
    return Call(OP_RESETfile, f, a);
}

ErrCode Next(File& f) {
    return Simple(OP_NEXT, f);
}
ErrCode Previous(File& f) {
    return Simple(OP_PREVIOUS, f);
}

ErrCode Skip(File& f, long count) {
    DriverArgs a;
    a.value = count;
    return Call(OP_SKIP, f, a);
}

ErrCode Get(Key& k) {
    return WithKey(OP_GETfilekey, k);
}

ErrCode Get(File& f, std::string_view position) {
    DriverArgs a;
    a.text = position;
    return Call(OP_GETfileptr, f, a);
}

ErrCode Reget(File& f, std::string_view position) {
    DriverArgs a;
    a.text = position;
    return Call(OP_REGETfile, f, a);
}

ErrCode Reget(Key& k, std::string_view position) {
    DriverArgs a;
    a.key = &k;
    a.text = position;
    return Call(OP_REGETkey, k.file, a);
}

ErrCode Add(File& f) {
    return Simple(OP_ADD, f);
}
ErrCode Append(File& f) {
    return Simple(OP_APPEND, f);
}
ErrCode Put(File& f) {
    return Simple(OP_PUT, f);
}
ErrCode Delete(File& f) {
    return Simple(OP_DELETE, f);
}
ErrCode Watch(File& f) {
    return Simple(OP_WATCH, f);
}

ErrCode Hold(File& f, long seconds) {
    DriverArgs a;
    a.value = seconds;
    return Call(seconds < 0 ? OP_HOLDfile : OP_HOLDfilesec, f, a);
}

ErrCode Release(File& f) {
    return Simple(OP_RELEASE, f);
}

ErrCode Lock(File& f, long seconds) {
    DriverArgs a;
    a.value = seconds;
    return Call(seconds < 0 ? OP_LOCKfile : OP_LOCKfilesec, f, a);
}

ErrCode Unlock(File& f) {
    return Simple(OP_UNLOCK, f);
}

long Records(File& f) {
    DriverArgs a;
    return Call(OP_RECORDSfile, f, a) == ErrNone ? a.result : -1;
}

long Records(Key& k) {
    DriverArgs a;
    a.key = &k;
    return Call(OP_RECORDSkey, k.file, a) == ErrNone ? a.result : -1;
}

ErrCode Logout(long seconds, std::initializer_list<File*> files) {
    if (!t_logout_files.empty()) return SetError(ErrLogoutActive);
    std::vector<File*> done;
    for (File* f : files) {
        DriverArgs a;
        a.value = seconds;
        const ErrCode rc = Call(OP_LOGOUT, *f, a);
        if (rc != ErrNone) {
            // Undo the files already in the transaction, keeping the first failure: the
            // undo's own result would only hide it.
            for (File* g : done) {
                DriverArgs undo;
                (void)g->driver->entry(OP_ROLLBACK, *g, undo);
            }
            return rc == ErrFileSystem ? SetErrorState(ErrFileSystem, a.file_error_code, a.file_error)
                                       : SetError(rc);
        }
        done.push_back(f);
    }
    t_logout_files = std::move(done);
    return SetError(ErrNone);
}

namespace {
ErrCode EndTransaction(int op) {
    if (t_logout_files.empty()) return SetError(ErrNoLogoutActive);
    std::vector<File*> files;
    files.swap(t_logout_files);
    ErrCode first = ErrNone;
    std::string state, message;
    for (File* f : files) {
        DriverArgs a;
        const ErrCode rc = CallDriver(op, *f, a);
        if (rc != ErrNone && first == ErrNone) {
            first = rc;
            state = a.file_error_code;
            message = a.file_error;
        }
    }
    return first == ErrFileSystem ? SetErrorState(ErrFileSystem, state, message) : SetError(first);
}
}  // namespace

ErrCode Commit() {
    return EndTransaction(OP_COMMIT);
}
ErrCode Rollback() {
    return EndTransaction(OP_ROLLBACK);
}

std::string Send(File& f, std::string_view text) {
    std::string out;
    DriverArgs a;
    a.text = text;
    a.out = &out;
    (void)Call(OP_SEND, f, a);  // the code is in ErrorCode()
    return out;
}

std::string Name(File& f) {
    std::string out;
    DriverArgs a;
    a.out = &out;
    (void)Call(OP_NAME, f, a);  // the code is in ErrorCode()
    return out;
}

bool IsNull(File& f, std::string_view label) {
    DriverArgs a;
    a.text = label;
    a.value = f.FieldIndex(label);
    if (a.value < 0) {
        NoteError(ErrInvalidRecordDeclaration);
        return false;
    }
    return Call(OP_NULL, f, a) == ErrNone && a.result != 0;
}

ErrCode SetNull(File& f, std::string_view label) {
    return FieldOp(OP_SETNULL, f, label);
}
ErrCode SetNonull(File& f, std::string_view label) {
    return FieldOp(OP_SETNONULL, f, label);
}

ErrCode SetNull(File& f) {
    DriverArgs a;
    a.value = -1;
    return Call(OP_SETNULL, f, a);
}

ErrCode SetNonull(File& f) {
    DriverArgs a;
    a.value = -1;
    return Call(OP_SETNONULL, f, a);
}

std::string GetNulls(File& f) {
    std::string out;
    DriverArgs a;
    a.out = &out;
    (void)Call(OP_GETNULLS, f, a);  // the code is in ErrorCode()
    return out;
}

ErrCode SetNulls(File& f, std::string_view nulls) {
    DriverArgs a;
    a.text = nulls;
    return Call(OP_SETNULLS, f, a);
}

ErrCode Buffer(File& f, long pagesize, long behind, long ahead, long timeout) {
    DriverArgs a;
    a.words = {pagesize, behind, ahead, timeout};
    return Call(OP_BUFFER, f, a);
}

ErrCode SetProperty(File& f, long prop, std::string_view value, long index) {
    DriverArgs a;
    a.value = prop;
    a.index = index;
    a.text = value;
    return Call(OP_SET_PROPERTY, f, a);
}

std::string GetProperty(File& f, long prop, long index) {
    std::string out;
    DriverArgs a;
    a.value = prop;
    a.index = index;
    a.out = &out;
    (void)Call(OP_GET_PROPERTY, f, a);  // the code is in ErrorCode()
    return out;
}

long GetState(File& f) {
    DriverArgs a;
    return Call(OP_GETSTATE, f, a) == ErrNone ? a.result : 0;
}

ErrCode RestoreState(File& f, long handle) {
    DriverArgs a;
    a.value = handle;
    return Call(OP_RESTORESTATE, f, a);
}

ErrCode FreeState(File& f, long handle) {
    DriverArgs a;
    a.value = handle;
    return Call(OP_FREESTATE, f, a);
}

}  // namespace dt
