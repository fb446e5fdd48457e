// The SQL driver end to end against a real server: one test body, built for the embedded
// database (SQLite) and for PostgreSQL (tests/support/backend.h).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "data/sql_connection.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "platform/text.h"
#include "runtime/errors.h"
#include "tests/data/driver_fixture.h"
#include "tests/data/test_tables.h"
#include "tests/support/backend.h"

namespace dt::test {
namespace {

TEST_F(DriverTest, CreateAddGetRoundTripKeepsEveryFieldType) {
    auto f = OpenFiles();
    Fill(*f, 1, "O'Brien \xC3\xA9t\xC3\xA9.txt", 3'000'000'000u);  // apostrophe, UTF-8, above 2^31
    ASSERT_EQ(Add(*f), 0) << FileErrorCode() << " " << FileError();
    Fill(*f, 2, "other", 5);
    ASSERT_EQ(Add(*f), 0);

    f->Record() = FilesRecord{};
    f->SYSFILES = 1;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0) << FileError();
    EXPECT_EQ(f->NAME.Str(), "O'Brien \xC3\xA9t\xC3\xA9.txt");
    EXPECT_EQ(f->SIZE, 3'000'000'000u);  // a ULONG column holds all 32 bits
    EXPECT_EQ(f->SYSCOMPUTER, 7u);
    EXPECT_EQ(f->TYPE, 32);
    EXPECT_EQ(f->DIR.Str(), "/home/user/");
    EXPECT_EQ(f->DATE_DATE, (dt::DATE{24, 12, 2025}));
    EXPECT_EQ(f->DATE_TIME, (dt::TIME{0, 30, 15, 10}));

    // The server holds the size itself, not its bit pattern as a negative number: a
    // search by size finds it and it sorts after the small one.
    EXPECT_EQ(Value("SELECT COUNT(*) FROM " + table_ + " WHERE Size > 2999999999"), "1");
    EXPECT_EQ(Value("SELECT NAME FROM " + table_ + " ORDER BY Size DESC"), "O'Brien \xC3\xA9t\xC3\xA9.txt");

    f->SYSFILES = 99;
    EXPECT_EQ(Get(f->KEYSYSFILES), 35);
    EXPECT_EQ(f->SYSFILES, 99u);  // the buffer keeps what was looked for
    EXPECT_EQ(Records(*f), 2);
    (void)Close(*f);
}

TEST_F(DriverTest, DuplicateKeyIsError40AndMissingTableIs2) {
    auto f = OpenFiles();
    Fill(*f, 1, "a");
    ASSERT_EQ(Add(*f), 0);
    EXPECT_EQ(Add(*f), 40) << FileErrorCode() << " " << FileError();
    (void)Close(*f);

    auto missing = Files("", table_ + "_missing");
    EXPECT_EQ(Open(*missing), 2);
}

TEST_F(DriverTest, ExistingTableWithOtherCaseIsFoundAndWrongColumnIs47) {
    // A table made by hand in upper case (folded by PostgreSQL) is an existing table.
    std::string name = table_ + "_X";
    created_.push_back(name);
    EXPECT_EQ(Value("CREATE TABLE " + name + " (SYSFILES INTEGER, NAME VARCHAR(20))"), "no row");
    auto f = Files("", name);
    EXPECT_EQ(Open(*f), 47);  // SYSCOMPUTER and the others are no columns of that table
    auto g = Files("/NOVERIFY=TRUE", name);
    EXPECT_EQ(Open(*g), 0);
    (void)Close(*g);
}

TEST_F(DriverTest, SequentialReadsInKeyOrderBothWaysAndFromAPosition) {
    auto f = OpenFiles();
    const char* names[] = {"delta", "alpha", "echo", "charlie", "bravo"};
    for (ULONG i = 0; i < 5; ++i) {
        Fill(*f, i + 1, names[i]);
        ASSERT_EQ(Add(*f), 0);
    }
    ASSERT_EQ(Set(f->KEYNAME_FILES), 0);
    std::string seen;
    for (int i = 0; i < 10 && Next(*f) == 0; ++i) seen += f->NAME.Str() + " ";
    EXPECT_EQ(seen, "alpha bravo charlie delta echo ");
    EXPECT_EQ(ErrorCode(), 33);

    ASSERT_EQ(Set(f->KEYNAME_FILES), 0);
    seen.clear();
    for (int i = 0; i < 10 && Previous(*f) == 0; ++i) seen += f->NAME.Str() + " ";
    EXPECT_EQ(seen, "echo delta charlie bravo alpha ");

    // From a start value, then a change of direction returns the row before.
    f->NAME = "CHARLIE";  // NOCASE key
    ASSERT_EQ(Set(f->KEYNAME_FILES, f->KEYNAME_FILES), 0);
    ASSERT_EQ(Next(*f), 0);
    EXPECT_EQ(f->NAME.Str(), "charlie");
    ASSERT_EQ(Next(*f), 0);
    EXPECT_EQ(f->NAME.Str(), "delta");
    ASSERT_EQ(Previous(*f), 0);
    EXPECT_EQ(f->NAME.Str(), "charlie");
    ASSERT_EQ(Previous(*f), 0);
    EXPECT_EQ(f->NAME.Str(), "bravo");
    (void)Close(*f);
}

TEST_F(DriverTest, ColumnByColumnFetchReadsTheSameValues) {
    auto f = OpenFiles("/FASTCOLUMNFETCH=FALSE");
    EXPECT_EQ(Send(*f, "/FASTCOLUMNFETCH"), "FALSE");
    Fill(*f, 1, "slow path", 4'000'000'000u);
    ASSERT_EQ(Add(*f), 0);
    Fill(*f, 2, "second");
    ASSERT_EQ(Add(*f), 0);
    f->Record() = FilesRecord{};
    ASSERT_EQ(Set(f->KEYSYSFILES), 0);
    ASSERT_EQ(Next(*f), 0);
    EXPECT_EQ(f->NAME.Str(), "slow path");
    EXPECT_EQ(f->SIZE, 4'000'000'000u);
    EXPECT_EQ(f->DATE_TIME, (dt::TIME{0, 30, 15, 10}));
    ASSERT_EQ(Next(*f), 0);
    EXPECT_EQ(f->SYSFILES, 2u);
    EXPECT_EQ(Next(*f), 33);
    Send(*f, "/FASTCOLUMNFETCH=TRUE");  // a server option: later tests share the server object
    (void)Close(*f);
}

TEST_F(DriverTest, HighestKeyReadThenMoreRowsContinueCorrectly) {
    auto f = OpenFiles();
    for (ULONG i = 1; i <= 30; ++i) {
        Fill(*f, i * 10, "n" + std::to_string(i));
        ASSERT_EQ(Add(*f), 0);
    }
    // Auto-numbering reads the highest value: the first read asks for one row only.
    ASSERT_EQ(Set(f->KEYSYSFILES), 0);
    ASSERT_EQ(Previous(*f), 0);
    EXPECT_EQ(f->SYSFILES, 300u);
    // Reading on goes through the whole table without losing or repeating a row.
    ULONG expect = 290;
    int count = 1;
    while (Previous(*f) == 0 && count < 100) {
        EXPECT_EQ(f->SYSFILES, expect);
        expect -= 10;
        ++count;
    }
    EXPECT_EQ(count, 30);
    (void)Close(*f);
}

TEST_F(DriverTest, AutoNumberingPatternSeesEachNewRow) {
    // Highest key, then insert the next number: the one-row read is prepared once and
    // must see every row added since it last ran.
    auto f = OpenFiles();
    for (ULONG i = 1; i <= 25; ++i) {
        ASSERT_EQ(Set(f->KEYSYSFILES), 0);
        int rc = Previous(*f);
        ULONG next = rc == 0 ? f->SYSFILES + 1 : 1;
        if (i == 1) {
            EXPECT_EQ(rc, 33);
        }
        EXPECT_EQ(next, i);
        Fill(*f, next, "auto" + std::to_string(next));
        ASSERT_EQ(Add(*f), 0) << FileError();
        f->SYSFILES = next;
        ASSERT_EQ(Get(f->KEYSYSFILES), 0);
        EXPECT_EQ(f->NAME.Str(), "auto" + std::to_string(next));
    }
    EXPECT_EQ(Records(*f), 25);
    (void)Close(*f);
}

TEST_F(DriverTest, PutWritesChangedColumnsWatchDetectsOtherStations) {
    auto f = OpenFiles();
    Fill(*f, 1, "one", 10);
    ASSERT_EQ(Add(*f), 0);
    f->SYSFILES = 1;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0);
    EXPECT_EQ(Put(*f), 0);  // nothing changed: no SQL, success

    f->SIZE = 20;
    ASSERT_EQ(SetNull(*f, "FILES:EXTENSION"), 0);
    ASSERT_EQ(Put(*f), 0) << FileError();
    EXPECT_EQ(Value("SELECT SIZE FROM " + table_ + " WHERE SYSFILES = 1"), "20");
    EXPECT_EQ(Value("SELECT COUNT(*) FROM " + table_ + " WHERE EXTENSION IS NULL"), "1");

    // Another station changes the row after this one read it under WATCH.
    auto other = Files();
    ASSERT_EQ(Open(*other), 0);
    ASSERT_EQ(Watch(*f), 0);
    f->SYSFILES = 1;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0);
    EXPECT_TRUE(IsNull(*f, "FILES:EXTENSION"));
    other->SYSFILES = 1;
    ASSERT_EQ(Get(other->KEYSYSFILES), 0);
    other->SIZE = 99;
    ASSERT_EQ(Put(*other), 0);
    f->SIZE = 30;
    EXPECT_EQ(Put(*f), 89);
    EXPECT_EQ(Value("SELECT SIZE FROM " + table_ + " WHERE SYSFILES = 1"), "99");

    ASSERT_EQ(Get(other->KEYSYSFILES), 0);
    ASSERT_EQ(Delete(*other), 0);
    EXPECT_EQ(Records(*other), 0);
    (void)Close(*other);
    (void)Close(*f);
}

TEST_F(DriverTest, PassThroughSelectsRunsStatementsAndReportsErrors) {
    auto f = OpenFiles();
    for (ULONG i = 1; i <= 3; ++i) {
        Fill(*f, i, "p" + std::to_string(i));
        ASSERT_EQ(Add(*f), 0);
    }
    auto s = Sql();
    ASSERT_EQ(Open(*s), 0);
    ASSERT_EQ(SetProperty(*s, PROP_SQL, " \t select NAME from " + table_ + " order by NAME"), 0)
        << FileError();
    std::string seen;
    for (int i = 0; i < 10 && Next(*s) == 0; ++i) seen += s->FELD1.Str() + ",";
    EXPECT_EQ(seen, "p1,p2,p3,");
    EXPECT_EQ(ErrorCode(), 33);

    // Another operation ends the result set.
    ASSERT_EQ(SetProperty(*s, PROP_SQL, "SELECT NAME FROM " + table_), 0);
    EXPECT_EQ(GetProperty(*s, PROP_SQL), "SELECT NAME FROM " + table_);
    Send(*s, "/ZEROISNULL=TRUE");
    EXPECT_EQ(Next(*s), 33);

    ASSERT_EQ(SetProperty(*s, PROP_SQL, "DELETE FROM " + table_ + " WHERE SYSFILES = 2"), 0) << FileError();
    EXPECT_EQ(Records(*f), 2);
    EXPECT_EQ(SetProperty(*s, PROP_SQL, "SELECT * FROM " + table_ + "_nosuchtable"), 90);  // not 2
    EXPECT_EQ(SetProperty(*s, PROP_SQL, "SELECT nosuchcolumn FROM " + table_), 90);
    EXPECT_EQ(FileErrorCode().size(), 5u);
    EXPECT_FALSE(FileError().empty());
    EXPECT_NE(FileError()[0], '[');  // bracketed prefixes removed
    (void)Close(*s);
    (void)Close(*f);
}

// A pass-through result longer than a row block (64 rows at a time) gives every row once,
// in order and whole, the last block a short one; then the end.
TEST_F(DriverTest, PassThroughRowsComeWholeAcrossRowBlocks) {
    auto f = OpenFiles();
    for (ULONG i = 1; i <= 150; ++i) {
        Fill(*f, i, "row" + std::to_string(i), i * 1000);
        ASSERT_EQ(Add(*f), 0) << FileError();
    }
    ASSERT_EQ(SetProperty(*f, PROP_SQL, "select * from " + table_ + " order by SYSFILES"), 0) << FileError();
    ULONG rows = 0;
    for (int i = 0; i < 200 && Next(*f) == 0; ++i) {
        ++rows;
        EXPECT_EQ(f->SYSFILES, rows);
        EXPECT_EQ(f->NAME.Str(), "row" + std::to_string(rows));
        EXPECT_EQ(f->DIR.Str(), "/home/user/");
        EXPECT_EQ(f->SIZE, rows * 1000);
        const dt::DATE date{24, 12, 2025};  // as Fill writes them
        const dt::TIME time{0, 30, 15, 10};
        EXPECT_EQ(std::memcmp(&f->DATE_DATE, &date, sizeof date), 0);
        EXPECT_EQ(std::memcmp(&f->DATE_TIME, &time, sizeof time), 0);
    }
    EXPECT_EQ(rows, 150u);
    EXPECT_EQ(ErrorCode(), 33);
    // The embedded database's library is in use now: its locking is left as it is.
    if (!IsPostgres()) {
        EXPECT_EQ(SetEmbeddedLibraryForOneThread(), EmbeddedLibrarySetup::InUse);
    }
    (void)Close(*f);
}

TEST_F(DriverTest, ExplicitCreateReplacesButCreateIfMissingKeepsRows) {
    auto f = OpenFiles();
    Fill(*f, 1, "keep");
    ASSERT_EQ(Add(*f), 0);
    (void)Close(*f);
    EXPECT_EQ(CreateIfMissing(*f), 0);
    ASSERT_EQ(Open(*f), 0);
    EXPECT_EQ(Records(*f), 1);
    (void)Close(*f);
    EXPECT_EQ(Create(*f), 0);
    ASSERT_EQ(Open(*f), 0);
    EXPECT_EQ(Records(*f), 0);
    (void)Close(*f);

    auto nocreate = Files("", table_ + "_nc");
    nocreate->file.flags = 0;
    EXPECT_EQ(Create(*nocreate), 54);
    EXPECT_EQ(Remove(*f), 0);
    EXPECT_EQ(Open(*f), 2);
}

TEST_F(DriverTest, BuildCreatesIndexesAgainWhenTheyExist) {
    auto f = OpenFiles();
    EXPECT_EQ(Build(f->file), 0) << FileErrorCode() << " " << FileError();
    EXPECT_EQ(Build(f->KEYNAME_FILES), 0) << FileErrorCode() << " " << FileError();
    (void)Close(*f);
}

TEST_F(DriverTest, RejectedValuesAreErrorsNeverSuccess) {
    auto f = OpenFiles();
    // NULL into a NOT NULL column (the primary key).
    EXPECT_EQ(Value("INSERT INTO " + table_ + " (SYSFILES, NAME) VALUES (NULL, 'x')").substr(0, 8),
              "error 90");
    (void)Close(*f);
    if (IsPostgres()) {
        // A value too long for its column (SQLite keeps any length).
        std::string name = table_ + "_short";
        created_.push_back(name);
        EXPECT_EQ(Value("CREATE TABLE " + name + " (NAME VARCHAR(3))"), "no row");
        EXPECT_EQ(Value("INSERT INTO " + name + " (NAME) VALUES ('toolong')").substr(0, 8), "error 90");
    }
}

TEST_F(DriverTest, NullFlagsAndZeroIsNull) {
    auto f = OpenFiles("/ZEROISNULL=TRUE");
    Fill(*f, 1, "n");
    f->DATE_DATE = dt::DATE{};
    f->DATE_TIME = dt::TIME{};
    ASSERT_EQ(SetNull(*f, "FILES:SIZE"), 0);
    ASSERT_EQ(Add(*f), 0) << FileError();
    EXPECT_EQ(Value("SELECT COUNT(*) FROM " + table_ + " WHERE DATE IS NULL AND SIZE IS NULL"), "1");
    f->Record() = FilesRecord{};
    (void)SetNonull(*f);
    f->SYSFILES = 1;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0);
    EXPECT_TRUE(IsNull(*f, "FILES:SIZE"));
    EXPECT_TRUE(IsNull(*f, "FILES:DATE"));
    EXPECT_EQ(f->SIZE, 0u);
    EXPECT_TRUE(f->DATE_DATE.IsZero());
    std::string nulls = GetNulls(*f);
    (void)SetNonull(*f);
    EXPECT_FALSE(IsNull(*f, "FILES:SIZE"));
    ASSERT_EQ(SetNulls(*f, nulls), 0);
    EXPECT_TRUE(IsNull(*f, "FILES:SIZE"));
    EXPECT_EQ(Send(*f, "/ZEROISNULL"), "TRUE");
    (void)Close(*f);
}

TEST_F(DriverTest, LongTextIsCutAtACharacterBoundary) {
    std::string name = table_ + "_cut";
    created_.push_back(name);
    EXPECT_EQ(Value("CREATE TABLE " + name + " (FELD1 VARCHAR(300))"), "no row");
    // 255 ASCII bytes then a two-byte character: the 256-byte field keeps 255 bytes.
    std::string text(254, 'a');
    text += "\xC3\xA9\xC3\xA9";
    EXPECT_EQ(Value("INSERT INTO " + name + " (FELD1) VALUES ('" + text + "')"), "no row");
    std::string got = Value("SELECT FELD1 FROM " + name);
    EXPECT_EQ(got, std::string(254, 'a')) << got.size();
}

TEST_F(DriverTest, TransactionsCommitAndRollBackAcrossFilesOfOneOwner) {
    auto f = OpenFiles();
    auto g = Files();
    ASSERT_EQ(Open(*g), 0);
    ASSERT_EQ(Logout(1, {&f->file}), 0) << FileError();
    Fill(*g, 1, "rolled back");  // written through the other file: same connection
    ASSERT_EQ(Add(*g), 0);
    ASSERT_EQ(Rollback(), 0) << FileError();
    EXPECT_EQ(Records(*f), 0);

    ASSERT_EQ(Logout(1, {&f->file, &g->file}), 0);
    Fill(*f, 2, "kept");
    ASSERT_EQ(Add(*f), 0);
    ASSERT_EQ(Commit(), 0);
    EXPECT_EQ(Records(*g), 1);
    EXPECT_EQ(Commit(), 91);  // no transaction

    // A file without an owner joins the server object created last: the same connection.
    FilesTable anon(table_);
    ASSERT_EQ(Open(anon), 0) << FileError();
    ASSERT_EQ(Logout(1, {&f->file}), 0);
    Fill(anon, 3, "joined");
    ASSERT_EQ(Add(anon), 0);
    ASSERT_EQ(Rollback(), 0);
    EXPECT_EQ(Records(*f), 1);
    (void)Close(anon);
    (void)Close(*g);
    (void)Close(*f);
}

TEST_F(DriverTest, ConstantsWrittenAsLiteralsWork) {
    auto f = OpenFiles("/BINDCONSTANTS=FALSE");
    EXPECT_EQ(Send(*f, "/BINDCONSTANTS"), "FALSE");
    for (ULONG i = 1; i <= 3; ++i) {
        Fill(*f, i, "lit'" + std::to_string(i), 3'000'000'000u + i);
        ASSERT_EQ(Add(*f), 0) << FileError();
    }
    f->SYSFILES = 2;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0) << FileError();
    EXPECT_EQ(f->NAME.Str(), "lit'2");
    EXPECT_EQ(f->DATE_TIME, (dt::TIME{0, 30, 15, 10}));
    f->SIZE = 5;
    ASSERT_EQ(Put(*f), 0) << FileError();
    f->NAME = "lit'2";
    ASSERT_EQ(Set(f->KEYNAME_FILES, f->KEYNAME_FILES), 0);
    ASSERT_EQ(Next(*f), 0) << FileError();
    EXPECT_EQ(f->SIZE, 5u);
    ASSERT_EQ(Next(*f), 0);
    EXPECT_EQ(f->NAME.Str(), "lit'3");
    ASSERT_EQ(Delete(*f), 0) << FileError();
    EXPECT_EQ(Records(*f), 2);
    Send(*f, "/BINDCONSTANTS=TRUE");  // a server option: later tests share the server object
    (void)Close(*f);
}

TEST_F(DriverTest, UnknownFieldIsLoggedWithTheValidNames) {
    std::string name = table_ + "_few";
    created_.push_back(name);
    EXPECT_EQ(Value("CREATE TABLE " + name + " (SYSFILES INTEGER, NAME VARCHAR(20))"), "no row");
    std::filesystem::path log = dir_.path() / "fields.log";
    auto f = Files("/LOGFILE=" + log.string(), name);
    EXPECT_EQ(Open(*f), 47);
    f.reset();
    std::string text = ReadFile(log.string());
    EXPECT_NE(text.find("Invalid field name: SYSCOMPUTER\r\nValid field names are: \r\n"), std::string::npos)
        << text;
    const std::string lower = Lower(text);
    EXPECT_NE(lower.find("\r\nname\r\n"), std::string::npos) << text;  // PostgreSQL lists it in lower case
}

TEST_F(DriverTest, AppendCollectsRowsAndSendsThemBeforeTheNextOperation) {
    auto f = OpenFiles();
    ASSERT_EQ(Logout(1, {&f->file}), 0);
    for (ULONG i = 1; i <= 1000; ++i) {
        Fill(*f, i, "bulk" + std::to_string(i), i);
        ASSERT_EQ(Append(*f), 0);
    }
    ASSERT_EQ(Commit(), 0) << FileError();
    EXPECT_EQ(Records(*f), 1000);
    EXPECT_EQ(Value("SELECT SIZE FROM " + table_ + " WHERE SYSFILES = 777"), "777");

    Fill(*f, 1001, "x");
    ASSERT_EQ(Append(*f), 0);
    Fill(*f, 5, "duplicate");
    ASSERT_EQ(Append(*f), 0);
    EXPECT_NE(Records(*f), 1002);  // the collected rows fail on their way: never a silent success
    EXPECT_NE(ErrorCode(), 0);
    (void)Close(*f);
}

TEST_F(DriverTest, ThreadsShareTheConnectionWithOwnRecordBuffers) {
    {
        auto f = OpenFiles();
        (void)Close(*f);
    }
    std::atomic<int> failures{0};
    auto work = [&](ULONG base) {
        FilesTable t(table_);
        t.file.SetOwner(owner_);
        if (Open(t) != 0) {
            ++failures;
            return;
        }
        for (ULONG i = 0; i < 50; ++i) {
            Fill(t, base + i, "t" + std::to_string(base + i));
            if (Add(t) != 0) ++failures;
        }
        (void)Set(t.KEYSYSFILES);
        int n = 0;
        while (Next(t) == 0 && n < 1000) ++n;
        if (n < 50) ++failures;
        (void)Close(t);
    };
    std::thread a(work, 1000), b(work, 2000);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Value("SELECT COUNT(*) FROM " + table_), "100");
}

// Another operation ends a pass-through result set by closing its statement: a call on the
// shared connection, so it waits while another thread holds the connection like every other
// call. (The test looks at the table from a second thread only to see whether its result set
// is still open.)
TEST_F(DriverTest, EndingAPassThroughResultWaitsForTheSharedConnection) {
    auto f = OpenFiles();
    Fill(*f, 1, "c1");
    ASSERT_EQ(Add(*f), 0) << FileError();
    auto s = Sql();
    ASSERT_EQ(Open(*s), 0);
    ASSERT_EQ(SetProperty(*s, PROP_SQL, "SELECT NAME FROM " + table_), 0) << FileError();
    ASSERT_EQ(GetProperty(*s, PROP_ResultColumns), "1");
    std::string state, why;
    std::shared_ptr<Environment> env = Environment::Get(&state, &why);
    ASSERT_NE(env, nullptr) << why;
    std::shared_ptr<Server> server = env->FindServer(owner_);
    ASSERT_NE(server, nullptr);
    std::shared_ptr<Connection> conn = server->connection.lock();
    ASSERT_NE(conn, nullptr);

    std::atomic<bool> finished{false};
    std::thread other;
    {
        std::lock_guard held(conn->mutex);
        other = std::thread([&] {
            (void)Buffer(*s, 10);  // ends the result set
            finished = true;
        });
        // Time for the other thread to get as far as it can while the connection is held.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(finished.load());
        EXPECT_EQ(GetProperty(*s, PROP_ResultColumns), "1")
            << "the statement was closed without the connection";
    }
    other.join();
    EXPECT_TRUE(finished.load());
    EXPECT_EQ(GetProperty(*s, PROP_ResultColumns), "0");
    EXPECT_EQ(Next(*s), 33);
    (void)Close(*s);
    (void)Close(*f);
}

TEST_F(DriverTest, GetStateRestoresPositionAndRecord) {
    auto f = OpenFiles();
    for (ULONG i = 1; i <= 5; ++i) {
        Fill(*f, i, "s" + std::to_string(i));
        ASSERT_EQ(Add(*f), 0);
    }
    (void)Set(f->KEYSYSFILES);
    (void)Next(*f);
    (void)Next(*f);
    long h = GetState(*f);
    ASSERT_GT(h, 0);
    (void)Next(*f);
    EXPECT_EQ(f->SYSFILES, 3u);
    ASSERT_EQ(RestoreState(*f, h), 0);
    EXPECT_EQ(f->SYSFILES, 2u);
    ASSERT_EQ(Next(*f), 0);
    EXPECT_EQ(f->SYSFILES, 3u);
    EXPECT_EQ(FreeState(*f, h), 0);
    EXPECT_EQ(RestoreState(*f, h), 78);
    (void)Close(*f);
}

TEST_F(DriverTest, RecordsByKeyCountsDistinctValuesAndEmptyDeletesAll) {
    auto f = OpenFiles();
    const char* names[] = {"same", "same", "other"};
    for (ULONG i = 0; i < 3; ++i) {
        Fill(*f, i + 1, names[i]);
        ASSERT_EQ(Add(*f), 0);
    }
    EXPECT_EQ(Records(*f), 3);
    EXPECT_EQ(Records(f->KEYNAME_FILES), 2);
    ASSERT_EQ(Empty(*f), 0);
    EXPECT_EQ(Records(*f), 0);
    (void)Close(*f);
    EXPECT_EQ(Records(*f), -1);  // a closed file
    EXPECT_EQ(ErrorCode(), 37);
}

TEST_F(DriverTest, TraceLogMasksThePasswordAndProfileListsOperations) {
    std::filesystem::path log = dir_.path() / "trace.log";
    WriteProfile("[QXMSSQL]\nTrace=1\nProfile=1\nDetails=1\nTraceFile=" + log.string() + "\n");
    owner_ += ",";  // a new owner text: a new connection, traced from its start
    auto f = OpenFiles();
    Fill(*f, 1, "traced");
    ASSERT_EQ(Add(*f), 0);
    (void)Close(*f);
    f.reset();  // the logs are closed with the file's driver state
    std::string text = ReadFile(log.string());
    EXPECT_NE(text.find("Connecting to Driver={"), std::string::npos);
    EXPECT_NE(text.find(" Time Taken:"), std::string::npos);
    EXPECT_NE(text.find("Microsoft SQL 5.506.04.043 Log started: "), std::string::npos);
    EXPECT_NE(text.find(",OWNER(******)"), std::string::npos);
    EXPECT_EQ(text.find(owner_), std::string::npos);
    EXPECT_NE(text.find("ADD(" + table_), std::string::npos);
    EXPECT_NE(text.find("  FILES:NAME        : 'traced'"), std::string::npos);
    if (IsPostgres() && !Backend::Pg().password.empty()) {
        EXPECT_NE(text.find("PWD=********"), std::string::npos);
        EXPECT_EQ(text.find("PWD=" + Backend::Pg().password), std::string::npos);
    }
}

TEST_F(DriverTest, RefusedLoginIsAnErrorNotTheEmbeddedDatabase) {
    if (!IsPostgres()) GTEST_SKIP() << "a server login: PostgreSQL only";
    auto f = Files();
    f->file.SetOwner(Backend::Server() + ",postgres,no_such_role_dt,secret");
    EXPECT_EQ(Open(*f), 90);
    EXPECT_FALSE(FileError().empty());
    EXPECT_FALSE(std::filesystem::exists("postgres.db"));
}

TEST_F(DriverTest, ServerThatNeverAnswersFailsWithinTheLoginTimeOut) {
    if (!IsPostgres()) GTEST_SKIP() << "a server that never answers: PostgreSQL only";
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(s, 4), 0);
    socklen_t len = sizeof addr;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    auto f = Files();
    f->file.SetOwner("127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + ",postgres,u,p");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Open(*f), 90);
    auto secs =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(secs, 20);
    ::close(s);
}

TEST_F(DriverTest, EmbeddedDatabaseIsAFileNamedAfterTheDatabase) {
    if (IsPostgres()) GTEST_SKIP() << "the embedded database's file: SQLite only";
    auto f = OpenFiles();
    (void)Close(*f);
    auto s = Sql();
    ASSERT_EQ(Open(*s), 0);
    EXPECT_EQ(GetProperty(*s, PROP_DriverName), "SQLite3");
    EXPECT_EQ(GetProperty(*s, PROP_ServerKind), std::to_string(KIND_SQLITE));
    (void)Close(*s);
    bool found = false;
    for (auto& e : std::filesystem::directory_iterator(dir_.path()))
        if (e.path().extension() == ".db") found = true;
    EXPECT_TRUE(found);
}

}  // namespace
}  // namespace dt::test
