// The scan's walk side from end to end over the real SQL driver, inside the window layer's
// application (offscreen): names ending in blanks and sizes of 4 GiB and more are stored
// and searched whole; a stop in the middle of a scan leaves the last-scan date alone and
// ends with status 3; a root that does not exist, or a roots list with nothing in it,
// stops the scan before anything is deleted; a root inside another is walked once; a
// directory that cannot be read is counted; rows the server cannot hold are named.
// Built once for SQLite and once for PostgreSQL (tests/support/backend.h; PostgreSQL is
// skipped when the DRIVETREK_TEST_PG_* variables are not set; it works in a database of its
// own).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "app/scan.h"
#include "app/scan_stop.h"
#include "app/startup.h"
#include "app/tables.h"
#include "data/statements.h"
#include "framework/error_log.h"
#include "framework/error_manager.h"
#include "runtime/errors.h"
#include "runtime/stddate.h"
#include "tests/support/backend.h"
#include "tests/support/unprivileged.h"
#include "tests/ui/gui_support.h"

namespace dt {
namespace {

namespace fs = std::filesystem;

class QuietErrors : public ErrorManager {
  public:
    QuietErrors() { Startup("/dev/null"); }
    ~QuietErrors() override { Shutdown(); }
    int ShowBox(std::string_view text, std::string_view title, IconRef, int, int default_button,
                LONG) override {
        shown += std::string(title) + ": " + std::string(text) + "\n";
        return default_button;
    }
    std::string shown;
};

// Collects the lines written to the error log.
class LogLines final : public ERRORLOGINTERFACE {
  public:
    int Close(BYTE) override { return 0; }
    int Open(BYTE) override { return 0; }
    int WriteLine(std::string_view text) override {
        lines.emplace_back(text);
        return 0;
    }
    std::vector<std::string> lines;
};

class ScanSite : public test::BackendTest {
  protected:
    void SetUp() override {
        test::BackendTest::SetUp();
        if (IsSkipped()) return;
        old_ = fs::current_path();
        char tmpl[] = "/tmp/dt-scan-site-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::current_path(dir_);
        tree_ = (dir_ / "tree").string() + "/";
        fs::create_directories(tree_);
        inifile_ = (dir_ / "drivetrek.ini").string();
        Roots(tree_);
        database_ = IsPostgres() ? MakeDatabase("dtscansite") : std::string("drivetrek");
        ASSERT_FALSE(database_.empty());
        GLO::SQLMASTEROWNER = test::Backend::Owner(test::Backend::MasterDatabase());
        GLO::SQLOWNER = test::Backend::Owner(database_);
        InitTables(errors_);
    }

    void TearDown() override {
        ClearScanStop();
        GLO::INIFILE = "";
        if (!dir_.empty()) {
            KillTables();
            std::error_code ec;
            fs::permissions(tree_ + "closed", fs::perms::owner_all, ec);
            fs::current_path(old_, ec);
            fs::remove_all(dir_, ec);
            ::unsetenv("DRIVETREK_COMPUTERNAME");
        }
        test::BackendTest::TearDown();
    }

    void Roots(const std::string& value) { std::ofstream(inifile_) << "[scan]\nroots=" << value << "\n"; }
    void File(const std::string& rel, const std::string& text = "x") {
        fs::create_directories(fs::path(tree_ + rel).parent_path());
        std::ofstream(tree_ + rel) << text;
    }

    // This computer's name, drive list and COMPUTER row (inserted when missing).
    ULONG BecomeComputer(const char* name) {
        ::setenv("DRIVETREK_COMPUTERNAME", name, 1);
        ReadComputerName();
        qdrive_.Free();
        const ULONG mask = ListLocalDrives(qdrive_, inifile_);
        Relate::COMPUTER->Open();
        COMPUTER.Record() = COMPUTER_RECORD{};
        COMPUTER.NAME = GLO::COMPUTERNAME.Clip();
        if (Access::COMPUTER->FetchOrClear(COMPUTER.KEYNAME_COMPUTER) != 0) {
            COMPUTER.NAME = name;
            COMPUTER.DRIVES = mask;
            EXPECT_EQ(Access::COMPUTER->Insert(), 0) << errors_.shown;
        }
        Relate::COMPUTER->Close();
        return COMPUTER.SYSCOMPUTER;
    }

    ScanContext Scan(const std::function<void(ULONG)>& on_count = {}, BYTE unattended = 1) {
        ScanContext ctx;
        ctx.QDRIVE = &qdrive_;
        ctx.unattended = unattended;
        ctx.log = &log_;
        ctx.display.file_count = on_count;
        ctx.exclude = exclude_;
        Relate::COMPUTER->Open();
        ScanDrives(ctx);
        Relate::COMPUTER->Close();
        return ctx;
    }

    // Directory + name -> size of a computer's rows.
    std::map<std::string, INT64> Stored(ULONG syscomputer, const std::string& where = "") {
        std::map<std::string, INT64> rows;
        Relate::FILES->Open();
        EXPECT_EQ(Access::FILES->UseFile(), 0);
        EXPECT_EQ(
            SetProperty(FILES, PROP_SQL,
                        "select * from FILES where SysCOMPUTER = " + std::to_string(syscomputer) + where),
            0)
            << FileError();
        for (int guard = 0; guard < 100000 && Next(FILES) == 0; ++guard)
            EXPECT_TRUE(rows.emplace(FILES.DIR.Str() + FILES.NAME.Str(), FILES.SIZE).second)
                << "stored twice: " << FILES.DIR.Str() + FILES.NAME.Str();
        Relate::FILES->Close();
        return rows;
    }

    std::string Value(const std::string& query) {
        Relate::SQLF->Open();
        std::string v = "unusable";
        if (Access::SQLF->UseFile() == 0)
            v = SetProperty(SQLF, PROP_SQL, query) != 0 ? "error " + FileError()
                : Next(SQLF) == 0                       ? SQLF.FELD1.Str()
                                                        : "no row";
        Relate::SQLF->Close();
        return v;
    }

    // Sets the computer's last scan to a moment long past, so that a new one shows.
    void OldLastScan(ULONG syscomputer) {
        Value(
            "update COMPUTER set LastScan = '2001-02-03 04:05:06', ScanTime = '00:00:07' where SysCOMPUTER "
            "= " +
            std::to_string(syscomputer));
        ASSERT_EQ(LastScanDate(syscomputer), MakeDate(2001, 2, 3));
    }
    LONG LastScanDate(ULONG syscomputer) {
        Relate::COMPUTER->Open();
        COMPUTER.SYSCOMPUTER = syscomputer;
        EXPECT_EQ(Access::COMPUTER->FetchOrClear(COMPUTER.KEYSYSCOMPUTER), 0);
        Relate::COMPUTER->Close();
        return COMPUTER.LASTSCAN_DATE.ToStandard();
    }

    QuietErrors errors_;
    LogLines log_;
    std::optional<std::string> exclude_ = std::string();  // none, not the settings file's
    fs::path old_, dir_;
    std::string tree_, inifile_, database_;
    Queue<QDRIVE_RECORD> qdrive_;
};

TEST_F(ScanSite, NamesEndingInBlanksAndSizesOf4GiBAndMoreAreStoredAndSearchedWhole) {
    File("dir/inside.txt", "1");
    File("dir /inside.txt", "22");
    File("dirtrail  /deep.txt", "333");
    File("name", "4444");
    File("name ", "55555");
    const std::string huge = tree_ + "huge.img";
    std::ofstream(huge).close();
    ASSERT_EQ(::truncate(huge.c_str(), (5LL << 30) + 100), 0) << "a sparse file takes no room";
    ui::test::RunApp([&] {
        const ULONG pc = BecomeComputer("BLANKS");
        ScanContext ctx = Scan();
        EXPECT_EQ(ctx.outcome, ScanOutcome::Done) << ctx.message;
        const std::map<std::string, INT64> expected = {
            {tree_ + "dir/inside.txt", 1}, {tree_ + "dir /inside.txt", 2}, {tree_ + "dirtrail  /deep.txt", 3},
            {tree_ + "name", 4},           {tree_ + "name ", 5},           {huge, 5368709220},
        };
        EXPECT_EQ(Stored(pc), expected);
        EXPECT_EQ(ctx.files_stored, 6u);
        EXPECT_EQ(ctx.ExitStatus(), 0);
        // Size searches see the whole size: 1,073,741,924 (the low 32 bits) would miss.
        EXPECT_EQ(Stored(pc, " and Size > 4294967296"), (std::map<std::string, INT64>{{huge, 5368709220}}));
        EXPECT_EQ(Value("select count(*) from FILES where Size < 1073741925 and Name = 'huge.img'"), "0");
        // Blanks are part of the name in a search too.
        EXPECT_EQ(Value("select count(*) from FILES where Dir = '" + tree_ + "dir /'"), "1");
    });
}

TEST_F(ScanSite, AStopInTheMiddleKeepsTheLastScanAndEndsWithStatus3) {
    for (const char* d : {"a", "b", "c"})
        for (int i = 0; i < 150; ++i) File(std::string(d) + "/f" + std::to_string(i) + ".txt");
    ui::test::RunApp([&] {
        const ULONG pc = BecomeComputer("STOPPED");
        ASSERT_EQ(Scan().outcome, ScanOutcome::Done);
        const std::map<std::string, INT64> before = Stored(pc);
        ASSERT_EQ(before.size(), 450u);
        OldLastScan(pc);
        // Work for the next scan: ten files gone, a new directory of 150.
        for (int i = 0; i < 10; ++i) fs::remove(tree_ + "a/f" + std::to_string(i) + ".txt");
        for (int i = 0; i < 150; ++i) File("d/new" + std::to_string(i) + ".txt");
        // The stop comes while the first directory's files are stored (its 101st file).
        ScanContext ctx = Scan([](ULONG n) {
            if (n == 101) RequestScanStop();
        });
        EXPECT_EQ(ctx.outcome, ScanOutcome::Stopped);
        EXPECT_EQ(ctx.ExitStatus(), 3);
        EXPECT_EQ(ctx.Summary().rfind("scan stopped; ", 0), 0u) << ctx.Summary();
        EXPECT_EQ(ctx.Summary().find("done"), std::string::npos) << ctx.Summary();
        EXPECT_EQ(ctx.message.find("Scan done"), std::string::npos) << ctx.message;
        // The walk ended early; the directory at hand was finished and its batch committed.
        const ULONG handled = ctx.stats.rows_inserted + ctx.stats.rows_unchanged;
        EXPECT_LT(handled, 590u) << "the walk ended early";
        EXPECT_GE(handled, 101u) << "the directory at hand was finished";
        EXPECT_EQ(ctx.stats.rows_deleted, 0u) << "a stopped scan deletes nothing";
        EXPECT_EQ(LastScanDate(pc), MakeDate(2001, 2, 3)) << "a stopped scan is no last scan";
        EXPECT_EQ(COMPUTER.SCANTIME.Str(), "00:00:07");
        // Every earlier row is still there, the gone files' rows too (only a complete scan
        // may delete), beside the new rows stored so far; each row once.
        const std::map<std::string, INT64> after = Stored(pc);
        for (const auto& [path, size] : before) EXPECT_EQ(after.count(path), 1u) << path;
        EXPECT_EQ(after.size(), before.size() + ctx.stats.rows_inserted);
        EXPECT_EQ(ctx.files_stored, after.size()) << "files stored: the rows after the scan";

        ClearScanStop();
        ScanContext again = Scan();
        EXPECT_EQ(again.outcome, ScanOutcome::Done);
        const std::map<std::string, INT64> complete = Stored(pc);
        EXPECT_EQ(complete.size(), 590u) << "the next scan completes the work";
        EXPECT_EQ(complete.count(tree_ + "a/f0.txt"), 0u) << "the gone files' rows go";
        EXPECT_EQ(complete.count(tree_ + "d/new149.txt"), 1u);
        EXPECT_EQ(again.stats.rows_deleted, 10u);
        EXPECT_EQ(LastScanDate(pc), Today());
    });
}

// A first scan cancelled inside a directory of 6,000 files: the directory goes to the store
// in parts, so rows are stored before its end and the cancel ends the scan there. What was
// stored stays, each row once; the computer has no last scan; the message says "Scan
// cancelled!"; the cancel is forgotten, and the next scan stores everything.
TEST_F(ScanSite, ACancelInsideAHugeDirectoryEndsTheScanThere) {
    const std::size_t kBig = 6000;
    for (std::size_t i = 0; i < kBig; ++i) File("big/f" + std::to_string(i));
    ui::test::RunApp([&] {
        const ULONG pc = BecomeComputer("HUGE");
        std::vector<std::pair<ULONG, std::string>> seen;  // files stored, directory
        ScanContext ctx;
        ctx.QDRIVE = &qdrive_;
        ctx.log = &log_;
        ctx.display.progress = [&](const ScanProgress& p) {
            seen.emplace_back(p.files_stored, std::string(p.directory));
            // Each report lasts longer than the time between two, so every turn reports.
            std::this_thread::sleep_for(std::chrono::milliseconds(kScanProgressMs + 10));
            if (p.files_stored > 0) RequestScanCancel();
        };
        ui::testing::TakeShownMessages();
        ui::testing::AnswerMessage(ui::button::Yes);
        ui::testing::AnswerMessage(ui::button::Ok);
        Relate::COMPUTER->Open();
        ScanDrives(ctx);
        Relate::COMPUTER->Close();
        EXPECT_EQ(ctx.outcome, ScanOutcome::Cancelled);
        EXPECT_EQ(ctx.ExitStatus(), 3);
        EXPECT_EQ(ctx.Summary().rfind("scan cancelled; ", 0), 0u) << ctx.Summary();
        EXPECT_FALSE(ScanStopRequested()) << "the cancel ends with its scan";
        const std::vector<ui::testing::ShownMessage> shown = ui::testing::TakeShownMessages();
        ASSERT_EQ(shown.size(), 2u);
        EXPECT_EQ(shown[1].text.rfind("Scan cancelled!|Time: ", 0), 0u) << shown[1].text;
        EXPECT_EQ(shown[1].caption, "Scan Drive");
        EXPECT_EQ(shown[1].icon, ui::MessageIcon::None);

        ASSERT_FALSE(seen.empty());
        for (const auto& [files, directory] : seen) EXPECT_EQ(directory, tree_ + "big/");
        const std::map<std::string, INT64> stored = Stored(pc);  // each row once
        EXPECT_GE(stored.size(), seen.back().first);
        EXPECT_GE(stored.size(), 1024u);
        EXPECT_LT(stored.size(), kBig) << "the scan ended inside the directory";
        EXPECT_EQ(ctx.files_stored, stored.size());
        EXPECT_EQ(LastScanDate(pc), 0) << "a cancelled scan is no last scan";

        ScanContext again = Scan();
        EXPECT_EQ(again.outcome, ScanOutcome::Done);
        EXPECT_EQ(Stored(pc).size(), kBig);
        EXPECT_EQ(LastScanDate(pc), Today());
    });
}

TEST_F(ScanSite, ARootThatDoesNotExistStopsTheScanAndKeepsItsRows) {
    File("kept.txt");
    File("sub/also kept.txt");
    ui::test::RunApp([&] {
        const ULONG pc = BecomeComputer("ROOTS");
        ASSERT_EQ(Scan().outcome, ScanOutcome::Done);
        OldLastScan(pc);
        const std::string missing = (dir_ / "unmounted share").string() + "/";
        Roots(tree_ + ";" + missing);
        ASSERT_EQ(BecomeComputer("ROOTS"), pc);
        ScanContext ctx = Scan();
        EXPECT_EQ(ctx.outcome, ScanOutcome::Stopped);
        EXPECT_EQ(ctx.ExitStatus(), 3);
        EXPECT_NE(ctx.stop_reason.find(missing), std::string::npos) << "names the root: " << ctx.stop_reason;
        EXPECT_NE(ctx.stop_reason.find("does not exist"), std::string::npos) << ctx.stop_reason;
        EXPECT_EQ(Stored(pc).size(), 2u) << "nothing deleted";
        EXPECT_EQ(LastScanDate(pc), MakeDate(2001, 2, 3));

        // In the window: the question, then a stop message naming the root, never "Scan done".
        ui::testing::TakeShownMessages();
        ui::testing::AnswerMessage(ui::button::Yes);
        ui::testing::AnswerMessage(ui::button::Ok);
        EXPECT_EQ(Scan({}, 0).outcome, ScanOutcome::Stopped);
        const std::vector<ui::testing::ShownMessage> shown = ui::testing::TakeShownMessages();
        ASSERT_EQ(shown.size(), 2u);
        EXPECT_EQ(shown[1].icon, ui::MessageIcon::Stop);
        EXPECT_EQ(shown[1].text.rfind("Scan stopped: the root " + missing + " does not exist", 0), 0u)
            << shown[1].text;
        EXPECT_EQ(Stored(pc).size(), 2u);

        // A file where a root should be cannot be opened either.
        std::ofstream(dir_ / "plain file").close();
        Roots((dir_ / "plain file").string());
        ASSERT_EQ(BecomeComputer("ROOTS"), pc);
        EXPECT_EQ(Scan().ExitStatus(), 3);
        EXPECT_EQ(Stored(pc).size(), 2u);
    });
}

TEST_F(ScanSite, ARootsListWithNothingInItIsAnErrorNotEveryFileSystem) {
    File("kept.txt");
    ui::test::RunApp([&] {
        const ULONG pc = BecomeComputer("EMPTY");
        ASSERT_EQ(Scan().outcome, ScanOutcome::Done);
        Roots(" ; ");
        ASSERT_EQ(BecomeComputer("EMPTY"), pc);
        EXPECT_EQ(qdrive_.Records(), 0u) << "no mounted file system stands in";
        ScanContext ctx = Scan();
        EXPECT_EQ(ctx.outcome, ScanOutcome::Stopped);
        EXPECT_EQ(ctx.ExitStatus(), 3);
        EXPECT_NE(ctx.stop_reason.find("roots"), std::string::npos) << ctx.stop_reason;
        EXPECT_EQ(Stored(pc).size(), 1u);
    });
}

TEST_F(ScanSite, ARootInsideAnotherIsWalkedOnce) {
    File("top.txt");
    File("sub/inner.txt");
    File("sub/deeper/leaf.txt");
    Roots(tree_ + "sub/;" + tree_ + ";" + tree_ + "sub/deeper");
    ui::test::RunApp([&] {
        const ULONG pc = BecomeComputer("OVERLAP");
        ScanContext ctx = Scan();
        EXPECT_EQ(ctx.outcome, ScanOutcome::Done);
        EXPECT_EQ(ctx.files_stored, 3u);
        EXPECT_EQ(Stored(pc).size(), 3u) << "each file once (Stored reports doubles)";
    });
}

TEST_F(ScanSite, ADirectoryThatCannotBeReadIsCountedAsNotRead) {
    if (test::RunningAsRoot()) GTEST_SKIP() << test::kNeedsOrdinaryUser;
    File("open.txt");
    File("closed/secret.txt");
    ASSERT_EQ(::chmod((tree_ + "closed").c_str(), 0), 0);
    ui::test::RunApp([&] {
        BecomeComputer("CLOSED");
        ScanContext ctx = Scan();
        EXPECT_EQ(ctx.outcome, ScanOutcome::Done);
        EXPECT_EQ(ctx.stats.dirs_not_read, 1u);
        EXPECT_NE(ctx.Summary().find(", 1 directories not read"), std::string::npos) << ctx.Summary();
        EXPECT_EQ(ctx.files_stored, 1u);
    });
}

// Excluded files are not stored and excluded directories not walked; the rows a new
// exclusion leaves out go at the end of the scan; the counts are in the summary and the
// final message; the exclusions come from the settings file unless given; a scan whose
// every root is excluded stops before anything is deleted.
TEST_F(ScanSite, ExcludedPathsAreNotStoredAndTheirRowsGoAtTheNextCompleteScan) {
    File("keep.txt");
    File("a.tmp");
    File("node_modules/x.js");
    File("src/b.txt");
    File("src/build/o.o");
    ui::test::RunApp([&] {
        const ULONG pc = BecomeComputer("EXCLUDE");
        ASSERT_EQ(Scan().outcome, ScanOutcome::Done);
        ASSERT_EQ(Stored(pc).size(), 5u);

        exclude_ = "*.tmp; node_modules ;build/";
        ScanContext ctx = Scan();
        EXPECT_EQ(ctx.outcome, ScanOutcome::Done) << ctx.message;
        std::map<std::string, INT64> rows = Stored(pc);
        EXPECT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows.count(tree_ + "keep.txt") + rows.count(tree_ + "src/b.txt"), 2u);
        EXPECT_EQ(ctx.stats.rows_deleted, 3u);
        EXPECT_EQ(ctx.stats.files_excluded, 1u);
        EXPECT_EQ(ctx.stats.dirs_excluded, 2u);
        EXPECT_EQ(ctx.stats.dirs_not_read, 0u);
        EXPECT_EQ(ctx.files_stored, 2u);
        const std::string summary = ctx.Summary();
        EXPECT_EQ(summary.rfind("scan done; 2 files stored, 0 not stored\n", 0), 0u) << summary;
        EXPECT_NE(summary.find(", 0 directories not read, 1 files excluded, 2 directories excluded"),
                  std::string::npos)
            << summary;

        // In the window, the final message says it.
        ui::testing::TakeShownMessages();
        ui::testing::AnswerMessage(ui::button::Yes);
        ui::testing::AnswerMessage(ui::button::Ok);
        EXPECT_EQ(Scan({}, 0).outcome, ScanOutcome::Done);
        const std::vector<ui::testing::ShownMessage> shown = ui::testing::TakeShownMessages();
        ASSERT_EQ(shown.size(), 2u);
        EXPECT_EQ(shown[1].text.rfind("Scan done!|Time: ", 0), 0u) << shown[1].text;
        EXPECT_NE(shown[1].text.find("|Excluded: 1 files, 2 directories"), std::string::npos)
            << shown[1].text;

        // Not given: the settings file's, as it is when the scan begins.
        exclude_.reset();
        GLO::INIFILE = inifile_;
        std::ofstream(inifile_) << "[scan]\nroots=" << tree_ << "\nexclude=src\n";
        ctx = Scan();
        EXPECT_EQ(ctx.outcome, ScanOutcome::Done) << ctx.message;
        rows = Stored(pc);
        EXPECT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows.count(tree_ + "a.tmp") + rows.count(tree_ + "node_modules/x.js"), 2u);
        EXPECT_EQ(ctx.stats.dirs_excluded, 1u);

        // Every root excluded: nothing to walk, and nothing deleted.
        exclude_ = "tree";
        ctx = Scan();
        EXPECT_EQ(ctx.outcome, ScanOutcome::Stopped);
        EXPECT_EQ(ctx.ExitStatus(), 3);
        EXPECT_NE(ctx.stop_reason.find("every root is excluded"), std::string::npos) << ctx.stop_reason;
        EXPECT_EQ(Stored(pc).size(), 3u);
    });
}

// Names that are no UTF-8 cannot be held by PostgreSQL: they are named (with their
// directories) in the error log, with the count and the server's reason. The embedded
// database holds them.
TEST_F(ScanSite, RowsTheServerCannotHoldAreNamed) {
    File("good.txt");
    File("bad\xff\xfe name.txt");
    ui::test::RunApp([&] {
        const ULONG pc = BecomeComputer("LOST");
        ScanContext ctx = Scan();
        EXPECT_EQ(ctx.outcome, ScanOutcome::Done);
        if (!IsPostgres()) {
            EXPECT_EQ(ctx.files_not_stored, 0u);
            EXPECT_TRUE(ctx.stats.lost.empty());
            EXPECT_TRUE(log_.lines.empty());
            EXPECT_EQ(Stored(pc).size(), 2u);
            return;
        }
        EXPECT_EQ(ctx.files_not_stored, 1u);
        EXPECT_EQ(ctx.ExitStatus(), 2);
        EXPECT_EQ(ctx.stats.lost, std::vector<std::string>{tree_ + "bad\xff\xfe name.txt"});
        EXPECT_FALSE(ctx.stats.first_failure.empty()) << "the server's reason";
        ASSERT_GE(log_.lines.size(), 2u);
        EXPECT_NE(log_.lines[0].find("1 files not stored"), std::string::npos) << log_.lines[0];
        EXPECT_NE(log_.lines[1].find(tree_ + "bad"), std::string::npos) << log_.lines[1];
        EXPECT_EQ(Stored(pc).size(), 1u);
    });
}

}  // namespace
}  // namespace dt
