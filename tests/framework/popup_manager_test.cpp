// PopupManager: parsing menu text into items, names, prefixes, the built menu text, the
// mapping of a chosen entry back to its item, and items bound to controls.
#include "framework/popup_manager.h"

#include <gtest/gtest.h>

#include "fake_window_port.h"
#include "platform/text.h"

namespace dt {
namespace {

using testing::FakeWindowPort;

class Popup : public ::testing::Test {
  protected:
    FakeWindowPort port;
    PopupManager pm;
    void SetUp() override { pm.Startup(port); }

    struct Seen {
        std::string name, text;
        int depth, disabled, check;
    };
    std::vector<Seen> Items() {
        std::vector<Seen> out;
        for (std::size_t i = 1; i <= pm.GetItems(); ++i) {
            PopupItem it{};
            pm.POPUPITEMS->Peek(i, it);
            out.push_back({it.NAME.Str(), it.TEXT.Str(), it.DEPTH, it.DISABLED, it.CHECK});
        }
        return out;
    }
};

TEST_F(Popup, SubmenuAfterSeparatorMapsFourthEntryToSecondSubItem) {
    EXPECT_EQ(pm.AddMenu("&Insert|&Change|-|&More{&First|&Second}"), 6);
    auto items = Items();
    ASSERT_EQ(items.size(), 6u);
    const char* names[] = {"Insert", "Change", "Separator", "More", "First", "Second"};
    const int depths[] = {1, 1, 1, 1, 2, 2};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(items[i].name, names[i]);
        EXPECT_EQ(items[i].depth, depths[i]);
    }
    EXPECT_EQ(pm.MenuText(), "&Insert|&Change|-|&More{&First|&Second}");
    EXPECT_EQ(pm.ItemOfEntry(3), 5u);
    EXPECT_EQ(pm.ItemOfEntry(5), 0u);
    port.popup_answer = 4;
    EXPECT_EQ(pm.Ask(), "Second");
    EXPECT_EQ(pm.GetLastSelection(), "Second");
    // Cancelling clears the last selection.
    port.popup_answer = 0;
    EXPECT_EQ(pm.Ask(), "");
    EXPECT_EQ(pm.GetLastSelection(), "");
}

TEST_F(Popup, PrefixesAndNames) {
    pm.AddMenu("~+Word|-Off|-|-|-|Go to the Next Record|&Insert|Insert|&&!");
    auto items = Items();
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items[0].name, "Word");
    EXPECT_EQ(items[0].text, "Word");
    EXPECT_EQ(items[0].disabled, 1);
    EXPECT_EQ(items[0].check, 1);
    EXPECT_EQ(items[1].name, "Off");
    EXPECT_EQ(items[1].check, 2);
    EXPECT_EQ(items[2].name, "Separator");
    EXPECT_EQ(items[3].name, "Separator1");
    EXPECT_EQ(items[4].name, "Separator2");
    EXPECT_EQ(items[4].text, "-");
    EXPECT_EQ(items[5].name, "GototheNextRecord");
    EXPECT_EQ(items[6].name, "Insert");
    EXPECT_EQ(items[7].name, "Insert1");
    EXPECT_EQ(items[8].name, "Item");  // no name characters at all
    EXPECT_EQ(pm.MenuText(), "~+Word|-Off|-|-|-|Go to the Next Record|&Insert|Insert|&&!");
    // The disabled item counts as an entry but is never chosen.
    port.popup_answer = 1;
    EXPECT_EQ(pm.Ask(), "");
    port.popup_answer = 2;
    EXPECT_EQ(pm.Ask(), "Off");
}

TEST_F(Popup, InsertionAfterAnItemAndDepths) {
    pm.AddMenu("A|B{C|D}|E");
    // Into the submenu: after D, at D's depth.
    EXPECT_EQ(pm.AddMenu("X|Y", 4), 2);
    EXPECT_EQ(pm.MenuText(), "A|B{C|D|X|Y}E");
    // AddItem: depth 0 takes the depth of the item at the insertion point.
    EXPECT_EQ(pm.AddItem("Z", 3), "Z");
    EXPECT_EQ(pm.ItemExists("Z"), 4u);
    EXPECT_EQ(Items()[3].depth, 2);
    pm.AddItem("Top", 0, 1);
    EXPECT_EQ(pm.ItemExists("Top"), pm.GetItems());
    pm.DeleteItem("X");
    pm.DeleteItem("nothing");
    EXPECT_EQ(pm.MenuText(), "A|B{C|Z|D|Y}E|Top");
    // after 0 replaces everything.
    pm.AddSubMenu("Sort  ", "By Name|By Size  ");
    EXPECT_EQ(pm.MenuText(), "Sort{By Name|By Size}");
    EXPECT_EQ(pm.GetItems(), 3u);
}

TEST_F(Popup, DeepDropsCloseEveryLevelAndRoundTrip) {
    const std::string text = "A{B{C|D}}E|F{G}";
    pm.AddMenu(text);
    EXPECT_EQ(pm.MenuText(), text);
    auto first = Items();
    pm.AddMenu(pm.MenuText());
    auto second = Items();
    ASSERT_EQ(first.size(), second.size());
    for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i].depth, second[i].depth);
    // Selectable: C, D, E, G (A, B and F open submenus).
    EXPECT_EQ(pm.ItemOfEntry(3), pm.ItemExists("E"));
    EXPECT_EQ(pm.ItemOfEntry(4), pm.ItemExists("G"));
}

TEST_F(Popup, MimicFollowsTheControlAndPressesIt) {
    port.Add(7, 9, {0, 0, 40, 14});
    port.controls[7].text = "&Delete";
    port.controls[7].disabled = true;
    port.controls[7].icon = "scan";
    EXPECT_EQ(pm.AddItemMimic("!&Remove", 7), "Remove");
    pm.AddItem("-");
    pm.AddItemEvent("Refresh", 0x100 + 5, 0);  // a window event, no control
    EXPECT_EQ(pm.MenuText(), "~[scan]&Delete|-|Refresh");
    port.popup_answer = 1;
    EXPECT_EQ(pm.Ask(), "");
    EXPECT_TRUE(port.posted.empty());
    // The item follows the control's state at every menu.
    port.controls[7].disabled = false;
    pm.CLEARKEYCODE = 1;
    port.keycode = 2;
    EXPECT_EQ(pm.Ask(), "Remove");
    ASSERT_EQ(port.posted.size(), 1u);
    EXPECT_EQ(port.posted[0].first, Event::Accepted);
    EXPECT_EQ(port.posted[0].second, 7);
    EXPECT_EQ(port.keycode, 0);
    // An explicit state wins over the control's.
    pm.SetItemEnable("Remove", false);
    EXPECT_EQ(pm.MenuText().substr(0, 1), "~");
    pm.SetItemEnable("Separator", false);
    EXPECT_EQ(Items()[1].disabled, 0);
    // An event item posts its event.
    port.popup_answer = 2;
    EXPECT_EQ(pm.Ask(), "Refresh");
    ASSERT_EQ(port.posted.size(), 2u);
    EXPECT_EQ(int(port.posted[1].first), 0x105);
}

TEST_F(Popup, StructureCharactersInTextsDoNotShiftEntries) {
    port.Add(3, 9, {0, 0, 40, 14});
    port.controls[3].text = "Save|As{x}";
    pm.AddItemMimic("!", 3);
    pm.AddItem("Last");
    EXPECT_EQ(pm.MenuText(), "SaveAsx|Last");
    port.popup_answer = 2;
    EXPECT_EQ(pm.Ask(), "Last");
}

TEST_F(Popup, TranslatorTranslatesTexts) {
    struct Upper : TranslatorInterface {
        std::string TranslateString(std::string_view t) override { return dt::Upper(t); }
        void TranslateWindow(WindowPort&) override {}
    } upper;
    pm.TRANSLATOR = &upper;
    pm.AddMenu("open|-|close");
    EXPECT_EQ(pm.MenuText(), "OPEN|-|CLOSE");
}

}  // namespace
}  // namespace dt
