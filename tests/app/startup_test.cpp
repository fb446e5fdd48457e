// Start-up without windows: settings defaults and cuts, the two connection texts, the
// computer name and the drive list.
#include <gtest/gtest.h>

#include "app/globals.h"
#include "app/settings.h"
#include "data/sql_connection.h"
#include "app/startup.h"
#include "tests/support/temp_dir.h"

namespace dt {
namespace {

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ini_ = dir_ / "drivetrek.ini";
        GLO::COMPUTERNAME = "PC7";
    }
    void WriteIni(const std::string& text) { test::WriteFile(ini_, text); }

    test::TempDir dir_;
    std::string ini_;
};

TEST_F(StartupTest, NoSettingsFileGivesTheDefaultsAndTheirConnectionTexts) {
    LoadSettings(ini_);
    EXPECT_EQ(GLO::SQLSERVER.Clip(), "Server");
    EXPECT_EQ(GLO::SQLDATABASE.Clip(), "master");
    EXPECT_EQ(GLO::SQLUSER.Clip(), "sa");
    EXPECT_TRUE(GLO::SQLPASSWD.IsBlank());
    BuildOwners();
    // An empty password puts the semicolon and the tail right after the user's comma; the
    // computer name enters with the trailing blanks of its 32-character field.
    const std::string tail = "APP=DRIVETREK;WSID=PC7" + std::string(29, ' ');
    EXPECT_EQ(GLO::SQLMASTEROWNER.Clip(), "Server,master,sa,;APP=DRIVETREK;WSID=PC7");
    EXPECT_EQ(GLO::SQLMASTEROWNER.View().substr(0, 18 + tail.size()), "Server,master,sa,;" + tail);
    EXPECT_EQ(GLO::SQLOWNER.Clip(), "Server,master,sa,;APP=DRIVETREK;WSID=PC7");
}

TEST_F(StartupTest, SettingsAreReadCutAndJoinedWithThePassword) {
    WriteIni(
        "garbage line without equals\n"
        "[Database]\n"
        "SERVER=db.example  \n"
        "database=Files2026\n"
        "user=scanner\n"
        "pass=se;cret\n"
        "[other]\nserver=not this one\n");
    LoadSettings(ini_);
    EXPECT_EQ(GLO::SQLSERVER.Clip(), "db.example") << "sections and keys are case-insensitive";
    BuildOwners();
    // The password's ';' would cut it and make its tail an attribute: it goes in braces.
    EXPECT_EQ(GLO::SQLMASTEROWNER.Clip(), "db.example,master,scanner,{se;cret};APP=DRIVETREK;WSID=PC7");
    EXPECT_EQ(GLO::SQLOWNER.Clip(), "db.example,Files2026,scanner,{se;cret};APP=DRIVETREK;WSID=PC7");
    EXPECT_EQ(SplitOwner(GLO::SQLOWNER.Clip()).password, "se;cret");

    // Every part that holds ',', ';', braces or '=' comes back whole; the server keeps its
    // "Address=" form.
    WriteIni("[database]\nserver=Address=h,1\ndatabase=d{b}\nuser=u=1\npass=\"a,b}c \"\n");
    LoadSettings(ini_);
    BuildOwners();
    EXPECT_EQ(GLO::SQLOWNER.Clip(), "{Address=h,1},{d{b}}},{u=1},{a,b}}c};APP=DRIVETREK;WSID=PC7")
        << "the password's trailing blank is dropped with the others";
    OwnerParts parts = SplitOwner(GLO::SQLOWNER.Clip());
    EXPECT_EQ(parts.server, "Address=h,1");
    EXPECT_EQ(parts.database, "d{b}");
    EXPECT_EQ(parts.user, "u=1");
    EXPECT_EQ(parts.password, "a,b}c");

    WriteIni("[database]\ndatabase=" + std::string(30, 'D') + "\nuser=\n");
    LoadSettings(ini_);
    EXPECT_EQ(GLO::SQLDATABASE.View(), std::string(20, 'D')) << "cut to the 20-character field";
    EXPECT_TRUE(GLO::SQLUSER.IsBlank()) << "a present but empty key is empty, not the default";
}

TEST_F(StartupTest, SavedSettingsReadBackWithoutTrailingBlanks) {
    GLO::SQLSERVER = "pg.local:5432";
    GLO::SQLDATABASE = "DRIVETREK";
    GLO::SQLUSER = "dt";
    GLO::SQLPASSWD = "pw";
    ASSERT_TRUE(SaveSettings(ini_));
    const std::string text = test::ReadFile(ini_);
    EXPECT_NE(text.find("server=pg.local:5432\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("DRIVETREK "), std::string::npos) << "no trailing blanks written";
    GLO::SQLSERVER = "x";
    LoadSettings(ini_);
    EXPECT_EQ(GLO::SQLSERVER.Clip(), "pg.local:5432");
    EXPECT_EQ(GLO::SQLPASSWD.Clip(), "pw");
}

TEST_F(StartupTest, VersionIniFileAndComputerName) {
    // The settings file: ./drivetrek.ini where the current directory holds one, else the
    // user's configuration directory.
    const std::filesystem::path old_cwd = std::filesystem::current_path();
    std::filesystem::create_directories(dir_ / "here");
    std::filesystem::current_path(dir_ / "here");
    test::ScopedEnv config("XDG_CONFIG_HOME", (dir_ / "cfg").c_str());
    SetVersionAndIniFile();
    EXPECT_EQ(GLO::VERSION.Clip(), "1.05");
    EXPECT_EQ(GLO::INIFILE.View(), dir_ / "cfg/drivetrek/drivetrek.ini");
    test::WriteFile(dir_ / "here/drivetrek.ini", "");
    SetVersionAndIniFile();
    EXPECT_EQ(GLO::INIFILE.View(), "./drivetrek.ini");
    std::filesystem::current_path(old_cwd);
    test::ScopedEnv name("DRIVETREK_COMPUTERNAME", "A-VERY-LONG-COMPUTER-NAME-OF-40-CHARACTERS");
    ReadComputerName();
    EXPECT_EQ(GLO::COMPUTERNAME.View(), "A-VERY-LONG-COMPUTER-NAME-OF-40-CHARACTE") << "cut to 40 characters";
}

TEST_F(StartupTest, DriveListFollowsTheScanRootsInOrderWithDescriptions) {
    const std::string a = dir_ / "a", c = dir_ / "c", d = dir_ / "d";
    for (const std::string& p : {a, c, d}) std::filesystem::create_directory(p);
    WriteIni("[scan]\nroots=" + a + ";" + c + " ; " + d + "/\n");
    Queue<QDRIVE_RECORD> q;
    const ULONG mask = ListLocalDrives(q, ini_);
    ASSERT_EQ(q.Records(), 3u);
    EXPECT_EQ(mask, 7u);
    const std::string expected[] = {a + "/", c + "/", d + "/"};
    for (std::size_t i = 1; i <= 3; ++i) {
        ASSERT_EQ(q.Get(i), 0);
        EXPECT_EQ(q.DRIVE.View(), expected[i - 1]) << "a mount path is kept whole";
        EXPECT_EQ(q.TYPE, 3);
        EXPECT_EQ(q.DESCIPTION.View(), "fixed drive");
    }
}

TEST_F(StartupTest, DriveListOfTheMountTableHasNoPseudoFileSystems) {
    Queue<QDRIVE_RECORD> q;
    ListLocalDrives(q, ini_);
    for (std::size_t i = 1; i <= q.Records(); ++i) {
        ASSERT_EQ(q.Get(i), 0);
        EXPECT_NE(q.DRIVE.View(), "/proc/");
        EXPECT_EQ(q.DRIVE.View().back(), '/');
        EXPECT_EQ(q.DESCIPTION.View(), DriveDescription(q.TYPE));
    }
}

TEST(DriveDescriptions, EveryCodeHasItsText) {
    EXPECT_EQ(DriveDescription(0), "The drive type cannot be determined.");
    EXPECT_EQ(DriveDescription(1), "The root directory does not exist.");
    EXPECT_EQ(DriveDescription(3), "fixed drive");
    EXPECT_EQ(DriveDescription(5), "CDROM drive");
    EXPECT_EQ(DriveDescription(6), "ramdisk");
    EXPECT_EQ(DriveDescription(7), "");
}

}  // namespace
}  // namespace dt
