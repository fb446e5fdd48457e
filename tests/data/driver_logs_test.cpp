// The quiet copy of the driver registrations: every log switch set to 0 whatever its
// spelling, every other line (and the drivers' library names) kept byte for byte.
#include <gtest/gtest.h>

#include "data/driver_logs.h"

namespace dt {
namespace {

TEST(DriverLogs, EveryLogSwitchIsTurnedOffAndNothingElseChanges) {
    const std::string debian =
        "[PostgreSQL Unicode]\n"
        "Description=PostgreSQL ODBC driver (Unicode version)\n"
        "Driver=psqlodbcw.so\n"
        "Debug=0\n"
        "CommLog=1\n"
        "\n"
        "[Other]\n"
        "  commlog = 2\r\n"
        "DEBUG=1\n"
        "Driver=/opt/x/libdebug-commlog.so\n"
        "; CommLog=1 in a comment stays a comment\n"
        "CommLogExtra=1\n"
        "CommLog=1";
    EXPECT_EQ(WithoutDriverLogs(debian),
              "[PostgreSQL Unicode]\n"
              "Description=PostgreSQL ODBC driver (Unicode version)\n"
              "Driver=psqlodbcw.so\n"
              "Debug=0\n"
              "CommLog=0\n"
              "\n"
              "[Other]\n"
              "commlog=0\n"
              "DEBUG=0\n"
              "Driver=/opt/x/libdebug-commlog.so\n"
              "; CommLog=1 in a comment stays a comment\n"
              "CommLogExtra=1\n"
              "CommLog=0");
    const std::string quiet = "[SQLite3]\nDriver=libsqlite3odbc.so\n";
    EXPECT_EQ(WithoutDriverLogs(quiet), quiet);
    EXPECT_EQ(WithoutDriverLogs(""), "");
}

}  // namespace
}  // namespace dt
