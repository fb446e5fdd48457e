// The substring and browse indexes over a generated FILES table of 20,000 rows: for a set
// of searches (words, several words, the directory option, extension, size, computer,
// "%", "_", "\", "[", apostrophes, short words, many words) the hits with the index equal
// the hits of the plain statement before the index existed; the plans use the index; the
// index follows inserts, renames, moves and deletes made by statements that know nothing
// of it; an existing database is upgraded in place while another program inserts rows.
// Built for SQLite and for PostgreSQL (tests/support/backend.h); on PostgreSQL it works in
// a database of its own.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/query.h"
#include "app/scan_store.h"
#include "app/search.h"
#include "app/search_index.h"
#include "app/startup.h"
#include "app/tables.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "framework/error_log.h"
#include "framework/error_manager.h"
#include "runtime/errors.h"
#include "tests/support/backend.h"

namespace dt {
namespace {

class QuietErrors : public ErrorManager {
  public:
    QuietErrors() {
        Startup("/dev/null");
        SetHaltHandler([this](const HaltRequest& r) { shown += "HALT " + r.text + "\n"; });
    }
    ~QuietErrors() override { Shutdown(); }
    int ShowBox(std::string_view text, std::string_view title, IconRef, int, int default_button,
                LONG) override {
        shown += std::string(title) + ": " + std::string(text) + "\n";
        return default_button;
    }
    std::string shown;
};

constexpr long kRows = 20000;

// The generated site: names built from a small vocabulary, with special characters in
// some of them, over 300 directories of three computers.
std::string NameOf(long i) {
    static const char* words[] = {"report", "Budget", "photo",  "IMG",     "notes",
                                  "setup",  "readme", "draft",  "invoice", "Summary",
                                  "backup", "track",  "letter", "scan",    "data"};
    static const char* exts[] = {"doc", "txt", "pdf", "jpg", "cpp", "h", "tar.gz", ""};
    switch (i % 97) {
        case 0:
            return "50% off_" + std::to_string(i) + ".txt";
        case 1:
            return "back\\slash" + std::to_string(i) + ".doc";
        case 2:
            return "[draft] " + std::to_string(i) + "].pdf";
        case 3:
            return "o'brien's " + std::to_string(i) + ".doc";
        case 4:
            return "\xC3\x84rger" + std::to_string(i) + ".txt";  // Ärger
        case 5:
            return "\xC3\xA4rger" + std::to_string(i) + ".txt";  // ärger
        case 6:
            return "a_b" + std::to_string(i);
        default:
            break;
    }
    std::string name = std::string(words[i % 15]) + "_" + words[(i / 15) % 15] + std::to_string(i % 2003);
    const char* ext = exts[i % 8];
    if (*ext) name += std::string(".") + ext;
    return name;
}

std::string DirOf(long i) {
    static const char* parts[] = {"home", "srv", "Projects", "tmp", "music", "o'neil", "50%", "lib[x]"};
    const long d = i % 300;
    return "/" + std::string(parts[d % 8]) + "/user" + std::to_string(d / 8) + "/" + parts[(d * 3 + 1) % 8] +
           "/";
}

std::string ExtensionOf(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1, 10);
}

// Standard error of this process into a file while it lives; Text() reads what came.
class CaptureStderr {
  public:
    explicit CaptureStderr(const std::filesystem::path& file) : path_(file) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~CaptureStderr() { Restore(); }
    void Restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    std::string Text() {
        Restore();
        std::ifstream in(path_);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

  private:
    std::filesystem::path path_;
    int saved_ = -1;
};

// The error log's lines, kept.
class KeptLog final : public ERRORLOGINTERFACE {
  public:
    int Close(BYTE) override { return 0; }
    int Open(BYTE) override { return 0; }
    int WriteLine(std::string_view text) override {
        lines.emplace_back(text);
        return 0;
    }
    std::vector<std::string> lines;
};

int Lines(const std::string& text, const std::string& holding) {
    int n = 0;
    for (std::size_t at = text.find(holding); at != std::string::npos; at = text.find(holding, at + 1)) ++n;
    return n;
}

class SearchIndexTest : public test::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        old_ = std::filesystem::current_path();
        dir_ = ProfileDir().path();
        std::filesystem::current_path(dir_);  // the embedded database file lies here
        database_ = IsPostgres() ? MakeDatabase("dtsearchidx") : std::string("drivetrek");
        ASSERT_FALSE(database_.empty());
        GLO::SQLMASTEROWNER = test::Backend::Owner(test::Backend::MasterDatabase());
        GLO::SQLOWNER = test::Backend::Owner(database_);
        InitTables(errors_);
        tables_ = true;
        Relate::SQLF->Open();
        Relate::FILES->Open();
        ASSERT_EQ(Access::SQLF->UseFile(), 0) << errors_.shown;
        ASSERT_EQ(Access::FILES->UseFile(), 0) << errors_.shown;
        ResetSearchIndexWarning();
    }
    void TearDown() override {
        if (tables_) {
            if (Relate::FILES) Relate::FILES->Close();
            if (Relate::SQLF) Relate::SQLF->Close();
            KillTables();
        }
        if (!old_.empty()) {
            std::error_code ec;
            std::filesystem::current_path(old_, ec);
        }
        BackendTest::TearDown();  // the test database goes
        if (!role_.empty()) test::Backend::Pg().Execute("DROP ROLE IF EXISTS " + role_);
    }

    static ServerKind Kind() { return IsPostgres() ? ServerKind::PostgreSQL : ServerKind::Embedded; }

    SqlRunner Runner() {
        return RunnerOf(SQLF.file, [] { return std::string(SQLF.FELD1.Clip()); });
    }
    // Runs `statement`; the test fails with the server's words when it fails.
    void Exec(const std::string& statement) {
        ASSERT_EQ(Runner()(statement, nullptr), 0) << FileError() << "\n" << statement;
    }
    std::vector<std::string> Rows(const std::string& statement) {
        std::vector<std::string> rows;
        EXPECT_EQ(Runner()(statement, &rows), 0) << FileError() << "\n" << statement;
        return rows;
    }
    long long Count(const std::string& statement) {
        const std::vector<std::string> rows = Rows(statement);
        return rows.empty() ? -1 : std::atoll(rows.front().c_str());
    }

    static std::string Literal(const std::string& text) { return SqlLiteral(text); }
    static std::string RowValues(long i) {
        const std::string name = NameOf(i);
        return "(" + std::to_string(i) + "," + std::to_string(1 + i % 3) + "," + Literal(name) + "," +
               Literal(ExtensionOf(name)) + "," + Literal(DirOf(i)) + ",32,NULL," +
               std::to_string(i * 37 % 100000) + ")";
    }
    static std::string InsertRows(long from, long to) {
        std::string s = "INSERT INTO FILES (SysFILES,SysCOMPUTER,NAME,EXTENSION,DIR,TYPE,DATE,Size) VALUES ";
        for (long i = from; i < to; ++i) s += (i == from ? "" : ",") + RowValues(i);
        return s;
    }
    void Fill(long from, long to) {
        for (long i = from; i < to; i += 500) Exec(InsertRows(i, std::min(to, i + 500)));
    }

    // The row numbers a statement finds, in ascending order.
    std::vector<unsigned long> Hits(const std::string& statement) {
        std::vector<unsigned long> hits;
        EXPECT_EQ(SetProperty(FILES.file, PROP_SQL, statement), 0) << FileError() << "\n" << statement;
        int rc;
        while ((rc = Next(FILES.file)) == 0) hits.push_back(FILES.SYSFILES);
        EXPECT_EQ(rc, 33) << FileError();
        std::sort(hits.begin(), hits.end());
        return hits;
    }
    std::string Statement(const SearchRequest& r, bool fts) {
        return BuildSearchStatement(r, DialectOf(Kind()), fts && Kind() == ServerKind::Embedded);
    }

    // The searches compared with and without the index.
    static std::vector<SearchRequest> Searches() {
        std::vector<SearchRequest> list;
        auto add = [&](std::string filter, bool dir = false, std::string ext = "", long long from = 0,
                       long long to = 0, long long computer = 0) {
            SearchRequest r;
            r.filter = std::move(filter);
            r.search_dir = dir;
            r.extension = std::move(ext);
            r.size_from = from;
            r.size_to = to;
            r.computer = computer;
            list.push_back(r);
        };
        add("report");
        add("REPORT budget");
        add("port get");
        add("summary", true);
        add("user1 Projects", true);
        add("music", true);
        add("photo", false, "jpg");
        add("", false, "gz");
        add("invoice", false, "", 20000, 60000);
        add("track", false, "", 0, 0, 3);
        add("50%");
        add("50% off_");
        add("a_b1");
        add("_b");
        add("back\\slash");
        add("[draft]");
        add("lib[x]", true);
        add("o'brien's");
        add("o'neil", true);
        add("\xC3\xA4rger");  // ärger: LIKE keeps its case outside ASCII
        add("\xC3\x84RGER");  // ÄRGER
        add("ta");
        add("me ta", true);
        add("x");
        add("a  b");
        add("r e p o t _ 1 2 a d g E P O R T b u");  // as many words as the field holds
        add("rea dme _ _ rea", true);
        add("no-such-file-anywhere");
        add("x')--\"y");
        return list;
    }

    // How far the embedded index is from one made afresh from FILES now: FILESDIR against
    // the directories of FILES (both ways), and each FTS table's (trigram, row) pairs
    // against those of a copy filled from the same rows. 0 when they agree.
    long long EmbeddedIndexDifferences() {
        long long differences =
            Count(
                "select count(*) from (select DIR from FILES where DIR is not null except select DIR from "
                "FILESDIR)") +
            Count("select count(*) from (select DIR from FILESDIR except select DIR from FILES)");
        const char* options = "tokenize='trigram', detail=none, columnsize=0";
        Exec(std::string("CREATE VIRTUAL TABLE fresh_names USING fts5(NAME, ") + options + ")");
        Exec("INSERT INTO fresh_names(rowid, NAME) SELECT SysFILES, NAME FROM FILES");
        Exec(std::string("CREATE VIRTUAL TABLE fresh_dirs USING fts5(DIR, ") + options + ")");
        Exec("INSERT INTO fresh_dirs(rowid, DIR) SELECT rowid, DIR FROM FILESDIR");
        const std::pair<const char*, const char*> pairs[] = {{"FILES_NAME_FTS", "fresh_names"},
                                                             {"FILESDIR_FTS", "fresh_dirs"}};
        for (const auto& [kept, fresh] : pairs) {
            Exec(std::string("CREATE VIRTUAL TABLE temp.kept_terms USING fts5vocab(main, ") + kept +
                 ", instance)");
            Exec(std::string("CREATE VIRTUAL TABLE temp.fresh_terms USING fts5vocab(main, ") + fresh +
                 ", instance)");
            const std::vector<long long> counts = {
                Count("select count(*) from (select term, doc, count(*) from temp.kept_terms group by term, "
                      "doc except select term, doc, count(*) from temp.fresh_terms group by term, doc)"),
                Count("select count(*) from (select term, doc, count(*) from temp.fresh_terms group by term, "
                      "doc except select term, doc, count(*) from temp.kept_terms group by term, doc)"),
                // An index that lost everything agrees with nothing: the copy is not empty.
                Count("select count(*) = 0 from temp.fresh_terms"),
            };
            for (long long c : counts) differences += c;
            Exec("DROP TABLE temp.kept_terms");
            Exec("DROP TABLE temp.fresh_terms");
        }
        Exec("DROP TABLE fresh_names");
        Exec("DROP TABLE fresh_dirs");
        return differences;
    }

    QuietErrors errors_;
    bool tables_ = false;
    std::filesystem::path old_, dir_;
    std::string database_, role_;
};

TEST_F(SearchIndexTest, HitsWithTheIndexEqualThoseOfThePlainStatement) {
    Fill(1, kRows + 1);
    std::vector<std::vector<unsigned long>> plain;
    for (const SearchRequest& r : Searches()) plain.push_back(Hits(Statement(r, false)));

    const SearchIndexResult made = CreateSearchIndexes(Runner(), Kind());
    ASSERT_EQ(made.error, 0) << made.message;
    EXPECT_TRUE(made.warning.empty()) << made.warning;
    EXPECT_TRUE(made.created);
    ASSERT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Present);
    if (IsPostgres()) Exec("SET enable_seqscan = off");  // a table this small would otherwise be read whole
    std::size_t with_hits = 0;
    for (std::size_t i = 0; i < Searches().size(); ++i) {
        const SearchRequest r = Searches()[i];
        SCOPED_TRACE("filter \"" + r.filter + "\" ext \"" + r.extension + "\" dir " +
                     std::to_string(r.search_dir));
        EXPECT_EQ(Hits(Statement(r, true)), plain[i]);
        if (!plain[i].empty())
            ++with_hits;
        else
            std::printf("no hits: \"%s\"\n", r.filter.c_str());
    }
    // The generated names make most of the searches find something: equal empty lists
    // would prove nothing.
    EXPECT_GE(with_hits, Searches().size() - 2);
    // The search for ärger keeps LIKE's own case rule: the upper-case Ärger rows are not
    // hits on the embedded database even though its index folds them together.
    SearchRequest umlaut;
    umlaut.filter = "\xC3\xA4rger";
    const std::size_t per_case = static_cast<std::size_t>(kRows / 97 + 1);
    EXPECT_LE(Hits(Statement(umlaut, true)).size(), IsPostgres() ? 2 * per_case : per_case);
}

TEST_F(SearchIndexTest, TheIndexFollowsChangesMadeByProgramsThatDoNotKnowIt) {
    Fill(1, 2001);
    ASSERT_EQ(CreateSearchIndexes(Runner(), Kind()).error, 0);
    // Plain statements, as a program of the previous version sends them.
    Fill(2001, 3001);
    Exec("UPDATE FILES SET NAME = 'renamed_zebra.txt' WHERE SysFILES IN (10, 20, 2500)");
    Exec("UPDATE FILES SET DIR = '/moved/giraffe/' WHERE SysFILES IN (11, 2600)");
    Exec("UPDATE FILES SET Size = 1 WHERE SysFILES = 12");
    Exec("DELETE FROM FILES WHERE SysFILES IN (30, 31, 2700)");
    Exec("DELETE FROM FILES WHERE DIR = " + Literal(DirOf(5)));
    if (IsPostgres()) Exec("SET enable_seqscan = off");
    SearchRequest zebra;
    zebra.filter = "zebra";
    EXPECT_EQ(Hits(Statement(zebra, true)), (std::vector<unsigned long>{10, 20, 2500}));
    SearchRequest old_name;
    old_name.filter = NameOf(10).substr(0, 12);
    EXPECT_EQ(Hits(Statement(old_name, true)), Hits(Statement(old_name, false)));
    SearchRequest giraffe;
    giraffe.filter = "giraffe";
    giraffe.search_dir = true;
    EXPECT_EQ(Hits(Statement(giraffe, true)), (std::vector<unsigned long>{11, 2600}));
    SearchRequest gone_dir;
    gone_dir.filter = DirOf(5).substr(1, 12);
    gone_dir.search_dir = true;
    EXPECT_EQ(Hits(Statement(gone_dir, true)), Hits(Statement(gone_dir, false)));
    for (const SearchRequest& r : Searches()) {
        SCOPED_TRACE(r.filter);
        EXPECT_EQ(Hits(Statement(r, true)), Hits(Statement(r, false)));
    }
    // Each directory once, exactly as FILES holds them now, and both indexes as if made now.
    if (!IsPostgres()) {
        EXPECT_EQ(EmbeddedIndexDifferences(), 0);
    }
}

TEST_F(SearchIndexTest, PlansUseTheIndexes) {
    Fill(1, 5001);
    ASSERT_EQ(CreateSearchIndexes(Runner(), Kind()).error, 0);
    SearchRequest words;
    words.filter = "report budget";
    SearchRequest dirs;
    dirs.filter = "Projects";
    dirs.search_dir = true;
    if (IsPostgres()) {
        Exec("SET enable_seqscan = off");
        // The driver reads rows only of statements that begin with SELECT.
        Exec(
            "CREATE FUNCTION pg_temp.plan_of(q text) RETURNS SETOF text LANGUAGE plpgsql AS $$ BEGIN RETURN "
            "QUERY "
            "EXECUTE 'EXPLAIN ' || q; END $$");
        auto plan = [&](const std::string& s) {
            std::string text;
            for (const std::string& line : Rows("SELECT pg_temp.plan_of(" + Literal(s) + ")"))
                text += line + "\n";
            return text;
        };
        EXPECT_NE(plan(Statement(words, true)).find("Bitmap Index Scan on files_name_trgm"),
                  std::string::npos)
            << plan(Statement(words, true));
        const std::string dir_plan = plan(Statement(dirs, true));
        EXPECT_NE(dir_plan.find("Bitmap Index Scan on files_dir_trgm"), std::string::npos) << dir_plan;
        const std::string browse = plan("SELECT * FROM FILES ORDER BY UPPER(NAME), SysFILES LIMIT 20");
        EXPECT_NE(browse.find("files_name_order"), std::string::npos) << browse;
        EXPECT_EQ(browse.find("Sort"), std::string::npos) << browse;
        EXPECT_NE(
            plan("SELECT * FROM FILES WHERE (Size > 5 OR (Size = 5 AND SysFILES > 7)) ORDER BY Size DESC, "
                 "SysFILES DESC LIMIT 20")
                .find("files_size_order"),
            std::string::npos);
    } else {
        // The driver reads rows only of statements that begin with SELECT: the plan comes from
        // the sqlite3 shell over the same database file.
        auto explain = [&](const std::string& s) {
            {
                std::ofstream sql(dir_ / "plan.sql");
                sql << "EXPLAIN QUERY PLAN " << s << ";\n";
            }
            const std::string command = "sqlite3 " + (dir_ / "drivetrek.db").string() + " < " +
                                        (dir_ / "plan.sql").string() + " 2>&1";
            std::string text;
            if (FILE* pipe = ::popen(command.c_str(), "r")) {
                char buffer[512];
                while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
                ::pclose(pipe);
            }
            return text;
        };
        const std::string p1 = explain(Statement(words, true));
        EXPECT_NE(p1.find("FILES_NAME_FTS VIRTUAL TABLE INDEX"), std::string::npos) << p1;
        EXPECT_EQ(p1.find("SCAN FILES\n"), std::string::npos) << "no full read of FILES\n" << p1;
        EXPECT_EQ(p1.find("SCAN FILES USING"), std::string::npos) << p1;
        const std::string p2 = explain(Statement(dirs, true));
        EXPECT_NE(p2.find("FILESDIR_FTS VIRTUAL TABLE INDEX"), std::string::npos) << p2;
        EXPECT_NE(p2.find("FILES_DIR_SEARCH"), std::string::npos) << p2;
        const std::string p3 = explain(
            "SELECT * FROM FILES WHERE (UPPER(NAME) >= UPPER('m') AND (UPPER(NAME) > "
            "UPPER('m') OR (SysFILES > 7))) ORDER BY UPPER(NAME),SysFILES LIMIT 20");
        EXPECT_NE(p3.find("FILES_NAME_ORDER"), std::string::npos) << p3;
        EXPECT_EQ(p3.find("TEMP B-TREE"), std::string::npos) << p3;
        const std::string p4 = explain("SELECT * FROM FILES ORDER BY DATE DESC,SysFILES DESC LIMIT 20");
        EXPECT_NE(p4.find("FILES_DATE_ORDER"), std::string::npos) << p4;
        EXPECT_EQ(p4.find("TEMP B-TREE"), std::string::npos) << p4;
        // LIKE with ESCAPE would switch the index off: the statement never uses it.
        EXPECT_EQ(Statement(words, true).find("escape"), std::string::npos);
    }
}

TEST_F(SearchIndexTest, CreatingAgainFindsEverythingInPlace) {
    Fill(1, 1001);
    ASSERT_EQ(CreateSearchIndexes(Runner(), Kind()).error, 0);
    const SearchIndexResult again = CreateSearchIndexes(Runner(), Kind());
    EXPECT_EQ(again.error, 0) << again.message;
    EXPECT_FALSE(again.created);
    if (!IsPostgres()) {
        // A trigger lost (someone dropped it): the index is no longer trusted, searches go
        // without it, and the next creation makes it again with every row.
        Exec("DROP TRIGGER FILES_SEARCH_AI");
        EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Missing);
        Fill(1001, 1101);
        const SearchIndexResult repaired = CreateSearchIndexes(Runner(), Kind());
        ASSERT_EQ(repaired.error, 0) << repaired.message;
        EXPECT_TRUE(repaired.created);
        SearchRequest r;
        r.filter = NameOf(1050);
        EXPECT_EQ(Hits(Statement(r, true)), (std::vector<unsigned long>{1050}));
    } else {
        // An index left invalid by a build that broke off is dropped and made again.
        Exec("UPDATE pg_index SET indisvalid = false WHERE indexrelid = 'files_name_trgm'::regclass");
        EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Missing);
        const SearchIndexResult repaired = CreateSearchIndexes(Runner(), Kind());
        ASSERT_EQ(repaired.error, 0) << repaired.message;
        EXPECT_TRUE(repaired.created);
        EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Present);
    }
}

TEST_F(SearchIndexTest, ProgressIsReportedOnlyForLargeTables) {
    Fill(1, 3001);
    std::vector<SearchIndexProgress> heard;
    auto listen = [&](const SearchIndexProgress& p) { heard.push_back(p); };
    ASSERT_EQ(CreateSearchIndexes(Runner(), Kind(), listen, 5000).error, 0);
    EXPECT_TRUE(heard.empty()) << heard.front().step;
    if (IsPostgres()) {
        Exec("DROP INDEX files_name_trgm");
        Exec("DROP INDEX files_size_order");
        Exec("ANALYZE FILES");  // the row estimate the progress goes by
    } else {
        Exec("DROP TABLE FILES_NAME_FTS");
        Exec("DROP INDEX FILES_SIZE_ORDER");
    }
    const SearchIndexResult made = CreateSearchIndexes(Runner(), Kind(), listen, 2000);
    ASSERT_EQ(made.error, 0) << made.message;
    ASSERT_FALSE(heard.empty());
    long long last = -1;
    bool counted = false;
    for (const SearchIndexProgress& p : heard) {
        EXPECT_FALSE(p.step.empty());
        if (p.total == 0) continue;
        counted = true;
        EXPECT_EQ(p.total, 3000);
        EXPECT_GE(p.done, last) << "progress never goes back";
        EXPECT_LE(p.done, p.total);
        last = p.done;
    }
    EXPECT_EQ(counted, !IsPostgres()) << "the embedded index is filled in counted slices";
    bool size_step = false;
    for (const SearchIndexProgress& p : heard)
        size_step |=
            p.step.find("SIZE_ORDER") != std::string::npos || p.step.find("size_order") != std::string::npos;
    EXPECT_TRUE(size_step);
}

// A table never analysed has no row estimate (-1): its size stands for its rows, so a
// large one still shows the progress of its index builds and a small one does not.
TEST_F(SearchIndexTest, ATableNeverAnalysedIsJudgedByItsSize) {
    if (!IsPostgres()) GTEST_SKIP() << "the server's row estimate: PostgreSQL only";
    Fill(1, 3001);
    ASSERT_EQ(Count("select reltuples::bigint from pg_class where relname = 'files' and "
                    "pg_table_is_visible(oid)"),
              -1)
        << "the table must not have been analysed for this test";
    std::vector<SearchIndexProgress> heard;
    auto listen = [&](const SearchIndexProgress& p) { heard.push_back(p); };
    ASSERT_EQ(CreateSearchIndexes(Runner(), Kind(), listen, 1000).error, 0);
    EXPECT_FALSE(heard.empty()) << "3,000 rows are more than 1,000";
    Exec("DROP INDEX files_name_trgm");
    heard.clear();
    ASSERT_EQ(CreateSearchIndexes(Runner(), Kind(), listen, 1000000).error, 0);
    EXPECT_TRUE(heard.empty()) << heard.front().step;
}

// An index build takes as long as the table needs: the session's statement time-out does
// not cut it (at millions of rows the directory index takes minutes), and is back after.
TEST_F(SearchIndexTest, IndexBuildsRunWithoutTheStatementTimeOut) {
    if (!IsPostgres()) GTEST_SKIP() << "the server's statement time-out: PostgreSQL only";
    Fill(1, 200);
    const std::vector<std::string> before = Rows("select current_setting('statement_timeout')");
    Exec("SET statement_timeout = '7s'");
    std::vector<std::string> during;
    const SqlRunner inner = Runner();
    const SqlRunner watching = [&](const std::string& statement, std::vector<std::string>* rows) {
        if (statement.rfind("CREATE INDEX", 0) == 0) {
            std::vector<std::string> now;
            EXPECT_EQ(inner("select current_setting('statement_timeout')", &now), 0);
            during.insert(during.end(), now.begin(), now.end());
        }
        return inner(statement, rows);
    };
    const SearchIndexResult made = CreateSearchIndexes(watching, Kind());
    const std::vector<std::string> after = Rows("select current_setting('statement_timeout')");
    ASSERT_FALSE(before.empty());
    Exec("SET statement_timeout = " + SqlLiteral(before.front()));
    ASSERT_EQ(made.error, 0) << made.message;
    ASSERT_FALSE(during.empty()) << "no index was built";
    for (const std::string& t : during) EXPECT_EQ(t, "0") << "a build ran under a statement time-out";
    EXPECT_EQ(after, std::vector<std::string>{"7s"});
}

// The upgrade of a database of the previous version: FILES full of rows and no index,
// while a program of the previous version goes on inserting rows of its own in small
// transactions. Afterwards the index holds exactly the rows of FILES. (The embedded
// database: a PostgreSQL index is built CONCURRENTLY by the server itself.)
TEST_F(SearchIndexTest, AnOldDatabaseIsUpgradedInPlaceWhileAnOldProgramInserts) {
    if (IsPostgres()) GTEST_SKIP() << "the embedded database's upgrade";
    Fill(1, kRows + 1);
    const std::string db = (dir_ / "drivetrek.db").string();
    ASSERT_TRUE(std::filesystem::exists(db)) << "the embedded database file of the owner";
    {
        std::ofstream script(dir_ / "old-program.sql");
        script << ".timeout 30000\n";
        for (long i = 0; i < 300; ++i) {
            script << InsertRows(100000 + i, 100000 + i + 1) << ";\n";
            if (i % 10 == 0) script << ".shell sleep 0.01\n";
        }
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string in = (dir_ / "old-program.sql").string();
        if (std::freopen(in.c_str(), "r", stdin) == nullptr) ::_exit(126);
        std::freopen("/dev/null", "w", stdout);
        ::execlp("sqlite3", "sqlite3", "-bail", db.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // The build starts once the old program has begun.
    for (int i = 0; i < 500 && Count("select count(*) from FILES where SysFILES >= 100000") < 1; ++i)
        ::usleep(10000);
    const SearchIndexResult made = CreateSearchIndexes(Runner(), Kind());
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the old program's inserts failed";
    ASSERT_EQ(made.error, 0) << made.message;
    ASSERT_EQ(Count("select count(*) from FILES"), kRows + 300);

    // The index's own rows (not the content table's): every name's trigrams under its row
    // number and nothing else, every directory once.
    EXPECT_EQ(EmbeddedIndexDifferences(), 0);
    SearchRequest late;
    late.filter = NameOf(100299);
    EXPECT_EQ(Hits(Statement(late, true)), Hits(Statement(late, false)));
    EXPECT_FALSE(Hits(Statement(late, false)).empty());
}

// An index of the earlier layout (a count per directory kept by an upsert, FILESDIR's own
// triggers, positions in the FTS tables) is not taken for the present one: it is made
// again, and afterwards follows every change.
TEST_F(SearchIndexTest, AnIndexOfAnEarlierLayoutIsMadeAgain) {
    if (IsPostgres()) GTEST_SKIP() << "the embedded database's index";
    Fill(1, 2001);
    const char* earlier[] = {
        "CREATE VIRTUAL TABLE FILES_NAME_FTS USING fts5(NAME, content='FILES', content_rowid='SysFILES', "
        "tokenize='trigram')",
        "CREATE TABLE FILESDIR (DIR TEXT NOT NULL UNIQUE, N INTEGER NOT NULL)",
        "CREATE VIRTUAL TABLE FILESDIR_FTS USING fts5(DIR, content='FILESDIR', tokenize='trigram')",
        "CREATE TRIGGER FILESDIR_FTS_AI AFTER INSERT ON FILESDIR BEGIN INSERT INTO FILESDIR_FTS(rowid, DIR) "
        "VALUES (new.rowid, new.DIR); END",
        "CREATE TRIGGER FILES_SEARCH_AI AFTER INSERT ON FILES BEGIN INSERT INTO FILES_NAME_FTS(rowid, NAME) "
        "VALUES (new.SysFILES, new.NAME); INSERT INTO FILESDIR(DIR, N) SELECT new.DIR, 1 WHERE new.DIR IS "
        "NOT NULL ON CONFLICT(DIR) DO UPDATE SET N = N + 1; END",
        "CREATE TRIGGER FILES_SEARCH_AD AFTER DELETE ON FILES BEGIN INSERT INTO "
        "FILES_NAME_FTS(FILES_NAME_FTS, rowid, NAME) VALUES ('delete', old.SysFILES, old.NAME); END",
        "CREATE TRIGGER FILES_SEARCH_AU_NAME AFTER UPDATE OF SysFILES, NAME ON FILES BEGIN SELECT 1; END",
        "CREATE TRIGGER FILES_SEARCH_AU_DIR AFTER UPDATE OF DIR ON FILES BEGIN SELECT 1; END",
        "CREATE INDEX FILES_DIR_SEARCH ON FILES (DIR)",
        "INSERT INTO FILES_NAME_FTS(FILES_NAME_FTS) VALUES ('rebuild')",
        "INSERT INTO FILESDIR(DIR, N) SELECT DIR, count(*) FROM FILES GROUP BY DIR",
    };
    for (const char* statement : earlier) Exec(statement);
    EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Missing);
    const SearchIndexResult made = CreateSearchIndexes(Runner(), Kind());
    ASSERT_EQ(made.error, 0) << made.message;
    EXPECT_TRUE(made.created);
    EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Present);
    EXPECT_EQ(Count("select count(*) from sqlite_master where name = 'FILESDIR_FTS_AI'"), 0);
    Fill(2001, 2101);
    Exec("DELETE FROM FILES WHERE DIR = " + Literal(DirOf(7)));
    Exec("UPDATE FILES SET DIR = '/elsewhere/' WHERE SysFILES BETWEEN 100 AND 120");
    EXPECT_EQ(EmbeddedIndexDifferences(), 0);
    for (const SearchRequest& r : Searches()) {
        SCOPED_TRACE(r.filter);
        EXPECT_EQ(Hits(Statement(r, true)), Hits(Statement(r, false)));
    }
}

TEST_F(SearchIndexTest, WithoutTheIndexSearchesFindTheSameAndTheProgramWarnsOnce) {
    Fill(1, 3001);
    SearchRequest r;
    r.filter = "report";
    const std::vector<unsigned long> plain = Hits(Statement(r, false));
    ASSERT_FALSE(plain.empty());
    CaptureStderr captured(dir_ / "stderr.txt");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(SearchIndexStateForFiles(), SearchIndexState::Missing);
        EXPECT_EQ(Hits(Statement(r, false)), plain);
    }
    const std::string text = captured.Text();
    EXPECT_EQ(Lines(text, "warning:"), 1) << text;
    EXPECT_NE(text.find("reads the whole table"), std::string::npos) << text;
}

TEST_F(SearchIndexTest, TheProgramsStartCreatesTheIndexesWithoutAWord) {
    Fill(1, 1001);
    KeptLog log;
    CaptureStderr captured(dir_ / "stderr.txt");
    PrepareSearchIndexes(true, &log);
    const std::string text = captured.Text();
    EXPECT_EQ(text, "");
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Present);
    SetSearchIndexWarningHook({});
}

// The start's progress reaches the start-up window (the callback) on every run and
// standard error only on an unattended one, as one line per step heard; the threshold
// the start is given is the one the build goes by.
TEST_F(SearchIndexTest, TheStartsProgressGoesToTheWindowAndForAnUnattendedRunToStandardError) {
    Fill(1, 1001);
    if (IsPostgres()) Exec("ANALYZE FILES");  // the row estimate the progress goes by
    KeptLog log;
    std::vector<SearchIndexProgress> shown;
    auto listen = [&shown](const SearchIndexProgress& p) { shown.push_back(p); };
    {
        CaptureStderr captured(dir_ / "stderr.txt");
        PrepareSearchIndexes(false, &log, listen, 999);
        EXPECT_EQ(captured.Text(), "");
    }
    ASSERT_FALSE(shown.empty()) << "1000 rows are more than 999";
    EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Present);

    Exec(IsPostgres() ? "DROP INDEX files_name_trgm" : "DROP TABLE FILES_NAME_FTS");
    Exec(IsPostgres() ? "DROP INDEX files_date_order" : "DROP INDEX FILES_DATE_ORDER");
    shown.clear();
    CaptureStderr captured(dir_ / "stderr.txt");
    PrepareSearchIndexes(true, &log, listen, 999);
    const std::string text = captured.Text();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(Lines(text, "drivetrek: "), static_cast<int>(shown.size())) << text;
    for (const SearchIndexProgress& p : shown) {
        const std::string line =
            "drivetrek: " + p.step +
            (p.total > 0 ? ": " + std::to_string(p.done) + " of " + std::to_string(p.total) + " rows\n"
                         : std::string("\n"));
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    }
    EXPECT_NE(text.find(IsPostgres() ? "files_date_order" : "FILES_DATE_ORDER"), std::string::npos) << text;
    if (!IsPostgres()) {
        EXPECT_NE(text.find(" of 1000 rows"), std::string::npos) << text;
    }
    EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Present);

    // At the threshold itself nothing is heard.
    Exec(IsPostgres() ? "DROP INDEX files_date_order" : "DROP INDEX FILES_DATE_ORDER");
    shown.clear();
    CaptureStderr quiet(dir_ / "stderr.txt");
    PrepareSearchIndexes(true, &log, listen, 1000);
    EXPECT_EQ(quiet.Text(), "");
    EXPECT_TRUE(shown.empty()) << shown.front().step;
    EXPECT_TRUE(log.lines.empty());
    SetSearchIndexWarningHook({});
}

// A login that may not create pg_trgm (no CREATE right on the database) and does not own
// FILES: its start creates nothing, says so in one line (standard error and the error
// log), and its searches find what the plain statement finds.
TEST_F(SearchIndexTest, ALoginThatMayNotCreateTheExtensionSearchesAndWarnsOnce) {
    if (!IsPostgres()) GTEST_SKIP() << "PostgreSQL's extension";
    Fill(1, 3001);
    SearchRequest r;
    r.filter = "report budget";
    const std::vector<unsigned long> plain = Hits(Statement(r, false));
    ASSERT_FALSE(plain.empty());
    role_ = "dtsearchuser" + std::to_string(::getpid());
    Exec("CREATE ROLE " + role_ + " LOGIN PASSWORD 'pw-" + role_ + "'");
    Exec("GRANT SELECT, INSERT ON FILES TO " + role_);
    Exec("GRANT SELECT ON SQLF TO " + role_);
    Relate::FILES->Close();
    Relate::SQLF->Close();
    KillTables();
    GLO::SQLOWNER =
        test::Backend::Server() + "," + database_ + "," + role_ + ",pw-" + role_ + ";APP=DRIVETREK;WSID=TEST";
    InitTables(errors_);
    Relate::FILES->Open();
    ASSERT_EQ(Access::FILES->UseFile(), 0) << errors_.shown;

    KeptLog log;
    CaptureStderr captured(dir_ / "stderr.txt");
    PrepareSearchIndexes(true, &log);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(SearchIndexStateForFiles(), SearchIndexState::Missing);
        EXPECT_EQ(Hits(Statement(r, true)), plain);
    }
    const std::string text = captured.Text();
    EXPECT_EQ(Lines(text, "warning:"), 1) << text;
    EXPECT_NE(text.find("pg_trgm"), std::string::npos) << text;
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines.front().find("pg_trgm"), std::string::npos);
    SetSearchIndexWarningHook({});
    Relate::FILES->Close();
    KillTables();
    // The tear-down works as the test server's own login again.
    GLO::SQLOWNER = test::Backend::Owner(database_);
    InitTables(errors_);
}

// Files from..to-1 of `computer` handed to a scan store as a walk hands them, ten
// directories of the generated site.
void StoreFiles(ScanStore& store, ULONG computer, long from, long to, WalkStats& stats) {
    for (long d = 0; d < 10; ++d) {
        const std::string dir = DirOf(from + d);
        store.BeginDirectory(dir);
        for (long i = from + d; i < to; i += 10) {
            FILES_RECORD rec;
            std::memset(static_cast<void*>(&rec), 0, sizeof rec);
            rec.SYSCOMPUTER = computer;
            rec.NAME = NameOf(i);
            rec.EXTENSION = ExtensionOf(NameOf(i));
            rec.DIR = dir;
            rec.TYPE = 32;
            rec.SIZE = static_cast<decltype(rec.SIZE)>(i);
            store.Store(rec, stats);
        }
        store.EndDirectory(stats);
    }
}

long long BrowseOrderIndexCount(const std::function<long long(const std::string&)>& count) {
    long long n = 0;
    for (const NamedIndex& index : EmbeddedRemadeIndexes())
        n += count("select count(*) from sqlite_master where name = '" + index.name + "'");
    return n;
}

// The first scan of an empty embedded database stores without the indexes that only
// serve speed and makes them again at its end from the table as it is then: rows that
// another program inserted while they were gone are in them, and so are rows inserted
// afterwards (through the triggers). Searches in between find what the table holds.
TEST_F(SearchIndexTest, AFirstScanMakesTheIndexesAgainWithTheRowsOfOtherProgramsToo) {
    if (IsPostgres()) GTEST_SKIP() << "the embedded database's first scan";
    KeptLog log;
    PrepareSearchIndexes(true, &log);
    ASSERT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Present);
    SetSearchIndexWarningHook({});

    ScanStore store(GLO::SQLOWNER.Str());
    store.SetBatchRows(100);
    store.SetIndexFillRows(250);  // the index fills in steps before the end
    SearchRequest r;
    r.filter = "report";
    SearchIndexState during = SearchIndexState::Present;
    bool joined = true;
    std::size_t found_during = 0;
    long long holding = -1;
    store.SetAfterBatch([&](std::size_t n) {
        if (n != 2) return;
        during = ProbeSearchIndexes(Runner(), Kind());
        joined = SearchJoinsIndexForFiles(Kind());
        // Another computer's rows while the triggers are gone.
        Exec(InsertRows(900001, 900051));
        found_during = Hits(Statement(r, joined)).size();
        holding = Count("select count(*) from FILES where lower(NAME) like '%report%'");
    });
    ASSERT_TRUE(store.Begin(4)) << store.Error();
    EXPECT_TRUE(store.DroppedIndexes());
    WalkStats stats;
    StoreFiles(store, 4, 1, 1001, stats);
    ASSERT_TRUE(store.Finish(stats)) << store.Error();
    EXPECT_EQ(store.Counts().inserted, 1000u);

    EXPECT_EQ(during, SearchIndexState::Missing);
    EXPECT_FALSE(joined);
    EXPECT_GT(holding, 0);
    EXPECT_EQ(static_cast<long long>(found_during), holding);
    EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Present);
    EXPECT_EQ(Count("select count(*) from sqlite_master where name = 'FILES_DIR_SEARCH'"), 1);
    EXPECT_EQ(BrowseOrderIndexCount([this](const std::string& q) { return Count(q); }), 4);
    Exec(InsertRows(990001, 990051));  // after the scan: through the triggers
    EXPECT_EQ(EmbeddedIndexDifferences(), 0);
    EXPECT_EQ(Count("select count(*) from FILES"), 1100);
    for (const SearchRequest& q : Searches()) {
        SCOPED_TRACE(q.filter);
        EXPECT_EQ(Hits(Statement(q, true)), Hits(Statement(q, false)));
    }
}

// Alone with the database, a first scan fills the substring index with its committed
// rows in steps while it stores, and at its end adds the rest and the triggers: the index
// is then the one made afresh from the table. The name key, gone meanwhile, is back.
TEST_F(SearchIndexTest, AFirstScanAloneIndexesItsRowsAsItStoresThem) {
    if (IsPostgres()) GTEST_SKIP() << "the embedded database's first scan";
    PrepareSearchIndexes(true, nullptr);
    SetSearchIndexWarningHook({});
    ScanStore store(GLO::SQLOWNER.Str());
    store.SetBatchRows(100);
    store.SetIndexFillRows(250);
    std::vector<long long> indexed;  // rows the name index answers for, after each batch
    long long name_key = -1;
    SearchIndexState during = SearchIndexState::Present;
    store.SetAfterBatch([&](std::size_t) {
        indexed.push_back(Count("select count(*) from FILES_NAME_FTS where FILES_NAME_FTS match '\"rep\"'"));
        name_key = Count("select count(*) from sqlite_master where name = 'KEYNAME_FILES'");
        during = ProbeSearchIndexes(Runner(), Kind());
    });
    ASSERT_TRUE(store.Begin(4)) << store.Error();
    ASSERT_TRUE(store.DroppedIndexes());
    WalkStats stats;
    StoreFiles(store, 4, 1, 1001, stats);
    ASSERT_TRUE(store.Finish(stats)) << store.Error();
    EXPECT_EQ(store.Counts().inserted, 1000u);

    EXPECT_EQ(during, SearchIndexState::Missing) << "searches read the table while the index fills";
    EXPECT_EQ(name_key, 0);
    ASSERT_EQ(indexed.size(), 10u);
    EXPECT_EQ(indexed[0], 0) << "100 rows are not yet a step";
    EXPECT_GT(indexed[2], 0) << "300 rows are";
    EXPECT_LT(indexed[2], indexed[9]);
    EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Present);
    EXPECT_EQ(BrowseOrderIndexCount([this](const std::string& q) { return Count(q); }), 4);
    EXPECT_EQ(EmbeddedIndexDifferences(), 0);
    EXPECT_EQ(Count("select count(*) from FILESDIR"), Count("select count(distinct DIR) from FILES"));
    for (const SearchRequest& q : Searches()) {
        SCOPED_TRACE(q.filter);
        EXPECT_EQ(Hits(Statement(q, true)), Hits(Statement(q, false)));
    }
}

// A first scan killed while the indexes are gone leaves them to drivetrek's start, which
// makes them with every row; one that is stopped makes them itself. A scan that finds
// rows in FILES (another computer's) drops nothing, on any server.
TEST_F(SearchIndexTest, AKilledFirstScanLeavesTheIndexesToTheStartAndAStoppedOneMakesThem) {
    if (!IsPostgres()) {
        PrepareSearchIndexes(true, nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ScanStore store(GLO::SQLOWNER.Str());
            store.SetBatchRows(100);
            store.SetIndexFillRows(250);  // the index fills in steps before the end
            store.SetAfterBatch([](std::size_t n) {
                if (n == 3) ::raise(SIGKILL);
            });
            if (!store.Begin(5)) ::_exit(1);
            WalkStats stats;
            StoreFiles(store, 5, 1, 1001, stats);
            store.Finish(stats);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended with " << status;
        EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Missing);
        EXPECT_EQ(BrowseOrderIndexCount([this](const std::string& q) { return Count(q); }), 0);
        const long long stored = Count("select count(*) from FILES");
        EXPECT_GE(stored, 300);
        EXPECT_LT(stored, 1000);
        // drivetrek's start: its upgrade step over the program's tables.
        KeptLog log;
        Relate::COMPUTER->Open();
        ASSERT_EQ(Access::COMPUTER->UseFile(), 0) << errors_.shown;
        EXPECT_TRUE(RunStartupUpgrade(true, &log));
        Relate::COMPUTER->Close();
        SetSearchIndexWarningHook({});
        EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Present);
        EXPECT_EQ(BrowseOrderIndexCount([this](const std::string& q) { return Count(q); }), 4);
        EXPECT_EQ(EmbeddedIndexDifferences(), 0);

        // Stopped: made again at the stop.
        Exec("DELETE FROM FILES");
        ScanStore stopped(GLO::SQLOWNER.Str());
        stopped.SetBatchRows(100);
        ASSERT_TRUE(stopped.Begin(5)) << stopped.Error();
        EXPECT_TRUE(stopped.DroppedIndexes());
        WalkStats stats;
        StoreFiles(stopped, 5, 1, 501, stats);
        stopped.Stop(stats);
        EXPECT_EQ(ProbeSearchIndexes(Runner(), Kind()), SearchIndexState::Present);
        EXPECT_EQ(BrowseOrderIndexCount([this](const std::string& q) { return Count(q); }), 4);
        EXPECT_EQ(EmbeddedIndexDifferences(), 0);
        Fill(1, 101);
    } else {
        PrepareSearchIndexes(true, nullptr);  // PostgreSQL: nothing dropped, even when empty
    }
    ScanStore beside(GLO::SQLOWNER.Str());
    beside.SetBatchRows(100);
    SearchIndexState during = SearchIndexState::Missing;
    beside.SetAfterBatch([&](std::size_t) { during = ProbeSearchIndexes(Runner(), Kind()); });
    ASSERT_TRUE(beside.Begin(6)) << beside.Error();
    EXPECT_FALSE(beside.DroppedIndexes());
    WalkStats stats;
    StoreFiles(beside, 6, 2001, 2501, stats);
    ASSERT_TRUE(beside.Finish(stats)) << beside.Error();
    EXPECT_EQ(during, ProbeSearchIndexes(Runner(), Kind()));
    if (!IsPostgres()) {
        EXPECT_EQ(during, SearchIndexState::Present);
        EXPECT_EQ(EmbeddedIndexDifferences(), 0);
    }
    SetSearchIndexWarningHook({});
}

}  // namespace
}  // namespace dt
