#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "DarIrudovOzuzari/PendingCrashReports.h"
#include "tests/DarIrudovOzuzari/TemporaryCacheTest.h"

namespace quenbril {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

// A report name for a crash `seconds` after an arbitrary start.
std::string reportName(int seconds) {
    char name[64];
    std::snprintf(name, sizeof name, "crash-%012d-100.txt", 1700000000 + seconds);
    return name;
}

class PendingCrashReportsTest : public TemporaryCacheTest {
  protected:
    void SetUp() override {
        TemporaryCacheTest::SetUp();
        std::filesystem::create_directories(reported_);
    }

    std::vector<std::string> collectWithLog(std::string* log) {
        testing::internal::CaptureStderr();
        std::vector<std::string> names = PendingCrashReports::collect(CrashReportFolders(pending_));
        *log = testing::internal::GetCapturedStderr();
        return names;
    }
};

TEST_F(PendingCrashReportsTest, NamesEachPendingReportOnceOldestFirst) {
    writeFile(pending_ + "/" + reportName(20), "second");
    writeFile(pending_ + "/" + reportName(10), "first");

    std::string log;
    EXPECT_THAT(collectWithLog(&log), ElementsAre(reportName(10), reportName(20)));
    std::string::size_type first = log.find(reportName(10));
    std::string::size_type second = log.find(reportName(20));
    ASSERT_NE(first, std::string::npos) << log;
    ASSERT_NE(second, std::string::npos) << log;
    EXPECT_LT(first, second);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_EQ(contentsOf(reported_ + "/" + reportName(10)), "first");

    EXPECT_THAT(collectWithLog(&log), IsEmpty());
    EXPECT_EQ(log, "");
}

TEST_F(PendingCrashReportsTest, OtherFilesAndFoldersAreLeftAlone) {
    writeFile(pending_ + "/notes.txt", "mine");
    std::filesystem::create_directories(pending_ + "/" + reportName(1));

    std::string log;
    EXPECT_THAT(collectWithLog(&log), IsEmpty());
    EXPECT_EQ(log, "");
    EXPECT_TRUE(std::filesystem::exists(pending_ + "/notes.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(pending_ + "/" + reportName(1)));
}

TEST_F(PendingCrashReportsTest, KeepsTheNewestTenReported) {
    for (int i = 0; i < 12; ++i) writeFile(reported_ + "/" + reportName(i), "old");
    writeFile(reported_ + "/keep-me.txt", "not a report");
    writeFile(pending_ + "/" + reportName(100), "new");

    std::string log;
    collectWithLog(&log);

    std::vector<std::string> kept = PendingCrashReports::reportNames(reported_);
    std::vector<std::string> newest;
    for (int i = 3; i < 12; ++i) newest.push_back(reportName(i));
    newest.push_back(reportName(100));
    EXPECT_EQ(kept, newest);
    EXPECT_TRUE(std::filesystem::exists(reported_ + "/keep-me.txt"));
}

TEST_F(PendingCrashReportsTest, TenOrFewerReportedAreAllKept) {
    for (int i = 0; i < 9; ++i) writeFile(reported_ + "/" + reportName(i), "old");
    writeFile(pending_ + "/" + reportName(100), "new");

    std::string log;
    collectWithLog(&log);
    EXPECT_EQ(PendingCrashReports::reportNames(reported_).size(), 10u);
}

TEST_F(PendingCrashReportsTest, AReportThatCannotBeMovedIsNamedOnceAndRemoved) {
    std::filesystem::remove_all(reported_);
    writeFile(reported_, "a file where the folder should be");
    writeFile(pending_ + "/" + reportName(1), "report");

    std::string log;
    EXPECT_THAT(collectWithLog(&log), ElementsAre(reportName(1)));
    EXPECT_THAT(log, HasSubstr(reportName(1)));
    EXPECT_THAT(log, HasSubstr("is removed"));
    EXPECT_THAT(PendingCrashReports::reportNames(pending_), IsEmpty());

    EXPECT_THAT(collectWithLog(&log), IsEmpty());
    EXPECT_EQ(log, "");
}

TEST_F(PendingCrashReportsTest, NoFolderYetMeansNothingPending) {
    std::filesystem::remove_all(pending_);
    std::string log;
    EXPECT_THAT(collectWithLog(&log), IsEmpty());
    EXPECT_EQ(log, "");
}

}  // namespace
}  // namespace quenbril
