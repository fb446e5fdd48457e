// The drive scan from end to end over the real SQL driver, inside the window layer's
// application (offscreen): a generated tree ([scan] roots of a settings file) is scanned
// as two computers (DRIVETREK_COMPUTERNAME) into one database, every stored row is checked
// against the tree, and a second scan of one computer replaces its rows and nothing else.
// Also: the unattended run asks and shows nothing, the interactive run asks and reports,
// and a scan under row number 0 is refused. Built for SQLite and for PostgreSQL
// (tests/support/backend.h; on PostgreSQL it works in a database of its own).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/scan.h"
#include "app/startup.h"
#include "app/tables.h"
#include "data/statements.h"
#include "framework/error_manager.h"
#include "platform/drives.h"
#include "runtime/errors.h"
#include "runtime/picture.h"
#include "runtime/stddate.h"
#include "tests/support/backend.h"
#include "tests/support/process.h"
#include "tests/support/recording_errors.h"
#include "tests/ui/gui_support.h"

namespace dt {
namespace {

namespace fs = std::filesystem;

using test::Backend;

// What a row says about a file, in comparable form.
struct Row {
    std::string ext;
    int type = 0;
    ULONG date = 0, time = 0;
    INT64 size = 0;
    ULONG sysfiles = 0;
    bool operator==(const Row& o) const {
        return ext == o.ext && type == o.type && date == o.date && time == o.time && size == o.size;
    }
};
using Rows = std::map<std::string, Row>;  // directory + name -> row

std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << "{ext '" << r.ext << "' type " << r.type << " date " << r.date << " time " << r.time
              << " size " << r.size << "}";
}

bool ValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

// The rows a scan must store for the tree at `dir` (ending in "/"), worked out from the
// file system directly.
void Expect(const std::string& dir, Rows& out, int& not_utf8) {
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        struct stat st;
        ASSERT_EQ(::lstat(e.path().c_str(), &st), 0);
        if (S_ISDIR(st.st_mode)) {
            Expect(dir + name + "/", out, not_utf8);
            continue;
        }
        if (Backend::IsPostgres() && !ValidUtf8(name)) {
            ++not_utf8;  // the server holds UTF-8 only: counted as not stored
            continue;
        }
        Row r;
        if (std::size_t dot = name.rfind('.'); dot != std::string::npos) {
            r.ext = name.substr(dot + 1, 10);
            while (!r.ext.empty() && r.ext.back() == ' ') r.ext.pop_back();
        }
        r.type = (S_ISREG(st.st_mode) ? 32 : 0) | (name[0] == '.' ? 2 : 0) | ((st.st_mode & S_IWUSR) ? 0 : 1);
        std::tm tm{};
        ::localtime_r(&st.st_mtime, &tm);
        r.date = DATE{BYTE(tm.tm_mday), BYTE(tm.tm_mon + 1), USHORT(tm.tm_year + 1900)}.Value();
        r.time = TIME::FromStandard(MakeTime(tm.tm_hour, tm.tm_min, tm.tm_sec, 0)).Value();
        r.size = static_cast<INT64>(st.st_size);
        out[dir + name] = r;
    }
}

// The FILES rows of one computer, read through the table's pass-through.
Rows Stored(ULONG syscomputer) {
    Rows rows;
    Relate::FILES->Open();
    EXPECT_EQ(Access::FILES->UseFile(), 0);
    EXPECT_EQ(SetProperty(FILES, PROP_SQL,
                          "select * from FILES where SysCOMPUTER = " + std::to_string(syscomputer)),
              0)
        << FileError();
    for (int guard = 0; guard < 100000 && Next(FILES) == 0; ++guard) {
        Row r;
        r.ext = FILES.EXTENSION.Str();
        r.type = FILES.TYPE;
        r.date = FILES.DATE_DATE.Value();
        r.time = FILES.DATE_TIME.Value();
        r.size = FILES.SIZE;
        r.sysfiles = FILES.SYSFILES;
        EXPECT_TRUE(rows.emplace(FILES.DIR.Str() + FILES.NAME.Str(), r).second)
            << "stored twice: " << FILES.NAME.Str();
    }
    Relate::FILES->Close();
    return rows;
}

// The first column of the first row of `query`, through SQLF.
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

// How many different row numbers a computer's rows carry (none of them 0).
std::size_t DistinctNumbers(ULONG syscomputer) {
    std::set<ULONG> numbers;
    for (const auto& [path, row] : Stored(syscomputer))
        if (row.sysfiles != 0) numbers.insert(row.sysfiles);
    return numbers.size();
}

bool RunQuiet(const std::vector<std::string>& args) {
    test::ProcessOptions o;
    o.out_file = "/dev/null";
    const test::ProcessResult r = test::RunProcess(args, o);
    if (!r.Ok()) ADD_FAILURE() << args[0] << ": status " << r.status << "\n" << r.err;
    return r.Ok();
}

class ScanE2E : public test::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        work_.emplace("dt-scan-e2e-");
        dir_ = work_->path();
        ASSERT_FALSE(dir_.empty());
        tree_ = (dir_ / "tree").string() + "/";
        std::ofstream(dir_ / "drivetrek.ini") << "[scan]\nroots=" << tree_ << "\n";
        inifile_ = (dir_ / "drivetrek.ini").string();
        // A small generated tree with awkward names, names that are no UTF-8 and files of
        // 2 to 4 GiB (sparse).
        ASSERT_TRUE(RunQuiet({"python3", std::string(DT_SOURCE_DIR) + "/bench/gen_tree.py", tree_, "--files",
                              "400", "--per-dir", "6", "--seed", "7", "--big", "--invalid-utf8"}));
        database_ = IsPostgres() ? MakeDatabase("dtscane2e") : "drivetrek";
        ASSERT_FALSE(database_.empty());
        GLO::SQLMASTEROWNER = Backend::Owner(Backend::MasterDatabase());
        GLO::SQLOWNER = Backend::Owner(database_);
        InitTables(errors_);
    }

    void TearDown() override {
        KillTables();
        if (IsPostgres() && !database_.empty()) {
            // The pass-through table the managers made in the server's own database.
            InitTables(errors_);
            Relate::SQLM->Open();
            if (Access::SQLM->UseFile() == 0) (void)SetProperty(SQLM, PROP_SQL, "DROP TABLE IF EXISTS SQLM");
            Relate::SQLM->Close();
            KillTables();
        }
        work_.reset();
        computer_.reset();
        BackendTest::TearDown();  // the test database goes
    }

    // The start-up steps the scan relies on: the computer name, the drive list of the
    // settings file and this computer's COMPUTER row (inserted when missing). Returns its
    // row number.
    ULONG BecomeComputer(const char* name) {
        computer_.reset();
        computer_.emplace("DRIVETREK_COMPUTERNAME", name);
        ReadComputerName();
        qdrive_.Free();
        const ULONG mask = ListLocalDrives(qdrive_, inifile_);
        Relate::COMPUTER->Open();
        COMPUTER.Record() = COMPUTER_RECORD{};
        COMPUTER.NAME = GLO::COMPUTERNAME.Clip();
        if (Access::COMPUTER->FetchOrClear(COMPUTER.KEYNAME_COMPUTER) != 0) {
            COMPUTER.NAME = name;
            COMPUTER.DRIVES = mask;
            EXPECT_EQ(Access::COMPUTER->Insert(), 0) << errors_.Text();
        }
        Relate::COMPUTER->Close();
        return COMPUTER.SYSCOMPUTER;
    }

    // Runs ScanDrives as "/S" does, recording what it shows.
    ScanContext Scan(BYTE unattended = 1) {
        ScanContext ctx;
        ctx.QDRIVE = &qdrive_;
        ctx.unattended = unattended;
        shown_.clear();
        ctx.display.open = [this] { shown_.push_back("open"); };
        ctx.display.drive = [this](std::string_view t) { shown_.push_back("drive " + std::string(t)); };
        ctx.display.file_count = [this](ULONG n) { counts_.push_back(n); };
        ctx.display.close = [this] { shown_.push_back("close"); };
        counts_.clear();
        Relate::COMPUTER->Open();
        ScanDrives(ctx);
        Relate::COMPUTER->Close();
        return ctx;
    }

    void CheckAgainstTree(ULONG syscomputer, const ScanContext& ctx) {
        Rows expected;
        int not_utf8 = 0;
        Expect(tree_, expected, not_utf8);
        const Rows stored = Stored(syscomputer);
        EXPECT_EQ(stored.size(), expected.size());
        EXPECT_EQ(ctx.files_stored, expected.size());
        EXPECT_EQ(ctx.files_not_stored, static_cast<ULONG>(not_utf8)) << "every file is stored or counted";
        for (const auto& [path, row] : expected) {
            auto it = stored.find(path);
            if (it == stored.end()) {
                ADD_FAILURE() << "not stored: " << path;
                continue;
            }
            EXPECT_EQ(it->second, row) << path;
        }
        for (const auto& [path, row] : stored)
            if (!expected.count(path)) ADD_FAILURE() << "stored but not in the tree: " << path;
    }

    test::RecordingErrors errors_{test::RecordingErrors::Unanswered::DefaultButton};
    std::optional<test::TempWorkDir> work_;
    std::optional<test::ScopedEnv> computer_;
    fs::path dir_;
    std::string tree_, inifile_, database_;
    Queue<QDRIVE_RECORD> qdrive_;
    std::vector<std::string> shown_;
    std::vector<ULONG> counts_;
};

TEST_F(ScanE2E, TwoComputersScanIntoOneDatabaseAndARescanReplacesOnlyItsOwnRows) {
    ui::test::RunApp([&] {
        const ULONG alpha = BecomeComputer("ALPHA");
        ASSERT_NE(alpha, 0u);
        ScanContext a = Scan();
        EXPECT_EQ(a.outcome, ScanOutcome::Done);
        CheckAgainstTree(alpha, a);
        // Every row is there (above) and has a number of its own; numbers need not follow
        // the walk's order.
        EXPECT_EQ(DistinctNumbers(alpha), Stored(alpha).size());
        EXPECT_EQ(Value("SELECT COUNT(DISTINCT SysFILES) FROM FILES"), Value("SELECT COUNT(*) FROM FILES"));
        EXPECT_EQ(shown_,
                  (std::vector<std::string>{"open", "drive clean database", "drive " + tree_, "close"}));
        ASSERT_FALSE(counts_.empty());
        for (std::size_t i = 0; i < counts_.size(); ++i)
            EXPECT_EQ(counts_[i], 1 + 100 * i) << "every 100th file";
        EXPECT_EQ(G::FILECOUNT, a.files_stored + a.files_not_stored);

        const ULONG beta = BecomeComputer("BETA");
        ASSERT_NE(beta, alpha);
        ScanContext b = Scan();
        CheckAgainstTree(beta, b);
        const Rows beta_rows = Stored(beta);

        // The tree changes; ALPHA scans again.
        fs::remove(tree_ + "big file 1.img");
        std::ofstream(tree_ + "new file.txt") << "new";
        EXPECT_EQ(BecomeComputer("ALPHA"), alpha) << "the row is found again, not added";
        ScanContext again = Scan();
        CheckAgainstTree(alpha, again);
        EXPECT_EQ(Stored(alpha).count(tree_ + "big file 1.img"), 0u);
        // BETA's rows are untouched, numbers included.
        const Rows beta_after = Stored(beta);
        ASSERT_EQ(beta_after.size(), beta_rows.size());
        for (const auto& [path, row] : beta_rows) {
            auto it = beta_after.find(path);
            ASSERT_NE(it, beta_after.end()) << path;
            EXPECT_EQ(it->second, row) << path;
            EXPECT_EQ(it->second.sysfiles, row.sysfiles) << path;
        }
        EXPECT_EQ(Value("select count(distinct SysFILES) from FILES"), Value("select count(*) from FILES"));
        EXPECT_EQ(Value("select count(*) from FILES where SysFILES = 0"), "0");

        // Unattended: no question and no message, from the scan or the file managers.
        EXPECT_TRUE(ui::testing::TakeShownMessages().empty());
        EXPECT_EQ(errors_.Text(), "");
        EXPECT_EQ(again.ExitStatus(), IsPostgres() ? 2 : 0) << "names the server cannot hold are lost rows";

        // The last scan is recorded in the computer's row.
        Relate::COMPUTER->Open();
        COMPUTER.SYSCOMPUTER = alpha;
        ASSERT_EQ(Access::COMPUTER->FetchOrClear(COMPUTER.KEYSYSCOMPUTER), 0);
        Relate::COMPUTER->Close();
        EXPECT_EQ(COMPUTER.LASTSCAN_DATE.ToStandard(), Today())
            << Value("select LastScan from COMPUTER where SysCOMPUTER = " + std::to_string(alpha));
        EXPECT_FALSE(COMPUTER.LASTSCAN_TIME.IsZero());
        EXPECT_EQ(COMPUTER.SCANTIME.Str().size(), 8u) << COMPUTER.SCANTIME.Str();
        EXPECT_EQ(COMPUTER.SCANTIME.Str(),
                  Format(static_cast<double>(std::max<LONG>(1, again.elapsed.ToStandard())), "T4"));
    });
}

TEST_F(ScanE2E, InteractiveScanAsksFirstAndReportsItsTime) {
    ui::test::RunApp([&] {
        const ULONG alpha = BecomeComputer("ALPHA");
        Scan();
        const std::string before = Value("select count(*) from FILES");
        ui::testing::TakeShownMessages();

        ui::testing::AnswerMessage(ui::button::No);
        ScanContext declined = Scan(0);
        EXPECT_EQ(declined.outcome, ScanOutcome::Declined);
        EXPECT_NE(declined.ExitStatus(), 0);
        EXPECT_TRUE(shown_.empty()) << "nothing opened before the answer";
        EXPECT_EQ(Value("select count(*) from FILES"), before) << "nothing deleted";

        ui::testing::AnswerMessage(ui::button::Yes);
        ui::testing::AnswerMessage(ui::button::Ok);
        ScanContext done = Scan(0);
        EXPECT_EQ(done.outcome, ScanOutcome::Done);
        CheckAgainstTree(alpha, done);
        std::vector<ui::testing::ShownMessage> msgs = ui::testing::TakeShownMessages();
        ASSERT_EQ(msgs.size(), 3u);
        EXPECT_EQ(msgs[0].text, "Scan disk for files?");
        EXPECT_EQ(msgs[0].caption, "scan");
        EXPECT_EQ(msgs[0].icon, ui::MessageIcon::Question);
        EXPECT_EQ(msgs[0].buttons, ui::button::Yes | ui::button::No);
        EXPECT_EQ(msgs[2].caption, "Scan Drive");
        EXPECT_EQ(msgs[2].icon, ui::MessageIcon::None);
        const std::string time =
            Format(static_cast<double>(std::max<LONG>(1, done.elapsed.ToStandard())), "T4");
        EXPECT_EQ(msgs[2].text.rfind("Scan done!|Time: " + time, 0), 0u) << msgs[2].text;
        if (done.files_not_stored > 0)
            EXPECT_NE(msgs[2].text.find("|Files not stored: " + std::to_string(done.files_not_stored)),
                      std::string::npos)
                << msgs[2].text;
        else
            EXPECT_EQ(msgs[2].text, "Scan done!|Time: " + time);
    });
}

TEST_F(ScanE2E, OnlyFixedDrivesAreWalked) {
    ui::test::RunApp([&] {
        const ULONG alpha = BecomeComputer("ALPHA");
        // Drives of every other type, each holding a file of its own.
        const int types[] = {platform::kDriveRemovable, platform::kDriveRemote, platform::kDriveCdRom,
                             platform::kDriveRamDisk, platform::kDriveUnknown};
        for (int type : types) {
            const std::string root = (dir_ / ("drive" + std::to_string(type))).string() + "/";
            fs::create_directory(root);
            std::ofstream(root + "not scanned.txt") << "x";
            qdrive_.DRIVE = root;
            qdrive_.TYPE = static_cast<BYTE>(type);
            qdrive_.Add(1);  // before the fixed drive
        }
        ScanContext ctx = Scan();
        CheckAgainstTree(alpha, ctx);
        EXPECT_EQ(shown_,
                  (std::vector<std::string>{"open", "drive clean database", "drive " + tree_, "close"}));
    });
}

TEST_F(ScanE2E, AScanUnderRowNumberZeroIsRefused) {
    ui::test::RunApp([&] {
        const ULONG alpha = BecomeComputer("ALPHA");
        Scan();
        const std::string before = Value("select count(*) from FILES");
        ASSERT_NE(before, "0");

        // The computer's row was deleted behind the program: the buffer is cleared.
        COMPUTER.Record() = COMPUTER_RECORD{};
        ScanContext quiet = Scan(1);
        EXPECT_EQ(quiet.outcome, ScanOutcome::Refused);
        EXPECT_NE(quiet.ExitStatus(), 0);
        EXPECT_TRUE(shown_.empty());
        EXPECT_TRUE(ui::testing::TakeShownMessages().empty()) << "unattended: the text goes to stderr";

        ui::testing::AnswerMessage(ui::button::Ok);
        ScanContext asked = Scan(0);
        EXPECT_EQ(asked.outcome, ScanOutcome::Refused);
        std::vector<ui::testing::ShownMessage> msgs = ui::testing::TakeShownMessages();
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_EQ(msgs[0].icon, ui::MessageIcon::Stop);

        // The row is deleted behind the program while the buffer still holds its number.
        ASSERT_EQ(BecomeComputer("ALPHA"), alpha);
        Value("delete from COMPUTER where SysCOMPUTER = " + std::to_string(alpha));
        ScanContext orphan = Scan(1);
        EXPECT_EQ(orphan.outcome, ScanOutcome::Refused);
        EXPECT_EQ(COMPUTER.SYSCOMPUTER, 0u) << "the buffer is left cleared";

        EXPECT_EQ(Value("select count(*) from FILES"), before) << "nothing deleted";
        EXPECT_EQ(Value("select count(*) from FILES where SysCOMPUTER = 0"), "0");
        EXPECT_EQ(Value("select count(*) from FILES where SysCOMPUTER = " + std::to_string(alpha)), before);
    });
}

}  // namespace
}  // namespace dt
