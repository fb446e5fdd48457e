// Search statements: the word splitting, the order of the terms, literals that typed
// text cannot break, and the server differences.
#include <gtest/gtest.h>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/query.h"

namespace dt {
namespace {

const Dialect& kSqlServer = DialectOf(ServerKind::SqlServer);

std::string Condition(const std::string& filter, bool dir = false) {
    SearchRequest r;
    r.filter = filter;
    r.search_dir = dir;
    return BuildSearchCondition(r, kSqlServer);
}

TEST(SearchCondition, TheWorkedExampleReadsExactly) {
    SearchRequest r;
    r.filter = "report 2002";
    r.extension = "doc";
    r.size_from = KilobytesToBytes(10);
    r.computer = 3;
    EXPECT_EQ(BuildSearchCondition(r, kSqlServer),
              "(SysFILES > 0) and name like '%report%' and name like '%2002%' and extension like '%doc%' "
              "and Size > 10240 and SysCOMPUTER = 3");
}

TEST(SearchCondition, EveryBlankEndsAWordAndTheLastCharacterBelongsToTheLastWord) {
    EXPECT_EQ(Condition("a  b"), "(SysFILES > 0) and name like '%a%' and name like '%%' and name like '%b%'");
    EXPECT_EQ(Condition(" a"), "(SysFILES > 0) and name like '%%' and name like '%a%'");
    EXPECT_EQ(Condition("x"), "(SysFILES > 0) and name like '%x%'");
    EXPECT_EQ(Condition("ab   "), "(SysFILES > 0) and name like '%ab%'") << "trailing blanks make no word";
    EXPECT_EQ(Condition("   "), "(SysFILES > 0)");
    EXPECT_EQ(Condition(""), "(SysFILES > 0)");
}

TEST(SearchCondition, DirectoryBoxParenthesisesEachWord) {
    EXPECT_EQ(Condition("tax 2024", true),
              "(SysFILES > 0) and (name like '%tax%' or dir like '%tax%') and (name like '%2024%' or dir "
              "like '%2024%')");
}

TEST(SearchCondition, OnlyASizeRangeAndStrictBounds) {
    SearchRequest r;
    r.size_from = KilobytesToBytes(100);
    r.size_to = KilobytesToBytes(200);
    EXPECT_EQ(BuildSearchCondition(r, kSqlServer), "(SysFILES > 0) and Size > 102400 and Size < 204800");
    r.size_from = KilobytesToBytes(-5);
    r.size_to = 0;
    EXPECT_EQ(BuildSearchCondition(r, kSqlServer), "(SysFILES > 0)") << "a negative bound adds nothing";
}

TEST(SearchCondition, LargeKilobyteBoundsDoNotWrap) {
    // 2,097,152 KB is 2 GiB: in 32 bits the product wraps to a negative number and the
    // bound would silently vanish; 4,194,304 KB would wrap to 0.
    EXPECT_EQ(KilobytesToBytes(2'097'152), 2'147'483'648LL);
    EXPECT_EQ(KilobytesToBytes(4'194'304), 4'294'967'296LL);
    EXPECT_EQ(KilobytesToBytes(2'147'483'647), 2'199'023'254'528LL);
    SearchRequest r;
    r.size_from = KilobytesToBytes(3'000'000);
    EXPECT_EQ(BuildSearchCondition(r, kSqlServer), "(SysFILES > 0) and Size > 3072000000");
}

TEST(SearchCondition, ApostrophesAreDoubledSoTypedTextStaysInsideItsLiteral) {
    SearchRequest r;
    r.filter = "o'brien x')--";
    r.extension = "d'";
    EXPECT_EQ(
        BuildSearchCondition(r, kSqlServer),
        "(SysFILES > 0) and name like '%o''brien%' and name like '%x'')--%' and extension like '%d''%'");
    r.filter = "50%_off";
    r.extension = "";
    EXPECT_EQ(BuildSearchCondition(r, kSqlServer), "(SysFILES > 0) and name like '%50%_off%'")
        << "typed wildcards keep their meaning";
}

TEST(SearchCondition, PostgreSqlMatchesWithoutRegardToCase) {
    SearchRequest r;
    r.filter = "Tax";
    r.extension = "PDF";
    r.search_dir = true;
    EXPECT_EQ(BuildSearchCondition(r, DialectOf(ServerKind::PostgreSQL)),
              "(SysFILES > 0) and (name ilike '%Tax%' or dir ilike '%Tax%') and extension ilike '%PDF%'");
}

TEST(SearchStatement, PadsTheConditionToItsFieldAndNeverCutsALongOne) {
    SearchRequest r;
    r.filter = "x";
    const std::string s = BuildSearchStatement(r, kSqlServer);
    const std::string head = "select * from FILES where (SysFILES > 0) and name like '%x%'";
    ASSERT_EQ(s.substr(0, head.size()), head);
    EXPECT_EQ(s.size(), std::string("select * from FILES where ").size() + 1024 + 14);
    EXPECT_EQ(s.substr(s.size() - 14), " order by Name");

    // 40 blanks and a word with the directory box: 40 empty words of 38 characters each,
    // longer than the 1,024-character field. The computer term must survive.
    r.filter = std::string(39, ' ') + "z";
    r.search_dir = true;
    r.computer = 7;
    const std::string long_statement = BuildSearchStatement(r, kSqlServer);
    EXPECT_GT(long_statement.size(), 1024u + 40);
    EXPECT_NE(long_statement.find(" and SysCOMPUTER = 7 order by Name"), std::string::npos);
}

TEST(SearchRequestChecks, EmptyRequestAndGlobals) {
    EXPECT_TRUE(IsEmptyRequest("   ", "", 0, 0));
    EXPECT_FALSE(IsEmptyRequest("", "doc", 0, 0));
    EXPECT_FALSE(IsEmptyRequest("", "", 100, 0));
    EXPECT_FALSE(IsEmptyRequest("", "", 0, -1)) << "a bound entered, even a useless one, passes";

    G::FILTER1 = "a b";
    G::EXTENSION = "txt";
    G::SEARCHDIR = 1;
    G::SIZE_FROM = 1;
    G::SIZE_TO = 2;
    G::SEARCHSYSCOMPUTER = 4;
    const SearchRequest r = SearchRequestFromGlobals();
    EXPECT_EQ(r.filter, "a b");
    EXPECT_EQ(r.extension, "txt");
    EXPECT_TRUE(r.search_dir);
    EXPECT_EQ(r.computer, 4);
}

TEST(Dialects, DatabaseStatementsQuoteTheNameAsData) {
    EXPECT_EQ(DialectOf(ServerKind::SqlServer).DatabaseListQuery("DRIVETREK           "),
              "SELECT name FROM sysdatabases WHERE name = 'DRIVETREK           '");
    EXPECT_EQ(DialectOf(ServerKind::SqlServer).DatabaseListQuery("a'b"),
              "SELECT name FROM sysdatabases WHERE name = 'a''b'");
    EXPECT_EQ(DialectOf(ServerKind::PostgreSQL).DatabaseListQuery("Files  "),
              "SELECT datname FROM pg_database WHERE datname = 'Files'");
    EXPECT_EQ(DialectOf(ServerKind::SqlServer).CreateDatabase("My]Db "), "CREATE DATABASE [My]]Db]");
    EXPECT_EQ(DialectOf(ServerKind::PostgreSQL).CreateDatabase("x\"y"), "CREATE DATABASE \"x\"\"y\"");
    EXPECT_EQ(DialectOf(ServerKind::Embedded).DatabaseFile("DRIVETREK   "), "DRIVETREK.db");
    EXPECT_EQ(KindOfDbms("PostgreSQL"), ServerKind::PostgreSQL);
    EXPECT_EQ(KindOfDbms("SQLite"), ServerKind::Embedded);
    EXPECT_EQ(KindOfDbms("Microsoft SQL Server"), ServerKind::SqlServer);
}

}  // namespace
}  // namespace dt
