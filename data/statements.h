// The runtime's file statements. Each builds the argument block, calls the file's driver
// through its one entry routine with the operation code, leaves its code (and for 90 the
// file error pair) in the calling thread's error state and returns it (ErrNone = success).
// Operations the driver does not list return ErrUnsupportedFunction without calling it.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "data/file.h"
#include "runtime/errors.h"

namespace dt {

// Access modes of OPEN and SHARE.
enum AccessMode : int {
    ReadOnly = 0x00,
    WriteOnly = 0x01,
    ReadWrite = 0x02,
    DenyAll = 0x10,
    DenyWrite = 0x20,
    DenyRead = 0x30,
    DenyNone = 0x40,
};

// Property numbers understood by the SQL driver.
enum FileProperty : long {
    PROP_SQL = 0x7200,        // SQL pass-through text
    PROP_SQLFilter = 0x7221,  // a view's SQL filter (kept for the view engine)
    PROP_LogFile = 0x7222,    // same as the option text "LOGFILE=<value>"
    PROP_Where = 0x7223,      // same as the option text "WHERE=<value>"
};

// Low-level: one driver call with an argument block; records the result per thread.
[[nodiscard]] ErrCode CallDriver(int op, File& file, DriverArgs& args);

[[nodiscard]] ErrCode Open(File& f, int mode = ReadWrite | DenyWrite);  // OPEN
[[nodiscard]] ErrCode Share(File& f, int mode = ReadWrite | DenyNone);  // SHARE
[[nodiscard]] ErrCode Close(File& f);                                   // CLOSE
// CLOSE at the end of the work on a table, its results already taken: a failed CLOSE
// leaves nothing to undo and changes nothing the caller does next, so it is not read.
void CloseAfterUse(File& f);
[[nodiscard]] ErrCode Create(File& f);  // CREATE: 54 without the CREATE attribute
[[nodiscard]] ErrCode Remove(File& f);  // REMOVE (DROP TABLE)
[[nodiscard]] ErrCode Build(File& f);   // BUILD(file): every index
[[nodiscard]] ErrCode Build(Key& k);    // BUILD(key): one index
[[nodiscard]] ErrCode Empty(File& f);   // EMPTY

[[nodiscard]] ErrCode Set(File& f);             // SET(file): file order from the start
[[nodiscard]] ErrCode Set(Key& k);              // SET(key): key order from the start
[[nodiscard]] ErrCode Set(Key& k, Key& start);  // SET(key,key): key order from the record's values of `start`
[[nodiscard]] ErrCode SetFileKey(File& f, Key& start);  // SET(file,key)
// POSITION(file/key): the record position as a buffer for RESET/REGET/GET(file,ptr).
std::string Position(File& f);
std::string Position(Key& k);
[[nodiscard]] ErrCode Reset(Key& k,
                            std::string_view position);  // RESET(key, position): 38 on a foreign buffer
[[nodiscard]] ErrCode Reset(File& f, std::string_view position);

[[nodiscard]] ErrCode Next(File& f);              // NEXT: 33 past the end
[[nodiscard]] ErrCode Previous(File& f);          // PREVIOUS: 33 past the start
[[nodiscard]] ErrCode Skip(File& f, long count);  // SKIP count records in the current direction
[[nodiscard]] ErrCode Get(Key& k);                // GET(file,key): 35 when no row has the key's values
[[nodiscard]] ErrCode Get(File& f, std::string_view position);    // GET(file, position)
[[nodiscard]] ErrCode Reget(File& f, std::string_view position);  // REGET(file, position)
[[nodiscard]] ErrCode Reget(Key& k, std::string_view position);   // REGET(key, position)

[[nodiscard]] ErrCode Add(File& f);     // ADD: INSERT now; 40 for a duplicate key
[[nodiscard]] ErrCode Append(File& f);  // APPEND: INSERT, collected into parameter arrays where supported;
                                        // the rows are sent before any other operation on the file
[[nodiscard]] ErrCode Put(File& f);  // PUT: UPDATE of the changed columns; 89 when changed by another station
[[nodiscard]] ErrCode Delete(File& f);                   // DELETE the last row read
[[nodiscard]] ErrCode Watch(File& f);                    // WATCH: arm the changed-row check for the next read
[[nodiscard]] ErrCode Hold(File& f, long seconds = -1);  // HOLD (seconds -1 = no limit)
[[nodiscard]] ErrCode Release(File& f);                  // RELEASE
[[nodiscard]] ErrCode Lock(File& f, long seconds = -1);  // LOCK
[[nodiscard]] ErrCode Unlock(File& f);                   // UNLOCK

// RECORDS(file) / RECORDS(key): the count, or -1 on failure (the code is in ErrorCode()).
long Records(File& f);
long Records(Key& k);

// Transactions over the named files (LOGOUT), then COMMIT or ROLLBACK of the calling
// thread's transaction.
[[nodiscard]] ErrCode Logout(long seconds, std::initializer_list<File*> files);
[[nodiscard]] ErrCode Commit();
[[nodiscard]] ErrCode Rollback();

// SEND(file, text): "/NAME=value" sets an option, "/NAME" returns its value, other text
// is run as SQL. The result text is returned; the code is in ErrorCode().
std::string Send(File& f, std::string_view text);
std::string Name(File& f);  // NAME(file)

// Null flags of the field `label` (e.g. "FILES:SIZE").
bool IsNull(File& f, std::string_view label);                      // NULL(field)
[[nodiscard]] ErrCode SetNull(File& f, std::string_view label);    // SETNULL(field)
[[nodiscard]] ErrCode SetNonull(File& f, std::string_view label);  // SETNONULL(field)
[[nodiscard]] ErrCode SetNull(File& f);                            // SETNULL(file): every field
[[nodiscard]] ErrCode SetNonull(File& f);                          // SETNONULL(file)
std::string GetNulls(File& f);                                     // GETNULLS: all flags as a buffer
[[nodiscard]] ErrCode SetNulls(File& f, std::string_view nulls);   // SETNULLS from such a buffer

// BUFFER(file, pagesize, behind, ahead, timeout): rows per block fetch.
[[nodiscard]] ErrCode Buffer(File& f, long pagesize, long behind = 0, long ahead = 0, long timeout = 0);

// Properties: file{prop} = value, file{prop}.
[[nodiscard]] ErrCode SetProperty(File& f, long prop, std::string_view value, long index = 0);
std::string GetProperty(File& f, long prop, long index = 0);

// GETSTATE / RESTORESTATE / FREESTATE: a handle (> 0) for the file's position, record
// and null flags; RESTORESTATE of an unknown handle gives 78.
long GetState(File& f);
[[nodiscard]] ErrCode RestoreState(File& f, long handle);
[[nodiscard]] ErrCode FreeState(File& f, long handle);

}  // namespace dt
