#include <gtest/gtest.h>

#include "ui/list_format.h"

namespace dt::ui {
namespace {

TEST(ListFormat, DriveListColumns) {
    ListFormat f;
    ASSERT_TRUE(ParseListFormat("25L(2)|M~Drive~@s4@161L(2)|M~Desciption~@s39@", f));
    ASSERT_EQ(f.columns.size(), 2u);
    EXPECT_EQ(f.columns[0].width, 25);
    EXPECT_EQ(f.columns[0].align, 'L');
    EXPECT_EQ(f.columns[0].indent, 2);
    EXPECT_TRUE(f.columns[0].right_border);
    EXPECT_TRUE(f.columns[0].resizable);
    EXPECT_EQ(f.columns[0].header, "Drive");
    EXPECT_EQ(f.columns[0].picture, "s4");
    EXPECT_EQ(f.columns[1].width, 161);
    EXPECT_EQ(f.columns[1].header, "Desciption");  // the window's own text, typo included
    EXPECT_EQ(f.columns[1].picture, "s39");
    EXPECT_EQ(f.columns[1].field, 1);
    EXPECT_EQ(f.fields_used, 2);
}

TEST(ListFormat, DatesTimesAndRightAlignment) {
    ListFormat f;
    ASSERT_TRUE(ParseListFormat(
        "116L(2)|M~Name~@s32@40L(2)|M~Scan Date~@d17B@20L(2)|M~Time~@t7B@52R(2)|M~Size~@n13@", f));
    ASSERT_EQ(f.columns.size(), 4u);
    EXPECT_EQ(f.columns[1].picture, "d17B");
    EXPECT_EQ(f.columns[1].header, "Scan Date");
    EXPECT_EQ(f.columns[2].picture, "t7B");
    EXPECT_EQ(f.columns[3].align, 'R');
    EXPECT_EQ(f.columns[3].header_align, 'R');
    EXPECT_EQ(f.columns[3].field, 3);
}

// The colour modifier makes the column take four more LONGs after its own field, so the
// next column's field moves on by five.
TEST(ListFormat, ColourFieldsShiftTheFollowingColumns) {
    ListFormat f;
    ASSERT_TRUE(ParseListFormat("120L(2)|M*~Name~@s127@19L(2)|M~Extension~@s10@172L(2)|M~Dir~@s255@", f));
    ASSERT_EQ(f.columns.size(), 3u);
    EXPECT_TRUE(f.columns[0].colors);
    EXPECT_EQ(f.columns[0].field, 0);
    EXPECT_EQ(f.columns[0].color_field, 1);
    EXPECT_EQ(f.columns[1].field, 5);
    EXPECT_EQ(f.columns[1].color_field, -1);
    EXPECT_EQ(f.columns[2].field, 6);
    EXPECT_EQ(f.fields_used, 7);
}

TEST(ListFormat, IconExplicitFieldAndHeaderAlignment) {
    ListFormat f;
    ASSERT_TRUE(ParseListFormat("30C*Y~Pic~R(3)@s5@_40D#9#~Amount~@n10.2@", f));
    ASSERT_EQ(f.columns.size(), 2u);
    EXPECT_EQ(f.columns[0].align, 'C');
    EXPECT_EQ(f.columns[0].color_field, 1);
    EXPECT_EQ(f.columns[0].icon_field, 5);  // after the four colours
    EXPECT_EQ(f.columns[0].header_align, 'R');
    EXPECT_EQ(f.columns[0].header_indent, 3);
    EXPECT_EQ(f.columns[1].align, 'D');
    EXPECT_EQ(f.columns[1].field, 8);
    EXPECT_EQ(f.columns[1].header_align, 'R');  // decimal columns head to the right
    EXPECT_EQ(f.fields_used, 9);
}

TEST(ListFormat, MalformedTextIsRefusedWithAPosition) {
    ListFormat f;
    std::string err;
    // No width: a column must start with its width.
    EXPECT_FALSE(ParseListFormat("L(2)~Name~", f, &err));
    EXPECT_NE(err.find("position 1"), std::string::npos);
    // Header and picture must be closed, or the rest of the text would be swallowed.
    EXPECT_FALSE(ParseListFormat("20L~Name@s4@", f, &err));
    EXPECT_FALSE(ParseListFormat("20L~Name~@s4", f, &err));
    EXPECT_FALSE(ParseListFormat("20Q", f, &err));
    EXPECT_FALSE(ParseListFormat("20L(2", f, &err));
    EXPECT_TRUE(ParseListFormat("", f, &err));
    EXPECT_TRUE(f.columns.empty());
}

TEST(ListFormat, WritingBackKeepsTheMeaning) {
    const char* texts[] = {"25L(2)|M~Drive~@s4@161L(2)|M~Desciption~@s39@",
                           "120L(2)|M*~Name~@s127@52R(2)|M~Size~@n13@",
                           "30C*Y~Pic~R(3)@s5@_40D#9#~Amount~@n10.2@"};
    for (const char* t : texts) {
        ListFormat a, b;
        ASSERT_TRUE(ParseListFormat(t, a)) << t;
        ASSERT_TRUE(ParseListFormat(ListFormatText(a), b)) << ListFormatText(a);
        ASSERT_EQ(a.columns.size(), b.columns.size());
        for (std::size_t i = 0; i < a.columns.size(); ++i) {
            EXPECT_EQ(a.columns[i].width, b.columns[i].width);
            EXPECT_EQ(a.columns[i].header, b.columns[i].header);
            EXPECT_EQ(a.columns[i].picture, b.columns[i].picture);
            EXPECT_EQ(a.columns[i].field, b.columns[i].field);
            EXPECT_EQ(a.columns[i].color_field, b.columns[i].color_field);
            EXPECT_EQ(a.columns[i].header_align, b.columns[i].header_align);
        }
    }
}

}  // namespace
}  // namespace dt::ui
