// Without the ODBC driver manager every operation but SEND, NAME and the properties
// fails with 90, file error "1" and the library's message.
#include <gtest/gtest.h>

#include "data/odbc.h"
#include "data/statements.h"
#include "runtime/errors.h"
#include "tests/data/test_tables.h"

namespace dt::test {
namespace {

TEST(NoOdbc, EveryFileOperationFailsWithTheLibraryMessage) {
    SetOdbcLibraryNameForTesting("libdt-no-such-odbc.so.2");
    TempWorkDir dir;
    FilesTable f("FILES");
    f.file.SetOwner("srv,db");
    EXPECT_EQ(Open(f), 90);
    EXPECT_EQ(FileErrorCode(), "1");
    EXPECT_EQ(FileError(), "libdt-no-such-odbc.so.2 Could Not Be Loaded");
    EXPECT_EQ(Create(f), 90);
    EXPECT_EQ(Next(f), 90);
    EXPECT_EQ(FileError(), "libdt-no-such-odbc.so.2 Could Not Be Loaded");

    EXPECT_EQ(Send(f, "/ZEROISNULL=TRUE"), "TRUE");
    EXPECT_EQ(ErrorCode(), 0);
    EXPECT_EQ(Name(f), "FILES");
    EXPECT_EQ(ErrorCode(), 0);
    EXPECT_EQ(SetProperty(f, PROP_SQLFilter, "x"), 0);
    EXPECT_EQ(GetProperty(f, PROP_SQLFilter), "x");
}

}  // namespace
}  // namespace dt::test
