// driver_bench: the SQL driver's own speed. N rows of the FILES layout are stored through
// the driver into the embedded database and into PostgreSQL (when DRIVETREK_TEST_PG_HOST,
// _PORT, _USER and _PASSWORD are set), four ways each, every way into a fresh table:
//   add        ADD row by row (prepared once), autocommit
//   add-txn    ADD row by row inside LOGOUT ... COMMIT
//   append     APPEND (rows sent together in parameter arrays), autocommit
//   append-txn APPEND inside LOGOUT ... COMMIT
// then the rows are read back with SET(key) and NEXT. The baseline, measured in the same
// run, is the database's own bulk load of the same rows from a CSV file: sqlite3's .import
// and PostgreSQL's COPY (psql \copy). Printed: rows per second and the ratio of the
// database's bulk rate to each way's rate (how many times slower the driver is).
// ADD outside a transaction commits (and syncs) every row; it is measured over at most
// 5000 rows, enough for its rate.
//   usage: driver_bench [rows]   (default 200000)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "data/sql_driver.h"
#include "data/statements.h"
#include "runtime/errors.h"
#include "tests/data/test_tables.h"
#include "tests/support/postgres.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using dt::test::FilesTable;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void Fill(FilesTable& f, long i) {
    f.Record() = dt::test::FilesRecord{};
    f.SYSFILES = static_cast<dt::ULONG>(i);
    f.SYSCOMPUTER = 1;
    f.NAME = "file" + std::to_string(i) + ".dat";
    f.EXTENSION = "dat";
    f.DIR = "/home/user/dir" + std::to_string(i % 97) + "/";
    f.TYPE = 32;
    f.DATE_DATE = dt::DATE{12, 5, 2024};
    f.DATE_TIME = dt::TIME{0, 10, 20, 8};
    f.SIZE = static_cast<dt::ULONG>(i * 37);
}

// Runs a program with arguments (no shell), standard output dropped; true when it exits with 0.
bool Run(const std::vector<std::string>& args,
         const std::vector<std::pair<std::string, std::string>>& env = {}) {
    dt::test::ProcessOptions o;
    o.out_file = "/dev/null";
    o.env = env;
    o.limit = std::chrono::hours(4);
    const dt::test::ProcessResult r = dt::test::RunProcess(args, o);
    if (!r.err.empty()) std::fputs(r.err.c_str(), stderr);
    return r.Ok();
}

struct Result {
    std::string way;
    long rows = 0;
    double seconds = 0;
    bool ok = false;
};

// Stores n rows into table `name` one of four ways; returns the seconds taken.
Result Store(const std::string& owner, const std::string& name, long n, bool append, bool txn) {
    Result r;
    r.way = std::string(append ? "append" : "add") + (txn ? "-txn" : "");
    if (!append && !txn && n > 5000) n = 5000;
    r.rows = n;
    FilesTable f(name);
    f.file.SetOwner(owner);
    if (dt::Create(f) != 0 || dt::Open(f) != 0) {
        std::fprintf(stderr, "%s: cannot create %s: %d %s %s\n", r.way.c_str(), name.c_str(), dt::ErrorCode(),
                     dt::FileErrorCode().c_str(), dt::FileError().c_str());
        return r;
    }
    auto start = Clock::now();
    if (txn) (void)dt::Logout(5, {&f.file});
    int rc = 0;
    for (long i = 1; i <= n && rc == 0; ++i) {
        Fill(f, i);
        rc = append ? dt::Append(f) : dt::Add(f);
    }
    if (txn) rc = rc ? rc : dt::Commit();
    long count = dt::Records(f);  // also sends the last collected rows
    r.seconds = Seconds(start);
    r.ok = rc == 0 && count == n;
    if (!r.ok)
        std::fprintf(stderr, "%s: rc %d, %ld rows: %s %s\n", r.way.c_str(), rc, count,
                     dt::FileErrorCode().c_str(), dt::FileError().c_str());
    (void)dt::Close(f);
    return r;
}

Result ReadBack(const std::string& owner, const std::string& name, long n) {
    Result r;
    r.way = "next";
    r.rows = n;
    FilesTable f(name);
    f.file.SetOwner(owner);
    if (dt::Open(f) != 0) return r;
    auto start = Clock::now();
    (void)dt::Set(f.KEYSYSFILES);
    long got = 0;
    while (dt::Next(f) == 0) ++got;
    r.seconds = Seconds(start);
    r.ok = got == n;
    (void)dt::Close(f);
    return r;
}

void WriteCsv(const std::filesystem::path& p, long n) {
    std::ofstream out(p);
    for (long i = 1; i <= n; ++i)
        out << i << ",1,file" << i << ".dat,dat,/home/user/dir" << i % 97 << "/,32,2024-05-12 08:20:10.00,"
            << i * 37 << "\n";
}

void Report(const char* server, long n, double bulk, const std::vector<Result>& results) {
    std::printf("%s: bulk load %.0f rows/s\n", server, bulk > 0 ? n / bulk : 0.0);
    for (const Result& r : results) {
        if (!r.ok) {
            std::printf("  %-11s failed\n", r.way.c_str());
            continue;
        }
        double rate = r.rows / r.seconds, bulk_rate = bulk > 0 ? n / bulk : 0.0;
        std::printf("  %-11s %9.0f rows/s   bulk/driver %.1f   (%ld rows)\n", r.way.c_str(), rate,
                    rate > 0 ? bulk_rate / rate : 0.0, r.rows);
    }
}

}  // namespace

int main(int argc, char** argv) {
    long n = argc > 1 ? std::atol(argv[1]) : 200000;
    if (n <= 0) n = 200000;
    const dt::test::TempWorkDir work_dir("driver-bench-");
    if (work_dir.path().empty()) return 1;
    const std::filesystem::path work = work_dir.path();
    ::setenv("DRIVETREK_PROFILE", (work / "win.ini").c_str(), 1);
    std::ofstream(work / "win.ini") << "";
    WriteCsv(work / "rows.csv", n);
    const char* create =
        "CREATE TABLE bulk (SYSFILES bigint NOT NULL PRIMARY KEY, SYSCOMPUTER bigint, NAME varchar(256), "
        "EXTENSION varchar(10), DIR varchar(260), TYPE smallint, DATE timestamp, SIZE bigint)";

    // The embedded database.
    {
        std::string owner = "Server,bench,sa,;APP=DRIVETREK;WSID=BENCH";
        std::vector<Result> results;
        int t = 0;
        for (bool append : {false, true})
            for (bool txn : {false, true})
                results.push_back(Store(owner, "F" + std::to_string(++t), n, append, txn));
        results.push_back(ReadBack(owner, "F2", n));
        auto start = Clock::now();
        bool ok = Run({"sqlite3", (work / "bulk.db").string(), create, ".mode csv",
                       ".import " + (work / "rows.csv").string() + " bulk"});
        double bulk = ok ? Seconds(start) : 0;
        Report("SQLite", n, bulk, results);
    }

    // PostgreSQL.
    if (const std::optional<dt::test::PgServer> pg = dt::test::PgServer::FromEnvironment()) {
        std::ofstream(work / "win.ini") << "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n";
        const std::string owner = pg->Owner(pg->database, "BENCH");
        std::string prefix = "dtbench" + std::to_string(::getpid()) + "_";
        std::vector<Result> results;
        int t = 0;
        for (bool append : {false, true})
            for (bool txn : {false, true})
                results.push_back(Store(owner, prefix + std::to_string(++t), n, append, txn));
        results.push_back(ReadBack(owner, prefix + "2", n));
        const std::vector<std::pair<std::string, std::string>> env = {{"PGPASSWORD", pg->password}};
        std::vector<std::string> psql = {"psql", "-q",     "-h", pg->host,     "-p", pg->port,
                                         "-U",   pg->user, "-d", pg->database, "-c"};
        auto cmd = [&](const std::string& sql) {
            std::vector<std::string> a = psql;
            a.push_back(sql);
            return Run(a, env);
        };
        std::string bulk_table = prefix + "bulk";
        std::string create_pg = create;
        create_pg.replace(create_pg.find("bulk"), 4, bulk_table);
        cmd(create_pg);
        auto start = Clock::now();
        bool ok =
            cmd("\\copy " + bulk_table + " FROM '" + (work / "rows.csv").string() + "' WITH (FORMAT csv)");
        double bulk = ok ? Seconds(start) : 0;
        Report("PostgreSQL", n, bulk, results);
        std::string drop = "DROP TABLE IF EXISTS " + bulk_table;
        for (int i = 1; i <= 4; ++i) drop += ", " + prefix + std::to_string(i);
        cmd(drop);
    } else {
        std::printf("PostgreSQL: skipped (DRIVETREK_TEST_PG_HOST/PORT/USER not set)\n");
    }

    return 0;
}
