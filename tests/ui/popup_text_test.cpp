#include <gtest/gtest.h>

#include "ui/application.h"
#include "ui/src/popup_text.h"

namespace dt::ui {
namespace {

TEST(PopupText, NumbersOnlySelectableEntries) {
    auto items = detail::ParsePopup("Item1|-|Sub{A|B}|~Disabled|+Checked");
    ASSERT_EQ(items.size(), 7u);
    EXPECT_EQ(items[0].number, 1);
    EXPECT_TRUE(items[1].separator);
    EXPECT_EQ(items[1].number, 0);
    EXPECT_TRUE(items[2].submenu);  // opens the submenu: not an entry of its own
    EXPECT_EQ(items[2].number, 0);
    EXPECT_EQ(items[3].depth, 2);
    EXPECT_EQ(items[3].text, "A");
    EXPECT_EQ(items[3].number, 2);
    EXPECT_EQ(items[4].number, 3);
    EXPECT_EQ(items[5].depth, 1);
    EXPECT_TRUE(items[5].disabled);
    EXPECT_EQ(items[5].text, "Disabled");
    EXPECT_EQ(items[5].number, 4);  // disabled entries keep their number
    EXPECT_EQ(items[6].check, 1);
    EXPECT_EQ(items[6].number, 5);
    EXPECT_EQ(PopupEntries("Item1|-|Sub{A|B}|~Disabled|+Checked"), 5);
}

TEST(PopupText, ResultsMenuOfTheSearchWindow) {
    // The file name, six disabled actions, and "info" as entry 8.
    const char* menu = "readme.txt|-|~copy|~delete|~move|~select all|~select none|~revert selection|-|info";
    auto items = detail::ParsePopup(menu);
    EXPECT_EQ(items.back().text, "info");
    EXPECT_EQ(items.back().number, 8);
    EXPECT_EQ(PopupEntries(menu), 8);
}

TEST(PopupText, PrefixesInAnyOrderAndIcons) {
    auto items = detail::ParsePopup("+~Word|-Unchecked|[32525]Find|~[(~1)x]Pic");
    ASSERT_EQ(items.size(), 4u);
    EXPECT_TRUE(items[0].disabled);
    EXPECT_EQ(items[0].check, 1);
    EXPECT_EQ(items[0].text, "Word");
    EXPECT_EQ(items[1].check, 2);
    EXPECT_EQ(items[1].text, "Unchecked");
    EXPECT_EQ(items[2].text, "Find");
    EXPECT_TRUE(items[3].disabled);
    EXPECT_EQ(items[3].text, "Pic");
}

TEST(PopupText, UnbalancedBracesDoNotCrash) {
    // Extra closing braces stay at the top level; B opens the (doubly deep) submenu of C.
    EXPECT_EQ(PopupEntries("A}}|B{{C"), 2);
    EXPECT_EQ(PopupEntries(""), 0);
    EXPECT_EQ(PopupEntries("|||-|"), 0);
}

}  // namespace
}  // namespace dt::ui
