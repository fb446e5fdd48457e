#include "runtime/packed_field.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "runtime/types.h"

namespace dt {
namespace {

// A packed record like the application's: every field after the first byte is misaligned.
#pragma pack(push, 1)
struct Record {
    BYTE flag;
    SHORT s;
    ULONG u;
    INT64 big;
    REAL r;
    DATE d;
    TIME t;
    char text[6];
};
#pragma pack(pop)
static_assert(sizeof(Record) == 1 + 2 + 4 + 8 + 8 + 4 + 4 + 6);

TEST(PackedField, LoadsAndStoresEveryTypeAtItsByteOffset) {
    Record rec{};
    char* base = reinterpret_cast<char*>(&rec);
    StoreField<SHORT>(base + 1, -12345);
    StoreField<ULONG>(base + 3, 4'000'000'000u);
    StoreField<INT64>(base + 7, -(INT64{1} << 40));
    StoreField<REAL>(base + 15, 2.5);
    StoreField(base + 23, DATE{9, 12, 2026});
    StoreField(base + 27, TIME{50, 59, 30, 23});
    // The stores land exactly on the members of the packed layout, little by little.
    EXPECT_EQ(rec.s, -12345);
    EXPECT_EQ(rec.u, 4'000'000'000u);
    EXPECT_EQ(rec.big, -(INT64{1} << 40));
    EXPECT_EQ(rec.r, 2.5);
    EXPECT_EQ(rec.d, (DATE{9, 12, 2026}));
    EXPECT_EQ(rec.t, (TIME{50, 59, 30, 23}));
    EXPECT_EQ(rec.flag, 0) << "no store spills into its neighbour";
    // And the loads read them back from the same offsets.
    EXPECT_EQ(LoadField<SHORT>(base + 1), -12345);
    EXPECT_EQ(LoadField<ULONG>(base + 3), 4'000'000'000u);
    EXPECT_EQ(LoadField<INT64>(base + 7), -(INT64{1} << 40));
    EXPECT_EQ(LoadField<REAL>(base + 15), 2.5);
    EXPECT_EQ(LoadField<DATE>(base + 23).year, 2026);
    EXPECT_EQ(LoadField<TIME>(base + 27).hours, 23);
}

TEST(PackedField, IntegerStoreRefusesWhatDoesNotFitAndLeavesTheField) {
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_TRUE(StoreIntegerField<BYTE>(buf, 255));
    EXPECT_EQ(LoadField<BYTE>(buf), 255);
    EXPECT_FALSE(StoreIntegerField<BYTE>(buf, 256));
    EXPECT_FALSE(StoreIntegerField<BYTE>(buf, -1));
    EXPECT_EQ(LoadField<BYTE>(buf), 255) << "a refused value leaves the old one";

    EXPECT_TRUE(StoreIntegerField<SHORT>(buf, -32768));
    EXPECT_FALSE(StoreIntegerField<SHORT>(buf, 32768));
    EXPECT_FALSE(StoreIntegerField<SHORT>(buf, -32769));
    EXPECT_EQ(LoadField<SHORT>(buf), -32768);

    EXPECT_TRUE(StoreIntegerField<ULONG>(buf, 4'294'967'295LL));
    EXPECT_EQ(LoadField<ULONG>(buf), 4'294'967'295u);
    EXPECT_FALSE(StoreIntegerField<ULONG>(buf, 4'294'967'296LL)) << "never cut to the low 32 bits";
    EXPECT_FALSE(StoreIntegerField<ULONG>(buf, -1)) << "never wrapped to 4294967295";
    EXPECT_TRUE(StoreIntegerField<LONG>(buf, -2'147'483'648LL));
    EXPECT_FALSE(StoreIntegerField<LONG>(buf, 2'147'483'648LL));
}

TEST(PackedField, TextOfEachLayout) {
    // STRING: every byte, the padding included (clipping is the caller's choice).
    EXPECT_EQ(TextField(TextLayout::Padded, "ab  ", 4), "ab  ");
    // CSTRING: up to the NUL; all bytes when a raw copy left none.
    EXPECT_EQ(TextField(TextLayout::Terminated, "ab\0cd", 5), "ab");
    EXPECT_EQ(TextField(TextLayout::Terminated, "abcde", 5), "abcde");
    EXPECT_EQ(TextField(TextLayout::Terminated, "abcde", 0), "");
    // PSTRING: the length byte says how much, but never more than the field holds.
    EXPECT_EQ(TextField(TextLayout::Counted, "\2abc", 4), "ab");
    EXPECT_EQ(TextField(TextLayout::Counted, "\11abc", 4), "abc") << "a length past the field is cut";
    EXPECT_EQ(TextField(TextLayout::Counted, "\0abc", 4), "");
    EXPECT_EQ(TextField(TextLayout::Counted, nullptr, 0), "") << "no length byte to read";
}

TEST(PackedField, StoredTextIsCutWholeAndPaddedByLayout) {
    char f[5];
    // "aé" (61 C3 A9) and more: the cut never leaves half of é.
    EXPECT_EQ(StoreTextField(TextLayout::Padded, f, 2, "a\xC3\xA9"), 1u);
    EXPECT_EQ(std::string(f, 2), "a ");
    EXPECT_EQ(StoreTextField(TextLayout::Padded, f, 5, "ab"), 2u);
    EXPECT_EQ(std::string(f, 5), "ab   ");

    EXPECT_EQ(StoreTextField(TextLayout::Terminated, f, 5, "abcdefg"), 4u);
    EXPECT_EQ(std::string(f, 5), std::string("abcd\0", 5)) << "room is kept for the NUL";
    EXPECT_EQ(StoreTextField(TextLayout::Terminated, f, 5, "a"), 1u);
    EXPECT_EQ(std::string(f, 5), std::string("a\0\0\0\0", 5)) << "equal texts give equal bytes";

    EXPECT_EQ(StoreTextField(TextLayout::Counted, f, 5, "abcdefg"), 4u);
    EXPECT_EQ(std::string(f, 5), "\4abcd");
    EXPECT_EQ(StoreTextField(TextLayout::Counted, f, 5, "ab"), 2u);
    EXPECT_EQ(std::string(f, 5), std::string("\2ab\0\0", 5));
    EXPECT_EQ(TextField(TextLayout::Counted, f, 5), "ab");

    EXPECT_EQ(StoreTextField(TextLayout::Terminated, f, 0, "abc"), 0u) << "no room, nothing written";
    EXPECT_EQ(StoreTextField(TextLayout::Padded, f, 5, std::string_view()), 0u);
    EXPECT_EQ(std::string(f, 5), "     ");
}

TEST(PackedField, CountedTextNeverOverflowsItsLengthByte) {
    // A PSTRING longer than 256 bytes: its length byte counts to 255 at most, so more text
    // would be stored under a wrong (wrapped) length and read back as something else.
    std::string field(300, 'x');
    const std::string text(290, 'a');
    EXPECT_EQ(StoreTextField(TextLayout::Counted, field.data(), field.size(), text), 255u);
    EXPECT_EQ(TextField(TextLayout::Counted, field.data(), field.size()), text.substr(0, 255));
    EXPECT_EQ(field.find_first_not_of('\0', 256), std::string::npos) << "the rest is cleared";
}

}  // namespace
}  // namespace dt
