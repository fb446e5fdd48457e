// The driver names a connection tries against the driver manager's own registrations (a
// private odbcinst.ini): a registered name is used in its place in the order, also when
// several threads connect at once. "SQL Server" is registered here with the embedded
// database's driver library, so that its connection succeeds without a server and shows
// which name was used.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "data/sql_connection.h"
#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace dt {
namespace {

// The body of section `name` of the registrations this process reads (the lines after its
// header), "" when there is none.
std::string RegistrationBody(const std::string& name) {
    const char* dir = std::getenv("ODBCSYSINI");
    const char* file = std::getenv("ODBCINSTINI");
    const std::string text = test::ReadFile(std::string(dir != nullptr && *dir != '\0' ? dir : "/etc") + "/" +
                                            (file != nullptr && *file != '\0' ? file : "odbcinst.ini"));
    const std::string header = "[" + name + "]\n";
    const std::size_t at = text.find(header);
    if (at == std::string::npos) return "";
    const std::size_t begin = at + header.size();
    const std::size_t end = text.find("\n[", begin);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end + 1 - begin);
}

// The process's registrations, in a directory of their own for the whole run: the driver
// manager takes the directory from the environment once and keeps it.
struct Registrations {
    const std::string sqlite = RegistrationBody("SQLite3");
    test::TempDir dir{"dt-odbcinst-"};
    test::ScopedEnv sysini{"ODBCSYSINI", dir.path().c_str()};
    test::ScopedEnv instini{"ODBCINSTINI", "odbcinst.ini"};
};
Registrations& TheRegistrations() {
    static Registrations r;
    return r;
}

class ConnectionDriversTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (registrations_.sqlite.empty())
            GTEST_SKIP() << "the embedded database's driver is not registered here";
        test::WriteFile("win.ini", "");
        env_ = Environment::Get(nullptr, nullptr);
        ASSERT_NE(env_, nullptr);
    }

    // Registrations of our own: many unused drivers (a long list to read), then `extra`
    // and the embedded database's driver.
    void Register(const std::string& extra) {
        std::string ini;
        for (int i = 0; i < 40; ++i)
            ini += "[Unused driver " + std::to_string(i) + "]\nDriver=/nonexistent/libunused" +
                   std::to_string(i) + ".so\n";
        test::WriteFile(registrations_.dir.path() + "/odbcinst.ini",
                        ini + extra + "[SQLite3]\n" + registrations_.sqlite);
    }

    // The driver name a new connection for the embedded file "probe" used, or the failure.
    std::string Connect() {
        Diag diag;
        const auto conn = env_->ConnectDedicated("srv,probe,sa,", false, "", diag);
        return conn ? conn->driver_name : "failed: " + diag.state + " " + diag.message;
    }

    Registrations& registrations_ = TheRegistrations();
    test::TempWorkDir dir_;
    test::ScopedEnv profile_{"DRIVETREK_PROFILE", (dir_.path() / "win.ini").c_str()};
    std::shared_ptr<Environment> env_;
};

TEST_F(ConnectionDriversTest, ARegisteredSqlServerIsUsedAndAnUnregisteredOneIsPassedOver) {
    Register("[SQL Server]\n" + registrations_.sqlite);
    EXPECT_EQ(Connect(), "SQL Server");
    Register("");
    EXPECT_EQ(Connect(), "SQLite3");
    // Registered between two connections of the same process: found by the next one.
    Register("[sql server]\n" + registrations_.sqlite);
    EXPECT_EQ(Connect(), "SQL Server");
}

// The driver manager keeps its place in the list of drivers in the environment, which all
// connections share: two threads listing at once would each see part of the list, and a
// registered name missing from one thread's part would be passed over.
TEST_F(ConnectionDriversTest, ThreadsConnectingAtOnceEachFindTheRegisteredName) {
    Register("[SQL Server]\n" + registrations_.sqlite);
    constexpr int kRounds = 25;
    std::vector<std::string> used[4];
    std::vector<std::thread> threads;
    for (std::vector<std::string>& names : used)
        threads.emplace_back([this, &names] {
            for (int i = 0; i < kRounds; ++i) names.push_back(Connect());
        });
    for (std::thread& t : threads) t.join();
    for (const std::vector<std::string>& names : used) {
        ASSERT_EQ(names.size(), static_cast<std::size_t>(kRounds));
        for (const std::string& name : names) EXPECT_EQ(name, "SQL Server");
    }
}

}  // namespace
}  // namespace dt
