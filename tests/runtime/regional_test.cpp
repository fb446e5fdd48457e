#include "runtime/picture.h"
#include "runtime/regional.h"
#include "runtime/stddate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <optional>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace dt {
namespace {

// A temporary system profile, pointed to by DRIVETREK_PROFILE while the test runs.
class RegionalProfile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        path_ = dir_ / "win.ini";
        profile_.emplace("DRIVETREK_PROFILE", path_.c_str());
        ResetRegionalSettings();
    }
    void TearDown() override {
        profile_.reset();
        ResetRegionalSettings();
    }
    void Write(const std::string& text) { std::ofstream(path_) << text; }

    test::TempDir dir_{"dt_regional_"};
    std::string path_;
    std::optional<test::ScopedEnv> profile_;
};

TEST_F(RegionalProfile, DefaultsWithoutAProfile) {
    const RegionalSettings r = ReadRegionalSettings();
    EXPECT_EQ(r.iTime, 0);
    EXPECT_EQ(r.iTLzero, 1);
    EXPECT_EQ(r.sTime, ":");
    EXPECT_EQ(r.s1159, "AM");
    EXPECT_EQ(r.s2359, "PM");
    EXPECT_EQ(r.sShortDate, "MM/dd/yy");
    EXPECT_EQ(r.sLongDate, "ddd', 'MMMM' 'dd', 'yyyy");
}

TEST_F(RegionalProfile, ValuesComeFromTheIntlSection) {
    Write("[other]\niTime=0\n[INTL]\nitime=1\niTLzero=zero\nsTime=.\nsShortDate=dd.MM.yyyy\ns2359=h\n");
    const RegionalSettings r = ReadRegionalSettings(path_);
    EXPECT_EQ(r.iTime, 1) << "section and key names ignore case";
    EXPECT_EQ(r.iTLzero, 1) << "a number that is no number keeps its default";
    EXPECT_EQ(r.sTime, ".");
    EXPECT_EQ(r.sShortDate, "dd.MM.yyyy");
    EXPECT_EQ(r.s2359, "h");
    EXPECT_EQ(r.s1159, "AM");
}

TEST_F(RegionalProfile, ReadOnceOnFirstUseAndSharedByThreads) {
    Write("[intl]\niTime=1\nsShortDate=yyyy-MM-dd\n");
    std::vector<std::shared_ptr<const RegionalSettings>> seen(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = Regional(); });
    for (auto& t : threads) t.join();
    for (const auto& s : seen) EXPECT_EQ(s, seen[0]) << "one reading, shared";
    EXPECT_EQ(seen[0]->iTime, 1);
    EXPECT_EQ(Format(MakeDate(2024, 3, 9), "@d17"), "2024-03-09");
    EXPECT_EQ(Format(MakeTime(15, 4, 0, 0), "@t7"), "15:04");

    // A later change of the file is not seen until the settings are read again.
    Write("[intl]\nsShortDate=dd/MM/yyyy\n");
    EXPECT_EQ(Format(MakeDate(2024, 3, 9), "@d17"), "2024-03-09");
    ResetRegionalSettings();
    EXPECT_EQ(Format(MakeDate(2024, 3, 9), "@d17"), "09/03/2024");

    // Settings set explicitly win, and a holder keeps what it had.
    const auto before = Regional();
    RegionalSettings fixed;
    fixed.sShortDate = "M/d/yyyy";
    SetRegionalSettings(fixed);
    EXPECT_EQ(Format(MakeDate(2024, 3, 9), "@d17"), "3/9/2024");
    EXPECT_EQ(before->sShortDate, "dd/MM/yyyy");
}

}  // namespace
}  // namespace dt
