#include "framework/relation_manager.h"

#include <string>

#include "data/statements.h"
#include "runtime/errors.h"

namespace dt {
namespace {

// Rounds of "Record Delete Error ... try to delete it again?". A silent error manager
// answers Yes at once, so without a bound an unattended run would retry for ever.
constexpr int kDeleteRounds = 10;

// Ends the calling thread's transaction after a failure and puts the failure's error state
// back, so that the message names the failure and not the ROLLBACK. The ROLLBACK's own
// result is not read: the transaction is over either way (its file list is emptied), and
// the failure already on its way to the user is the one to tell.
void RollbackAfterFailure() {
    const ErrorState failure;
    (void)Rollback();
    failure.Restore();
}

}  // namespace

RelationManager::~RelationManager() {
    if (!CLEANEDUP && Me != nullptr) Kill();
}

void RelationManager::Init(FileManager& file, BYTE use_logout) {
    Me = &file;
    USELOGOUT = use_logout;
    CLEANEDUP = 0;
}

void RelationManager::Kill() {
    if (CLEANEDUP) return;
    if (Me != nullptr) Me->Kill();
    CLEANEDUP = 1;
}

void RelationManager::Destroy() {
    Kill();
}

Severity RelationManager::Open() {
    return Me->Open();
}

Severity RelationManager::Close() {
    return Me->Close();
}

Severity RelationManager::CancelInsert() {
    return Me->CancelAutoInc(this);
}

void RelationManager::PrepareRelated() {}

Severity RelationManager::Delete(BYTE ask) {
    if (ask && Me->Raise(FileMsg::ConfirmDelete) != SevQuiet) return SevNotify;
    for (int round = 0; round < kDeleteRounds; ++round) {
        const std::string pos = Me->Position();
        File& f = Me->TheFile();
        bool framed = false;
        bool deleted = false;
        if (USELOGOUT) {
            if (Logout(LOGOUTDELAY, {&f}) != ErrNone)
                ShowOnly(Me->Raise(FileMsg::TransactionCancelled));
            else
                framed = true;
        }
        if (framed || !USELOGOUT) {
            // Read the row again inside the transaction, then delete it.
            Severity rc = Me->TryReget(pos);
            if (rc == SevQuiet) rc = Me->DeleteRecord();
            if (rc != SevQuiet) {
                if (framed) RollbackAfterFailure();
                ShowOnly(Me->Raise(FileMsg::NotDeleted));
            } else if (framed && Commit() != ErrNone) {
                RollbackAfterFailure();
                ShowOnly(Me->Raise(FileMsg::NotDeleted));
            } else {
                deleted = true;
            }
        }
        if (deleted) return SevQuiet;
        if (Me->Raise(FileMsg::DeleteError) != SevQuiet) return SevNotify;
    }
    return SevNotify;
}

Severity RelationManager::Update(BYTE mode) {
    File& f = Me->TheFile();
    Me->NoteLastError(0);
    bool framed = false;
    if (USELOGOUT) {
        if (Me->UseFile() != SevQuiet) return SevNotify;
        if (Logout(LOGOUTDELAY, {&f}) != ErrNone) {
            ShowOnly(Me->Raise(FileMsg::TransactionCancelled));
            return SevNotify;
        }
        framed = true;
    }
    Severity rc = Me->TryUpdate();
    if (rc == SevQuiet) {
        if (!framed || Commit() == ErrNone) return SevQuiet;
        RollbackAfterFailure();
        Me->NoteLastError(FileMsg::NotUpdated);
        rc = SevNotify;
    } else if (framed) {
        RollbackAfterFailure();
    }
    USHORT msg = Me->LastError();
    if (mode && msg == FileMsg::Changed) {
        msg = FileMsg::ChangedShown;
        Me->NoteLastError(msg);
    }
    if (rc == SevNotify) ShowOnly(Me->RaiseLast());
    return msg == FileMsg::Changed || msg == FileMsg::ChangedShown ? SevNotify : SevAskUser;
}

}  // namespace dt
