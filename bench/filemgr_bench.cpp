// filemgr_bench: the cost of the file manager's auto-numbered insert. The same N rows of
// the FILES layout go into the embedded database three ways in one run, each into a
// database of its own in a temporary directory:
//   add       the bare ADD with the row number set by the caller (the driver alone),
//   tryinsert Access::FILES->TryInsert(), which numbers each row itself,
//   load      the database's own bulk load of the same rows (sqlite3's .import of a CSV)
// and prints rows per second and the ratios tryinsert/add and tryinsert/load.
// The first two run inside one transaction each, as a scan would.
//   usage: filemgr_bench [rows]   (default 20000)
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/tables.h"
#include "data/statements.h"
#include "framework/error_manager.h"
#include "runtime/errors.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

// Nothing is shown; a fatal message is only printed.
class BenchErrors : public dt::ErrorManager {
  public:
    BenchErrors() {
        Startup("/dev/null");
        SILENT = 1;
        SetHaltHandler([](const dt::HaltRequest& r) { std::fprintf(stderr, "fatal: %s\n", r.text.c_str()); });
    }
    ~BenchErrors() override { Shutdown(); }
};

void Fill(long i) {
    dt::FILES.Record() = dt::FILES_RECORD{};
    dt::FILES.SYSCOMPUTER = 1;
    dt::FILES.NAME = "file" + std::to_string(i) + ".dat";
    dt::FILES.EXTENSION = "dat";
    dt::FILES.DIR = "/home/user/dir" + std::to_string(i % 97) + "/";
    dt::FILES.TYPE = 32;
    dt::FILES.DATE_DATE = dt::DATE{12, 5, 2024};
    dt::FILES.DATE_TIME = dt::TIME{0, 10, 20, 8};
    dt::FILES.SIZE = static_cast<dt::ULONG>(i * 37);
}

// Opens FILES of database `db` (created when missing) through its relation manager.
bool OpenFiles(const std::string& db) {
    dt::GLO::SQLOWNER = "Server," + db + ",sa,;APP=DRIVETREK;WSID=BENCH";
    dt::Relate::FILES->Open();
    return dt::Access::FILES->UseFile() == 0;
}

// Runs `fn` for rows 0 .. n-1 inside one transaction; seconds taken, or -1 on failure.
template <class Fn>
double Timed(long n, Fn fn) {
    auto start = Clock::now();
    if (dt::Logout(10, {&dt::FILES.file}) != 0) return -1;
    for (long i = 0; i < n; ++i)
        if (!fn(i)) {
            (void)dt::Rollback();
            return -1;
        }
    if (dt::Commit() != 0) return -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a program with arguments (no shell), its output passed through; true when it exits with 0.
bool Run(const std::vector<std::string>& args) {
    dt::test::ProcessOptions o;
    o.pass_output = true;
    o.limit = std::chrono::hours(4);
    return dt::test::RunProcess(args, o).Ok();
}

}  // namespace

int main(int argc, char** argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 20000;
    const dt::test::TempWorkDir work_dir("dt-filemgr-bench-");
    if (work_dir.path().empty()) return 1;
    const std::filesystem::path work = work_dir.path();
    std::ofstream(work / "win.ini").close();
    ::setenv("DRIVETREK_PROFILE", (work / "win.ini").c_str(), 1);

    BenchErrors errors;
    int rc = 0;
    dt::InitTables(errors);
    double add = -1, managed = -1, load = -1;
    if (OpenFiles("bare"))
        add = Timed(n, [](long i) {
            Fill(i);
            dt::FILES.SYSFILES = static_cast<dt::ULONG>(i + 1);
            return dt::Add(dt::FILES) == 0;
        });
    dt::Relate::FILES->Close();
    dt::KillTables();

    dt::InitTables(errors);
    if (OpenFiles("managed"))
        managed = Timed(n, [](long i) {
            Fill(i);
            return dt::Access::FILES->TryInsert() == 0 && dt::FILES.SYSFILES == static_cast<dt::ULONG>(i + 1);
        });
    dt::Relate::FILES->Close();

    // The bulk load goes into a FILES table the program made.
    bool made = OpenFiles("bulk");
    dt::Relate::FILES->Close();
    dt::KillTables();
    if (made) {
        {
            std::ofstream csv(work / "rows.csv");
            for (long i = 0; i < n; ++i) {
                Fill(i);
                csv << (i + 1) << ",1," << dt::FILES.NAME.Str() << ",dat," << dt::FILES.DIR.Str()
                    << ",32,2024-05-12 08:20:10," << dt::FILES.SIZE << "\n";
            }
        }
        auto start = Clock::now();
        if (Run({"sqlite3", (work / "bulk.db").string(), ".mode csv",
                 ".import " + (work / "rows.csv").string() + " FILES"}))
            load = std::chrono::duration<double>(Clock::now() - start).count();
    }

    auto rate = [&](double s) { return s > 0 ? static_cast<double>(n) / s : 0.0; };
    std::printf("rows %ld (SQLite, one transaction each)\n", n);
    std::printf("add        %8.3f s  %10.0f rows/s\n", add, rate(add));
    std::printf("tryinsert  %8.3f s  %10.0f rows/s\n", managed, rate(managed));
    std::printf("load       %8.3f s  %10.0f rows/s\n", load, rate(load));
    if (add > 0 && managed > 0 && load > 0) {
        std::printf("tryinsert/add  time ratio %.2f\n", managed / add);
        std::printf("tryinsert/load time ratio %.2f\n", managed / load);
    } else {
        std::fprintf(stderr, "filemgr_bench: a run failed (%s)\n", dt::FileError().c_str());
        rc = 1;
    }
    return rc;
}
