#include "tests/support/backend.h"

#include <mutex>

namespace dt::test {
namespace {

// Removes the program's shared databases when all its tests have run.
class ProgramDatabases : public ::testing::Environment {
  public:
    void TearDown() override {
        std::lock_guard lock(mutex);
        for (const auto& [prefix, name] : made) Backend::DropDatabase(name);
        made.clear();
    }
    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> made;
};

ProgramDatabases& Shared() {
    // Owned by GoogleTest once registered.
    static ProgramDatabases* env =
        static_cast<ProgramDatabases*>(::testing::AddGlobalTestEnvironment(new ProgramDatabases));
    return *env;
}

}  // namespace

std::string Backend::Unavailable() {
    if (IsPostgres() && !PgServer::FromEnvironment()) return PgServer::kMissing;
    return "";
}

std::string Backend::ProfileText() {
    return IsPostgres() ? "[Software\\Kestrelworks\\MSSQL]\nDLL=PostgreSQL Unicode\n" : "";
}

std::string Backend::Server() {
    return IsPostgres() ? Pg().Server() : "Server";
}

std::string Backend::Login() {
    return IsPostgres() ? Pg().Login() : ",sa,";
}

std::string Backend::MasterDatabase() {
    return IsPostgres() ? Pg().database : "master";
}

std::string Backend::Owner(const std::string& database, const std::string& wsid) {
    return Server() + "," + database + Login() + ";APP=DRIVETREK;WSID=" + wsid;
}

std::string Backend::SettingsLines(const std::string& database) {
    if (!IsPostgres()) return "database=" + database + "\n";
    const PgServer pg = Pg();
    return "server=" + pg.Server() + "\ndatabase=" + database + "\nuser=" + pg.user +
           "\npass=" + pg.password + "\n";
}

std::string Backend::CreateDatabase(const std::string& prefix, std::string* error) {
    const std::string name = UniqueDatabaseName(prefix);
    if (IsPostgres() && !Pg().CreateDatabase(name, error)) return "";
    return name;
}

void Backend::DropDatabase(const std::string& name) {
    if (IsPostgres() && !name.empty()) Pg().DropDatabase(name);
}

const std::string& Backend::ProgramDatabase(const std::string& prefix) {
    ProgramDatabases& env = Shared();
    std::lock_guard lock(env.mutex);
    for (const auto& [p, name] : env.made)
        if (p == prefix) return name;
    std::string error;
    env.made.emplace_back(prefix, CreateDatabase(prefix, &error));
    if (env.made.back().second.empty()) ADD_FAILURE() << "cannot make the test database: " << error;
    return env.made.back().second;
}

void BackendTest::SetUp() {
    const std::string why = Backend::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    ASSERT_FALSE(profile_dir_.path().empty()) << "no temporary directory";
    WriteProfile();
    profile_env_.emplace("DRIVETREK_PROFILE", ProfilePath().c_str());
}

void BackendTest::TearDown() {
    for (const std::string& name : databases_) Backend::DropDatabase(name);
    databases_.clear();
    profile_env_.reset();
}

std::string BackendTest::MakeDatabase(const std::string& prefix) {
    std::string error;
    const std::string name = Backend::CreateDatabase(prefix, &error);
    if (name.empty()) {
        ADD_FAILURE() << "cannot make the test database: " << error;
    } else {
        databases_.push_back(name);
    }
    return name;
}

void BackendTest::WriteProfile(const std::string& extra) const {
    WriteFile(ProfilePath(), Backend::ProfileText() + extra);
}

}  // namespace dt::test
