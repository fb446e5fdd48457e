// dtfind's output formats read back by real parsers: names with tabs, line breaks,
// quotes, commas, control bytes, bytes that are not UTF-8 and 255-byte names are scanned
// into FILES, searched with every --format, and the output parsed by Python's csv and
// json modules (tests/app/check_rows.py) must give back the files' exact bytes. Built for
// SQLite and for PostgreSQL (tests/support/backend.h; its UTF-8 database cannot hold names
// that are not UTF-8: those are left out there).
#include "app/row_format.h"
#include "tests/app/qfiles_fixture.h"

namespace dt {
namespace {

using qtest::InsertSink;
using qtest::RecordingErrors;
using qtest::Result;
using qtest::RunDtfind;
using qtest::SearchSite;

struct OddFile {
    std::string dir;  // under odd/, ending with "/" (or empty)
    std::string name;
};

std::vector<OddFile> OddFiles() {
    std::vector<OddFile> files = {
        {"", "zq\ttab.txt"},
        {"", "zq\nline\nbreaks.txt"},
        {"", "zq\rcarriage.txt"},
        {"", "zq \"quoted\", with comma.csv"},
        {"", "zq back\\slash.txt"},
        {"", "zq \x1b[31mred.txt"},
        {"",
         "zq \x7f"
         "del.txt"},
        {"", "zq next \xc2\x85 line.txt"},
        {"", " zq leading blank.txt"},
        {"", "zq" + std::string(249, 'a') + ".txt"},  // 255 bytes
        {"", "zq" +
                 [] {
                     std::string s;
                     for (int i = 0; i < 124; ++i) s += "\xc3\xa9";  // "é", 248 bytes
                     return s;
                 }() +
                 "x.txt"},  // 255 bytes
        {"a, \"dir\"\twith\nodd/", "zq in odd dir.txt"},
    };
    if (!test::Backend::IsPostgres()) {
        files.push_back({"", "zq latin1 \xe9\x9b csi.txt"});
        files.push_back({"", "zq cut \xe2\x82.txt"});
        files.push_back(
            {"bad\xff"
             "dir/",
             "zq in bad dir.txt"});
    }
    return files;
}

std::string B64(std::string_view s) {
    return Base64(s);
}

class DtfindFormats : public test::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        const std::string database = IsPostgres() ? MakeDatabase("dtformats") : "drivetrek";
        ASSERT_FALSE(database.empty());
        site_.emplace(database);
        ASSERT_TRUE(site_->Seed());
        odd_ = *site_ / "odd/";
        for (const OddFile& f : OddFiles()) {
            std::filesystem::create_directories(odd_ + f.dir);
            test::WriteFile(odd_ + f.dir + f.name, std::string(f.name.size() % 7, 'z'));
        }
        RecordingErrors errors;
        InitTables(errors);
        Relate::FILES->Open();
        InsertSink sink;
        WalkStats stats;
        ScanDirectory(odd_, site_->this_id, sink, stats);
        Relate::FILES->Close();
        KillTables();
        ASSERT_EQ(stats.files_stored, OddFiles().size()) << errors.Text();
    }
    void TearDown() override {
        site_.reset();
        BackendTest::TearDown();  // the test database goes
    }

    // The files as they lie on disk, as check_rows.py reads them.
    std::string Expected() const {
        std::string out;
        for (const OddFile& f : OddFiles()) {
            const std::string path = odd_ + f.dir + f.name;
            struct stat st {};
            EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
            const std::time_t t = st.st_mtime;
            std::tm tm{};
            ::localtime_r(&t, &tm);
            char date[16], time[16];
            std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
            std::strftime(time, sizeof time, "%H:%M:%S", &tm);
            const std::size_t dot = f.name.rfind('.');
            const std::string ext = dot == std::string::npos ? "" : f.name.substr(dot + 1);
            out += "{\"computer\": \"THISBOX\", \"dir_b64\": \"" + B64(odd_ + f.dir) +
                   "\", \"name_b64\": \"" + B64(f.name) + "\", \"ext_b64\": \"" +
                   B64(ext.size() <= 10 ? ext : "") + "\", \"size\": " + std::to_string(st.st_size) +
                   ", \"date\": \"" + date + "\", \"time\": \"" + time + "\"}\n";
        }
        return out;
    }

    std::optional<SearchSite> site_;
    std::string odd_;
};

TEST_F(DtfindFormats, EveryFormatParsesBackToTheStoredBytes) {
    test::WriteFile("expected.jsonl", Expected());
    std::vector<std::string> files{"expected.jsonl"};
    for (const char* format : {"tsv", "csv", "json", "paths", "null"}) {
        const Result r = RunDtfind({"--format", format, "zq"});
        ASSERT_EQ(r.status, 0) << format << ": " << r.err;
        EXPECT_EQ(r.err, "") << format;
        files.push_back(std::string("out.") + format);
        test::WriteFile(files.back(), r.out);
    }
    std::string command = "python3 " DT_SOURCE_DIR "/tests/app/check_rows.py";
    for (const std::string& f : files) command += " " + f;
    command += " 2>check.err";
    const int rc = std::system(command.c_str());
    EXPECT_EQ(rc, 0) << test::ReadFile("check.err");
}

TEST_F(DtfindFormats, TsvNeverWritesAControlByteOrAnEscapeSequence) {
    const Result r = RunDtfind({"zq"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char c : r.out) {
        const auto b = static_cast<unsigned char>(c);
        EXPECT_FALSE((b < 0x20 && b != '\t' && b != '\n') || b == 0x7F) << "byte " << int(b);
    }
    EXPECT_EQ(r.out.find("\xc2\x85"), std::string::npos);
    EXPECT_NE(r.out.find("zq \\x1B[31mred.txt"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("zq next \\xC2\\x85 line.txt"), std::string::npos) << r.out;
    if (!test::Backend::IsPostgres()) {
        EXPECT_NE(r.out.find("zq latin1 \xe9\\x9B csi.txt"), std::string::npos) << r.out;
    }
}

}  // namespace
}  // namespace dt
