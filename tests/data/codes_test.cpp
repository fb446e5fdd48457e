// The driver interface without a database: operation and type names, the registration
// record, dispatch through the file statements (with a recording driver), and the SQL
// driver's answers that need no server.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "data/codes.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "runtime/errors.h"
#include "tests/data/test_tables.h"

namespace dt::test {
namespace {

TEST(Codes, OperationAndTypeNames) {
    EXPECT_STREQ(OperationName(0), "(0)");
    EXPECT_STREQ(OperationName(OP_ADD), "ADD");
    EXPECT_STREQ(OperationName(35), "(35)");
    EXPECT_STREQ(OperationName(OP_SETkeykeyptr), "SETkeykeyptr");
    EXPECT_STREQ(OperationName(87), "Internal87");
    EXPECT_STREQ(OperationName(OP_DESTROY), "DESTROY");
    EXPECT_STREQ(OperationName(105), "");
    EXPECT_STREQ(OperationName(-1), "");
    EXPECT_STREQ(FieldTypeName(FT_CSTRING), "CSTRING");
    EXPECT_STREQ(FieldTypeName(17), "(17)");
    EXPECT_STREQ(FieldTypeName(30), "STDNUM");
    EXPECT_STREQ(FieldTypeName(FT_INT64), "INT64");
    EXPECT_STREQ(FieldTypeName(32), "UNKNOWN");
}

// Fields read by their type code: the type decides the width and signedness of an
// integer and the layout of a text, at any byte offset of a packed record.
TEST(Codes, FieldsReadByTheirTypeCode) {
    constexpr float kHalf = 0.5f;
    const unsigned char bytes[] = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const unsigned char* p = bytes + 1;  // misaligned, as in a packed record
    long long v = 0;
    EXPECT_TRUE(LoadIntegerField(FT_BYTE, p, v));
    EXPECT_EQ(v, 255);
    EXPECT_TRUE(LoadIntegerField(FT_SHORT, p, v));
    EXPECT_EQ(v, -1);
    EXPECT_TRUE(LoadIntegerField(FT_USHORT, p, v));
    EXPECT_EQ(v, 65535);
    EXPECT_TRUE(LoadIntegerField(FT_LONG, p, v));
    EXPECT_EQ(v, -1);
    EXPECT_TRUE(LoadIntegerField(FT_ULONG, p, v));
    EXPECT_EQ(v, 4294967295LL) << "all 32 bits of a ULONG, never a negative number";
    EXPECT_TRUE(LoadIntegerField(FT_INT64, bytes, v));
    EXPECT_EQ(v, -129) << "little-endian 7F FF .. FF";
    v = 42;
    for (FieldType t : {FT_STRING, FT_REAL, FT_SREAL, FT_DATE, FT_TIME, FT_DECIMAL, FT_GROUP})
        EXPECT_FALSE(LoadIntegerField(t, p, v)) << FieldTypeName(t);
    EXPECT_EQ(v, 42) << "a field of another type leaves the value alone";

    unsigned char reals[1 + sizeof(double)] = {};
    std::memcpy(reals + 1, &kHalf, sizeof(float));
    double x = 0;
    EXPECT_TRUE(LoadRealField(FT_SREAL, reals + 1, x));
    EXPECT_EQ(x, 0.5);
    const double third = 1.0 / 3;
    std::memcpy(reals + 1, &third, sizeof third);
    EXPECT_TRUE(LoadRealField(FT_REAL, reals + 1, x));
    EXPECT_EQ(x, third) << "all 64 bits, not narrowed through a float";
    x = 7;
    EXPECT_FALSE(LoadRealField(FT_LONG, reals + 1, x));
    EXPECT_FALSE(LoadRealField(FT_DECIMAL, reals + 1, x));
    EXPECT_EQ(x, 7);

    EXPECT_EQ(TextLayoutOf(FT_STRING), TextLayout::Padded);
    EXPECT_EQ(TextLayoutOf(FT_CSTRING), TextLayout::Terminated);
    EXPECT_EQ(TextLayoutOf(FT_PSTRING), TextLayout::Counted);
}

TEST(Registration, SixtyOperationsAndFifteenTypes) {
    const DriverRegistration& r = SqlDriver();
    EXPECT_STREQ(r.name, "MSSQL");
    EXPECT_STREQ(r.description, "Microsoft SQL");
    ASSERT_EQ(r.operations[0], 60);
    EXPECT_EQ(r.operations[1], OP_ADD);
    EXPECT_EQ(r.operations[60], OP_SQLCALLBACK);
    ASSERT_EQ(r.types[0], 15);
    EXPECT_EQ(r.types[14], FT_GROUP);
    EXPECT_EQ(r.types[15], FT_INT64) << "64-bit sizes";
    EXPECT_TRUE(r.SupportsOperation(OP_NEXT));
    EXPECT_FALSE(r.SupportsOperation(OP_COPY));
    EXPECT_FALSE(r.SupportsOperation(OP_RESETfile));
    EXPECT_TRUE(r.SupportsType(FT_DECIMAL));
    EXPECT_FALSE(r.SupportsType(FT_MEMO));
}

// A driver that records what it was called with.
struct Recorded {
    int op = -1;
    DriverArgs args;
    int calls = 0;
};
Recorded g_rec;
int g_answer = 0;

int RecordingEntry(int op, File&, DriverArgs& a) {
    g_rec.op = op;
    g_rec.args.key = a.key;
    g_rec.args.value = a.value;
    g_rec.args.text = a.text;
    ++g_rec.calls;
    if (g_answer == 90) {
        a.file_error_code = "42000";
        a.file_error = "syntax";
    }
    if (a.out) *a.out = "out";
    a.result = 7;
    return g_answer;
}

constexpr std::uint8_t kFewOps[] = {5, OP_OPEN, OP_NEXT, OP_SEND, OP_GETfilekey, OP_RECORDSfile};
constexpr std::uint8_t kFewTypes[] = {1, FT_LONG};
const DriverRegistration kRecorder = {"REC", "", "", "", &RecordingEntry, 0, {}, 0, 0, 0, kFewOps, kFewTypes};

struct RecRecord {
    LONG A;
};

TEST(Statements, ReachTheDriverWithTheirCodeAndArguments) {
    RecRecord r{5};
    File f("R", kRecorder, "", "R", 0, &r, sizeof r, {Field::Long("R:A", 0)});
    Key k(f, "R:K", {"R:A"}, 0);
    g_rec = {};
    g_answer = 0;
    EXPECT_EQ(Open(f, ReadOnly | DenyNone), 0);
    EXPECT_EQ(g_rec.op, OP_OPEN);
    EXPECT_EQ(g_rec.args.value, 0x40);
    EXPECT_EQ(Get(k), 0);
    EXPECT_EQ(g_rec.op, OP_GETfilekey);
    EXPECT_EQ(g_rec.args.key, &k);
    EXPECT_EQ(Send(f, "/X"), "out");
    EXPECT_EQ(g_rec.args.text, "/X");
    EXPECT_EQ(Records(f), 7);

    g_answer = 90;
    EXPECT_EQ(Next(f), 90);
    EXPECT_EQ(ErrorCode(), 90);
    EXPECT_EQ(FileErrorCode(), "42000");
    EXPECT_EQ(FileError(), "syntax");
    EXPECT_EQ(Error(), "File System Error");
    g_answer = 33;
    EXPECT_EQ(Next(f), 33);
    EXPECT_EQ(FileErrorCode(), "");  // the pair belongs to 90 only

    // Not in the driver's list: 80, the driver is not called, the record stays.
    int calls = g_rec.calls;
    r.A = 42;
    EXPECT_EQ(Put(f), 80);
    EXPECT_EQ(Previous(f), 80);
    EXPECT_EQ(g_rec.calls, calls);
    EXPECT_EQ(r.A, 42);
    EXPECT_EQ(ErrorCode(), 80);
}

TEST(Statements, KeyOfAnotherFileAndUnknownFieldsAreRefused) {
    RecRecord r{}, s{};
    File f("R", kRecorder, "", "R", 0, &r, sizeof r, {Field::Long("R:A", 0)});
    File g("S", kRecorder, "", "S", 0, &s, sizeof s, {Field::Long("S:A", 0)});
    Key k(g, "S:K", {"S:A"}, 0);
    Key bad(f, "R:BAD", {"R:NOPE"}, 0);
    EXPECT_FALSE(bad.valid);
    EXPECT_TRUE(f.bad_declaration);
    DriverArgs a;
    a.key = &k;
    EXPECT_EQ(CallDriver(OP_GETfilekey, f, a), 38);
    EXPECT_EQ(SetNull(f, "R:NOPE"), 47);
}

TEST(Statements, TransactionStatementsNeedTheirOrder) {
    EXPECT_EQ(Commit(), 91);
    EXPECT_EQ(Rollback(), 91);
}

class SqlDriverNoServer : public ::testing::Test {
  protected:
    TempWorkDir dir_;
};

TEST_F(SqlDriverNoServer, UnsupportedOperationLeavesTheRecordAlone) {
    FilesTable f("FILES");
    f.file.SetOwner("x,nodb");
    f.NAME = "keep";
    FilesRecord before = f.Record();
    DriverArgs a;
    EXPECT_EQ(SqlDriverEntry(OP_COPY, f.file, a), 80);
    EXPECT_EQ(SqlDriverEntry(OP_RESETfile, f.file, a), 80);
    EXPECT_EQ(std::memcmp(&before, &f.Record(), sizeof before), 0);
}

TEST_F(SqlDriverNoServer, CloseOrDestroyFirstCreateNoState) {
    FilesTable f("FILES");
    DriverArgs a;
    EXPECT_EQ(SqlDriverEntry(OP_CLOSE, f.file, a), 0);
    EXPECT_EQ(SqlDriverEntry(OP_DESTROY, f.file, a), 0);
    EXPECT_FALSE(f.file.driver_slot);
    EXPECT_EQ(SqlDriverEntry(OP_NAME, f.file, a), 0);
    EXPECT_TRUE(f.file.driver_slot);
    EXPECT_EQ(SqlDriverEntry(OP_DESTROY, f.file, a), 0);
    EXPECT_FALSE(f.file.driver_slot);
}

TEST_F(SqlDriverNoServer, EmptyNameAndMissingCreateAttributeTouchNoServer) {
    FilesTable empty("");
    empty.file.label.clear();
    empty.file.SetOwner("x,nodb");
    EXPECT_EQ(Open(empty), 45);
    FilesTable f("FILES", "", 0);
    f.file.SetOwner("x,nodb");
    EXPECT_EQ(Create(f), 54);
    EXPECT_FALSE(std::filesystem::exists("nodb.db"));  // no connection was made
    EXPECT_EQ(Name(f), "FILES");
}

TEST_F(SqlDriverNoServer, OptionsSetAndReadBack) {
    FilesTable f("FILES", "/ZEROISNULL=TRUE /HINT=FULL(F)/ NOVERIFY");
    EXPECT_EQ(Send(f, "/zeroisnull"), "TRUE");
    EXPECT_EQ(Send(f, "/HINT"), "FULL(F)");
    EXPECT_EQ(Send(f, "/NOVERIFY"), "TRUE");
    EXPECT_EQ(Send(f, "/ODBCCALL=yes"), "FALSE");  // anything but TRUE is false
    EXPECT_EQ(Send(f, "/NOSUCHOPTION=1"), "");
    EXPECT_EQ(ErrorCode(), 0);
    // Server-level options are kept until the file connects.
    EXPECT_EQ(Send(f, "/JOINTYPE=ANYTHING"), "ANYTHING");
    EXPECT_EQ(Send(f, "HELD"), "");
    EXPECT_EQ(ErrorCode(), 0);
    SetProperty(f, PROP_Where, "SIZE > 0");
    EXPECT_EQ(Send(f, "/WHERE"), "SIZE > 0");
}

TEST_F(SqlDriverNoServer, LockWithZeroSecondsTriesOnce) {
    FilesTable f("FILES");
    EXPECT_EQ(Lock(f, 0), 0);
    EXPECT_EQ(Unlock(f), 0);
}

}  // namespace
}  // namespace dt::test
