// Helpers for tests of the program's procedures: a working directory of the test's own
// (settings file, embedded databases, a small tree to scan, the system profile), the
// program frame run offscreen with the main procedure, and the database settings for the
// embedded database or for the PostgreSQL server of the test script.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/program.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/gui_support.h"

namespace dt::test {

// A run directory: the current directory while the test runs, holding drivetrek.ini, the
// embedded database files, a tiny tree to scan ([scan] roots) and the system profile.
class RunDir {
  public:
    explicit RunDir(std::string computer = "apptest-pc") {
        old_cwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
        profile_.emplace("DRIVETREK_PROFILE", (dir_ / "win.ini").c_str());
        computer_.emplace("DRIVETREK_COMPUTERNAME", computer.c_str());
        std::filesystem::create_directories(dir_ / "tree/sub");
        WriteFile(dir_ / "tree/a.txt", "hello");
        WriteFile(dir_ / "tree/sub/b.doc", "x");
    }
    ~RunDir() {
        std::error_code ec;
        std::filesystem::current_path(old_cwd_, ec);
    }
    RunDir(const RunDir&) = delete;
    RunDir& operator=(const RunDir&) = delete;

    std::string operator/(const std::string& name) const { return dir_ / name; }
    const std::string& path() const { return dir_.path(); }
    void SetComputer(const std::string& name) {
        computer_.reset();
        computer_.emplace("DRIVETREK_COMPUTERNAME", name.c_str());
    }
    // drivetrek.ini: the [database] lines given (none: the defaults) and [scan] roots.
    void WriteSettings(const std::string& database_lines) {
        std::string text;
        if (!database_lines.empty()) text += "[database]\n" + database_lines;
        text += "[scan]\nroots=" + dir_.path() + "/tree/\n";
        WriteFile(dir_ / "drivetrek.ini", text);
    }
    // The system profile; `driver` names the ODBC driver the program tries first.
    void WriteProfile(const std::string& driver) {
        WriteFile(dir_ / "win.ini",
                  driver.empty() ? std::string() : "[Software\\Kestrelworks\\MSSQL]\nDLL=" + driver + "\n");
    }

  private:
    TempDir dir_;
    std::filesystem::path old_cwd_;
    std::optional<ScopedEnv> profile_, computer_;
};

// Runs the program frame with the main procedure offscreen (interactive unless
// `unattended`); `on_opened` drives the open main window, `answers` are queued for the
// message boxes (button:: bits, in order). The exit status.
inline int RunMain(const std::function<void(MainWindow&)>& on_opened, bool unattended = false,
                   const std::vector<int>& answers = {}) {
    int status = -1;
    GLO::INIFILE = "";  // as at a program start: window positions go to the system profile
    ui::test::RunApp([&] {
        for (int a : answers) ui::testing::AnswerMessage(a);
        status = ProgramFrame(unattended, [&] { return MainProcedure(on_opened); });
    });
    return status;
}

// Runs the program frame with `body` as the main procedure (settings file name set and
// loaded first, as the start-up does).
inline void RunFrame(const std::function<void()>& body) {
    GLO::INIFILE = "";
    ui::test::RunApp([&] {
        ProgramFrame(false, [&] {
            body();
            return 0;
        });
    });
}

}  // namespace dt::test
