// A search site for the results window and dtfind tests: a temporary directory that is
// the current directory (drivetrek.ini, the system profile, the embedded database file),
// the database settings for SQLite or, with DT_TEST_PG=1, for the PostgreSQL server of the
// DRIVETREK_TEST_PG_* variables (a database of its own, dropped at the end), and a small
// tree scanned into FILES as three computers: THISBOX and OTHERBOX scan the whole tree
// (the same paths), LATEBOX only its subdirectory "deep/".
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/scan.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/search_index.h"
#include "app/tables.h"
#include "data/sql_connection.h"
#include "data/statements.h"
#include "framework/error_manager.h"
#include "runtime/errors.h"
#include "tests/platform/temp_dir.h"

#ifndef DT_TEST_PG
#define DT_TEST_PG 0
#endif

namespace dt::qtest {

inline std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The error manager with message boxes recorded instead of shown.
class RecordingErrors final : public ErrorManager {
  public:
    RecordingErrors() {
        Startup("/dev/null");
        SetHaltHandler([this](const HaltRequest& r) { shown += "HALT " + r.text + "\n"; });
    }
    ~RecordingErrors() override { Shutdown(); }
    int ShowBox(std::string_view text, std::string_view title, IconRef, int, int default_button,
                LONG) override {
        shown += std::string(title) + ": " + std::string(text) + "\n";
        return default_button;
    }
    std::string shown;
};

// Stores each row the walk hands over through the FILES file manager.
class InsertSink final : public ScanSink {
  public:
    void Store(const FILES_RECORD& rec, WalkStats& stats) override {
        static_cast<FILES_RECORD&>(FILES) = rec;
        if (Access::FILES->Insert() == 0)
            ++stats.files_stored;
        else
            ++stats.files_not_stored;
    }
};

// The files of the tree: name (under tree/), size in bytes.
struct TreeFile {
    std::string path;
    std::size_t size;
};

inline std::string LongName() {
    return "report_" + std::string(190, 'x') + ".txt";  // 201 characters: more than the list shows
}

inline std::vector<TreeFile> TreeFiles() {
    return {
        {"report 2002.doc", 1024}, {"Report-final.doc", 1023}, {"it's a report.txt", 5},
        {"notes.txt", 3},          {"tab\tin report.txt", 4},  {"deep/" + LongName(), 10},
    };
}

// Last-write time of every file: 10 March 2024, 09:30:15 local time.
inline std::time_t FileTime() {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 10;
    tm.tm_hour = 9;
    tm.tm_min = 30;
    tm.tm_sec = 15;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

class SearchSite {
  public:
    SearchSite()
        : profile_("DRIVETREK_PROFILE", (dir_ / "win.ini").c_str()),
          computer_("DRIVETREK_COMPUTERNAME", "THISBOX") {
        old_cwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
        tree_ = dir_.path() + "/tree/";
        std::filesystem::create_directories(tree_ + "deep");
        for (const TreeFile& f : TreeFiles()) {
            test::WriteFile(tree_ + f.path, std::string(f.size, 'a'));
            const timespec times[2] = {{FileTime(), 0}, {FileTime(), 0}};
            ::utimensat(AT_FDCWD, (tree_ + f.path).c_str(), times, 0);
        }
#if DT_TEST_PG
        if (Env("DRIVETREK_TEST_PG_HOST").empty() || Env("DRIVETREK_TEST_PG_PORT").empty()) {
            skip = "DRIVETREK_TEST_PG_HOST/PORT not set";
            return;
        }
        database_ = "dtsearch" + std::to_string(::getpid());
        test::WriteFile(dir_ / "win.ini", "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n");
        test::WriteFile(dir_ / "drivetrek.ini", "[database]\nserver=" + Env("DRIVETREK_TEST_PG_HOST") + ":" +
                                                    Env("DRIVETREK_TEST_PG_PORT") + "\ndatabase=" +
                                                    database_ + "\nuser=" + Env("DRIVETREK_TEST_PG_USER") +
                                                    "\npass=" + Env("DRIVETREK_TEST_PG_PASSWORD") + "\n");
#else
        test::WriteFile(dir_ / "win.ini", "");
        test::WriteFile(dir_ / "drivetrek.ini", "[database]\nserver=Server\ndatabase=drivetrek\nuser=sa\n");
#endif
        LoadGlobals();
    }

    ~SearchSite() {
#if DT_TEST_PG
        if (!database_.empty() && skip.empty()) {
            // Every table is closed: no connection to the test database is left.
            KillTables();
            RecordingErrors errors;
            InitTables(errors);
            Relate::SQLM->Open();
            if (Access::SQLM->UseFile() == 0)
                SetProperty(SQLM, PROP_SQL, "DROP DATABASE IF EXISTS " + database_);
            Relate::SQLM->Close();
            KillTables();
        }
#endif
        std::error_code ec;
        std::filesystem::current_path(old_cwd_, ec);
    }
    SearchSite(const SearchSite&) = delete;
    SearchSite& operator=(const SearchSite&) = delete;

    // The settings and connection texts as the program's start-up makes them.
    static void LoadGlobals() {
        SetVersionAndIniFile();
        LoadSettings(GLO::INIFILE.Str());
        ReadComputerName();
        const std::vector<std::string> names = DriverNameList();
        BuildOwners(DialectOf(names.empty() ? ServerKind::SqlServer : KindOfDriverName(names.front()))
                        .MasterDatabase());
    }

    // Creates the database (PostgreSQL), the three computers and their scans. False (with
    // a failure recorded) when something could not be stored.
    bool Seed() {
        RecordingErrors errors;
        InitTables(errors);
        bool ok = true;
#if DT_TEST_PG
        Relate::SQLM->Open();
        ok = Access::SQLM->UseFile() == 0 && SetProperty(SQLM, PROP_SQL, "CREATE DATABASE " + database_) == 0;
        EXPECT_TRUE(ok) << FileError() << errors.shown;
        Relate::SQLM->Close();
#endif
        Relate::COMPUTER->Open();
        ULONG* ids[3] = {&this_id, &other_id, &late_id};
        const char* names[3] = {"THISBOX", "OTHERBOX", "LATEBOX"};
        for (int i = 0; ok && i < 3; ++i) {
            std::memset(static_cast<void*>(&static_cast<COMPUTER_RECORD&>(COMPUTER)), 0,
                        sizeof(COMPUTER_RECORD));
            COMPUTER.NAME = names[i];
            ok = Access::COMPUTER->Insert() == 0;
            EXPECT_TRUE(ok) << errors.shown;
            *ids[i] = COMPUTER.SYSCOMPUTER;
        }
        Relate::COMPUTER->Close();
        Relate::FILES->Open();
        InsertSink sink;
        WalkStats stats;
        if (ok) {
            ScanDirectory(tree_, this_id, sink, stats);
            ScanDirectory(tree_, other_id, sink, stats);
            ScanDirectory(tree_ + "deep/", late_id, sink, stats);
        }
        Relate::FILES->Close();
        // The search indexes, as the program's start makes them.
        Relate::SQLF->Open();
        if (ok && Access::SQLF->UseFile() == 0) {
            const SearchIndexResult made = CreateSearchIndexes(
                RunnerOf(SQLF.file, [] { return std::string(SQLF.FELD1.Clip()); }), Kind());
            EXPECT_EQ(made.error, 0) << made.message;
            ok = made.error == 0;
        }
        Relate::SQLF->Close();
        KillTables();
        const std::size_t expected = TreeFiles().size() * 2 + 1;
        EXPECT_EQ(stats.files_stored, expected) << errors.shown;
        return ok && stats.files_stored == expected;
    }

    // The kind of server the site's tables are on.
    static ServerKind Kind() {
        return DT_TEST_PG ? ServerKind::PostgreSQL : ServerKind::Embedded;
    }

    const std::string& Tree() const {
        return tree_;
    }
    std::string operator/(const std::string& name) const {
        return dir_ / name;
    }

    std::string skip;  // why the site cannot run (no server configured)
    ULONG this_id = 0, other_id = 0, late_id = 0;

  private:
    test::TempDir dir_;
    test::ScopedEnv profile_;
    test::ScopedEnv computer_;
    std::filesystem::path old_cwd_;
    std::string tree_;
    std::string database_;
};

#ifdef DTFIND_PATH
struct Result {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<std::string> lines;
};

// Runs dtfind (DTFIND_PATH) with `args` in the current directory; gives up (status -1) after 60 seconds.
inline Result RunDtfind(const std::vector<std::string>& args) {
    Result r;
    const std::string out_file = "dtfind.out", err_file = "dtfind.err";
    std::vector<std::string> all{DTFIND_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid < 0) return r;
    int wstatus = 0;
    for (int i = 0; i < 600; ++i) {
        const pid_t done = ::waitpid(pid, &wstatus, WNOHANG);
        if (done == pid) {
            r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (r.status == -1) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &wstatus, 0);
    }
    r.out = test::ReadFile(out_file);
    r.err = test::ReadFile(err_file);
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) r.lines.push_back(line);
    return r;
}

// The tab-separated fields of a line.
inline std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> f;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return f;
        start = tab + 1;
    }
}

#endif

}  // namespace dt::qtest
