// The scan's exclusions: the two wild cards and what they never match ("/", case, bytes
// beyond the one "?" stands for), every other byte taken as itself, the parsing of a
// [scan] exclude value, base-name and whole-path patterns, directory-only patterns, and
// the directories above a path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/exclude.h"
#include "tests/support/temp_dir.h"

namespace dt {
namespace {

TEST(WildMatch, StarAndQuestionMarkNeverCrossASlashAndEveryOtherByteIsItself) {
    struct Case {
        const char* pattern;
        const char* text;
        bool match;
    };
    const std::vector<Case> cases = {
        {"*.tmp", "a.tmp", true},
        {"*.tmp", "a.tmp.x", false},
        {"*", "", true},
        {"?", "", false},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        // Neither wild card takes a "/".
        {"a*c", "a/c", false},
        {"a?c", "a/c", false},
        {"*/*", "a/b", true},
        {"*", "a/b", false},
        {"/home/*/.cache", "/home/u/.cache", true},
        {"/home/*/.cache", "/home/u/v/.cache", false},
        {"/home/*", "/home/u/v", false},
        {"*/b", "/b", true},
        // Backtracking: the last star takes more when the rest fails.
        {"*a*b", "xaxxab", true},
        {"a*b*c", "abbbc", true},
        {"*ab", "aab", true},
        {"a*a", "a", false},
        {"**x", "yx", true},
        // No classes and no escapes: "[", "]" and "\" match themselves.
        {"[ab]", "a", false},
        {"[ab]", "[ab]", true},
        {"a\\*", "a\\bc", true},
        {"a\\*", "a*", false},
        // Case-sensitive, byte by byte: "?" is one byte, not one character.
        {"*.TMP", "a.tmp", false},
        {"?", "\xc3\xa9", false},
        {"??", "\xc3\xa9", true},
        // A leading dot is an ordinary byte.
        {"*", ".cache", true},
        {"*rc", ".bashrc", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WildMatch(c.pattern, c.text), c.match) << c.pattern << " against " << c.text;
}

TEST(Exclusions, PatternsAreSplitTrimmedAndMatchBaseNamesOrWholePaths) {
    const Exclusions ex(" *.tmp ;\t; node_modules;;/srv/cache/ ;build/ ;src/gen; / ");
    EXPECT_EQ(ex.Patterns(),
              (std::vector<std::string>{"*.tmp", "node_modules", "/srv/cache/", "build/", "src/gen"}));
    EXPECT_TRUE(Exclusions("").Empty());
    EXPECT_TRUE(Exclusions(" ; / ;; ").Empty()) << "blank parts and a lone / are no patterns";

    // A base-name pattern matches files and directories anywhere.
    EXPECT_TRUE(ex.ExcludesEntry("/a/", "x.tmp", false));
    EXPECT_TRUE(ex.ExcludesEntry("/a/b/", "x.tmp", true));
    EXPECT_TRUE(ex.ExcludesEntry("/p/q/", "node_modules", true));
    EXPECT_FALSE(ex.ExcludesEntry("/p/", "node_modules2", true));
    EXPECT_FALSE(ex.ExcludesEntry("/p/", "x.tmp ", false)) << "blanks in a name are bytes like others";
    // A closing "/" limits a pattern to directories, and does not make it a path.
    EXPECT_TRUE(ex.ExcludesEntry("/any/where/", "build", true));
    EXPECT_FALSE(ex.ExcludesEntry("/any/where/", "build", false));
    // A pattern with "/" is the whole path from the root.
    EXPECT_TRUE(ex.ExcludesEntry("/srv/", "cache", true));
    EXPECT_FALSE(ex.ExcludesEntry("/srv/", "cache", false));
    EXPECT_FALSE(ex.ExcludesEntry("/x/srv/", "cache", true));
    EXPECT_FALSE(ex.ExcludesEntry("/src/", "gen", true)) << "a relative path never matches";
}

TEST(Exclusions, APathIsExcludedWhenItOrADirectoryAboveItIs) {
    const Exclusions ex("node_modules;/home/*/.cache;*.o");
    EXPECT_TRUE(ex.ExcludesPath("/p/node_modules/x/y.js", false));
    EXPECT_TRUE(ex.ExcludesPath("/p/node_modules/", true));
    EXPECT_TRUE(ex.ExcludesPath("/p/node_modules", true));
    EXPECT_TRUE(ex.ExcludesPath("/home/u/.cache/f", false));
    EXPECT_TRUE(ex.ExcludesPath("/p/q/main.o", false));
    EXPECT_FALSE(ex.ExcludesPath("/home/u/.cachex/f", false));
    EXPECT_FALSE(ex.ExcludesPath("/home/.cache/f", false));
    EXPECT_FALSE(ex.ExcludesPath("/p/q/main.c", false));
    // A directory named like a file pattern is out too (the pattern has no closing "/").
    EXPECT_TRUE(ex.ExcludesPath("/p/lib.o/inner.c", false));
    // The root has no name: even "*" leaves it in, and everything below it out.
    const Exclusions all("*");
    EXPECT_FALSE(all.ExcludesPath("/", true));
    EXPECT_TRUE(all.ExcludesPath("/a/", true));
}

TEST(Exclusions, TheSettingIsReadFromSectionScan) {
    test::TempDir dir("dt-exclude-");
    const std::string ini = dir.path() + "/drivetrek.ini";
    test::WriteFile(ini, "[scan]\nroots=/tmp/\nexclude= *.tmp;node_modules \n[options]\nexclude=no\n");
    EXPECT_EQ(ExcludeSetting(ini), "*.tmp;node_modules");
    EXPECT_EQ(ExcludeSetting(dir.path() + "/missing.ini"), "");
}

}  // namespace
}  // namespace dt
