// Building a window's widgets: every control kind gets the widget (or menu action, or tab)
// of its kind, and the control properties kept both in the control's state and in its
// widget agree whether they were set before the widgets existed or after.
#include "runtime/queue.h"
#include "tests/ui/gui_support.h"
#include "ui/list_source.h"

namespace dt::ui {
namespace {

using test::NextReal;
using test::RunApp;

#pragma pack(push, 1)
struct Row {
    CSTRING<16> TEXT;
};
#pragma pack(pop)

ControlDef Kind(ControlType type, std::string text, Rect at) {
    ControlDef c;
    c.type = type;
    c.text = std::move(text);
    c.at = at;
    return c;
}

// One control of each kind the layer knows (a kind added to ControlType belongs here too).
// Each is read back through its widget: a kind without a widget maker reads as empty text
// at no place.
TEST(WindowBuild, EveryControlKindGetsTheWidgetOfItsKind) {
    RunApp([] {
        Queue<Row> q;
        for (const char* t : {"first", "second"}) {
            q.TEXT = t;
            q.Add();
        }
        WindowDef d;
        d.at = {0, 0, 300, 200};
        int menu = d.Add(MenuDef("&Tools"));
        int item = d.Add(ItemDef("&Run", menu));
        d.Add(SeparatorDef(menu));
        int after_separator = d.Add(ItemDef("&Stop", menu));
        // Controls with text, read back from their widgets.
        struct Shown {
            int field;
            std::string text;
        };
        std::vector<Shown> texts = {
            {d.Add(Kind(ControlType::Text, "two\nlines", {4, 4, 60, 20})), "two\nlines"},
            {d.Add(Kind(ControlType::Entry, "typed", {70, 4, 50, 11})), "typed"},
            {d.Add(Kind(ControlType::Button, "Press", {124, 4, 40, 14})), "Press"},
            {d.Add(Kind(ControlType::Prompt, "Name:", {168, 4, 30, 10})), "Name:"},
            {d.Add(Kind(ControlType::Check, "check", {200, 4, 40, 11})), "check"},
            {d.Add(Kind(ControlType::Group, "group", {4, 28, 80, 40})), "group"},
            {d.Add(Kind(ControlType::Spin, "7", {90, 28, 30, 11})), "7"},
            {d.Add(Kind(ControlType::Radio, "radio", {124, 28, 40, 14})), "radio"},
            {d.Add(Kind(ControlType::String, "shown", {168, 28, 40, 10})), "shown"},
        };
        ControlDef combo = ListDef("60L~Text~@s16@", MakeQueueSource(q, &Row::TEXT), {4, 72, 80, 12});
        combo.type = ControlType::Combo;
        int combo_field = d.Add(combo);
        int list = d.Add(ListDef("60L~Text~@s16@", MakeQueueSource(q, &Row::TEXT), {90, 72, 80, 40}));
        int sheet = d.Add(SheetDef({4, 116, 120, 50}));
        int tab = d.Add(TabDef("Page", sheet));
        int region = d.Add(Kind(ControlType::Region, "", {130, 116, 30, 20}));
        int image = d.Add(Kind(ControlType::Image, "", {164, 116, 20, 20}));
        int panel = d.Add(PanelDef({190, 116, 40, 20}));

        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Display();
        ASSERT_TRUE(testing::HasWidgets(w));
        EXPECT_EQ(testing::ControlText(w, menu), "&Tools");
        EXPECT_EQ(testing::ControlText(w, item), "&Run");
        EXPECT_EQ(testing::ControlText(w, after_separator), "&Stop");
        EXPECT_EQ(testing::ControlText(w, tab), "Page");
        for (const Shown& s : texts)
            EXPECT_EQ(testing::ControlText(w, s.field), s.text) << static_cast<int>(w.Type(s.field));
        EXPECT_EQ(testing::ControlText(w, combo_field), "first");
        EXPECT_EQ(testing::ListRowCount(w, combo_field), 2u);
        EXPECT_EQ(testing::ControlText(w, list), "first");
        EXPECT_EQ(w.SelectedTab(sheet), tab);

        // Every control that is a widget sits where its dialog units say.
        const int dux = testing::DialogUnitX1000(w), duy = testing::DialogUnitY1000(w);
        std::vector<int> widgets = {combo_field, list, sheet, region, image, panel};
        for (const Shown& s : texts) widgets.push_back(s.field);
        for (int f : widgets) {
            const Rect du = w.GetPosition(f);
            const Rect px = testing::PixelRect(w, f);
            EXPECT_NEAR(px.x, du.x * dux / 1000.0, 1.0) << "field " << f;
            EXPECT_NEAR(px.y, du.y * duy / 1000.0, 1.0) << "field " << f;
            EXPECT_NEAR(px.w, du.w * dux / 1000.0, 1.0) << "field " << f;
            EXPECT_GT(px.h, 0) << "field " << f;
        }

        // The widgets give their kind's events.
        const int radio = texts[7].field;
        ASSERT_TRUE(testing::Click(w, radio));
        ASSERT_EQ(NextReal(w), Event::Accepted);
        EXPECT_EQ(w.Field(), radio);
        EXPECT_TRUE(w.Checked(radio));
        ASSERT_TRUE(testing::Click(w, after_separator));
        ASSERT_EQ(NextReal(w), Event::Accepted);
        EXPECT_EQ(w.Field(), after_separator);
        w.Close();
    });
}

// Properties set while the window has no widgets are what the widgets are built with;
// set afterwards they reach the widgets; either way the window reads them back.
TEST(WindowBuild, ControlPropertiesAgreeBeforeAndAfterTheWidgetsExist) {
    RunApp([] {
        Queue<Row> q;
        for (const char* t : {"first", "second", "third"}) {
            q.TEXT = t;
            q.Add();
        }
        WindowDef d;
        int list = d.Add(ListDef("60L~Text~@s16@", MakeQueueSource(q, &Row::TEXT), {4, 4, 80, 40}));
        int check = d.Add(Kind(ControlType::Check, "check", {90, 4, 40, 11}));
        int button = d.Add(ButtonDef("Press", {90, 20, 40, 14}));
        int label = d.Add(StringDef("label", {90, 38, 60, 10}));
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Hide();
        w.SetChoice(list, 3);
        w.SetChecked(check, true);
        w.Disable(button);
        w.Hide(label);
        w.SetText(label, "changed");
        w.SetImm(list, true);
        w.SetDrop(list, 0);
        w.SetNoWidth(label, true);
        w.SetIcon(button, "GO.ICO");
        w.MarkTouched(list);
        EXPECT_EQ(w.Choice(list), 3);
        EXPECT_TRUE(w.Checked(check));
        EXPECT_TRUE(w.Disabled(button));
        EXPECT_TRUE(w.Hidden(label));
        EXPECT_TRUE(w.Imm(list));
        EXPECT_FALSE(w.Imm(0));
        EXPECT_TRUE(w.NoWidth(label));
        EXPECT_EQ(w.Icon(button), "GO.ICO");
        EXPECT_FALSE(testing::HasWidgets(w));

        w.Unhide();
        ASSERT_TRUE(testing::HasWidgets(w));
        EXPECT_EQ(w.Choice(list), 3);  // read from the list's widget now
        EXPECT_EQ(testing::ControlText(w, list), "third");
        EXPECT_TRUE(w.Checked(check));
        EXPECT_FALSE(testing::Click(w, button)) << "disabled";
        EXPECT_EQ(testing::ControlText(w, label), "changed");

        w.SetChoice(list, 1);
        w.SetChecked(check, false);
        w.Enable(button);
        w.Unhide(label);
        w.SetText(label, "again");
        EXPECT_EQ(w.Choice(list), 1);
        EXPECT_EQ(testing::ControlText(w, list), "first");
        EXPECT_FALSE(w.Checked(check));
        EXPECT_FALSE(w.Disabled(button));
        EXPECT_FALSE(w.Hidden(label));
        EXPECT_EQ(testing::ControlText(w, label), "again");
        ASSERT_TRUE(testing::Click(w, button));
        ASSERT_EQ(NextReal(w), Event::Accepted);
        EXPECT_EQ(w.Field(), button);

        // A field that does not exist reads as nothing and takes nothing.
        for (int none : {-1, 99}) {
            w.SetChecked(none, true);
            w.SetChoice(none, 2);
            w.Disable(none);
            EXPECT_FALSE(w.Checked(none));
            EXPECT_EQ(w.Choice(none), 0);
            EXPECT_FALSE(w.Disabled(none));
            EXPECT_EQ(w.Type(none), ControlType::None);
            EXPECT_EQ(w.Icon(none), "");
        }
        w.Close();
    });
}

}  // namespace
}  // namespace dt::ui
