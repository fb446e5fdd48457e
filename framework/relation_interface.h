// What the window manager needs of a table's managers for an update form: the file
// manager's record operations (lazy use, insert, priming, saved buffers, positions) and
// the relation manager's update, delete and cancel operations. FileManager and
// RelationManager implement these interfaces; tests implement them with fakes.
// Results are the framework's severities (error_interface.h).
#pragma once

#include <string>
#include <string_view>

#include "framework/error_interface.h"
#include "runtime/types.h"

namespace dt {

class FileManagerInterface {
  public:
    virtual ~FileManagerInterface() = default;
    // Makes the table usable (the lazy open); 0, or the failure's result.
    [[nodiscard]] virtual Severity UseFile(BYTE mode = 0) = 0;
    // Inserts the record buffer, reporting failures itself: 0, 3 (table unusable) or 5.
    [[nodiscard]] virtual Severity Insert() = 0;
    // Prepares the buffer for a new record (cleared unless keep_buffer, defaults, the
    // auto-increment number): 0 or a failure result.
    [[nodiscard]] virtual Severity PrimeRecord(BYTE keep_buffer = 0) = 0;
    // 1 when the record buffer equals the copy saved under `id`, else 0.
    virtual BYTE EqualBuffer(USHORT id) = 0;
    // Saves a copy of the record buffer; returns its id (never 0).
    virtual USHORT SaveBuffer() = 0;
    // Copies the saved buffer back when `restore`; always frees it and sets id to 0.
    virtual void RestoreBuffer(USHORT& id, BYTE restore) = 0;
    // The current record's position as text; empty when the table cannot be used.
    virtual std::string Position() = 0;
    // Re-reads the record at `position`: 0, 3 or 5.
    [[nodiscard]] virtual Severity TryReget(std::string_view position) = 0;
};

class RelationManagerInterface {
  public:
    virtual ~RelationManagerInterface() = default;
    // The table's own file manager (owned by the relation manager).
    virtual FileManagerInterface& Manager() = 0;
    // Undoes an insert's preparation (releases a record reserved for its auto-increment
    // number): 0, or a failure result.
    [[nodiscard]] virtual Severity CancelInsert() = 0;
    // Deletes the current record with its relations' rules, asking "Confirm Delete" first
    // when `ask`: 0 on success, else a failure result (5 also when the user declined).
    [[nodiscard]] virtual Severity Delete(BYTE ask) = 0;
    // Remembers the linking fields' current values before a form edits the record.
    virtual void PrepareRelated() = 0;
    // Writes the changed record: 0; 5 for a collision with another station's change (shown,
    // the other values in the buffer); 1 for any other failure. `mode` set: the collision
    // message tells how to recall one's own changes.
    [[nodiscard]] virtual Severity Update(BYTE mode) = 0;
};

}  // namespace dt
