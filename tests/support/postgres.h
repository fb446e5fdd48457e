// The PostgreSQL server of a test run, as the DRIVETREK_TEST_PG_* variables name it (see
// scripts/pg.sh), and databases of a test's own made and removed on it with psql.
#pragma once

#include <optional>
#include <string>

namespace dt::test {

struct PgServer {
    std::string host, port, user, password;
    std::string database;  // the one every server has (DRIVETREK_TEST_PG_DATABASE, else postgres)

    // The server when HOST, PORT and USER are set.
    static std::optional<PgServer> FromEnvironment();
    static constexpr const char* kMissing = "DRIVETREK_TEST_PG_HOST/PORT/USER not set";

    std::string Server() const { return host + ":" + port; }
    // ",user,password": the login part of an owner string.
    std::string Login() const { return "," + user + "," + password; }
    // The owner string the data layer takes: "host:port,database,user,password;APP=...;WSID=...".
    std::string Owner(const std::string& db, const std::string& wsid = "TEST") const {
        return Server() + "," + db + Login() + ";APP=DRIVETREK;WSID=" + wsid;
    }

    // Runs one statement with psql on `db` ("" : database); false with psql's message in
    // `error` when it fails.
    bool Execute(const std::string& sql, std::string* error = nullptr, const std::string& db = "") const;
    // The name is taken exactly (a quoted identifier).
    bool CreateDatabase(const std::string& name, std::string* error = nullptr) const;
    // Removes the database even while connections to it are left open.
    bool DropDatabase(const std::string& name, std::string* error = nullptr) const;
};

// A database name no other test program of this run uses: prefix, process id, a counter.
std::string UniqueDatabaseName(const std::string& prefix);

}  // namespace dt::test
