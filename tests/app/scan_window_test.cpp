// The main window after a scan, offscreen over the embedded database: the record count and
// the computer list show the scan's result at once, not only after the next start.
#include <string>

#include "app/globals.h"
#include "tests/app/app_support.h"

namespace dt {
namespace {

using test::RunDir;
using test::RunMain;
namespace t = ui::testing;

// The name and scan date of the computer list's entries after "all computers".
std::string Listed() {
    std::string out;
    QCOMPUTER_RECORD r{};
    for (std::size_t i = 2; QCOMPUTER.Peek(i, r); ++i)
        out += std::string(r.NAME.View()) + (r.DATE.ToStandard() > 0 ? " scanned" : " never") + ";";
    return out;
}

TEST(ScanWindow, TheCountAndTheComputerListShowTheScanAtOnce) {
    RunDir run("window-pc");
    run.WriteProfile("");
    run.WriteSettings("");
    t::ResetAnswers();
    std::string records_before, records_after, listed_before, listed_after;
    // The first start of a computer: its row is made, but the list was filled before.
    ASSERT_EQ(RunMain(
                  [&](MainWindow& w) {
                      records_before = t::ControlText(*w.WINDOW, MainCtl::RECORDSSTRING);
                      listed_before = Listed();
                      w.on_scanned = [&](MainWindow& m) {
                          records_after = t::ControlText(*m.WINDOW, MainCtl::RECORDSSTRING);
                          listed_after = Listed();
                          m.WINDOW->Post(ui::Event::CloseWindow);
                      };
                      t::Click(*w.WINDOW, MainCtl::SCANBUTTON);
                  },
                  false, {ui::button::Yes, ui::button::Ok}),
              0);
    EXPECT_EQ(std::string(Clip(records_before)).back(), '0') << records_before;
    EXPECT_EQ(listed_before, "") << "a new computer is not listed before its scan";
    EXPECT_EQ(std::string(Clip(records_after)).back(), '2') << "the tree's two files: " << records_after;
    EXPECT_EQ(listed_after, "window-pc scanned;");
}

}  // namespace
}  // namespace dt
