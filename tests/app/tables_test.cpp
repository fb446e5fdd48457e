// The application's table registration over the real SQL driver: the managers as the
// program creates them, the tables created on first use (the pass-through tables too),
// auto-numbered COMPUTER and FILES rows from two threads (THREAD tables: one buffer per
// thread), the search's pass-through read after a lazy open, and the kill at the end.
// Built for SQLite and for PostgreSQL (tests/support/backend.h; on PostgreSQL it works in
// a database of its own).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "app/globals.h"
#include "app/tables.h"
#include "data/statements.h"
#include "framework/error_manager.h"
#include "runtime/errors.h"
#include "tests/support/backend.h"
#include "tests/support/recording_errors.h"

namespace dt {
namespace {

// The first column of the first row of `query` through SQLF.
std::string Value(const std::string& query) {
    if (Access::SQLF->UseFile() != 0) return "unusable";
    if (SetProperty(SQLF, PROP_SQL, query) != 0) return "error " + FileError();
    return Next(SQLF) == 0 ? SQLF.FELD1.Str() : "no row";
}

class TablesTest : public test::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        work_.emplace("dt-tables-test-");
        database_ = IsPostgres() ? MakeDatabase("dttables") : "drivetrek";
        ASSERT_FALSE(database_.empty());
        GLO::SQLMASTEROWNER = test::Backend::Owner(test::Backend::MasterDatabase());
        GLO::SQLOWNER = test::Backend::Owner(database_);
        InitTables(errors_);
        Relate::SQLF->Open();
    }
    void TearDown() override {
        if (Relate::SQLF) Relate::SQLF->Close();
        if (IsPostgres() && Relate::SQLM) {
            // The pass-through table the managers made in the server's own database.
            Relate::SQLM->Open();
            if (Access::SQLM->UseFile() == 0) (void)SetProperty(SQLM, PROP_SQL, "DROP TABLE IF EXISTS SQLM");
            Relate::SQLM->Close();
        }
        KillTables();
        work_.reset();
        BackendTest::TearDown();  // the test database goes
    }

    test::RecordingErrors errors_{test::RecordingErrors::Unanswered::DefaultButton};
    std::optional<test::TempWorkDir> work_;
    std::string database_;
};

TEST_F(TablesTest, ManagersAreRegisteredAsTheProgramUsesThem) {
    ASSERT_NE(Access::FILES, nullptr);
    EXPECT_EQ(Access::SQLF->TableName(), "SQLF");
    EXPECT_EQ(Access::FILES->TableName(), "FILES");
    EXPECT_EQ(Access::COMPUTER->TableName(), "COMPUTER");
    EXPECT_EQ(Access::SQLM->TableName(), "SQLM");
    for (FileManager* fm : {Access::SQLF, Access::FILES, Access::COMPUTER, Access::SQLM}) {
        EXPECT_EQ(fm->LOCKRECOVER, 10);
        EXPECT_EQ(fm->CREATE, 1);
        EXPECT_EQ(fm->LAZYOPEN, 1);
        EXPECT_EQ(fm->OPENMODE, 0x42);
    }
    EXPECT_EQ(&Relate::FILES->Manager(), Access::FILES);
    EXPECT_EQ(Relate::COMPUTER->USELOGOUT, 1);
    ASSERT_EQ(Access::FILES->Keys().size(), 2u);
    EXPECT_EQ(Access::FILES->Keys()[0].DESCRIPTION, "by name");
    EXPECT_EQ(Access::FILES->Keys()[1].DESCRIPTION, "ID");
    EXPECT_EQ(Access::FILES->AutoIncKey()->KEY, FILES.KEYSYSFILES.number);
    EXPECT_EQ(Access::COMPUTER->Keys()[0].DESCRIPTION, "by Computername");
    EXPECT_EQ(Access::COMPUTER->AutoIncKey()->KEY, COMPUTER.KEYSYSCOMPUTER.number);
    EXPECT_EQ(Access::SQLM->HASAUTOINC, 0);
    EXPECT_FALSE(FILES.file.bad_declaration);
    EXPECT_FALSE(COMPUTER.file.bad_declaration);
    EXPECT_EQ(SQLM.file.Owner(), GLO::SQLMASTEROWNER.Str());

    KillTables();
    EXPECT_EQ(Access::FILES, nullptr);
    EXPECT_EQ(Relate::SQLM, nullptr);
    KillTables();  // a second kill finds nothing to do
    InitTables(errors_);
    Relate::SQLF->Open();
}

TEST_F(TablesTest, TablesAreCreatedOnFirstUseAndNumberedAcrossThreads) {
    // This computer's row.
    Relate::COMPUTER->Open();
    COMPUTER.NAME = "HOST-A";
    COMPUTER.DRIVES = 5;
    ASSERT_EQ(Access::COMPUTER->Insert(), 0) << errors_.Text() << FileError();
    EXPECT_EQ(COMPUTER.SYSCOMPUTER, 1u) << "no COMPUTER row has the number 0";
    const ULONG computer = COMPUTER.SYSCOMPUTER;
    Relate::COMPUTER->Close();

    // FILES rows from this thread and from a browse-like thread at the same time: each
    // thread has its own record buffer and usage entry.
    constexpr int kRows = 40;
    auto store = [&](const char* prefix, int* failures) {
        Relate::FILES->Open();
        for (int i = 0; i < kRows; ++i) {
            FILES.Record() = FILES_RECORD{};
            FILES.SYSCOMPUTER = computer;
            FILES.NAME = prefix + std::to_string(i) + ".txt";
            FILES.EXTENSION = "txt";
            FILES.DIR = "/home/";
            if (Access::FILES->TryInsert() != 0) ++*failures;
        }
        Relate::FILES->Close();
    };
    int main_failures = 0, thread_failures = 0;
    std::thread other(store, "other", &thread_failures);
    store("main", &main_failures);
    other.join();
    EXPECT_EQ(main_failures, 0) << errors_.Text();
    EXPECT_EQ(thread_failures, 0) << errors_.Text();

    EXPECT_EQ(Value("SELECT COUNT(*) FROM FILES"), std::to_string(2 * kRows));
    EXPECT_EQ(Value("SELECT COUNT(DISTINCT SysFILES) FROM FILES"), std::to_string(2 * kRows));
    EXPECT_EQ(Value("SELECT MIN(SysFILES) FROM FILES"), "1");
    EXPECT_EQ(errors_.Text(), "");
}

TEST_F(TablesTest, SearchReadsThroughPassThroughAfterALazyOpen) {
    Relate::FILES->Open();
    const std::string long_name(252, 'n');
    for (const std::string& name : {std::string("zeta.doc"), long_name + ".txt", std::string("alpha.doc")}) {
        FILES.Record() = FILES_RECORD{};
        FILES.NAME = name;
        FILES.SIZE = 2'000'000'000u;
        ASSERT_EQ(Access::FILES->TryInsert(), 0) << FileError();
    }
    Relate::FILES->Close();

    // The results window: open through the relation manager, no read, then the statement.
    Relate::FILES->Open();
    ASSERT_EQ(Access::FILES->UseFile(), 0);
    ASSERT_EQ(SetProperty(FILES, PROP_SQL, "select * from FILES where Size > 1000000000 order by Name"), 0)
        << FileError();
    std::vector<std::string> names;
    for (int i = 0; i < 10 && Next(FILES) == 0; ++i) {
        names.push_back(FILES.NAME.Str());
        EXPECT_EQ(FILES.SIZE, 2'000'000'000u);
    }
    Relate::FILES->Close();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "alpha.doc");
    EXPECT_EQ(names[1].size(), 256u) << "a 256-character name is stored whole";
    EXPECT_EQ(names[2], "zeta.doc");
}

}  // namespace
}  // namespace dt
