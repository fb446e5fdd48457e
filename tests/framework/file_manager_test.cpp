// The file and relation managers over a scripted in-memory driver: lazy open, the open
// retries, create when missing, close by counts, auto-numbering (empty table, next
// number, groups of a two-component key, another writer's duplicate, persistent
// failure), duplicate keys, update collisions, reads, saved buffers and states, and the
// relation manager's delete and update with their transactions and messages.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <type_traits>
#include <vector>

#include "data/statements.h"
#include "framework/error_manager.h"
#include "framework/file_manager.h"
#include "framework/relation_manager.h"
#include "runtime/errors.h"
#include "tests/framework/fake_file_driver.h"
#include "tests/support/recording_errors.h"

namespace dt::test {
namespace {

#pragma pack(push, 1)
struct ItemRecord {
    LONG GRP;
    ULONG ID;
    CSTRING<20> NAME;
    STRING<6> CODE;
};
#pragma pack(pop)

std::vector<Field> ItemFields() {
    return {Field::Long("ITEM:GRP", offsetof(ItemRecord, GRP)),
            Field::Ulong("ITEM:ID", offsetof(ItemRecord, ID)),
            Field::Cstring("ITEM:NAME", offsetof(ItemRecord, NAME), 20),
            Field::String("ITEM:CODE", offsetof(ItemRecord, CODE), 6)};
}

// A table with a numbered primary key and a unique name key.
struct ItemTable : Table<ItemRecord> {
    ItemTable() : Table("ITEM", FakeDriver::Registration(), "", "", FILE_CREATE, ItemFields()) {}
    Key KEYNAME{file, "ITEM:KEYNAME", {"ITEM:NAME"}, KEY_OPT};
    Key KEYID{file, "ITEM:KEYID", {"ITEM:ID"}, KEY_PRIMARY};
};

// A table numbered within groups: (GRP, ID) unique, ID numbered per GRP.
struct GroupTable : Table<ItemRecord> {
    GroupTable() : Table("GROUPED", FakeDriver::Registration(), "", "", FILE_CREATE, ItemFields()) {}
    Key KEYGRP{file, "GROUPED:KEYGRP", {"ITEM:GRP", "ITEM:ID"}, 0};
};

class FileManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fm.Init(item.file, errors);
        fm.AddKey(item.KEYNAME, "by name");
        fm.AddKey(item.KEYID, "ID", 1);
    }
    void AddRow(ULONG id, const char* name, LONG grp = 0) {
        ItemRecord r{};
        r.GRP = grp;
        r.ID = id;
        r.NAME = name;
        driver.Insert(&r, sizeof r);
    }
    FakeDriver driver;
    ItemTable item;
    RecordingErrors errors;
    FileManager fm;
};

// ---- opening ----

TEST_F(FileManagerTest, LazyOpenTouchesNothingUntilFirstUseAndCountsCloses) {
    EXPECT_EQ(fm.Open(), 0);
    EXPECT_EQ(fm.Open(), 0);
    EXPECT_TRUE(driver.ops.empty()) << "a lazy Open must not reach the driver";
    EXPECT_EQ(fm.Usage().OPENED, 2);

    AddRow(1, "a");
    EXPECT_EQ(fm.Next(), 0);
    EXPECT_EQ(driver.Count(OP_OPEN), 1);
    EXPECT_EQ(driver.open_mode, 0x42);
    EXPECT_EQ(fm.Usage().USED, 1);

    EXPECT_EQ(fm.Close(), 0);
    EXPECT_EQ(driver.Count(OP_CLOSE), 0) << "still opened once";
    EXPECT_EQ(fm.Close(), 0);
    EXPECT_EQ(driver.Count(OP_CLOSE), 1);
    EXPECT_EQ(fm.Usage().USED, 0);
    EXPECT_EQ(fm.Close(), 0) << "a surplus Close is harmless";
    EXPECT_EQ(driver.Count(OP_CLOSE), 1);
}

TEST_F(FileManagerTest, UseBeforeAnyOpenRaisesFileUsageError) {
    EXPECT_NE(fm.UseFile(), 0);
    EXPECT_TRUE(errors.Shown("File Usage Error: Attempt to use file (ITEM) before it was opened"));
    EXPECT_EQ(errors.halts.size(), 1u) << "message 39 ends the program";
    EXPECT_EQ(driver.Count(OP_OPEN), 0);
}

TEST_F(FileManagerTest, OpenWithLazyOffOrForcedOpensAtOnce) {
    fm.LAZYOPEN = 0;
    EXPECT_EQ(fm.Open(), 0);
    EXPECT_EQ(driver.Count(OP_OPEN), 1);
    EXPECT_EQ(fm.Open(), 0);
    EXPECT_EQ(driver.Count(OP_OPEN), 1) << "a second open of the thread does not reopen";
}

TEST_F(FileManagerTest, RefusedOpenSendsRecoverThenFallsBackToReadOnly) {
    driver.script[OP_OPEN] = {5, 5};
    EXPECT_EQ(fm.Open(), SevQuiet);
    EXPECT_EQ(fm.UseFile(), 0);
    ASSERT_EQ(driver.sent.size(), 1u);
    EXPECT_EQ(driver.sent[0], "Recover=10");
    EXPECT_TRUE(errors.Shown("Access Denied: Could not get write access to ITEM so trying read-only."));
    EXPECT_EQ(driver.open_mode, 0x40) << "the sharing nibble is kept, the access is read-only";
    EXPECT_EQ(fm.OPENMODE, 0x40);
}

TEST_F(FileManagerTest, RefusedReadOnlyOpenIsFatal) {
    fm.OPENMODE = 0x40;
    driver.script[OP_OPEN] = {5, 5};
    EXPECT_EQ(fm.Open(), SevQuiet);
    EXPECT_NE(fm.UseFile(), 0);
    EXPECT_TRUE(errors.Shown("File Access Error: File ITEM could not be opened.  Error: Access Denied (5)."));
    EXPECT_EQ(errors.halts.size(), 1u);
}

TEST_F(FileManagerTest, DamagedKeysAreRebuiltOrReportedFatal) {
    driver.script[OP_OPEN] = {46};
    EXPECT_EQ(fm.Open(), SevQuiet);
    EXPECT_EQ(fm.UseFile(), 0);
    EXPECT_TRUE(errors.Shown("Invalid Key: ITEM key file is invalid. Key must be rebuilt."));
    EXPECT_EQ(driver.Count(OP_BUILDfile), 1);

    ItemTable other;
    FileManager fm2;
    fm2.Init(other.file, errors);
    driver.script[OP_OPEN] = {46};
    driver.script[OP_BUILDfile] = {46};
    EXPECT_EQ(fm2.Open(), SevQuiet);
    EXPECT_NE(fm2.UseFile(), 0);
    EXPECT_TRUE(
        errors.Shown("Key was not built: Error: (Key File Must Be Rebuilt (46)) repairing key for ITEM."));
    EXPECT_EQ(errors.halts.size(), 1u);

    // Quietly, the damaged key is only remembered.
    ItemTable third;
    FileManager fm3;
    fm3.Init(third.file, errors);
    driver.script[OP_OPEN] = {46};
    EXPECT_EQ(fm3.OpenFile(0), 5);
    EXPECT_EQ(fm3.LastError(), FileMsg::InvalidKey);
}

TEST_F(FileManagerTest, MissingTableIsCreatedWithoutDropAndIndexed) {
    driver.exists = false;
    EXPECT_EQ(fm.Open(), SevQuiet);
    EXPECT_EQ(fm.UseFile(), 0);
    ASSERT_EQ(driver.create_values.size(), 1u);
    EXPECT_EQ(driver.create_values[0], 1) << "the create-if-missing form, which never drops";
    EXPECT_EQ(driver.Count(OP_BUILDfile), 1) << "the keys' indexes are built after the create";
    EXPECT_EQ(driver.Count(OP_OPEN), 2);
    EXPECT_TRUE(errors.shown.empty());
}

TEST_F(FileManagerTest, MissingTableWithoutCreateOrFailedCreateIsReported) {
    driver.exists = false;
    fm.CREATE = 0;
    EXPECT_EQ(fm.Open(), SevQuiet);
    EXPECT_NE(fm.UseFile(), 0);
    EXPECT_TRUE(
        errors.Shown("File Access Error: File ITEM could not be opened.  Error: File Not Found (2)."));
    EXPECT_TRUE(driver.create_values.empty());

    ItemTable other;
    FileManager fm2;
    fm2.Init(other.file, errors);
    driver.script[OP_CREATE] = {54};
    EXPECT_EQ(fm2.Open(), SevQuiet);
    EXPECT_NE(fm2.UseFile(), 0);
    EXPECT_TRUE(errors.Shown("File Creation Error: Error: (No Create Attribute (54)) creating ITEM."));
}

TEST_F(FileManagerTest, DirectCloseResetsTheUsageMarks) {
    EXPECT_EQ(fm.Open(), SevQuiet);
    (void)fm.UseFile();
    ASSERT_EQ(fm.Usage().USED, 1);
    // The runtime reports a CLOSE made on the FILE itself.
    fm.AfterFileOperation(OP_CLOSE, item.file, 0);
    EXPECT_EQ(fm.Usage().USED, 0);
    EXPECT_EQ(fm.Usage().OPENED, 0);
}

// ---- auto-numbering and inserts ----

TEST_F(FileManagerTest, AutoNumberStartsAtOneAndFollowsTheHighest) {
    EXPECT_EQ(fm.Open(), SevQuiet);
    item.NAME = "first";
    EXPECT_EQ(fm.Insert(), 0);
    EXPECT_EQ(item.ID, 1u);

    FakeDriver again;  // a fresh table holding 1 .. 7 out of order
    for (ULONG id : {3u, 7u, 1u, 5u, 2u, 6u, 4u}) {
        ItemRecord r{};
        r.ID = id;
        r.NAME = ("n" + std::to_string(id)).c_str();
        again.Insert(&r, sizeof r);
    }
    ItemTable other;
    FileManager fm2;
    fm2.Init(other.file, errors);
    fm2.AddKey(other.KEYID, "ID", 1);
    EXPECT_EQ(fm2.Open(), SevQuiet);
    other.NAME = "eighth";
    EXPECT_EQ(fm2.Insert(), 0);
    EXPECT_EQ(other.ID, 8u);
    EXPECT_EQ(again.rows.size(), 8u);
}

TEST_F(FileManagerTest, NumbersFollowWithoutReadingAgainWhileAlone) {
    EXPECT_EQ(fm.Open(), SevQuiet);
    for (int i = 0; i < 5; ++i) {
        item.NAME = ("row" + std::to_string(i)).c_str();
        ASSERT_EQ(fm.TryInsert(), 0);
        EXPECT_EQ(item.ID, static_cast<ULONG>(i + 1));
    }
    EXPECT_EQ(driver.Count(OP_SETkey), 1) << "the highest number is read once";
    EXPECT_EQ(driver.Count(OP_ADD), 5);
}

TEST_F(FileManagerTest, AnotherWritersNumberIsRetriedQuietly) {
    EXPECT_EQ(fm.Open(), SevQuiet);
    item.NAME = "mine0";
    ASSERT_EQ(fm.TryInsert(), 0);  // 1, and the manager now knows the highest
    // Another computer adds 2 and 3 before each of our next two inserts.
    int round = 0;
    driver.before_add = [&](File&) {
        if (round++ >= 1) return;
        AddRow(2, "theirs2");
        AddRow(3, "theirs3");
    };
    item.NAME = "mine1";
    EXPECT_EQ(fm.TryInsert(), 0);
    EXPECT_EQ(item.ID, 4u);
    EXPECT_EQ(fm.LastError(), 0);
    EXPECT_TRUE(errors.shown.empty()) << "a collision with another writer is retried quietly";
    EXPECT_EQ(driver.rows.size(), 4u);
}

TEST_F(FileManagerTest, ManyCollisionsAreStillRetriedUntilAFreeNumber) {
    EXPECT_EQ(fm.Open(), SevQuiet);
    // Before each of the first 20 attempts another writer takes the next number.
    ULONG next = 1;
    int attempts = 0;
    driver.before_add = [&](File&) {
        if (attempts++ >= 20) return;
        AddRow(next, ("theirs" + std::to_string(next)).c_str());
        ++next;
    };
    item.NAME = "mine";
    EXPECT_EQ(fm.Insert(), 0);
    EXPECT_EQ(item.ID, 21u);
    EXPECT_TRUE(errors.shown.empty());
}

TEST_F(FileManagerTest, AutoNumberFailureAsksTryAgainAndEndsQuietlyOrOnNo) {
    EXPECT_EQ(fm.Open(), SevQuiet);
    driver.script[OP_ADD] = {90, 90, 90};
    item.NAME = "x";
    EXPECT_EQ(fm.TryInsert(), 5);
    EXPECT_EQ(fm.LastError(), FileMsg::AutoIncError);
    EXPECT_TRUE(errors.shown.empty());

    driver.script[OP_ADD] = {90, 90, 90};
    errors.answers = {Button::No};
    EXPECT_EQ(fm.Insert(), 5);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_NE(errors.shown[0].find("Auto Increment Error: Attempts to automatically number this record have "
                                   "failed.|File: ITEM|Error: "),
              std::string::npos)
        << errors.shown[0];

    // Yes starts again; the next attempt succeeds.
    driver.script[OP_ADD] = {90, 90, 90};
    errors.answers = {Button::Yes};
    EXPECT_EQ(fm.Insert(), 0);
    EXPECT_EQ(driver.rows.size(), 1u);
}

TEST_F(FileManagerTest, SilentRetriesOfAutoNumberingEnd) {
    EXPECT_EQ(fm.Open(), SevQuiet);
    errors.SILENT = 1;  // questions answer Yes at once
    driver.script[OP_ADD] = std::deque<int>(200, 90);
    item.NAME = "x";
    EXPECT_EQ(fm.Insert(), 5) << "an unattended run must not retry for ever";
}

TEST_F(FileManagerTest, DuplicateOfAnotherKeyIsReportedWithItsDescription) {
    EXPECT_EQ(fm.Open(), SevQuiet);
    AddRow(1, "same");
    item.NAME = "same";
    EXPECT_EQ(fm.TryInsert(), 5);
    EXPECT_EQ(fm.LastError(), FileMsg::DuplicateKey);
    EXPECT_TRUE(errors.shown.empty());
    item.NAME = "same";
    EXPECT_EQ(fm.Insert(), 5);
    EXPECT_TRUE(errors.Shown(
        "Duplicate Key Error: Adding this record creates a duplicate entry for the key: by name"));
    EXPECT_EQ(driver.rows.size(), 1u);
    EXPECT_LE(driver.Count(OP_ADD), 4) << "a real duplicate is not retried as a numbering collision";
}

TEST_F(FileManagerTest, InsertWithoutAutoNumberAndOtherFailures) {
    ItemTable plain;
    FileManager fm2;
    fm2.Init(plain.file, errors);
    fm2.AddKey(plain.KEYNAME, "by name");
    EXPECT_EQ(fm2.Open(), SevQuiet);
    plain.ID = 42;
    plain.NAME = "p";
    EXPECT_EQ(fm2.Insert(), 0);
    EXPECT_EQ(driver.Count(OP_SETkey) + driver.Count(OP_SETkeykey), 0);
    driver.script[OP_ADD] = {90};
    plain.NAME = "q";
    EXPECT_EQ(fm2.Insert(), 5);
    EXPECT_TRUE(errors.Shown(
        "Record Insert Error: An error was experienced during the creation of a record.|File: ITEM|"));
}

TEST_F(FileManagerTest, PrimeRecordReservesTheNumberAndInsertCompletesIt) {
    EXPECT_EQ(fm.Open(), SevQuiet);
    item.CODE = "junk";
    EXPECT_EQ(fm.PrimeRecord(), 0);
    EXPECT_EQ(item.ID, 1u);
    EXPECT_EQ(item.CODE.View(), std::string_view("      ")) << "a cleared STRING is blank";
    EXPECT_EQ(fm.Usage().AUTOINCDONE, 1);
    EXPECT_EQ(driver.rows.size(), 1u) << "the reserving row is added";
    item.NAME = "filled in";
    EXPECT_EQ(fm.Insert(), 0);
    EXPECT_EQ(driver.Count(OP_PUT), 1) << "the reserved row is written over";
    EXPECT_EQ(driver.rows.size(), 1u);
    EXPECT_EQ(fm.Usage().AUTOINCDONE, 0);
}

TEST_F(FileManagerTest, CancelAutoIncReleasesTheReservedRow) {
    EXPECT_EQ(fm.Open(), SevQuiet);
    ASSERT_EQ(fm.PrimeRecord(), 0);
    ASSERT_EQ(driver.rows.size(), 1u);
    item.NAME = "typed but cancelled";
    EXPECT_EQ(fm.CancelAutoInc(), 0);
    EXPECT_TRUE(driver.rows.empty());
    EXPECT_EQ(fm.Usage().AUTOINCDONE, 0);
    EXPECT_EQ(fm.CancelAutoInc(), 0) << "nothing left to release";
}

TEST(FileManagerGroups, NumberingRestartsForEachLeadingValue) {
    FakeDriver driver;
    GroupTable t;
    RecordingErrors errors;
    FileManager fm;
    fm.Init(t.file, errors);
    fm.AddKey(t.KEYGRP, "group and number", 2);
    for (auto [grp, id] : std::vector<std::pair<LONG, ULONG>>{{1, 1}, {1, 2}, {1, 3}, {3, 1}}) {
        ItemRecord r{};
        r.GRP = grp;
        r.ID = id;
        driver.Insert(&r, sizeof r);
    }
    EXPECT_EQ(fm.Open(), SevQuiet);
    t.GRP = 1;
    ASSERT_EQ(fm.Insert(), 0);
    EXPECT_EQ(t.ID, 4u);
    t.GRP = 2;  // a group with no rows, between two that have some
    ASSERT_EQ(fm.Insert(), 0);
    EXPECT_EQ(t.ID, 1u);
    t.GRP = 3;
    ASSERT_EQ(fm.Insert(), 0);
    EXPECT_EQ(t.ID, 2u);
    EXPECT_TRUE(errors.shown.empty());
}

// ---- updates ----

TEST_F(FileManagerTest, UpdateCollisionShowsTheOtherStationsValues) {
    AddRow(1, "original");
    EXPECT_EQ(fm.Open(), SevQuiet);
    item.ID = 1;
    ASSERT_EQ(fm.Fetch(item.KEYID), 0);
    // Another station changes the row; our PUT notices.
    ItemRecord theirs{};
    theirs.ID = 1;
    theirs.NAME = "theirs";
    driver.before_put = [&](File&) {
        driver.rows[0].assign(reinterpret_cast<const char*>(&theirs), sizeof theirs);
        return 89;
    };
    item.NAME = "mine";
    EXPECT_EQ(fm.Update(1), 5);
    EXPECT_TRUE(errors.Shown("Record Was Not Updated: This record was changed by another station."));
    EXPECT_EQ(driver.Count(OP_WATCH), 1);
    EXPECT_EQ(item.NAME.View(), std::string_view("theirs"));

    item.NAME = "mine";
    EXPECT_EQ(fm.Update(2), 5);
    EXPECT_TRUE(errors.Shown("Those changes will now be displayed."));
    errors.shown.clear();
    EXPECT_EQ(fm.TryUpdate(), 5);
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_EQ(fm.LastError(), FileMsg::Changed);

    driver.before_put = [](File&) { return 90; };
    EXPECT_EQ(fm.Update(1), 5);
    EXPECT_TRUE(
        errors.Shown("Record was not updated: An error (fake failure (HY000)) was experienced when making "
                     "changes to the ITEM file."));
}

// ---- reads ----

TEST_F(FileManagerTest, ReadsReportTheEndAndFailures) {
    AddRow(2, "b");
    AddRow(1, "a");
    EXPECT_EQ(fm.Open(), SevQuiet);
    (void)fm.UseFile();
    ASSERT_EQ(Set(item.KEYID, item.KEYID), 0);
    item.ID = 0;
    EXPECT_EQ(fm.Next(), 0);
    EXPECT_EQ(item.ID, 1u);
    EXPECT_EQ(fm.Next(), 0);
    EXPECT_EQ(item.ID, 2u);
    EXPECT_EQ(fm.Next(), 5);
    EXPECT_EQ(fm.Usage().ATEOF, 1);
    EXPECT_TRUE(errors.shown.empty()) << "the end of the file is no error message";

    driver.script[OP_NEXT] = {90};
    EXPECT_EQ(fm.TryNext(), 3);
    EXPECT_EQ(fm.LastError(), FileMsg::RetrievalError);
    driver.script[OP_PREVIOUS] = {90};
    EXPECT_EQ(fm.Previous(), 5);
    EXPECT_TRUE(
        errors.Shown("Record Retrieval Error: Error: (fake failure (HY000)) attempting to access a record "
                     "from the ITEM file.  Returning to previous window."));
    driver.script[OP_NEXT] = {43};
    EXPECT_EQ(fm.Next(), 5);
    EXPECT_TRUE(errors.Shown(
        "Record not read: A record held by another station was encountered reading from the ITEM "
        "file."));
    fm.SKIPHELDRECORDS = 1;
    driver.script[OP_NEXT] = {43, 43};
    EXPECT_EQ(fm.Next(), 5) << "held records skipped, then the end";
}

TEST_F(FileManagerTest, FetchOrClearClearsTheBufferWhenNothingMatches) {
    AddRow(1, "one");
    EXPECT_EQ(fm.Open(), SevQuiet);
    item.ID = 1;
    EXPECT_EQ(fm.FetchOrClear(item.KEYID), 0);
    EXPECT_EQ(item.NAME.View(), std::string_view("one"));
    item.ID = 9;
    item.CODE = "XY";
    EXPECT_EQ(fm.FetchOrClear(item.KEYID), 5);
    EXPECT_EQ(item.ID, 0u);
    EXPECT_EQ(item.NAME.View(), std::string_view(""));
    EXPECT_EQ(item.CODE.View(), std::string_view("      "));
}

// ---- buffers and states ----

TEST_F(FileManagerTest, SavedBuffersRestoreRecordAndNullFlags) {
    EXPECT_EQ(fm.Open(), SevQuiet);
    (void)fm.UseFile();
    item.NAME = "before";
    driver.nulls = "flags-before";
    USHORT id = fm.SaveBuffer();
    EXPECT_NE(id, 0);
    EXPECT_EQ(fm.EqualBuffer(id), 1);
    item.CODE = "C";
    EXPECT_EQ(fm.EqualBuffer(id), 0);
    driver.nulls = "flags-after";
    USHORT copy = id;
    fm.RestoreBuffer(copy, 1);
    EXPECT_EQ(copy, 0);
    EXPECT_EQ(item.NAME.View(), std::string_view("before"));
    EXPECT_EQ(item.CODE.View(), std::string_view("      "));
    EXPECT_EQ(driver.nulls, "flags-before");
    EXPECT_EQ(fm.EqualBuffer(id), 0) << "a restored buffer is freed";

    USHORT second = fm.SaveBuffer();
    EXPECT_GT(second, id);
    item.NAME = "changed";
    fm.RestoreBuffer(second, 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(item.NAME.View(), std::string_view("changed")) << "without restore only the copy is freed";
}

TEST_F(FileManagerTest, SavedFileStateComesBackThroughTheDriver) {
    AddRow(1, "one");
    AddRow(2, "two");
    EXPECT_EQ(fm.Open(), SevQuiet);
    item.ID = 1;
    ASSERT_EQ(fm.Fetch(item.KEYID), 0);
    USHORT id = fm.SaveFile();
    item.ID = 2;
    ASSERT_EQ(fm.Fetch(item.KEYID), 0);
    fm.RestoreFile(id, 1);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(item.ID, 1u);
    EXPECT_EQ(driver.Count(OP_RESTORESTATE), 1);
    EXPECT_EQ(driver.Count(OP_FREESTATE), 1);
    EXPECT_EQ(fm.TryReget(fm.Position()), 0);
    EXPECT_EQ(item.NAME.View(), std::string_view("one"));
}

// ---- relation manager ----

class RelationManagerTest : public FileManagerTest {
  protected:
    void SetUp() override {
        FileManagerTest::SetUp();
        rm.Init(fm, 1);
        AddRow(1, "one");
        AddRow(2, "two");
        ASSERT_EQ(rm.Open(), SevQuiet);
        item.ID = 2;
        ASSERT_EQ(fm.Fetch(item.KEYID), 0);
    }
    RelationManager rm;
};

TEST_F(RelationManagerTest, DeleteAsksAndWorksInATransaction) {
    errors.answers = {Button::No};
    EXPECT_EQ(rm.Delete(1), 5);
    EXPECT_TRUE(errors.Shown("Confirm Delete: Are you sure you want to delete the highlighted record?"));
    EXPECT_EQ(driver.rows.size(), 2u);

    EXPECT_EQ(rm.Delete(0), 0);
    ASSERT_EQ(driver.rows.size(), 1u);
    EXPECT_EQ(driver.Count(OP_LOGOUT), 1);
    EXPECT_EQ(driver.Count(OP_COMMIT), 1);
    EXPECT_EQ(driver.Count(OP_ROLLBACK), 0);
}

TEST_F(RelationManagerTest, FailedDeleteRollsBackAndOffersARetry) {
    driver.script[OP_DELETE] = {90};
    errors.answers = {Button::Yes};  // retry once: the second attempt succeeds
    EXPECT_EQ(rm.Delete(0), 0);
    EXPECT_EQ(driver.Count(OP_ROLLBACK), 1);
    EXPECT_TRUE(
        errors.Shown("Record was not deleted: An error (fake failure (HY000)) was experienced when "
                     "deleting a record from the ITEM file."));
    EXPECT_TRUE(errors.Shown("Record Delete Error: "));
    EXPECT_EQ(driver.rows.size(), 1u);

    errors.shown.clear();
    driver.script[OP_LOGOUT] = {90};
    errors.answers = {Button::No};
    EXPECT_EQ(rm.Delete(0), 5);
    EXPECT_TRUE(
        errors.Shown("Transaction cancelled: Error: (fake failure (HY000)) attempting to frame the "
                     "transaction on ITEM."));
}

TEST_F(RelationManagerTest, UpdateCollisionAndFailureResults) {
    driver.before_put = [](File&) { return 89; };
    item.NAME = "mine";
    EXPECT_EQ(rm.Update(1), 5) << "a collision, already shown";
    EXPECT_TRUE(errors.Shown("Use the Ditto Button")) << "mode set: message 7";
    EXPECT_EQ(driver.Count(OP_ROLLBACK), 1);

    errors.shown.clear();
    driver.before_put = [](File&) { return 90; };
    EXPECT_EQ(rm.Update(0), 1) << "any other failure lets the form offer a retry";
    EXPECT_TRUE(errors.Shown("Record was not updated: "));

    driver.before_put = nullptr;
    item.NAME = "mine";
    EXPECT_EQ(rm.Update(0), 0);
    EXPECT_EQ(driver.rows[1].substr(offsetof(ItemRecord, NAME), 4), "mine");
}

TEST_F(RelationManagerTest, CancelInsertReleasesThroughTheRelationManager) {
    ASSERT_EQ(fm.PrimeRecord(), 0);
    EXPECT_EQ(item.ID, 3u);
    ASSERT_EQ(driver.rows.size(), 3u);
    EXPECT_EQ(rm.CancelInsert(), 0);
    EXPECT_EQ(driver.rows.size(), 2u);
    EXPECT_TRUE(errors.shown.empty()) << "released without asking";
}

// ---- RelationOpen: the scoped open of a table through its relation manager ----

// A severity returned where a code is expected (or the reverse) must not compile; a bare
// number becomes neither without saying so; both still show and store as numbers.
static_assert(!std::is_convertible_v<Severity, ErrCode>);
static_assert(!std::is_convertible_v<ErrCode, Severity>);
static_assert(!std::is_convertible_v<int, Severity>);
static_assert(std::is_convertible_v<Severity, int>);

class RelationOpenTest : public FileManagerTest {
  protected:
    void SetUp() override {
        FileManagerTest::SetUp();
        rm.Init(fm, 0);
        AddRow(1, "one");
    }
    // Reads the first row inside a guard; `leave_early` returns before the read.
    Severity ReadFirst(bool leave_early) {
        const RelationOpen open(&rm);
        if (open.Result() != SevQuiet) return open.Result();
        if (leave_early) return SevNotify;
        return fm.Next();
    }
    RelationManager rm;
};

TEST_F(RelationOpenTest, ClosesOnTheNormalAndTheEarlyWayOut) {
    EXPECT_EQ(ReadFirst(false), SevQuiet);
    EXPECT_EQ(fm.Usage().OPENED, 0);
    EXPECT_EQ(driver.Count(OP_CLOSE), 1) << "the guard's close was the table's last";

    EXPECT_EQ(ReadFirst(true), SevNotify);
    EXPECT_EQ(fm.Usage().OPENED, 0) << "an early return closes as well";
}

TEST_F(RelationOpenTest, AnInnerGuardAndAnEarlyCloseLeaveTheOuterOpenStanding) {
    const RelationOpen outer(&rm);
    ASSERT_TRUE(outer.Opened());
    EXPECT_EQ(ReadFirst(false), SevQuiet);
    EXPECT_EQ(fm.Usage().OPENED, 1);
    {
        RelationOpen inner(&rm);
        EXPECT_EQ(fm.Usage().OPENED, 2);
        EXPECT_EQ(inner.Close(), SevQuiet);
        EXPECT_FALSE(inner.Opened());
        EXPECT_EQ(inner.Close(), SevQuiet) << "a second Close does nothing";
    }
    EXPECT_EQ(fm.Usage().OPENED, 1) << "the early Close and the end of the scope count once";
    EXPECT_EQ(fm.Usage().USED, 1);
    EXPECT_EQ(driver.Count(OP_CLOSE), 0);
}

TEST_F(RelationOpenTest, AFailedOpenIsNotClosedAndANullManagerOpensNothing) {
    fm.LAZYOPEN = 0;  // the first Open opens the table at once, and here fails
    driver.script[OP_OPEN] = {90, 90, 90, 90};
    {
        const RelationOpen open(&rm);
        EXPECT_NE(open.Result(), SevQuiet);
        EXPECT_FALSE(open.Opened());
        EXPECT_EQ(fm.Usage().OPENED, 0);
    }
    EXPECT_EQ(fm.Usage().OPENED, 0);
    EXPECT_EQ(driver.Count(OP_CLOSE), 0);
    EXPECT_FALSE(errors.halts.empty()) << "the failed open was reported (message 23 is fatal)";

    const RelationOpen none(nullptr);
    EXPECT_EQ(none.Result(), SevQuiet);
    EXPECT_FALSE(none.Opened());
}

}  // namespace
}  // namespace dt::test
