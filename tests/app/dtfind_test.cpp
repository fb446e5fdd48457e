// dtfind, the command-line search, run as its own process over a scanned site: what it
// prints for each hit, the request's terms (words, directory, extension, strict size
// bounds, computer), the statement it sends, and its exit status and messages for hits,
// no hits and errors. Built for SQLite and for PostgreSQL (tests/support/backend.h).
#include <cstdlib>

#include "app/query.h"
#include "platform/profile.h"
#include "tests/app/qfiles_fixture.h"
#include "tests/support/env.h"

namespace dt {
namespace {

using qtest::Fields;
using qtest::LongName;
using qtest::Result;
using qtest::RunDtfind;
using qtest::SearchSite;
using test::RecordingErrors;

class DtfindTest : public test::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        const std::string database = IsPostgres() ? MakeDatabase("dtsearch") : "drivetrek";
        ASSERT_FALSE(database.empty());
        site_.emplace(database);
        ASSERT_TRUE(site_->Seed());
    }
    void TearDown() override {
        site_.reset();
        BackendTest::TearDown();  // the test database goes
    }

    // The names (third field) of the hits of `args` that lie on `computer`.
    std::vector<std::string> Names(const Result& r, const std::string& computer = "THISBOX") {
        std::vector<std::string> names;
        for (const std::string& l : r.lines) {
            std::vector<std::string> f = Fields(l);
            if (f.size() == 7 && f[0] == computer) names.push_back(f[2]);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::optional<SearchSite> site_;
};

TEST_F(DtfindTest, PrintsEveryHitWithItsComputerPathSizeDateAndTime) {
    const Result r = RunDtfind({"report"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // Five files of the tree on each of two computers, one on the computer scanned later.
    ASSERT_EQ(r.lines.size(), 11u) << r.out;
    bool seen = false;
    for (const std::string& line : r.lines) {
        const std::vector<std::string> f = Fields(line);
        ASSERT_EQ(f.size(), 7u) << line;
        if (f[0] == "THISBOX" && f[2] == "report 2002.doc") {
            seen = true;
            EXPECT_EQ(f[1], site_->Tree());
            EXPECT_EQ(f[3], "doc");
            EXPECT_EQ(f[4], "1024");
            EXPECT_EQ(f[5], "2024-03-10");
            EXPECT_EQ(f[6], "09:30:15");
        }
    }
    EXPECT_TRUE(seen);
    // A name longer than the result list shows comes out whole, and one holding a tab
    // stays one field.
    EXPECT_EQ(Names(r, "LATEBOX"), std::vector<std::string>{LongName()});
    EXPECT_EQ(Names(r), (std::vector<std::string>{"Report-final.doc", "it's a report.txt", "report 2002.doc",
                                                  LongName(), "tab\\tin report.txt"}));
}

TEST_F(DtfindTest, RequestTermsNarrowTheHits) {
    // Matching ignores case on every server.
    EXPECT_EQ(RunDtfind({"REPORT"}).lines.size(), 11u);
    // Two words must both be in the name; "-d" lets a word match the directory instead.
    EXPECT_EQ(Names(RunDtfind({"report", "2002"})), std::vector<std::string>{"report 2002.doc"});
    EXPECT_EQ(Names(RunDtfind({"deep"})), std::vector<std::string>{});
    EXPECT_EQ(Names(RunDtfind({"-d", "deep"})), std::vector<std::string>{LongName()});
    // An apostrophe is text, not the end of the literal.
    EXPECT_EQ(Names(RunDtfind({"it's"})), std::vector<std::string>{"it's a report.txt"});
    // Extension alone is a request.
    EXPECT_EQ(Names(RunDtfind({"-e", "doc"})),
              (std::vector<std::string>{"Report-final.doc", "report 2002.doc"}));
    // Size bounds are strict: 1 KB is 1,024 bytes, which neither bound admits.
    EXPECT_EQ(Names(RunDtfind({"--from", "1", "report"})), std::vector<std::string>{});
    EXPECT_EQ(Names(RunDtfind({"--to", "1", "-e", "doc"})), std::vector<std::string>{"Report-final.doc"});
    // A huge bound does not wrap into a small one (a negative one is refused: see below).
    EXPECT_EQ(Names(RunDtfind({"--to", "2147483647", "-e", "doc"})).size(), 2u);
    // One computer by name, in any case.
    const Result other = RunDtfind({"-c", "otherbox", "report"});
    ASSERT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(other.lines.size(), 5u);
    EXPECT_EQ(Names(other, "OTHERBOX").size(), 5u);
}

TEST_F(DtfindTest, SqlPrintsTheStatementTheResultWindowSends) {
    SearchRequest request;
    request.filter = "it's 2002";
    request.extension = "doc";
    request.search_dir = true;
    request.size_from = 10 * 1024;
    request.computer = site_->other_id;
    const Result r =
        RunDtfind({"--sql", "-d", "-e", "doc", "--from", "10", "-c", "OTHERBOX", "it's", "2002"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The embedded database's statement joins its full-text index, which the site has.
    EXPECT_EQ(r.out, BuildSearchStatement(request, DialectOf(SearchSite::Kind()),
                                          SearchSite::Kind() == ServerKind::Embedded) +
                         "\n");
}

TEST_F(DtfindTest, ExitStatusTellsHitsNoHitsAndErrors) {
    const Result none = RunDtfind({"nothing-like-this"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "");

    // The main window's refusal of an empty request.
    const Result empty = RunDtfind({});
    EXPECT_EQ(empty.status, 2);
    EXPECT_NE(empty.err.find("please enter a search expression"), std::string::npos) << empty.err;

    const Result unknown = RunDtfind({"-c", "NOBOX", "report"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("NOBOX"), std::string::npos) << unknown.err;
    EXPECT_EQ(unknown.out, "");

    // Text the window's entries could not hold is refused, not cut into another search.
    EXPECT_EQ(RunDtfind({std::string(41, 'r')}).status, 2);
    EXPECT_EQ(RunDtfind({"-e", "abcdefghijk"}).status, 2);
    EXPECT_EQ(RunDtfind({"--from", "ten", "report"}).status, 2);
    EXPECT_EQ(RunDtfind({"--to"}).status, 2);
    EXPECT_EQ(RunDtfind({"--bogus", "report"}).status, 2);
    // Sizes out of range are refused with a message, never searched as something else.
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--from", "-5", "-e", "doc"},
                                               {"--to", "-1", "report"},
                                               {"--from", "3", "--to", "2", "report"}}) {
        const Result bad = RunDtfind(args);
        EXPECT_EQ(bad.status, 2) << args[1];
        EXPECT_EQ(bad.out, "");
        EXPECT_NE(bad.err, "");
    }
    // "--" lets a word begin with a minus sign.
    EXPECT_EQ(Names(RunDtfind({"--", "-final"})), std::vector<std::string>{"Report-final.doc"});
}

TEST_F(DtfindTest, LimitCountAndSeveralComputers) {
    // --limit: the first N in name order, and the limit is part of the statement.
    const Result all = RunDtfind({"report"});
    ASSERT_EQ(all.lines.size(), 11u);
    const Result two = RunDtfind({"--limit", "2", "report"});
    ASSERT_EQ(two.status, 0) << two.err;
    ASSERT_EQ(two.lines.size(), 2u);
    // The first two names in name order (rows with the same name on two computers may come
    // in either order).
    EXPECT_EQ(Fields(two.lines[0])[2], Fields(all.lines[0])[2]);
    EXPECT_EQ(Fields(two.lines[1])[2], Fields(all.lines[1])[2]);
    const Result sql = RunDtfind({"--sql", "--limit", "2", "report"});
    EXPECT_NE(sql.out.find("LIMIT 2"), std::string::npos) << sql.out;

    // --count: the server's count, alone on its line; status 1 when it is 0.
    const Result count = RunDtfind({"--count", "report"});
    EXPECT_EQ(count.status, 0) << count.err;
    EXPECT_EQ(count.out, "11\n");
    EXPECT_NE(RunDtfind({"--sql", "--count", "report"}).out.find("count(*)"), std::string::npos);
    const Result zero = RunDtfind({"--count", "nothing-like-this"});
    EXPECT_EQ(zero.status, 1);
    EXPECT_EQ(zero.out, "0\n");

    // -c repeated: the files of any of the named computers.
    const Result two_boxes = RunDtfind({"-c", "otherbox", "-c", "LATEBOX", "report"});
    ASSERT_EQ(two_boxes.status, 0) << two_boxes.err;
    EXPECT_EQ(Names(two_boxes, "OTHERBOX").size(), 5u);
    EXPECT_EQ(Names(two_boxes, "LATEBOX").size(), 1u);
    EXPECT_EQ(Names(two_boxes, "THISBOX").size(), 0u);
    EXPECT_EQ(two_boxes.lines.size(), 6u);
    EXPECT_EQ(RunDtfind({"--count", "-c", "otherbox", "-c", "LATEBOX", "report"}).out, "6\n");
    // One unknown name among known ones is an error that names it.
    const Result unknown = RunDtfind({"-c", "OTHERBOX", "-c", "GHOSTBOX", "report"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_NE(unknown.err.find("GHOSTBOX"), std::string::npos) << unknown.err;
}

// On the embedded database dtfind steps through a result row by row: a broad search
// needs little more memory than a narrow one, whatever its size. Its 20,000 rows of long
// names and directories (about 9 MB of text) held whole before the first row would not.
TEST_F(DtfindTest, ABroadSearchIsNotHeldWholeInMemory) {
    if (IsPostgres()) GTEST_SKIP() << "the embedded database's driver only";
    {
        RecordingErrors errors(RecordingErrors::Unanswered::DefaultButton);
        InitTables(errors);
        Relate::SQLF->Open();
        const std::string insert =
            "insert into FILES (SysFILES, SysCOMPUTER, Name, Extension, Dir, Type, Date, Size) "
            "with recursive n(i) as (select 1 union all select i + 1 from n where i < 20000) "
            "select 1000 + i, " +
            std::to_string(site_->this_id) +
            ", 'bulky_' || printf('%0200d', i) || '.dat', 'dat', '/bulk/' || printf('%0240d', i) || '/', "
            "32, '2024-01-01 00:00:00', i from n";
        const bool ok = Access::SQLF->UseFile() == 0 && SetProperty(SQLF.file, PROP_SQL, insert) == 0;
        EXPECT_TRUE(ok) << FileError() << errors.Text();
        Relate::SQLF->Close();
        KillTables();
        ASSERT_TRUE(ok);
    }
    const Result narrow = RunDtfind({"report"});
    ASSERT_EQ(narrow.status, 0) << narrow.err;
    const Result broad = RunDtfind({"--format", "paths", "bulky"});
    ASSERT_EQ(broad.status, 0) << broad.err;
    ASSERT_EQ(broad.lines.size(), 20000u);
    EXPECT_EQ(broad.lines.front(),
              "/bulk/" + std::string(239, '0') + "1/bulky_" + std::string(199, '0') + "1.dat");
    ASSERT_GT(narrow.peak_rss_kb, 0);
    // Stepped through: about 3 MB more (the sort of the order and the page cache); held
    // whole: about 18 MB more.
    EXPECT_LT(broad.peak_rss_kb - narrow.peak_rss_kb, 8 * 1024)
        << "narrow search " << narrow.peak_rss_kb << " KB, broad " << broad.peak_rss_kb << " KB";
}

// The section `name` of the driver registrations this process reads, "" when it has none.
std::string RegistrationOf(const std::string& name) {
    const char* dir = std::getenv("ODBCSYSINI");
    const char* file = std::getenv("ODBCINSTINI");
    const std::string text = test::ReadFile(std::string(dir != nullptr && *dir != '\0' ? dir : "/etc") + "/" +
                                            (file != nullptr && *file != '\0' ? file : "odbcinst.ini"));
    const std::size_t at = text.find("[" + name + "]");
    if (at == std::string::npos) return "";
    const std::size_t end = text.find("\n[", at);
    return text.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at) + "\n";
}

// Each driver name is tried in its order only when the driver manager has it registered
// (or it is the last name): the embedded database's search does not wait for a search of
// the library directories for "SQL Server". A registered "SQL Server" is tried first, as
// ever; the trace shows which names were tried.
TEST_F(DtfindTest, OnlyRegisteredDriverNamesAreTriedBeforeTheLast) {
    if (IsPostgres()) GTEST_SKIP() << "the embedded database's driver names";
    const std::string sqlite = RegistrationOf("SQLite3");
    ASSERT_NE(sqlite, "") << "the embedded database's driver is not registered here";
    const std::string dir = std::filesystem::current_path().string();
    const std::string trace = dir + "/trace.log";
    ASSERT_TRUE(platform::WriteProfileString("", "QXMSSQL", "Trace", "1"));
    ASSERT_TRUE(platform::WriteProfileString("", "QXMSSQL", "TraceFile", trace));
    const test::ScopedEnv sysini("ODBCSYSINI", dir.c_str());
    const test::ScopedEnv instini("ODBCINSTINI", "odbcinst.ini");
    const std::string kTriedSqlServer = "Connecting to Driver={SQL Server}";
    const std::string kTriedSqlite = "Connecting to Driver={SQLite3}";

    test::WriteFile("odbcinst.ini", sqlite);
    const Result unregistered = RunDtfind({"report"});
    ASSERT_EQ(unregistered.status, 0) << unregistered.err;
    EXPECT_EQ(unregistered.lines.size(), 11u);
    std::string log = test::ReadFile(trace);
    EXPECT_EQ(log.find(kTriedSqlServer), std::string::npos) << log;
    EXPECT_NE(log.find("Driver SQL Server is not registered: not tried"), std::string::npos) << log;
    EXPECT_NE(log.find(kTriedSqlite), std::string::npos) << log;

    // Registered (here with a library that is missing), "SQL Server" is tried first again;
    // a driver that cannot be loaded moves on to the next name.
    test::WriteFile("odbcinst.ini", sqlite + "[SQL Server]\nDriver=/nonexistent/libnosuchodbc.so\n");
    std::filesystem::remove(trace);
    const Result registered = RunDtfind({"report"});
    ASSERT_EQ(registered.status, 0) << registered.err;
    EXPECT_EQ(registered.out, unregistered.out);
    log = test::ReadFile(trace);
    ASSERT_NE(log.find(kTriedSqlServer), std::string::npos) << log;
    EXPECT_LT(log.find(kTriedSqlServer), log.find(kTriedSqlite)) << log;

    // Nothing registered: the last name is still tried, and its failure is the one told.
    test::WriteFile("odbcinst.ini", "");
    std::filesystem::remove(trace);
    const Result none = RunDtfind({"report"});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("SQLite3"), std::string::npos) << none.err;
    log = test::ReadFile(trace);
    EXPECT_EQ(log.find(kTriedSqlServer), std::string::npos) << log;
    EXPECT_NE(log.find(kTriedSqlite), std::string::npos) << log;
}

TEST_F(DtfindTest, AMissingDatabaseIsAnErrorAndIsNotCreated) {
    std::string ini = test::ReadFile(*site_ / "drivetrek.ini");
    const std::size_t at = ini.find("database=");
    ASSERT_NE(at, std::string::npos);
    ini.insert(at + 9, "nosuch");
    test::WriteFile(*site_ / "drivetrek.ini", ini);
    const Result r = RunDtfind({"report"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(".", ec))
        EXPECT_EQ(entry.path().filename().string().find("nosuch"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace dt
