// Control characters in names: the text rule itself, and what list boxes, labels,
// read-only entries and text controls really display (offscreen), while the program
// still reads back the text it gave.
#include "ui/src/visible_text.h"

#include <gtest/gtest.h>

#include "runtime/queue.h"
#include "tests/ui/gui_support.h"
#include "ui/list_source.h"
#include "ui/testing.h"

namespace dt::ui {
namespace {

using detail::VisibleText;

TEST(VisibleText, ControlCharactersBecomeSymbols) {
    EXPECT_EQ(VisibleText("plain name.txt"), "plain name.txt");
    EXPECT_EQ(VisibleText("a\tb\nc\rd"), "a\u2409b\u240Ac\u240Dd");
    EXPECT_EQ(VisibleText(std::string("\x00\x1b[31m", 6)), "\u2400\u241B[31m");
    EXPECT_EQ(VisibleText("x\x7Fy"), "x\u2421y");
    EXPECT_EQ(VisibleText("\x1f"), "\u241F");
    // C1 controls, separators and direction overrides would reorder or break the line.
    EXPECT_EQ(VisibleText("a\u0085b\u009Fc"), "a\uFFFDb\uFFFDc");
    EXPECT_EQ(VisibleText("invoice\u202Efdp.exe"), "invoice\uFFFDfdp.exe");
    EXPECT_EQ(VisibleText("l\u2028p\u2029m\u200Fi\u2066j\u2069k\u061C"),
              "l\uFFFDp\uFFFDm\uFFFDi\uFFFDj\uFFFDk\uFFFD");
    // Neighbours of those ranges stay as they are.
    EXPECT_EQ(VisibleText("\u00A0\u00E9\u2027\u202F\u2065\u206A\u2010"),
              "\u00A0\u00E9\u2027\u202F\u2065\u206A\u2010");
    // Bytes that are no UTF-8, and a cut sequence at the end, are left alone.
    EXPECT_EQ(VisibleText("\xff\xfe\xc2"), "\xff\xfe\xc2");
    EXPECT_EQ(VisibleText("\xe2\x80"), "\xe2\x80");
}

TEST(VisibleText, MultiLineTextKeepsItsLineBreaks) {
    EXPECT_EQ(VisibleText("one\ntwo\r\nthree\rx\t", true), "one\ntwo\r\nthree\u240Dx\u2409");
}

#pragma pack(push, 1)
struct Name {
    CSTRING<64> TEXT;
};
#pragma pack(pop)

TEST(VisibleTextWindow, NamesShowTheirControlCharactersAsSymbols) {
    test::RunApp([] {
        const std::string name = "evil\tname\n\x1b[31mred\u202Etxt.exe";
        const std::string shown = "evil\u2409name\u240A\u241B[31mred\uFFFDtxt.exe";
        Queue<Name> q;
        q.TEXT = name;
        q.Add();
        q.TEXT = "plain.txt";
        q.Add();
        CSTRING<64> entry_value(name);
        WindowDef d;
        const int list = d.Add(ListDef("120L~Name~@s64@", MakeQueueSource(q, &Name::TEXT), {2, 2, 200, 60}));
        const int label = d.Add(StringDef("", {2, 70, 200, 10}));
        ControlDef ro = EntryDef("@s64", Use(entry_value), {2, 84, 200, 12});
        ro.read_only = true;
        const int entry = d.Add(ro);
        const int text = d.Add(TextDef("", {2, 100, 200, 40}));
        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.SetText(label, name);
        w.SetText(text, "first line\n" + name);
        w.Display();
        EXPECT_EQ(testing::DisplayedText(w, list, 1), shown);
        EXPECT_EQ(testing::DisplayedText(w, list, 2), "plain.txt");
        EXPECT_EQ(testing::DisplayedText(w, label), shown);
        EXPECT_EQ(testing::DisplayedText(w, entry), shown);
        // A multi-line text control keeps line feeds as lines; everything else shows.
        EXPECT_EQ(testing::DisplayedText(w, text), "first line\nevil\u2409name\n\u241B[31mred\uFFFDtxt.exe");
        // The program reads back what it gave, not the symbols.
        EXPECT_EQ(testing::ControlText(w, label), name);
        EXPECT_EQ(testing::ControlText(w, entry), name);
        EXPECT_EQ(testing::ControlText(w, text), "first line\n" + name);
        EXPECT_EQ(testing::ListRows(w, list, 1, 1).at(0), name);
        // A name without control characters shows as it is.
        w.SetText(label, "ordinary");
        EXPECT_EQ(testing::DisplayedText(w, label), "ordinary");
        EXPECT_EQ(testing::ControlText(w, label), "ordinary");
    });
}

}  // namespace
}  // namespace dt::ui
