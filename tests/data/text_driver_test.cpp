// The ASCII text driver: create, append lines, read them back, count, remove.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "data/statements.h"
#include "data/text_driver.h"
#include "runtime/errors.h"
#include "tests/data/test_tables.h"

namespace dt::test {
namespace {

#pragma pack(push, 1)
struct LineRecord {
    STRING<14> LINE;
};
#pragma pack(pop)

struct LogFile : Table<LineRecord> {
    explicit LogFile(const std::string& path, std::uint8_t flags = FILE_CREATE)
        : Table("LOG", TextDriver(), "", path, flags, {Field::String("LOG:LINE", 0, 14)}) {}
};

TEST(TextDriver, AppendsLinesAndReadsThemBack) {
    TempWorkDir dir;
    LogFile log("errors.log");
    EXPECT_EQ(Open(log), 2);  // not there yet
    ASSERT_EQ(Create(log), 0);
    ASSERT_EQ(Open(log, ReadWrite | DenyNone), 0);
    log.LINE = "first";
    ASSERT_EQ(Add(log), 0);
    log.LINE = "second line \xC3\xA9";
    ASSERT_EQ(Append(log), 0);
    EXPECT_EQ(Records(log), 2);
    ASSERT_EQ(Set(log.file), 0);
    ASSERT_EQ(Next(log), 0);
    EXPECT_EQ(log.LINE.Str(), "first");
    ASSERT_EQ(Next(log), 0);
    EXPECT_EQ(log.LINE.Str(), "second line \xC3\xA9");
    EXPECT_EQ(Next(log), 33);
    EXPECT_EQ(Put(log), 80);
    (void)Close(log);

    std::ifstream in("errors.log");
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "first\nsecond line \xC3\xA9\n");  // trailing blanks are not written
    // A longer line is cut at a character boundary, never inside one.
    std::ofstream("errors.log", std::ios::app) << "abcdefghijklm\xC3\xA9\r\n";
    ASSERT_EQ(Open(log), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Next(log), 0);
    EXPECT_EQ(log.LINE.Str(), "abcdefghijklm");
    (void)Close(log);
    EXPECT_EQ(Remove(log), 0);
    EXPECT_FALSE(std::filesystem::exists("errors.log"));
}

TEST(TextDriver, ReadOnlyFilesAndMissingAttributes) {
    TempWorkDir dir;
    LogFile log("a.log", 0);
    EXPECT_EQ(Create(log), 54);
    LogFile writer("a.log");
    ASSERT_EQ(Create(writer), 0);
    ASSERT_EQ(Open(writer, ReadOnly | DenyNone), 0);
    writer.LINE = "x";
    EXPECT_EQ(Add(writer), 5);
    EXPECT_EQ(Name(writer), "a.log");
    (void)Close(writer);
    LogFile unnamed("");
    unnamed.file.label.clear();
    EXPECT_EQ(Open(unnamed), 45);
}

}  // namespace
}  // namespace dt::test
