#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dt {
namespace {

TEST(TextCase, OnlyAsciiLettersChangeCase) {
    EXPECT_EQ(Upper("files_2024.Tmp"), "FILES_2024.TMP");
    EXPECT_EQ(Lower("FILES_2024.Tmp"), "files_2024.tmp");
    // "é" in UTF-8 and a Latin-1 byte: bytes of 0x80 and more are never touched, whatever
    // the process's locale says about them.
    EXPECT_EQ(Upper("caf\xC3\xA9 \xE9"), "CAF\xC3\xA9 \xE9");
    EXPECT_EQ(Lower("CAF\xC3\x89"), "caf\xC3\x89");
    // The letters' neighbours in the code table stay as they are.
    EXPECT_EQ(Upper("@[`{"), "@[`{");
    EXPECT_EQ(Lower("@[`{"), "@[`{");
    EXPECT_EQ(UpperChar('z'), 'Z');
    EXPECT_EQ(LowerChar('A'), 'a');
}

TEST(TextCase, EqualAndCompareIgnoreAsciiCaseOnly) {
    EXPECT_TRUE(EqualNoCase("Server", "sERVER"));
    EXPECT_TRUE(EqualNoCase("", ""));
    EXPECT_FALSE(EqualNoCase("abc", "abcd"));
    EXPECT_FALSE(EqualNoCase("caf\xC3\xA9", "CAF\xC3\x89")) << "no case folding outside ASCII";
    EXPECT_FALSE(EqualNoCase(std::string_view("a\0b", 3), std::string_view("a\0c", 3)))
        << "a NUL is a byte like any other, not the end of the text";

    EXPECT_EQ(CompareNoCase("alpha", "ALPHA"), 0);
    EXPECT_LT(CompareNoCase("alpha", "Beta"), 0);
    EXPECT_GT(CompareNoCase("Beta", "alpha"), 0);
    EXPECT_LT(CompareNoCase("abc", "ABCD"), 0) << "a prefix sorts first";
    EXPECT_GT(CompareNoCase("abcd", "ABC"), 0);
    // '_' lies between the upper and lower case letters: folding to lower case puts it
    // before every letter, as a case-blind order must.
    EXPECT_LT(CompareNoCase("a_b", "aBc"), 0);
    EXPECT_GT(CompareNoCase("\xC3\xA9", "z"), 0) << "bytes of 0x80 and more sort after ASCII";
}

TEST(TextCase, FindStartsAndContains) {
    EXPECT_EQ(FindNoCase("Error %FILE in %file", "%File"), 6u);
    EXPECT_EQ(FindNoCase("Error %FILE in %file", "%File", 7), 15u);
    EXPECT_EQ(FindNoCase("abc", "C", 2), 2u);
    EXPECT_EQ(FindNoCase("abc", "C", 3), std::string_view::npos);
    EXPECT_EQ(FindNoCase("abc", "", 3), 3u) << "an empty part is found where the search starts";
    EXPECT_EQ(FindNoCase("abc", "", 4), std::string_view::npos) << "a start past the end finds nothing";
    EXPECT_EQ(FindNoCase("ab", "abc"), std::string_view::npos);
    EXPECT_EQ(FindNoCase("aab", "AB"), 1u) << "a failed partial match at 0 does not skip the match at 1";

    EXPECT_TRUE(ContainsNoCase("[unixODBC][Driver Manager]Can't open lib 'x'", "can't open LIB"));
    EXPECT_TRUE(ContainsNoCase("PostgreSQL Unicode", "postgresql"));
    EXPECT_FALSE(ContainsNoCase("SQLite", "SQLite3"));

    EXPECT_TRUE(StartsNoCase("NoResultCall proc", "NORESULT"));
    EXPECT_TRUE(StartsNoCase("x", ""));
    EXPECT_FALSE(StartsNoCase("No", "NoResult"));
    EXPECT_FALSE(StartsNoCase(" Call", "call")) << "no blanks are skipped";
}

// Each trim removes its own set of characters; the table shows them side by side on the
// same input, so that a change of one set shows up as a failure of its row.
TEST(TextTrim, EachTrimRemovesItsOwnSetOfCharacters) {
    struct Row {
        const char* name;
        std::string_view (*trim)(std::string_view);
        std::string_view expected;
    };
    const std::string_view text = " \t\r\n\v\fa b\f\v\n\r\t ";
    const Row rows[] = {
        {"Clip", Clip, " \t\r\n\v\fa b\f\v\n\r\t"},
        {"ClipBoth", ClipBoth, "\t\r\n\v\fa b\f\v\n\r\t"},
        {"Trim", Trim, "\r\n\v\fa b\f\v\n\r"},
        {"TrimBlanks", TrimBlanks, "\n\v\fa b\f\v\n"},
        {"TrimSpace", TrimSpace, "a b"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.trim(text), r.expected) << r.name;
        // Inner characters are never touched, and text of blanks only becomes empty.
        EXPECT_EQ(r.trim("a \t b"), "a \t b") << r.name;
        EXPECT_EQ(r.trim("   "), "") << r.name;
        EXPECT_EQ(r.trim(""), "") << r.name;
    }
    // Clip keeps leading blanks: they belong to the value of a padded field.
    EXPECT_EQ(Clip("  name   "), "  name");
    EXPECT_EQ(ClipBoth("  name   "), "name");
    // A byte of 0xA0 (a no-break space in Latin-1, a continuation byte in UTF-8) is text.
    EXPECT_EQ(TrimSpace("\xA0x\xA0"), "\xA0x\xA0");
}

TEST(TextTrim, ResultsAreViewsIntoTheInput) {
    const std::string line = "  key = value \r";
    const std::string_view t = TrimBlanks(line);
    EXPECT_EQ(t, "key = value");
    EXPECT_EQ(t.data(), line.data() + 2);
}

TEST(TextSplit, EveryPieceBetweenSeparatorsEmptyOnesIncluded) {
    using Pieces = std::vector<std::string_view>;
    EXPECT_EQ(Split("a;b c;d", ';'), (Pieces{"a", "b c", "d"}));
    EXPECT_EQ(Split("a;;b", ';'), (Pieces{"a", "", "b"}));
    EXPECT_EQ(Split(";a;", ';'), (Pieces{"", "a", ""})) << "a separator at either end opens an empty piece";
    EXPECT_EQ(Split("", ';'), (Pieces{""}));
    EXPECT_EQ(Split(" x ", ';'), (Pieces{" x "})) << "pieces are not trimmed";
    const std::string list = "one,two";
    EXPECT_EQ(Split(list, ',')[1].data(), list.data() + 4) << "views into the text";
}

TEST(TextCut, NeverSplitsAValidUtf8Character) {
    // "aé" is 61 C3 A9: a cut after 2 bytes would leave half of é.
    EXPECT_EQ(Utf8CutLength("a\xC3\xA9", 2), 1u);
    EXPECT_EQ(Utf8CutLength("a\xC3\xA9", 3), 3u);
    EXPECT_EQ(Utf8CutLength("a\xC3\xA9", 9), 3u) << "a text that fits is kept whole";
    // "€" (E2 82 AC) cut after its first or second byte; "😀" (F0 9F 98 80) after each.
    EXPECT_EQ(Utf8CutLength("x\xE2\x82\xAC", 2), 1u);
    EXPECT_EQ(Utf8CutLength("x\xE2\x82\xAC", 3), 1u);
    for (std::size_t max = 1; max <= 4; ++max)
        EXPECT_EQ(Utf8CutLength("\xF0\x9F\x98\x80!", max), max == 4 ? 4u : 0u) << max;
    EXPECT_EQ(Utf8CutLength("ab", 0), 0u);
}

TEST(TextCut, CutsRawBytesExactlyWhereAsked) {
    // A lone continuation byte is a raw byte.
    EXPECT_EQ(Utf8CutLength("ab\xA9\xA9", 3), 3u);
    // A lead byte whose continuation does not follow is a raw byte.
    EXPECT_EQ(Utf8CutLength("a\xC3x", 2), 2u);
    EXPECT_EQ(Utf8CutLength("a\xE2\x82x", 2), 2u);
    // A sequence that the end of the text cuts off is no character either.
    EXPECT_EQ(Utf8CutLength("a\xE2\x82", 2), 2u);
    // C0 and C1 would only start overlong forms, F5 and above code points past U+10FFFF.
    EXPECT_EQ(Utf8CutLength("a\xC0\x80", 2), 2u);
    EXPECT_EQ(Utf8CutLength("a\xF5\x80\x80\x80", 3), 3u);
    // More than three continuation bytes in a row: at most three are stepped back over.
    EXPECT_EQ(Utf8CutLength("\xE2\x82\x82\x82\x82", 4), 4u);
}

}  // namespace
}  // namespace dt
