#include "runtime/queue.h"
#include "runtime/stddate.h"
#include "runtime/types.h"

#include <gtest/gtest.h>

namespace dt {
namespace {

TEST(Strings, StringPadsAndClipsCstringCutsAndTerminates) {
    STRING<8> s("ab");
    EXPECT_EQ(s.View(), "ab      ");
    EXPECT_EQ(s.Clip(), "ab");
    s = "0123456789";
    EXPECT_EQ(s.View(), "01234567");

    CSTRING<5> c("abcdefg");
    EXPECT_EQ(c.View(), "abcd");
    EXPECT_EQ(c.data[4], '\0');
    CSTRING<5> d("ab");
    EXPECT_EQ(d.data[3], '\0') << "the rest is zeroed so equal texts give equal records";
}

TEST(Strings, AssignNeverSplitsAUtf8Character) {
    // "aé" is 61 C3 A9: a cut after 2 bytes would leave half of é.
    CSTRING<3> c("a\xC3\xA9");
    EXPECT_EQ(c.View(), "a");
    STRING<2> s("a\xC3\xA9");
    EXPECT_EQ(s.View(), "a ");
}

TEST(PackedDate, ValueLayoutAndConversions) {
    DATE d{1, 1, 1801};
    EXPECT_EQ(d.Value(), 1801u * 65536 + 256 + 1);
    EXPECT_EQ(d.ToStandard(), 4) << "1 January 1801 is day 4";
    EXPECT_EQ(DATE::FromStandard(4), d);
    EXPECT_EQ(DATE{}.ToStandard(), 0);
    EXPECT_EQ((DATE{29, 2, 1900}).ToStandard(), 0) << "1900 is no leap year";
    EXPECT_NE((DATE{29, 2, 2000}).ToStandard(), 0) << "2000 is a leap year";
    EXPECT_EQ(DATE::FromValue(655'360'000).ToStandard(), MaxStandardDate())
        << "year 10000 or more reads as 31 December 9999";
    EXPECT_EQ(DATE::FromStandard(MaxStandardDate()), (DATE{31, 12, 9999}));
    EXPECT_EQ(DATE::FromStandard(-5), DATE{});
}

TEST(PackedTime, ValueLayoutAndConversions) {
    TIME t{0, 1, 0, 0};
    EXPECT_EQ(t.ToStandard(), 101);
    EXPECT_EQ(TIME{}.ToStandard(), 0) << "midnight with all parts zero is no time";
    EXPECT_EQ(TIME::FromStandard(1), TIME{});
    EXPECT_EQ(TIME::FromStandard(8'640'000), (TIME{99, 59, 59, 23}));
    EXPECT_EQ(TIME::FromStandard(8'640'001), TIME{});
    EXPECT_EQ((TIME{0, 0, 0, 24}).ToStandard(), -1);
    EXPECT_EQ((TIME{0x44, 0x33, 0x22, 0x11}).Value(), 0x11223344u);
}

TEST(StandardDate, RoundTripsEveryDayOfSomeCenturies) {
    for (LONG n = 1; n < 200000; n += 7) {  // 1800 .. 2348
        YearMonthDay ymd;
        ASSERT_EQ(SplitDate(n, ymd), 0) << n;
        ASSERT_EQ(MakeDate(ymd.year, ymd.month, ymd.day), n);
    }
    YearMonthDay ymd;
    EXPECT_EQ(SplitDate(1, ymd), 0);
    EXPECT_EQ(ymd.year, 1800);
    EXPECT_EQ(ymd.month, 12);
    // Day 4 being 1 January 1801 puts day 1 on 29 December 1800.
    EXPECT_EQ(ymd.day, 29);
    EXPECT_EQ(SplitDate(0, ymd), -1);
    EXPECT_EQ(ymd.year, 0);
    EXPECT_EQ(MakeDate(2024, 13, 1), 0) << "month 13 is no month";
    EXPECT_EQ(MakeDate(2023, 2, 29), 0);
}

TEST(StandardDate, TwoDigitYearWindow) {
    SetCurrentYearForTesting(2003);
    EXPECT_EQ(ExpandTwoDigitYear(3), 2003);
    EXPECT_EQ(ExpandTwoDigitYear(22), 2022);
    EXPECT_EQ(ExpandTwoDigitYear(23), 1923);
    EXPECT_EQ(ExpandTwoDigitYear(99), 1999);
    EXPECT_EQ(MakeDate(22, 1, 1), MakeDate(2022, 1, 1));
    SetCurrentYearForTesting(0);
}

TEST(StandardTime, PartsAndRanges) {
    EXPECT_EQ(MakeTime(0, 0, 0, 0), 0);
    EXPECT_EQ(MakeTime(0, 0, 1, 0), 101);
    EXPECT_EQ(MakeTime(23, 59, 59, 99), 8'640'000);
    EXPECT_EQ(MakeTime(0, 60, 0, 0), -1);
    EXPECT_EQ(MakeTime(0, 0, 0, 100), -1);
    TimeParts p;
    EXPECT_EQ(SplitTime(1, p), 0);
    EXPECT_EQ(p.hours + p.minutes + p.seconds + p.hundredths, 0);
    EXPECT_EQ(SplitTime(0, p), -1);
    EXPECT_EQ(SplitTime(8'640'001, p), -1);
}

struct Rec {
    CSTRING<8> name;
    ULONG size;
};

TEST(QueueOfRecords, AddGetPutDeleteSortFree) {
    Queue<Rec> q;
    const char* names[] = {"b", "a", "c", "a"};
    for (ULONG i = 0; i < 4; ++i) {
        q.name = names[i];
        q.size = i;
        q.Add();
    }
    EXPECT_EQ(q.Records(), 4u);
    EXPECT_EQ(q.Get(5), 30);
    EXPECT_EQ(ErrorCode(), 30);
    ASSERT_EQ(q.Get(2), 0);
    EXPECT_EQ(q.name.View(), "a");
    q.size = 99;
    ASSERT_EQ(q.Put(), 0);
    q.Sort(&Rec::name);
    // Stable: the two "a" keep their order (size 99, then 3).
    ASSERT_EQ(q.Get(1), 0);
    EXPECT_EQ(q.size, 99u);
    ASSERT_EQ(q.Get(2), 0);
    EXPECT_EQ(q.size, 3u);
    q.Sort(&Rec::size, true);
    ASSERT_EQ(q.Get(1), 0);
    EXPECT_EQ(q.size, 99u);
    ASSERT_EQ(q.Delete(), 0);
    EXPECT_EQ(q.Records(), 3u);
    q.name = "z";
    q.Add(1);
    ASSERT_EQ(q.Get(1), 0);
    EXPECT_EQ(q.name.View(), "z");
    q.Free();
    EXPECT_EQ(q.Records(), 0u);
    EXPECT_EQ(q.Delete(), 30);
}

}  // namespace
}  // namespace dt
