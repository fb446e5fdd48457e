// The position buffer of POSITION, RESET and REGET: what it holds, and which buffers a
// reset refuses (error 38) with the trace lines that say why.
#include <gtest/gtest.h>

#include <cstring>

#include "data/position.h"
#include "tests/data/test_tables.h"

namespace dt::test {
namespace {

// FILES with two more keys: one over the same field as the primary key, one over another
// field of the same size.
struct KeyedFiles : FilesTable {
    KeyedFiles() : FilesTable("FILES") {}
    Key KEYSAMEID{file, "FILES:KEYSAMEID", {"FILES:SYSFILES"}, KEY_DUP};
    Key KEYCOMPUTER{file, "FILES:KEYCOMPUTER", {"FILES:SYSCOMPUTER"}, KEY_DUP};
};

std::vector<char> RecordOf(const File& f) {
    return std::vector<char>(f.Record(), f.Record() + f.record_length);
}

std::vector<std::string> Lines(std::initializer_list<const char*> l) {
    return std::vector<std::string>(l.begin(), l.end());
}

TEST(Position, FilePositionGivesBackTheWholeRecord) {
    KeyedFiles t;
    t.SYSFILES = 7;
    t.NAME = "seven";
    t.SIZE = 70;
    const std::string pos = MakePosition(t.file, nullptr, t.file.Record());
    ASSERT_EQ(pos.size(), kPositionHeaderSize + sizeof(FilesRecord));
    const PositionHeader h = ReadPositionHeader(pos);
    EXPECT_EQ(h.file_size, sizeof(FilesRecord));
    EXPECT_EQ(h.key_size, 0u);
    EXPECT_EQ(h.key_number, 0u);

    t.Record() = FilesRecord{};
    std::vector<char> rec = RecordOf(t.file);
    // A file position fits every key, and the whole record comes back.
    PositionRead r = ReadPosition(t.file, &t.KEYNAME_FILES, pos, rec);
    EXPECT_EQ(r.rc, 0);
    EXPECT_TRUE(r.trace.empty());
    EXPECT_EQ(r.from_key, nullptr);
    std::memcpy(t.file.Record(), rec.data(), rec.size());
    EXPECT_EQ(t.SYSFILES, 7u);
    EXPECT_EQ(t.NAME.Str(), "seven");
    EXPECT_EQ(t.SIZE, 70u);
}

TEST(Position, KeyPositionReplacesOnlyTheKeyFields) {
    KeyedFiles t;
    t.NAME = "alpha";
    t.SIZE = 1;
    const std::string pos = MakePosition(t.file, &t.KEYNAME_FILES, t.file.Record());
    EXPECT_EQ(KeySize(t.file, t.KEYNAME_FILES), 257u);
    ASSERT_EQ(pos.size(), kPositionHeaderSize + 257u);
    EXPECT_EQ(ReadPositionHeader(pos).key_number, 1u);

    t.NAME = "beta";
    t.SIZE = 2;
    std::vector<char> rec = RecordOf(t.file);
    PositionRead r = ReadPosition(t.file, &t.KEYNAME_FILES, pos, rec);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.from_key, &t.KEYNAME_FILES);
    EXPECT_TRUE(r.trace.empty());
    std::memcpy(t.file.Record(), rec.data(), rec.size());
    EXPECT_EQ(t.NAME.Str(), "alpha");
    EXPECT_EQ(t.SIZE, 2u);  // not a key field: the current value stays
}

TEST(Position, AnotherKeyOverTheSameFieldsIsUsedAndSaysSo) {
    KeyedFiles t;
    t.SYSFILES = 41;
    const std::string pos = MakePosition(t.file, &t.KEYSYSFILES, t.file.Record());
    t.SYSFILES = 1;
    std::vector<char> rec = RecordOf(t.file);
    PositionRead r = ReadPosition(t.file, &t.KEYSAMEID, pos, rec);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.trace, Lines({"Reseting on key FILES:KEYSAMEID using Position from key FILES:KEYSYSFILES"}));
    std::memcpy(t.file.Record(), rec.data(), rec.size());
    EXPECT_EQ(t.SYSFILES, 41u);
}

TEST(Position, KeysThatDoNotFitAreRefusedWith38) {
    KeyedFiles t;
    t.NAME = "n";
    t.SYSCOMPUTER = 3;
    const std::string by_name = MakePosition(t.file, &t.KEYNAME_FILES, t.file.Record());
    const std::string by_computer = MakePosition(t.file, &t.KEYCOMPUTER, t.file.Record());
    t.SYSFILES = 5;
    const std::vector<char> before = RecordOf(t.file);

    // Other fields of another size: the sizes differ.
    std::vector<char> rec = before;
    PositionRead r = ReadPosition(t.file, &t.KEYSYSFILES, by_name, rec);
    EXPECT_EQ(r.rc, 38);
    EXPECT_EQ(r.trace, Lines({"Reseting on key FILES:KEYSYSFILES using Position from key FILES:KEYNAME_FILES",
                              "Reset Buffer:", "FileSize: 550", "KeySize: 4 KeyNumber: 2",
                              "Position Buffer:", "FileSize: 550", "KeySize: 257 KeyNumber: 1",
                              "Size not equal for key FILES:KEYSYSFILES"}));
    EXPECT_EQ(rec, before);  // nothing taken from a refused buffer

    // Another field of the same size is still another field: its value is no SYSFILES.
    r = ReadPosition(t.file, &t.KEYSYSFILES, by_computer, rec);
    EXPECT_EQ(r.rc, 38);
    ASSERT_EQ(r.trace.size(), 7u);
    EXPECT_EQ(r.trace.front(), "Reseting on key FILES:KEYSYSFILES using Position from key FILES:KEYCOMPUTER");
    EXPECT_EQ(r.trace.back(), "KeySize: 4 KeyNumber: 4");
    EXPECT_EQ(rec, before);
}

TEST(Position, BuffersOfAnotherFileOrCutShortAreRefusedWith38) {
    KeyedFiles t;
    const std::string pos = MakePosition(t.file, &t.KEYSYSFILES, t.file.Record());
    std::vector<char> rec = RecordOf(t.file);

    // Cut: the header no longer agrees with the length.
    PositionRead r = ReadPosition(t.file, &t.KEYSYSFILES, pos.substr(0, pos.size() - 1), rec);
    EXPECT_EQ(r.rc, 38);
    EXPECT_EQ(r.trace.back(), "File Size(2) wrong for file FILES");
    // Too short to say anything about itself.
    r = ReadPosition(t.file, &t.KEYSYSFILES, "abc", rec);
    EXPECT_EQ(r.rc, 38);
    EXPECT_EQ(r.trace, Lines({"Reset Buffer:", "FileSize: 550", "KeySize: 4 KeyNumber: 2",
                              "Position Buffer:", "FileSize: 0", "KeySize: 0 KeyNumber: 0",
                              "File Size(2) wrong for file FILES"}));
    // A key number this file does not have.
    std::string forged = pos;
    forged[8] = 9;
    r = ReadPosition(t.file, &t.KEYSYSFILES, forged, rec);
    EXPECT_EQ(r.rc, 38);
    EXPECT_EQ(r.trace.back(), "File Size(2) wrong for file FILES");

    // A position taken on a file with another record length.
    SqlTable other("SQLF");
    const std::string foreign = MakePosition(other.file, nullptr, other.file.Record());
    r = ReadPosition(t.file, &t.KEYSYSFILES, foreign, rec);
    EXPECT_EQ(r.rc, 38);
    EXPECT_EQ(r.trace[4], "FileSize: 256");
    EXPECT_EQ(r.trace.back(), "File Size wrong for file FILES");
    // The record image of old, without a header, is refused too.
    r = ReadPosition(t.file, &t.KEYSYSFILES, std::string(t.file.Record(), t.file.record_length), rec);
    EXPECT_EQ(r.rc, 38);
}

TEST(Position, ReadingWithoutAKeyFollowsTheKeyOfThePosition) {
    KeyedFiles t;
    t.NAME = "x";
    const std::string pos = MakePosition(t.file, &t.KEYNAME_FILES, t.file.Record());
    t.NAME = "y";
    std::vector<char> rec = RecordOf(t.file);
    PositionRead r = ReadPosition(t.file, nullptr, pos, rec);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.from_key, &t.KEYNAME_FILES);
    EXPECT_TRUE(r.trace.empty());
    std::memcpy(t.file.Record(), rec.data(), rec.size());
    EXPECT_EQ(t.NAME.Str(), "x");
}

}  // namespace
}  // namespace dt::test
