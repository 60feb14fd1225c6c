// The player file on disk: what a save leaves there and why a file is refused.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "MonitorApp/panels/PlayerFile.h"
#include "foundation/PropertyList.h"
#include "tests/support/DeepPlist.h"
#include "tests/support/KilledSave.h"
#include "tests/support/TemporaryFolderTest.h"

namespace quenbril {
namespace {

class PlayerFileTest : public TemporaryFolderTest {
  protected:
    PlayerFileTest() : TemporaryFolderTest("/tmp/quenbril-playerfile-XXXXXX") {}
    size_t filesInFolder() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder_),
                                                 std::filesystem::directory_iterator()));
    }
};

const Array kCast{
    Dictionary{{"Name", "Ann"},
               {"RoleName", "Lead"},
               {"Image", Bytes{0xFF, 0xD8, 0xFF}},
               {"Comments", "Mic 1, \"<b>\" & more"}},
    Dictionary{{"Name", "Bob"}, {"RoleName", ""}, {"Image", Bytes{}}, {"Comments", ""}},
};

TEST_F(PlayerFileTest, AWrittenFileIsAnXmlListThatReadsBackEqualAndReplacesTheOldOneWhole) {
    const std::string file = path("Cast.pla");
    put(file, "an older, longer file that must not leave a tail behind it");
    Error error;
    ASSERT_TRUE(PlayerFile::write(kCast, file, &error)) << error.description;
    EXPECT_EQ(contents(file).rfind("<?xml", 0), 0u);
    EXPECT_EQ(PlayerFile::read(file, &error), kCast);
    // Written beside the old file and renamed over it: no temporary file stays.
    EXPECT_EQ(filesInFolder(), 1u);
}

TEST_F(PlayerFileTest, AFileOver64MiBIsRefusedAndOneOfExactly64MiBIsRead) {
    // Sparse files: their zeros cost no disk. A file of the limit is read (and then found to be
    // no property list); one byte more is refused as too large.
    const std::string atLimit = path("AtLimit.pla");
    const std::string over = path("Over.pla");
    put(atLimit, "");
    put(over, "");
    std::filesystem::resize_file(atLimit, PlayerFile::kMaxFileSize);
    std::filesystem::resize_file(over, PlayerFile::kMaxFileSize + 1);
    Error error;
    EXPECT_FALSE(PlayerFile::read(over, &error));
    EXPECT_EQ(error.code, EFBIG);
    EXPECT_NE(error.description.find(over), std::string::npos);
    EXPECT_NE(error.description.find("64 MiB"), std::string::npos);
    EXPECT_FALSE(PlayerFile::read(atLimit, &error));
    EXPECT_NE(error.code, EFBIG);
}

TEST_F(PlayerFileTest, AFileNestedPastAnyBoundIsRefusedAsNoList) {
    const std::string file = path("Deep.pla");
    put(file, test::deepXmlPlist(test::kCrashingDepth));
    Error error;
    EXPECT_FALSE(PlayerFile::read(file, &error));
    EXPECT_EQ(error.domain, PlayerFile::kErrorDomain);
    EXPECT_EQ(error.code, PropertyList::kTooDeep);
    EXPECT_NE(error.description.find(file), std::string::npos) << error.description;
}

TEST_F(PlayerFileTest, AFifoIsRefusedAndASaveClearsWhatAKilledSaveLeft) {
    const std::string fifo = path("Pipe.pla");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Error error;
    EXPECT_FALSE(PlayerFile::read(fifo, &error));  // would block for ever if it were opened
    EXPECT_NE(error.description.find(fifo + " is not a regular file"), std::string::npos)
        << error.description;

    const std::string file = path("Cast.pla");
    const auto left = test::leftoversOfAKilledSave(file);
    ASSERT_EQ(left.size(), 1u);
    ASSERT_TRUE(PlayerFile::write(kCast, file, &error)) << error.description;
    EXPECT_FALSE(std::filesystem::exists(left[0]));
}

TEST_F(PlayerFileTest, AWriteThatCannotHappenSaysWhyAndLeavesNoFile) {
    const std::string file = path("No such folder/Cast.pla");
    Error error;
    EXPECT_FALSE(PlayerFile::write(kCast, file, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.description.find(file), std::string::npos);
    EXPECT_EQ(filesInFolder(), 0u);
}

}  // namespace
}  // namespace quenbril
