// The search page in a real browser: headless Chromium driven by python3-selenium
// (browser_drive.py) against drivetrek-web over the embedded database.
#include "tests/web/web_site.h"

namespace dt {
namespace {

using webtest::Row;
using webtest::Site;

TEST(WebBrowserTest, LiveSearchSortAndPagingInChromium) {
    if (!std::filesystem::exists("/usr/bin/chromium") || !std::filesystem::exists("/usr/bin/chromedriver"))
        GTEST_SKIP() << "chromium and chromium-driver are not installed";
    Site site;
    std::vector<Row> rows;
    const DATE d{10, 3, 2024};
    const TIME t{0, 15, 30, 9};
    const char* computers[3] = {"ALPHA", "BETA", "<b>GAMMA</b>"};
    for (int i = 0; i < 250; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "page_%03d.dat", i);
        rows.push_back(
            {computers[i % 3], "/data/pages/", name, static_cast<std::uint32_t>((i * 7919) % 100000), d, t});
    }
    rows.push_back({"ALPHA", "/home/ann/", "<img src=x onerror=alert(1)>.html", 77, d, t});
    ASSERT_TRUE(site.Seed({"ALPHA", "BETA", "<b>GAMMA</b>"}, rows));
    ASSERT_TRUE(site.StartServer()) << site.ServerLog();
    const std::string shot = std::string(DT_TEST_OUTPUT_DIR) + "/web_browser.png";
    const Site::Run r = site.RunCommand(
        {"/usr/bin/python3", DT_SOURCE_DIR "/tests/web/browser_drive.py", std::to_string(site.port), shot},
        120);
    EXPECT_EQ(r.status, 0) << r.out << r.err << site.ServerLog();
    EXPECT_NE(r.out.find("first_rows"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::exists(shot));
    EXPECT_EQ(site.StopServer(), 0);
}

}  // namespace
}  // namespace dt
