// The fixture of the SQL driver tests: a table name of its own per test, the owner of the
// server under test, and helpers to create, fill and query the FILES shape.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "data/sql_driver.h"
#include "data/statements.h"
#include "runtime/errors.h"
#include "tests/data/test_tables.h"
#include "tests/support/backend.h"

namespace dt::test {

// Numbers the tables of every driver test of the program (one counter for all its files).
inline std::atomic<int> g_driver_tables{0};

class DriverTest : public BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        int n = ++g_driver_tables;
        table_ = "dtt" + std::to_string(::getpid()) + "_" + std::to_string(n);
        owner_ = Backend::Owner(IsPostgres() ? Backend::MasterDatabase() : "db" + std::to_string(n));
    }
    void TearDown() override {
        if (IsPostgres() && !owner_.empty()) {
            SqlTable sql(table_ + "_sql");
            sql.file.SetOwner(owner_);
            if (CreateIfMissing(sql) == 0 && Open(sql) == 0) {
                for (const std::string& t : created_)
                    (void)SetProperty(sql, PROP_SQL, "DROP TABLE IF EXISTS " + t);
                (void)Close(sql);
                (void)Remove(sql);
            }
        }
        BackendTest::TearDown();
    }

    std::unique_ptr<FilesTable> Files(const std::string& driver_string = "", const std::string& name = "") {
        auto t = std::make_unique<FilesTable>(name.empty() ? table_ : name, driver_string);
        t->file.SetOwner(owner_);
        created_.push_back(name.empty() ? table_ : name);
        return t;
    }
    // The pass-through table, created when missing (as the file manager does).
    std::unique_ptr<SqlTable> Sql() {
        auto t = std::make_unique<SqlTable>(table_ + "_sql");
        t->file.SetOwner(owner_);
        EXPECT_EQ(CreateIfMissing(*t), 0) << FileError();
        return t;
    }
    // Creates and opens FILES.
    std::unique_ptr<FilesTable> OpenFiles(const std::string& driver_string = "") {
        auto t = Files(driver_string);
        EXPECT_EQ(Create(*t), 0) << FileErrorCode() << " " << FileError();
        EXPECT_EQ(Open(*t), 0) << FileErrorCode() << " " << FileError();
        return t;
    }
    static void Fill(FilesTable& t, ULONG id, const std::string& name, ULONG size = 0) {
        t.SYSFILES = id;
        t.SYSCOMPUTER = 7;
        t.NAME = name;
        t.EXTENSION = "txt";
        t.DIR = "/home/user/";
        t.TYPE = 32;
        t.DATE_DATE = dt::DATE{24, 12, 2025};
        t.DATE_TIME = dt::TIME{0, 30, 15, 10};
        t.SIZE = size;
    }
    // The first column of a one-row query, through pass-through.
    std::string Value(const std::string& query) {
        auto s = Sql();
        if (Open(*s) != 0) return "open failed";
        if (SetProperty(*s, PROP_SQL, query) != 0)
            return "error " + std::to_string(ErrorCode()) + " " + FileError();
        std::string v = Next(*s) == 0 ? s->FELD1.Str() : "no row";
        (void)Close(*s);
        return v;
    }

    std::string owner_, table_;
    std::vector<std::string> created_;
    TempWorkDir dir_;
};

}  // namespace dt::test
