// The window manager's update form over a real table: the real file, relation and error
// managers on an embedded (SQLite) database, the window scripted. Insert-another with the
// release of the last reserved number, a change written through the relation manager, a
// cancelled change, and an immediate delete that never shows the form; an insert that
// finishes the form and one that asks "Record Added"; "Save Record" answered Yes; a
// delete confirmed or declined; a change that collides with another connection's.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <memory>
#include <string>

#include "data/sql_driver.h"
#include "data/statements.h"
#include "framework/file_manager.h"
#include "framework/relation_manager.h"
#include "framework/window_manager.h"
#include "runtime/errors.h"
#include "tests/data/test_tables.h"
#include "tests/framework/fake_window_port.h"
#include "tests/support/recording_errors.h"

namespace dt::test {
namespace {

// The first column of the first row of `query` ("no row" / "error" otherwise).
std::string Value(const std::string& owner, const std::string& query) {
    SqlTable sql("SQLF");
    sql.file.SetOwner(owner);
    if (CreateIfMissing(sql) != 0 || Open(sql) != 0) return "open failed";
    std::string v = SetProperty(sql, PROP_SQL, query) != 0 ? "error"
                    : Next(sql) == 0                       ? sql.FELD1.Str()
                                                           : "no row";
    (void)Close(sql);
    return v;
}

class FormOverTable : public ::testing::Test {
  protected:
    TempWorkDir dir;  // the database file and the system profile live here
    std::string owner = "Server,forms,sa,;APP=DRIVETREK;WSID=TEST";
    FilesTable table{"formfiles"};
    RecordingErrors errors;
    FileManager fm;
    RelationManager rm;
    dt::testing::FakeWindowPort port;
    WindowManager form;

    void SetUp() override {
        // An empty system profile: the embedded database, whatever the machine's settings.
        std::ofstream(dir.path() / "win.ini").close();
        ::setenv("DRIVETREK_PROFILE", (dir.path() / "win.ini").c_str(), 1);
        table.file.SetOwner(owner);
        fm.Init(table.file, errors);
        fm.AddKey(table.KEYNAME_FILES, "by name");
        fm.AddKey(table.KEYSYSFILES, "ID", 1);
        rm.Init(fm, 1);
        ASSERT_EQ(rm.Open(), 0);
        form.SetWindow(port);
    }
    void TearDown() override {
        form.Shutdown();
        (void)rm.Close();
        ::unsetenv("DRIVETREK_PROFILE");
    }
    void Fill(const std::string& name, ULONG size = 100) {
        table.SYSCOMPUTER = 1;
        table.NAME = name;
        table.EXTENSION = "txt";
        table.DIR = "/data/";
        table.SIZE = size;
    }
    void Open(BYTE request) {
        form.REQUEST = request;
        ASSERT_EQ(form.Startup(), 0);
        form.ERRORS = &errors;
        form.PRIMARY = &rm;
        form.FIRSTFIELD = 2;
        form.OKCONTROL = 9;
    }
    std::string Count() { return Value(owner, "SELECT COUNT(*) FROM formfiles"); }
};

TEST_F(FormOverTable, InsertAnotherKeepsAddingThenReleasesTheLastReservation) {
    Open(RequestInsert);
    form.INSERTACTION = 3;
    ASSERT_EQ(fm.PrimeRecord(), 0);  // as the list does before it runs the form
    ASSERT_EQ(form.PrepareUpdate(), 0);
    for (const char* name : {"alpha", "beta"}) {
        Fill(name);
        EXPECT_EQ(form.OnCompleted(), SevNotify) << (errors.shown.empty() ? "" : errors.shown.back());
        EXPECT_EQ(form.RESPONSE, ResponseCancelled);
    }
    // The form stands on a fresh record whose number is reserved by a row of its own.
    EXPECT_EQ(table.SYSFILES, 3u);
    EXPECT_EQ(Count(), "3");
    // Closing it releases the reservation and leaves the last inserted record current.
    EXPECT_EQ(form.OnCloseRequest(), 0);
    EXPECT_EQ(form.RESPONSE, ResponseCompleted);
    EXPECT_EQ(Count(), "2");
    EXPECT_EQ(table.NAME.Str(), "beta");
    EXPECT_EQ(table.SYSFILES, 2u);
    EXPECT_TRUE(errors.shown.empty()) << errors.shown.front();
}

TEST_F(FormOverTable, ChangeIsWrittenAndAnUneditedCancelWritesNothing) {
    Fill("gamma", 10);
    ASSERT_EQ(fm.Insert(), 0);
    ASSERT_EQ(fm.Fetch(table.KEYSYSFILES), 0);
    Open(RequestChange);
    ASSERT_EQ(form.PrepareUpdate(), 0);
    // Cancelling after an edit asks "Save Record"; No closes without writing.
    table.SIZE = 20;
    errors.answers = {Button::No};
    EXPECT_EQ(form.OnCloseRequest(), 0);
    EXPECT_TRUE(errors.Shown("Save Record"));
    EXPECT_EQ(Value(owner, "SELECT Size FROM formfiles"), "10");
    // Completing writes the change.
    table.SIZE = 30;
    EXPECT_EQ(form.OnCompleted(), 0);
    EXPECT_EQ(form.RESPONSE, ResponseCompleted);
    EXPECT_EQ(Value(owner, "SELECT Size FROM formfiles"), "30");
}

TEST_F(FormOverTable, DeleteWithoutConfirmationNeverShowsTheForm) {
    for (const char* name : {"keep", "drop"}) {
        Fill(name);
        ASSERT_EQ(fm.Insert(), 0);
    }
    ASSERT_EQ(fm.Fetch(table.KEYSYSFILES), 0);  // "drop"
    Open(RequestDelete);
    form.DELETEACTION = 4;
    EXPECT_EQ(form.PrepareUpdate(), SevFatal);
    EXPECT_EQ(form.RESPONSE, ResponseCompleted);
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_EQ(Count(), "1");
    EXPECT_EQ(Value(owner, "SELECT Name FROM formfiles"), "keep");
}

TEST_F(FormOverTable, InsertFinishesOrAsksWhetherToAddAnother) {
    Open(RequestInsert);  // INSERTACTION keeps its default 2: finish after one insert
    ASSERT_EQ(fm.PrimeRecord(), 0);
    ASSERT_EQ(form.PrepareUpdate(), 0);
    Fill("one");
    EXPECT_EQ(form.OnCompleted(), 0);
    EXPECT_EQ(form.RESPONSE, ResponseCompleted);
    EXPECT_EQ(Count(), "1");
    EXPECT_FALSE(errors.Shown("Record Added"));
    form.Shutdown();

    Open(RequestInsert);
    form.INSERTACTION = 4;
    ASSERT_EQ(fm.PrimeRecord(), 0);
    ASSERT_EQ(form.PrepareUpdate(), 0);
    // Yes to "Record Added" stays on a fresh record, as insert-another does.
    Fill("two");
    errors.answers = {Button::Yes};
    EXPECT_EQ(form.OnCompleted(), SevNotify);
    EXPECT_TRUE(errors.Shown("Record Added"));
    EXPECT_EQ(form.RESPONSE, ResponseCancelled);
    // No finishes the form after the insert.
    Fill("three");
    errors.answers = {Button::No};
    EXPECT_EQ(form.OnCompleted(), 0);
    EXPECT_EQ(form.RESPONSE, ResponseCompleted);
    EXPECT_EQ(Value(owner, "SELECT COUNT(*) FROM formfiles WHERE Name IN ('two', 'three')"), "2");
}

TEST_F(FormOverTable, SaveRecordAnsweredYesPressesOkAndCancelStaysOnTheForm) {
    Fill("delta", 10);
    ASSERT_EQ(fm.Insert(), 0);
    ASSERT_EQ(fm.Fetch(table.KEYSYSFILES), 0);
    Open(RequestChange);
    ASSERT_EQ(form.PrepareUpdate(), 0);
    table.SIZE = 11;
    errors.answers = {Button::Cancel};
    EXPECT_EQ(form.OnCloseRequest(), SevNotify) << "Cancel keeps the window open";
    errors.answers = {Button::Yes};
    port.posted.clear();
    EXPECT_EQ(form.OnCloseRequest(), SevNotify);
    ASSERT_FALSE(port.posted.empty());
    EXPECT_EQ(port.posted.back().first, Event::Accepted);
    EXPECT_EQ(port.posted.back().second, 9) << "the OK button is pressed";
    EXPECT_EQ(Value(owner, "SELECT Size FROM formfiles"), "10") << "nothing written before OK completes";
}

TEST_F(FormOverTable, DeleteAsksForConfirmationFirst) {
    Fill("victim");
    ASSERT_EQ(fm.Insert(), 0);
    ASSERT_EQ(fm.Fetch(table.KEYSYSFILES), 0);
    Open(RequestDelete);
    form.DELETEACTION = 2;
    errors.answers = {Button::No};
    form.PrepareUpdate();
    EXPECT_TRUE(errors.Shown("Confirm Delete"));
    EXPECT_EQ(form.RESPONSE, ResponseCancelled);
    EXPECT_EQ(Count(), "1") << "declined: the row stays";
    form.Shutdown();

    ASSERT_EQ(fm.Fetch(table.KEYSYSFILES), 0);
    Open(RequestDelete);
    form.DELETEACTION = 2;
    errors.shown.clear();
    errors.answers = {Button::Yes};
    EXPECT_EQ(form.PrepareUpdate(), SevFatal);
    EXPECT_TRUE(errors.Shown("Confirm Delete"));
    EXPECT_EQ(form.RESPONSE, ResponseCompleted);
    EXPECT_EQ(Count(), "0");
}

TEST_F(FormOverTable, ChangeCollidingWithAnotherConnectionShowsTheirValues) {
    Fill("shared", 10);
    ASSERT_EQ(fm.Insert(), 0);
    // A list hands a record to a change form read under WATCH, so that a write can tell
    // whether another station changed the row meanwhile.
    ASSERT_EQ(Watch(table), 0);
    ASSERT_EQ(fm.Fetch(table.KEYSYSFILES), 0);
    Open(RequestChange);
    ASSERT_EQ(form.PrepareUpdate(), 0);

    // Another station (its own connection: another owner text) changes the row meanwhile.
    FilesTable other{"formfiles"};
    other.file.SetOwner("Server,forms,sa,;APP=DRIVETREK;WSID=OTHER");
    ASSERT_EQ(dt::Open(other), 0);
    other.SYSFILES = 1;
    ASSERT_EQ(Get(other.KEYSYSFILES), 0);
    other.SIZE = 77;
    ASSERT_EQ(Put(other), 0);
    (void)dt::Close(other);

    table.SIZE = 20;
    EXPECT_EQ(form.OnCompleted(), SevNotify) << "the form stays open";
    EXPECT_TRUE(errors.Shown("Record Was Not Updated")) << (errors.shown.empty() ? "" : errors.shown.back());
    EXPECT_EQ(form.RESPONSE, ResponseCancelled) << "the form stays open on the other station's values";
    EXPECT_EQ(table.SIZE, 77u);
    EXPECT_EQ(Value(owner, "SELECT Size FROM formfiles"), "77") << "their change is not overwritten";
}

}  // namespace
}  // namespace dt::test
