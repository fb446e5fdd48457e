// A search site for the results window and dtfind tests: a temporary directory that is
// the current directory (drivetrek.ini, the system profile, the embedded database file),
// the database settings for the test program's server (tests/support/backend.h; on
// PostgreSQL a database the fixture made and drops at the end), and a small
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
#include "tests/support/backend.h"
#include "tests/support/process.h"
#include "tests/support/recording_errors.h"
#include "tests/support/temp_dir.h"

namespace dt::qtest {

using test::Env;
using test::RecordingErrors;

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
    // The site's tables go into `database`, which the fixture provides (and removes).
    explicit SearchSite(const std::string& database)
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
        test::WriteFile(dir_ / "win.ini", test::Backend::ProfileText());
        test::WriteFile(dir_ / "drivetrek.ini",
                        "[database]\n" + (test::Backend::IsPostgres()
                                              ? test::Backend::SettingsLines(database)
                                              : "server=Server\ndatabase=" + database + "\nuser=sa\n"));
        LoadGlobals();
    }

    ~SearchSite() {
        KillTables();  // no connection to the test database is left
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

    // The three computers and their scans. False (with a failure recorded) when something
    // could not be stored.
    bool Seed() {
        RecordingErrors errors(RecordingErrors::Unanswered::DefaultButton);
        InitTables(errors);
        bool ok = true;
        Relate::COMPUTER->Open();
        ULONG* ids[3] = {&this_id, &other_id, &late_id};
        const char* names[3] = {"THISBOX", "OTHERBOX", "LATEBOX"};
        for (int i = 0; ok && i < 3; ++i) {
            std::memset(static_cast<void*>(&static_cast<COMPUTER_RECORD&>(COMPUTER)), 0,
                        sizeof(COMPUTER_RECORD));
            COMPUTER.NAME = names[i];
            ok = Access::COMPUTER->Insert() == 0;
            EXPECT_TRUE(ok) << errors.Text();
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
        EXPECT_EQ(stats.files_stored, expected) << errors.Text();
        return ok && stats.files_stored == expected;
    }

    // The kind of server the site's tables are on.
    static ServerKind Kind() {
        return test::Backend::IsPostgres() ? ServerKind::PostgreSQL : ServerKind::Embedded;
    }

    const std::string& Tree() const { return tree_; }
    std::string operator/(const std::string& name) const { return dir_ / name; }

    ULONG this_id = 0, other_id = 0, late_id = 0;

  private:
    test::TempDir dir_;
    test::ScopedEnv profile_;
    test::ScopedEnv computer_;
    std::filesystem::path old_cwd_;
    std::string tree_;
};

#ifdef DTFIND_PATH
struct Result {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<std::string> lines;
    long peak_rss_kb = -1;
};

// Runs dtfind (DTFIND_PATH) with `args` in the current directory; gives up (status -1) after 60 seconds.
inline Result RunDtfind(const std::vector<std::string>& args) {
    std::vector<std::string> all{DTFIND_PATH};
    all.insert(all.end(), args.begin(), args.end());
    test::ProcessOptions o;
    o.limit = std::chrono::seconds(60);
    const test::ProcessResult p = test::RunProcess(all, o);
    Result r;
    r.status = p.status;
    r.out = p.out;
    r.err = p.err;
    r.peak_rss_kb = p.peak_rss_kb;
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
