#include "framework/relation_manager.h"

#include <string>

#include "data/statements.h"
#include "runtime/errors.h"

namespace dt {
namespace {

// Rounds of "Record Delete Error ... try to delete it again?". A silent error manager
// answers Yes at once, so without a bound an unattended run would retry for ever.
constexpr int kDeleteRounds = 10;

// The runtime error state of one moment, to be put back after a ROLLBACK so that the
// message names the failure that caused it.
struct ErrorSnapshot {
    int code = ErrorCode();
    std::string file_code = FileErrorCode();
    std::string file_error = FileError();
    void Restore() const { SetErrorState(code, file_code, file_error); }
};

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

int RelationManager::Open() {
    return Me->Open();
}

int RelationManager::Close() {
    return Me->Close();
}

int RelationManager::CancelInsert() {
    return Me->CancelAutoInc(this);
}

void RelationManager::PrepareRelated() {}

int RelationManager::Delete(BYTE ask) {
    if (ask && Me->Raise(FileMsg::ConfirmDelete) != 0) return 5;
    for (int round = 0; round < kDeleteRounds; ++round) {
        const std::string pos = Me->Position();
        File& f = Me->TheFile();
        bool framed = false;
        int rc = 0;
        if (USELOGOUT) {
            rc = Logout(LOGOUTDELAY, {&f});
            if (rc != 0)
                Me->Raise(FileMsg::TransactionCancelled);
            else
                framed = true;
        }
        if (rc == 0) {
            // Read the row again inside the transaction, then delete it.
            rc = Me->TryReget(pos);
            if (rc == 0) rc = Me->DeleteRecord();
            if (rc != 0) {
                ErrorSnapshot failure;
                if (framed) Rollback();
                failure.Restore();
                Me->Raise(FileMsg::NotDeleted);
            } else if (framed && Commit() != 0) {
                ErrorSnapshot failure;
                Rollback();
                failure.Restore();
                Me->Raise(FileMsg::NotDeleted);
                rc = 5;
            }
        }
        if (rc == 0) return 0;
        if (Me->Raise(FileMsg::DeleteError) != 0) return 5;
    }
    return 5;
}

int RelationManager::Update(BYTE mode) {
    File& f = Me->TheFile();
    Me->NoteLastError(0);
    bool framed = false;
    if (USELOGOUT) {
        if (Me->UseFile() != 0) return 5;
        if (Logout(LOGOUTDELAY, {&f}) != 0) {
            Me->Raise(FileMsg::TransactionCancelled);
            return 5;
        }
        framed = true;
    }
    int rc = Me->TryUpdate();
    if (rc == 0) {
        if (!framed || Commit() == 0) return 0;
        ErrorSnapshot failure;
        Rollback();
        failure.Restore();
        Me->NoteLastError(FileMsg::NotUpdated);
        rc = 5;
    } else if (framed) {
        ErrorSnapshot failure;
        Rollback();
        failure.Restore();
    }
    USHORT msg = Me->LastError();
    if (mode && msg == FileMsg::Changed) {
        msg = FileMsg::ChangedShown;
        Me->NoteLastError(msg);
    }
    if (rc == 5) Me->RaiseLast();
    return msg == FileMsg::Changed || msg == FileMsg::ChangedShown ? 5 : 1;
}

}  // namespace dt
