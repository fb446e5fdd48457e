// Statement texts built without a database: column map, key texts, SELECT, GET, INSERT,
// UPDATE, DELETE, CREATE TABLE/INDEX, literals and the pass-through classification.
#include <gtest/gtest.h>

#include <cstring>

#include "data/sql_text.h"
#include "tests/data/test_tables.h"

namespace dt::test {
namespace {

#pragma pack(push, 1)
struct ThreeRecord {
    LONG A;
    CSTRING<21> B;
    DATE C;
    ULONG D;
};
#pragma pack(pop)

// A table with a three-component key: +A, -B, +C.
struct ThreeTable : Table<ThreeRecord> {
    ThreeTable()
        : Table("T", SqlDriver(), "", "T3", FILE_CREATE,
                {Field::Long("T:A", offsetof(ThreeRecord, A)),
                 Field::Cstring("T:B", offsetof(ThreeRecord, B), 21),
                 Field::Date("T:C", offsetof(ThreeRecord, C)),
                 Field::Ulong("T:D", offsetof(ThreeRecord, D))}) {}
    Key K3{file, "T:K3", {"T:A", "-T:B", "T:C"}, 0};
    Key KU{file, "T:KU", {"T:D"}, KEY_OPT};
};

TEST(ColumnMap, TimestampPairIsOneColumnAndGroupsAreLeftOut) {
    FilesTable f("FILES");
    std::vector<Column> cols = BuildColumnMap(f.file);
    EXPECT_EQ(ColumnList(cols), "SYSFILES,SYSCOMPUTER,NAME,EXTENSION,DIR,TYPE,DATE,SIZE");
    ASSERT_EQ(cols.size(), 8u);
    EXPECT_TRUE(cols[6].timestamp);
    EXPECT_FALSE(cols[5].timestamp);
}

TEST(ColumnMap, ExternalNamesAndColumnOptions) {
    FilesRecord r;
    std::vector<Field> fs = FilesFields();
    fs[2].Name("FileName | READONLY|nowhere");
    fs[3].Name("Ext|READONLY| WRITABLE|ZERONOTNULL|BINARY");
    File file("FILES", SqlDriver(), "", "", 0, &r, sizeof r, fs);
    std::vector<Column> cols = BuildColumnMap(file);
    EXPECT_EQ(cols[2].name, "FileName");
    EXPECT_TRUE(cols[2].readonly());
    EXPECT_TRUE(cols[2].nowhere);
    EXPECT_EQ(cols[3].name, "Ext");
    EXPECT_EQ(cols[3].mark, 1);  // the later of READONLY and WRITABLE wins
    EXPECT_TRUE(cols[3].zeronotnull);
    EXPECT_TRUE(cols[3].binary);
}

TEST(KeyTexts, OrderByListsBothWaysWithDescPlacement) {
    ThreeTable t;
    std::vector<Column> cols = BuildColumnMap(t.file);
    KeyTexts kt = BuildKeyTexts(t.file, t.K3, cols, false);
    EXPECT_EQ(kt.order_forward, "A,B DESC,C ");
    EXPECT_EQ(kt.order_backward, "A DESC,B,C DESC ");
    KeyTexts last_desc = BuildKeyTexts(t.file, t.K3, cols, false);
    (void)last_desc;
}

TEST(KeyTexts, PositionConditionNestsOperatorsInOrder) {
    FilesRecord r;
    std::vector<Field> fs = {Field::Long("T:A", 0), Field::Long("T:B", 4), Field::Long("T:C", 8)};
    File file("T", SqlDriver(), "", "T", 0, &r, sizeof r, fs);
    Key k(file, "T:K", {"T:A", "T:B", "T:C"}, 0);
    std::vector<Column> cols = BuildColumnMap(file);
    KeyTexts kt = BuildKeyTexts(file, k, cols, false);
    ValueSource markers;
    Statement fwd = PositionCondition(kt, true, cols, markers);
    EXPECT_EQ(fwd.text, " (A >= ? AND (A > ? OR (B >= ? AND (B > ? OR (C >= ? ) ) ) ) )");
    ASSERT_EQ(fwd.params.size(), 5u);
    EXPECT_EQ(fwd.params[0].column, 0);
    EXPECT_EQ(fwd.params[3].column, 1);
    EXPECT_EQ(fwd.params[4].column, 2);
    Statement bwd = PositionCondition(kt, false, cols, markers);
    EXPECT_EQ(bwd.text, " (A <= ? AND (A < ? OR (B <= ? AND (B < ? OR (C <= ? ) ) ) ) )");
    EXPECT_EQ(kt.position_template, " (A %s ? AND (A %s ? OR (B %s ? AND (B %s ? OR (C %s ? ) ) ) ) )");
}

TEST(KeyTexts, DescendingComponentSwapsItsComparisons) {
    ThreeTable t;
    std::vector<Column> cols = BuildColumnMap(t.file);
    KeyTexts kt = BuildKeyTexts(t.file, t.K3, cols, false);
    ValueSource markers;
    EXPECT_EQ(PositionCondition(kt, true, cols, markers).text,
              " (A >= ? AND (A > ? OR (B <= ? AND (B < ? OR (C >= ? ) ) ) ) )");
    EXPECT_EQ(PositionCondition(kt, false, cols, markers).text,
              " (A <= ? AND (A < ? OR (B >= ? AND (B > ? OR (C <= ? ) ) ) ) )");
}

TEST(KeyTexts, NocaseUsesUpperOnlyForCharacterColumns) {
    FilesTable f("FILES");
    std::vector<Column> cols = BuildColumnMap(f.file);
    KeyTexts name = BuildKeyTexts(f.file, f.KEYNAME_FILES, cols, true);
    EXPECT_EQ(name.order_forward, "UPPER(NAME) ");
    KeyTexts id = BuildKeyTexts(f.file, f.KEYSYSFILES, cols, true);
    EXPECT_EQ(id.order_forward, "SYSFILES ");  // no UPPER of an integer
    KeyTexts plain = BuildKeyTexts(f.file, f.KEYNAME_FILES, cols, false);
    EXPECT_EQ(plain.order_forward, "NAME ");
}

TEST(KeyTexts, GroupComponentCannotBePositioned) {
    FilesRecord r;
    File file("FILES", SqlDriver(), "", "", 0, &r, sizeof r, FilesFields());
    Key k(file, "FILES:KG", {"FILES:DATE_GROUP"}, 0);
    std::vector<Column> cols = BuildColumnMap(file);
    EXPECT_FALSE(BuildKeyTexts(file, k, cols, false).usable);
}

TEST(Select, SequentialReadWithPositionFilterWhereAndHint) {
    ThreeTable t;
    std::vector<Column> cols = BuildColumnMap(t.file);
    KeyTexts kt = BuildKeyTexts(t.file, t.KU, cols, false);
    SelectPlan s;
    s.table = "T3";
    ValueSource markers;
    EXPECT_EQ(BuildSelect(cols, s, markers).text, "SELECT A,B,C,D FROM T3 ");
    s.key = &kt;
    EXPECT_EQ(BuildSelect(cols, s, markers).text, "SELECT A,B,C,D FROM T3  ORDER BY D ");
    s.position = true;
    s.filter = "A = 1";
    s.where = "B <> 'x'";
    EXPECT_EQ(BuildSelect(cols, s, markers).text,
              "SELECT A,B,C,D FROM T3 WHERE (D >= ? ) AND (A = 1 ) AND (B <> 'x' ) ORDER BY D ");
    s.position = false;
    s.filter.clear();
    s.forward = false;
    s.hint = "INDEX(T3)";
    s.limit = " LIMIT 1";
    EXPECT_EQ(BuildSelect(cols, s, markers).text,
              "SELECT /*+ INDEX(T3) */ A,B,C,D FROM T3 WHERE B <> 'x' ORDER BY D DESC  LIMIT 1");
}

TEST(Writes, InsertLeavesReadOnlyColumnsOutAndUsesLiteralsWithoutBinding) {
    ThreeTable t;
    std::vector<Column> cols = BuildColumnMap(t.file);
    ValueSource markers;
    EXPECT_EQ(BuildInsert(cols, "T3", markers).text, "INSERT INTO T3 (A,B,C,D) VALUES (?,?,?,?)");
    cols[0].mark = 2;
    Statement s = BuildInsert(cols, "T3", markers);
    EXPECT_EQ(s.text, "INSERT INTO T3 (B,C,D) VALUES (?,?,?)");
    EXPECT_EQ(s.params.size(), 3u);

    t.B = "it's";
    t.C = DATE{};  // zero date: NULL
    t.D = 4'000'000'000u;
    std::vector<std::int32_t> nulls(4, 0);
    ValueSource lit{true, reinterpret_cast<const char*>(&t.Record()), nullptr, &nulls, nullptr};
    EXPECT_EQ(BuildInsert(cols, "T3", lit).text, "INSERT INTO T3 (B,C,D) VALUES ('it''s',NULL,4000000000)");
}

TEST(Writes, UpdateWritesOnlyChangedColumnsAndNullAsNull) {
    FilesTable f("FILES");
    std::vector<Column> cols = BuildColumnMap(f.file);
    KeyTexts id = BuildKeyTexts(f.file, f.KEYSYSFILES, cols, false);
    f.SYSFILES = 5;
    f.NAME = "a";
    FilesRecord saved = f.Record();
    std::vector<std::int32_t> nulls(f.file.fields.size(), 0), saved_nulls = nulls;
    ValueSource v{false, reinterpret_cast<const char*>(&f.Record()), reinterpret_cast<const char*>(&saved),
                  &nulls, &saved_nulls};
    EXPECT_TRUE(BuildUpdate(cols, "FILES", id, v, "", sizeof saved).text.empty());  // nothing changed

    f.SIZE = 9;
    nulls[3] = -1;  // EXTENSION
    Statement s = BuildUpdate(cols, "FILES", id, v, "", sizeof saved);
    EXPECT_EQ(s.text, "UPDATE FILES SET EXTENSION = NULL,SIZE = ? WHERE SYSFILES = ?");
    ASSERT_EQ(s.params.size(), 2u);
    EXPECT_FALSE(s.params[0].saved);
    EXPECT_TRUE(s.params[1].saved);  // the key's value as it was read

    // Bytes after a CSTRING's NUL are no change.
    f.SIZE = saved.SIZE;
    nulls[3] = 0;
    f.NAME.data[5] = 'z';
    EXPECT_TRUE(BuildUpdate(cols, "FILES", id, v, "", sizeof saved).text.empty());
    saved_nulls[0] = -1;
    f.TYPE = 1;
    EXPECT_EQ(BuildUpdate(cols, "FILES", id, v, "X = 1", sizeof saved).text,
              "UPDATE FILES SET SYSFILES = ?,TYPE = ? WHERE SYSFILES IS NULL  AND (X = 1)");
}

TEST(Writes, DeleteByIdentifyingKeyLeavesNowhereColumnsOut) {
    ThreeTable t;
    std::vector<Column> cols = BuildColumnMap(t.file);
    KeyTexts kt = BuildKeyTexts(t.file, t.K3, cols, false);
    ValueSource markers;
    EXPECT_EQ(BuildDelete(cols, "T3", kt, markers, "").text,
              "DELETE FROM T3 WHERE A = ? AND B = ? AND C = ?");
    cols[1].nowhere = true;
    EXPECT_EQ(BuildDelete(cols, "T3", kt, markers, "").text, "DELETE FROM T3 WHERE A = ? AND C = ?");
    KeyTexts upper = BuildKeyTexts(t.file, t.K3, cols, true);  // no NOCASE flag: unchanged
    EXPECT_EQ(BuildGetByKey(cols, "T3", upper, markers, "", " LIMIT 1").text,
              "SELECT A,B,C,D FROM T3 WHERE A = ? AND B = ? AND C = ? LIMIT 1");
}

TEST(Literals, EveryTypeAsTheServerReadsIt) {
    FilesTable f("FILES");
    std::vector<Column> cols = BuildColumnMap(f.file);
    const char* rec = reinterpret_cast<const char*>(&f.Record());
    f.NAME = "O'Neil's";
    EXPECT_EQ(Literal(cols[2], rec, false), "'O''Neil''s'");
    f.DATE_DATE = DATE{5, 3, 2024};
    f.DATE_TIME = TIME{42, 7, 8, 9};
    EXPECT_EQ(Literal(cols[6], rec, false), "{ts '2024-03-05 09:08:07'}");
    f.DATE_DATE = DATE{};
    EXPECT_EQ(Literal(cols[6], rec, false), "NULL");
    f.SIZE = 4'294'967'295u;
    EXPECT_EQ(Literal(cols[7], rec, false), "4294967295");
    EXPECT_EQ(Literal(cols[7], rec, true), "NULL");

    ThreeTable t;
    std::vector<Column> tc = BuildColumnMap(t.file);
    const char* tr = reinterpret_cast<const char*>(&t.Record());
    EXPECT_EQ(Literal(tc[2], tr, false), "NULL");  // zero DATE
    t.C = DATE{1, 2, 1999};
    EXPECT_EQ(Literal(tc[2], tr, false), "{d '1999-02-01'}");
    t.A = -12;
    EXPECT_EQ(Literal(tc[0], tr, false), "-12");
}

TEST(Literals, PackedDecimalRoundTrips) {
    char rec[8] = {0};
    Column c;
    c.type = FT_DECIMAL;
    c.offset = 0;
    c.size = 4;  // 7 digits
    ASSERT_TRUE(TextToDecimal(c, rec, "-1234.56", 2));
    EXPECT_EQ(DecimalToText(c, rec, 7, 2), "-1234.56");
    EXPECT_FALSE(TextToDecimal(c, rec, "123456789", 0));  // does not fit
    c.type = FT_PDECIMAL;
    ASSERT_TRUE(TextToDecimal(c, rec, "42", 0));
    EXPECT_EQ(DecimalToText(c, rec, 7, 0), "42");
}

std::vector<TypeInfo> SqlServerTypes() {
    // As SQL Server lists them: "timestamp" is its row-version type (binary), datetime
    // is the timestamp code.
    return {{"bit", SQL_BIT, ""},
            {"tinyint", SQL_TINYINT, ""},
            {"bigint", SQL_BIGINT, ""},
            {"timestamp", SQL_BINARY, ""},
            {"char", SQL_CHAR, "length"},
            {"numeric", SQL_NUMERIC, "precision,scale"},
            {"decimal", SQL_DECIMAL, "precision,scale"},
            {"int", SQL_INTEGER, ""},
            {"smallint", SQL_SMALLINT, ""},
            {"datetime", SQL_TIMESTAMP, ""},
            {"varchar", SQL_VARCHAR, "max length"}};
}

TEST(CreateTable, TypesFromTheServerListWithKeyConstraints) {
    FilesTable f("FILES");
    std::vector<Column> cols = BuildColumnMap(f.file);
    std::string out, bad;
    ASSERT_EQ(BuildCreateTable(f.file, cols, SqlServerTypes(), CreateRules{}, out, bad), 0);
    EXPECT_EQ(out,
              "CREATE TABLE FILES (SYSFILES bigint NOT NULL,SYSCOMPUTER bigint,NAME varchar(256),EXTENSION "
              "varchar(10),DIR varchar(260),TYPE tinyint,DATE datetime,SIZE bigint,PRIMARY KEY (SYSFILES))");
}

TEST(CreateTable, UlongNeverBecomesAnIntegerAndMissingTypeIs75) {
    FilesTable f("FILES");
    std::vector<Column> cols = BuildColumnMap(f.file);
    std::vector<TypeInfo> no_bigint = {{"int", SQL_INTEGER, ""},
                                       {"numeric", SQL_NUMERIC, "precision,scale"},
                                       {"varchar", SQL_VARCHAR, "max length"},
                                       {"smallint", SQL_SMALLINT, ""},
                                       {"datetime", SQL_TIMESTAMP, ""}};
    std::string out, bad;
    ASSERT_EQ(BuildCreateTable(f.file, cols, no_bigint, CreateRules{}, out, bad), 0);
    EXPECT_NE(out.find("SIZE numeric(10,0)"), std::string::npos) << out;
    EXPECT_EQ(out.find("SIZE int"), std::string::npos);

    std::vector<TypeInfo> no_time = {{"int", SQL_INTEGER, ""},
                                     {"bigint", SQL_BIGINT, ""},
                                     {"varchar", SQL_VARCHAR, "max length"},
                                     {"smallint", SQL_SMALLINT, ""}};
    EXPECT_EQ(BuildCreateTable(f.file, cols, no_time, CreateRules{}, out, bad), 75);
    EXPECT_EQ(bad, "FILES:DATE");
}

TEST(CreateTable, TimestampWithoutZoneOnPostgres) {
    FilesTable f("FILES");
    std::vector<Column> cols = BuildColumnMap(f.file);
    std::vector<TypeInfo> pg = {{"int8", SQL_BIGINT, ""},
                                {"varchar", SQL_VARCHAR, "max. length"},
                                {"int2", SQL_TINYINT, ""},
                                {"timestamptz", SQL_TIMESTAMP, ""}};
    CreateRules rules;
    rules.skip_tz_types = true;
    std::string out, bad;
    ASSERT_EQ(BuildCreateTable(f.file, cols, pg, rules, out, bad), 0);
    EXPECT_NE(out.find("DATE timestamp,"), std::string::npos) << out;
}

TEST(CreateTable, UniqueKeysAndNoNotNullKind) {
    ThreeTable t;
    std::vector<Column> cols = BuildColumnMap(t.file);
    std::vector<TypeInfo> types = {{"int", SQL_INTEGER, ""},
                                   {"bigint", SQL_BIGINT, ""},
                                   {"varchar", SQL_VARCHAR, "len"},
                                   {"date", SQL_DATE, ""}};
    std::string out, bad;
    ASSERT_EQ(BuildCreateTable(t.file, cols, types, CreateRules{}, out, bad), 0);
    EXPECT_EQ(
        out,
        "CREATE TABLE T3 (A int NOT NULL,B varchar(20) NOT NULL,C date NOT NULL,D bigint,UNIQUE (A,B DESC,C),"
        "UNIQUE (D))");
    CreateRules btrieve;
    btrieve.not_null = false;
    ASSERT_EQ(BuildCreateTable(t.file, cols, types, btrieve, out, bad), 0);
    EXPECT_EQ(out, "CREATE TABLE T3 (A int,B varchar(20),C date,D bigint)");
}

TEST(CreateIndex, UniqueUnlessDupAndUpperForNocase) {
    FilesTable f("FILES");
    std::vector<Column> cols = BuildColumnMap(f.file);
    EXPECT_EQ(BuildCreateIndex(f.file, f.KEYNAME_FILES, cols, false),
              "CREATE INDEX KEYNAME_FILES ON FILES (NAME)");
    EXPECT_EQ(BuildCreateIndex(f.file, f.KEYNAME_FILES, cols, true),
              "CREATE INDEX KEYNAME_FILES ON FILES (UPPER(NAME))");
    EXPECT_EQ(BuildCreateIndex(f.file, f.KEYSYSFILES, cols, false),
              "CREATE UNIQUE INDEX KEYSYSFILES ON FILES (SYSFILES)");
}

TEST(PassThrough, ClassifiedByTheFirstWordAfterBlanksAndTabs) {
    std::string_view rest;
    EXPECT_EQ(ClassifyPassThrough("  \tselect * from x", &rest), PassKind::Select);
    EXPECT_EQ(rest, "select * from x");
    EXPECT_EQ(ClassifyPassThrough("SELECT(1)", &rest), PassKind::Select);
    EXPECT_EQ(ClassifyPassThrough("call proc(1)", &rest), PassKind::Call);
    EXPECT_EQ(rest, " proc(1)");
    EXPECT_EQ(ClassifyPassThrough("NoResultCall proc", &rest), PassKind::NoResultCall);
    EXPECT_EQ(ClassifyPassThrough(" DELETE FROM x", &rest), PassKind::Other);
    EXPECT_EQ(rest, "DELETE FROM x");
    EXPECT_EQ(ClassifyPassThrough("selection", &rest), PassKind::Other);  // a whole word only
    EXPECT_EQ(ClassifyPassThrough("", &rest), PassKind::Other);
}

}  // namespace
}  // namespace dt::test
