#include "runtime/picture.h"
#include "runtime/regional.h"
#include "runtime/stddate.h"

#include <gtest/gtest.h>

namespace dt {
namespace {

// Every test runs with the default regional settings and the current year 2024, whatever
// the machine's profile and clock say.
class Pictures : public ::testing::Test {
  protected:
    void SetUp() override {
        SetRegionalSettings(RegionalSettings{});
        SetCurrentYearForTesting(2024);
    }
    void TearDown() override {
        SetCurrentYearForTesting(0);
        ResetRegionalSettings();
    }
};

double Deformat(std::string_view text, std::string_view picture) {
    double v = -12345;
    const ConvertStatus s = TryDeformat(text, picture, v);
    EXPECT_TRUE(s.ok) << s.message;
    return v;
}

// Fails, names input and picture, and leaves the out-value alone.
void ExpectUnreadable(std::string_view text, std::string_view picture) {
    double v = -12345;
    const ConvertStatus s = TryDeformat(text, picture, v);
    EXPECT_FALSE(s.ok) << "\"" << text << "\" with " << picture << " gave " << v;
    EXPECT_EQ(v, -12345);
    EXPECT_NE(s.message.find(std::string(text)), std::string::npos) << s.message;
    EXPECT_NE(s.message.find(std::string(picture)), std::string::npos) << s.message;
}

TEST_F(Pictures, EveryDateFormatShowsItsTemplate) {
    const LONG d = MakeDate(2024, 1, 5);  // a Friday
    const char* expected[21] = {"",
                                " 1/05/24",
                                " 1/05/2024",
                                "Jan  5, 2024",
                                "January  5, 2024",
                                " 5/01/24",
                                " 5/01/2024",
                                " 5 Jan 24",
                                " 5 Jan 2024",
                                "24/01/05",
                                "2024/01/05",
                                "240105",
                                "20240105",
                                " 1/24",
                                " 1/2024",
                                "24/01",
                                "2024/01",
                                "01/05/24",
                                "Fri, January 05, 2024",
                                " 5 January 2024",
                                "January  5 2024"};
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(Format(d, "@d" + std::to_string(k)), expected[k]) << "@d" << k;
    // Two-digit months and days leave no blank.
    EXPECT_EQ(Format(MakeDate(2023, 12, 25), "@d1"), "12/25/23");
    EXPECT_EQ(Format(MakeDate(2023, 12, 25), "@d18"), "Mon, December 25, 2023");
    // "0" after the letter fills with zeros; a separator after the number replaces "/".
    EXPECT_EQ(Format(d, "@d01"), "01/05/24");
    EXPECT_EQ(Format(d, "@d6-"), " 5-01-2024");
    EXPECT_EQ(Format(d, "@d06."), "05.01.2024");
    EXPECT_EQ(Format(d, "@d2_"), " 1 05 2024");
}

TEST_F(Pictures, DateLimitsAndNoDate) {
    EXPECT_EQ(Format(4, "@d10"), "1801/01/01") << "1 January 1801 is day 4";
    EXPECT_EQ(Format(1, "@d10"), "1800/12/29");
    EXPECT_EQ(Format(MaxStandardDate(), "@d10"), "9999/12/31");
    EXPECT_EQ(Format(MakeDate(2000, 2, 29), "@d17"), "02/29/00");
    EXPECT_EQ(MakeDate(1900, 2, 29), 0) << "1900 is no leap year";
    // Zero, negative and too-large day numbers are no date: blank with and without B.
    EXPECT_EQ(Format(0, "@d17B"), "");
    EXPECT_EQ(Format(0, "@d17"), "");
    EXPECT_EQ(Format(0, "@d1"), "");
    EXPECT_EQ(Format(-3, "@d2"), "");
    EXPECT_EQ(Format(MaxStandardDate() + 1, "@d2"), "");
}

TEST_F(Pictures, PictureSpellingsAreEquivalent) {
    const LONG d = MakeDate(2024, 7, 14);
    const std::string want = Format(d, "@d17");
    for (const char* pic : {"@d17B@", "D17", "d17", "@D17@", " @d17 ", "d17b"})
        EXPECT_EQ(Format(d, pic), want) << pic;
    EXPECT_EQ(Format(0, "@d17B@"), "");
    EXPECT_EQ(Format(1234567, "N14"), Format(1234567, "@n14@"));
    EXPECT_EQ(Format(4710901, "T4"), Format(4710901, "@t4@"));
    EXPECT_EQ(Format(4710901, "@T04"), "13:05:09");
    EXPECT_EQ(DescribePicture("@n-14B").kind, PictureKind::Number);
    EXPECT_EQ(DescribePicture("n-14B").width, 14);
    EXPECT_TRUE(DescribePicture("n-14B").blank_when_zero);
    EXPECT_EQ(DescribePicture("@d17B@").format, 17);
    EXPECT_EQ(DescribePicture("P####P").kind, PictureKind::Pattern);
    EXPECT_EQ(DescribePicture("s40").width, 40);
}

TEST_F(Pictures, SystemDateFormatsFromRegionalSettings) {
    RegionalSettings r;
    r.sShortDate = "dd.MM.yyyy";
    r.sLongDate = "dddd d MMMM yyyy";
    SetRegionalSettings(r);
    const LONG d = MakeDate(2024, 1, 5);
    EXPECT_EQ(Format(d, "@d17"), "05.01.2024");
    EXPECT_EQ(Format(d, "@d18"), "Friday 5 January 2024");
    EXPECT_EQ(Deformat("05.01.2024", "@d17"), d);
    EXPECT_EQ(Deformat("Friday 5 January 2024", "@d18"), d);

    r.sShortDate = "d/M/y";
    r.sLongDate = "'Day' d 'of' MMM'.' yy''";
    SetRegionalSettings(r);
    EXPECT_EQ(Format(d, "@d17"), "5/1/24");
    EXPECT_EQ(Format(d, "@d18"), "Day 5 of Jan. 24'");
    EXPECT_EQ(Deformat("5/1/24", "@d17"), d);
    EXPECT_EQ(Deformat("Day 5 of Jan. 24'", "@d18"), d);
}

TEST_F(Pictures, EveryTimeFormat) {
    const LONG t = MakeTime(13, 5, 9, 42);
    const char* expected[9] = {"",       "13:05",      "1305",     " 1:05PM",    "13:05:09",
                               "130509", " 1:05:09PM", "01:05 PM", "01:05:09 PM"};
    for (int k = 1; k <= 8; ++k) EXPECT_EQ(Format(t, "@t" + std::to_string(k)), expected[k]) << "@t" << k;
    // Time 1 is midnight; 0 is no time (blank, with and without B); noon is PM.
    EXPECT_EQ(Format(1, "@t1"), "00:00");
    EXPECT_EQ(Format(1, "@t3"), "12:00AM");
    EXPECT_EQ(Format(1, "@t7"), "12:00 AM");
    EXPECT_EQ(Format(MakeTime(12, 0, 0, 0), "@t3"), "12:00PM");
    EXPECT_EQ(Format(0, "@t7B"), "");
    EXPECT_EQ(Format(0, "@t4"), "");
    EXPECT_EQ(Format(kMaxStandardTime, "@t4"), "23:59:59") << "hundredths are cut, not rounded";
    EXPECT_EQ(Format(kMaxStandardTime + 1, "T4"), "");
    EXPECT_EQ(Format(t, "@t4-"), "13-05-09");
}

TEST_F(Pictures, SystemTimeFormatsFollowTheClockSettings) {
    RegionalSettings r;
    r.iTime = 1;
    r.iTLzero = 0;
    r.sTime = ".";
    SetRegionalSettings(r);
    EXPECT_EQ(Format(MakeTime(9, 5, 7, 0), "@t7"), "9.05");
    EXPECT_EQ(Format(MakeTime(21, 5, 7, 0), "T8"), "21.05.07");
    EXPECT_EQ(Deformat("21.05.07", "T8"), MakeTime(21, 5, 7, 0));
    r.iTime = 0;
    r.s1159 = "vorm";
    r.s2359 = "nachm";
    SetRegionalSettings(r);
    EXPECT_EQ(Format(MakeTime(21, 5, 7, 0), "@t7"), "9.05 nachm");
    EXPECT_EQ(Deformat("9.05 nachm", "@t7"), MakeTime(21, 5, 0, 0));
    EXPECT_EQ(Deformat("12.00 vorm", "@t7"), 1) << "12 before noon is midnight";
}

TEST_F(Pictures, DatesReadBack) {
    // Every date format round-trips; formats without a day read back the first of the month.
    const LONG dates[] = {MakeDate(2000, 2, 29), MakeDate(2024, 1, 5), MakeDate(1999, 12, 31),
                          MakeDate(2043, 6, 30)};
    for (LONG d : dates) {
        YearMonthDay ymd;
        ASSERT_EQ(SplitDate(d, ymd), 0);
        for (int k = 1; k <= 20; ++k) {
            const std::string pic = "@d" + std::to_string(k);
            const LONG want = (k >= 13 && k <= 16) ? MakeDate(ymd.year, ymd.month, 1) : d;
            EXPECT_EQ(Deformat(Format(d, pic), pic), want) << Format(d, pic) << " " << pic;
        }
    }
    // Lenient forms a person types.
    EXPECT_EQ(Deformat("1/5/2024", "@d1"), MakeDate(2024, 1, 5)) << "a four-digit year in a two-digit place";
    EXPECT_EQ(Deformat("01-05-24", "@d2"), MakeDate(2024, 1, 5)) << "other punctuation, a two-digit year";
    EXPECT_EQ(Deformat("  jan 5, 2024 ", "@d3"), MakeDate(2024, 1, 5));
    EXPECT_EQ(Deformat("SEPT 5, 2024", "@d3"), MakeDate(2024, 9, 5));
    EXPECT_EQ(Deformat("", "@d17B"), 0) << "blank is no date";
}

TEST_F(Pictures, TwoDigitYearsUseTheWindow) {
    SetCurrentYearForTesting(2003);
    EXPECT_EQ(Deformat("01/01/03", "@d1"), MakeDate(2003, 1, 1));
    EXPECT_EQ(Deformat("01/01/22", "@d1"), MakeDate(2022, 1, 1));
    EXPECT_EQ(Deformat("01/01/23", "@d1"), MakeDate(1923, 1, 1));
    EXPECT_EQ(Deformat("230101", "@d11"), MakeDate(1923, 1, 1));
    ExpectUnreadable("01/01/0023", "@d2");  // four digits are a full year: 23 is before 1800
}

TEST_F(Pictures, InvalidDatesAreStatusesNotCrashes) {
    ExpectUnreadable("02/29/1900", "@d2");  // 1900 is no leap year
    EXPECT_EQ(Deformat("02/29/2000", "@d2"), MakeDate(2000, 2, 29));
    ExpectUnreadable("13/01/2024", "@d2");   // month 13
    ExpectUnreadable("01/32/2024", "@d2");   // day 32
    ExpectUnreadable("01/05/1799", "@d2");   // before the first day
    ExpectUnreadable("Ja 5, 2024", "@d3");   // two letters name no month
    ExpectUnreadable("Foo 5, 2024", "@d3");  // no such month
    ExpectUnreadable("01/05/24 x", "@d1");   // text after the date
    ExpectUnreadable("01/05", "@d1");        // no year
    ExpectUnreadable("abc", "@d17");
    ExpectUnreadable("Xyz, January 05, 2024", "@d18");  // no such day of the week
}

TEST_F(Pictures, TimesReadBack) {
    for (LONG t : {LONG(1), MakeTime(0, 0, 1, 0), MakeTime(11, 59, 59, 0), MakeTime(12, 0, 0, 0),
                   MakeTime(23, 59, 0, 0)})
        for (int k = 1; k <= 8; ++k) {
            const std::string pic = "@t" + std::to_string(k);
            TimeParts p;
            ASSERT_EQ(SplitTime(t, p), 0);
            const bool seconds = k == 4 || k == 5 || k == 6 || k == 8;
            const LONG want = MakeTime(p.hours, p.minutes, seconds ? p.seconds : 0, 0);
            EXPECT_EQ(Deformat(Format(t, pic), pic), want == 0 ? 1 : want) << Format(t, pic) << " " << pic;
        }
    EXPECT_EQ(Deformat("00:00", "@t1"), 1) << "a written midnight is a time, not 'no time'";
    EXPECT_EQ(Deformat("1:05pm", "@t3"), MakeTime(13, 5, 0, 0));
    EXPECT_EQ(Deformat("1:05 P", "@t6"), MakeTime(13, 5, 0, 0)) << "seconds may be left out";
    EXPECT_EQ(Deformat("0930", "@t2"), MakeTime(9, 30, 0, 0));
    EXPECT_EQ(Deformat("17:30", "@t3"), MakeTime(17, 30, 0, 0)) << "no marker: a 24-hour time";
    EXPECT_EQ(Deformat(" ", "@t7B"), 0);
    ExpectUnreadable("24:00", "@t1");
    ExpectUnreadable("13:60", "@t1");
    ExpectUnreadable("13:05 PM", "@t7");  // no hour 13 on a 12-hour clock
    ExpectUnreadable("1:05 XM", "@t7");
    ExpectUnreadable("13", "@t1");
    ExpectUnreadable("13:05:09:10", "@t4");
}

TEST_F(Pictures, NumbersGroupAlignAndRound) {
    EXPECT_EQ(Format(1234567, "@n13"), "    1,234,567");
    EXPECT_EQ(Format(1023, "N14"), "         1,023");
    EXPECT_EQ(Format(4294967295.0, "N15"), "  4,294,967,295");
    EXPECT_EQ(Format(0, "@n5"), "    0");
    EXPECT_EQ(Format(999, "@n3"), "999");
    EXPECT_EQ(Format(1234.567, "@n10.2"), "  1,234.57");
    EXPECT_EQ(Format(2.675, "@n10.2"), "      2.68") << "rounded as written, half away from zero";
    EXPECT_EQ(Format(0.5, "@n3"), "  1");
    EXPECT_EQ(Format(999.5, "@n5"), "1,000");
    EXPECT_EQ(Format(1234, "@n010"), "0000001234");
    EXPECT_EQ(Format(1234567, "@n_10"), "   1234567");
    EXPECT_EQ(Format(1234, "@n*10"), "*****1,234");
    EXPECT_EQ(Format(1234567.891, "@n12.`2"), "1.234.567,89");
    EXPECT_EQ(Format(1234567, "@n10."), " 1.234.567");
    EXPECT_EQ(Format(12.34, "@n6v2"), "  1234");
    EXPECT_EQ(Format(1234.5, "@n$10.2"), " $1,234.50");
    EXPECT_EQ(Format(5, "@n8~ kg~"), "    5 kg");
    EXPECT_EQ(Format(-1234.4, "@N-_"), "-1234") << "size 0: as wide as needed";
}

TEST_F(Pictures, NumberSignsBlanksAndOverflow) {
    EXPECT_EQ(Format(-1234, "n-14B"), "        -1,234");
    EXPECT_EQ(Format(-1234, "@n-010"), "-000001234");
    EXPECT_EQ(Format(-5, "@n(6)"), "   (5)");
    EXPECT_EQ(Format(5, "@n(6)"), "    5 ");
    EXPECT_EQ(Format(-5, "@n6-"), "    5-");
    EXPECT_EQ(Format(-0.004, "@n-6.2"), "  0.00") << "what rounds to zero has no sign";
    // A negative value under a picture without a sign is not shown as its absolute value.
    EXPECT_EQ(Format(-1234, "@n14"), "##############");
    EXPECT_EQ(Format(-1, "N5"), "#####");
    // Too wide for the size: all "#", never a cut number.
    EXPECT_EQ(Format(12345, "@n5"), "#####") << "12,345 needs six positions";
    EXPECT_EQ(Format(12345, "@n6"), "12,345");
    EXPECT_EQ(Format(1e40, "@n13"), "#############");
    EXPECT_EQ(Format(-100, "@n-3"), "###");
    // B: zero is blank in the picture's width.
    EXPECT_EQ(Format(0, "n-14B"), std::string(14, ' '));
    EXPECT_EQ(Format(0.001, "@n5B"), "     ");
    EXPECT_EQ(Format(0, "@n5"), "    0");
}

TEST_F(Pictures, NumbersReadBack) {
    EXPECT_EQ(Deformat("    1,234,567", "@n13"), 1234567);
    EXPECT_EQ(Deformat("        -1,234", "n-14B"), -1234);
    EXPECT_EQ(Deformat("(5)", "@n(6)"), -5);
    EXPECT_EQ(Deformat("5-", "@n6-"), -5);
    EXPECT_EQ(Deformat("1.234.567,89", "@n12.`2"), 1234567.89);
    EXPECT_EQ(Deformat("  1234", "@n6v2"), 12.34);
    EXPECT_EQ(Deformat(" $1,234.50", "@n$10.2"), 1234.5);
    EXPECT_EQ(Deformat("*****1,234", "@n*10"), 1234);
    EXPECT_EQ(Deformat("", "n-14B"), 0);
    for (double v : {0.0, 1.0, 999.0, 1000.0, 1234567.0, -987654.0})
        EXPECT_EQ(Deformat(Format(v, "n-14"), "n-14"), v) << v;
    ExpectUnreadable("-5", "@n14");  // the picture admits no negative values
    ExpectUnreadable("12a", "@n14");
    ExpectUnreadable("#####", "@n5");
    ExpectUnreadable("1.2.3", "@n10.2");

    LONG l = 7;
    EXPECT_FALSE(TryDeformat("3,000,000,000", "@n13", l).ok) << "beyond the LONG range";
    EXPECT_EQ(l, 7);
    EXPECT_TRUE(TryDeformat("2.5", "@n5.1", l).ok);
    EXPECT_EQ(l, 3);
    std::string s;
    EXPECT_TRUE(TryDeformat("    1,234,567", "@n13", s).ok);
    EXPECT_EQ(s, "1234567");
}

TEST_F(Pictures, TextIsCutAndPadded) {
    EXPECT_EQ(Format("abc", "@s5"), "abc  ");
    EXPECT_EQ(Format("abcdefg", "s3"), "abc");
    EXPECT_EQ(Format("", "@s2"), "  ");
    EXPECT_EQ(Format("a\xC3\xA9", "@s2"), "a ") << "never half a UTF-8 character";
    EXPECT_EQ(Format(42, "@s4"), "42  ");
    EXPECT_EQ(Format("1234567", "@n13"), "    1,234,567") << "a number in text is formatted as a number";
    EXPECT_EQ(Format("abc", "@n13"), "abc");
    std::string s;
    EXPECT_TRUE(TryDeformat("abcdef", "@s4", s).ok);
    EXPECT_EQ(s, "abcd");
}

TEST_F(Pictures, PatternPictures) {
    EXPECT_EQ(Format(7, "P####P"), "0007");
    EXPECT_EQ(Format(116, "@P####P@"), "0116");
    EXPECT_EQ(Format(0, "P####P"), "0000");
    EXPECT_EQ(Format(7.6, "P####P"), "0008");
    EXPECT_EQ(Format(12345, "P####P"), "####") << "too many digits: not cut to 2345";
    EXPECT_EQ(Format(-7, "P####P"), "####");
    EXPECT_EQ(Format(12345, "P###-##P"), "123-45");
    EXPECT_EQ(Format(1234567, "P###-##P"), "###-##");
    EXPECT_EQ(Format(7, "P<<#P"), "  7");
    EXPECT_EQ(Format(0, "P<<<P"), "  0");
    EXPECT_EQ(Format(105, "P<<<<P"), " 105");
    EXPECT_EQ(Format(0, "P##PB"), "  ");
    EXPECT_EQ(Deformat("0007", "P####P"), 7);
    EXPECT_EQ(Deformat("123-45", "P###-##P"), 12345);
    EXPECT_EQ(Deformat("  7", "P<<#P"), 7);
    EXPECT_EQ(Deformat("7", "P####P"), 7);
    ExpectUnreadable("12x45", "P###-##P");
    ExpectUnreadable("0a07", "P####P");
}

TEST_F(Pictures, UnknownPicturesShowPlainText) {
    EXPECT_EQ(Format(3.5, "@x12"), "3.5");
    EXPECT_EQ(Format(1234567, "garbage"), "1234567");
    EXPECT_EQ(Format("hello", "zz"), "hello");
    EXPECT_EQ(Format(5, ""), "5");
    EXPECT_EQ(Format(5, "@"), "5");
    EXPECT_EQ(Format(5, "@d21"), "5") << "dates end at 20";
    EXPECT_EQ(Format(5, "@d0"), "5");
    EXPECT_EQ(Format(5, "@t9"), "5") << "times end at 8";
    EXPECT_EQ(Format(5, "@n12x"), "5");
    EXPECT_EQ(Format(5, "@n(12"), "5") << "an opening parenthesis needs its closing one";
    EXPECT_EQ(Format(5, "@n~abc"), "5");
    EXPECT_EQ(Format(5, "@s"), "5");
    EXPECT_EQ(Format(5, "@n99999999999"), "5");
    EXPECT_EQ(Format(5, "P"), "5");
    EXPECT_EQ(DescribePicture("@q5").kind, PictureKind::Unknown);
    EXPECT_EQ(Deformat("12.5", "@x"), 12.5);
    ExpectUnreadable("abc", "@x");
}

}  // namespace
}  // namespace dt
