#include <gtest/gtest.h>

#include <filesystem>

#include "DarIrudovOzuzari/CrashReportFolders.h"
#include "tests/DarIrudovOzuzari/TemporaryCacheTest.h"

namespace quenbril {
namespace {

class CrashReportFoldersTest : public TemporaryCacheTest {};

TEST_F(CrashReportFoldersTest, LiveUnderTheCacheHomeAndAreMadeWithTheirParents) {
    CrashReportFolders folders = CrashReportFolders::fromEnvironment();
    EXPECT_EQ(folders.pending(), pending_);
    EXPECT_EQ(folders.reported(), reported_);

    EXPECT_TRUE(folders.make());
    EXPECT_TRUE(std::filesystem::is_directory(reported_));
}

TEST_F(CrashReportFoldersTest, ARelativeOrMissingCacheHomeMeansDotCacheInHome) {
    std::optional<std::string> savedHome;
    if (const char* home = std::getenv("HOME")) savedHome = home;
    setenv("HOME", root_.c_str(), 1);

    setenv("XDG_CACHE_HOME", "relative/cache", 1);
    EXPECT_EQ(CrashReportFolders::fromEnvironment().pending(), root_ + "/.cache/Quenbril/crashes");
    unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(CrashReportFolders::fromEnvironment().pending(), root_ + "/.cache/Quenbril/crashes");

    if (savedHome) {
        setenv("HOME", savedHome->c_str(), 1);
    } else {
        unsetenv("HOME");
    }
}

TEST_F(CrashReportFoldersTest, MakeFailsWhereAFileStandsInTheWay) {
    std::filesystem::create_directories(pending_);
    writeFile(reported_, "not a folder");
    EXPECT_FALSE(CrashReportFolders::fromEnvironment().make());
}

}  // namespace
}  // namespace quenbril
