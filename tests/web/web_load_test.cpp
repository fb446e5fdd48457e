// A bounded load: 50 clients on loopback search drivetrek-web side by side for 20 s over
// the embedded database; every answer must be right and none may be a server error.
#include <atomic>
#include <mutex>

#include "app/query.h"
#include "tests/web/web_site.h"

namespace dt {
namespace {

using webtest::Row;
using webtest::Site;

struct WebSearchCheck {
    bool ok;
    std::string what;
};

TEST(WebLoadTest, FiftyClientsForTwentySecondsGetOnlyRightAnswers) {
    Site site;
    std::vector<Row> rows;
    const char* computers[3] = {"ALPHA", "BETA", "GAMMA"};
    for (int i = 0; i < 3000; ++i) {
        char name[48];
        std::snprintf(name, sizeof name, "%s_%04d.%s", i % 2 ? "report" : "photo", i, i % 5 ? "dat" : "doc");
        rows.push_back({computers[i % 3], "/data/d" + std::to_string(i % 40) + "/", name,
                        static_cast<std::uint32_t>((i * 7919) % 1000000), DATE{1, 2, 2024},
                        TIME{0, 0, 0, 8}});
    }
    ASSERT_TRUE(site.Seed({"ALPHA", "BETA", "GAMMA"}, rows));

    // The searches and the totals the desktop's statement gives for them.
    struct Search {
        std::string query;
        SearchRequest request;
        std::int64_t total = 0;
    };
    std::vector<Search> searches(6);
    searches[0].query = "q=report";
    searches[0].request.filter = "report";
    searches[1].query = "q=photo_1&sort=-size";
    searches[1].request.filter = "photo_1";
    searches[2].query = "ext=doc&sort=computer&offset=100";
    searches[2].request.extension = "doc";
    searches[3].query = "q=d1&dir=1&from_kb=100&limit=50&sort=date";
    searches[3].request.filter = "d1";
    searches[3].request.search_dir = true;
    searches[3].request.size_from = 100 * 1024;
    searches[4].query = "q=_00&computer=BETA&sort=name";
    searches[4].request.filter = "_00";
    searches[4].request.computer = site.ids["BETA"];
    searches[5].query = "q=nothing-like-this";
    searches[5].request.filter = "nothing-like-this";
    for (Search& s : searches) s.total = static_cast<std::int64_t>(site.DesktopRows(s.request).size());
    ASSERT_GT(searches[0].total, 1000);

    ASSERT_TRUE(site.StartServer()) << site.ServerLog();
    constexpr int kClients = 50;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::atomic<long> answers{0}, wrong{0}, server_errors{0}, failures{0};
    std::mutex first_mutex;
    std::string first_problem;
    auto problem = [&](const std::string& text) {
        std::lock_guard lock(first_mutex);
        if (first_problem.empty()) first_problem = text;
    };
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            httplib::Client client = site.Client();
            client.set_keep_alive(true);
            for (long i = c; std::chrono::steady_clock::now() < end; ++i) {
                const Search& s = searches[static_cast<std::size_t>(i) % searches.size()];
                auto res = client.Get("/api/search?" + s.query);
                if (!res) {
                    ++failures;
                    problem("no answer to " + s.query + ": " + httplib::to_string(res.error()));
                    continue;
                }
                ++answers;
                if (res->status >= 500) ++server_errors;
                const auto j = nlohmann::json::parse(res->body, nullptr, false);
                const WebSearchCheck ok = [&] {
                    if (res->status != 200 || !j.is_object()) return WebSearchCheck{false, "status"};
                    if (j["total"] != s.total) return WebSearchCheck{false, "total"};
                    const std::int64_t offset = s.query.find("offset=100") != std::string::npos ? 100 : 0;
                    const std::int64_t limit = s.query.find("limit=50") != std::string::npos ? 50 : 100;
                    const std::int64_t want = std::max<std::int64_t>(0, std::min(limit, s.total - offset));
                    if (static_cast<std::int64_t>(j["rows"].size()) != want)
                        return WebSearchCheck{false, "rows"};
                    return WebSearchCheck{true, ""};
                }();
                if (!ok.ok) {
                    ++wrong;
                    problem(s.query + ": " + ok.what + " " + res->body.substr(0, 200));
                }
            }
        });
    }
    for (std::thread& t : clients) t.join();
    std::printf("%ld answers from %d clients in 20 s (%.0f a second)\n", answers.load(), kClients,
                answers.load() / 20.0);
    EXPECT_GT(answers, kClients);
    EXPECT_EQ(server_errors, 0) << first_problem;
    EXPECT_EQ(wrong, 0) << first_problem;
    EXPECT_EQ(failures, 0) << first_problem;
    EXPECT_EQ(site.StopServer(), 0);
}

}  // namespace
}  // namespace dt
