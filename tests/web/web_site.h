// A site for the web search tests: a temporary directory that is the current directory
// (drivetrek.ini, the system profile, the embedded database file), the database settings
// for SQLite or, with DT_TEST_PG=1, for the PostgreSQL server of the DRIVETREK_TEST_PG_*
// variables (a database of its own and a role that may only SELECT, both dropped at the
// end), rows stored through the program's own tables, and drivetrek-web run as its own
// process on 127.0.0.1.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/query.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/tables.h"
#include "data/sql_connection.h"
#include "data/statements.h"
#include "framework/error_manager.h"
#include "runtime/errors.h"
#include "tests/support/temp_dir.h"

#ifndef DT_TEST_PG
#define DT_TEST_PG 0
#endif

namespace dt::webtest {

inline std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

class QuietErrors final : public ErrorManager {
  public:
    QuietErrors() {
        Startup("/dev/null");
        SetHaltHandler([this](const HaltRequest& r) { shown += "HALT " + r.text + "\n"; });
    }
    ~QuietErrors() override { Shutdown(); }
    int ShowBox(std::string_view text, std::string_view title, IconRef, int, int default_button,
                LONG) override {
        shown += std::string(title) + ": " + std::string(text) + "\n";
        return default_button;
    }
    std::string shown;
};

// One stored file.
struct Row {
    std::string computer, dir, name;
    std::uint32_t size = 0;
    DATE date{};
    TIME time{};
};

inline std::string ExtensionOf(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? "" : name.substr(dot + 1, 10);
}

class Site {
  public:
    Site()
        : profile_("DRIVETREK_PROFILE", (dir_ / "win.ini").c_str()),
          computer_("DRIVETREK_COMPUTERNAME", "WEBHOST") {
        old_cwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
#if DT_TEST_PG
        if (Env("DRIVETREK_TEST_PG_HOST").empty() || Env("DRIVETREK_TEST_PG_PORT").empty()) {
            skip = "DRIVETREK_TEST_PG_HOST/PORT not set";
            return;
        }
        database_ = "dtweb" + std::to_string(::getpid());
        reader_ = "dtwebreader" + std::to_string(::getpid());
        test::WriteFile(dir_ / "win.ini", "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n");
        WriteIni(Env("DRIVETREK_TEST_PG_USER"), Env("DRIVETREK_TEST_PG_PASSWORD"));
#else
        test::WriteFile(dir_ / "win.ini", "");
        WriteIni("sa", "");
#endif
        LoadGlobals();
    }

    ~Site() {
        StopServer();
#if DT_TEST_PG
        if (!database_.empty() && skip.empty()) {
            WriteIni(Env("DRIVETREK_TEST_PG_USER"), Env("DRIVETREK_TEST_PG_PASSWORD"));
            LoadGlobals();
            KillTables();
            QuietErrors errors;
            InitTables(errors);
            Relate::SQLM->Open();
            if (Access::SQLM->UseFile() == 0) {
                (void)SetProperty(SQLM, PROP_SQL, "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
                (void)SetProperty(SQLM, PROP_SQL, "DROP ROLE IF EXISTS " + reader_);
            }
            Relate::SQLM->Close();
            KillTables();
        }
#endif
        std::error_code ec;
        std::filesystem::current_path(old_cwd_, ec);
    }
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    static ServerKind Kind() {
        return DT_TEST_PG ? ServerKind::PostgreSQL : ServerKind::Embedded;
    }

    // drivetrek.ini for `user`, with `web` appended (a [web] section or nothing).
    void WriteIni(const std::string& user, const std::string& password, const std::string& web = "") {
#if DT_TEST_PG
        const std::string server = server_address.empty()
                                       ? Env("DRIVETREK_TEST_PG_HOST") + ":" + Env("DRIVETREK_TEST_PG_PORT")
                                       : server_address;
        test::WriteFile(dir_ / "drivetrek.ini", "[database]\nserver=" + server + "\ndatabase=" + database_ +
                                                    "\nuser=" + user + "\npass=" + password + "\n" + web);
#else
        test::WriteFile(dir_ / "drivetrek.ini", "[database]\nserver=Server\ndatabase=drivetrek\nuser=" +
                                                    user + "\npass=" + password + "\n" + web);
#endif
    }

    static void LoadGlobals() {
        SetVersionAndIniFile();
        LoadSettings(GLO::INIFILE.Str());
        ReadComputerName();
        const std::vector<std::string> names = DriverNameList();
        BuildOwners(DialectOf(names.empty() ? ServerKind::SqlServer : KindOfDriverName(names.front()))
                        .MasterDatabase());
    }

    // Creates the database (PostgreSQL), the computers and the rows. False when something
    // could not be stored.
    bool Seed(const std::vector<std::string>& computers, const std::vector<Row>& rows) {
        QuietErrors errors;
        InitTables(errors);
        bool ok = true;
#if DT_TEST_PG
        Relate::SQLM->Open();
        ok = Access::SQLM->UseFile() == 0 && SetProperty(SQLM, PROP_SQL, "CREATE DATABASE " + database_) == 0;
        EXPECT_TRUE(ok) << FileError() << errors.shown;
        Relate::SQLM->Close();
#endif
        Relate::COMPUTER->Open();
        for (std::size_t i = 0; ok && i < computers.size(); ++i) {
            std::memset(static_cast<void*>(&static_cast<COMPUTER_RECORD&>(COMPUTER)), 0,
                        sizeof(COMPUTER_RECORD));
            COMPUTER.NAME = computers[i];
            COMPUTER.SCANTIME = "00:01:02";
            COMPUTER.LASTSCAN_DATE = DATE{10, 3, 2024};
            COMPUTER.LASTSCAN_TIME = TIME{0, 15, 30, 9};
            ok = Access::COMPUTER->Insert() == 0;
            EXPECT_TRUE(ok) << errors.shown;
            ids[computers[i]] = COMPUTER.SYSCOMPUTER;
        }
        Relate::COMPUTER->Close();
        Relate::FILES->Open();
        for (std::size_t i = 0; ok && i < rows.size(); ++i) {
            const Row& r = rows[i];
            FILES_RECORD& f = FILES;
            std::memset(static_cast<void*>(&f), 0, sizeof(FILES_RECORD));
            f.SYSCOMPUTER = ids[r.computer];
            f.NAME = r.name;
            f.EXTENSION = ExtensionOf(r.name);
            f.DIR = r.dir;
            f.TYPE = 32;
            f.DATE_DATE = r.date;
            f.DATE_TIME = r.time;
            f.SIZE = r.size;
            ok = Access::FILES->Insert() == 0;
            EXPECT_TRUE(ok) << errors.shown << " row " << i;
        }
        Relate::FILES->Close();
        KillTables();
#if DT_TEST_PG
        // The web search reads as a role that may only SELECT.
        if (ok)
            ok = Pass("CREATE ROLE " + reader_ + " LOGIN PASSWORD 'readerpw'", true) &&
                 Pass("GRANT SELECT ON files, computer TO " + reader_, false) && Pass("ANALYZE files", false);
#endif
        return ok;
    }

    // Runs one statement through the pass-through table (`master`: on the server's master
    // connection). True when it ran.
    bool Pass(const std::string& statement, bool master) {
        QuietErrors errors;
        InitTables(errors);
        RelationManager* rel = master ? Relate::SQLM : Relate::SQLF;
        FileManager* acc = master ? Access::SQLM : Access::SQLF;
        File& file = master ? SQLM.file : SQLF.file;
        rel->Open();
        const bool ok = acc->UseFile() == 0 && SetProperty(file, PROP_SQL, statement) == 0;
        EXPECT_TRUE(ok) << statement << ": " << FileError() << errors.shown;
        rel->Close();
        KillTables();
        return ok;
    }

    // The rows the desktop's statement finds, each as "computer|dir|name|size".
    std::vector<std::string> DesktopRows(const SearchRequest& request) {
        QuietErrors errors;
        InitTables(errors);
        std::vector<std::string> out;
        std::map<ULONG, std::string> names;
        for (const auto& [name, id] : ids) names[id] = name;
        Relate::FILES->Open();
        EXPECT_EQ(Access::FILES->UseFile(), 0) << errors.shown;
        const std::string statement = BuildSearchStatement(request, DialectOf(Kind()));
        EXPECT_EQ(SetProperty(FILES.file, PROP_SQL, statement), 0) << FileError();
        while (Next(FILES.file) == 0) {
            const FILES_RECORD& f = FILES;
            out.push_back(names[f.SYSCOMPUTER] + "|" + std::string(f.DIR.View()) + "|" +
                          std::string(f.NAME.View()) + "|" + std::to_string(f.SIZE));
        }
        Relate::FILES->Close();
        KillTables();
        std::sort(out.begin(), out.end());
        return out;
    }

    // Starts drivetrek-web with `args` (after --listen 127.0.0.1:0) as the read-only role
    // (PostgreSQL) and `web` as its [web] section; waits (at most 30 s) for its "listening"
    // line. False when it did not come up (the exit status in `exit_status`).
    bool StartServer(const std::vector<std::string>& args = {}, const std::string& web = "") {
#if DT_TEST_PG
        WriteIni(reader_, "readerpw", web);
#else
        WriteIni("sa", "", web);
#endif
        const std::string err_file = dir_ / "server.err";
        std::vector<std::string> all{DRIVETREK_WEB_PATH, "--listen", "127.0.0.1:0"};
        all.insert(all.end(), args.begin(), args.end());
        pid_ = Spawn(all, err_file);
        for (int i = 0; i < 300 && pid_ > 0; ++i) {
            const std::string err = test::ReadFile(err_file);
            const std::size_t at = err.find("listening on 127.0.0.1:");
            if (at != std::string::npos && err.find(" with ", at) != std::string::npos) {
                port = std::atoi(err.c_str() + at + std::strlen("listening on 127.0.0.1:"));
                return port > 0;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    // Stops the server (SIGTERM, then SIGKILL after 10 s); its exit status.
    int StopServer() {
        if (pid_ <= 0) return exit_status;
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return exit_status = -1;
    }

    // Runs drivetrek-web with `args` to its end (at most 30 s); status, standard output and
    // standard error.
    struct Run {
        int status = -1;
        std::string out, err;
    };
    Run RunProgram(const std::vector<std::string>& args) {
        std::vector<std::string> all{DRIVETREK_WEB_PATH};
        all.insert(all.end(), args.begin(), args.end());
        return RunCommand(all, 30);
    }

    // Runs `command` to its end (killed after `seconds`).
    Run RunCommand(const std::vector<std::string>& command, int seconds) {
        const pid_t pid = Spawn(command, dir_ / "run.err", dir_ / "run.out");
        Run r;
        int status = 0;
        for (int i = 0; i < seconds * 10 && pid > 0; ++i) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (r.status == -1 && pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        r.out = test::ReadFile(dir_ / "run.out");
        r.err = test::ReadFile(dir_ / "run.err");
        return r;
    }

    std::string ServerLog() const {
        return test::ReadFile(dir_ / "server.err");
    }
    std::string operator/(const std::string& name) const {
        return dir_ / name;
    }

    httplib::Client Client() const {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(30, 0);
        c.set_connection_timeout(10, 0);
        return c;
    }

    std::string skip;
    std::string server_address;        // host:port of the database server when not the test's own
    std::map<std::string, ULONG> ids;  // computer row numbers by name
    int port = 0;
    int exit_status = -1;
    std::string reader_;

  private:
    static pid_t Spawn(std::vector<std::string> args, const std::string& err_file,
                       const std::string& out_file = "/dev/null") {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
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
        return pid;
    }

    test::TempDir dir_;
    test::ScopedEnv profile_;
    test::ScopedEnv computer_;
    std::filesystem::path old_cwd_;
    std::string database_;
    pid_t pid_ = -1;
};

// GET `path` and its JSON (null when the body is not JSON).
struct Answer {
    int status = 0;
    std::string body;
    httplib::Headers headers;
    nlohmann::json json;
    std::string Header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? "" : it->second;
    }
};

inline Answer Get(httplib::Client& c, const std::string& path, const httplib::Headers& headers = {}) {
    Answer a;
    auto res = c.Get(path, headers);
    if (!res) return a;
    a.status = res->status;
    a.body = res->body;
    a.headers = res->headers;
    a.json = nlohmann::json::parse(res->body, nullptr, false);
    return a;
}

}  // namespace dt::webtest
