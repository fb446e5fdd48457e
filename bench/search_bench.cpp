// search_bench: the search against the same statement run bare on the database and
// against plocate over the same paths.
//
//   search_bench [--rows N | --files N | --tree DIR] [--repeat R] [--pg] [--no-index] [--keep]
//
// --rows N generates N rows with bench/gen_rows.h (no files on disk; the way to measure
// millions of rows): a selective search (200 hits), two words, a two-character word and a
// broad word (about 12% of the rows). After the load the program's CreateSearchIndexes
// makes the search and browse indexes (unless --no-index); its time and the sizes are
// printed. plocate-build -p makes a plocate database of the same paths, and each search
// runs as "plocate -i" too (plocate matches whole paths, so its hit counts differ).
//
// Makes a tree of N files (default 200,000) with bench/gen_tree.py in a temporary
// directory (or uses DIR as it is), walks it into a CSV of FILES rows and loads them with
// the database's own tool into a FILES table the program made (sqlite3's .import;
// PostgreSQL: psql's \copy). Then, for a selective search (tens of hits) and a broad one
// (most of the table), it measures
//   bare    the statement dtfind sends (dtfind --sql), run by the sqlite3 shell or psql
//           with its output thrown away,
//   dtfind  dtfind with the same request, output thrown away (a whole process: start,
//           settings, connection, computer list, read, print),
//   read    the results window's read loop in this process (ReadSearch into QFILES and
//           the computer names),
// each the fastest of R rounds (default 3), and prints dtfind / bare and read / bare.
// The embedded database is measured always; PostgreSQL with --pg, on the server the
// DRIVETREK_TEST_PG_* variables name (see scripts/pg.sh). Everything made is removed at
// the end unless --keep is given.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/qfiles.h"
#include "app/search_index.h"
#include "app/settings.h"
#include "bench/gen_rows.h"
#include "app/tables.h"
#include "data/statements.h"
#include "framework/error_manager.h"
#include "runtime/errors.h"
#include "tests/support/env.h"
#include "tests/support/postgres.h"
#include "tests/support/process.h"
#include "tests/support/recording_errors.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace dt;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

using test::Env;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Runs argv (no shell) with standard output to `out` ("" : /dev/null) and standard error
// passed through; true when it exits with `expect` (or any status when expect < 0).
bool Run(const std::vector<std::string>& args, const std::string& out = "", int expect = 0) {
    test::ProcessOptions o;
    o.out_file = out.empty() ? "/dev/null" : out;
    o.env = {{"PGPASSWORD", Env("DRIVETREK_TEST_PG_PASSWORD")}};
    o.limit = std::chrono::hours(4);
    const test::ProcessResult r = test::RunProcess(args, o);
    if (!r.err.empty()) std::fputs(r.err.c_str(), stderr);
    return r.status >= 0 && !r.timed_out && (expect < 0 || r.status == expect);
}

// ---- the rows: a plain walk of the tree into CSV ----

void Quoted(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

struct CsvWalk {
    std::FILE* out = nullptr;
    unsigned long rows = 0;
    std::string line;

    void Directory(const std::string& path) {
        DIR* d = ::opendir(path.c_str());
        if (!d) return;
        std::vector<std::string> subdirs;
        const int dfd = ::dirfd(d);
        while (dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            struct stat st;
            if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                subdirs.emplace_back(e->d_name);
                continue;
            }
            const std::string_view name = e->d_name;
            if (name.size() > 256 || path.size() > 260) continue;  // the scan does not store these either
            std::string_view ext;
            if (std::size_t dot = name.rfind('.'); dot != std::string_view::npos)
                ext = name.substr(dot + 1, 10);
            std::tm tm{};
            ::localtime_r(&st.st_mtime, &tm);
            char when[32];
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
            line.clear();
            line += std::to_string(++rows) + ",1,";
            Quoted(line, name);
            line += ',';
            Quoted(line, ext);
            line += ',';
            Quoted(line, path);
            line += ",32," + std::string(when) + ',' +
                    std::to_string(static_cast<std::uint32_t>(st.st_size)) + '\n';
            std::fwrite(line.data(), 1, line.size(), out);
        }
        ::closedir(d);
        for (const std::string& s : subdirs) Directory(path + s + "/");
    }
};

// ---- the program's side ----

bool Master(const std::string& sql) {
    Relate::SQLM->Open();
    const bool ok = Access::SQLM->UseFile() == 0 && SetProperty(SQLM, PROP_SQL, sql) == 0;
    if (!ok)
        std::fprintf(stderr, "search_bench: %s: %s %s\n", sql.c_str(), Error().c_str(), FileError().c_str());
    Relate::SQLM->Close();
    return ok;
}

struct Search {
    const char* name;
    std::vector<std::string> args;  // dtfind's arguments
    SearchRequest request;
};

struct Kind {
    bool pg = false;
    std::string database;
    bool index = true;
    std::string plocate_db;        // "" : no plocate comparison
    std::vector<Search> searches;  // empty: the tree's searches
};

// The bare run of `statement` by the database's own shell.
std::vector<std::string> BareCommand(const Kind& k, const std::string& statement) {
    if (k.pg)
        return {"psql", "-X",
                "-q",   "-At",
                "-h",   Env("DRIVETREK_TEST_PG_HOST"),
                "-p",   Env("DRIVETREK_TEST_PG_PORT"),
                "-U",   Env("DRIVETREK_TEST_PG_USER"),
                "-d",   k.database,
                "-c",   statement};
    return {"sqlite3", k.database + ".db", statement};
}

bool RunKind(const Kind& k, const fs::path& work, const fs::path& csv, int repeat) {
    const char* label = k.pg ? "PostgreSQL" : "SQLite";
    // The settings dtfind reads, and the same connection texts for this process.
    std::ofstream(work / "win.ini") << (k.pg ? "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n"
                                             : "");
    ::setenv("DRIVETREK_PROFILE", (work / "win.ini").c_str(), 1);
    std::ofstream(work / "drivetrek.ini")
        << "[database]\nserver="
        << (k.pg ? Env("DRIVETREK_TEST_PG_HOST") + ":" + Env("DRIVETREK_TEST_PG_PORT")
                 : std::string("Server"))
        << "\ndatabase=" << k.database << "\nuser=" << (k.pg ? Env("DRIVETREK_TEST_PG_USER") : "sa")
        << "\npass=" << (k.pg ? Env("DRIVETREK_TEST_PG_PASSWORD") : "") << "\n";
    LoadSettings("./drivetrek.ini");
    GLO::COMPUTERNAME = "BENCH";
    BuildOwners(k.pg ? "postgres" : "master");

    test::RecordingErrors errors(test::RecordingErrors::Unanswered::DefaultButton, "search_bench");
    InitTables(errors);
    bool ok = !k.pg || Master("CREATE DATABASE " + k.database);
    // FILES (with its indexes) and COMPUTER as the program makes them; one computer.
    Relate::COMPUTER->Open();
    COMPUTER.Record() = COMPUTER_RECORD{};
    COMPUTER.NAME = "BENCH";
    ok = ok && Access::COMPUTER->Insert() == 0 && COMPUTER.SYSCOMPUTER == 1;
    Relate::COMPUTER->Close();
    Relate::FILES->Open();
    ok = ok && Access::FILES->UseFile() == 0;
    Relate::FILES->Close();
    KillTables();
    if (ok) {
        const auto t = Clock::now();
        if (k.pg)
            ok = Run({"psql", "-X", "-q", "-h", Env("DRIVETREK_TEST_PG_HOST"), "-p",
                      Env("DRIVETREK_TEST_PG_PORT"), "-U", Env("DRIVETREK_TEST_PG_USER"), "-d", k.database,
                      "-v", "ON_ERROR_STOP=1", "-c",
                      "\\copy files from '" + csv.string() + "' with (format csv)"});
        else
            ok = Run({"sqlite3", k.database + ".db", ".mode csv", ".import " + csv.string() + " FILES"});
        if (k.pg) ok = ok && Run(BareCommand(k, "ANALYZE files"));
        std::printf("%s: rows loaded in %.2f s\n", label, Seconds(t));
    }
    if (ok && k.index) {
        InitTables(errors);
        Relate::SQLF->Open();
        ok = Access::SQLF->UseFile() == 0;
        const auto t = Clock::now();
        const SearchIndexResult made = CreateSearchIndexes(
            RunnerOf(SQLF.file, [] { return std::string(SQLF.FELD1.Clip()); }),
            k.pg ? ServerKind::PostgreSQL : ServerKind::Embedded, [](const SearchIndexProgress& p) {
                if (p.total == 0) std::printf("  %s\n", p.step.c_str());
            });
        std::printf("%s: search and browse indexes made in %.2f s%s%s\n", label, Seconds(t),
                    made.error ? ", FAILED: " : "", made.error ? made.message.c_str() : "");
        ok = ok && made.error == 0;
        Relate::SQLF->Close();
        KillTables();
        if (k.pg) {
            Run(BareCommand(k, "ANALYZE files"));
            Run(BareCommand(
                    k,
                    "select c.relname, pg_size_pretty(pg_relation_size(c.oid)) from pg_class c where "
                    "c.relname in ('files','files_name_trgm','files_dir_trgm','files_name_order',"
                    "'files_size_order','files_date_order','keyname_files','keysysfiles') order by 1"),
                (work / "sizes.txt").string());
        } else {
            Run({"sqlite3", k.database + ".db",
                 "select case when name like 'FILES_NAME_FTS%' then 'FILES_NAME_FTS*' when name like "
                 "'FILESDIR%' then 'FILESDIR*' else name end n, printf('%.1f MB', sum(pgsize) / 1048576.0) "
                 "from "
                 "dbstat group by n order by n"},
                (work / "sizes.txt").string());
        }
        std::ifstream sizes(work / "sizes.txt");
        for (std::string line; std::getline(sizes, line);) std::printf("  size %s\n", line.c_str());
    }

    std::vector<Search> searches = k.searches;
    if (searches.empty()) searches = {{"selective", {"report", "123"}, {}}, {"broad", {"e"}, {}}};
    if (ok && k.pg) {
        // What a new connection costs on its own.
        double connect = 1e9;
        for (int r = 0; r < repeat; ++r) {
            const auto t = Clock::now();
            Run(BareCommand(k, "select 1"));
            connect = std::min(connect, Seconds(t));
        }
        std::printf("%s: psql with select 1 (a new connection alone) %.3f s\n", label, connect);
    }
    for (Search s : searches) {
        if (!ok) break;
        for (const std::string& w : s.args) s.request.filter += (s.request.filter.empty() ? "" : " ") + w;
        std::vector<std::string> sql_args{DTFIND_PATH, "--sql"};
        sql_args.insert(sql_args.end(), s.args.begin(), s.args.end());
        ok = Run(sql_args, (work / "statement.txt").string());
        std::string statement;
        std::getline(std::ifstream(work / "statement.txt"), statement);
        std::vector<std::string> find_args{DTFIND_PATH};
        find_args.insert(find_args.end(), s.args.begin(), s.args.end());
        // A first run counts the hits (and warms the caches for both sides).
        ok = ok && Run(find_args, (work / "hits.txt").string(), -1) && Run(BareCommand(k, statement));
        std::ifstream hits_in(work / "hits.txt");
        const long hits = std::count(std::istreambuf_iterator<char>(hits_in), {}, '\n');
        double bare = 1e9, find = 1e9, read = 1e9, connected = 1e9, locate = 1e9;
        std::size_t read_hits = 0;
        std::vector<std::string> plocate_args{"plocate", "-d", k.plocate_db, "-i"};
        plocate_args.insert(plocate_args.end(), s.args.begin(), s.args.end());
        long locate_hits = -1;
        if (!k.plocate_db.empty()) {
            Run(plocate_args, (work / "plocate.txt").string(), -1);
            std::ifstream in(work / "plocate.txt");
            locate_hits = std::count(std::istreambuf_iterator<char>(in), {}, '\n');
        }
        for (int r = 0; ok && r < repeat; ++r) {
            auto t = Clock::now();
            ok = Run(BareCommand(k, statement));
            bare = std::min(bare, Seconds(t));
            t = Clock::now();
            ok = ok && Run(find_args, "", hits > 0 ? 0 : 1);
            find = std::min(find, Seconds(t));

            InitTables(errors);
            t = Clock::now();
            Queue<QFILES_RECORD> qfiles;
            Queue<QCOMPUTER_RECORD> qcomputer;
            qcomputer.NAME = "BENCH";
            qcomputer.SYSCOMPUTER = 1;
            qcomputer.Add();
            FoundFiles found;
            std::string sent;
            const SearchOutcome outcome = ReadSearch(s.request, 1, qfiles, found, &sent);
            FillComputerNames(qfiles, qcomputer);
            read = std::min(read, Seconds(t));
            read_hits = qfiles.Records();
            KillTables();

            // The same read over a connection made before the clock starts.
            InitTables(errors);
            Relate::SQLF->Open();
            Access::SQLF->UseFile();
            {
                Queue<QFILES_RECORD> q2;
                FoundFiles f2;
                t = Clock::now();
                ReadSearch(s.request, 1, q2, f2);
                connected = std::min(connected, Seconds(t));
            }
            Relate::SQLF->Close();
            KillTables();
            if (!k.plocate_db.empty()) {
                t = Clock::now();
                Run(plocate_args, "", -1);
                locate = std::min(locate, Seconds(t));
            }
            if (outcome.error != 0 || sent != statement) {
                std::fprintf(stderr, "search_bench: the read failed or sent another statement: %s\n",
                             outcome.message.c_str());
                ok = false;
            }
        }
        if (!ok) break;
        std::printf(
            "%-10s %-9s hits %7ld (read %zu)  bare %.3f s  dtfind %.3f s  read %.3f s  read after connect "
            "%.3f s  "
            "dtfind/bare %.2f  read/bare %.2f",
            label, s.name, hits, read_hits, bare, find, read, connected, find / bare, read / bare);
        if (!k.plocate_db.empty())
            std::printf("  plocate -i %.3f s (%ld hits)  dtfind/plocate %.2f  connected-read/plocate %.2f",
                        locate, locate_hits, find / locate, connected / locate);
        std::printf("\n");
    }
    if (k.pg) {
        InitTables(errors);
        Master("DROP DATABASE IF EXISTS " + k.database);
        KillTables();
    }
    if (!ok) std::fprintf(stderr, "search_bench: %s failed\n", label);
    return ok;
}

int Bench(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    unsigned long files = 200000;
    std::string given_tree;
    bool pg = false, keep = false, index = true;
    unsigned long rows = 0;
    int repeat = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--files" && i + 1 < argc)
            files = std::strtoul(argv[++i], nullptr, 10);
        else if (a == "--tree" && i + 1 < argc)
            given_tree = argv[++i];
        else if (a == "--pg")
            pg = true;
        else if (a == "--rows" && i + 1 < argc)
            rows = std::strtoul(argv[++i], nullptr, 10);
        else if (a == "--no-index")
            index = false;
        else if (a == "--keep")
            keep = true;
        else if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(
                stderr,
                "usage: search_bench [--rows N | --files N | --tree DIR] [--repeat R] [--pg] [--no-index] "
                "[--keep]\n");
            return 2;
        }
    }
    if (pg && !test::PgServer::FromEnvironment()) {
        std::fprintf(stderr,
                     "search_bench: --pg needs DRIVETREK_TEST_PG_* (eval \"$(scripts/pg.sh start)\")\n");
        return 2;
    }
    test::TempDir work_dir("dt-search-bench-");
    if (work_dir.path().empty()) return 1;
    const fs::path work = work_dir.path();
    const fs::path old_cwd = fs::current_path();
    fs::current_path(work);
    const fs::path tree = given_tree.empty() ? work / "tree" : fs::absolute(old_cwd / given_tree);
    int result = 0;
    const fs::path csv = work / "rows.csv";
    const fs::path list = work / "paths.txt";
    const fs::path site_root = "/srv/dtsite/";
    if (rows > 0) {
        std::error_code ec;
        fs::remove_all(site_root, ec);
    }
    std::vector<Search> searches;
    std::string plocate_db;
    if (rows > 0) {
        auto t = Clock::now();
        // plocate lists only paths whose directories it can enter: the directories are made
        // (empty) under a root whose name holds none of the searched words.
        dt::bench::RowGenerator generator(rows, site_root.string());
        if (!generator.Write(csv.string(), list.string())) result = 1;
        std::error_code ec;
        for (const std::string& d : generator.Directories()) fs::create_directories(d, ec);
        std::printf("rows: %lu generated in %.1f s (directories under %s)\n", rows, Seconds(t),
                    site_root.c_str());
        searches = {{"selective", {"zanzibar"}, {}},
                    {"two-word", {"report", "2002"}, {}},
                    {"two-char", {"mp"}, {}},
                    {"broad", {"img"}, {}}};
        t = Clock::now();
        plocate_db = (work / "paths.plocate").string();
        if (result == 0 && !Run({"plocate-build", "-p", list.string(), plocate_db})) {
            std::fprintf(stderr, "search_bench: plocate-build failed (apt-get install plocate)\n");
            plocate_db.clear();
        } else {
            std::printf("plocate-build -p: %.2f s, %.1f MB\n", Seconds(t),
                        fs::file_size(plocate_db) / 1048576.0);
        }
    } else if (given_tree.empty()) {
        const auto t = Clock::now();
        if (!Run({"python3", std::string(DT_SOURCE_DIR) + "/bench/gen_tree.py", tree.string(), "--files",
                  std::to_string(files)})) {
            std::fprintf(stderr, "search_bench: gen_tree.py failed\n");
            result = 1;
        }
        std::printf("tree of %lu files made in %.1f s\n", files, Seconds(t));
    }
    if (result == 0 && rows == 0) {
        CsvWalk walk;
        walk.out = std::fopen(csv.c_str(), "w");
        if (walk.out) {
            walk.Directory(tree.string() + "/");
            std::fclose(walk.out);
        }
        std::printf("rows: %lu\n", walk.rows);
        if (walk.rows == 0) result = 1;
    }
    if (result == 0 && !RunKind(Kind{false, "searchbench", index, plocate_db, searches}, work, csv, repeat))
        result = 1;
    if (result == 0 && pg &&
        !RunKind(Kind{true, "searchbench" + std::to_string(::getpid()), index, plocate_db, searches}, work,
                 csv, repeat))
        result = 1;
    fs::current_path(old_cwd);
    if (rows > 0 && !keep) {
        std::error_code ec;
        fs::remove_all(site_root, ec);
    }
    if (keep) {
        work_dir.Keep();
        std::printf("kept %s\n", work.c_str());
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    return Bench(argc, argv);
}
