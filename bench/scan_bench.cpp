// scan_bench: the drive scan against its baseline, measured side by side in one run.
//
//   scan_bench [--files N] [--tree DIR] [--repeat R] [--pg | --pg-only] [--no-search-index] [--keep]
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
// scripts/pg.sh); --pg-only measures PostgreSQL alone (its peak memory is meaningful only then:
// the embedded rounds before it leave a heap that hides it; likewise only the first round's
// memory counts). The scan's database has the search and browse indexes drivetrek's start
// makes (its triggers work on every insert) unless --no-search-index is given. Everything
// made is removed at the end unless --keep is given.
//
//   scan_bench --site [--files N] [--tree DIR] [--keep]
//
// measures a site instead: four computers (drivetrek /S as four programs, each with its own
// tree of N files, default 50,000) scan into one PostgreSQL database, first one after another
// into a new database, then all at once into another. It prints the sum of the four
// one-after-another times beside the wall time of the four at once, and the longest time any
// session of the scans' database was seen waiting for a lock (pg_stat_activity, sampled
// every 100 ms from a connection of its own: now() - query_start of a session whose
// wait_event_type is Lock; an upper bound of the wait, as the statement may have run before
// it waited). With --tree DIR the four trees are DIR/tree1 to tree4, made when missing.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "app/scan.h"
#include "app/search_index.h"
#include "app/tables.h"
#include "app/upgrade.h"
#include "data/sql_session.h"
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
    // With the indexes a scan's database has (the upgrade step's, the search's among them
    // unless --no-search-index), so that the load pays for the same indexes as the scan.
    ok = ok && (g_search_index ? RunUpgrade(GLO::SQLOWNER.Str(), [] { PrepareSearchIndexes(true, nullptr); })
                               : RunUpgrade(GLO::SQLOWNER.Str()))
                   .ok;
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
        m.bytes_per_file =
            double(MemoryField("VmHWM:") - rss) / double(std::max<dt::ULONG>(1, ctx.files_stored));
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
            double(MemoryField("VmHWM:") - rss) / double(std::max<dt::ULONG>(1, again.files_stored));
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

// ---- a site: four computers scanning into one PostgreSQL database ----

// The load average of the last minute (as uptime shows it).
std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Samples pg_stat_activity every 100 ms on a connection of its own while it lives: the
// longest time a session of `database` was seen waiting for a lock, and what it waited on.
class LockWaitSampler {
  public:
    LockWaitSampler(const std::string& owner, const std::string& database) {
        Diag d;
        session_ = SqlSession::Open(owner, "", d);
        if (!session_) {
            std::fprintf(stderr, "scan_bench: the sampler cannot connect: %s\n", d.message.c_str());
            return;
        }
        query_ =
            "SELECT EXTRACT(EPOCH FROM now() - query_start) || ' ' || wait_event || ': ' || "
            "left(regexp_replace(query, '\\s+', ' ', 'g'), 100) FROM pg_stat_activity "
            "WHERE wait_event_type = 'Lock' AND datname = '" +
            database + "' ORDER BY now() - query_start DESC LIMIT 1";
        thread_ = std::thread([this] {
            while (!stop_) {
                std::string v;
                if (session_->QueryValue(query_, v)) {
                    ++samples_;
                    const double wait = v.empty() ? 0.0 : std::strtod(v.c_str(), nullptr);
                    if (wait > longest_) {
                        longest_ = wait;
                        event_ = v.substr(v.find(' ') + 1);
                    }
                    if (wait > 0) ++waiting_;
                } else {
                    ++failed_;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    ~LockWaitSampler() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    double Longest() const { return longest_; }
    const std::string& Event() const { return event_; }
    unsigned long Samples() const { return samples_; }
    unsigned long Waiting() const { return waiting_; }
    unsigned long Failed() const { return failed_; }

  private:
    std::unique_ptr<SqlSession> session_;
    std::string query_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    double longest_ = 0;
    std::string event_ = "-";
    unsigned long samples_ = 0, waiting_ = 0, failed_ = 0;
};

struct Computer {
    fs::path dir, tree;
    std::string name;
};

// drivetrek /S of `c` into `database`: its settings file, then the program.
test::ProcessOptions ScanOptions(const Computer& c, const fs::path& work) {
    test::ProcessOptions o;
    o.directory = c.dir.string();
    o.env = {{"DRIVETREK_PROFILE", (work / "pg.ini").string()},
             {"DRIVETREK_COMPUTERNAME", c.name},
             {"QT_QPA_PLATFORM", "offscreen"}};
    o.out_file = (c.dir / "out.txt").string();
    o.err_file = (c.dir / "err.txt").string();
    o.limit = std::chrono::hours(1);
    return o;
}

void WriteSettings(const Computer& c, const test::PgServer& pg, const std::string& database) {
    std::ofstream(c.dir / "drivetrek.ini")
        << "[database]\nserver=" << pg.Server() << "\ndatabase=" << database << "\nuser=" << pg.user
        << "\npass=" << pg.password << "\n[scan]\nroots=" << c.tree.string() << "/\n";
}

// The program's first summary line, or why it failed.
bool ScanEnded(const Computer& c, const test::ProcessResult& r) {
    const std::string out = test::ReadFile((c.dir / "out.txt").string());
    const std::string first = out.substr(0, out.find('\n'));
    std::printf("  %s: status %d, %s\n", c.name.c_str(), r.status, first.c_str());
    if (r.status != 0) std::fprintf(stderr, "%s\n", test::ReadFile((c.dir / "err.txt").string()).c_str());
    return r.status == 0;
}

int Site(const fs::path& work, const fs::path& trees, unsigned long files) {
    const std::optional<test::PgServer> pg = test::PgServer::FromEnvironment();
    if (!pg) {
        std::fprintf(stderr,
                     "scan_bench: --site needs DRIVETREK_TEST_PG_* (eval \"$(scripts/pg.sh start)\")\n");
        return 2;
    }
    std::vector<Computer> computers(4);
    for (std::size_t i = 0; i < computers.size(); ++i) {
        Computer& c = computers[i];
        c.name = "SITE" + std::to_string(i + 1);
        c.dir = work / ("computer" + std::to_string(i + 1));
        c.tree = trees / ("tree" + std::to_string(i + 1));
        fs::create_directories(c.dir);
        if (!fs::exists(c.tree) &&
            !Run({"python3", std::string(DT_SOURCE_DIR) + "/bench/gen_tree.py", c.tree.string(), "--files",
                  std::to_string(files), "--seed", std::to_string(i + 1)}))
            return 1;
    }
    const std::string prefix = "dt" + std::to_string(::getpid());
    const std::string one_by_one = prefix + "seq", at_once = prefix + "site";
    std::string error;
    if (!pg->CreateDatabase(one_by_one, &error) || !pg->CreateDatabase(at_once, &error)) {
        std::fprintf(stderr, "scan_bench: %s\n", error.c_str());
        return 1;
    }
    bool ok = true;
    std::printf("site: 4 computers, %lu files each; load before: %s\n", files, LoadAverage().c_str());

    // One after another, each into the same database (the first makes the tables).
    double sum = 0;
    for (const Computer& c : computers) {
        WriteSettings(c, *pg, one_by_one);
        const auto t = Clock::now();
        const test::ProcessResult r = test::RunProcess({DRIVETREK_PATH, "/S"}, ScanOptions(c, work));
        const double took = Seconds(t);
        sum += took;
        std::printf("  one after another: %s %.2f s\n", c.name.c_str(), took);
        ok = ScanEnded(c, r) && ok;
    }
    std::printf("site one after another: sum %.2f s; load %s\n", sum, LoadAverage().c_str());

    // All four at once into a database without tables, the lock waits sampled meanwhile.
    double wall = 0;
    {
        ::setenv("DRIVETREK_PROFILE", (work / "pg.ini").c_str(), 1);
        LockWaitSampler sampler(pg->Owner(at_once, "SAMPLER"), at_once);
        for (const Computer& c : computers) WriteSettings(c, *pg, at_once);
        const auto t = Clock::now();
        std::vector<std::unique_ptr<test::Process>> running;
        for (const Computer& c : computers)
            running.push_back(std::make_unique<test::Process>(std::vector<std::string>{DRIVETREK_PATH, "/S"},
                                                              ScanOptions(c, work)));
        std::vector<test::ProcessResult> results;
        for (auto& p : running) results.push_back(p->Wait());
        wall = Seconds(t);
        sampler.Stop();
        for (std::size_t i = 0; i < computers.size(); ++i) ok = ScanEnded(computers[i], results[i]) && ok;
        std::printf("site at once: wall %.2f s against the sum %.2f s: ratio %.2f; load %s\n", wall, sum,
                    sum > 0 ? wall / sum : 0.0, LoadAverage().c_str());
        std::printf(
            "site at once: longest lock wait seen %.2f s (%s); %lu samples, %lu with a session waiting, "
            "%lu failed\n",
            sampler.Longest(), sampler.Event().c_str(), sampler.Samples(), sampler.Waiting(),
            sampler.Failed());
    }
    // Each computer's rows in both databases.
    for (const std::string& db : {one_by_one, at_once}) {
        std::string counts;
        test::ProcessOptions o;
        o.env = {{"PGPASSWORD", pg->password}};
        const test::ProcessResult r = test::RunProcess(
            {"psql", "-At", "-h", pg->host, "-p", pg->port, "-U", pg->user, "-d", db, "-c",
             "SELECT c.Name || ' ' || COUNT(f.SysFILES) || ' rows, ' || COUNT(DISTINCT f.SysFILES) || ' "
             "numbers' "
             "FROM COMPUTER c LEFT JOIN FILES f ON f.SysCOMPUTER = c.SysCOMPUTER GROUP BY c.Name ORDER BY 1"},
            o);
        std::printf("  %s: %s", db == at_once ? "at once" : "one after another", r.out.c_str());
    }
    pg->DropDatabase(one_by_one);
    pg->DropDatabase(at_once);
    return ok ? 0 : 1;
}

int Bench(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    unsigned long files = 200000;
    std::string given_tree;
    bool pg = false, pg_only = false, keep = false, site = false;
    int repeat = 1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--files" && i + 1 < argc)
            files = std::strtoul(argv[++i], nullptr, 10);
        else if (a == "--tree" && i + 1 < argc)
            given_tree = argv[++i];
        else if (a == "--pg")
            pg = true;
        else if (a == "--pg-only")
            pg = pg_only = true;
        else if (a == "--no-search-index")
            g_search_index = false;
        else if (a == "--keep")
            keep = true;
        else if (a == "--site")
            site = true;
        else if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr,
                         "usage: scan_bench [--files N] [--tree DIR] [--repeat R] [--pg | --pg-only] "
                         "[--no-search-index] [--keep]\n"
                         "       scan_bench --site [--files N] [--tree DIR] [--keep]\n");
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

    if (site) {
        const int r = Site(work, given_tree.empty() ? work : fs::absolute(old_cwd / given_tree),
                           files == 200000 ? 50000 : files);
        fs::current_path(old_cwd);
        if (keep) work_dir.Keep();
        return r;
    }
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
            // Memory only from the first round: later rounds start with the heap the
            // earlier ones left, which hides their peak.
            if (rep == 0) {
                best.bytes_per_file = one.bytes_per_file;
                best.rescan_bytes_per_file = one.rescan_bytes_per_file;
            }
            std::error_code ignore;
            fs::remove(work / (k.bulk_db + ".db"), ignore);
            fs::remove(work / (k.scan_db + ".db"), ignore);
        }
        if (result == 0) Report(name, best);
    };
    if (result == 0 && !pg_only) {
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
