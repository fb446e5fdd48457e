#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

namespace dt::platform {
namespace {

using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFile;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(Profile, ReadFollowsThePrivateProfileRules) {
    TempDir dir;
    std::string f = dir / "settings.ini";
    WriteFile(f,
              "; leading comment\n"
              "orphan=before any section\n"
              "[Database]\n"
              "  Server  =  db1  \n"
              "quoted=\"  padded  \"\n"
              "single='x'\n"
              "empty=\n"
              "garbage line without equals\n"
              "[database]\n"
              "server=second section ignored\n"
              "[broken\n"
              "k=v\n");
    // Section and key names ignore case; surrounding blanks go; the first match wins.
    EXPECT_EQ(ReadProfileString(f, "DATABASE", "server", "def"), "db1");
    EXPECT_EQ(ReadProfileString(f, "database", "QUOTED", "def"), "  padded  ");
    EXPECT_EQ(ReadProfileString(f, "database", "single", "def"), "x");
    // Present but empty is not missing.
    EXPECT_EQ(ReadProfileString(f, "database", "empty", "def"), "");
    EXPECT_EQ(LookupProfileString(f, "database", "empty"), std::optional<std::string>(""));
    // Missing key, missing section, key outside any section, a garbage line: defaults.
    EXPECT_EQ(ReadProfileString(f, "database", "user", "sa"), "sa");
    EXPECT_EQ(ReadProfileString(f, "nosuch", "server", "Server"), "Server");
    EXPECT_EQ(ReadProfileString(f, "database", "orphan", "d"), "d");
    EXPECT_EQ(ReadProfileString(f, "database", "garbage line without equals", "d"), "d");
    EXPECT_EQ(LookupProfileString(f, "database", "user"), std::nullopt);
    // A header without its closing bracket still opens a section.
    EXPECT_EQ(ReadProfileString(f, "broken", "k", "d"), "v");
    // No file at all, or a directory in place of the file.
    EXPECT_EQ(ReadProfileString(dir / "missing.ini", "database", "server", "Server"), "Server");
    EXPECT_EQ(ReadProfileString(dir.path() + "/", "database", "server", "Server"), "Server");
}

TEST(Profile, ValuesAndDefaultsAreCutToTheCallersSize) {
    TempDir dir;
    std::string f = dir / "a.ini";
    ASSERT_TRUE(WriteProfileString(f, "s", "k", "abcdefghij"));
    EXPECT_EQ(ReadProfileString(f, "s", "k", "", 4), "abcd");
    EXPECT_EQ(ReadProfileString(f, "s", "missing", "0123456789", 3), "012");
    EXPECT_EQ(ReadProfileString(f, "s", "k", "", 0), "abcdefghij");
    // A cut never ends inside a UTF-8 character ("é" is two bytes).
    ASSERT_TRUE(WriteProfileString(f, "s", "u", "ab\xC3\xA9z"));
    EXPECT_EQ(ReadProfileString(f, "s", "u", "", 3), "ab");
    EXPECT_EQ(ReadProfileString(f, "s", "u", "", 4), "ab\xC3\xA9");
    // A very long line is read whole.
    std::string big(100000, 'x');
    ASSERT_TRUE(WriteProfileString(f, "s", "big", big));
    EXPECT_EQ(ReadProfileString(f, "s", "big", ""), big);
}

TEST(Profile, WriteKeepsEveryOtherLine) {
    TempDir dir;
    std::string f = dir / "keep.ini";
    WriteFile(f,
              "; settings\n"
              "[database]\n"
              "Server=old\n"
              "user=sa   ; not a comment, part of the value\n"
              "\n"
              "[List]\n"
              "W1=10\n");
    ASSERT_TRUE(WriteProfileString(f, "DATABASE", "SERVER", "new"));
    ASSERT_TRUE(WriteProfileString(f, "database", "pass", "secret"));
    ASSERT_TRUE(WriteProfileString(f, "scan", "roots", "/a;/b"));
    EXPECT_EQ(ReadFile(f),
              "; settings\n"
              "[database]\n"
              "Server=new\n"
              "user=sa   ; not a comment, part of the value\n"
              "pass=secret\n"
              "\n"
              "[List]\n"
              "W1=10\n"
              "[scan]\n"
              "roots=/a;/b\n");
    // Windows line endings stay Windows line endings.
    std::string g = dir / "crlf.ini";
    WriteFile(g, "[a]\r\nx=1\r\n");
    ASSERT_TRUE(WriteProfileString(g, "a", "x", "2"));
    ASSERT_TRUE(WriteProfileString(g, "a", "y", "3"));
    EXPECT_EQ(ReadFile(g), "[a]\r\nx=2\r\ny=3\r\n");
    // A file without a final newline gets its new key on a line of its own.
    std::string h = dir / "nonl.ini";
    WriteFile(h, "[a]\nx=1");
    ASSERT_TRUE(WriteProfileString(h, "a", "y", "2"));
    EXPECT_EQ(ReadFile(h), "[a]\nx=1\ny=2\n");
}

TEST(Profile, DeleteRemovesOnlyTheKeysLine) {
    TempDir dir;
    std::string f = dir / "del.ini";
    WriteFile(f, "[scan]\nROOTS=/a\nexclude=*.tmp\n[other]\nroots=/b\n");
    ASSERT_TRUE(DeleteProfileKey(f, "Scan", "roots"));
    EXPECT_EQ(ReadFile(f), "[scan]\nexclude=*.tmp\n[other]\nroots=/b\n");
    EXPECT_EQ(LookupProfileString(f, "scan", "roots"), std::nullopt);
    // Nothing to remove: the file stays as it is, and no file is made.
    ASSERT_TRUE(DeleteProfileKey(f, "scan", "roots"));
    ASSERT_TRUE(DeleteProfileKey(f, "nowhere", "x"));
    EXPECT_EQ(ReadFile(f), "[scan]\nexclude=*.tmp\n[other]\nroots=/b\n");
    ASSERT_TRUE(DeleteProfileKey(dir / "none.ini", "scan", "roots"));
    EXPECT_FALSE(std::filesystem::exists(dir / "none.ini"));
}

TEST(Profile, ValuesRoundTripExactly) {
    TempDir dir;
    std::string f = dir / "rt.ini";
    for (std::string v : {"plain", "", "  lead and trail  ", "\"quoted\"", "'single'", "a=b;c",
                          "[not a section]", "\"unbalanced", "x\"y\"z"}) {
        ASSERT_TRUE(WriteProfileString(f, "s", "k", v)) << v;
        EXPECT_EQ(LookupProfileString(f, "s", "k"), std::optional<std::string>(v)) << v;
    }
}

TEST(Profile, WritesThatWouldForgeOtherLinesAreRefused) {
    TempDir dir;
    std::string f = dir / "inj.ini";
    ASSERT_TRUE(WriteProfileString(f, "database", "pass", "ok"));
    const std::string before = ReadFile(f);
    EXPECT_FALSE(WriteProfileString(f, "database", "pass", "x\n[database]\nserver=evil"));
    EXPECT_FALSE(WriteProfileString(f, "database", "pass", "x\rserver=evil"));
    EXPECT_FALSE(WriteProfileString(f, "data]base", "k", "v"));
    EXPECT_FALSE(WriteProfileString(f, "database", "server=evil", "v"));
    EXPECT_FALSE(WriteProfileString(f, "database", "", "v"));
    EXPECT_FALSE(WriteProfileString(f, "", "k", "v"));
    EXPECT_EQ(ReadFile(f), before);
}

TEST(Profile, NewFilesArePrivateAndExistingFilesKeepTheirMode) {
    TempDir dir;
    // A write creates the missing directories and a file only its owner may read.
    std::string f = dir / "deep/er/new.ini";
    ASSERT_TRUE(WriteProfileString(f, "database", "pass", "pw"));
    EXPECT_EQ(ModeOf(f), 0600u);
    EXPECT_EQ(ReadProfileString(f, "database", "pass", ""), "pw");

    std::string g = dir / "shared.ini";
    WriteFile(g, "[a]\nx=1\n");
    ASSERT_EQ(::chmod(g.c_str(), 0644), 0);
    ASSERT_TRUE(WriteProfileString(g, "a", "x", "2"));
    EXPECT_EQ(ModeOf(g), 0644u);

    // The temporary file is renamed over the old one: nothing else is left behind.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"deep", "shared.ini"}));
}

TEST(Profile, ADirectoryWhereTheFileShouldBeIsLeftAsItIs) {
    TempDir dir;
    std::filesystem::create_directories(dir / "isdir.ini/inner");
    EXPECT_FALSE(WriteProfileString(dir / "isdir.ini", "a", "x", "1"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "isdir.ini/inner"));
}

TEST(Profile, AFileThatCannotBeReadIsNeverReplaced) {
    if (test::RunningAsRoot()) GTEST_SKIP() << test::kNeedsOrdinaryUser;
    TempDir dir;
    std::string f = dir / "locked.ini";
    WriteFile(f, "[a]\nx=1\n");
    ASSERT_EQ(::chmod(f.c_str(), 0200), 0);
    EXPECT_FALSE(WriteProfileString(f, "a", "y", "2"));
    ASSERT_EQ(::chmod(f.c_str(), 0600), 0);
    EXPECT_EQ(ReadFile(f), "[a]\nx=1\n");
}

TEST(Profile, WriteThroughASymbolicLinkUpdatesItsTarget) {
    TempDir dir;
    std::string target = dir / "real.ini";
    std::string link = dir / "link.ini";
    WriteFile(target, "[a]\nx=1\n");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WriteProfileString(link, "a", "x", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "[a]\nx=2\n");
}

TEST(Profile, ConcurrentWritersLoseNoKey) {
    TempDir dir;
    std::string f = dir / "mt.ini";
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&f, t] {
            for (int i = 0; i < 25; ++i) {
                WriteProfileString(f, "s" + std::to_string(t), "k" + std::to_string(i), std::to_string(i));
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 25; ++i) {
            EXPECT_EQ(ReadProfileString(f, "s" + std::to_string(t), "k" + std::to_string(i), "missing"),
                      std::to_string(i));
        }
    }
}

TEST(Profile, SystemProfileAndBareNames) {
    TempDir dir;
    {
        ScopedEnv p("DRIVETREK_PROFILE", nullptr);
        ScopedEnv x("XDG_CONFIG_HOME", dir.path().c_str());
        EXPECT_EQ(SystemProfilePath(), dir / "drivetrek/win.ini");
        ScopedEnv rel("XDG_CONFIG_HOME", "relative/ignored");
        ScopedEnv h("HOME", dir.path().c_str());
        EXPECT_EQ(SystemProfilePath(), dir / ".config/drivetrek/win.ini");
    }
    ScopedEnv p("DRIVETREK_PROFILE", (dir / "sys/win.ini").c_str());
    EXPECT_EQ(SystemProfilePath(), dir / "sys/win.ini");
    // An empty name is the system profile; a bare name lives beside it.
    ASSERT_TRUE(WriteProfileString("", "intl", "sLanguage", "enu"));
    EXPECT_EQ(ReadProfileString(dir / "sys/win.ini", "INTL", "slanguage", ""), "enu");
    ASSERT_TRUE(WriteProfileString("other.ini", "a", "b", "c"));
    EXPECT_EQ(ReadProfileString(dir / "sys/other.ini", "a", "b", ""), "c");
}

}  // namespace
}  // namespace dt::platform
