// The SQL driver against a real server: RESET and REGET from POSITION buffers, and the
// values given to fields that were read as NULL.
#include <gtest/gtest.h>

#include <filesystem>

#include "data/statements.h"
#include "tests/data/driver_fixture.h"

namespace dt::test {
namespace {

TEST_F(DriverTest, ResetReadsOnFromAPositionAndRefusesABufferThatDoesNotFitTheKey) {
    std::filesystem::path log = dir_.path() / "reset.log";
    auto f = Files("/LOGFILE=" + log.string());
    ASSERT_EQ(Create(*f), 0) << FileError();
    ASSERT_EQ(Open(*f), 0) << FileError();
    const char* names[] = {"delta", "alpha", "echo", "charlie", "bravo"};
    for (ULONG i = 0; i < 5; ++i) {
        Fill(*f, i + 1, names[i]);
        ASSERT_EQ(Add(*f), 0);
    }
    ASSERT_EQ(Set(f->KEYNAME_FILES), 0);
    ASSERT_EQ(Next(*f), 0);
    ASSERT_EQ(Next(*f), 0);
    ASSERT_EQ(f->NAME.Str(), "bravo");
    const std::string by_name = Position(f->KEYNAME_FILES);
    const std::string whole = Position(*f);
    ASSERT_EQ(Next(*f), 0);
    ASSERT_EQ(Next(*f), 0);
    ASSERT_EQ(f->NAME.Str(), "delta");

    // Back to the position: the next record read is the one it was taken on, both ways.
    ASSERT_EQ(Reset(f->KEYNAME_FILES, by_name), 0);
    ASSERT_EQ(Next(*f), 0);
    EXPECT_EQ(f->NAME.Str(), "bravo");
    ASSERT_EQ(Next(*f), 0);
    EXPECT_EQ(f->NAME.Str(), "charlie");
    ASSERT_EQ(Reset(f->KEYNAME_FILES, by_name), 0);
    ASSERT_EQ(Previous(*f), 0);
    EXPECT_EQ(f->NAME.Str(), "bravo");
    ASSERT_EQ(Previous(*f), 0);
    EXPECT_EQ(f->NAME.Str(), "alpha");

    // A position of the whole record fits any key: SYSFILES order from bravo's number (5).
    ASSERT_EQ(Reset(f->KEYSYSFILES, whole), 0);
    ASSERT_EQ(Previous(*f), 0);
    EXPECT_EQ(f->SYSFILES, 5u);
    ASSERT_EQ(Previous(*f), 0);
    EXPECT_EQ(f->SYSFILES, 4u);

    // A name is no record number, and a cut buffer is no position.
    EXPECT_EQ(Reset(f->KEYSYSFILES, by_name), 38);
    EXPECT_EQ(Reset(f->KEYNAME_FILES, by_name.substr(0, by_name.size() - 1)), 38);

    // REGET by a key's position finds the row again, with or without the key.
    f->Record() = FilesRecord{};
    ASSERT_EQ(Reget(f->KEYNAME_FILES, by_name), 0) << FileError();
    EXPECT_EQ(f->SYSFILES, 5u);
    f->Record() = FilesRecord{};
    ASSERT_EQ(Reget(*f, by_name), 0) << FileError();
    EXPECT_EQ(f->NAME.Str(), "bravo");
    EXPECT_EQ(Reget(f->KEYSYSFILES, by_name), 38);
    (void)Close(*f);
    f.reset();

    const std::string text = ReadFile(log.string());
    const std::string refused =
        "Reseting on key FILES:KEYSYSFILES using Position from key FILES:KEYNAME_FILES\r\n"
        "Reset Buffer:\r\nFileSize: 550\r\nKeySize: 4 KeyNumber: 2\r\n"
        "Position Buffer:\r\nFileSize: 550\r\nKeySize: 257 KeyNumber: 1\r\n"
        "Size not equal for key FILES:KEYSYSFILES\r\n";
    EXPECT_NE(text.find(refused), std::string::npos) << text;
    EXPECT_NE(text.find("File Size(2) wrong for file " + table_ + "\r\n"), std::string::npos) << text;
}

TEST_F(DriverTest, AValueGivenToAFieldReadAsNullIsWrittenByPutAndAdd) {
    auto f = OpenFiles();
    Fill(*f, 1, "one");
    ASSERT_EQ(SetNull(*f, "FILES:EXTENSION"), 0);
    ASSERT_EQ(SetNull(*f, "FILES:DATE"), 0);
    ASSERT_EQ(SetNull(*f, "FILES:SIZE"), 0);
    ASSERT_EQ(Add(*f), 0) << FileError();
    const std::string where = " FROM " + table_ + " WHERE SYSFILES = ";

    // Read as NULL, then given values without SETNONULL: the values are what is written.
    f->Record() = FilesRecord{};
    f->SYSFILES = 1;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0);
    ASSERT_TRUE(IsNull(*f, "FILES:EXTENSION"));
    f->EXTENSION = "doc";
    f->DATE_DATE = dt::DATE{2, 1, 2026};  // the timestamp pair, through its parts
    f->DATE_TIME = dt::TIME{0, 0, 30, 9};
    ASSERT_EQ(Put(*f), 0) << FileError();
    EXPECT_FALSE(IsNull(*f, "FILES:EXTENSION"));
    EXPECT_EQ(Value("SELECT EXTENSION" + where + "1"), "doc");
    EXPECT_EQ(Value("SELECT COUNT(*)" + where + "1 AND DATE IS NOT NULL"), "1");
    EXPECT_EQ(Value("SELECT COUNT(*)" + where + "1 AND SIZE IS NULL"), "1")
        << "a field left alone stays NULL";

    // The same at ADD: a new value is written, an untouched NULL stays NULL.
    f->SYSFILES = 1;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0);
    ASSERT_TRUE(IsNull(*f, "FILES:SIZE"));
    f->SYSFILES = 2;
    f->SIZE = 5;
    ASSERT_EQ(Add(*f), 0) << FileError();
    EXPECT_EQ(Value("SELECT SIZE" + where + "2"), "5");
    f->SYSFILES = 1;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0);
    f->SYSFILES = 3;
    ASSERT_EQ(Add(*f), 0) << FileError();
    EXPECT_EQ(Value("SELECT COUNT(*)" + where + "3 AND SIZE IS NULL"), "1");

    // A value put back to what the read left is no new value, and SETNULL after a new
    // value still means NULL.
    f->SYSFILES = 1;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0);
    f->SIZE = 7;
    f->SIZE = 0;
    ASSERT_EQ(Put(*f), 0) << FileError();
    EXPECT_EQ(Value("SELECT COUNT(*)" + where + "1 AND SIZE IS NULL"), "1");
    f->SIZE = 7;
    ASSERT_EQ(SetNull(*f, "FILES:SIZE"), 0);
    f->EXTENSION = "pdf";  // something to write, so the UPDATE runs
    ASSERT_EQ(Put(*f), 0) << FileError();
    EXPECT_EQ(Value("SELECT EXTENSION" + where + "1"), "pdf");
    EXPECT_EQ(Value("SELECT COUNT(*)" + where + "1 AND SIZE IS NULL"), "1");

    // A state saved with GETSTATE keeps the bytes its NULL fields held: a read in between
    // does not turn them into new values.
    f->SYSFILES = 3;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0);
    f->SIZE = 4;
    ASSERT_EQ(SetNull(*f, "FILES:SIZE"), 0);
    const long state = GetState(*f);
    f->SYSFILES = 1;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0);
    ASSERT_EQ(RestoreState(*f, state), 0);
    EXPECT_EQ(f->SIZE, 4u);
    EXPECT_EQ(f->SYSFILES, 3u);
    f->EXTENSION = "png";
    ASSERT_EQ(Put(*f), 0) << FileError();
    EXPECT_EQ(Value("SELECT EXTENSION" + where + "3"), "png");
    EXPECT_EQ(Value("SELECT COUNT(*)" + where + "3 AND SIZE IS NULL"), "1");
    (void)FreeState(*f, state);
    (void)Close(*f);
}

}  // namespace
}  // namespace dt::test
