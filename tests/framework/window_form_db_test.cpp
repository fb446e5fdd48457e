// The window manager's update form over a real table: the real file, relation and error
// managers on an embedded (SQLite) database, the window scripted. Insert-another with the
// release of the last reserved number, a change written through the relation manager, a
// cancelled change, and an immediate delete that never shows the form.
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
#include "tests/framework/recording_errors.h"

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
    Close(sql);
    return v;
}

class FormOverTable : public ::testing::Test {
  protected:
    TempDir dir;  // the database file and the system profile live here
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
        rm.Close();
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

}  // namespace
}  // namespace dt::test
