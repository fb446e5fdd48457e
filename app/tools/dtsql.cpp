// dtsql: "can this machine reach the database?" Reads the settings as the program does
// (FindSettings: ./drivetrek.ini here, else the user's settings file), builds the same
// connection text, sends one statement through the SQL pass-through path and prints the
// rows (columns separated by tabs), or the runtime error code and text and, for 90,
// FILEERRORCODE and FILEERROR.
//   usage: dtsql [--master] [--] STATEMENT...
//   --master  use the connection of the server's master database (GLO:SQLMASTEROWNER)
// Exit status: 0 when the statement ran, 1 when it failed, 2 for a usage error. The
// embedded database is never created: a missing one is an error.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/version.h"
#include "data/sql_connection.h"
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
    const dt::ErrCode code = dt::ErrorCode();
    std::fprintf(stderr, "%s: error %d: %s\n", what, static_cast<int>(code), dt::Error().c_str());
    if (code == dt::ErrFileSystem) {
        std::fprintf(stderr, "FILEERRORCODE: %s\n", dt::FileErrorCode().c_str());
        std::fprintf(stderr, "FILEERROR: %s\n", dt::FileError().c_str());
    }
    return 1;
}

// True when the first driver tried is the embedded database's.
bool EmbeddedFirst() {
    const std::vector<std::string> names = dt::DriverNameList();
    return !names.empty() && dt::KindOfDriverName(names.front()) == dt::ServerKind::Embedded;
}

constexpr const char* kShortUsage =
    "usage: dtsql [--master] [--] STATEMENT...\nTry 'dtsql --help' for more information.\n";

// Parses the command line; returns -1 to go on, or the exit status.
int ParseArgs(int argc, char** argv, bool& master, std::string& statement) {
    CLI::App app{
        "Sends one SQL statement to DriveTrek's database with the program's settings and prints\n"
        "the rows (columns separated by tabs) or the error.",
        "dtsql"};
    app.footer(
        "Exit status: 0 when the statement ran, 1 when it failed (the error on standard error),\n"
        "2 for a bad command line. The embedded database is never created by dtsql.\n"
        "Settings: ./drivetrek.ini when the current directory holds one, else\n"
        "$XDG_CONFIG_HOME/drivetrek/drivetrek.ini (see man 1 dtsql).");
    app.set_version_flag("--version", dt::VersionLine("dtsql"), "print the version and exit");
    std::vector<std::string> words;
    app.add_flag("--master", master, "use the connection of the server's master database");
    app.add_option("statement", words, "the statement; several words are joined by blanks")
        ->type_name("STATEMENT")
        ->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::printf("%s\n", dt::VersionLine("dtsql").c_str());
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "dtsql: %s\n%s", e.what(), kShortUsage);
        return 2;
    }
    for (std::size_t i = 0; i < words.size(); ++i) statement += (i ? " " : "") + words[i];
    if (statement.find_first_not_of(' ') == std::string::npos) {
        std::fprintf(stderr, "dtsql: the statement is empty\n%s", kShortUsage);
        return 2;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    bool master = false;
    std::string statement;
    if (int rc = ParseArgs(argc, argv, master, statement); rc >= 0) return rc;
    if (std::string error; !dt::FindSettings(dt::SettingsUse::Read, error)) {
        std::fprintf(stderr, "dtsql: %s\n", error.c_str());
        return 1;
    }
    dt::ReadComputerName();
    if (dt::GLO::SQLDATABASE.IsBlank()) dt::GLO::SQLDATABASE = "DRIVETREK";
    // The master database is the one every server of the first driver's kind has
    // (PostgreSQL has no "master").
    const std::vector<std::string> names = dt::DriverNameList();
    dt::BuildOwners(
        dt::DialectOf(names.empty() ? dt::ServerKind::SqlServer : dt::KindOfDriverName(names.front()))
            .MasterDatabase());
    // The embedded database is a file that connecting would create: a diagnostic tool must
    // not leave one behind (other drivers ignore the attribute).
    dt::GLO::SQLOWNER = dt::GLO::SQLOWNER.Str() + ";NoCreat=1";
    dt::GLO::SQLMASTEROWNER = dt::GLO::SQLMASTEROWNER.Str() + ";NoCreat=1";

    PassTable t;
    if (master)
        t.file.SetOwnerVariable(dt::GLO::SQLMASTEROWNER);
    else
        t.file.SetOwnerVariable(dt::GLO::SQLOWNER);
    if (dt::Open(t) != 0) {
        const int status = Fail("connect");
        if (EmbeddedFirst()) {
            if (const std::string problem = dt::EmbeddedDirectoryProblem(); !problem.empty())
                std::fprintf(stderr, "%s\n", problem.c_str());
        }
        return status;
    }
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
    if (columns > 0 && dt::ErrorCode() != dt::ErrRecordNotAvailable) return Fail("fetch");
    std::fprintf(stderr, "%ld row%s\n", rows, rows == 1 ? "" : "s");
    dt::CloseAfterUse(t);
    return 0;
}
