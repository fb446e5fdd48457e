// The results window's pieces that need no database and no open window: the size text of
// the information window, the popup menu text of a row (whatever the file is called), and
// OpenWithShell with a stand-in for the desktop's opener.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/qfiles.h"
#include "tests/support/temp_dir.h"
#include "ui/application.h"

namespace dt {
namespace {

TEST(SizeText, BytesBelowOneKilobyteKilobytesFromThereOn) {
    EXPECT_EQ(SizeText(0), "0 Byte");
    EXPECT_EQ(SizeText(1), "1 Byte");
    EXPECT_EQ(SizeText(1023), "1,023 Byte");
    EXPECT_EQ(SizeText(1024), "1 KBytes");
    // Whole kilobytes: the rest is cut, never rounded up to a size the file does not reach.
    EXPECT_EQ(SizeText(2047), "1 KBytes");
    EXPECT_EQ(SizeText(1048576), "1,024 KBytes");
    // All 32 bits of the size column, and past them: a 5 GiB file is not shown as 1 GiB.
    EXPECT_EQ(SizeText(4294967295u), "4,194,303 KBytes");
    EXPECT_EQ(SizeText(INT64{5} << 30), "5,242,880 KBytes");
}

TEST(RowMenuText, InfoIsAlwaysTheEighthEntryAndTheActionsFollowIt) {
    const std::string tail = "|-|~copy|~delete|~move|~select all|~select none|~revert selection|-|info";
    const std::string actions = "|-|Open containing folder|Copy full path|Copy name";
    EXPECT_EQ(RowMenuText("report 2002.doc"), "report 2002.doc" + tail + actions);
    EXPECT_EQ(RowMenuText("report.doc   "), "report.doc" + tail + actions);
    EXPECT_EQ(ui::PopupEntries(RowMenuText("report.doc")), RowMenu::COPYNAME);
    // Another computer's file: the open entry is shown disabled, the numbers stay.
    EXPECT_EQ(RowMenuText("report.doc", false),
              "report.doc" + tail + "|-|~Open containing folder|Copy full path|Copy name");
    EXPECT_EQ(ui::PopupEntries(RowMenuText("report.doc", false)), RowMenu::COPYNAME);
    // Names that would read as menu syntax: more items, a submenu, a disabled or checked
    // first item, a separator, an icon, or no item at all.
    for (const char* name :
         {"a|b|c", "x{y}z", "~tilde", "+plus", "-", "-minus", "[icon]name", " ", "", "}{"}) {
        const std::string menu = RowMenuText(name);
        EXPECT_EQ(ui::PopupEntries(menu), RowMenu::COPYNAME) << name;
        EXPECT_EQ(menu.substr(menu.size() - tail.size() - actions.size()), tail + actions) << name;
        // The first item stays enabled and plain (it is the name, and does nothing).
        const std::string first = menu.substr(0, menu.size() - tail.size() - actions.size());
        EXPECT_EQ(first.find_first_of("|{}"), std::string::npos) << name;
        EXPECT_FALSE(!first.empty() && std::string("~+-[").find(first[0]) != std::string::npos) << name;
    }
}

class OpenWithShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "bin");
        log_ = dir_ / "opened.txt";
        file_ = dir_ / "a file.txt";
        test::WriteFile(file_, "x");
    }
    // Puts a stand-in xdg-open first on PATH (or, with `present` false, none at all).
    void Opener(bool present) {
        if (present) {
            test::WriteFile(dir_ / "bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$#:$1\" >> '" + log_ + "'\n");
            std::filesystem::permissions(dir_ / "bin/xdg-open", std::filesystem::perms::owner_all);
            path_.emplace("PATH", (dir_ / "bin").c_str());
        } else {
            path_.emplace("PATH", (dir_ / "empty").c_str());
        }
    }
    // The log once it holds `lines` lines (at most 5 s): the opener runs on its own.
    std::string WaitForLog(std::size_t lines) {
        std::string text;
        for (int i = 0; i < 100; ++i) {
            text = test::ReadFile(log_);
            if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return text;
    }

    test::TempDir dir_;
    std::string log_, file_;
    std::optional<test::ScopedEnv> path_;
};

TEST_F(OpenWithShellTest, OpensTheFileWithItsWholeAbsolutePath) {
    Opener(true);
    // Trailing blanks of both texts are not part of them; "open" is the default operation.
    const std::string result = OpenWithShell("", file_ + "   ");
    EXPECT_GT(std::stoi(result), 32);
    EXPECT_EQ(WaitForLog(1), "1:" + file_ + "\n");
    EXPECT_GT(std::stoi(OpenWithShell("open  ", file_)), 32);
    EXPECT_EQ(WaitForLog(2), "1:" + file_ + "\n1:" + file_ + "\n");
}

TEST_F(OpenWithShellTest, FailuresAreTheShellsSmallCodes) {
    Opener(true);
    EXPECT_EQ(OpenWithShell("", dir_ / "missing.txt"), "2");
    EXPECT_EQ(OpenWithShell("", ""), "2");
    // The desktop offers no other operation than opening.
    EXPECT_EQ(OpenWithShell("print", file_), "31");
    Opener(false);
    EXPECT_EQ(OpenWithShell("", file_), "31");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(test::ReadFile(log_), "");
}

}  // namespace
}  // namespace dt
