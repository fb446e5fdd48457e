// The search statements with the substring index: what the embedded database's statement
// adds for its full-text index (and when it adds nothing), the characters each server
// reads in a LIKE pattern, and typed text that tries to change a statement's structure,
// written out exactly per server.
#include <gtest/gtest.h>

#include "app/browse_files.h"
#include "app/dialect.h"
#include "app/query.h"
#include "app/search_index.h"

namespace dt {
namespace {

const Dialect& kSqlServer = DialectOf(ServerKind::SqlServer);
const Dialect& kPostgres = DialectOf(ServerKind::PostgreSQL);
const Dialect& kEmbedded = DialectOf(ServerKind::Embedded);

SearchRequest Words(const std::string& filter, bool dir = false) {
    SearchRequest r;
    r.filter = filter;
    r.search_dir = dir;
    return r;
}

TEST(FtsQuery, LiteralRunsOfThreeCharactersOrMoreBecomeTheirTrigrams) {
    EXPECT_EQ(FtsQuery({"report"}), "\"rep\" AND \"epo\" AND \"por\" AND \"ort\"");
    EXPECT_EQ(FtsQuery({"report", "2002"}),
              "\"rep\" AND \"epo\" AND \"por\" AND \"ort\" AND \"200\" AND \"002\"");
    // A trigram is asked for once, however often the words hold it.
    EXPECT_EQ(FtsQuery({"aaaa", "xaaa"}), "\"aaa\" AND \"xaa\"");
    // "%" and "_" keep their LIKE meaning: they cut the word into runs; short runs drop.
    EXPECT_EQ(FtsQuery({"50%_off"}), "\"off\"");
    EXPECT_EQ(FtsQuery({"abc%de_fghi"}), "\"abc\" AND \"fgh\" AND \"ghi\"");
    EXPECT_EQ(FtsQuery({"%%"}), "");
    EXPECT_EQ(FtsQuery({""}), "") << "an empty word selects nothing";
    EXPECT_EQ(FtsQuery({"ab", "x"}), "") << "two characters are too few for a trigram";
    // Characters, not bytes: two accented letters are four bytes but two characters.
    EXPECT_EQ(FtsQuery({"\xC3\xA9\xC3\xA9"}), "");
    EXPECT_EQ(FtsQuery({"\xC3\xA9t\xC3\xA9"}), "\"\xC3\xA9t\xC3\xA9\"");
    EXPECT_EQ(FtsQuery({"\xC3\xA9t\xC3\xA9s"}), "\"\xC3\xA9t\xC3\xA9\" AND \"t\xC3\xA9s\"");
    // Text that is not UTF-8 is left to LIKE alone.
    EXPECT_EQ(FtsQuery({"ab\xC3"}), "");
    EXPECT_EQ(FtsQuery({"ab\xFFxyz", "good"}), "\"goo\" AND \"ood\"");
}

TEST(FtsQuery, QuotesInsideATrigramAreDoubledSoTheyCannotEndIt) {
    EXPECT_EQ(FtsQuery({"a\"b\"c"}), "\"a\"\"b\" AND \"\"\"b\"\"\" AND \"b\"\"c\"");
    EXPECT_EQ(FtsQuery({"\" OR"}), "\"\"\" O\" AND \" OR\"");
    EXPECT_EQ(FtsQuery({"NEAR(ab"}), "\"NEA\" AND \"EAR\" AND \"AR(\" AND \"R(a\" AND \"(ab\"")
        << "query syntax inside quotes is text";
}

TEST(FtsQuery, HundredsOfWordsGiveEveryTrigramOnce) {
    // 600 words, each of one trigram, every one of them twice.
    std::vector<std::string> words;
    for (int i = 0; i < 600; ++i) words.push_back(std::to_string(100 + i % 300));
    std::vector<std::string_view> views(words.begin(), words.end());
    const std::string q = FtsQuery(views);
    std::size_t ands = 0;
    for (std::size_t at = q.find(" AND "); at != std::string::npos; at = q.find(" AND ", at + 1)) ++ands;
    EXPECT_EQ(ands, 299u);
    EXPECT_EQ(q.rfind("\"399\""), q.size() - 5);
}

TEST(SearchWordsSplit, EveryBlankEndsAWord) {
    EXPECT_EQ(SearchWords("a  b"), (std::vector<std::string_view>{"a", "", "b"}));
    EXPECT_EQ(SearchWords(" a"), (std::vector<std::string_view>{"", "a"}));
    EXPECT_EQ(SearchWords("ab   "), (std::vector<std::string_view>{"ab"}));
    EXPECT_TRUE(SearchWords("   ").empty());
    EXPECT_EQ(SearchWords(std::string(39, 'x') + "yz").front().size(), 40u) << "at most 40 characters";
}

TEST(IndexedStatement, EmbeddedStatementJoinsTheNameIndexAfterTheConditions) {
    SearchRequest r = Words("report 2002");
    r.extension = "doc";
    r.size_from = 10240;
    r.computer = 3;
    EXPECT_EQ(BuildSearchCondition(r, kEmbedded, true),
              "(SysFILES > 0) and name like '%report%' and name like '%2002%' and extension like '%doc%' and "
              "Size > "
              "10240 and SysCOMPUTER = 3 and SysFILES in (select rowid from FILES_NAME_FTS where "
              "FILES_NAME_FTS match "
              "'\"rep\" AND \"epo\" AND \"por\" AND \"ort\" AND \"200\" AND \"002\"')");
    // Without the index, or on the servers, the statement is the plain one.
    EXPECT_EQ(BuildSearchCondition(r, kEmbedded, false),
              "(SysFILES > 0) and name like '%report%' and name like '%2002%' and extension like '%doc%' and "
              "Size > "
              "10240 and SysCOMPUTER = 3");
    EXPECT_EQ(BuildSearchCondition(r, kSqlServer, true), BuildSearchCondition(r, kSqlServer, false));
    EXPECT_EQ(
        BuildSearchCondition(r, kPostgres, true),
        "(SysFILES > 0) and name ilike '%report%' and name ilike '%2002%' and extension ilike '%doc%' and "
        "Size > 10240 and SysCOMPUTER = 3");
}

TEST(IndexedStatement, DirectoryWordsTakeNameOrDirectoryCandidatesPerWord) {
    EXPECT_EQ(
        BuildSearchCondition(Words("tax ab", true), kEmbedded, true),
        "(SysFILES > 0) and (name like '%tax%' or dir like '%tax%') and (name like '%ab%' or dir like "
        "'%ab%') "
        "and (SysFILES in (select rowid from FILES_NAME_FTS where FILES_NAME_FTS match '\"tax\"') or DIR in "
        "(select DIR from FILESDIR_FTS where FILESDIR_FTS match '\"tax\"'))");
}

TEST(IndexedStatement, WordsTheIndexCannotServeLeaveThePlainStatement) {
    for (const char* filter : {"ab", "a b", "%_", "x  y"}) {
        SCOPED_TRACE(filter);
        EXPECT_EQ(BuildSearchCondition(Words(filter), kEmbedded, true),
                  BuildSearchCondition(Words(filter), kEmbedded, false));
    }
    SearchRequest only_size;
    only_size.size_from = 5;
    EXPECT_EQ(BuildSearchCondition(only_size, kEmbedded, true), "(SysFILES > 0) and Size > 5");
}

TEST(LikePatterns, EachServersOwnCharactersMatchThemselves) {
    // PostgreSQL's LIKE escapes with "\": doubled, it matches one backslash.
    EXPECT_EQ(BuildSearchCondition(Words("a\\b"), kPostgres), "(SysFILES > 0) and name ilike '%a\\\\b%'");
    EXPECT_EQ(BuildSearchCondition(Words("a\\b"), kEmbedded), "(SysFILES > 0) and name like '%a\\b%'");
    EXPECT_EQ(BuildSearchCondition(Words("a\\b"), kSqlServer), "(SysFILES > 0) and name like '%a\\b%'");
    // SQL Server reads "[" as a character class; "]" alone is a plain character.
    EXPECT_EQ(BuildSearchCondition(Words("[1]"), kSqlServer), "(SysFILES > 0) and name like '%[[]1]%'");
    EXPECT_EQ(BuildSearchCondition(Words("[1]"), kPostgres), "(SysFILES > 0) and name ilike '%[1]%'");
    EXPECT_EQ(BuildSearchCondition(Words("[1]"), kEmbedded), "(SysFILES > 0) and name like '%[1]%'");
    // "%" and "_" keep their meaning everywhere.
    for (const Dialect* d : {&kSqlServer, &kPostgres, &kEmbedded})
        EXPECT_EQ(d->LikePattern("50%_x"), "50%_x");
    SearchRequest ext;
    ext.extension = "[\\";
    EXPECT_EQ(BuildSearchCondition(ext, kSqlServer), "(SysFILES > 0) and extension like '%[[]\\%'");
    EXPECT_EQ(BuildSearchCondition(ext, kPostgres), "(SysFILES > 0) and extension ilike '%[\\\\%'");
}

TEST(HostileWords, NeverChangeTheStructureOnAnyServer) {
    const std::string word = "x')--\"y";
    EXPECT_EQ(BuildSearchCondition(Words(word), kSqlServer), "(SysFILES > 0) and name like '%x'')--\"y%'");
    EXPECT_EQ(BuildSearchCondition(Words(word), kPostgres), "(SysFILES > 0) and name ilike '%x'')--\"y%'");
    EXPECT_EQ(
        BuildSearchCondition(Words(word), kEmbedded, true),
        "(SysFILES > 0) and name like '%x'')--\"y%' and SysFILES in (select rowid from FILES_NAME_FTS where "
        "FILES_NAME_FTS match '\"x'')\" AND \"'')-\" AND \")--\" AND \"--\"\"\" AND \"-\"\"y\"')");
    // A backslash before the apostrophe cannot turn the doubled apostrophe into an
    // escaped one on PostgreSQL: the backslash is doubled first, the apostrophe after.
    EXPECT_EQ(BuildSearchCondition(Words("a\\'b"), kPostgres), "(SysFILES > 0) and name ilike '%a\\\\''b%'");
    EXPECT_EQ(BuildSearchCondition(Words("[x'"), kSqlServer), "(SysFILES > 0) and name like '%[[]x''%'");
}

TEST(HostileWords, BrowseFilterGoesThroughTheSamePatterns) {
    EXPECT_EQ(BuildBrowseFilter("o'x\\ /s", kPostgres, false, nullptr),
              "(SysFILES > 0) and (name ilike '%o''x\\\\%' or dir ilike '%o''x\\\\%')");
    EXPECT_EQ(
        BuildBrowseFilter("[a] b", kSqlServer, true, nullptr),
        "(SysFILES > 0) and (name like '%[[]a]%' or dir like '%[[]a]%') and (name like '%b%' or dir like "
        "'%b%')")
        << "SQL Server never joins an index table";
    BrowseOrder order = BrowseOrder::Unchanged;
    EXPECT_EQ(
        BuildBrowseFilter("abc /s xy", kEmbedded, true, &order),
        "(SysFILES > 0) and (name like '%abc%' or dir like '%abc%') and (name like '%xy%' or dir like "
        "'%xy%') "
        "and (SysFILES in (select rowid from FILES_NAME_FTS where FILES_NAME_FTS match '\"abc\"') or DIR in "
        "(select DIR from FILESDIR_FTS where FILESDIR_FTS match '\"abc\"'))");
    EXPECT_EQ(order, BrowseOrder::Size);
}

TEST(IndexDefinitions, BrowseOrdersEndWithTheRowNumberAndServersDiffer) {
    for (ServerKind kind : {ServerKind::Embedded, ServerKind::PostgreSQL}) {
        const std::vector<NamedIndex> list = BrowseOrderIndexes(kind);
        ASSERT_EQ(list.size(), 3u);
        EXPECT_NE(list[0].create.find("(UPPER(NAME), SysFILES)"), std::string::npos) << list[0].create;
        EXPECT_NE(list[1].create.find("(Size, SysFILES)"), std::string::npos);
        EXPECT_NE(list[2].create.find("(DATE, SysFILES)"), std::string::npos);
        for (const NamedIndex& i : list)
            EXPECT_NE(i.create.find("IF NOT EXISTS " + i.name), std::string::npos);
    }
    for (const NamedIndex& i : BrowseOrderIndexes(ServerKind::PostgreSQL))
        EXPECT_EQ(i.create.rfind("CREATE INDEX CONCURRENTLY", 0), 0u) << "scans go on while it is built";
    EXPECT_TRUE(BrowseOrderIndexes(ServerKind::SqlServer).empty());
}

}  // namespace
}  // namespace dt
