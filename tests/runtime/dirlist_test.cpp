#include "runtime/dirlist.h"
#include "runtime/stddate.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

namespace dt {
namespace {

namespace fs = std::filesystem;

TEST(DirNames, WildCards) {
    EXPECT_TRUE(DirNameMatches("*.*", "noextension")) << "*.* means every entry";
    EXPECT_TRUE(DirNameMatches("*.*", "."));
    EXPECT_TRUE(DirNameMatches("*", ".hidden")) << "a leading dot is no special case";
    EXPECT_TRUE(DirNameMatches("*.txt", "a.b.txt"));
    EXPECT_FALSE(DirNameMatches("*.txt", "a.txt.bak"));
    EXPECT_FALSE(DirNameMatches("*.TXT", "a.txt")) << "names are case-sensitive here";
    EXPECT_TRUE(DirNameMatches("a?c", "abc"));
    EXPECT_FALSE(DirNameMatches("a?c", "ac"));
    EXPECT_TRUE(DirNameMatches("*a*b*", "xxaxxbxx"));
    EXPECT_FALSE(DirNameMatches("*a*b", "xxaxxbxc"));
    EXPECT_TRUE(DirNameMatches("[ab]", "[ab]")) << "brackets match themselves";
    EXPECT_FALSE(DirNameMatches("[ab]", "a"));
    EXPECT_TRUE(DirNameMatches("back\\slash", "back\\slash"));
    EXPECT_FALSE(DirNameMatches("", "a"));
    // Many stars against a long non-matching name finish at once.
    EXPECT_FALSE(DirNameMatches("*a*a*a*a*a*a*a*a*b", std::string(200, 'a')));
}

TEST(DirNames, Admission) {
    const BYTE file = kAttrArchive, ro = kAttrArchive | kAttrReadOnly, dir = kAttrDirectory;
    const BYTE hidden_file = kAttrArchive | kAttrHidden, hidden_dir = kAttrDirectory | kAttrHidden;
    const BYTE system_file = kAttrArchive | kAttrSystem;
    // Mask 0: plain files only, read-only and archive ones included.
    EXPECT_TRUE(DirEntryAdmitted(file, 0));
    EXPECT_TRUE(DirEntryAdmitted(ro, 0));
    EXPECT_FALSE(DirEntryAdmitted(dir, 0));
    EXPECT_FALSE(DirEntryAdmitted(hidden_file, 0));
    EXPECT_FALSE(DirEntryAdmitted(system_file, 0));
    // Mask 16: directories, hidden ones too; hidden or system files stay out.
    EXPECT_TRUE(DirEntryAdmitted(dir, 16));
    EXPECT_TRUE(DirEntryAdmitted(hidden_dir, 16));
    EXPECT_TRUE(DirEntryAdmitted(file, 16));
    EXPECT_FALSE(DirEntryAdmitted(hidden_file, 16));
    EXPECT_FALSE(DirEntryAdmitted(system_file, 16));
    // Mask 23 admits everything; the archive and read-only bits of a mask do not count.
    for (BYTE a : {file, ro, dir, hidden_file, hidden_dir, system_file}) EXPECT_TRUE(DirEntryAdmitted(a, 23));
    EXPECT_FALSE(DirEntryAdmitted(hidden_file, kAttrArchive | kAttrReadOnly));
}

// A temporary tree:
//   a.txt (5 bytes)  readonly.txt (0444)  .hidden  sub/  .hdir/  link -> sub
//   midnight.txt (last written at local midnight)  onesec.txt (00:00:01)
//   sparse.bin (4 GiB + 5 bytes, sparse)
class DirListing : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        root_ = dir_.path();
        std::ofstream(root_ / "a.txt") << "hello";
        std::ofstream(root_ / "readonly.txt") << "r";
        fs::permissions(root_ / "readonly.txt",
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        std::ofstream(root_ / ".hidden") << "h";
        fs::create_directory(root_ / "sub");
        std::ofstream(root_ / "sub" / "inner.txt") << "inside";
        fs::create_directory(root_ / ".hdir");
        fs::create_directory_symlink(root_ / "sub", root_ / "link");
        SetMtime("midnight.txt", 0);
        SetMtime("onesec.txt", 1);
        const int fd = ::open((root_ / "sparse.bin").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, (off_t(1) << 32) + 5), 0);
        ::close(fd);
    }

    // Creates a file last written on 15 June 2020 at 00:00:<seconds> local time.
    void SetMtime(const char* name, int seconds) {
        std::ofstream(root_ / name) << "t";
        std::tm tm{};
        tm.tm_year = 2020 - 1900;
        tm.tm_mon = 5;
        tm.tm_mday = 15;
        tm.tm_sec = seconds;
        tm.tm_isdst = -1;
        timespec times[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
        times[1].tv_nsec = 999'000'000;  // milliseconds are dropped
        ASSERT_EQ(::utimensat(AT_FDCWD, (root_ / name).c_str(), times, 0), 0);
    }

    std::map<std::string, DirEntryRecord> List(const std::string& wild, BYTE mask) {
        Queue<DirEntryRecord> q;
        ListDirectory(q, (root_ / wild).string(), mask);
        std::map<std::string, DirEntryRecord> out;
        for (std::size_t i = 1; i <= q.Records(); ++i) {
            EXPECT_EQ(q.Get(i), 0);
            EXPECT_TRUE(out.emplace(q.NAME.Str(), q.Buffer()).second) << "listed twice: " << q.NAME.Str();
        }
        return out;
    }
    static std::set<std::string> Names(const std::map<std::string, DirEntryRecord>& m) {
        std::set<std::string> s;
        for (const auto& [name, rec] : m) s.insert(name);
        return s;
    }

    test::TempDir dir_{"dt_dirlist_"};
    fs::path root_;
};

// Packed LONG fields are copied (LONG{...}) before gtest binds a reference to them.
TEST_F(DirListing, EntriesCarryTheirData) {
    const auto all = List("*.*", 23);
    ASSERT_EQ(all.size(), 11u);

    const DirEntryRecord& a = all.at("a.txt");
    EXPECT_EQ(INT64{a.SIZE}, 5);
    EXPECT_EQ(a.ATTRIB, kAttrArchive);
    EXPECT_TRUE(a.SHORTNAME.IsBlank());
    EXPECT_NE(LONG{a.DATE}, 0);

    EXPECT_EQ(all.at(".hidden").ATTRIB, kAttrArchive | kAttrHidden);
    EXPECT_EQ(all.at("sub").ATTRIB, kAttrDirectory);
    EXPECT_EQ(all.at(".hdir").ATTRIB, kAttrDirectory | kAttrHidden);
    EXPECT_EQ(all.at(".").ATTRIB, kAttrDirectory) << ". and .. are directories, not hidden ones";
    EXPECT_EQ(all.at("..").ATTRIB, kAttrDirectory);
    EXPECT_EQ(all.at("readonly.txt").ATTRIB, kAttrArchive | kAttrReadOnly);

    // The link is listed with its own data: no directory bit, its size the target's length.
    const DirEntryRecord& link = all.at("link");
    EXPECT_EQ(link.ATTRIB & kAttrDirectory, 0);
    EXPECT_EQ(INT64{link.SIZE}, INT64((root_ / "sub").string().size()));

    // Local midnight is time 0 ("no time"); one second later is 101. Hundredths are 0.
    EXPECT_EQ(LONG{all.at("midnight.txt").DATE}, MakeDate(2020, 6, 15));
    EXPECT_EQ(LONG{all.at("midnight.txt").TIME}, 0);
    EXPECT_EQ(LONG{all.at("onesec.txt").DATE}, MakeDate(2020, 6, 15));
    EXPECT_EQ(LONG{all.at("onesec.txt").TIME}, 101);

    EXPECT_EQ(INT64{all.at("sparse.bin").SIZE}, (INT64{1} << 32) + 5) << "all 64 bits of 4 GiB + 5";
}

TEST_F(DirListing, AdmissionByMask) {
    const std::set<std::string> files = {"a.txt",      "readonly.txt", "midnight.txt",
                                         "onesec.txt", "sparse.bin",   "link"};
    EXPECT_EQ(Names(List("*.*", 0)), files);

    std::set<std::string> with_dirs = files;
    with_dirs.insert({".", "..", "sub", ".hdir"});
    EXPECT_EQ(Names(List("*.*", 16)), with_dirs) << "hidden directories yes, hidden files no";

    std::set<std::string> everything = with_dirs;
    everything.insert(".hidden");
    EXPECT_EQ(Names(List("*.*", 23)), everything);
    EXPECT_EQ(Names(List("*", 23)), everything);
}

TEST_F(DirListing, PatternsSelectNames) {
    EXPECT_EQ(Names(List("*.txt", 23)),
              (std::set<std::string>{"a.txt", "readonly.txt", "midnight.txt", "onesec.txt"}));
    EXPECT_EQ(Names(List("?.txt", 23)), (std::set<std::string>{"a.txt"}));
    EXPECT_EQ(Names(List("sub/*.*", 0)), (std::set<std::string>{"inner.txt"}));
    EXPECT_EQ(Names(List("link/*.*", 0)), (std::set<std::string>{"inner.txt"}))
        << "a path through a link is the caller's choice; listing never follows one by itself";
}

TEST_F(DirListing, QueueIsAppendedToAndLeftAloneWhenNothingMatches) {
    Queue<DirEntryRecord> q;
    q.NAME = "kept";
    q.SIZE = 42;
    q.Add();
    // Each says why it added nothing: nothing matched, or there is no such directory.
    EXPECT_EQ(ListDirectory(q, (root_ / "*.nothing").string(), 23), DirListResult::Ok);
    EXPECT_EQ(ListDirectory(q, (root_ / "missing" / "*.*").string(), 23), DirListResult::NotFound);
    EXPECT_EQ(ListDirectory(q, (root_ / "a.txt" / "*.*").string(), 23), DirListResult::NotFound)
        << "a file is no directory";
    EXPECT_EQ(ListDirectory(q, (root_ / "").string() + "/", 23), DirListResult::Ok) << "no name to look for";
    ASSERT_EQ(q.Records(), 1u);
    ASSERT_EQ(q.Get(1), 0);
    EXPECT_EQ(q.NAME.Str(), "kept");
    EXPECT_EQ(INT64{q.SIZE}, 42);

    ListDirectory(q, (root_ / "a.txt").string(), 0);
    ListDirectory(q, (root_ / "a.txt").string(), 0);
    EXPECT_EQ(q.Records(), 3u) << "the queue is not emptied first";
    ASSERT_EQ(q.Get(1), 0);
    EXPECT_EQ(q.NAME.Str(), "kept");
}

TEST_F(DirListing, UnreadableDirectoryLeavesTheQueueUnchanged) {
    if (test::RunningAsRoot()) GTEST_SKIP() << test::kNeedsOrdinaryUser;
    fs::permissions(root_ / "sub", fs::perms::none);
    // The queue holds a row already: an unreadable directory neither clears it nor adds to it.
    Queue<DirEntryRecord> q;
    q.NAME = "kept";
    q.SIZE = 42;
    q.Add();
    ListDirectory(q, (root_ / "sub" / "*.*").string(), 23);
    ASSERT_EQ(q.Records(), 1u);
    ASSERT_EQ(q.Get(1), 0);
    EXPECT_EQ(q.NAME.Str(), "kept");
    EXPECT_EQ(INT64{q.SIZE}, 42);
    // The permission was what stopped it: readable again, the directory lists its file.
    fs::permissions(root_ / "sub", fs::perms::owner_all);
    ListDirectory(q, (root_ / "sub" / "*.*").string(), 0);
    ASSERT_EQ(q.Records(), 2u);
    ASSERT_EQ(q.Get(2), 0);
    EXPECT_EQ(q.NAME.Str(), "inner.txt");
}

TEST_F(DirListing, AnUnreadableDirectoryIsToldApartFromAnEmptyOne) {
    fs::create_directory(root_ / "empty");
    Queue<DirEntryRecord> q;
    EXPECT_EQ(ListDirectory(q, (root_ / "empty" / "*.*").string(), 0), DirListResult::Ok);
    EXPECT_EQ(q.Records(), 0u);
    // Root reads every directory whatever its mode, so the rest needs an ordinary user.
    if (test::RunningAsRoot()) GTEST_SKIP() << test::kNeedsOrdinaryUser;
    fs::permissions(root_ / "sub", fs::perms::none);
    EXPECT_EQ(ListDirectory(q, (root_ / "sub" / "*.*").string(), 23), DirListResult::Unreadable);
    EXPECT_EQ(q.Records(), 0u);
    // Names readable, their data not (no search permission): the listing is not whole.
    fs::permissions(root_ / "sub", fs::perms::owner_read);
    EXPECT_EQ(ListDirectory(q, (root_ / "sub" / "*.*").string(), 23), DirListResult::Unreadable);
    EXPECT_EQ(q.Records(), 0u);
}

TEST_F(DirListing, NamesEndingInBlanksComeBackExactly) {
    std::ofstream(root_ / "sub" / "x ") << "1";
    std::ofstream(root_ / "sub" / "x  ") << "22";
    fs::create_directory(root_ / "sub" / "d ");
    Queue<DirEntryRecord> q;
    ASSERT_EQ(ListDirectory(q, (root_ / "sub" / "*.*").string(), 23), DirListResult::Ok);
    std::map<std::string, INT64> got;
    for (std::size_t i = 1; i <= q.Records(); ++i) {
        ASSERT_EQ(q.Get(i), 0);
        got[q.NAME.Str()] = q.SIZE;
    }
    EXPECT_EQ(got.count("x "), 1u);
    EXPECT_EQ(got.count("x  "), 1u);
    EXPECT_EQ(got.count("d "), 1u);
    EXPECT_EQ(got["x  "], 2);
    EXPECT_EQ(got.count("x"), 0u) << "no name is cut to another";
}

// A walk's open directory lists what ListDirectory lists but "." and "..", opens its
// subdirectories relative to itself, and never follows a link to one.
TEST_F(DirListing, AnOpenDirectoryListsAsTheListingDoesWithoutDotsAndOpensRelativeToItself) {
    const OpenDirectory root(nullptr, root_.string() + "/");
    ASSERT_EQ(root.Status(), DirListResult::Ok);
    struct stat st {};
    ASSERT_EQ(::stat(root_.c_str(), &st), 0);
    EXPECT_EQ(root.Device(), static_cast<std::uint64_t>(st.st_dev));

    Queue<DirEntryRecord> q;
    ASSERT_EQ(const_cast<OpenDirectory&>(root).List(q, 23), DirListResult::Ok);
    std::map<std::string, DirEntryRecord> listed;
    for (std::size_t i = 1; i <= q.Records(); ++i) {
        ASSERT_EQ(q.Get(i), 0);
        listed.emplace(q.NAME.Str(), q.Buffer());
    }
    std::map<std::string, DirEntryRecord> expected = List("*.*", 23);
    expected.erase(".");
    expected.erase("..");
    ASSERT_EQ(Names(listed), Names(expected));
    for (const auto& [name, e] : expected) {
        const DirEntryRecord& got = listed.at(name);
        EXPECT_EQ(got.ATTRIB, e.ATTRIB) << name;
        EXPECT_EQ(INT64{got.SIZE}, INT64{e.SIZE}) << name;
        EXPECT_EQ(LONG{got.DATE}, LONG{e.DATE}) << name;
        EXPECT_EQ(LONG{got.TIME}, LONG{e.TIME}) << name;
    }
    // Read once: a second listing adds nothing.
    const std::size_t before = q.Records();
    EXPECT_EQ(const_cast<OpenDirectory&>(root).List(q, 23), DirListResult::Ok);
    EXPECT_EQ(q.Records(), before);

    // A subdirectory by its name alone, even after its parent was renamed.
    fs::rename(root_ / "sub", root_ / "moved");
    OpenDirectory sub(&root, "moved");
    ASSERT_EQ(sub.Status(), DirListResult::Ok);
    Queue<DirEntryRecord> inner;
    EXPECT_EQ(sub.List(inner, 23), DirListResult::Ok);
    ASSERT_EQ(inner.Records(), 1u);
    ASSERT_EQ(inner.Get(1), 0);
    EXPECT_EQ(inner.NAME.Str(), "inner.txt");

    // A link where a directory was listed, a name that is gone, a file: nothing to walk.
    EXPECT_EQ(OpenDirectory(&root, "link").Status(), DirListResult::NotFound);
    EXPECT_EQ(OpenDirectory(&root, "gone").Status(), DirListResult::NotFound);
    EXPECT_EQ(OpenDirectory(&root, "a.txt").Status(), DirListResult::NotFound);
    OpenDirectory missing(nullptr, (root_ / "missing").string());
    EXPECT_EQ(missing.Status(), DirListResult::NotFound);
    EXPECT_EQ(missing.Device(), 0u);
    EXPECT_EQ(missing.List(inner, 23), DirListResult::NotFound);
    // Opened as a path, a link is followed as any path is (a root may be one).
    fs::create_directory_symlink(root_ / "moved", root_ / "rootlink");
    EXPECT_EQ(OpenDirectory(nullptr, (root_ / "rootlink").string() + "/").Status(), DirListResult::Ok);
}

TEST_F(DirListing, AnOpenDirectoryThatMayNotBeReadSaysSo) {
    if (test::RunningAsRoot()) GTEST_SKIP() << test::kNeedsOrdinaryUser;
    const OpenDirectory root(nullptr, root_.string());
    fs::permissions(root_ / "sub", fs::perms::none);
    OpenDirectory sub(&root, "sub");
    EXPECT_EQ(sub.Status(), DirListResult::Unreadable);
    Queue<DirEntryRecord> q;
    EXPECT_EQ(sub.List(q, 23), DirListResult::Unreadable);
    EXPECT_EQ(q.Records(), 0u);
    fs::permissions(root_ / "sub", fs::perms::owner_all);
}

}  // namespace
}  // namespace dt
