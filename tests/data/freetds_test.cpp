// SQL Server through FreeTDS, registered as "SQL Server" in a private odbcinst.ini. There
// is no SQL Server here: these tests show that an unreachable or silent server fails
// fast with a clear error and never falls back to the embedded database.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "data/statements.h"
#include "runtime/errors.h"
#include "tests/data/test_tables.h"

namespace dt::test {
namespace {

const char* kFreeTds = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";

class FreeTdsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(kFreeTds)) GTEST_SKIP() << "FreeTDS is not installed";
        std::ofstream(dir_.path() / "odbcinst.ini") << "[SQL Server]\nDriver=" << kFreeTds << "\n";
        std::ofstream(dir_.path() / "win.ini") << "";
        ::setenv("ODBCSYSINI", dir_.path().c_str(), 1);
        ::setenv("DRIVETREK_PROFILE", (dir_.path() / "win.ini").c_str(), 1);
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        socklen_t len = sizeof addr;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    void TearDown() override {
        if (listener_ >= 0) ::close(listener_);
        ::unsetenv("ODBCSYSINI");
    }
    // Opens FILES on 127.0.0.1 at our port; returns the seconds it took.
    long OpenAndTime(FilesTable& f) {
        f.file.SetOwner("127.0.0.1,files,sa,secret;APP=DRIVETREK,Port=" + std::to_string(port_));
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Open(f), 90);
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
                .count());
    }
    TempWorkDir dir_;
    int listener_ = -1;
    int port_ = 0;
};

TEST_F(FreeTdsTest, RefusedConnectionIsAClearErrorNotTheEmbeddedDatabase) {
    ::close(listener_);  // nothing listens on the port any more
    listener_ = -1;
    FilesTable f("FILES");
    EXPECT_LE(OpenAndTime(f), 20);
    EXPECT_EQ(FileErrorCode().size(), 5u) << FileErrorCode();
    EXPECT_NE(FileError().find("connect"), std::string::npos) << FileError();
    EXPECT_FALSE(std::filesystem::exists("files.db"));
}

TEST_F(FreeTdsTest, SilentServerEndsWithinTheLoginTimeOut) {
    ASSERT_EQ(::listen(listener_, 4), 0);  // accepts and never answers
    FilesTable f("FILES");
    EXPECT_LE(OpenAndTime(f), 20);
    EXPECT_FALSE(FileError().empty());
    EXPECT_FALSE(std::filesystem::exists("files.db"));
}

}  // namespace
}  // namespace dt::test
