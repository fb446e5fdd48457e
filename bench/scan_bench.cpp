// scan_bench: the drive scan against its baseline, measured side by side in one run.
//
//   scan_bench [--files N] [--tree DIR] [--repeat R] [--pg] [--no-search-index] [--keep]
//
// Makes a tree of N files (default 200,000) with bench/gen_tree.py in a temporary
// directory (or uses DIR as it is), then measures
//   walk   a plain recursive walk of the tree (opendir, readdir, fstatat) that writes the
//          rows a scan would store as CSV,
//   load   the database's own bulk load of that CSV into a FILES table made by the
//          program itself (sqlite3's .import; PostgreSQL: psql's \copy),
//   scan   ScanDrives, unattended, of the same tree as a fixed drive, inside the window
//          layer's application (offscreen) with its working window pacing the work,
// and prints the ratio scan / (walk + load); then the scan against plocate's updatedb
// (from scratch, and over its own database for a rescan) on the same tree: the first scan,
// a rescan of the unchanged tree and a rescan after 1% of the files changed, and the
// scanning process's peak memory per stored file. With --repeat R each is measured R times (each
// round into fresh databases) and the fastest counts, since the machine may be busy. The embedded database is
// measured always; PostgreSQL with --pg, on the server the DRIVETREK_TEST_PG_* variables name (see
// scripts/pg.sh). The scan's database has the search and browse indexes drivetrek's start
// makes (its triggers work on every insert) unless --no-search-index is given. Everything
// made is removed at the end unless --keep is given.
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
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/scan.h"
#include "app/search_index.h"
#include "app/tables.h"
#include "app/upgrade.h"
#include "data/statements.h"
#include "framework/error_manager.h"
#include "runtime/errors.h"
#include "tests/support/env.h"
#include "tests/support/postgres.h"
#include "tests/support/process.h"
#include "tests/support/recording_errors.h"
#include "tests/support/temp_dir.h"
#include "ui/application.h"

namespace {

using namespace dt;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

using test::Env;

// The scan's database gets the search indexes before the scan (not with --no-search-index).
bool g_search_index = true;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Runs argv (no shell) with its output passed through; true when it exits with 0.
bool Run(const std::vector<std::string>& args, const std::string& stdin_file = "",
         const std::vector<std::pair<std::string, std::string>>& env = {}) {
    test::ProcessOptions o;
    o.input_file = stdin_file;
    o.pass_output = true;
    o.env = env;
    o.limit = std::chrono::hours(4);
    return test::RunProcess(args, o).Ok();
}

// ---- the baseline walk ----

// One CSV field in double quotes, quotes doubled.
void Quoted(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

struct PlainWalk {
    std::FILE* out = nullptr;
    unsigned long rows = 0;
    dev_t device = 0;
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
                if (st.st_dev == device) subdirs.emplace_back(e->d_name);
                continue;
            }
            Row(path, e->d_name, st);
        }
        ::closedir(d);
        for (const std::string& s : subdirs) Directory(path + s + "/");
    }

    void Row(const std::string& dir, std::string_view name, const struct stat& st) {
        std::string_view ext;
        if (std::size_t dot = name.rfind('.'); dot != std::string_view::npos) ext = name.substr(dot + 1, 10);
        std::tm tm{};
        ::localtime_r(&st.st_mtime, &tm);
        char when[32];
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
        int attrib = S_ISREG(st.st_mode) ? 32 : 0;
        if (name[0] == '.') attrib |= 2;
        if ((st.st_mode & S_IWUSR) == 0) attrib |= 1;
        line.clear();
        line += std::to_string(++rows) + ",1,";
        Quoted(line, name);
        line += ',';
        Quoted(line, ext);
        line += ',';
        Quoted(line, dir);
        line += ',' + std::to_string(attrib) + ',' + when + ',' +
                std::to_string(static_cast<std::uint32_t>(st.st_size)) + '\n';
        std::fwrite(line.data(), 1, line.size(), out);
    }
};

// ---- the program's side ----

// Sends one statement through SQLM (the server's master database); true on success.
bool Master(const std::string& sql) {
    Relate::SQLM->Open();
    bool ok = Access::SQLM->UseFile() == 0 && SetProperty(SQLM, PROP_SQL, sql) == 0;
    if (!ok)
        std::fprintf(stderr, "scan_bench: %s: %s %s\n", sql.c_str(), Error().c_str(), FileError().c_str());
    Relate::SQLM->Close();
    return ok;
}

// Makes the FILES table (with its indexes) in the database of the current owner text.
bool MakeFilesTable() {
    Relate::FILES->Open();
    int rc = Access::FILES->UseFile();
    Relate::FILES->Close();
    return rc == 0;
}

struct Measure {
    double walk = 0, load = 0, scan = 0;
    double rescan = 0, changed = 0;    // our rescans: unchanged tree, 1% changed
    double plocate_changed = 0;        // plocate over its database after the same change
    double bytes_per_file = 0;         // peak memory of the first scan per stored file
    double rescan_bytes_per_file = 0;  // ... and of the unchanged rescan
    unsigned long rows = 0, stored = 0, not_stored = 0;
};

// This process's resident size or its peak ("VmRSS:", "VmHWM:"), in bytes.
long MemoryField(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field)) * 1024;
    return 0;
}
// Starts a new peak: the kernel sets VmHWM to the present resident size.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// plocate's index of the tree (from scratch when `fresh`): the command the comparison uses.
bool Plocate(const fs::path& tree, const fs::path& db, bool fresh) {
    std::error_code ec;
    if (fresh) fs::remove(db, ec);
    return Run({"updatedb.plocate", "-l", "no", "--prunepaths", "", "--prunenames", "", "--prunefs", "",
                "--prune-bind-mounts", "no", "-U", tree.string(), "-o", db.string()});
}

// Changes 1% of the files: every 100th one is made longer, renamed (gone, and a new one)
// or joined by a new sibling, in turn. Undo puts the tree back (but the longer files).
struct OnePercent {
    std::vector<std::pair<fs::path, fs::path>> renamed;
    std::vector<fs::path> added;
    void Apply(const fs::path& tree) {
        std::vector<fs::path> files;
        for (auto& e : fs::recursive_directory_iterator(tree))
            if (e.is_regular_file()) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (std::size_t i = 0; i < files.size(); i += 100) {
            const fs::path& f = files[i];
            switch ((i / 100) % 3) {
                case 0:
                    std::ofstream(f, std::ios::app) << "changed";
                    break;
                case 1: {
                    fs::path to = f;
                    to += ".moved";
                    std::error_code ec;  // a name of the longest length cannot grow
                    fs::rename(f, to, ec);
                    if (!ec) renamed.emplace_back(f, to);
                    break;
                }
                default: {
                    fs::path n = f;
                    n += ".added";
                    std::ofstream(n) << "new";
                    added.push_back(n);
                }
            }
        }
    }
    void Undo() {
        std::error_code ec;
        for (auto& [from, to] : renamed) fs::rename(to, from, ec);
        for (auto& a : added) fs::remove(a, ec);
        renamed.clear();
        added.clear();
    }
};

struct Kind {
    bool pg = false;
    std::string server, login, bulk_db, scan_db;

    std::string Owner(const std::string& db) const {
        return server + "," + db + login + ";APP=DRIVETREK;WSID=BENCH";
    }
};

bool RunOne(const Kind& kind, const fs::path& work, const fs::path& tree, const fs::path& csv,
            unsigned long rows, Measure& m) {
    test::RecordingErrors errors(test::RecordingErrors::Unanswered::DefaultButton, "scan_bench");
    ::setenv("DRIVETREK_PROFILE", (work / (kind.pg ? "pg.ini" : "embedded.ini")).c_str(), 1);
    GLO::SQLMASTEROWNER = kind.Owner(kind.pg ? "postgres" : "master");
    InitTables(errors);
    bool ok = true;
    if (kind.pg) ok = Master("CREATE DATABASE " + kind.bulk_db) && Master("CREATE DATABASE " + kind.scan_db);

    // The bulk load into a FILES table the program made, by the database's own tool.
    GLO::SQLOWNER = kind.Owner(kind.bulk_db);
    ok = ok && MakeFilesTable();
    // With the indexes a scan's database has (the upgrade step's).
    ok = ok && RunUpgrade(GLO::SQLOWNER.Str()).ok;
    KillTables();  // no connection is left open on the bulk database
    if (ok) {
        auto t = Clock::now();
        if (kind.pg) {
            const test::PgServer pg = *test::PgServer::FromEnvironment();
            ok = Run({"psql", "-q", "-h", pg.host, "-p", pg.port, "-U", pg.user, "-d", kind.bulk_db, "-v",
                      "ON_ERROR_STOP=1", "-c", "\\copy files from '" + csv.string() + "' with (format csv)"},
                     "", {{"PGPASSWORD", pg.password}});
        } else {
            ok = Run({"sqlite3", (work / (kind.bulk_db + ".db")).string(), ".mode csv",
                      ".import " + csv.string() + " FILES"});
        }
        m.load = Seconds(t);
        if (!ok) std::fprintf(stderr, "scan_bench: the bulk load failed\n");
    }

    // The scan, as "/S" runs it.
    InitTables(errors);
    GLO::SQLOWNER = kind.Owner(kind.scan_db);
    Relate::COMPUTER->Open();
    COMPUTER.Record() = COMPUTER_RECORD{};
    COMPUTER.NAME = "BENCH";
    ok = ok && Access::COMPUTER->Insert() == 0;
    ok = ok && MakeFilesTable();  // the table is made before the clock starts, like a second scan
    if (ok && g_search_index)
        ok = RunUpgrade(GLO::SQLOWNER.Str(), [] { PrepareSearchIndexes(true, nullptr); }).ok;
    if (ok) {
        Queue<QDRIVE_RECORD> qdrive;
        qdrive.DRIVE = tree.string() + "/";
        qdrive.TYPE = 3;
        qdrive.Add();
        ScanContext ctx;
        ctx.QDRIVE = &qdrive;
        ctx.unattended = 1;
        long rss = MemoryField("VmRSS:");
        ResetPeak();
        auto t = Clock::now();
        ScanDrives(ctx);
        m.scan = Seconds(t);
        m.bytes_per_file = double(MemoryField("VmHWM:") - rss) / double(std::max<ULONG>(1, ctx.files_stored));
        // The same tree again, unchanged; then after 1% of its files changed, beside plocate
        // over its own database after the same change.
        ScanContext again;
        again.QDRIVE = &qdrive;
        again.unattended = 1;
        rss = MemoryField("VmRSS:");
        ResetPeak();
        t = Clock::now();
        ScanDrives(again);
        m.rescan = Seconds(t);
        m.rescan_bytes_per_file =
            double(MemoryField("VmHWM:") - rss) / double(std::max<ULONG>(1, again.files_stored));
        const fs::path pdb = work / "plocate-changed.db";
        Plocate(tree, pdb, true);
        OnePercent change;
        change.Apply(tree);
        t = Clock::now();
        Plocate(tree, pdb, false);
        m.plocate_changed = Seconds(t);
        ScanContext changed;
        changed.QDRIVE = &qdrive;
        changed.unattended = 1;
        t = Clock::now();
        ScanDrives(changed);
        m.changed = Seconds(t);
        change.Undo();
        m.stored = ctx.files_stored;
        m.not_stored = ctx.files_not_stored;
        // A name the server cannot hold (not UTF-8 on PostgreSQL) is counted as not stored.
        ok = ctx.outcome == ScanOutcome::Done;
        if (ctx.files_stored + ctx.files_not_stored != rows)
            std::fprintf(stderr, "scan_bench: the scan stored %lu and did not store %lu of %lu files\n",
                         static_cast<unsigned long>(ctx.files_stored),
                         static_cast<unsigned long>(ctx.files_not_stored), rows);
    }
    Relate::COMPUTER->Close();
    KillTables();
    if (kind.pg) {
        InitTables(errors);
        Master("DROP DATABASE IF EXISTS " + kind.bulk_db);
        Master("DROP DATABASE IF EXISTS " + kind.scan_db);
        KillTables();
    }
    return ok;
}

double g_plocate_fresh = 0, g_plocate_rescan = 0;

void Report(const char* name, const Measure& m) {
    const double base = m.walk + m.load;
    std::printf("%-10s rows %lu  walk %.2f s  load %.2f s  baseline %.2f s  scan %.2f s  ratio %.2f\n", name,
                m.rows, m.walk, m.load, base, m.scan, base > 0 ? m.scan / base : 0.0);
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("%-10s plocate from scratch %.2f s: first scan / plocate %.2f\n", name, g_plocate_fresh,
                ratio(m.scan, g_plocate_fresh));
    std::printf("%-10s rescan unchanged %.2f s, plocate rescan %.2f s: ratio %.2f\n", name, m.rescan,
                g_plocate_rescan, ratio(m.rescan, g_plocate_rescan));
    std::printf("%-10s rescan after 1%% changed %.2f s, plocate %.2f s: ratio %.2f\n", name, m.changed,
                m.plocate_changed, ratio(m.changed, m.plocate_changed));
    std::printf("%-10s memory peak per stored file: first scan %.0f bytes, rescan %.0f bytes\n", name,
                m.bytes_per_file, m.rescan_bytes_per_file);
}

int Bench(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    unsigned long files = 200000;
    std::string given_tree;
    bool pg = false, keep = false;
    int repeat = 1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--files" && i + 1 < argc)
            files = std::strtoul(argv[++i], nullptr, 10);
        else if (a == "--tree" && i + 1 < argc)
            given_tree = argv[++i];
        else if (a == "--pg")
            pg = true;
        else if (a == "--no-search-index")
            g_search_index = false;
        else if (a == "--keep")
            keep = true;
        else if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr,
                         "usage: scan_bench [--files N] [--tree DIR] [--repeat R] [--pg] [--no-search-index] "
                         "[--keep]\n");
            return 2;
        }
    }
    if (pg && !test::PgServer::FromEnvironment()) {
        std::fprintf(stderr,
                     "scan_bench: --pg needs DRIVETREK_TEST_PG_* (eval \"$(scripts/pg.sh start)\")\n");
        return 2;
    }

    test::TempDir work_dir("dt-scan-bench-");
    if (work_dir.path().empty()) return 1;
    const fs::path work = work_dir.path();
    const fs::path old_cwd = fs::current_path();
    fs::current_path(work);
    // The system profile names the driver: none for the embedded database (its fallback),
    // psqlODBC for PostgreSQL.
    std::ofstream(work / "embedded.ini") << "";
    std::ofstream(work / "pg.ini") << "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n";

    fs::path tree = given_tree.empty() ? work / "tree" : fs::absolute(old_cwd / given_tree);
    int result = 0;
    if (given_tree.empty()) {
        auto t = Clock::now();
        if (!Run({"python3", std::string(DT_SOURCE_DIR) + "/bench/gen_tree.py", tree.string(), "--files",
                  std::to_string(files)})) {
            std::fprintf(stderr, "scan_bench: gen_tree.py failed\n");
            result = 1;
        }
        std::printf("tree of %lu files made in %.1f s\n", files, Seconds(t));
    }
    std::printf("search indexes in the scan's database: %s\n", g_search_index ? "yes" : "no");

    Measure m;
    const fs::path csv = work / "rows.csv";
    for (int rep = 0; result == 0 && rep < repeat; ++rep) {
        PlainWalk walk;
        walk.out = std::fopen(csv.c_str(), "w");
        struct stat st;
        if (walk.out && ::stat(tree.c_str(), &st) == 0) {
            walk.device = st.st_dev;
            auto t = Clock::now();
            walk.Directory(tree.string() + "/");
            std::fflush(walk.out);
            m.walk = rep == 0 ? Seconds(t) : std::min(m.walk, Seconds(t));
        }
        if (walk.out) std::fclose(walk.out);
        m.rows = walk.rows;
        // plocate's updatedb over the same tree: from scratch, then over its database.
        const fs::path pdb = work / "plocate.db";
        auto t = Clock::now();
        if (!Plocate(tree, pdb, true)) std::fprintf(stderr, "scan_bench: updatedb.plocate failed\n");
        g_plocate_fresh = rep == 0 ? Seconds(t) : std::min(g_plocate_fresh, Seconds(t));
        t = Clock::now();
        Plocate(tree, pdb, false);
        g_plocate_rescan = rep == 0 ? Seconds(t) : std::min(g_plocate_rescan, Seconds(t));
    }

    // Each kind: `repeat` rounds of load and scan into fresh databases; the fastest of
    // each counts (the machine may be busy with other work).
    auto measure = [&](Kind k, const char* name, const std::string& prefix) {
        Measure best = m;
        for (int rep = 0; result == 0 && rep < repeat; ++rep) {
            Measure one = m;
            k.bulk_db = prefix + "bulk" + std::to_string(rep);
            k.scan_db = prefix + "scan" + std::to_string(rep);
            if (!RunOne(k, work, tree, csv, m.rows, one)) {
                result = 1;
                break;
            }
            best.load = rep == 0 ? one.load : std::min(best.load, one.load);
            best.scan = rep == 0 ? one.scan : std::min(best.scan, one.scan);
            best.rescan = rep == 0 ? one.rescan : std::min(best.rescan, one.rescan);
            best.changed = rep == 0 ? one.changed : std::min(best.changed, one.changed);
            best.plocate_changed =
                rep == 0 ? one.plocate_changed : std::min(best.plocate_changed, one.plocate_changed);
            best.bytes_per_file = one.bytes_per_file;
            best.rescan_bytes_per_file = one.rescan_bytes_per_file;
            std::error_code ignore;
            fs::remove(work / (k.bulk_db + ".db"), ignore);
            fs::remove(work / (k.scan_db + ".db"), ignore);
        }
        if (result == 0) Report(name, best);
    };
    if (result == 0) {
        Kind k;
        k.server = "Server";
        k.login = ",sa,";
        measure(k, "embedded", "");
    }
    if (result == 0 && pg) {
        Kind k;
        k.pg = true;
        const test::PgServer server = *test::PgServer::FromEnvironment();
        k.server = server.Server();
        k.login = server.Login();
        measure(k, "postgresql", "dt" + std::to_string(::getpid()));
    }

    std::error_code ec;
    fs::current_path(old_cwd, ec);
    if (keep) {
        work_dir.Keep();
        std::printf("kept %s\n", work.c_str());
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    dt::ui::Application::UseOffscreen();
    int result = 0;
    dt::ui::RunApplication(argc, argv, [&] {
        result = Bench(argc, argv);
        return result;
    });
    return result;
}
