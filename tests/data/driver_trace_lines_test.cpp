// The ODBC call trace of the SQL driver against a real server: a line for every call the
// driver makes, with the handle it acts on, in the order the calls are made.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "data/statements.h"
#include "tests/data/driver_fixture.h"

namespace dt::test {
namespace {

// The offset of the first line matching `pattern` at or after `from`; npos when none.
std::size_t FindLine(const std::string& text, const std::string& pattern, std::size_t from = 0,
                     std::smatch* m = nullptr) {
    const std::regex re(pattern);
    std::smatch local;
    std::smatch& match = m != nullptr ? *m : local;
    auto begin = text.cbegin() + static_cast<std::ptrdiff_t>(std::min(from, text.size()));
    if (!std::regex_search(begin, text.cend(), match, re)) return std::string::npos;
    return static_cast<std::size_t>(match[0].first - text.cbegin());
}

constexpr const char* kTime = " Time Taken:[0-9]+\\.[0-9]{2} secs\r\n";

TEST_F(DriverTest, TraceWritesALineForEveryCallWithTheHandleItActsOn) {
    std::filesystem::path log = dir_.path() / "calls.log";
    owner_ += ",";  // a new owner text: a new connection, traced from its start
    auto f = Files("/LOGFILE=" + log.string());
    ASSERT_EQ(Create(*f), 0) << FileError();
    ASSERT_EQ(Open(*f), 0) << FileError();
    Fill(*f, 1, "one", 10);
    ASSERT_EQ(Add(*f), 0) << FileError();
    f->SYSFILES = 1;
    ASSERT_EQ(Get(f->KEYSYSFILES), 0) << FileError();
    f->SIZE = 11;
    ASSERT_EQ(Put(*f), 0) << FileError();
    EXPECT_EQ(Records(*f), 1);
    EXPECT_EQ(SetProperty(*f, PROP_SQL, "NORESULTCALL dtt_no_such_procedure"), 90);
    (void)Close(*f);
    f.reset();
    const std::string text = ReadFile(log.string());
    const std::string h = "([0-9a-f]+)";

    // The server's identifier case is asked for when the connection is made.
    EXPECT_NE(FindLine(text, "Getting Identifier case for Connection [0-9a-f]+" + std::string(kTime)),
              std::string::npos)
        << text;

    // An allocation names the new statement and the connection it is on.
    std::smatch m;
    ASSERT_NE(FindLine(text, "Allocating Statement " + h + " on Connection " + h + kTime, 0, &m),
              std::string::npos)
        << text;
    EXPECT_NE(m[1].str(), "0");

    // The catalog's rows are fetched and read column by column, each call on its line.
    std::size_t at = FindLine(text, "Getting columns for " + table_ + " using Statement " + h + kTime, 0, &m);
    ASSERT_NE(at, std::string::npos) << text;
    const std::string catalog = m[1].str();
    at = FindLine(text, "Fetching Row from Statement " + catalog + kTime, at);
    EXPECT_NE(at, std::string::npos) << text;
    at = FindLine(text, "Getting Data for column 4 from Statement " + catalog + kTime, at);
    EXPECT_NE(at, std::string::npos) << text;
    EXPECT_NE(FindLine(text, "Freeing Statement " + catalog + kTime, at), std::string::npos) << text;

    // A read by key: the statement is cleared of old columns and parameters, told how many
    // rows to return, then prepared.
    at = FindLine(text, "Unbinding Columns Statement " + h + kTime, 0, &m);
    ASSERT_NE(at, std::string::npos) << text;
    const std::string read = m[1].str();
    const std::size_t reset = FindLine(text, "Resetting Parameters Statement " + read + kTime, at);
    const std::size_t option = FindLine(text, "Setting Statement Option for Statement " + read + kTime, at);
    const std::size_t prepare = FindLine(text, "Preparing Statement " + read + " SELECT ", at);
    ASSERT_NE(reset, std::string::npos) << text;
    EXPECT_LT(reset, option);
    EXPECT_LT(option, prepare);
    EXPECT_NE(prepare, std::string::npos) << text;

    // The UPDATE of the PUT, then the rows it changed on the same statement, which is freed.
    at = FindLine(text, "Executing Statement " + h + " UPDATE [^\r]*" + kTime, 0, &m);
    ASSERT_NE(at, std::string::npos) << text;
    const std::string update = m[1].str();
    const std::size_t rows =
        FindLine(text, "Number of rows effected by Statement " + update + " was 1" + kTime, at);
    EXPECT_EQ(rows, at + static_cast<std::size_t>(m[0].length())) << "the very next line\n" << text;
    EXPECT_NE(FindLine(text, "Freeing Statement " + update + kTime, at), std::string::npos) << text;

    // RECORDS reads its count through a fetch and a read of column 1.
    at = FindLine(text, "Executing Statement " + h + " SELECT COUNT\\(\\*\\) FROM [^\r]*" + kTime, 0, &m);
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_NE(FindLine(text, "Getting Data for column 1 from Statement " + m[1].str() + kTime, at),
              std::string::npos)
        << text;

    // A stored-procedure call shows its return code, then the error.
    at = FindLine(text,
                  "Executing Statement [0-9a-f]+ \\{CALL dtt_no_such_procedure\\(\\)\\} Return Code: -1" +
                      std::string(kTime) + "\r\nError Occurred: ");
    EXPECT_NE(at, std::string::npos) << text;
}

}  // namespace
}  // namespace dt::test
