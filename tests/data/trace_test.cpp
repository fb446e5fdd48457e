// Texts of the trace log and the file-operation profile.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "data/sql_driver.h"
#include "data/statements.h"
#include "data/trace.h"
#include "tests/data/test_tables.h"

namespace dt::test {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(Trace, ElapsedTimeFormat) {
    EXPECT_EQ(FormatElapsed(0), "0.00 secs");
    EXPECT_EQ(FormatElapsed(1234), "12.34 secs");
    EXPECT_EQ(FormatElapsed(5), "0.05 secs");
}

TEST(Trace, DeclarationDumpHidesTheOwner) {
    FilesTable f("FILES_T", "/ZEROISNULL=TRUE", FILE_CREATE | FILE_THREAD);
    f.file.SetOwner("srv,db,sa,secret");
    std::string d = DumpDeclaration(f.file);
    EXPECT_EQ(d.substr(0, d.find("\r\n")),
              "  FILES FILE,DRIVER('MSSQL','/ZEROISNULL=TRUE'),OWNER(******),NAME('FILES_T'),CREATE,THREAD");
    EXPECT_EQ(d.find("secret"), std::string::npos);
    EXPECT_NE(d.find("  FILES:KEYNAME_FILES KEY(+FILES:NAME),DUP,OPT,NOCASE\r\n"), std::string::npos);
    EXPECT_NE(d.find("  FILES:KEYSYSFILES KEY(+FILES:SYSFILES),OPT,NOCASE,PRIMARY\r\n"), std::string::npos);
    EXPECT_NE(d.find("    FILES:NAME CSTRING(257)\r\n"), std::string::npos);
    EXPECT_NE(d.find("    FILES:DATE_GROUP GROUP, OVER(FILES:DATE)\r\n"), std::string::npos);
    EXPECT_NE(d.find("      FILES:DATE_TIME TIME\r\n    END\r\n    FILES:SIZE ULONG\r\n"), std::string::npos);
    EXPECT_EQ(d.substr(d.size() - 9), "  END\r\n\r\n");

    FilesTable plain("FILES", "", 0);
    std::string p = DumpDeclaration(plain.file);
    EXPECT_EQ(p.substr(0, p.find("\r\n")), "  FILES FILE,DRIVER('MSSQL'),NAME('FILES')");
}

TEST(Trace, RecordDumpFormatsEachType) {
    FilesTable f("FILES");
    f.NAME = "a.txt";
    f.TYPE = 32;
    f.DATE_DATE = DATE{5, 3, 2024};
    f.DATE_TIME = TIME{7, 6, 5, 4};
    f.SIZE = 12;
    std::vector<std::int32_t> nulls(f.file.fields.size(), 0);
    nulls[3] = -1;
    std::string r = DumpRecord(f.file, nulls);
    EXPECT_NE(r.find("  FILES:NAME        : 'a.txt'\r\n"), std::string::npos);
    EXPECT_NE(r.find("  FILES:TYPE        : 20H\r\n"), std::string::npos);
    EXPECT_NE(r.find("  FILES:DATE_DATE   : 05 Mar 2024 (132645637)\r\n"), std::string::npos) << r;
    EXPECT_NE(r.find("  FILES:DATE_TIME   : 04:05:06.07 (67438087)\r\n"), std::string::npos) << r;
    EXPECT_NE(r.find("  FILES:EXTENSION   : NULL\r\n"), std::string::npos);
    f.DATE_DATE = DATE{40, 13, 2024};
    EXPECT_NE(DumpRecord(f.file, nulls).find("Invalid date ("), std::string::npos);
}

TEST(Trace, ProfileLinePadsAndReportsErrors) {
    FilesTable f("FILES");
    std::string ok = ProfileLine(OP_NEXT, f.file, nullptr, 0, "", 3);
    std::string head = "NEXT(FILES " + std::to_string(ThreadNumber()) + ") ";
    EXPECT_EQ(ok, head + std::string(18 - head.size(), ' ') + "Time Taken: 0.03 secs\r\n");
    std::string err = ProfileLine(OP_GETfilekey, f.file, &f.KEYSYSFILES, 35, "", 0);
    EXPECT_NE(err.find("GETfilekey(FILES,FILES:KEYSYSFILES[2] "), std::string::npos);
    EXPECT_NE(err.find("Error: Record Not Found Time Taken: 0.00 secs"), std::string::npos);
    std::string f90 = ProfileLine(OP_OPEN, f.file, nullptr, 90, "no server", 0);
    EXPECT_NE(f90.find("File Error: no server Time Taken:"), std::string::npos);
    std::string shortline = ProfileLine(OP_ADD, f.file, nullptr, 0, "", 0);
    EXPECT_GE(shortline.find("Time Taken"), 18u);  // "%-18s"
}

TEST(Trace, SettingsAndFileLogs) {
    TempWorkDir dir;
    std::string profile = (dir.path() / "win.ini").string();
    ::setenv("DRIVETREK_PROFILE", profile.c_str(), 1);
    {
        std::ofstream out(profile);
        out << "[QXMSSQL]\nTraceFile=\nProfile=1\n";
    }
    TraceSettings s = ReadTraceSettings();
    EXPECT_EQ(s.trace_file, "MSSQL.LOG");  // an empty value means the default
    EXPECT_EQ(s.profile, 1);
    EXPECT_EQ(s.trace, 0);
    {
        std::ofstream out(profile);
        out << "";
    }

    // A second LOGFILE closes the first log with "File Closed"; LOGFILE alone stops it.
    {
        FilesTable f("FILES");
        Send(f, "/LOGFILE=first.log[hello]");
        Send(f, "/LOGFILE=second.log");
        Send(f, "/LOGFILE[bye]");
    }
    std::string first = ReadAll("first.log"), second = ReadAll("second.log");
    EXPECT_EQ(first, "Microsoft SQL 5.506.04.043 Log started: hello\r\nFile Closed\r\n");
    EXPECT_EQ(second, "Microsoft SQL 5.506.04.043 Log started: \r\nLog stopped: bye\r\n");
    ::unsetenv("DRIVETREK_PROFILE");
}

}  // namespace
}  // namespace dt::test
