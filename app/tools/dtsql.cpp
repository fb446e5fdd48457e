// dtsql: "can this machine reach the database?" Reads ./drivetrek.ini as the program does,
// builds the same connection text, sends one statement through the SQL pass-through path
// and prints the rows (columns separated by tabs), or the runtime error code and text and,
// for 90, FILEERRORCODE and FILEERROR.
//   usage: dtsql [--master] "statement"
//   --master  use the connection of the server's master database (GLO:SQLMASTEROWNER)
// Exit status: 0 when the statement ran, 1 when it failed, 2 for a usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/globals.h"
#include "app/settings.h"
#include "app/startup.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "runtime/errors.h"

namespace {

constexpr int kColumns = 32;

#pragma pack(push, 1)
struct RowRecord {
    dt::CSTRING<256> col[kColumns];
};
#pragma pack(pop)

std::vector<dt::Field> RowFields() {
    std::vector<dt::Field> f;
    for (int i = 0; i < kColumns; ++i)
        f.push_back(
            dt::Field::Cstring("SQL:C" + std::to_string(i + 1), offsetof(RowRecord, col) + i * 256u, 256));
    return f;
}

// A pass-through table of up to 32 text columns. NOVERIFY: nothing is created or asked
// of the server at OPEN, so the tool changes nothing but what its statement changes.
struct PassTable : dt::Table<RowRecord> {
    PassTable() : Table("SQL", dt::SqlDriver(), "/NOVERIFY=TRUE", "SQLF", 0, RowFields()) {}
};

int Fail(const char* what) {
    int code = dt::ErrorCode();
    std::fprintf(stderr, "%s: error %d: %s\n", what, code, dt::Error().c_str());
    if (code == 90) {
        std::fprintf(stderr, "FILEERRORCODE: %s\n", dt::FileErrorCode().c_str());
        std::fprintf(stderr, "FILEERROR: %s\n", dt::FileError().c_str());
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool master = false;
    std::string statement;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--master") == 0)
            master = true;
        else if (statement.empty())
            statement = argv[i];
        else
            statement += std::string(" ") + argv[i];
    }
    if (statement.empty()) {
        std::fprintf(stderr, "usage: dtsql [--master] \"statement\"\n");
        return 2;
    }
    dt::LoadSettings("./drivetrek.ini");
    dt::ReadComputerName();
    if (dt::GLO::SQLDATABASE.IsBlank()) dt::GLO::SQLDATABASE = "DRIVETREK";
    dt::BuildOwners();

    PassTable t;
    if (master)
        t.file.SetOwnerVariable(dt::GLO::SQLMASTEROWNER);
    else
        t.file.SetOwnerVariable(dt::GLO::SQLOWNER);
    if (dt::Open(t) != 0) return Fail("connect");
    std::fprintf(stderr, "connected: %s (%s)\n", dt::GetProperty(t, dt::PROP_DbmsName).c_str(),
                 dt::GetProperty(t, dt::PROP_DriverName).c_str());
    if (dt::SetProperty(t, dt::PROP_SQL, statement) != 0) return Fail("statement");
    long columns = std::atol(dt::GetProperty(t, dt::PROP_ResultColumns).c_str());
    if (columns > kColumns) columns = kColumns;
    long rows = 0;
    while (columns > 0 && dt::Next(t) == 0) {
        for (long c = 0; c < columns; ++c) {
            std::string v = dt::IsNull(t, "SQL:C" + std::to_string(c + 1)) ? "NULL" : t.col[c].Str();
            std::printf("%s%s", c ? "\t" : "", v.c_str());
        }
        std::printf("\n");
        ++rows;
    }
    if (columns > 0 && dt::ErrorCode() != 33) return Fail("fetch");
    std::fprintf(stderr, "%ld row%s\n", rows, rows == 1 ? "" : "s");
    dt::Close(t);
    return 0;
}
