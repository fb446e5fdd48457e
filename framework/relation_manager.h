// RelationManager: one per table, owning the table's FileManager (as the window manager
// sees it) and adding what concerns the table's relations: opening and closing together,
// deleting and updating a record inside a transaction with the confirmation, rollback
// and retry messages. This program's tables have no relations between them, so the
// relation rules (cascade, restrict) have no entries to apply; the steps that would apply
// them are kept in place.
#pragma once

#include "framework/file_manager.h"
#include "framework/relation_interface.h"
#include "runtime/types.h"

namespace dt {

class RelationManager : public RelationManagerInterface {
  public:
    RelationManager() = default;
    // Kills the manager if Kill has not run. Never throws.
    ~RelationManager() override;
    RelationManager(const RelationManager&) = delete;
    RelationManager& operator=(const RelationManager&) = delete;

    // ---- fields ----
    FileManager* Me = nullptr;  // the table's file manager (not owned)
    BYTE USELOGOUT = 0;         // frame deletes and updates in a transaction (LOGOUT)
    LONG LOGOUTDELAY = 2;       // seconds LOGOUT may wait
    BYTE CLEANEDUP = 0;

    // ---- virtual operations, in slot order ----
    // 1: releases the record reserved for an insert's auto-increment number.
    [[nodiscard]] Severity CancelInsert() override;
    // 2: one Close of the table (and its related tables).
    [[nodiscard]] virtual Severity Close();
    // 3: deletes the current record (asking message 9 first when `ask`): 0; 5 when the
    // user declined or the delete failed and was not retried.
    [[nodiscard]] Severity Delete(BYTE ask) override;
    // 4: binds the manager to its file manager (which must outlive it).
    virtual void Init(FileManager& file, BYTE use_logout);
    // 5: kills the file manager, then itself. Idempotent.
    virtual void Kill();
    // 6: one Open of the table (lazy, as the file manager is set).
    [[nodiscard]] virtual Severity Open();
    // 7: remembers the linking fields of the relations (none here).
    void PrepareRelated() override;
    // 8: Kill.
    virtual void Destroy();
    // 9: writes the changed record: 0; 5 for a collision (shown, the other station's
    // values in the buffer) or a failure already shown; 1 for a failure worth a retry.
    [[nodiscard]] Severity Update(BYTE mode) override;

    // The table's file manager.
    FileManagerInterface& Manager() override { return *Me; }
};

// Opens a table through its relation manager for the life of a scope and closes it on
// every way out of the scope, early returns included. One Close belongs to each Open that
// counted: an Open that failed has not counted (the file manager's count is unchanged),
// so its guard closes nothing and cannot take away an outer Open of the same thread.
// A null manager (tables not made yet) opens and closes nothing and reports SevQuiet.
class [[nodiscard]] RelationOpen {
  public:
    explicit RelationOpen(RelationManager* relation)
        : relation_(relation), result_(relation != nullptr ? relation->Open() : SevQuiet) {}
    ~RelationOpen() { (void)Close(); }
    RelationOpen(const RelationOpen&) = delete;
    RelationOpen& operator=(const RelationOpen&) = delete;

    // The Open's result.
    [[nodiscard]] Severity Result() const { return result_; }
    [[nodiscard]] bool Opened() const { return relation_ != nullptr && result_ == SevQuiet; }
    // Closes now rather than at the end of the scope; later calls do nothing. A Close only
    // counts down (and closes the table at the last one): its result is always SevQuiet.
    Severity Close() {
        if (!Opened()) return SevQuiet;
        RelationManager* relation = relation_;
        relation_ = nullptr;
        return relation->Close();
    }

    // The manager was killed and freed before the scope ended (the tables are gone at the
    // program's end): there is nothing left to close.
    void Forget() { relation_ = nullptr; }

  private:
    RelationManager* relation_;
    Severity result_;
};

}  // namespace dt
