// The view engine against a real server: one body, built for the embedded database (SQLite)
// and for PostgreSQL (tests/support/backend.h). Orders by name (without regard to case), size and date page
// forwards and backwards across ties, from the ends and from any row's position; the SQL filter replaces or
// adds to the view's filter; each page is one limited statement; a view reads while another thread inserts
// through the same connection.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "data/sql_driver.h"
#include "data/statements.h"
#include "data/view.h"
#include "platform/text.h"
#include "runtime/errors.h"
#include "tests/data/test_tables.h"
#include "tests/support/backend.h"

namespace dt::test {
namespace {

// What the tests know of a row, to compute the expected orders.
struct Row {
    ULONG id;
    std::string name;
    ULONG size;
    ULONG date;  // DATE value
    ULONG time;  // TIME value
};

std::atomic<int> g_counter{0};

class ViewTest : public BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        const int n = ++g_counter;
        table_ = "dtv" + std::to_string(::getpid()) + "_" + std::to_string(n);
        owner_ = Backend::Owner(IsPostgres() ? Backend::MasterDatabase() : "views");
        files_ = std::make_unique<FilesTable>(table_);
        files_->file.SetOwner(owner_);
        ASSERT_EQ(Create(*files_), 0) << FileError();
        ASSERT_EQ(Open(*files_), 0) << FileError();
        ASSERT_EQ(Build(files_->file), 0) << FileError();
    }
    void TearDown() override {
        if (files_) {
            Close(*files_);
            Remove(*files_);
        }
        BackendTest::TearDown();
    }

    // Rows with many ties: names that differ only in case, equal sizes, equal dates.
    void Fill(int count) {
        const char* names[] = {"alpha", "Alpha", "beta", "BETA", "gamma", "Delta", "delta", "epsilon"};
        for (int i = 1; i <= count; ++i) {
            Row r;
            r.id = ULONG(i);
            r.name = names[(i * 5) % 8];
            r.size = ULONG((i * 7) % 5) * 1000u + (i % 11 == 0 ? 2'000'000'000u : 0u);
            dt::DATE d{BYTE(1 + (i % 3)), 6, 2024};
            dt::TIME t{BYTE(i % 4 == 0 ? 50 : 0), BYTE(i % 2 ? 0 : 30), 12, 9};
            r.date = d.Value();
            r.time = t.Value();
            Insert(r);
            rows_.push_back(r);
        }
    }
    void Insert(const Row& r) {
        FilesTable& f = *files_;
        f.SYSFILES = r.id;
        f.SYSCOMPUTER = 1;
        f.NAME = r.name;
        f.EXTENSION = "";
        f.DIR = "/d" + std::to_string(r.id % 3) + "/";
        f.TYPE = 32;
        f.DATE_DATE = dt::DATE::FromValue(r.date);
        f.DATE_TIME = dt::TIME{BYTE(r.time), BYTE(r.time >> 8), BYTE(r.time >> 16), BYTE(r.time >> 24)};
        f.SIZE = r.size;
        ASSERT_EQ(Add(f.file), 0) << FileError();
    }
    // Ids in the expected order for a key function (ties by id).
    template <class KeyFn>
    std::vector<ULONG> Expected(KeyFn key) const {
        std::vector<Row> sorted = rows_;
        std::stable_sort(sorted.begin(), sorted.end(), [&](const Row& a, const Row& b) {
            return key(a) != key(b) ? key(a) < key(b) : a.id < b.id;
        });
        std::vector<ULONG> ids;
        for (const Row& r : sorted) ids.push_back(r.id);
        return ids;
    }
    // Every row of the view, reading forwards (or backwards) from where it stands.
    std::vector<ULONG> ReadAll(View& v, bool forward) {
        std::vector<ULONG> ids;
        for (int guard = 0; guard < 10000; ++guard) {
            int rc = forward ? v.Next() : v.Previous();
            if (rc == 33) break;
            EXPECT_EQ(rc, 0) << FileError() << "\n" << v.LastStatement();
            if (rc != 0) break;
            ids.push_back(files_->SYSFILES);
        }
        return ids;
    }

    TempWorkDir dir_;
    std::string owner_, table_;
    std::unique_ptr<FilesTable> files_;
    std::vector<Row> rows_;
};

TEST_F(ViewTest, OrderTextsTakeLabelsInAnyCaseAndEndWithThePrimaryKey) {
    View v(files_->file);
    EXPECT_EQ(v.SetOrder("UPPER(FILES:NAME),FILES:SysFILES"), 0);
    EXPECT_EQ(v.OrderBy(true), "UPPER(NAME),SYSFILES");
    EXPECT_EQ(v.OrderBy(false), "UPPER(NAME) DESC,SYSFILES DESC");
    EXPECT_EQ(v.SetOrder("FILES:Size"), 0);
    EXPECT_EQ(v.OrderBy(true), "SIZE,SYSFILES");  // ties in size still have an order
    EXPECT_EQ(v.SetOrder("-FILES:DATE , FILES:SysFILES"), 0);
    EXPECT_EQ(v.OrderBy(true), "DATE DESC,SYSFILES");
    EXPECT_EQ(v.OrderBy(false), "DATE,SYSFILES DESC");
    // A term that names no column is refused and the order stays.
    EXPECT_EQ(v.SetOrder("FILES:NOSUCH"), 76);
    EXPECT_EQ(v.OrderBy(true), "DATE DESC,SYSFILES");
    // Upper case applies to text only.
    EXPECT_EQ(v.SetOrder("UPPER(FILES:SIZE)"), 0);
    EXPECT_EQ(v.OrderBy(true), "SIZE,SYSFILES");
}

TEST_F(ViewTest, SqlFilterReplacesTheViewsFilterUnlessItBeginsWithPlus) {
    View v(files_->file);
    v.SetFilter("FILES:SIZE > 5 AND FILES:NAME <> 'FILES:NAME'");
    // Labels become columns; quoted text stays as typed.
    EXPECT_EQ(v.Condition(), "SIZE > 5 AND NAME <> 'FILES:NAME'");
    v.SetSqlFilter("(SysFILES > 0) and (name like '%a%')   ");
    EXPECT_EQ(v.Condition(), "(SysFILES > 0) and (name like '%a%')");
    v.SetSqlFilter("+SysFILES > 3");
    EXPECT_EQ(v.Condition(), "(SIZE > 5 AND NAME <> 'FILES:NAME') AND (SysFILES > 3)");
    v.SetFilter("");
    EXPECT_EQ(v.Condition(), "SysFILES > 3");
    EXPECT_EQ(v.GetProperty(PROP_SQLFilter), "+SysFILES > 3");

    // Read: only the rows both conditions let through.
    Fill(12);
    v.SetFilter("FILES:SIZE >= 2000");
    ASSERT_EQ(v.Open(), 0) << FileError();
    std::vector<ULONG> ids = ReadAll(v, true);
    std::set<ULONG> want;
    for (const Row& r : rows_)
        if (r.size >= 2000 && r.id > 3) want.insert(r.id);
    EXPECT_EQ(std::set<ULONG>(ids.begin(), ids.end()), want);
    EXPECT_EQ(ids.size(), want.size());
}

TEST_F(ViewTest, ThreeOrdersPageBothWaysAcrossTies) {
    Fill(53);
    struct Case {
        const char* order;
        std::vector<ULONG> expected;
    };
    const std::vector<Case> cases = {
        {"UPPER(FILES:NAME),FILES:SysFILES", Expected([](const Row& r) { return Upper(r.name); })},
        {"FILES:Size,FILES:SysFILES", Expected([](const Row& r) { return r.size; })},
        {"FILES:DATE,FILES:SysFILES",
         Expected([](const Row& r) { return (std::uint64_t(r.date) << 32) | r.time; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.order);
        View v(files_->file);
        ASSERT_EQ(v.SetOrder(c.order), 0);
        v.Buffer(7, 1, 0, 60);
        ASSERT_EQ(v.Open(), 0) << FileError();

        EXPECT_EQ(ReadAll(v, true), c.expected);
        std::vector<ULONG> backwards(c.expected.rbegin(), c.expected.rend());
        v.Set();
        EXPECT_EQ(ReadAll(v, false), backwards);

        // From the position of every row: forwards from it, backwards from it.
        for (std::size_t i = 0; i < c.expected.size(); i += 6) {
            v.Set();
            for (std::size_t k = 0; k <= i; ++k) ASSERT_EQ(v.Next(), 0);
            const std::string pos = v.Position();
            ASSERT_EQ(files_->SYSFILES, c.expected[i]);
            v.Flush();  // from the server, not the buffer
            ASSERT_EQ(v.Reset(pos), 0);
            std::vector<ULONG> fwd = ReadAll(v, true);
            EXPECT_EQ(fwd, std::vector<ULONG>(c.expected.begin() + long(i), c.expected.end()));
            v.Flush();
            ASSERT_EQ(v.Reset(pos), 0);
            std::vector<ULONG> back = ReadAll(v, false);
            std::vector<ULONG> want(c.expected.begin(), c.expected.begin() + long(i) + 1);
            std::reverse(want.begin(), want.end());
            EXPECT_EQ(back, want);
        }
        // Turning round in the middle reads the rows already passed again, in reverse.
        v.Set();
        for (int k = 0; k < 20; ++k) ASSERT_EQ(v.Next(), 0);
        ASSERT_EQ(v.Previous(), 0);
        EXPECT_EQ(files_->SYSFILES, c.expected[18]);
        ASSERT_EQ(v.Previous(), 0);
        EXPECT_EQ(files_->SYSFILES, c.expected[17]);
        ASSERT_EQ(v.Next(), 0);
        EXPECT_EQ(files_->SYSFILES, c.expected[18]);
    }
}

TEST_F(ViewTest, EachPageIsOneLimitedStatementAndBufferedRowsAreServedWithoutOne) {
    Fill(30);
    View v(files_->file);
    ASSERT_EQ(v.SetOrder("UPPER(FILES:NAME),FILES:SysFILES"), 0);
    v.Buffer(5, 2, 0, 60);
    ASSERT_EQ(v.Open(), 0);
    const long before = v.Statements();
    for (int k = 0; k < 12; ++k) ASSERT_EQ(v.Next(), 0);
    EXPECT_EQ(v.Statements() - before, 3);  // pages of 5: rows 1-5, 6-10, 11-15
    EXPECT_NE(v.LastStatement().find(" ORDER BY UPPER(NAME),SYSFILES"), std::string::npos)
        << v.LastStatement();
    EXPECT_NE(v.LastStatement().find(" LIMIT 5"), std::string::npos) << v.LastStatement();
    // Pages behind are kept (2 of 5 rows each), so going back a few rows asks nothing.
    EXPECT_LE(v.BufferedRows(), 15u);
    const std::string pos = v.Position();
    const long at = v.Statements();
    for (int k = 0; k < 6; ++k) ASSERT_EQ(v.Previous(), 0);
    ASSERT_EQ(v.Reset(pos), 0);
    ASSERT_EQ(v.Next(), 0);
    EXPECT_EQ(v.Statements(), at);
    EXPECT_EQ(v.Position(), pos);
    // A flush forgets the pages: the same read asks the server again.
    v.Flush();
    ASSERT_EQ(v.Next(), 0);
    EXPECT_EQ(v.Statements(), at + 1);

    // A position from another order is refused.
    View other(files_->file);
    ASSERT_EQ(other.SetOrder("FILES:Size"), 0);
    ASSERT_EQ(other.Open(), 0);
    EXPECT_EQ(other.Reset(pos.substr(0, 3)), 38);
    EXPECT_EQ(other.Reset(std::string(1024, ' ')), 0);  // blank: from the start
    EXPECT_EQ(other.Next(), 0);
}

TEST_F(ViewTest, LocatingByAValueStartsAtTheFirstRowNotBelowItWithoutRegardToCase) {
    Fill(20);
    View v(files_->file);
    ASSERT_EQ(v.SetOrder("UPPER(FILES:NAME),FILES:SysFILES"), 0);
    ASSERT_EQ(v.Open(), 0);
    files_->NAME = "de";
    files_->SYSFILES = 0;
    ASSERT_EQ(v.Reset(v.PositionOfRecord()), 0);
    ASSERT_EQ(v.Next(), 0);
    EXPECT_EQ(Upper(files_->NAME.Str()), "DELTA");
    const std::vector<ULONG> order = Expected([](const Row& r) { return Upper(r.name); });
    const auto first =
        std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.id == order[0]; });
    (void)first;
    // The lowest id among the names that compare equal comes first.
    ULONG lowest = 0;
    for (ULONG id : order) {
        auto it = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.id == id; });
        if (Upper(it->name) == "DELTA") {
            lowest = id;
            break;
        }
    }
    EXPECT_EQ(files_->SYSFILES, lowest);
    // Past every name: nothing forwards, the last row backwards.
    files_->NAME = "zzz";
    ASSERT_EQ(v.Reset(v.PositionOfRecord()), 0);
    EXPECT_EQ(v.Next(), 33);
    ASSERT_EQ(v.Reset(v.PositionOfRecord()), 0);
    ASSERT_EQ(v.Previous(), 0);
    EXPECT_EQ(files_->SYSFILES, order.back());
    // A typed apostrophe is a character of the value, not the end of a literal.
    files_->NAME = "a'b";
    ASSERT_EQ(v.Reset(v.PositionOfRecord()), 0);
    EXPECT_EQ(v.Next(), 0) << FileError();
}

TEST_F(ViewTest, FailuresAreCodes) {
    View v(files_->file);
    EXPECT_EQ(v.Next(), 37);  // not open
    v.SetSqlFilter("no_such_column > 1");
    EXPECT_EQ(v.Open(), 90);  // the server refuses the condition at open
    EXPECT_FALSE(FileErrorCode().empty());
    EXPECT_FALSE(v.IsOpen());
    v.SetSqlFilter("");
    ASSERT_EQ(v.Open(), 0);
    EXPECT_EQ(v.Next(), 33);  // an empty view
    EXPECT_EQ(v.Previous(), 33);
    // A condition that fails while reading: the read fails with the driver's code.
    v.SetSqlFilter("no_such_column > 1");
    v.Set();
    EXPECT_EQ(v.Next(), 90);

    // A table that is not open cannot be viewed.
    FilesTable closed(table_ + "x");
    closed.file.SetOwner(owner_);
    View w(closed.file);
    EXPECT_EQ(w.Open(), 37);
}

// The file browse reads FILES on its own thread while the main thread inserts into it: the
// same connection, each thread with its own instance of the table. The writer starts once the
// view has buffered its first page, and the view reads on until the writer has added every
// row, so the inserts fall between the view's pages however the threads are scheduled.
TEST_F(ViewTest, ReadsWhileAnotherThreadInsertsOnTheSameConnection) {
    Fill(40);
    const std::vector<ULONG> originals = Expected([](const Row& r) { return Upper(r.name); });
    // The new rows ("NEW1000", ...) sort after every original name, in the order they are added.
    constexpr ULONG kFirstNew = 1000;
    constexpr int kNew = 200;
    // A round's rows: the originals once each and in order, then the new rows added so far,
    // in order and none left out.
    auto check = [&](const std::vector<ULONG>& ids, int round) {
        std::size_t split = std::min(ids.size(), originals.size());
        EXPECT_EQ(std::vector<ULONG>(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(split)),
                  originals)
            << "round " << round;
        for (std::size_t i = split; i < ids.size(); ++i)
            if (ids[i] != kFirstNew + (i - split)) {
                ADD_FAILURE() << "round " << round << ": row " << i << " is " << ids[i];
                break;
            }
    };
    View v(files_->file);
    ASSERT_EQ(v.SetOrder("UPPER(FILES:NAME),FILES:SysFILES"), 0);
    v.Buffer(6, 1, 0, 0);
    ASSERT_EQ(v.Open(), 0);
    ASSERT_EQ(v.Next(), 0) << FileError();
    std::vector<ULONG> ids{files_->SYSFILES};

    std::atomic<bool> done{false};
    std::atomic<int> inserted{0};
    std::string writer_error;
    std::thread writer([&] {
        FilesTable mine(table_);
        mine.file.SetOwner(owner_);
        if (Open(mine) != 0) {
            writer_error = "open " + FileError();
        } else {
            for (ULONG id = kFirstNew; id < kFirstNew + kNew; ++id) {
                mine.SYSFILES = id;
                mine.SYSCOMPUTER = 2;
                mine.NAME = "new" + std::to_string(id);
                mine.DIR = "/n/";
                mine.DATE_DATE = dt::DATE{1, 1, 2020};
                mine.SIZE = id;
                if (Add(mine.file) != 0) {
                    writer_error = "add " + FileError();
                    break;
                }
                ++inserted;
            }
            Close(mine);
        }
        done = true;
    });
    for (ULONG id : ReadAll(v, true)) ids.push_back(id);
    check(ids, 0);
    for (int round = 1; !done && round < 10000; ++round) {
        v.Set();
        check(ReadAll(v, true), round);
    }
    writer.join();
    EXPECT_EQ(writer_error, "");
    EXPECT_EQ(inserted.load(), kNew);
    // Every row the other thread added is there for the view.
    v.Set();
    ids = ReadAll(v, true);
    EXPECT_EQ(ids.size(), originals.size() + kNew);
    check(ids, -1);
}

}  // namespace
}  // namespace dt::test
