// The scan's walk without a database: the extension rule, the record a file becomes, the
// elapsed time, the order of storing, and what the walk refuses to enter or to cut (dot
// entries, symbolic links, another mount, paths too long for their field, directories
// that vanish). Trees are made in temporary directories; rows are collected by a sink.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/scan.h"
#include "runtime/stddate.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

namespace dt {
namespace {

using test::TempDir;

namespace fs = std::filesystem;

// A temporary directory removed with its contents (and any mount made in it) at the end.
class TempTree {
  public:
    TempTree() : root_(dir_.path()) {}
    ~TempTree() {
        // Before the directory goes: remove_all must not reach into a mounted file system.
        for (const std::string& m : mounts_) ::umount2(m.c_str(), MNT_DETACH);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& root() const { return root_; }
    std::string Path(const std::string& rel) const { return root_ + "/" + rel; }
    void Dir(const std::string& rel) const { fs::create_directories(Path(rel)); }
    void File(const std::string& rel, std::size_t size = 0) const {
        std::ofstream(Path(rel)) << std::string(size, 'x');
    }
    bool Mount(const std::string& rel) {
        if (::mount("tmpfs", Path(rel).c_str(), "tmpfs", 0, "size=1m") != 0) return false;
        mounts_.push_back(Path(rel));
        return true;
    }

  private:
    TempDir dir_{"dt-scan-walk-"};
    std::string root_;
    std::vector<std::string> mounts_;
};

// A listed entry as the directory listing fills it.
DirEntryRecord Entry(std::string_view name, LONG date = 0, LONG time = 0, INT64 size = 0, BYTE attrib = 32) {
    DirEntryRecord e;
    e.NAME = name;
    e.DATE = date;
    e.TIME = time;
    e.SIZE = size;
    e.ATTRIB = attrib;
    return e;
}

std::string Ext(std::string_view name) {
    return ExtensionOf(Entry(name).NAME.View());
}

// Keeps every row it is given, in order.
class CollectSink : public ScanSink {
  public:
    void BeginDirectory(std::string_view path) override { dirs.emplace_back(path); }
    void Store(const FILES_RECORD& rec, WalkStats& stats) override {
        rows.push_back(rec);
        ++stats.files_stored;
        if (on_store) on_store(rec);
    }
    void DirectoryNotRead(std::string_view path) override { not_read.emplace_back(path); }
    std::vector<std::string> dirs;
    std::vector<std::string> not_read;
    std::vector<FILES_RECORD> rows;
    std::function<void(const FILES_RECORD&)> on_store;

    std::vector<std::string> Paths() const {
        std::vector<std::string> out;
        for (const FILES_RECORD& r : rows) out.push_back(r.DIR.Str() + r.NAME.Str());
        return out;
    }
};

TEST(ScanExtension, TakesTheTextAfterTheLastDotWithoutTrailingBlanks) {
    EXPECT_EQ(Ext("report.doc"), "doc") << "no blanks after a short extension";
    EXPECT_EQ(Ext("README"), "") << "no dot";
    EXPECT_EQ(Ext("backup.2002.tar.gz"), "gz") << "several dots: the last one counts";
    EXPECT_EQ(Ext(".bashrc"), "bashrc") << "a leading dot that is the only one";
    EXPECT_EQ(Ext("name."), "") << "nothing after the dot";
    EXPECT_EQ(Ext("file.verylongextension"), "verylongex") << "cut to 10 bytes";
    EXPECT_EQ(Ext("a. b"), " b") << "leading blanks of the extension are kept";
}

TEST(ScanExtension, CutsALongExtensionAtACharacterBoundary) {
    // "é" is two bytes: five fit the 10 bytes exactly, and after one ASCII letter only four do.
    EXPECT_EQ(Ext("x.éééééé"), "ééééé");
    EXPECT_EQ(Ext("x.aéééééé"), "aéééé");
    // Bytes that are no UTF-8 are single characters: cut exactly at 10.
    EXPECT_EQ(Ext("x.\xff\xfe\xff\xfe\xff\xfe\xff\xfe\xff\xfe\xff"),
              "\xff\xfe\xff\xfe\xff\xfe\xff\xfe\xff\xfe");
}

TEST(ScanRecord, FillsEveryFieldFromTheListedEntry) {
    FILES_RECORD rec;
    const LONG date = MakeDate(2002, 8, 27), time = MakeTime(8, 44, 26, 0);
    // 5 GiB: the listing and the row keep all 64 bits.
    const INT64 size = INT64{5} << 30;
    ASSERT_TRUE(FillFilesRecord(rec, Entry("Tax Return.2002.pdf", date, time, size, 33), "/home/ann/", 7));
    EXPECT_EQ(rec.SYSFILES, 0u) << "left to auto-numbering";
    EXPECT_EQ(rec.SYSCOMPUTER, 7u);
    EXPECT_EQ(rec.NAME.Str(), "Tax Return.2002.pdf");
    EXPECT_EQ(rec.EXTENSION.Str(), "pdf");
    EXPECT_EQ(rec.DIR.Str(), "/home/ann/");
    EXPECT_EQ(rec.TYPE, 33);
    EXPECT_EQ(rec.DATE_DATE, (DATE{27, 8, 2002}));
    EXPECT_EQ(rec.DATE_TIME, (TIME{0, 26, 44, 8}));
    EXPECT_EQ(rec.SIZE, 5368709120);

    // An invalid time becomes no time; a name of 255 bytes fits whole.
    const std::string long_name(251, 'n');
    ASSERT_TRUE(FillFilesRecord(rec, Entry(long_name + ".txt", date, 9'000'000), "/", 1));
    EXPECT_EQ(rec.DATE_TIME, TIME{});
    EXPECT_EQ(rec.NAME.Str(), long_name + ".txt");
}

TEST(ScanRecord, RefusesADirectoryTooLongForItsField) {
    FILES_RECORD rec;
    const std::string dir260 = "/" + std::string(258, 'd') + "/";
    EXPECT_TRUE(FillFilesRecord(rec, Entry("a.txt"), dir260, 1));
    EXPECT_EQ(rec.DIR.Str(), dir260);
    EXPECT_FALSE(FillFilesRecord(rec, Entry("a.txt"), dir260 + "e/", 1)) << "never cut into another path";
}

TEST(ScanElapsedTime, IsTheTrueDurationAlsoPastMidnight) {
    EXPECT_EQ(ScanElapsed(100'001, 112'001, 12'000), 12'000);
    // From 23:59:50 to 00:00:10: twenty seconds, not nothing.
    EXPECT_EQ(ScanElapsed(MakeTime(23, 59, 50, 0), MakeTime(0, 0, 10, 0), 2'000), 2'000);
    // Equal clock values: a scan shorter than the clock's step shows 00:00:00 ...
    EXPECT_EQ(ScanElapsed(500, 500, 0), 1);
    // ... one of exactly a day shows a day.
    EXPECT_EQ(ScanElapsed(500, 500, 8'640'000), kMaxStandardTime);
}

TEST(ScanWalk, StoresFilesBeforeSubdirectoriesHighestAttributeFirst) {
    TempTree t;
    t.Dir("top/sub");
    t.Dir("top/.hidden dir");
    t.File("top/plain.txt");
    t.File("top/.dotfile");  // hidden: 34
    t.File("top/locked.doc");
    ::chmod(t.Path("top/locked.doc").c_str(), 0444);  // read-only: 33
    t.File("top/sub/inner.c");
    t.File("top/.hidden dir/secret");
    fs::create_directories(t.Path("top/sub/deeper"));
    t.File("top/sub/deeper/leaf.h");

    CollectSink sink;
    WalkStats stats;
    EXPECT_EQ(ScanDirectory(t.Path("top"), 5, sink, stats), 1) << "always 1";
    const std::string top = t.Path("top/");
    const std::vector<std::string> expected = {
        top + ".dotfile",
        top + "locked.doc",
        top + "plain.txt",
        // the hidden directory (18) sorts after the plain one (16), so it is walked first
        top + ".hidden dir/secret",
        top + "sub/inner.c",
        top + "sub/deeper/leaf.h",
    };
    EXPECT_EQ(sink.Paths(), expected);
    EXPECT_EQ(stats.files_stored, 6u);
    EXPECT_EQ(stats.files_not_stored, 0u);
    ASSERT_EQ(sink.rows.size(), 6u);
    EXPECT_EQ(sink.rows[0].TYPE, 34);
    EXPECT_EQ(sink.rows[1].TYPE, 33);
    EXPECT_EQ(sink.rows[2].TYPE, 32);
    for (const FILES_RECORD& r : sink.rows) EXPECT_EQ(r.SYSCOMPUTER, 5u);
    // A path without its separator gets one; "." and ".." are never walked or stored.
    EXPECT_EQ(sink.dirs.front(), top);
    for (const std::string& d : sink.dirs) EXPECT_EQ(d.find("/./"), std::string::npos) << d;
}

TEST(ScanWalk, ADirectoryWithOnlySubdirectoriesStoresNothingOfItsOwn) {
    TempTree t;
    t.Dir("a/b");
    t.Dir("a/c");
    t.File("a/c/f.txt");
    CollectSink sink;
    WalkStats stats;
    ScanDirectory(t.Path("a/"), 1, sink, stats);
    EXPECT_EQ(sink.Paths(), std::vector<std::string>{t.Path("a/c/f.txt")});
}

TEST(ScanWalk, NeverFollowsASymbolicLink) {
    TempTree t;
    t.Dir("outside");
    t.File("outside/far.txt");
    t.Dir("tree");
    fs::create_directory_symlink(t.Path("outside"), t.Path("tree/link to dir"));
    fs::create_symlink(t.Path("outside/far.txt"), t.Path("tree/link.txt"));
    CollectSink sink;
    WalkStats stats;
    ScanDirectory(t.Path("tree"), 1, sink, stats);
    // The links are entries of their own (never directories); nothing behind them is stored.
    std::set<std::string> names;
    for (const FILES_RECORD& r : sink.rows) names.insert(r.NAME.Str());
    EXPECT_EQ(names, (std::set<std::string>{"link to dir", "link.txt"}));
    for (const FILES_RECORD& r : sink.rows) EXPECT_EQ(r.TYPE & 16, 0);
}

TEST(ScanWalk, NeverCrossesIntoAnotherMount) {
    TempTree t;
    t.Dir("tree/mnt");
    t.File("tree/here.txt");
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root (the test script runs as root)";
    if (!t.Mount("tree/mnt")) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    t.File("tree/mnt/elsewhere.txt");
    ASSERT_TRUE(fs::exists(t.Path("tree/mnt/elsewhere.txt")));
    CollectSink sink;
    WalkStats stats;
    ScanDirectory(t.Path("tree"), 1, sink, stats);
    EXPECT_EQ(sink.Paths(), std::vector<std::string>{t.Path("tree/here.txt")});
    // The mount itself is walked as its own drive.
    CollectSink mounted;
    ScanDirectory(t.Path("tree/mnt"), 1, mounted, stats);
    EXPECT_EQ(mounted.Paths(), std::vector<std::string>{t.Path("tree/mnt/elsewhere.txt")});
}

TEST(ScanWalk, SkipsAndCountsADirectoryWhosePathIsTooLong) {
    TempTree t;
    // root + "/" + 150 + "/" + 110 + "/" passes 255 bytes; the first level does not.
    const std::string a(150, 'a'), b(110, 'b');
    t.Dir(a + "/" + b + "/c");
    t.File(a + "/fits.txt");
    t.File(a + "/" + b + "/lost1.txt");
    t.File(a + "/" + b + "/lost2.txt");
    t.File(a + "/" + b + "/c/lost3.txt");
    ASSERT_LE(t.Path(a + "/").size(), 255u);
    ASSERT_GT(t.Path(a + "/" + b + "/").size(), 255u);
    CollectSink sink;
    WalkStats stats;
    ScanDirectory(t.root(), 1, sink, stats);
    EXPECT_EQ(sink.Paths(), std::vector<std::string>{t.Path(a + "/fits.txt")});
    EXPECT_EQ(stats.files_stored, 1u);
    EXPECT_EQ(stats.files_not_stored, 3u) << "the files below are counted, not silently lost";
    EXPECT_EQ(stats.dirs_skipped, 2u);
    for (const FILES_RECORD& r : sink.rows) EXPECT_LE(r.DIR.View().size(), 255u);
}

// Each level holds its directory open for its subdirectories down to a depth; below it
// directories are opened by their paths. Both parts of a deep tree are walked whole.
TEST(ScanWalk, ATreeDeeperThanTheDirectoriesHeldOpenIsWalkedWhole) {
    TempTree t;
    std::string rel = "t";
    std::vector<std::string> expected;
    for (int level = 1; level <= 100; ++level) {
        rel += "/d";
        if (level % 10 == 0 || level == 99) {
            t.Dir(rel);
            t.File(rel + "/f" + std::to_string(level));
        }
    }
    ASSERT_LE(t.Path(rel + "/").size(), 255u) << "every directory of the tree fits its field";
    CollectSink sink;
    WalkStats stats;
    ScanDirectory(t.Path("t"), 1, sink, stats);
    std::vector<std::string> names;
    for (const FILES_RECORD& r : sink.rows) names.push_back(r.NAME.Str());
    EXPECT_EQ(names, (std::vector<std::string>{"f10", "f20", "f30", "f40", "f50", "f60", "f70", "f80", "f90",
                                               "f99", "f100"}));
    EXPECT_EQ(stats.dirs_not_read, 0u);
    EXPECT_TRUE(sink.not_read.empty());
}

TEST(ScanWalk, GoesOnWhenADirectoryVanishesOrCannotBeListed) {
    TempTree t;
    t.Dir("tree/gone/deep");
    t.File("tree/gone/deep/f.txt");
    t.Dir("tree/stays");
    t.File("tree/stays/s.txt");
    t.File("tree/top.txt");
    CollectSink sink;
    // While the top directory's files are stored, a subdirectory disappears.
    sink.on_store = [&](const FILES_RECORD& r) {
        if (r.NAME.Str() == "top.txt") fs::remove_all(t.Path("tree/gone"));
    };
    WalkStats stats;
    ScanDirectory(t.Path("tree"), 1, sink, stats);
    EXPECT_EQ(sink.Paths(), (std::vector<std::string>{t.Path("tree/top.txt"), t.Path("tree/stays/s.txt")}));

    // A root that does not exist stores nothing.
    CollectSink none;
    ScanDirectory(t.Path("no such dir"), 1, none, stats);
    EXPECT_TRUE(none.rows.empty());
}

TEST(ScanWalk, KeepsNamesThatAreNotUtf8AndSizesAbove2GiB) {
    TempTree t;
    t.Dir("tree");
    const std::string bad = "bad\xff\xfename.bin";
    t.File("tree/" + bad);
    // Sparse files of 3 and 5 GiB take no room.
    { std::ofstream(t.Path("tree/big.iso")); }
    ASSERT_EQ(::truncate(t.Path("tree/big.iso").c_str(), 3LL << 30), 0);
    { std::ofstream(t.Path("tree/huge.img")); }
    ASSERT_EQ(::truncate(t.Path("tree/huge.img").c_str(), (5LL << 30) + 100), 0);
    CollectSink sink;
    WalkStats stats;
    ScanDirectory(t.Path("tree"), 1, sink, stats);
    std::map<std::string, INT64> sizes;
    for (const FILES_RECORD& r : sink.rows) sizes[r.NAME.Str()] = r.SIZE;
    EXPECT_EQ(sizes.count(bad), 1u) << "the bytes of the name are kept";
    EXPECT_EQ(sizes["big.iso"], 3221225472);
    EXPECT_EQ(sizes["huge.img"], 5368709220) << "all 64 bits, not the low 32 (1,073,741,924)";
}

TEST(ScanWalk, NamesEndingInBlanksAreWalkedAndStoredExactly) {
    TempTree t;
    t.Dir("tree/dir");
    t.Dir("tree/dir ");
    t.Dir("tree/dirtrail  ");
    t.File("tree/dir/inside.txt");
    t.File("tree/dir /inside.txt");
    t.File("tree/dirtrail  /deep.txt");
    t.File("tree/name");
    t.File("tree/name ");
    t.File("tree/note.txt  ");
    CollectSink sink;
    WalkStats stats;
    ScanDirectory(t.Path("tree"), 1, sink, stats);
    const std::vector<std::string> paths = sink.Paths();
    const std::set<std::string> got(paths.begin(), paths.end());
    const std::string top = t.Path("tree/");
    EXPECT_EQ(got, (std::set<std::string>{top + "dir/inside.txt", top + "dir /inside.txt",
                                          top + "dirtrail  /deep.txt", top + "name", top + "name ",
                                          top + "note.txt  "}));
    EXPECT_EQ(paths.size(), 6u) << "each file once: \"dir \" is not \"dir\"";
    EXPECT_EQ(stats.files_stored, 6u);
    EXPECT_EQ(stats.dirs_not_read, 0u);
    EXPECT_TRUE(sink.not_read.empty()) << "a name with blanks is listed like any other";
    for (const FILES_RECORD& r : sink.rows) {
        if (r.NAME.View() == "note.txt  ") {
            EXPECT_EQ(r.EXTENSION.Str(), "txt") << "blanks end no extension";
        }
    }
}

// A directory that cannot be read keeps the rows under it: the walk hands it to the sink
// and counts it, and goes on with the rest. A directory that vanished is not reported.
TEST(ScanWalk, ReportsADirectoryThatCannotBeReadAndGoesOn) {
    if (test::RunningAsRoot()) GTEST_SKIP() << test::kNeedsOrdinaryUser;
    TempTree t;
    t.Dir("tree/closed/inner");
    t.File("tree/closed/hidden.txt");
    t.Dir("tree/listonly");
    t.File("tree/listonly/seen-but-not-examined.txt");
    t.Dir("tree/open");
    t.File("tree/open/o.txt");
    ASSERT_EQ(::chmod(t.Path("tree/closed").c_str(), 0), 0);
    // Readable but not searchable: the names can be read, their data cannot.
    ASSERT_EQ(::chmod(t.Path("tree/listonly").c_str(), 0444), 0);
    CollectSink sink;
    WalkStats stats;
    ScanDirectory(t.Path("tree"), 1, sink, stats);
    ::chmod(t.Path("tree/closed").c_str(), 0755);
    ::chmod(t.Path("tree/listonly").c_str(), 0755);
    EXPECT_EQ(sink.Paths(), std::vector<std::string>{t.Path("tree/open/o.txt")});
    std::set<std::string> not_read(sink.not_read.begin(), sink.not_read.end());
    EXPECT_EQ(not_read, (std::set<std::string>{t.Path("tree/closed/"), t.Path("tree/listonly/")}));
    EXPECT_EQ(stats.dirs_not_read, 2u);
}

TEST(ScanWalk, AVanishedDirectoryIsNoDirectoryNotRead) {
    TempTree t;
    t.Dir("tree/gone");
    t.File("tree/gone/g.txt");
    t.File("tree/top.txt");
    CollectSink sink;
    sink.on_store = [&](const FILES_RECORD&) { fs::remove_all(t.Path("tree/gone")); };
    WalkStats stats;
    ScanDirectory(t.Path("tree"), 1, sink, stats);
    EXPECT_EQ(sink.Paths(), std::vector<std::string>{t.Path("tree/top.txt")});
    EXPECT_TRUE(sink.not_read.empty());
    EXPECT_EQ(stats.dirs_not_read, 0u);
}

TEST(ScanWalk, StopsBetweenDirectoriesWhenAStopIsRequested) {
    TempTree t;
    for (const char* d : {"a", "b", "c"}) {
        t.Dir(std::string("tree/") + d);
        t.File(std::string("tree/") + d + "/one.txt");
        t.File(std::string("tree/") + d + "/two.txt");
    }
    CollectSink sink;
    sink.on_store = [&](const FILES_RECORD&) { RequestScanStop(); };
    WalkStats stats;
    ScanDirectory(t.Path("tree"), 1, sink, stats);
    const bool requested = ScanStopRequested();
    ClearScanStop();
    EXPECT_TRUE(requested);
    // The directory at hand is finished (its batch stays whole); no further one is entered.
    ASSERT_EQ(sink.rows.size(), 2u);
    EXPECT_EQ(sink.rows[0].DIR.Str(), sink.rows[1].DIR.Str());
    EXPECT_EQ(sink.dirs.back(), sink.rows[0].DIR.Str()) << "no directory begun after the stop";

    // Cleared, the next walk is whole again.
    CollectSink again;
    ScanDirectory(t.Path("tree"), 1, again, stats);
    EXPECT_EQ(again.rows.size(), 6u);
}

TEST(ScanRoots, ARootInsideAnotherIsWalkedOnce) {
    TempTree t;
    t.Dir("a/b/c");
    t.Dir("other");
    t.Dir("target/x");
    fs::create_directory_symlink(t.Path("target"), t.Path("a/link"));
    const std::string a = t.Path("a/"), ab = t.Path("a/b/"), abc = t.Path("a/b/c/"), other = t.Path("other/");
    const std::string through_link = t.Path("a/link/x/");
    EXPECT_EQ(DistinctRoots({ab, a, other, abc, a}), (std::vector<std::string>{a, other}))
        << "inner roots and repeats are left out; the order is kept";
    // The walk of a/ never follows a/link, so a root behind the link is walked on its own.
    EXPECT_EQ(DistinctRoots({a, through_link}), (std::vector<std::string>{a, through_link}));
    // "a/bc" is no directory below "a/b".
    t.Dir("a/bc");
    EXPECT_EQ(DistinctRoots({ab, t.Path("a/bc/")}), (std::vector<std::string>{ab, t.Path("a/bc/")}));
}

TEST(ScanRoots, ARootOnAnotherMountInsideARootIsWalkedToo) {
    TempTree t;
    t.Dir("tree/mnt/in");
    if (::geteuid() != 0 || !t.Mount("tree/mnt")) GTEST_SKIP() << "cannot mount a tmpfs here";
    t.Dir("tree/mnt/in");
    const std::string tree = t.Path("tree/"), mnt = t.Path("tree/mnt/"), in = t.Path("tree/mnt/in/");
    // The walk of tree/ stops at the mount: the mount's root is a root of its own, and a
    // root below it is reached from it.
    EXPECT_EQ(DistinctRoots({tree, mnt, in}), (std::vector<std::string>{tree, mnt}));
    EXPECT_EQ(DistinctRoots({tree, in}), (std::vector<std::string>{tree, in}));
}

// ---------------------------------------------------------------- exclusions

// top/ with a file and directories for every kind of pattern.
void ExclusionTree(const TempTree& t) {
    t.Dir("top");
    t.File("top/a.txt");
    t.File("top/b.tmp");
    t.Dir("top/node_modules/deep");
    t.File("top/node_modules/m.js");
    t.File("top/node_modules/deep/n.js");
    t.Dir("top/src/build");
    t.File("top/src/c.txt");
    t.File("top/src/build/o.o");
    t.Dir("top/keep");
    t.File("top/keep/build");  // a file: "build/" is for directories
    t.Dir("top/gen");
    t.File("top/gen/g.txt");
}

Exclusions TreeExclusions(const TempTree& t) {
    return Exclusions("*.tmp; node_modules ;build/;" + t.Path("top/gen"));
}

TEST(ScanWalk, ExclusionsLeaveFilesOutAndKeepTheWalkOutOfExcludedDirectories) {
    TempTree t;
    ExclusionTree(t);
    const Exclusions ex = TreeExclusions(t);
    CollectSink sink;
    WalkStats stats;
    ScanDirectory(t.Path("top"), 1, sink, stats, {}, &ex);
    const std::vector<std::string> paths = sink.Paths();
    EXPECT_EQ(
        std::set<std::string>(paths.begin(), paths.end()),
        (std::set<std::string>{t.Path("top/a.txt"), t.Path("top/src/c.txt"), t.Path("top/keep/build")}));
    EXPECT_EQ(std::set<std::string>(sink.dirs.begin(), sink.dirs.end()),
              (std::set<std::string>{t.Path("top/"), t.Path("top/src/"), t.Path("top/keep/")}))
        << "nothing is stored from inside an excluded directory";
    EXPECT_EQ(stats.files_excluded, 1u) << "b.tmp; nothing below an excluded directory is looked at";
    EXPECT_EQ(stats.dirs_excluded, 3u) << "node_modules, src/build, gen";
    EXPECT_EQ(stats.dirs_not_read, 0u);

    // Without exclusions (none given, or an empty list) everything is stored.
    const Exclusions blank(" ; ");
    for (const Exclusions* none : {static_cast<const Exclusions*>(nullptr), &blank}) {
        CollectSink all;
        WalkStats all_stats;
        ScanDirectory(t.Path("top"), 1, all, all_stats, {}, none);
        EXPECT_EQ(all.rows.size(), 8u);
        EXPECT_EQ(all_stats.files_excluded + all_stats.dirs_excluded, 0u);
    }
}

TEST(ScanWalk, AnExcludedDirectoryIsNeverListedSoNeverNotRead) {
    if (test::RunningAsRoot()) GTEST_SKIP() << test::kNeedsOrdinaryUser;
    TempTree t;
    t.Dir("tree/closed");
    t.File("tree/open.txt");
    t.File("tree/closed/hidden.txt");
    ASSERT_EQ(::chmod(t.Path("tree/closed").c_str(), 0), 0);
    const Exclusions ex("closed");
    CollectSink sink;
    WalkStats stats;
    ScanDirectory(t.Path("tree"), 1, sink, stats, {}, &ex);
    ::chmod(t.Path("tree/closed").c_str(), 0755);
    EXPECT_EQ(sink.Paths(), std::vector<std::string>{t.Path("tree/open.txt")});
    EXPECT_TRUE(sink.not_read.empty());
    EXPECT_EQ(stats.dirs_not_read, 0u);
    EXPECT_EQ(stats.dirs_excluded, 1u);
}

TEST(ScanRoots, AnExcludedRootOrARootBelowAnExcludedDirectoryIsLeftOut) {
    TempTree t;
    t.Dir("a/inner");
    t.Dir("b");
    t.Dir("c");
    ULONG excluded = 0;
    const std::vector<std::string> roots = {t.Path("a/inner/"), t.Path("b/"), t.Path("c/")};
    EXPECT_EQ(WalkRoots(roots, Exclusions("a"), &excluded),
              (std::vector<std::string>{t.Path("b/"), t.Path("c/")}));
    EXPECT_EQ(excluded, 1u);
    EXPECT_EQ(WalkRoots(roots, Exclusions(t.Path("c")), &excluded),
              (std::vector<std::string>{t.Path("a/inner/"), t.Path("b/")}));
    EXPECT_EQ(excluded, 2u);
    EXPECT_EQ(WalkRoots(roots, Exclusions()), roots);
}

TEST(ScanPreview, CountsWhatAScanWouldStoreAndWhatTheExclusionsDrop) {
    TempTree t;
    ExclusionTree(t);
    const PreviewCounts c = PreviewWalk({t.Path("top/")}, TreeExclusions(t), {}, 1000);
    EXPECT_TRUE(c.done);
    EXPECT_FALSE(c.cut || c.cancelled);
    EXPECT_EQ(c.files, 3u);
    EXPECT_EQ(c.dirs, 3u);
    EXPECT_EQ(c.files_dropped, 5u) << "b.tmp and everything below the excluded directories";
    EXPECT_EQ(c.dirs_dropped, 4u) << "node_modules, node_modules/deep, src/build, gen";
    EXPECT_EQ(c.Text(), "3 files, 3 directories; the exclusions drop 5 files and 4 directories");

    const PreviewCounts plain = PreviewWalk({t.Path("top/")}, Exclusions(), {}, 1000);
    EXPECT_EQ(plain.Text(), "8 files, 7 directories; the exclusions drop nothing");

    // An excluded root is counted whole as dropped; a missing root is what a scan would stop at.
    t.Dir("other/y");
    t.File("other/x.txt");
    t.File("other/y/z.txt");
    const PreviewCounts roots = PreviewWalk({t.Path("top/"), t.Path("other/"), t.Path("missing/")},
                                            Exclusions("other;*.txt"), {}, 1000);
    EXPECT_EQ(roots.files, 5u) << "b.tmp, m.js, n.js, o.o, build";
    EXPECT_EQ(roots.files_dropped, 5u) << "a.txt, c.txt, g.txt, x.txt, z.txt";
    EXPECT_EQ(roots.dirs_dropped, 2u) << "other and other/y";
    EXPECT_EQ(roots.failed_root, "the root " + t.Path("missing/") + " does not exist");
    EXPECT_NE(roots.Text().find("\nA scan would stop: the root " + t.Path("missing/") + " does not exist."),
              std::string::npos)
        << roots.Text();
}

TEST(ScanPreview, EndsAtItsBoundOrWhenCancelledAndSaysSo) {
    TempTree t;
    ExclusionTree(t);
    const PreviewCounts cut = PreviewWalk({t.Path("top/")}, TreeExclusions(t), {}, 2);
    EXPECT_TRUE(cut.cut && cut.done);
    EXPECT_LT(cut.files + cut.files_dropped, 8u);
    EXPECT_EQ(cut.Text().rfind("Preview stopped after 2 files: ", 0), 0u) << cut.Text();

    int asked = 0;
    const PreviewCounts cancelled = PreviewWalk(
        {t.Path("top/")}, TreeExclusions(t), [&] { return ++asked > 2; }, 1000);
    EXPECT_TRUE(cancelled.cancelled && cancelled.done);
    EXPECT_LT(cancelled.files + cancelled.files_dropped, 8u);
    EXPECT_EQ(cancelled.Text().rfind("Preview cancelled: ", 0), 0u) << cancelled.Text();

    // On its own thread: the same counts, and a last notice once done.
    ScanPreview preview;
    std::atomic<int> notices{0};
    preview.Start({t.Path("top/")}, TreeExclusions(t), 1000, [&] { ++notices; });
    preview.Join();
    EXPECT_FALSE(preview.Running());
    EXPECT_GE(notices.load(), 1);
    EXPECT_EQ(preview.Counts().Text(),
              "3 files, 3 directories; the exclusions drop 5 files and 4 directories");
}

}  // namespace
}  // namespace dt
