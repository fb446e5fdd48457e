#include <gtest/gtest.h>

#include "runtime/stddate.h"
#include "ui/definition.h"
#include "ui/src/value_format.h"

namespace dt::ui {
namespace {

using detail::FormatValue;
using detail::ParseValue;

TEST(ValueFormat, TextFieldsShowWithoutPaddingAndStoreCut) {
    STRING<10> s("abc");
    UseVar u = Use(s);
    EXPECT_EQ(FormatValue(u.type, u.ptr, u.size, "s10"), "abc");
    ASSERT_TRUE(ParseValue("hello world, long", "s10", u.type, u.ptr, u.size));
    EXPECT_EQ(s.View(), "hello worl");
    CSTRING<5> c;
    UseVar v = Use(c);
    ASSERT_TRUE(ParseValue("abcdefgh", "", v.type, v.ptr, v.size));
    EXPECT_EQ(c.View(), "abcd");  // four characters and the NUL
}

TEST(ValueFormat, NumbersAreRejectedRatherThanWrapped) {
    LONG l = 0;
    UseVar u = Use(l);
    ASSERT_TRUE(ParseValue("1,234", "n-14B", u.type, u.ptr, u.size));
    EXPECT_EQ(l, 1234);
    EXPECT_FALSE(ParseValue("abc", "n-14B", u.type, u.ptr, u.size));
    EXPECT_EQ(l, 1234);  // unchanged
    BYTE b = 7;
    UseVar ub = Use(b);
    EXPECT_FALSE(ParseValue("300", "", ub.type, ub.ptr, ub.size));  // would wrap to 44
    EXPECT_FALSE(ParseValue("-1", "", ub.type, ub.ptr, ub.size));
    EXPECT_EQ(b, 7);
    EXPECT_TRUE(ParseValue("1", "", ub.type, ub.ptr, ub.size));
    EXPECT_EQ(b, 1);
    ULONG big = 0;
    UseVar ul = Use(big);
    ASSERT_TRUE(ParseValue("4294967295", "", ul.type, ul.ptr, ul.size));
    EXPECT_EQ(big, 4294967295u);  // all 32 bits
    EXPECT_FALSE(ParseValue("4294967296", "", ul.type, ul.ptr, ul.size));
    EXPECT_EQ(big, 4294967295u);
}

TEST(ValueFormat, NumbersRoundOnlyWithinTheirTypesRange) {
    BYTE b = 7;
    UseVar ub = Use(b);
    // The typed number must lie in the range; rounding does not bring it back in.
    EXPECT_FALSE(ParseValue("255.4", "", ub.type, ub.ptr, ub.size));
    EXPECT_FALSE(ParseValue("-0.4", "", ub.type, ub.ptr, ub.size));
    EXPECT_EQ(b, 7);
    ASSERT_TRUE(ParseValue("254.6", "", ub.type, ub.ptr, ub.size));
    EXPECT_EQ(b, 255);
    SHORT s = 0;
    UseVar us = Use(s);
    ASSERT_TRUE(ParseValue("-32768", "", us.type, us.ptr, us.size));
    EXPECT_EQ(s, -32768);
    EXPECT_FALSE(ParseValue("32768", "", us.type, us.ptr, us.size));
    EXPECT_EQ(s, -32768);
    // Without a picture, blanks around the number are allowed; other white space is not.
    ASSERT_TRUE(ParseValue("  12  ", "", us.type, us.ptr, us.size));
    EXPECT_EQ(s, 12);
    EXPECT_FALSE(ParseValue("13\t", "", us.type, us.ptr, us.size));
    ASSERT_TRUE(ParseValue("   ", "", us.type, us.ptr, us.size));
    EXPECT_EQ(s, 0) << "blank text is zero";
}

TEST(ValueFormat, DatesAndTimesGoThroughStandardValues) {
    DATE d = DATE::FromStandard(MakeDate(2003, 1, 2));
    UseVar u = Use(d);
    std::string shown = FormatValue(u.type, u.ptr, u.size, "d10");
    EXPECT_EQ(shown, "2003/01/02");
    DATE none{};
    UseVar n = Use(none);
    EXPECT_EQ(FormatValue(n.type, n.ptr, n.size, "d17B"), "");
    TIME t = TIME::FromStandard(MakeTime(13, 5, 9, 0));
    UseVar ut = Use(t);
    EXPECT_EQ(FormatValue(ut.type, ut.ptr, ut.size, "t4"), "13:05:09");
    ASSERT_TRUE(ParseValue("2004/02/29", "d10", u.type, u.ptr, u.size));
    EXPECT_EQ(d.year, 2004);
    EXPECT_EQ(d.month, 2);
    EXPECT_EQ(d.day, 29);
}

}  // namespace
}  // namespace dt::ui
