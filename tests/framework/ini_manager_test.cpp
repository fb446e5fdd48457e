#include "framework/ini_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace dt {
namespace {

using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFile;

// A window that remembers what was done to it.
class FakeWindow final : public WindowPlacement {
  public:
    bool minimized = false, maximized = false, resizable = true;
    int x = 10, y = 20, width = 300, height = 200;
    std::vector<std::string> calls;

    bool IsMinimized() const override { return minimized; }
    bool IsMaximized() const override { return maximized; }
    void SetMaximized(bool m) override {
        calls.push_back(m ? "maximize" : "normal");
        maximized = m;
    }
    void GetPosition(int& px, int& py) const override { px = x, py = y; }
    void SetPosition(int px, int py) override {
        calls.push_back("position " + std::to_string(px) + "," + std::to_string(py));
        x = px, y = py;
    }
    void GetSize(int& w, int& h) const override { w = width, h = height; }
    void SetSize(int w, int h) override {
        calls.push_back("size " + std::to_string(w) + "x" + std::to_string(h));
        width = w, height = h;
    }
    bool IsResizable() const override { return resizable; }
};

class IniManagerTest : public ::testing::Test {
  protected:
    void SetUp() override { ini.Startup(file); }
    TempDir dir;
    std::string file = dir / "drivetrek.ini";
    IniManager ini;
};

TEST_F(IniManagerTest, MaximisedWindowSavesOnlyTheFlag) {
    FakeWindow w;
    w.maximized = true;
    ini.SaveWindow("Main", w);
    EXPECT_EQ(ReadFile(file), "[Main]\nMaximize=Yes\n");
    // Restoring keeps the designed position and size and maximises.
    FakeWindow fresh;
    ini.RestoreWindow("Main", fresh);
    EXPECT_EQ(fresh.calls, std::vector<std::string>{"maximize"});
    EXPECT_EQ(fresh.x, 10);
    EXPECT_EQ(fresh.width, 300);
}

TEST_F(IniManagerTest, MinimisedWindowLeavesTheFileAlone) {
    WriteFile(file, "[Main]\nMaximize=No\nXPos=1\n");
    FakeWindow w;
    w.minimized = true;
    ini.SaveWindow("Main", w);
    EXPECT_EQ(ReadFile(file), "[Main]\nMaximize=No\nXPos=1\n");
}

TEST_F(IniManagerTest, NormalWindowRoundTrip) {
    FakeWindow w;
    w.x = -5, w.y = 7, w.width = 640, w.height = 480;
    ini.SaveWindow("Browse", w);
    EXPECT_EQ(ReadFile(file), "[Browse]\nMaximize=No\nXPos=-5\nYPos=7\nHeight=480\nWidth=640\n");

    // A maximised window is un-maximised first, then placed; it is not maximised again.
    FakeWindow back;
    back.maximized = true;
    ini.RestoreWindow("Browse", back);
    EXPECT_EQ(back.calls, (std::vector<std::string>{"normal", "position -5,7", "size 640x480"}));

    // A window of fixed size saves and restores its position only.
    FakeWindow fixed;
    fixed.resizable = false;
    ini.SaveWindow("Fixed", fixed);
    EXPECT_EQ(ini.TryRead("Fixed", "Width"), "");
    FakeWindow fixed_back;
    fixed_back.resizable = false;
    ini.RestoreWindow("Fixed", fixed_back);
    EXPECT_EQ(fixed_back.calls, std::vector<std::string>{"position 10,20"});
}

TEST_F(IniManagerTest, RestoreNeedsAYesOrNo) {
    FakeWindow w;
    ini.RestoreWindow("Nothing", w);  // no section at all
    WriteFile(file, "[Odd]\nMaximize=yes\nXPos=1\nYPos=2\n[Partial]\nMaximize=No\nXPos=33\n");
    ini.RestoreWindow("Odd", w);
    EXPECT_TRUE(w.calls.empty());
    // "XPos" present, the rest missing: "---Unknown---" converts to 0.
    ini.RestoreWindow("Partial", w);
    EXPECT_EQ(w.calls, (std::vector<std::string>{"position 33,0", "size 0x0"}));
}

TEST_F(IniManagerTest, ReadVariants) {
    WriteFile(file, "[s]\nthree=one,two,three\nempty=\nlist= a ,b\n");
    EXPECT_EQ(ini.TryRead("s", "missing"), "");
    EXPECT_EQ(ini.ReadRequired("s", "missing"), "---Unknown---");
    EXPECT_EQ(ini.ReadRequired("s", "empty"), "");
    EXPECT_EQ(ini.ReadPart("s", "three", 1), "one");
    EXPECT_EQ(ini.ReadPart("s", "three", 2), "two");
    EXPECT_EQ(ini.ReadPart("s", "three", 3), "three");
    // Past the last part the search falls back to position 1.
    EXPECT_EQ(ini.ReadPart("s", "three", 4), "one");
    EXPECT_EQ(ini.ReadPart("s", "three", 5), "two");
    EXPECT_EQ(ini.ReadPart("s", "three", 0), "one");
    EXPECT_EQ(ini.ReadPart("s", "missing", 2), "---Unknown---");
    EXPECT_EQ(ini.ReadPart("s", "list", 1), "a ");  // parts keep their inner blanks

    ini.Write("s", "long", std::string(1500, 'z'));
    EXPECT_EQ(ini.ReadRequired("s", "long").size(), 1000u);
    EXPECT_EQ(ini.TryRead("s", "long").size(), 1500u);

    EXPECT_EQ(IniNumber("  42abc"), 42);
    EXPECT_EQ(IniNumber("-17"), -17);
    EXPECT_EQ(IniNumber("---Unknown---"), 0);
    EXPECT_EQ(IniNumber("99999999999999999999999"), LONG_MAX);
    EXPECT_EQ(IniNumber("-99999999999999999999999"), LONG_MIN);
}

#pragma pack(push, 1)
struct Column {
    CSTRING<20> NAME;
    STRING<10> TITLE;
    LONG WIDTH;
};
#pragma pack(pop)

TEST_F(IniManagerTest, ListsRoundTrip) {
    Queue<Column> q;
    const char* names[] = {"Name", "Dir", "Size"};
    for (int i = 0; i < 3; ++i) {
        q.NAME = names[i];
        q.TITLE = std::string("T") + names[i];
        q.WIDTH = 100 + i;
        q.Add();
    }
    ini.WriteList<Column>("List", "Col", q, &Column::NAME, &Column::TITLE, &Column::WIDTH);
    EXPECT_EQ(ini.TryRead("List", "Col"), "3");
    EXPECT_EQ(ini.TryRead("List", "Col_2"), "Dir,TDir,101");

    Queue<Column> back;
    ini.ReadList<Column>("List", "Col", back, &Column::NAME, &Column::TITLE, &Column::WIDTH);
    ASSERT_EQ(back.Records(), 3u);
    for (int i = 0; i < 3; ++i) {
        back.Get(i + 1);
        EXPECT_EQ(back.NAME.Str(), names[i]);
        EXPECT_EQ(back.TITLE.Str(), std::string("T") + names[i]);
        EXPECT_EQ(LONG{back.WIDTH}, 100 + i);  // a copy: the packed field may be misaligned
    }
    // Reading again appends: nothing is cleared first.
    ini.ReadList<Column>("List", "Col", back, &Column::NAME);
    EXPECT_EQ(back.Records(), 6u);

    // A missing count reads nothing.
    Queue<Column> none;
    ini.ReadList<Column>("List", "Nothing", none, &Column::NAME);
    EXPECT_EQ(none.Records(), 0u);

    // Accessors work like members; only the given fields are written.
    IniField<Column> upper([](const Column& c) { return "<" + c.NAME.Str() + ">"; },
                           [](Column& c, std::string_view v) { c.NAME = v.substr(1, v.size() - 2); });
    ini.WriteList<Column>("List", "Acc", q, upper);
    EXPECT_EQ(ini.TryRead("List", "Acc_3"), "<Size>");
    Queue<Column> acc;
    ini.ReadList<Column>("List", "Acc", acc, upper);
    ASSERT_EQ(acc.Records(), 3u);
    acc.Get(3);
    EXPECT_EQ(acc.NAME.Str(), "Size");
}

TEST_F(IniManagerTest, DamagedCountReadsOnlyTheKeysThatExist) {
    WriteFile(file, "[List]\nCol=2000000000\nCol_1=a\nCol_2=\n");
    Queue<Column> q;
    ini.ReadList<Column>("List", "Col", q, &Column::NAME);
    ASSERT_EQ(q.Records(), 2u);  // an empty value is still a record
    q.Get(2);
    EXPECT_EQ(q.NAME.Str(), "");
}

TEST_F(IniManagerTest, LongListValuesAreCut) {
    Queue<Column> q;
    q.NAME = "n";
    q.Add();
    IniField<Column> huge([](const Column&) { return std::string(6000, 'h'); },
                          [](Column&, std::string_view) {});
    ini.WriteList<Column>("List", "Huge", q, huge);
    EXPECT_EQ(ini.TryRead("List", "Huge_1").size(), 5000u);
}

TEST(IniManagerNames, DollarRules) {
    EXPECT_EQ(IniManager::ComposeName("Browse", "Files", "Query"), "Browse$Files$$Query");
    EXPECT_EQ(IniManager::ComposeName("F", "a$b", "T"), "F$a$$b$$T");
    std::string f, i, t;
    IniManager::SplitName("Browse$Files$$Query", f, i, t);
    EXPECT_EQ(std::tie(f, i, t), std::make_tuple("Browse", "Files", "Query"));
    IniManager::SplitName(IniManager::ComposeName("F", "", "T"), f, i, t);
    EXPECT_EQ(std::tie(f, i, t), std::make_tuple("F", "", "T"));
    // A "$$" followed by another "$" is no separator: the search goes on.
    IniManager::SplitName("F$x$$$$T", f, i, t);
    EXPECT_EQ(std::tie(f, i, t), std::make_tuple("F", "x$$", "T"));
    IniManager::SplitName("NoDollar", f, i, t);
    EXPECT_EQ(std::tie(f, i, t), std::make_tuple("NoDollar", "", ""));
    IniManager::SplitName("F$item", f, i, t);
    EXPECT_EQ(std::tie(f, i, t), std::make_tuple("F", "item", ""));
}

TEST(IniManagerSectors, RegistrySurvivesARestart) {
    TempDir dir;
    const std::string file = dir / "s.ini";
    {
        IniManager ini;
        ini.Startup(file);
        ini.RegisterSector(IniManager::ComposeName("Browse", "Files", "Query"));
        ini.RegisterSector(IniManager::ComposeName("Alpha", "Z", "Sort"));
        ini.RegisterSector(IniManager::ComposeName("Browse", "Files", "Query"));  // a repeat
        ini.RegisterSector(IniManager::ComposeName("Browse", "A$$$B", "Query"));
        ASSERT_EQ(ini.SECTORS->Records(), 3u);
        ini.Shutdown();
        EXPECT_EQ(ini.SECTORS, nullptr);
        ini.RegisterSector("Late$X$$Y");  // after Shutdown: ignored, no crash
    }
    EXPECT_EQ(platform::ReadProfileString(file, "__Dont_Touch_Me__", "Sectors", ""), "3");
    // Kept sorted on the three fields.
    EXPECT_EQ(platform::ReadProfileString(file, "__Dont_Touch_Me__", "Sectors_1", ""), "Alpha,Z,Sort");
    // An item holding "$" does not survive compose and split unchanged: the first "$$" not
    // followed by "$" ends it.
    EXPECT_EQ(platform::ReadProfileString(file, "__Dont_Touch_Me__", "Sectors_2", ""),
              "Browse,A$$$$,B$$Query");
    EXPECT_EQ(platform::ReadProfileString(file, "__Dont_Touch_Me__", "Sectors_3", ""), "Browse,Files,Query");

    IniManager again;
    again.Startup(file);
    ASSERT_NE(again.SECTORS, nullptr);
    EXPECT_EQ(again.SECTORS->Records(), 3u);
    SectorQueue found;
    again.ListSectors("Browse", "", "", found);
    ASSERT_EQ(found.Records(), 2u);
    found.Get(1);
    EXPECT_EQ(found.ITEM.Str(), "A$$");  // "A$$$$": its "$$$" becomes "$"
    found.Get(2);
    EXPECT_EQ(found.ITEM.Str(), "Files");
    again.ListSectors("", "", "Sort", found);
    ASSERT_EQ(found.Records(), 1u);
    found.Get(1);
    EXPECT_EQ(found.FAMILY.Str(), "Alpha");
    again.ListSectors("Nobody", "", "", found);
    EXPECT_EQ(found.Records(), 0u);
    again.Shutdown();
}

// A read-only manager reads everything and writes nothing: no window placement, no
// list, no registry at shutdown; the file keeps its bytes.
TEST(IniManagerReadOnly, ReadsButLeavesTheFileAsItWas) {
    TempDir dir;
    const std::string file = dir / "win.ini";
    const std::string before =
        "[Main]\nMaximize=No\nXPos=3\nYPos=4\n[__Dont_Touch_Me__]\nSectors=1\nSectors_1=B,F,Q\n";
    WriteFile(file, before);
    IniManager ini;
    ini.Startup(file);
    ini.SetReadOnly(true);
    EXPECT_TRUE(ini.ReadOnly());
    FakeWindow w;
    ini.RestoreWindow("Main", w);
    EXPECT_EQ(w.x, 3) << "reading still works";
    EXPECT_EQ(w.y, 4);
    ini.SaveWindow("Main", w);
    ini.SaveWindow("Other", w);
    ini.Write("Main", "XPos", "99");
    ini.RegisterSector(IniManager::ComposeName("A", "B", "C"));
    ini.WriteList<SectorEntry>("L", "n", *ini.SECTORS, &SectorEntry::FAMILY);
    ini.Shutdown();
    EXPECT_EQ(ReadFile(file), before);

    // The same steps without the flag do write.
    IniManager writer;
    writer.Startup(file);
    writer.SaveWindow("Other", w);
    writer.Shutdown();
    EXPECT_NE(ReadFile(file), before);
}

// A missing system profile is not created by a read-only manager.
TEST(IniManagerReadOnly, MissingFileIsNotCreated) {
    TempDir dir;
    const std::string file = dir / "none.ini";
    IniManager ini;
    ini.Startup(file);
    ini.SetReadOnly(true);
    FakeWindow w;
    ini.SaveWindow("Main", w);
    ini.Shutdown();
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(IniManagerSectors, EditedRegistryIsSortedAndRepeatsDropped) {
    TempDir dir;
    const std::string file = dir / "s.ini";
    WriteFile(file, "[__Dont_Touch_Me__]\nSectors=3\nSectors_1=b,x,y\nSectors_2=a,x,y\nSectors_3=b,x,y\n");
    IniManager ini;
    ini.Startup(file);
    ASSERT_EQ(ini.SECTORS->Records(), 2u);
    ini.SECTORS->Get(1);
    EXPECT_EQ(ini.SECTORS->FAMILY.Str(), "a");
    ini.Shutdown();
}

TEST(IniManagerSectors, ConcurrentRegistrationsAreAllKept) {
    TempDir dir;
    IniManager ini;
    ini.Startup(dir / "mt.ini");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&ini, t] {
            for (int i = 0; i < 50; ++i) {
                ini.RegisterSector(
                    IniManager::ComposeName("F" + std::to_string(i % 10), "I" + std::to_string(t), "T"));
            }
        });
    }
    for (auto& th : threads) th.join();
    ASSERT_EQ(ini.SECTORS->Records(), 40u);
    SectorEntry prev, cur;
    ini.SECTORS->Peek(1, prev);
    for (std::size_t i = 2; i <= 40; ++i) {
        ini.SECTORS->Peek(i, cur);
        EXPECT_LT(std::make_tuple(prev.FAMILY.Str(), prev.ITEM.Str()),
                  std::make_tuple(cur.FAMILY.Str(), cur.ITEM.Str()));
        prev = cur;
    }
    ini.Shutdown();
}

// The virtual slots: Write and the reads go through WriteRaw/ReadRaw with FILENAME, and
// OnStartup sees the sector queue created but not yet loaded.
class RecordingIni final : public IniManager {
  public:
    std::vector<std::string> log;
    std::size_t records_at_startup = 99;
    std::string ReadRaw(std::string_view section, std::string_view key, std::string_view def,
                        std::string_view file) override {
        log.push_back("read " + std::string(section) + "/" + std::string(key) + " @" + std::string(file));
        return IniManager::ReadRaw(section, key, def, file);
    }
    void WriteRaw(std::string_view section, std::string_view key, std::string_view value,
                  std::string_view file) override {
        log.push_back("write " + std::string(section) + "/" + std::string(key) + "=" + std::string(value) +
                      " @" + std::string(file));
        IniManager::WriteRaw(section, key, value, file);
    }
    void OnStartup() override { records_at_startup = SECTORS ? SECTORS->Records() : 1000; }
};

TEST(IniManagerSlots, OperationsGoThroughTheVirtualSlots) {
    TempDir dir;
    const std::string file = dir / "v.ini";
    WriteFile(file, "[__Dont_Touch_Me__]\nSectors=1\nSectors_1=a,b,c\n");
    RecordingIni ini;
    ini.Startup(file);
    EXPECT_EQ(ini.records_at_startup, 0u);
    EXPECT_EQ(ini.SECTORS->Records(), 1u);
    EXPECT_EQ(ini.FILENAME.Str(), file);
    ini.log.clear();
    ini.Write("s", "k", "v");
    EXPECT_EQ(ini.TryRead("s", "k"), "v");
    EXPECT_EQ(ini.log, (std::vector<std::string>{"write s/k=v @" + file, "read s/k @" + file}));
    ini.Shutdown();
}

TEST(IniManagerSlots, LongFileNameIsNeverCutIntoAnotherFile) {
    TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 300) deep += "/directory-level";
    const std::string file = deep + "/settings.ini";
    IniManager ini;
    ini.Startup(file);
    EXPECT_EQ(ini.FILENAME.View().size(), 259u);
    ini.Write("s", "k", "v");
    EXPECT_EQ(platform::ReadProfileString(file, "s", "k", ""), "v");
    EXPECT_EQ(ini.TryRead("s", "k"), "v");
    // A name set by hand afterwards is the one used.
    ini.FILENAME = dir / "other.ini";
    ini.Write("s", "k", "w");
    EXPECT_EQ(platform::ReadProfileString(dir / "other.ini", "s", "k", ""), "w");
    ini.Shutdown();
}

TEST(IniManagerSlots, EmptyNameMeansTheSystemProfile) {
    TempDir dir;
    ScopedEnv p("DRIVETREK_PROFILE", (dir / "win.ini").c_str());
    IniManager ini;
    ini.Startup("");
    FakeWindow w;
    ini.SaveWindow("Main", w);
    ini.Shutdown();
    EXPECT_EQ(platform::ReadProfileString(dir / "win.ini", "Main", "XPos", ""), "10");
    EXPECT_EQ(platform::ReadProfileString(dir / "win.ini", "__Dont_Touch_Me__", "Sectors", ""), "0");
}

}  // namespace
}  // namespace dt
