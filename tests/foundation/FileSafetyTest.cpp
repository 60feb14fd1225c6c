// Files read and saved for the user: only regular files are read, within the bound, and a save
// cleans up what an earlier save killed half-way left behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "foundation/BoundedFileRead.h"
#include "foundation/FileReplacement.h"
#include "tests/support/KilledSave.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

namespace fs = std::filesystem;

class FileSafetyTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quenbril-file-safety-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { fs::remove_all(folder_); }
    fs::path folder_;
};

TEST_F(FileSafetyTest, AFifoADeviceOrAFolderIsRefusedWithoutWaiting) {
    const fs::path fifo = folder_ / "players.pla";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [&] {
        Error error;
        const bool read = readBoundedFile(fifo, 1024, &error).has_value();
        return std::make_pair(read, error);
    });
    if (read.wait_for(test::scaledDuration(10.0)) != std::future_status::ready) {
        // Release the blocked reader so that the test ends.
        const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
        read.wait();
        FAIL() << "reading a FIFO blocked";
    }
    const auto [done, error] = read.get();
    EXPECT_FALSE(done);
    EXPECT_EQ(error.description, fifo.string() + " is not a regular file");

    Error device, directory;
    EXPECT_FALSE(readBoundedFile("/dev/zero", 1024, &device));
    EXPECT_EQ(device.description, "/dev/zero is not a regular file");
    EXPECT_FALSE(readBoundedFile(folder_, 1024, &directory));
    EXPECT_EQ(directory.code, EISDIR);
}

TEST_F(FileSafetyTest, AFileOverTheBoundIsRefusedAndOneAtItIsRead) {
    const fs::path file = folder_ / "list.wip";
    std::ofstream(file) << std::string(1025, 'x');
    Error error;
    EXPECT_FALSE(readBoundedFile(file, 1024, &error));
    EXPECT_EQ(error.code, EFBIG);
    EXPECT_EQ(error.description, file.string() + " is larger than 1024 bytes");
    fs::resize_file(file, 1024);
    EXPECT_EQ(readBoundedFile(file, 1024, &error)->size(), 1024u);
}

TEST_F(FileSafetyTest, ASaveRemovesWhatAKilledSaveOfTheSameFileLeft) {
    const fs::path target = folder_ / "settings.qcf";
    const fs::path other = folder_ / "other.qcf";
    const auto left = test::leftoversOfAKilledSave(target);
    ASSERT_EQ(left.size(), 1u) << "the killed save left its temporary file";
    const auto otherLeft = test::leftoversOfAKilledSave(other);
    ASSERT_EQ(otherLeft.size(), 1u);
    // Another writer of this process is between its write and its rename: its file stays.
    const fs::path running = target.string() + ".tmp-" + std::to_string(getpid()) + "-Ab3dE9";
    std::ofstream(running) << "half";

    EXPECT_FALSE(replaceFile(target, Bytes{'o', 'k'}));
    EXPECT_FALSE(fs::exists(left[0]));
    EXPECT_TRUE(fs::exists(running));
    EXPECT_TRUE(fs::exists(otherLeft[0])) << "only the same file's leftovers go";
    EXPECT_EQ(fs::file_size(target), 2u);
}

}  // namespace
}  // namespace quenbril
