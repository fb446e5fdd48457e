// browse_bench: the file browse's steps over FILES tables of two sizes, each in a process
// of its own so that its peak memory is its own. The rows are loaded by the database's own
// bulk tool (sqlite3 ".import"; psql "\copy" when DRIVETREK_TEST_PG_* are set and
// BROWSE_BENCH_PG=1), then the browse manager opens the view in name order and fills a
// list of 21 rows, pages down, jumps to the end and back to the top, answers a locator
// keystroke, and switches to the size order. The browse order indexes of the program's
// start (BrowseOrderIndexes) are made after the load. Each step's time and
// the peak memory are printed for both sizes, with the ratio large / small: a ratio near 1
// shows that nothing grows with the table.
//
//   browse_bench [large_rows] [small_rows]     (default 1000000 and 10000)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/search_index.h"
#include "app/tables.h"
#include "data/statements.h"
#include "data/view.h"
#include "framework/browse_manager.h"
#include "framework/error_manager.h"
#include "framework/window_manager.h"
#include "platform/text.h"
#include "runtime/errors.h"
#include "tests/support/env.h"
#include "tests/support/postgres.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace dt;

struct Result {
    double seconds[7] = {};
    long peak_kb = 0;
    long statements = 0;
};
const char* kSteps[] = {"bulk load (tool)", "open + first page", "page down", "end of view",
                        "back to the top",  "locator keystroke", "size order"};

using dt::test::Env;

// Rows as CSV in the column order the driver creates FILES with.
void WriteRows(const std::string& path, long rows) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    const char* words[] = {"report", "notes", "photo", "Invoice", "setup", "readme", "data", "main"};
    for (long i = 1; i <= rows; ++i) {
        std::fprintf(f, "%ld,%ld,%s%ld.txt,txt,/home/user%ld/,32,2023-%02ld-%02ld 10:%02ld:00.00,%ld\n", i,
                     1 + i % 3, words[i % 8], (i * 7919) % 100000, i % 50, 1 + i % 12, 1 + i % 28, i % 60,
                     (i * 37) % 100000);
    }
    std::fclose(f);
}

double Time(const std::function<void()>& fn) {
    auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One size, in the calling (child) process. Writes its figures to `out`.
int RunOne(long rows, bool pg, const std::string& out) {
    dt::test::TempDir work_dir("dt-browse-bench-");
    const std::filesystem::path dir = work_dir.path();
    if (dir.empty()) return 1;
    std::filesystem::current_path(dir);
    {
        std::ofstream ini(dir / "win.ini");
        if (pg) ini << "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n";
    }
    ::setenv("DRIVETREK_PROFILE", (dir / "win.ini").c_str(), 1);
    const std::string table = "FILES";
    if (pg) {
        GLO::SQLOWNER = dt::test::PgServer::FromEnvironment()->Owner("postgres", "BENCH");
    } else {
        GLO::SQLOWNER = "Server,bench,sa,;APP=DRIVETREK;WSID=BENCH";
    }
    ErrorManager errors;
    errors.Startup("/dev/null");
    errors.SILENT = 1;
    InitTables(errors);
    Result r;
    // The table as the program creates it, then the rows through the bulk tool, then the
    // indexes (built after the load, as a bulk load is done).
    Remove(FILES.file);
    if (Create(FILES.file) != 0) {
        std::fprintf(stderr, "create: %s %s\n", Error().c_str(), FileError().c_str());
        return 1;
    }
    const std::string csv = (dir / "rows.csv").string();
    WriteRows(csv, rows);
    // No shell: the password and the paths go to the tool as they are.
    std::vector<std::string> cmd;
    dt::test::ProcessOptions load;
    load.pass_output = true;
    load.limit = std::chrono::hours(4);
    if (pg) {
        const dt::test::PgServer server = *dt::test::PgServer::FromEnvironment();
        cmd = {"psql", "-q",        "-h", server.host, "-p", server.port,
               "-U",   server.user, "-d", "postgres",  "-c", "\\copy files from '" + csv + "' csv"};
        load.env = {{"PGPASSWORD", server.password}};
    } else {
        cmd = {"sqlite3", "-batch", "bench.db", ".mode csv", ".import " + csv + " " + table};
    }
    r.seconds[0] = Time([&] {
        if (!dt::test::RunProcess(cmd, load).Ok())
            std::fprintf(stderr, "bulk load failed: %s\n", cmd[0].c_str());
        Open(FILES.file);
        Build(FILES.file);
        // The browse order indexes the program's start creates.
        const SqlRunner run = RunnerOf(FILES.file, [] { return std::string(); });
        for (const NamedIndex& index : BrowseOrderIndexes(pg ? ServerKind::PostgreSQL : ServerKind::Embedded))
            if (run(index.create, nullptr) != 0)
                std::fprintf(stderr, "%s: %s\n", index.name.c_str(), FileError().c_str());
        Close(FILES.file);
    });
    std::filesystem::remove(csv);

    Relate::FILES->Open();
    Access::FILES->UseFile();
#pragma pack(push, 1)
    struct Entry {
        CSTRING<257> NAME;
        dt::INT64 SIZE;
        dt::ULONG SYSFILES;
        STRING<1024> POSITION;
    };
#pragma pack(pop)
    Queue<Entry> queue;
    ListQueue<Entry> adapter(queue);
    View view(FILES.file);
    WindowManager window;
    BrowseManager brw;
    brw.Init(1, queue.POSITION, view, adapter, *Relate::FILES, window);
    brw.AddSortOrder(&FILES.KEYNAME_FILES);
    brw.AppendOrder("FILES:SysFILES");
    EntryLocator locator;
    locator.Init(2, "FILES:NAME", 1);
    brw.AddLocator(locator);
    brw.AddField(FILES.NAME, queue.NAME);
    brw.AddField(FILES.SIZE, queue.SIZE);
    brw.AddField(FILES.SYSFILES, queue.SYSFILES);
    brw.LASTITEMS = 21;
    r.seconds[1] = Time([&] { brw.ResetSort(1); });
    if (queue.Records() != 21) std::fprintf(stderr, "first page: %zu rows\n", queue.Records());
    r.seconds[2] = Time([&] { brw.ScrollPage(true); });
    r.seconds[3] = Time([&] { brw.ScrollEnd(true); });
    r.seconds[4] = Time([&] { brw.ScrollEnd(false); });
    r.seconds[5] = Time([&] { brw.Locate("R"); });
    queue.Get(1);
    if (UpperChar(queue.NAME.View()[0]) != 'R')
        std::fprintf(stderr, "locator: %s\n", queue.NAME.Str().c_str());
    r.seconds[6] = Time([&] {
        brw.SetOrder("FILES:Size");
        brw.AppendOrder("FILES:SysFILES");
        brw.ResetSort(1);
    });
    r.statements = view.Statements();
    brw.Kill();
    Relate::FILES->Close();
    if (pg) Remove(FILES.file);  // the server's table; SQLite's goes with the directory
    KillTables();
    errors.Shutdown();
    struct rusage ru {};
    ::getrusage(RUSAGE_SELF, &ru);
    r.peak_kb = ru.ru_maxrss;
    std::filesystem::current_path("/");
    std::FILE* f = std::fopen(out.c_str(), "w");
    for (double s : r.seconds) std::fprintf(f, "%.6f\n", s);
    std::fprintf(f, "%ld\n%ld\n", r.peak_kb, r.statements);
    std::fclose(f);
    return 0;
}

bool Measure(long rows, bool pg, Result& r) {
    const std::string out = "/tmp/dt-browse-bench-" + std::to_string(::getpid()) + "-" + std::to_string(rows);
    const pid_t child = ::fork();
    if (child == 0) std::_Exit(RunOne(rows, pg, out));
    int status = 0;
    ::waitpid(child, &status, 0);
    std::FILE* f = std::fopen(out.c_str(), "r");
    if (f == nullptr) return false;
    bool ok = true;
    for (double& s : r.seconds) ok = ok && std::fscanf(f, "%lf", &s) == 1;
    ok = ok && std::fscanf(f, "%ld %ld", &r.peak_kb, &r.statements) == 2;
    std::fclose(f);
    std::remove(out.c_str());
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const long large = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    const long small = argc > 2 ? std::atol(argv[2]) : 10'000;
    const bool pg = Env("BROWSE_BENCH_PG") == "1" && dt::test::PgServer::FromEnvironment();
    Result a, b;
    if (!Measure(small, pg, a) || !Measure(large, pg, b)) {
        std::fprintf(stderr, "browse_bench: a run failed\n");
        return 1;
    }
    std::printf("browse over %s: %ld rows against %ld rows (list of 21 rows, pages of 20)\n",
                pg ? "PostgreSQL" : "SQLite", large, small);
    std::printf("%-24s %12s %12s %8s\n", "step", "small s", "large s", "ratio");
    for (int i = 0; i < 7; ++i)
        std::printf("%-24s %12.4f %12.4f %8.2f\n", kSteps[i], a.seconds[i], b.seconds[i],
                    a.seconds[i] > 0 ? b.seconds[i] / a.seconds[i] : 0.0);
    std::printf("%-24s %12ld %12ld %8.2f\n", "peak memory (KiB)", a.peak_kb, b.peak_kb,
                a.peak_kb > 0 ? double(b.peak_kb) / double(a.peak_kb) : 0.0);
    std::printf("%-24s %12ld %12ld\n", "statements sent", a.statements, b.statements);
    return 0;
}
