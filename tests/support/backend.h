// The database server of a test program. Tests that run on both servers are built twice
// from the same source (dt_add_backend_test in tests/CMakeLists.txt): linked with
// dt_test_backend_sqlite they use the embedded database, linked with dt_test_backend_pg the
// PostgreSQL server the DRIVETREK_TEST_PG_* variables name (scripts/pg.sh); without those
// variables every PostgreSQL test is skipped with the reason. Test bodies ask Backend when
// the servers differ in what they should see.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/env.h"
#include "tests/support/postgres.h"
#include "tests/support/temp_dir.h"

namespace dt::test {

class Backend {
  public:
    static bool IsPostgres();  // defined by the variant library the test program links
    static const char* Name() { return IsPostgres() ? "PostgreSQL" : "SQLite"; }
    // Why the server cannot be used ("" when it can).
    static std::string Unavailable();
    // The PostgreSQL server (only when IsPostgres() and Unavailable() is empty).
    static PgServer Pg() { return PgServer::FromEnvironment().value_or(PgServer{}); }

    // The system profile's text that makes the driver use this server: psqlODBC named for
    // PostgreSQL, nothing for the embedded database (the driver's fallback).
    static std::string ProfileText();
    // The parts of an owner string: "Server" or "host:port", ",sa," or ",user,password".
    static std::string Server();
    static std::string Login();
    // The database every server has: master (embedded) or the PostgreSQL maintenance database.
    static std::string MasterDatabase();
    // "server,database,user,password;APP=DRIVETREK;WSID=wsid".
    static std::string Owner(const std::string& database, const std::string& wsid = "TEST");
    // The [database] lines of a settings file for `database` on this server.
    static std::string SettingsLines(const std::string& database);

    // A database of the test's own, named prefix + process id + counter. On PostgreSQL it is
    // created now; the embedded driver makes its file on first use. Empty (and the reason in
    // `error`) when it cannot be made.
    static std::string CreateDatabase(const std::string& prefix, std::string* error = nullptr);
    // Removes it (PostgreSQL; the embedded database's file goes with the test's directory).
    static void DropDatabase(const std::string& name);
    // One database for the whole test program, created on first use and removed when the
    // program's tests have run.
    static const std::string& ProgramDatabase(const std::string& prefix);
};

// A fixture owning the server set-up of one test: skipped with the reason when the server
// is not available; a system profile for the server in a directory of the test's own
// (DRIVETREK_PROFILE points to it while the test runs); databases made through
// MakeDatabase are removed at the end. Fixtures that override SetUp call this one first and
// return when IsSkipped().
class BackendTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    static bool IsPostgres() { return Backend::IsPostgres(); }
    // A database of this test's own, removed at tear-down (a test failure when it cannot be made).
    std::string MakeDatabase(const std::string& prefix);
    const TempDir& ProfileDir() const { return profile_dir_; }
    std::string ProfilePath() const { return profile_dir_ / "win.ini"; }
    // Rewrites the system profile: the server's text and `extra`.
    void WriteProfile(const std::string& extra = "") const;

  private:
    TempDir profile_dir_{"dt-backend-"};
    std::optional<ScopedEnv> profile_env_;
    std::vector<std::string> databases_;
};

}  // namespace dt::test
