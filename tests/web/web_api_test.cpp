// drivetrek-web run as its own process over a small site (SQLite; PostgreSQL with
// DT_TEST_PG=1, read as a role that may only SELECT): the same rows as the desktop's
// statement, paging and sorting, every validation error, the token rule, the headers,
// hostile names, the computer list and health, start-up failures and the request log.
#include <set>

#include "app/query.h"
#include "tests/web/tcp_relay.h"
#include "tests/web/web_site.h"
#include "web/web_page.h"
#include "web/web_request.h"

namespace dt {
namespace {

using webtest::Answer;
using webtest::Get;
using webtest::Row;
using webtest::Site;

const std::string kHostile = "<img src=x onerror=alert(1)>.html";
const std::string kBadBytes = "bad\xff\xfe name.txt";  // not UTF-8
const std::string kHostileComputer = "<b>GAMMA</b>";

std::vector<Row> SiteRows() {
    std::vector<Row> rows;
    const DATE d{10, 3, 2024};
    const TIME t{0, 15, 30, 9};
    for (const char* name : {"report 2002.doc", "Report-final.doc", "it's a report.txt", "notes.txt",
                             "tab\tin report.txt", "100% done.txt", "under_score.txt", "plain.doc"})
        rows.push_back({"ALPHA", "/home/ann/docs/", name, 1023, d, t});
    rows[0].size = 1024;
    rows.push_back({"ALPHA", "/home/ann/deep/", kHostile, 77, d, t});
    rows.push_back({"BETA", "/srv/share/", "report 2002.doc", 2048, DATE{1, 1, 2023}, TIME{0, 0, 0, 12}});
    rows.push_back({"BETA", "/srv/caf\xc3\xa9/", "caf\xc3\xa9.txt", 12, d, t});
    // A PostgreSQL database in UTF-8 refuses bytes that are not UTF-8; the embedded one
    // keeps them as the scan found them.
    if (!DT_TEST_PG) {
        rows.push_back({"BETA", "/srv/share/", kBadBytes, 9, d, t});
        rows.push_back({"BETA", "/srv/\xe9t\xe9/", "caf\xc3\xa9.bin", 12, d, t});
    }
    // Rows to page through: 250 names over three computers, sizes and dates mixed.
    const char* computers[3] = {"ALPHA", "BETA", kHostileComputer.c_str()};
    for (int i = 0; i < 250; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "page_%03d.dat", i);
        rows.push_back(
            {computers[i % 3], "/data/pages/", name, static_cast<std::uint32_t>((i * 7919) % 100000),
             DATE{static_cast<BYTE>(1 + i % 28), static_cast<BYTE>(1 + i % 12),
                  static_cast<USHORT>(2000 + i % 20)},
             TIME{0, static_cast<BYTE>(i % 60), static_cast<BYTE>(i % 60), static_cast<BYTE>(i % 24)}});
    }
    return rows;
}

std::string Decode64(const std::string& text) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned v = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=') break;
        v = v << 6 | static_cast<unsigned>(kAlphabet.find(c));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((v >> bits) & 0xff);
        }
    }
    return out;
}

// The exact path of a JSON row.
std::string PathOf(const nlohmann::json& row) {
    return row.contains("path_b64") ? Decode64(row["path_b64"].get<std::string>())
                                    : row["path"].get<std::string>();
}

class WebApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        site_.emplace();
        if (!site_->skip.empty()) GTEST_SKIP() << site_->skip;
        ASSERT_TRUE(site_->Seed({"ALPHA", "BETA", kHostileComputer}, SiteRows()));
    }
    void TearDown() override { site_.reset(); }

    void Start(const std::string& web = "") {
        ASSERT_TRUE(site_->StartServer({}, web)) << site_->ServerLog();
        client_.emplace(site_->Client());
    }

    Answer Search(const std::string& query, const httplib::Headers& headers = {}) {
        return Get(*client_, "/api/search?" + query, headers);
    }

    // All rows of a search, each "computer|path|size", sorted.
    std::vector<std::string> ApiRows(const std::string& query) {
        const Answer a = Search(query + "&limit=1000");
        EXPECT_EQ(a.status, 200) << query << " " << a.body;
        std::vector<std::string> out;
        if (a.status != 200) return out;
        for (const auto& r : a.json["rows"])
            out.push_back(r["computer"].get<std::string>() + "|" + PathOf(r) + "|" +
                          std::to_string(r["size"].get<std::uint64_t>()));
        std::sort(out.begin(), out.end());
        EXPECT_EQ(a.json["total"].get<std::int64_t>(), static_cast<std::int64_t>(out.size())) << query;
        return out;
    }

    std::vector<std::string> DesktopRows(const SearchRequest& r) {
        std::vector<std::string> rows = site_->DesktopRows(r);
        // The desktop's rows hold directory and name apart; the API gives the path.
        for (std::string& s : rows) {
            const std::size_t a = s.find('|'), b = s.find('|', a + 1);
            s.erase(b, 1);
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    std::optional<Site> site_;
    std::optional<httplib::Client> client_;
};

SearchRequest Request(std::string filter, std::string ext = "", bool dir = false, long from_kb = 0,
                      long to_kb = 0, ULONG computer = 0) {
    SearchRequest r;
    r.filter = std::move(filter);
    r.extension = std::move(ext);
    r.search_dir = dir;
    r.size_from = KilobytesToBytes(from_kb);
    r.size_to = KilobytesToBytes(to_kb);
    r.computer = computer;
    return r;
}

TEST_F(WebApiTest, SameRowsAsTheDesktopStatement) {
    Start();
    struct Case {
        std::string query;
        SearchRequest request;
    };
    const std::vector<Case> cases = {
        {"q=report", Request("report")},
        {"q=REPORT", Request("REPORT")},
        {"q=report%202002", Request("report 2002")},
        {"q=deep&dir=1", Request("deep", "", true)},
        {"q=deep&dir=0", Request("deep")},
        {"q=it%27s", Request("it's")},
        {"ext=doc", Request("", "doc")},
        {"q=report&from_kb=1", Request("report", "", false, 1)},
        {"ext=doc&to_kb=1", Request("", "doc", false, 0, 1)},
        {"q=page&from_kb=20&to_kb=60", Request("page", "", false, 20, 60)},
        {"q=100%25", Request("100%")},
        {"q=under_", Request("under_")},
        {"q=a%20%20t", Request("a  t")},
        {"q=%20page_01", Request(" page_01")},
        {"q=page&computer=beta", Request("page", "", false, 0, 0, site_->ids["BETA"])},
        {"q=caf%C3%A9", Request("caf\xc3\xa9")},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> desktop = DesktopRows(c.request);
        // Every case finds something, except a directory word without the directory box.
        EXPECT_EQ(desktop.empty(), c.query == "q=deep&dir=0") << c.query;
        EXPECT_EQ(ApiRows(c.query), desktop) << c.query;
    }
    // Two computers: the rows of either.
    std::vector<std::string> both = DesktopRows(Request("page", "", false, 0, 0, site_->ids["ALPHA"]));
    const std::vector<std::string> gamma =
        DesktopRows(Request("page", "", false, 0, 0, site_->ids[kHostileComputer]));
    both.insert(both.end(), gamma.begin(), gamma.end());
    std::sort(both.begin(), both.end());
    EXPECT_EQ(ApiRows("q=page&computer=ALPHA&computer=%3Cb%3EGAMMA%3C%2Fb%3E"), both);
    EXPECT_EQ(ApiRows("q=nothing-like-this"), std::vector<std::string>{});
}

TEST_F(WebApiTest, RowsCarryEveryFieldOfTheRowFormat) {
    Start();
    const Answer a = Search("q=report%202002&sort=computer");
    ASSERT_EQ(a.status, 200) << a.body;
    ASSERT_EQ(a.json["rows"].size(), 2u);
    const auto& r = a.json["rows"][0];
    EXPECT_EQ(r["computer"], "ALPHA");
    EXPECT_EQ(r["dir"], "/home/ann/docs/");
    EXPECT_EQ(r["name"], "report 2002.doc");
    EXPECT_EQ(r["extension"], "doc");
    EXPECT_EQ(r["size"], 1024);
    EXPECT_EQ(r["date"], "2024-03-10");
    EXPECT_EQ(r["time"], "09:30:15");
    EXPECT_EQ(r["path"], "/home/ann/docs/report 2002.doc");
    EXPECT_FALSE(r.contains("path_b64"));
    EXPECT_EQ(a.json["rows"][1]["date"], "2023-01-01");
    EXPECT_EQ(a.json["rows"][1]["time"], "12:00:00");
    EXPECT_EQ(a.json["total"], 2);
    EXPECT_EQ(a.json["total_capped"], false);
    EXPECT_TRUE(a.json["ms"].is_number());
}

TEST_F(WebApiTest, PagesCoverEveryRowOnceInTheAskedOrder) {
    Start();
    // Three pages of 100 over the 250 page rows: each row once, in name order.
    std::vector<std::string> names;
    for (int offset = 0; offset < 300; offset += 100) {
        const Answer a = Search("q=page_&limit=100&offset=" + std::to_string(offset));
        ASSERT_EQ(a.status, 200) << a.body;
        EXPECT_EQ(a.json["total"], 250) << offset;
        EXPECT_EQ(a.json["rows"].size(), offset < 200 ? 100u : 50u);
        for (const auto& r : a.json["rows"]) names.push_back(r["name"]);
    }
    ASSERT_EQ(names.size(), 250u);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 250u);
    // Past the end: no rows, the total still told.
    const Answer past = Search("q=page_&offset=400");
    EXPECT_EQ(past.json["rows"].size(), 0u);
    EXPECT_EQ(past.json["total"], 250);
    // A full page does not tell the total by itself: it is counted.
    EXPECT_EQ(Search("q=page_&limit=250").json["total"], 250);
    EXPECT_EQ(Search("q=page_&limit=7&offset=3").json["total"], 250);

    auto column = [&](const std::string& sort, const char* field) {
        std::vector<nlohmann::json> v;
        const Answer a = Search("q=page_&limit=1000&sort=" + sort);
        EXPECT_EQ(a.status, 200) << a.body;
        for (const auto& r : a.json["rows"]) v.push_back(r[field]);
        EXPECT_EQ(v.size(), 250u) << sort;
        return v;
    };
    auto sizes = column("size", "size");
    EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end())) << "size";
    EXPECT_NE(sizes.front(), sizes.back());
    auto down = column("-size", "size");
    EXPECT_TRUE(std::is_sorted(down.rbegin(), down.rend())) << "-size";
    auto names_down = column("-name", "name");
    EXPECT_TRUE(std::is_sorted(names_down.rbegin(), names_down.rend()));
    auto dates = column("date", "date");
    EXPECT_TRUE(std::is_sorted(dates.begin(), dates.end()));
    auto computers = column("computer", "computer");
    EXPECT_TRUE(std::is_sorted(computers.begin(), computers.end()));
    auto computers_down = column("-computer", "computer");
    EXPECT_TRUE(std::is_sorted(computers_down.rbegin(), computers_down.rend()));
    EXPECT_EQ(column("dir", "dir").size(), 250u);
    EXPECT_EQ(column("-ext", "extension").size(), 250u);
    // Descending pages are the ascending rows reversed.
    std::vector<std::string> desc;
    for (int offset = 0; offset < 250; offset += 100) {
        const Answer a = Search("q=page_&sort=-name&offset=" + std::to_string(offset));
        for (const auto& r : a.json["rows"]) desc.push_back(r["name"]);
    }
    std::reverse(desc.begin(), desc.end());
    EXPECT_EQ(desc, names);
}

TEST_F(WebApiTest, TotalIsExactUpToTenThousandThenCapped) {
    // 10,050 more rows in one statement, numbered past the others.
    const ULONG beta = site_->ids["BETA"];
    ASSERT_TRUE(
        site_->Pass("insert into FILES (SysFILES, SysCOMPUTER, Name, Extension, Dir, Type, Date, Size) "
                    "with recursive n(i) as (select 1 union all select i + 1 from n where i < 10050) "
                    "select 100000 + i, " +
                        std::to_string(beta) +
                        ", 'many_' || i || '.bin', 'bin', '/many/', 32, "
                        "'2024-01-01 00:00:00', i from n",
                    false));
    Start();
    const Answer capped = Search("q=many_");
    ASSERT_EQ(capped.status, 200) << capped.body;
    EXPECT_EQ(capped.json["total"], 10000);
    EXPECT_EQ(capped.json["total_capped"], true);
    EXPECT_EQ(capped.json["rows"].size(), 100u);
    // 10,000 exactly is still exact; one more is capped.
    const Answer exact = Search("q=many_&to_kb=0&ext=bin&from_kb=0&limit=10&sort=size");
    EXPECT_EQ(exact.json["total_capped"], true);
    const Answer under = Search("q=many_1");  // many_1, many_10..19, 100..199, 1000..1999, 10000..10050
    ASSERT_EQ(under.status, 200);
    EXPECT_EQ(under.json["total"], 1 + 10 + 100 + 1000 + 51);
    EXPECT_EQ(under.json["total_capped"], false);
}

TEST_F(WebApiTest, EveryBadParameterIsRefusedWith400) {
    Start();
    const std::vector<std::string> bad = {
        "q=" + std::string(41, 'r'),
        "q=report&ext=abcdefghijk",
        "q=report&from_kb=ten",
        "q=report&from_kb=-1",
        "q=report&from_kb=1.5",
        "q=report&to_kb=2147483648",
        "q=report&to_kb=%2B5",
        "q=report&limit=0",
        "q=report&limit=1001",
        "q=report&limit=-5",
        "q=report&limit=abc",
        "q=report&limit=",
        "q=report&offset=-1",
        "q=report&offset=x",
        "q=report&offset=1000000001",
        "q=report&sort=bogus",
        "q=report&sort=-",
        "q=report&sort=--name",
        "q=report&sort=Name",
        "q=report&dir=2",
        "q=report&dir=yes",
        "q=report&q=other",
        "q=report&limit=5&limit=6",
        "q=report&colour=blue",
        "q=report&computer=",
        "q=report&computer=NOBOX",
        "q=tab%09x",
        "q=",
        "q=%20%20",
        "dir=1",
        "computer=ALPHA",
        "",
    };
    for (const std::string& query : bad) {
        const Answer a = Search(query);
        EXPECT_EQ(a.status, 400) << query << " " << a.body;
        ASSERT_TRUE(a.json.is_object()) << query;
        EXPECT_TRUE(a.json.contains("error")) << query;
        EXPECT_FALSE(a.json["error"].get<std::string>().empty()) << query;
    }
    // The limits themselves are fine.
    EXPECT_EQ(Search("q=" + std::string(40, 'r')).status, 200);
    EXPECT_EQ(Search("q=report&limit=1000&offset=1000000000").status, 200);
    EXPECT_EQ(Search("q=report&ext=abcdefghij").status, 200);
    EXPECT_EQ(Search("q=report&to_kb=2147483647&from_kb=0").status, 200);
    EXPECT_EQ(Search("from_kb=1").status, 200);
    // The other endpoints take no parameters at all.
    EXPECT_EQ(Get(*client_, "/api/computers?x=1").status, 400);
    EXPECT_EQ(Get(*client_, "/api/health?x=1").status, 400);
}

TEST_F(WebApiTest, AnswersCarryTheSecurityHeaders) {
    Start();
    for (const std::string path : {"/", "/app.js", "/app.css", "/api/search?q=report", "/api/computers",
                                   "/api/health", "/nothing", "/api/search?q="}) {
        const Answer a = Get(*client_, path);
        ASSERT_NE(a.status, 0) << path;
        const std::string csp = a.Header("Content-Security-Policy");
        EXPECT_NE(csp.find("script-src 'self'"), std::string::npos) << path;
        EXPECT_NE(csp.find("default-src 'none'"), std::string::npos) << path;
        EXPECT_EQ(csp.find("unsafe-inline"), std::string::npos) << path;
        EXPECT_EQ(a.Header("X-Content-Type-Options"), "nosniff") << path;
        if (path.rfind("/api/", 0) == 0) {
            EXPECT_EQ(a.Header("Cache-Control"), "no-store") << path;
            EXPECT_EQ(a.Header("Content-Type"), "application/json; charset=utf-8") << path;
        }
    }
    EXPECT_EQ(Get(*client_, "/").Header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(Get(*client_, "/app.js").Header("Content-Type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(Get(*client_, "/app.css").Header("Content-Type"), "text/css; charset=utf-8");
    // Nothing else is served, and nothing is written.
    const Answer missing = Get(*client_, "/etc/passwd");
    EXPECT_EQ(missing.status, 404);
    EXPECT_TRUE(missing.json.contains("error"));
    EXPECT_EQ(Get(*client_, "/api/search/../../drivetrek.ini").status, 404);
    auto post = client_->Post("/api/search?q=report", "", "text/plain");
    ASSERT_TRUE(post);
    EXPECT_EQ(post->status, 405);
    auto del = client_->Delete("/api/search");
    ASSERT_TRUE(del);
    EXPECT_EQ(del->status, 405);
    // The page has no inline script or style and loads nothing from elsewhere.
    const std::string page = Get(*client_, "/").body;
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_EQ(page.find("onclick"), std::string::npos);
    EXPECT_EQ(page.find("style="), std::string::npos);
    EXPECT_EQ(page.find("http"), std::string::npos);
}

TEST_F(WebApiTest, HostileNamesComeBackAsExactText) {
    Start();
    const Answer a = Search("q=onerror&dir=1");
    ASSERT_EQ(a.status, 200) << a.body;
    ASSERT_EQ(a.json["rows"].size(), 1u);
    EXPECT_EQ(a.json["rows"][0]["name"], kHostile);
    EXPECT_EQ(a.json["rows"][0]["extension"], "html");
    const Answer utf8 = Search("q=caf%C3%A9.txt");
    ASSERT_EQ(utf8.json["rows"].size(), 1u);
    EXPECT_EQ(utf8.json["rows"][0]["path"], "/srv/caf\xc3\xa9/caf\xc3\xa9.txt");
    EXPECT_FALSE(utf8.json["rows"][0].contains("path_b64"));
#if !DT_TEST_PG
    // Bytes that are not UTF-8: U+FFFD in the strings, the exact path in path_b64; the
    // answer as a whole is valid JSON.
    const Answer bad = Search("q=bad");
    ASSERT_EQ(bad.status, 200) << bad.body;
    ASSERT_EQ(bad.json["rows"].size(), 1u);
    const auto& r = bad.json["rows"][0];
    EXPECT_EQ(r["name"], "bad\xEF\xBF\xBD\xEF\xBF\xBD name.txt");
    EXPECT_EQ(Decode64(r["path_b64"]), "/srv/share/" + kBadBytes);
    const Answer dir = Search("q=caf&ext=bin");
    ASSERT_EQ(dir.json["rows"].size(), 1u);
    EXPECT_EQ(dir.json["rows"][0]["dir"], "/srv/\xEF\xBF\xBDt\xEF\xBF\xBD/");
    EXPECT_EQ(dir.json["rows"][0]["name"], "caf\xc3\xa9.bin");
    EXPECT_EQ(Decode64(dir.json["rows"][0]["path_b64"]), "/srv/\xe9t\xe9/caf\xc3\xa9.bin");
#endif
    // A computer name that is markup is a name like any other.
    const Answer gamma = Search("q=page_002");
    ASSERT_EQ(gamma.json["rows"].size(), 1u);
    EXPECT_EQ(gamma.json["rows"][0]["computer"], kHostileComputer);
    // The page's script puts server text into the page only as text.
    const std::string script = Get(*client_, "/app.js").body;
    ASSERT_NE(script.find("textContent"), std::string::npos);
    for (const char* sink : {"innerHTML", "outerHTML", "insertAdjacentHTML", "document.write", "eval("})
        EXPECT_EQ(script.find(sink), std::string::npos) << sink;
}

TEST_F(WebApiTest, ComputersAndHealth) {
    Start();
    const Answer c = Get(*client_, "/api/computers");
    ASSERT_EQ(c.status, 200) << c.body;
    ASSERT_EQ(c.json["computers"].size(), 3u);
    const auto& first = c.json["computers"][0];
    EXPECT_EQ(first["name"], "ALPHA");
    EXPECT_EQ(first["last_scan"], "2024-03-10 09:30:15");
    EXPECT_EQ(first["scan_time"], "00:01:02");
    // Days since 10 March 2024, by the calendar.
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    ::localtime_r(&now, &today);
    std::tm then{};
    then.tm_year = 124;
    then.tm_mon = 2;
    then.tm_mday = 10;
    then.tm_hour = 12;
    today.tm_hour = 12;
    today.tm_min = today.tm_sec = 0;
    const long days = std::lround(std::difftime(std::mktime(&today), std::mktime(&then)) / 86400.0);
    EXPECT_EQ(first["days_since"], days);
    EXPECT_EQ(c.json["computers"][2]["name"], kHostileComputer);

    const Answer h = Get(*client_, "/api/health");
    ASSERT_EQ(h.status, 200) << h.body;
    EXPECT_EQ(h.json["database"], "reachable");
    EXPECT_GE(h.json["rows_estimate"].get<std::int64_t>(), static_cast<std::int64_t>(SiteRows().size()) - 5);
}

TEST_F(WebApiTest, ATokenIsNeededWhenSetAndNeverTakenFromTheAddress) {
    Start("[web]\ntoken=s3cret-Token\n");
    EXPECT_EQ(Search("q=report").status, 401);
    EXPECT_EQ(Search("q=report", {{"Authorization", "Bearer wrong"}}).status, 401);
    EXPECT_EQ(Search("q=report", {{"Authorization", "Bearer s3cret-Token2"}}).status, 401);
    EXPECT_EQ(Search("q=report", {{"Authorization", "s3cret-Token"}}).status, 401);
    EXPECT_EQ(Search("q=report", {{"Authorization", "Bearer "}}).status, 401);
    const Answer ok = Search("q=report", {{"Authorization", "Bearer s3cret-Token"}});
    EXPECT_EQ(ok.status, 200) << ok.body;
    EXPECT_EQ(Get(*client_, "/api/computers", {{"Authorization", "Bearer s3cret-Token"}}).status, 200);
    EXPECT_EQ(Get(*client_, "/api/health").status, 401);
    // In the address it is refused, even beside the right header.
    EXPECT_EQ(Search("q=report&token=s3cret-Token").status, 400);
    EXPECT_EQ(Search("q=report&token=s3cret-Token", {{"Authorization", "Bearer s3cret-Token"}}).status, 400);
    EXPECT_EQ(Get(*client_, "/?access_token=s3cret-Token").status, 400);
    // The page itself loads without it (it asks for the token).
    EXPECT_EQ(Get(*client_, "/").status, 200);
    EXPECT_EQ(Get(*client_, "/app.js").status, 200);
    // The token is in no log line.
    EXPECT_EQ(site_->StopServer(), 0);
    const std::string log = site_->ServerLog();
    EXPECT_NE(log.find("GET /api/search 401 "), std::string::npos) << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
}

TEST_F(WebApiTest, OffLoopbackWithoutATokenRefusesToStart) {
    site_->WriteIni("sa", "");
    for (const char* listen : {"0.0.0.0:0", "[::]:0", "192.0.2.1:8080"}) {
        const Site::Run r = site_->RunProgram({"--listen", listen});
        EXPECT_EQ(r.status, 2) << listen << r.err;
        EXPECT_NE(r.err.find("token"), std::string::npos) << r.err;
    }
    for (const char* listen : {"localhost:80", "127.0.0.1", "127.0.0.1:99999", "::1:80", "1.2.3.4.5:1"}) {
        const Site::Run r = site_->RunProgram({"--listen", listen});
        EXPECT_EQ(r.status, 2) << listen;
    }
}

TEST_F(WebApiTest, LogsOneLinePerRequest) {
    Start();
    EXPECT_EQ(Search("q=report").status, 200);
    EXPECT_EQ(Search("q=").status, 400);
    EXPECT_EQ(Get(*client_, "/api/computers").status, 200);
    EXPECT_EQ(site_->StopServer(), 0);
    const std::string log = site_->ServerLog();
    EXPECT_NE(log.find("GET /api/search 200 "), std::string::npos) << log;
    EXPECT_NE(log.find("GET /api/search 400 "), std::string::npos) << log;
    EXPECT_NE(log.find("GET /api/computers 200 "), std::string::npos) << log;
    // The words are the user's: the query is not logged.
    EXPECT_EQ(log.find("q=report"), std::string::npos) << log;
}

TEST_F(WebApiTest, HelpVersionAndUsage) {
    const Site::Run help = site_->RunProgram({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: drivetrek-web"), std::string::npos);
    EXPECT_EQ(help.err, "");
    const Site::Run version = site_->RunProgram({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("drivetrek-web 1.05 (git ", 0), 0u) << version.out;
    const Site::Run bad = site_->RunProgram({"--bogus"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.err.find("--bogus"), std::string::npos);
}

TEST_F(WebApiTest, AnUnreachableDatabaseStopsTheStartAndHidesThePassword) {
#if DT_TEST_PG
    // A port nobody listens on.
    test::WriteFile(*site_ / "drivetrek.ini",
                    "[database]\nserver=127.0.0.1:1\ndatabase=x\nuser=someone\npass=Pa55-hidden\n");
#else
    test::WriteFile(*site_ / "drivetrek.ini",
                    "[database]\nserver=Server\ndatabase=nosuch\nuser=sa\npass=Pa55-hidden\n");
#endif
    const Site::Run r = site_->RunProgram({"--listen", "127.0.0.1:0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot reach the database"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Pa55-hidden"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("listening"), std::string::npos) << r.err;
    // Nothing was created.
    EXPECT_FALSE(std::filesystem::exists(*site_ / "nosuch.db"));
}

}  // namespace
}  // namespace dt

namespace dt {
namespace {

#if DT_TEST_PG
using webtest::QuietErrors;

// The server reaches PostgreSQL through a relay that the test cuts and opens again.
TEST_F(WebApiTest, ADatabaseThatGoesAwayAnswers503AndComesBackByItself) {
    webtest::TcpRelay relay(std::atoi(webtest::Env("DRIVETREK_TEST_PG_PORT").c_str()));
    ASSERT_TRUE(relay.Open());
    site_->server_address = "127.0.0.1:" + std::to_string(relay.port());
    Start("[web]\nthreads=2\n");
    const Answer before = Search("q=report");
    EXPECT_EQ(before.status, 200);
    EXPECT_EQ(Get(*client_, "/api/health").status, 200);

    relay.Cut();
    for (int i = 0; i < 3; ++i) {
        const Answer a = Search("q=report");
        EXPECT_EQ(a.status, 503) << a.body;
        EXPECT_TRUE(a.json.contains("error")) << a.body;
        EXPECT_EQ(a.body.find("readerpw"), std::string::npos);
    }
    const Answer health = Get(*client_, "/api/health");
    EXPECT_EQ(health.status, 503);
    EXPECT_EQ(health.json["database"], "unreachable");
    EXPECT_EQ(Get(*client_, "/api/computers").status, 503);
    // The page is still served.
    EXPECT_EQ(Get(*client_, "/").status, 200);

    ASSERT_TRUE(relay.Open());
    const Answer back = Search("q=report");
    EXPECT_EQ(back.status, 200) << back.body;
    EXPECT_EQ(back.json["total"], before.json["total"]);
    EXPECT_EQ(Get(*client_, "/api/health").status, 200);
    EXPECT_EQ(site_->StopServer(), 0) << site_->ServerLog();
    EXPECT_EQ(site_->ServerLog().find("readerpw"), std::string::npos);
}

// Each worker has a connection of its own: as many server sessions of the reading role
// as workers that served a request, searching side by side.
TEST_F(WebApiTest, EachWorkerHasItsOwnConnection) {
    Start("[web]\nthreads=3\n");
    std::vector<std::thread> clients;
    std::atomic<int> ok{0};
    for (int c = 0; c < 6; ++c)
        clients.emplace_back([&] {
            httplib::Client client = site_->Client();
            for (int i = 0; i < 10; ++i)
                if (auto r = client.Get("/api/search?q=page_&limit=200"); r && r->status == 200) ++ok;
        });
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(ok, 60);
    // Asked on a connection of the test's own.
    QuietErrors errors;
    InitTables(errors);
    Relate::SQLF->Open();
    ASSERT_EQ(Access::SQLF->UseFile(), 0);
    ASSERT_EQ(SetProperty(SQLF.file, PROP_SQL,
                          "select count(*) from pg_stat_activity where usename = '" + site_->reader_ + "'"),
              0);
    ASSERT_EQ(Next(SQLF.file), 0);
    const int sessions = std::atoi(SQLF.FELD1.Str().c_str());
    Relate::SQLF->Close();
    KillTables();
    EXPECT_GE(sessions, 2);
    EXPECT_LE(sessions, 3);
}
#endif

}  // namespace
}  // namespace dt
