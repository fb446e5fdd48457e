#include "tests/support/postgres.h"

#include <unistd.h>

#include <atomic>

#include "tests/support/env.h"
#include "tests/support/process.h"

namespace dt::test {

std::optional<PgServer> PgServer::FromEnvironment() {
    PgServer s{Env("DRIVETREK_TEST_PG_HOST"), Env("DRIVETREK_TEST_PG_PORT"), Env("DRIVETREK_TEST_PG_USER"),
               Env("DRIVETREK_TEST_PG_PASSWORD"), Env("DRIVETREK_TEST_PG_DATABASE")};
    if (s.host.empty() || s.port.empty() || s.user.empty()) return std::nullopt;
    if (s.database.empty()) s.database = "postgres";
    return s;
}

bool PgServer::Execute(const std::string& sql, std::string* error, const std::string& db) const {
    ProcessOptions o;
    o.env = {{"PGPASSWORD", password}, {"PGCONNECT_TIMEOUT", "10"}};
    o.limit = std::chrono::seconds(60);
    const ProcessResult r = RunProcess({"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", host, "-p", port,
                                        "-U", user, "-d", db.empty() ? database : db, "-c", sql},
                                       o);
    if (!r.Ok() && error != nullptr)
        *error =
            "psql status " + std::to_string(r.status) + (r.timed_out ? " (time limit)" : "") + ": " + r.err;
    return r.Ok();
}

namespace {

// A name as a quoted identifier: any name a test gives (quotes and case included) is the
// database's exact name.
std::string Quoted(const std::string& name) {
    std::string q = "\"";
    for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

}  // namespace

bool PgServer::CreateDatabase(const std::string& name, std::string* error) const {
    return Execute("CREATE DATABASE " + Quoted(name), error);
}

bool PgServer::DropDatabase(const std::string& name, std::string* error) const {
    return Execute("DROP DATABASE IF EXISTS " + Quoted(name) + " WITH (FORCE)", error);
}

std::string UniqueDatabaseName(const std::string& prefix) {
    static std::atomic<int> counter{0};
    return prefix + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

}  // namespace dt::test
