// The results window while a large read goes on: the window opens with the first rows,
// the rest arrive step by step while the window's loop takes other events between the
// steps, and the caption's count and time are set once, when the read has ended.
// Built for SQLite and for PostgreSQL (tests/support/backend.h).
#include <regex>

#include "app/program.h"
#include "app/qfiles.h"
#include "runtime/stddate.h"
#include "tests/app/qfiles_fixture.h"
#include "tests/ui/gui_support.h"
#include "ui/window.h"

namespace dt {
namespace {

using qtest::RecordingErrors;
using qtest::SearchSite;

constexpr long kBulk = 5000;

class QFilesStreamTest : public test::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        const std::string database = IsPostgres() ? MakeDatabase("dtstream") : "drivetrek";
        ASSERT_FALSE(database.empty());
        site_.emplace(database);
        ASSERT_TRUE(site_->Seed());
        // Many hits for one word, stored by plain statements in blocks.
        RecordingErrors errors;
        InitTables(errors);
        Relate::SQLF->Open();
        ASSERT_EQ(Access::SQLF->UseFile(), 0) << errors.Text();
        for (long i = 0; i < kBulk; i += 500) {
            std::string s =
                "INSERT INTO FILES (SysFILES,SysCOMPUTER,NAME,EXTENSION,DIR,TYPE,DATE,Size) VALUES ";
            for (long k = i; k < i + 500; ++k)
                s += std::string(k == i ? "" : ",") + "(" + std::to_string(1000000 + k) + "," +
                     std::to_string(site_->other_id) + ",'bulkhit_" + std::to_string(100000 + k) +
                     ".dat','dat','/bulk/',32,NULL," + std::to_string(k) + ")";
            ASSERT_EQ(SetProperty(SQLF, PROP_SQL, s), 0) << FileError();
        }
        Relate::SQLF->Close();
        KillTables();
    }
    void TearDown() override {
        site_.reset();
        BackendTest::TearDown();  // the test database goes
    }

    std::optional<SearchSite> site_;
};

TEST_F(QFilesStreamTest, FirstRowsShowAtOnceTheRestFollowAndTheCaptionIsFinalAtTheEnd) {
    std::size_t first_count = 0, final_count = 0;
    std::string first_title, final_title;
    long events_during_read = -1;
    bool reading_at_end = true;
    std::vector<std::string> names;
    std::string computer;
    ui::test::RunApp([&] {
        ProgramFrame(false, [&] {
            SearchSite::LoadGlobals();
            QCOMPUTER.Free();
            QCOMPUTER.ClearBuffer();
            QCOMPUTER.NAME = "all computers";
            QCOMPUTER.Add();
            QCOMPUTER.ClearBuffer();
            QCOMPUTER.NAME = "OTHERBOX";
            QCOMPUTER.SYSCOMPUTER = site_->other_id;
            QCOMPUTER.Add();
            COMPUTER.SYSCOMPUTER = site_->this_id;
            G::FILTER1 = "bulkhit";
            G::EXTENSION = "";
            G::SEARCHDIR = 0;
            G::SIZE_FROM = G::SIZE_TO = 0;
            G::SEARCHCOMPUTER = "all computers";
            G::SEARCHSYSCOMPUTER = 0;
            G::STARTCLOCK = ClockTime();
            QFilesWindow w;
            w.READ_ROWS = 100;
            w.on_first_rows = [&](QFilesWindow& q) {
                first_count = q.QFILES.Records();
                first_title = q.WINDOW->Title();
                // A resize while the read goes on is taken between two steps.
                q.WINDOW->Post(ui::Event::Sized);
            };
            w.on_opened = [&](QFilesWindow& q) {
                final_count = q.QFILES.Records();
                final_title = q.WINDOW->Title();
                events_during_read = q.EVENTS_DURING_READ;
                reading_at_end = q.READING;
                QFILES_RECORD e;
                for (std::size_t i = 1; q.QFILES.Peek(i, e); ++i) names.emplace_back(e.NAME.Clip());
                if (q.QFILES.Peek(1, e)) computer = std::string(e.COMPUTER.Clip());
                q.WINDOW->Post(ui::Event::CloseWindow);
            };
            GlobalResponse = w.Run();
            return 0;
        });
    });
    EXPECT_GT(first_count, 0u) << "the window opens with rows";
    EXPECT_LT(first_count, static_cast<std::size_t>(kBulk)) << "and before the read has ended";
    EXPECT_EQ(first_title, "DriveTrek Queue") << "no count before the end";
    EXPECT_EQ(final_count, static_cast<std::size_t>(kBulk));
    EXPECT_TRUE(std::regex_match(
        final_title, std::regex("DriveTrek Queue - 5000 Files \\(\\d\\d:\\d\\d:\\d\\d\\)  all computers")))
        << final_title;
    EXPECT_GE(events_during_read, 1);
    EXPECT_FALSE(reading_at_end);
    ASSERT_EQ(names.size(), static_cast<std::size_t>(kBulk));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end())) << "rows keep the statement's order";
    EXPECT_EQ(computer, "OTHERBOX") << "computer names are filled as the rows arrive";
}

}  // namespace
}  // namespace dt
