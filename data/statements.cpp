#include "data/statements.h"

#include <vector>

#include "runtime/errors.h"

namespace dt {
namespace {

// The calling thread's transaction: the files named by its LOGOUT.
thread_local std::vector<File*> t_logout_files;

int Call(int op, File& f, DriverArgs& a) {
    return CallDriver(op, f, a);
}

int Simple(int op, File& f) {
    DriverArgs a;
    return Call(op, f, a);
}

int WithKey(int op, Key& k) {
    DriverArgs a;
    a.key = &k;
    return Call(op, k.file, a);
}

int FieldOp(int op, File& f, std::string_view label) {
    DriverArgs a;
    a.text = label;
    a.value = f.FieldIndex(label);
    if (a.value < 0) return SetError(47);
    return Call(op, f, a);
}

}  // namespace

int CallDriver(int op, File& f, DriverArgs& a) {
    if (f.driver == nullptr || f.driver->entry == nullptr || !f.driver->SupportsOperation(op))
        return SetError(80);
    if (TakesKey(op) && (a.key == nullptr || &a.key->file != &f)) return SetError(38);
    int rc = f.driver->entry(op, f, a);
    if (rc == 90) return SetErrorState(90, a.file_error_code, a.file_error);
    return SetError(rc);
}

int Open(File& f, int mode) {
    DriverArgs a;
    a.value = mode;
    return Call(OP_OPEN, f, a);
}

int Share(File& f, int mode) {
    DriverArgs a;
    a.value = mode;
    return Call(OP_SHARE, f, a);
}

int Close(File& f) {
    return Simple(OP_CLOSE, f);
}
int Create(File& f) {
    return Simple(OP_CREATE, f);
}
int Remove(File& f) {
    return Simple(OP_REMOVE, f);
}
int Build(File& f) {
    return Simple(OP_BUILDfile, f);
}
int Build(Key& k) {
    return WithKey(OP_BUILDkey, k);
}
int Empty(File& f) {
    return Simple(OP_EMPTY, f);
}

int Set(File& f) {
    return Simple(OP_SETfile, f);
}
int Set(Key& k) {
    return WithKey(OP_SETkey, k);
}

int Set(Key& k, Key& start) {
    DriverArgs a;
    a.key = &k;
    a.key2 = &start;
    return Call(OP_SETkeykey, k.file, a);
}

int SetFileKey(File& f, Key& start) {
    DriverArgs a;
    a.key = &start;
    return Call(OP_SETfilekey, f, a);
}

std::string Position(File& f) {
    std::string out;
    DriverArgs a;
    a.out = &out;
    Call(OP_POSITIONfile, f, a);
    return out;
}

std::string Position(Key& k) {
    std::string out;
    DriverArgs a;
    a.key = &k;
    a.out = &out;
    Call(OP_POSITIONkey, k.file, a);
    return out;
}

int Reset(Key& k, std::string_view position) {
    DriverArgs a;
    a.key = &k;
    a.text = position;
    return Call(OP_RESETkey, k.file, a);
}

int Reset(File& f, std::string_view position) {
    DriverArgs a;
    a.text = position;
    return Call(OP_RESETfile, f, a);
}

int Next(File& f) {
    return Simple(OP_NEXT, f);
}
int Previous(File& f) {
    return Simple(OP_PREVIOUS, f);
}

int Skip(File& f, long count) {
    DriverArgs a;
    a.value = count;
    return Call(OP_SKIP, f, a);
}

int Get(Key& k) {
    return WithKey(OP_GETfilekey, k);
}

int Get(File& f, std::string_view position) {
    DriverArgs a;
    a.text = position;
    return Call(OP_GETfileptr, f, a);
}

int Reget(File& f, std::string_view position) {
    DriverArgs a;
    a.text = position;
    return Call(OP_REGETfile, f, a);
}

int Reget(Key& k, std::string_view position) {
    DriverArgs a;
    a.key = &k;
    a.text = position;
    return Call(OP_REGETkey, k.file, a);
}

int Add(File& f) {
    return Simple(OP_ADD, f);
}
int Append(File& f) {
    return Simple(OP_APPEND, f);
}
int Put(File& f) {
    return Simple(OP_PUT, f);
}
int Delete(File& f) {
    return Simple(OP_DELETE, f);
}
int Watch(File& f) {
    return Simple(OP_WATCH, f);
}

int Hold(File& f, long seconds) {
    DriverArgs a;
    a.value = seconds;
    return Call(seconds < 0 ? OP_HOLDfile : OP_HOLDfilesec, f, a);
}

int Release(File& f) {
    return Simple(OP_RELEASE, f);
}

int Lock(File& f, long seconds) {
    DriverArgs a;
    a.value = seconds;
    return Call(seconds < 0 ? OP_LOCKfile : OP_LOCKfilesec, f, a);
}

int Unlock(File& f) {
    return Simple(OP_UNLOCK, f);
}

long Records(File& f) {
    DriverArgs a;
    return Call(OP_RECORDSfile, f, a) == 0 ? a.result : -1;
}

long Records(Key& k) {
    DriverArgs a;
    a.key = &k;
    return Call(OP_RECORDSkey, k.file, a) == 0 ? a.result : -1;
}

int Logout(long seconds, std::initializer_list<File*> files) {
    if (!t_logout_files.empty()) return SetError(56);
    std::vector<File*> done;
    for (File* f : files) {
        DriverArgs a;
        a.value = seconds;
        int rc = Call(OP_LOGOUT, *f, a);
        if (rc != 0) {
            // Undo the files already in the transaction, keeping the first failure.
            for (File* g : done) {
                DriverArgs undo;
                g->driver->entry(OP_ROLLBACK, *g, undo);
            }
            return rc == 90 ? SetErrorState(90, a.file_error_code, a.file_error) : SetError(rc);
        }
        done.push_back(f);
    }
    t_logout_files = std::move(done);
    return SetError(0);
}

namespace {
int EndTransaction(int op) {
    if (t_logout_files.empty()) return SetError(91);
    std::vector<File*> files;
    files.swap(t_logout_files);
    int first = 0;
    std::string state, message;
    for (File* f : files) {
        DriverArgs a;
        int rc = CallDriver(op, *f, a);
        if (rc != 0 && first == 0) {
            first = rc;
            state = a.file_error_code;
            message = a.file_error;
        }
    }
    return first == 90 ? SetErrorState(90, state, message) : SetError(first);
}
}  // namespace

int Commit() {
    return EndTransaction(OP_COMMIT);
}
int Rollback() {
    return EndTransaction(OP_ROLLBACK);
}

std::string Send(File& f, std::string_view text) {
    std::string out;
    DriverArgs a;
    a.text = text;
    a.out = &out;
    Call(OP_SEND, f, a);
    return out;
}

std::string Name(File& f) {
    std::string out;
    DriverArgs a;
    a.out = &out;
    Call(OP_NAME, f, a);
    return out;
}

bool IsNull(File& f, std::string_view label) {
    DriverArgs a;
    a.text = label;
    a.value = f.FieldIndex(label);
    if (a.value < 0) {
        SetError(47);
        return false;
    }
    return Call(OP_NULL, f, a) == 0 && a.result != 0;
}

int SetNull(File& f, std::string_view label) {
    return FieldOp(OP_SETNULL, f, label);
}
int SetNonull(File& f, std::string_view label) {
    return FieldOp(OP_SETNONULL, f, label);
}

int SetNull(File& f) {
    DriverArgs a;
    a.value = -1;
    return Call(OP_SETNULL, f, a);
}

int SetNonull(File& f) {
    DriverArgs a;
    a.value = -1;
    return Call(OP_SETNONULL, f, a);
}

std::string GetNulls(File& f) {
    std::string out;
    DriverArgs a;
    a.out = &out;
    Call(OP_GETNULLS, f, a);
    return out;
}

int SetNulls(File& f, std::string_view nulls) {
    DriverArgs a;
    a.text = nulls;
    return Call(OP_SETNULLS, f, a);
}

int Buffer(File& f, long pagesize, long behind, long ahead, long timeout) {
    DriverArgs a;
    a.words = {pagesize, behind, ahead, timeout};
    return Call(OP_BUFFER, f, a);
}

int SetProperty(File& f, long prop, std::string_view value, long index) {
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
    Call(OP_GET_PROPERTY, f, a);
    return out;
}

long GetState(File& f) {
    DriverArgs a;
    return Call(OP_GETSTATE, f, a) == 0 ? a.result : 0;
}

int RestoreState(File& f, long handle) {
    DriverArgs a;
    a.value = handle;
    return Call(OP_RESTORESTATE, f, a);
}

int FreeState(File& f, long handle) {
    DriverArgs a;
    a.value = handle;
    return Call(OP_FREESTATE, f, a);
}

}  // namespace dt
