// "Open containing folder" through the desktop's file manager: each case runs on a private
// session bus (dbus-run-session) with a stand-in FileManager1 (FAKE_FILE_MANAGER) that
// records its calls. The URIs are percent-encoded file URIs, the start-up id is empty, the
// results window sends the selected files of this computer and does not fall back to the
// opener when the file manager answered; a bus without a file manager says so.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <thread>

#include "app/program.h"
#include "app/qfiles.h"
#include "runtime/stddate.h"
#include "tests/app/qfiles_fixture.h"
#include "tests/ui/gui_support.h"
#include "ui/desktop.h"
#include "ui/testing.h"
#include "ui/window.h"

extern char** environ;

namespace dt {
namespace {

using qtest::SearchSite;

bool HaveBus() {
    return !qtest::Env("DBUS_SESSION_BUS_ADDRESS").empty();
}

// The stand-in file manager, running while the object lives.
class FakeFileManager {
  public:
    FakeFileManager(const std::string& log, const std::string& ready) {
        std::string prog = FAKE_FILE_MANAGER;
        std::string a1 = log, a2 = ready;
        char* argv[] = {prog.data(), a1.data(), a2.data(), nullptr};
        if (::posix_spawn(&pid_, prog.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
        for (int i = 0; pid_ > 0 && i < 200 && !std::filesystem::exists(ready); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        started = pid_ > 0 && std::filesystem::exists(ready);
    }
    ~FakeFileManager() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    bool started = false;

  private:
    pid_t pid_ = -1;
};

// The log's lines once it holds `n` (waits at most 10 s).
std::vector<std::string> Lines(const std::string& log, std::size_t n) {
    std::string text;
    for (int i = 0; i < 100; ++i) {
        text = std::filesystem::exists(log) ? test::ReadFile(log) : "";
        if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= n) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(text.substr(at, nl - at));
    return lines;
}

TEST(FileUri, EveryByteButTheUnreservedOnesIsPercentEncoded) {
    EXPECT_EQ(ui::FileUri("/home/a/b.txt"), "file:///home/a/b.txt");
    EXPECT_EQ(ui::FileUri("/tmp/a b/it's #1?.txt"), "file:///tmp/a%20b/it%27s%20%231%3F.txt");
    EXPECT_EQ(ui::FileUri("/x%y/na\xC3\xAFve~-_.z"), "file:///x%25y/na%C3%AFve~-_.z");
    // Bytes that are no UTF-8 keep their value.
    EXPECT_EQ(ui::FileUri("/\xFF\n"), "file:///%FF%0A");
}

class FileManagerBus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveBus()) GTEST_SKIP() << "no private session bus: run under dbus-run-session";
    }
    test::TempDir dir_;
};

TEST_F(FileManagerBus, ShowItemsHandsTheFileManagerEncodedUrisAndAnEmptyStartupId) {
    const std::string log = dir_ / "calls.txt";
    FakeFileManager fake(log, dir_ / "ready");
    ASSERT_TRUE(fake.started);
    ui::ShowItemsResult result = ui::ShowItemsResult::NoBus;
    ui::test::RunApp([&] { result = ui::ShowInFileManager({"/tmp/a b/it's #1.txt", "/tmp/x%y/c.txt"}); });
    EXPECT_EQ(result, ui::ShowItemsResult::Shown);
    EXPECT_EQ(Lines(log, 1),
              (std::vector<std::string>{"file:///tmp/a%20b/it%27s%20%231.txt file:///tmp/x%25y/c.txt|"}));
}

TEST_F(FileManagerBus, ABusWithoutAFileManagerIsToldApartFromNoBus) {
    ui::ShowItemsResult result = ui::ShowItemsResult::Shown;
    ui::test::RunApp([&] { result = ui::ShowInFileManager({"/tmp/a.txt"}, 2000); });
    EXPECT_EQ(result, ui::ShowItemsResult::NoFileManager);
}

TEST_F(FileManagerBus, TheResultsWindowShowsTheSelectedLocalFilesInTheFileManager) {
    SearchSite site("drivetrek");
    ASSERT_TRUE(site.Seed());
    const std::string log = site / "calls.txt";
    FakeFileManager fake(log, site / "ready");
    ASSERT_TRUE(fake.started);
    // The opener must not be used when the file manager answered.
    const std::string bin = site / "bin";
    std::filesystem::create_directories(bin);
    const std::string opened = site / "opened.txt";
    test::WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened + "'\n");
    std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
    test::ScopedEnv path("PATH", (bin + ":" + qtest::Env("PATH")).c_str());
    std::vector<std::string> expected;
    ui::test::RunApp([&] {
        ProgramFrame(false, [&] {
            SearchSite::LoadGlobals();
            COMPUTER.SYSCOMPUTER = site.this_id;
            G::FILTER1 = "report";
            G::EXTENSION = "";
            G::SEARCHCOMPUTER = "all computers";
            G::SEARCHSYSCOMPUTER = 0;
            G::STARTCLOCK = ClockTime();
            QFiles([&](QFilesWindow& q) {
                std::vector<int> rows;
                QFILES_RECORD e;
                for (std::size_t i = 1; q.QFILES.Peek(i, e) && rows.size() < 2; ++i) {
                    if (e.SYSCOMPUTER != site.this_id) continue;
                    rows.push_back(static_cast<int>(i));
                    expected.push_back(ui::FileUri(q.FOUND.at(i - 1).Path()));
                }
                ASSERT_EQ(rows.size(), 2u);
                q.WINDOW->SetSelectedRows(QFilesCtl::BROWSE1, rows);
                ui::testing::AnswerPopup(RowMenu::OPENFOLDER);
                EXPECT_TRUE(ui::testing::PressKey(*q.WINDOW, QFilesCtl::BROWSE1, ui::key::MouseRight));
                q.WINDOW->Post(ui::Event::CloseWindow);
            });
            return 0;
        });
    });
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(Lines(log, 1), (std::vector<std::string>{expected[0] + " " + expected[1] + "|"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(std::filesystem::exists(opened));
}

}  // namespace
}  // namespace dt
