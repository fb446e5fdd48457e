// A demonstration window with every control kind the application's windows use, opened
// offscreen and saved as a picture (demo_window.png in the test's build directory).
#include <filesystem>

#include "runtime/queue.h"
#include "runtime/stddate.h"
#include "tests/ui/gui_support.h"
#include "ui/list_source.h"

namespace dt::ui {
namespace {

#pragma pack(push, 1)
struct DriveRow {
    STRING<4> DRIVE;
    STRING<39> DESCRIPTION;
};
struct FileRow {
    STRING<127> NAME;
    LONG C1, C2, C3, C4;
    DATE DATE_;
    TIME TIME_;
    ULONG SIZE;
};
#pragma pack(pop)

TEST(DemoWindow, EveryControlKindSitsWhereItsDialogUnitsSay) {
    test::RunApp([] {
        Queue<DriveRow> drives;
        drives.DRIVE = "/";
        drives.DESCRIPTION = "fixed: ext4";
        drives.Add();
        drives.DRIVE = "/mnt";
        drives.DESCRIPTION = "network: nfs";
        drives.Add();
        Queue<FileRow> files;
        const char* names[] = {"readme.txt", "photo.jpg", "notes.doc"};
        for (int i = 0; i < 3; ++i) {
            files.NAME = names[i];
            files.C1 = i == 1 ? 8421504 : -1;  // a file of another computer shows grey
            files.C2 = files.C3 = files.C4 = -1;
            files.DATE_ = DATE::FromStandard(MakeDate(2024, 3, 10 + i));
            files.TIME_ = TIME::FromStandard(MakeTime(9, 30 + i, 0, 0));
            files.SIZE = 1024u * (i + 1) * 700u;
            files.Add();
        }
        CSTRING<41> filter("report");
        LONG size_from = 100;
        BYTE search_dir = 1;
        STRING<32> server("localhost");

        WindowDef d;
        d.title = "DriveTrek demo";
        d.icon = "GO.ICO";
        d.font = "MS Sans Serif";
        d.at = {0, 0, 330, 214};
        d.flags.resizable = true;
        d.flags.status_bar = true;
        d.status_zones = {120, -1};
        int file = d.Add(MenuDef("&File"));
        d.Add(ItemDef("&Options", file));
        d.Add(SeparatorDef(file));
        d.Add(ItemDef("E&xit", file, StdAction::Close));
        int prompt = d.Add(PromptDef("Filter:", {6, 6, 40, 10}));
        int entry = d.Add(EntryDef("s40", Use(filter), {50, 5, 160, 11}));
        int scan = d.Add(ButtonDef("Scan", {220, 4, 50, 14}, "32528"));
        int search = d.Add(ButtonDef("Search", {274, 4, 50, 14}, "32525"));
        d.Add(PromptDef("Filesize from:", {6, 22, 52, 10}));
        int from = d.Add(EntryDef("n-14B", Use(size_from), {60, 21, 40, 11}));
        d.Add(StringDef("KByte  to:", {104, 22, 40, 10}));
        int check = d.Add(CheckDef("search also for directory name", Use(search_dir), {150, 21, 130, 11}));
        int drives_list = d.Add(ListDef("25L(2)|M~Drive~@s4@161L(2)|M~Desciption~@s39@",
                                        MakeQueueSource(drives, &DriveRow::DRIVE, &DriveRow::DESCRIPTION),
                                        {6, 38, 150, 44}));
        int sheet = d.Add(SheetDef({162, 36, 162, 48}));
        int tab1 = d.Add(TabDef("Database", sheet));
        ControlDef srv = DisplayDef("s32", Use(server), {168, 54, 100, 10});
        srv.parent = tab1;
        int server_field = d.Add(srv);
        int tab2 = d.Add(TabDef("About", sheet));
        ControlDef about = StringDef("made by the DriveTrek team", {168, 54, 140, 10});
        about.parent = tab2;
        about.font = "Arial";
        int about_field = d.Add(about);
        int results =
            d.Add(ListDef("90L(2)|M*~Name~@s127@44L(2)|M~Date~@d17@26L(2)|M~Time~@t7@46R(2)|M~Size~@n13@",
                          MakeQueueSource(files, &FileRow::NAME, &FileRow::C1, &FileRow::C2, &FileRow::C3,
                                          &FileRow::C4, &FileRow::DATE_, &FileRow::TIME_, &FileRow::SIZE),
                          {6, 88, 226, 60}));
        int text =
            d.Add(TextDef("DRIVETREK /S  - scan local drive and exit\nsecond line", {238, 88, 86, 40}));
        int panel = d.Add(PanelDef({236, 132, 90, 18}));
        d.Add(StringDef("files in the database are 3", {240, 136, 84, 10}));

        Window w(d);
        ASSERT_EQ(w.Open(), 0);
        w.Display();
        w.SetStatusText(1, "files: 3");
        w.SetStatusText(2, "start: 09:30:00");
        w.SetChoice(results, 2);

        // Geometry: every rectangle is its dialog units times the window font's unit size.
        int dux = testing::DialogUnitX1000(w), duy = testing::DialogUnitY1000(w);
        EXPECT_GT(dux, 1000);  // a unit is more than a pixel: text has room
        EXPECT_GT(duy, 1000);
        for (int f : {prompt, entry, scan, search, from, check, drives_list, sheet, results, text, panel}) {
            Rect du = w.GetPosition(f);
            Rect px = testing::PixelRect(w, f);
            EXPECT_NEAR(px.x, du.x * dux / 1000.0, 1.0) << w.Label(f) << " field " << f;
            EXPECT_NEAR(px.y, du.y * duy / 1000.0, 1.0) << "field " << f;
            EXPECT_NEAR(px.w, du.w * dux / 1000.0, 1.0) << "field " << f;
            EXPECT_NEAR(px.h, du.h * duy / 1000.0, 1.0) << "field " << f;
        }
        EXPECT_EQ(testing::ControlText(w, entry), "report");
        EXPECT_EQ(testing::ControlText(w, from), "100");
        EXPECT_TRUE(w.Checked(check));
        EXPECT_EQ(testing::ControlText(w, server_field), "localhost");
        EXPECT_EQ(w.SelectedTab(sheet), tab1);
        EXPECT_EQ(testing::ListRows(w, drives_list, 1, 2),
                  (std::vector<std::string>{"/\tfixed: ext4", "/mnt\tnetwork: nfs"}));
        auto rows = testing::ListRows(w, results, 1, 3);
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[0].substr(0, rows[0].find('\t')), "readme.txt");
        EXPECT_NE(rows[2].find("2,150,400"), std::string::npos);
        EXPECT_EQ(testing::ControlText(w, about_field), "made by the DriveTrek team");

        std::filesystem::path out = std::filesystem::path(DT_TEST_OUTPUT_DIR) / "demo_window.png";
        ASSERT_TRUE(testing::Screenshot(w, out.string()));
        EXPECT_GT(std::filesystem::file_size(out), 2000u);
        w.Close();
    });
}

}  // namespace
}  // namespace dt::ui
