// web_bench: the web search's answer time against dtfind's for the same search on the
// same database.
//
//   web_bench [--rows N] [--requests R] [--pg]
//
// Makes FILES with N rows (default 200,000) in one statement on the embedded database
// (PostgreSQL with --pg, on the server the DRIVETREK_TEST_PG_* variables name), then for a
// selective search (about N/1000 hits) and a broad one (most rows):
//   dtfind  dtfind with the same words, output thrown away (a whole process: start,
//           settings, connection, computer list, read, print), the median of 15 runs;
//   web     GET /api/search with the same words (the first 100 rows of the name order
//           and the count) from 1, 2 and 8 clients on loopback keeping their connection,
//           R requests in all (default 400) after a warm-up; p50 and p95 of each request.
// Prints web p50 / dtfind for each. Everything made is removed at the end.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/tables.h"
#include "data/sql_connection.h"
#include "data/statements.h"
#include "framework/error_manager.h"
#include "runtime/errors.h"

namespace {

using namespace dt;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

class QuietErrors final : public ErrorManager {
  public:
    QuietErrors() {
        Startup("/dev/null");
        SetHaltHandler([](const HaltRequest&) {});
    }
    ~QuietErrors() override { Shutdown(); }
    int ShowBox(std::string_view text, std::string_view, IconRef, int, int default_button, LONG) override {
        std::fprintf(stderr, "web_bench: %.*s\n", static_cast<int>(text.size()), text.data());
        return default_button;
    }
};

void LoadGlobals() {
    SetVersionAndIniFile();
    LoadSettings(GLO::INIFILE.Str());
    ReadComputerName();
    const std::vector<std::string> names = DriverNameList();
    BuildOwners(
        DialectOf(names.empty() ? ServerKind::SqlServer : KindOfDriverName(names.front())).MasterDatabase());
}

// One statement through the pass-through table (`master`: the server's master database).
bool Pass(const std::string& statement, bool master) {
    QuietErrors errors;
    InitTables(errors);
    RelationManager* rel = master ? Relate::SQLM : Relate::SQLF;
    FileManager* acc = master ? Access::SQLM : Access::SQLF;
    rel->Open();
    const bool ok =
        acc->UseFile() == 0 && SetProperty(master ? SQLM.file : SQLF.file, PROP_SQL, statement) == 0;
    if (!ok)
        std::fprintf(stderr, "web_bench: %s: %s\n", statement.substr(0, 60).c_str(), FileError().c_str());
    rel->Close();
    KillTables();
    return ok;
}

// COMPUTER with two computers and FILES with `rows` rows, made by the program's tables and
// filled by one statement: names "w<i % 997>_<i>.dat" in 200 directories.
bool MakeSite(long rows) {
    QuietErrors errors;
    InitTables(errors);
    Relate::COMPUTER->Open();
    bool ok = true;
    for (const char* name : {"BENCHA", "BENCHB"}) {
        std::memset(static_cast<void*>(&static_cast<COMPUTER_RECORD&>(COMPUTER)), 0, sizeof(COMPUTER_RECORD));
        COMPUTER.NAME = name;
        ok = ok && Access::COMPUTER->Insert() == 0;
    }
    Relate::COMPUTER->Close();
    Relate::FILES->Open();
    ok = ok && Access::FILES->UseFile() == 0;  // creates FILES with its keys
    Relate::FILES->Close();
    KillTables();
    return ok &&
           Pass(
               "insert into FILES (SysFILES, SysCOMPUTER, Name, Extension, Dir, Type, Date, Size) "
               "with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
                   std::to_string(rows) +
                   ") select i, 1 + i % 2, 'w' || (i % 997) || '_' || i || '.dat', 'dat', "
                   "'/bench/d' || (i % 200) || '/', 32, '2024-01-01 00:00:00', i from n",
               false) &&
           Pass("analyze", false);
}

pid_t Spawn(std::vector<std::string> args, const std::string& err_file) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open("/dev/null", O_WRONLY);
        const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Median milliseconds of dtfind runs for `words`.
double DtfindMs(const std::string& words, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        const pid_t pid = Spawn({DTFIND_PATH, words}, "dtfind.err");
        int status = 0;
        ::waitpid(pid, &status, 0);
        times.push_back(Ms(start));
        if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
            std::fprintf(stderr, "web_bench: dtfind failed\n");
            return -1;
        }
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

struct Percentiles {
    double p50 = 0, p95 = 0;
};

// `requests` GETs of `path` spread over `clients` clients; p50 and p95 in milliseconds.
Percentiles WebMs(int port, const std::string& path, int clients, int requests) {
    std::vector<std::vector<double>> times(static_cast<std::size_t>(clients));
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_read_timeout(60, 0);
            for (int i = 0; i < 3; ++i) client.Get(path);  // warm-up: connection, worker
            for (int i = c; i < requests; i += clients) {
                const Clock::time_point start = Clock::now();
                auto res = client.Get(path);
                times[static_cast<std::size_t>(c)].push_back(res && res->status == 200 ? Ms(start) : 1e9);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    std::vector<double> all;
    for (const auto& v : times) all.insert(all.end(), v.begin(), v.end());
    std::sort(all.begin(), all.end());
    if (all.empty()) return {};
    return {all[all.size() / 2], all[std::min(all.size() - 1, all.size() * 95 / 100)]};
}

}  // namespace

int main(int argc, char** argv) {
    long rows = 200000;
    int requests = 400;
    bool pg = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rows" && i + 1 < argc)
            rows = std::atol(argv[++i]);
        else if (a == "--requests" && i + 1 < argc)
            requests = std::atoi(argv[++i]);
        else if (a == "--pg")
            pg = true;
        else {
            std::fprintf(stderr, "usage: web_bench [--rows N] [--requests R] [--pg]\n");
            return 2;
        }
    }
    char tmpl[] = "/tmp/dt-webbench-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) return 1;
    const fs::path dir = tmpl;
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    ::setenv("DRIVETREK_PROFILE", (dir / "win.ini").c_str(), 1);
    const std::string database = "dtwebbench" + std::to_string(::getpid());
    if (pg) {
        if (Env("DRIVETREK_TEST_PG_HOST").empty()) {
            std::fprintf(stderr, "web_bench: --pg needs DRIVETREK_TEST_PG_* (scripts/pg.sh start)\n");
            return 2;
        }
        std::ofstream(dir / "win.ini") << "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n";
        std::ofstream(dir / "drivetrek.ini")
            << "[database]\nserver=" << Env("DRIVETREK_TEST_PG_HOST") << ":" << Env("DRIVETREK_TEST_PG_PORT")
            << "\ndatabase=" << database << "\nuser=" << Env("DRIVETREK_TEST_PG_USER")
            << "\npass=" << Env("DRIVETREK_TEST_PG_PASSWORD") << "\n";
    } else {
        std::ofstream(dir / "win.ini") << "";
        std::ofstream(dir / "drivetrek.ini") << "[database]\nserver=Server\ndatabase=bench\nuser=sa\n";
    }
    LoadGlobals();
    int status = 0;
    const Clock::time_point made = Clock::now();
    if ((pg && !Pass("CREATE DATABASE " + database, true)) || !MakeSite(rows)) {
        status = 1;
    } else {
        std::printf("web_bench: %s, %ld rows made in %.1f s, %u cores\n",
                    pg ? "PostgreSQL" : "embedded database", rows, Ms(made) / 1000,
                    std::thread::hardware_concurrency());
        const pid_t server = Spawn({DRIVETREK_WEB_PATH, "--listen", "127.0.0.1:0"}, "web.err");
        int port = 0;
        for (int i = 0; i < 300 && port == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::ifstream in(dir / "web.err");
            std::stringstream text;
            text << in.rdbuf();
            const std::string s = text.str();
            const std::size_t at = s.find("listening on 127.0.0.1:");
            if (at != std::string::npos && s.find(" with ", at) != std::string::npos)
                port = std::atoi(s.c_str() + at + 23);
        }
        if (port == 0) {
            std::fprintf(stderr, "web_bench: drivetrek-web did not start\n");
            status = 1;
        } else {
            struct Search {
                const char* label;
                std::string words;
            };
            for (const Search& s : {Search{"selective", "w123_"}, Search{"broad", "dat"}}) {
                const double dtfind = DtfindMs(s.words, 15);
                std::printf("%-9s  dtfind %8.2f ms\n", s.label, dtfind);
                for (int clients : {1, 2, 8}) {
                    const Percentiles p = WebMs(port, "/api/search?q=" + s.words, clients, requests);
                    std::printf("%-9s  web %d client%s  p50 %8.2f ms  p95 %8.2f ms  p50/dtfind %.2f\n",
                                s.label, clients, clients == 1 ? " " : "s", p.p50, p.p95,
                                dtfind > 0 ? p.p50 / dtfind : 0);
                }
            }
        }
        if (server > 0) {
            ::kill(server, SIGTERM);
            int st = 0;
            ::waitpid(server, &st, 0);
        }
    }
    if (pg) Pass("DROP DATABASE IF EXISTS " + database + " WITH (FORCE)", true);
    fs::current_path(old);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return status;
}
