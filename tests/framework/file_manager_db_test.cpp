// The file and relation managers over the real SQL driver: one test body, built for the
// embedded database (SQLite) and for PostgreSQL (tests/support/backend.h). PostgreSQL tests
// work in a database of the test program's own, made at the start and dropped at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "data/sql_driver.h"
#include "data/statements.h"
#include "framework/file_manager.h"
#include "framework/relation_manager.h"
#include "runtime/errors.h"
#include "tests/data/test_tables.h"
#include "tests/support/backend.h"
#include "tests/support/recording_errors.h"

namespace dt::test {
namespace {

// The first column of the first row of `query` on `owner` ("no row" / "error ..." else).
std::string Value(const std::string& owner, const std::string& query) {
    SqlTable sql("SQLF");
    sql.file.SetOwner(owner);
    if (CreateIfMissing(sql) != 0 || Open(sql) != 0) return "open failed: " + FileError();
    std::string v;
    if (SetProperty(sql, PROP_SQL, query) != 0)
        v = "error " + std::to_string(ErrorCode()) + " " + FileError();
    else
        v = Next(sql) == 0 ? sql.FELD1.Str() : "no row";
    (void)Close(sql);
    return v;
}

std::atomic<int> g_counter{0};

class FileManagerDbTest : public BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        int n = ++g_counter;
        table_ = "fmt" + std::to_string(n);
        owner_ = IsPostgres() ? Backend::Owner(Backend::ProgramDatabase("dtfm"))
                              : Backend::Owner("fm" + std::to_string(n));
    }
    void TearDown() override {
        if (IsPostgres() && !owner_.empty())
            for (const std::string& t : created_) Value(owner_, "DROP TABLE IF EXISTS " + t);
        BackendTest::TearDown();
    }

    // FILES under the name of this test, with its managers' keys.
    std::unique_ptr<FilesTable> Files(const std::string& owner = "") {
        auto t = std::make_unique<FilesTable>(table_);
        t->file.SetOwner(owner.empty() ? owner_ : owner);
        created_.push_back(table_);
        return t;
    }
    static void Manage(FileManager& fm, FilesTable& t, ErrorManager& errors) {
        fm.Init(t.file, errors);
        fm.AddKey(t.KEYNAME_FILES, "by name");
        fm.AddKey(t.KEYSYSFILES, "ID", 1);
    }
    static void Fill(FilesTable& t, const std::string& name, ULONG computer = 1) {
        t.SYSCOMPUTER = computer;
        t.NAME = name;
        t.EXTENSION = "txt";
        t.DIR = "/data/";
        t.TYPE = 32;
        t.DATE_DATE = dt::DATE{1, 2, 2024};
        t.DATE_TIME = dt::TIME{0, 0, 30, 12};
        t.SIZE = 100;
    }
    std::string Count(const std::string& where = "") {
        return Value(owner_, "SELECT COUNT(*) FROM " + table_ + where);
    }

    std::string owner_, table_;
    std::vector<std::string> created_;
    TempWorkDir dir_;
    RecordingErrors errors_;
};

TEST_F(FileManagerDbTest, MissingTableIsCreatedNumberedAndIndexed) {
    auto t = Files();
    FileManager fm;
    Manage(fm, *t, errors_);
    ASSERT_EQ(fm.Open(), 0);
    for (int i = 0; i < 5; ++i) {
        Fill(*t, "file" + std::to_string(i));
        ASSERT_EQ(fm.TryInsert(), 0) << fm.LastError() << " " << FileError();
        EXPECT_EQ(t->SYSFILES, static_cast<ULONG>(i + 1));
    }
    EXPECT_TRUE(errors_.shown.empty());
    (void)fm.Close();
    EXPECT_EQ(Count(), "5");
    // The server's own catalogue lists the index.
    if (IsPostgres()) {
        EXPECT_EQ(Value(owner_, "SELECT COUNT(*) FROM pg_indexes WHERE lower(tablename) = '" + table_ +
                                    "' AND lower(indexname) = 'keyname_files'"),
                  "1");
    } else {
        EXPECT_EQ(Value(owner_, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND tbl_name = '" +
                                    table_ + "' AND name = 'KEYNAME_FILES'"),
                  "1");
    }
}

TEST_F(FileManagerDbTest, ExistingTableIsKeptAndNumberingContinuesFromItsHighest) {
    {
        auto first = Files();
        ASSERT_EQ(Create(*first), 0) << FileError();
        ASSERT_EQ(Open(*first), 0);
        for (ULONG id : {3u, 9u, 4u}) {
            Fill(*first, "old" + std::to_string(id));
            first->SYSFILES = id;
            ASSERT_EQ(Add(*first), 0) << FileError();
        }
        (void)Close(*first);
    }
    auto t = Files();
    FileManager fm;
    Manage(fm, *t, errors_);
    EXPECT_EQ(fm.Open(), SevQuiet);
    Fill(*t, "new");
    ASSERT_EQ(fm.Insert(), 0) << FileError();
    EXPECT_EQ(t->SYSFILES, 10u);
    (void)fm.Close();
    EXPECT_EQ(Count(), "4") << "the open of an existing table must never drop it";
}

TEST_F(FileManagerDbTest, PassThroughAfterALazyOpenReadsRowsWithNext) {
    // The search: FILES opened through its manager without a read, then a statement of
    // the program's own sent through the SQL property and read with NEXT.
    auto t = Files();
    FileManager fm;
    Manage(fm, *t, errors_);
    RelationManager rm;
    rm.Init(fm, 1);
    ASSERT_EQ(rm.Open(), 0);
    for (const char* name : {"beta", "alpha", "gamma"}) {
        Fill(*t, name);
        ASSERT_EQ(fm.TryInsert(), 0);
    }
    (void)rm.Close();

    ASSERT_EQ(rm.Open(), 0);
    ASSERT_EQ(fm.UseFile(), 0);
    ASSERT_EQ(SetProperty(*t, PROP_SQL, "select * from " + table_ + " where SysFILES > 1 order by Name"), 0)
        << FileError();
    std::vector<std::string> names;
    for (int i = 0; i < 10 && Next(*t) == 0; ++i) names.push_back(t->NAME.Str());
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "gamma"}));
    EXPECT_EQ(ErrorCode(), 33);
    (void)rm.Close();
}

TEST_F(FileManagerDbTest, PassThroughTableIsCreatedOnFirstUse) {
    SqlTable sql("SQLP");
    sql.file.SetOwner(owner_);
    sql.file.name = table_;
    created_.push_back(table_);
    FileManager fm;
    fm.Init(sql.file, errors_);
    ASSERT_EQ(fm.Open(), 0);
    ASSERT_EQ(fm.UseFile(), 0) << FileError();
    ASSERT_EQ(SetProperty(sql, PROP_SQL, "SELECT 40 + 2"), 0) << FileError();
    ASSERT_EQ(Next(sql), 0);
    EXPECT_EQ(sql.FELD1.Str(), "42");
    (void)fm.Close();
}

TEST_F(FileManagerDbTest, UpdateThatCollidesShowsTheOtherStationsValues) {
    auto t = Files();
    FileManager fm;
    Manage(fm, *t, errors_);
    EXPECT_EQ(fm.Open(), SevQuiet);
    Fill(*t, "shared");
    ASSERT_EQ(fm.Insert(), 0);
    const ULONG id = t->SYSFILES;
    // A form arms the changed-row check before it reads the record it will change.
    ASSERT_EQ(Watch(*t), 0);
    ASSERT_EQ(fm.Fetch(t->KEYSYSFILES), 0);

    // Another station changes the row after we read it.
    auto other = Files();
    ASSERT_EQ(Open(*other), 0);
    other->SYSFILES = id;
    ASSERT_EQ(Get(other->KEYSYSFILES), 0);
    other->SIZE = 777;
    ASSERT_EQ(Put(*other), 0) << FileError();
    (void)Close(*other);

    t->SIZE = 555;
    EXPECT_EQ(fm.Update(1), 5);
    EXPECT_TRUE(errors_.Shown("Record Was Not Updated: This record was changed by another station."));
    EXPECT_EQ(t->SIZE, 777u) << "the other station's values are shown";
    EXPECT_EQ(Value(owner_, "SELECT Size FROM " + table_), "777");

    // Written again over the values now read, the change goes in.
    t->SIZE = 555;
    EXPECT_EQ(fm.Update(1), 0) << FileError();
    EXPECT_EQ(Value(owner_, "SELECT Size FROM " + table_), "555");
    (void)fm.Close();
}

TEST_F(FileManagerDbTest, RelationManagerDeletesInATransactionAndCancelsAReservation) {
    auto t = Files();
    FileManager fm;
    Manage(fm, *t, errors_);
    RelationManager rm;
    rm.Init(fm, 1);
    (void)rm.Open();
    for (const char* name : {"keep", "drop"}) {
        Fill(*t, name);
        ASSERT_EQ(fm.Insert(), 0);
    }
    ASSERT_EQ(fm.Fetch(t->KEYSYSFILES), 0);  // "drop", number 2
    errors_.answers = {Button::No};
    EXPECT_EQ(rm.Delete(1), 5);
    EXPECT_EQ(Count(), "2");
    EXPECT_EQ(rm.Delete(0), 0) << FileError() << " " << (errors_.shown.empty() ? "" : errors_.shown.back());
    EXPECT_EQ(Count(), "1");
    EXPECT_EQ(Value(owner_, "SELECT Name FROM " + table_), "keep");

    // An insert form primes (reserving the next free number, 2 again) and is cancelled.
    ASSERT_EQ(fm.PrimeRecord(), 0) << FileError();
    EXPECT_EQ(t->SYSFILES, 2u);
    EXPECT_EQ(Count(), "2");
    EXPECT_EQ(rm.CancelInsert(), 0) << FileError();
    EXPECT_EQ(Count(), "1");
    (void)rm.Close();
}

TEST_F(FileManagerDbTest, TwoProgramsInsertingAtOnceLoseNoRowAndShareNoNumber) {
    if (!IsPostgres()) GTEST_SKIP() << "two computers on one server at once: PostgreSQL only";
    constexpr int kRows = 300;
    {
        // The table exists before the two programs start.
        auto t = Files();
        FileManager fm;
        Manage(fm, *t, errors_);
        EXPECT_EQ(fm.Open(), SevQuiet);
        ASSERT_EQ(fm.UseFile(), 0);
        (void)fm.Close();
    }
    std::atomic<int> failures{0};
    auto program = [&](ULONG computer, const std::string& wsid) {
        // Its own connection (another owner text), its own managers: another computer.
        FilesTable t(table_);
        t.file.SetOwner(Backend::Owner(Backend::ProgramDatabase("dtfm"), wsid));
        RecordingErrors errors;
        FileManager fm;
        Manage(fm, t, errors);
        EXPECT_EQ(fm.Open(), SevQuiet);
        for (int i = 0; i < kRows; ++i) {
            Fill(t, "c" + std::to_string(computer) + "_" + std::to_string(i), computer);
            if (fm.TryInsert() != 0) ++failures;
        }
        (void)fm.Close();
        if (!errors.shown.empty()) ++failures;
    };
    std::thread a(program, 1, "COMPUTER1");
    std::thread b(program, 2, "COMPUTER2");
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Count(), std::to_string(2 * kRows));
    EXPECT_EQ(Count(" WHERE SysCOMPUTER = 1"), std::to_string(kRows));
    EXPECT_EQ(Count(" WHERE SysCOMPUTER = 2"), std::to_string(kRows));
    EXPECT_EQ(Value(owner_, "SELECT COUNT(DISTINCT SysFILES) FROM " + table_), std::to_string(2 * kRows));
    // Unique, and every row present (numbers may have gaps).
    EXPECT_EQ(Value(owner_, "SELECT COUNT(*) FROM " + table_ + " WHERE SysFILES IS NULL OR SysFILES = 0"),
              "0");
}

}  // namespace
}  // namespace dt::test
