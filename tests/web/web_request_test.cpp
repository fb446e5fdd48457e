// The web search's rules without network or database: parameters and their refusals,
// the statements around the desktop's condition, the row JSON with bytes that are not
// UTF-8, addresses and the per-address rate.
#include <gtest/gtest.h>

#include "web/web_request.h"

namespace dt::web {
namespace {

WebSearch Parse(const Params& p) {
    WebSearch s;
    std::string error;
    EXPECT_TRUE(ParseSearch(p, s, error)) << error;
    return s;
}

std::string Refusal(const Params& p) {
    WebSearch s;
    std::string error;
    EXPECT_FALSE(ParseSearch(p, s, error));
    return error;
}

TEST(WebRequest, ParametersBecomeTheDesktopRequest) {
    const WebSearch s = Parse({{"q", "it's 2002"},
                               {"ext", "doc"},
                               {"from_kb", "10"},
                               {"to_kb", "2147483647"},
                               {"dir", "1"},
                               {"computer", "A"},
                               {"computer", "b"},
                               {"limit", "1000"},
                               {"offset", "200"},
                               {"sort", "-size"}});
    EXPECT_EQ(s.request.filter, "it's 2002");
    EXPECT_EQ(s.request.extension, "doc");
    EXPECT_EQ(s.request.size_from, 10240);
    // Kilobytes far past 32 bits of bytes do not wrap.
    EXPECT_EQ(s.request.size_to, 2147483647LL * 1024);
    EXPECT_TRUE(s.request.search_dir);
    EXPECT_EQ(s.computers, (std::vector<std::string>{"A", "b"}));
    EXPECT_EQ(s.limit, 1000);
    EXPECT_EQ(s.offset, 200);
    EXPECT_EQ(s.sort, SortColumn::Size);
    EXPECT_TRUE(s.descending);
    const WebSearch d = Parse({{"ext", "x"}});
    EXPECT_EQ(d.limit, 100);
    EXPECT_EQ(d.offset, 0);
    EXPECT_EQ(d.sort, SortColumn::Name);
    EXPECT_FALSE(d.descending);
    // An empty bound is no bound.
    EXPECT_EQ(Parse({{"q", "abc"}, {"from_kb", ""}}).request.size_from, 0);
}

TEST(WebRequest, RefusalsNameTheParameter) {
    EXPECT_NE(Refusal({{"q", std::string(41, 'x')}}).find("40 bytes"), std::string::npos);
    // 40 bytes of UTF-8 is the limit, not 40 characters.
    std::string e20;
    for (int i = 0; i < 20; ++i) e20 += "\xc3\xa9";
    EXPECT_EQ(Parse({{"q", e20}}).request.filter, e20);
    EXPECT_NE(Refusal({{"q", e20 + "\xc3\xa9"}}).find("40 bytes"), std::string::npos);
    EXPECT_NE(Refusal({{"q", "x"}, {"from_kb", "-1"}}).find("from_kb"), std::string::npos);
    EXPECT_NE(Refusal({{"q", "x"}, {"sort", "size-"}}).find("sort"), std::string::npos);
    EXPECT_NE(Refusal({{"q", "x"}, {"token", "t"}}).find("Authorization"), std::string::npos);
    EXPECT_NE(Refusal({{"q", "x"}, {"access_token", "t"}}).find("Authorization"), std::string::npos);
    EXPECT_EQ(Refusal({{"dir", "1"}}), "please enter a search expression");
    EXPECT_EQ(Refusal({{"q", " "}, {"from_kb", "0"}, {"to_kb", "0"}}), "please enter a search expression");
    EXPECT_NE(Refusal({{"q", "x"}, {"q", "y"}}).find("more than once"), std::string::npos);
    EXPECT_NE(Refusal({{"q", "x"}, {"limit", "99999999999999999999"}}).find("limit"), std::string::npos);
    EXPECT_NE(Refusal({{"q", "x"}, {"q\xff", "1"}}).find("\xEF\xBF\xBD"), std::string::npos);
    std::string error;
    EXPECT_TRUE(ParseNoParams({}, error));
    EXPECT_FALSE(ParseNoParams({{"a", ""}}, error));
}

TEST(WebRequest, StatementsWrapTheDesktopCondition) {
    WebSearch s;
    s.request.filter = "re'port";
    s.limit = 50;
    s.offset = 100;
    const Dialect& pg = DialectOf(ServerKind::PostgreSQL);
    const Dialect& lite = DialectOf(ServerKind::Embedded);
    const Dialect& mssql = DialectOf(ServerKind::SqlServer);
    const std::string cond = SearchCondition(s, {}, pg);
    EXPECT_EQ(cond, BuildSearchCondition(s.request, pg));
    EXPECT_EQ(PageStatement(s, cond, pg),
              "select * from FILES where " + cond + " order by Name, SysFILES limit 50 offset 100");
    s.sort = SortColumn::Size;
    s.descending = true;
    EXPECT_EQ(PageStatement(s, "C", lite),
              "select * from FILES where C order by Size desc, SysFILES desc limit 50 offset 100");
    EXPECT_EQ(PageStatement(s, "C", mssql),
              "select * from FILES where C order by Size desc, SysFILES desc offset 100 rows fetch next 50 "
              "rows only");
    s.sort = SortColumn::Computer;
    s.descending = false;
    EXPECT_NE(PageStatement(s, "C", lite)
                  .find("order by (select c.Name from COMPUTER c where c.SysCOMPUTER = "
                        "FILES.SysCOMPUTER), SysFILES"),
              std::string::npos);
    // One computer is the desktop's own term; several are a list.
    SearchRequest one = s.request;
    one.computer = 7;
    EXPECT_EQ(SearchCondition(s, {7}, lite), BuildSearchCondition(one, lite));
    EXPECT_EQ(SearchCondition(s, {7, 9}, lite),
              BuildSearchCondition(s.request, lite) + " and SysCOMPUTER in (7,9)");
    EXPECT_EQ(CountStatement("C", lite),
              "select count(*) from (select SysFILES from FILES where C limit 10001) t");
    EXPECT_EQ(CountStatement("C", mssql),
              "select count(*) from (select top 10001 SysFILES from FILES where C) t");
    EXPECT_NE(EstimateStatement(pg).find("pg_class"), std::string::npos);
}

TEST(WebRequest, InvalidUtf8BecomesReplacementCharacters) {
    bool changed = false;
    EXPECT_EQ(ValidUtf8("plain caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", &changed),
              "plain caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
    EXPECT_FALSE(changed);
    struct Case {
        std::string in, out;
    };
    const std::string R = "\xEF\xBF\xBD";
    for (const Case& c : std::vector<Case>{
             {"a\xff", "a" + R},
             {"\xc3", R},                          // cut short at the end
             {"\xc3x", R + "x"},                   // cut short by an ASCII byte
             {"\xc0\xaf", R + R},                  // overlong
             {"\xe0\x80\xaf", R + R + R},          // overlong, three bytes
             {"\xed\xa0\x80", R + R + R},          // a surrogate
             {"\xf4\x90\x80\x80", R + R + R + R},  // past U+10FFFF
             {"\xe9t\xe9", R + "t" + R},           // Latin-1
             {std::string("a\0b", 3), std::string("a\0b", 3)},
         }) {
        changed = false;
        EXPECT_EQ(ValidUtf8(c.in, &changed), c.out) << c.in;
        EXPECT_EQ(changed, c.in != c.out);
    }
}

TEST(WebRequest, HitJsonAddsTheExactBytesOnlyWhenNeeded) {
    Hit h{"PC", "/d/", "n\xfe.txt", "txt", 5000000000ULL, DATE{9, 1, 2021}, TIME{0, 5, 4, 3}};
    const nlohmann::json j = HitJson(h);
    EXPECT_EQ(j["name"], "n\xEF\xBF\xBD.txt");
    EXPECT_EQ(j["path"], "/d/n\xEF\xBF\xBD.txt");
    EXPECT_EQ(j["path_b64"], Base64("/d/n\xfe.txt"));
    EXPECT_EQ(j["size"], 5000000000ULL);
    EXPECT_EQ(j["date"], "2021-01-09");
    EXPECT_EQ(j["time"], "03:04:05");
    h.name = "ok.txt";
    h.date = DATE{};
    h.time = TIME{};
    const nlohmann::json k = HitJson(h);
    EXPECT_FALSE(k.contains("path_b64"));
    EXPECT_TRUE(k["date"].is_null());
    EXPECT_TRUE(k["time"].is_null());
    // A computer name that is not UTF-8 is mended but is no path.
    h.computer = "P\xff";
    EXPECT_FALSE(HitJson(h).contains("path_b64"));
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("f"), "Zg==");
    EXPECT_EQ(Base64("fo"), "Zm8=");
    EXPECT_EQ(Base64("foo"), "Zm9v");
    EXPECT_EQ(Base64("\xff\xfe\xfd\xfc"), "//79/A==");
    EXPECT_EQ(DateText(DATE{1, 2, 33}), "0033-02-01");
}

TEST(WebRequest, AddressesAndListenText) {
    for (const char* a : {"127.0.0.1", "127.255.0.9", "::1", "::ffff:127.0.0.1"})
        EXPECT_TRUE(IsLoopback(a)) << a;
    for (const char* a :
         {"0.0.0.0", "::", "10.0.0.1", "128.0.0.1", "::ffff:10.0.0.1", "", "localhost", "::2"})
        EXPECT_FALSE(IsLoopback(a)) << a;
    std::string host;
    int port = 0;
    EXPECT_TRUE(ParseListen("127.0.0.1:8080", host, port));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 8080);
    EXPECT_TRUE(ParseListen("[::1]:9000", host, port));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 9000);
    EXPECT_TRUE(ParseListen("0.0.0.0:0", host, port));
    EXPECT_EQ(port, 0);
    for (const char* bad : {"127.0.0.1", ":8080", "127.0.0.1:", "127.0.0.1:65536", "127.0.0.1:-1", "::1:80",
                            "[::1]8080", "[::1]", "host.example:80", "127.0.0.1:80x", "127.0.0.1: 80"})
        EXPECT_FALSE(ParseListen(bad, host, port)) << bad;
}

TEST(WebRequest, RateIsCountedPerAddressAndSecond) {
    RateLimiter limit(3);
    const auto t0 = RateLimiter::Clock::time_point() + std::chrono::hours(1);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(limit.Allow("10.0.0.1", t0 + std::chrono::milliseconds(i * 100)));
    EXPECT_FALSE(limit.Allow("10.0.0.1", t0 + std::chrono::milliseconds(900)));
    // Another address has its own count.
    EXPECT_TRUE(limit.Allow("10.0.0.2", t0 + std::chrono::milliseconds(900)));
    // A new second starts a new count.
    EXPECT_TRUE(limit.Allow("10.0.0.1", t0 + std::chrono::milliseconds(1000)));
    EXPECT_TRUE(limit.Allow("10.0.0.1", t0 + std::chrono::milliseconds(1100)));
    EXPECT_TRUE(limit.Allow("10.0.0.1", t0 + std::chrono::milliseconds(1200)));
    EXPECT_FALSE(limit.Allow("10.0.0.1", t0 + std::chrono::milliseconds(1300)));
}

}  // namespace
}  // namespace dt::web
