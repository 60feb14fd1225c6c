#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/audio/SoundCardWatch.h"
#include "tests/support/Eventually.h"

namespace quenbril::test {
namespace {

// A folder standing in for /dev, whose "snd" folder comes and goes as on a machine whose only
// card is plugged in and out.
TEST(SoundCardWatch, CountsNodesAndTheFolderComingAndGoingEvenIfItWasNotThere) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quenbril-dev-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dev(pattern);
    const std::filesystem::path snd = dev / "snd";
    {
        SoundCardWatch watch(snd.string());
        EXPECT_EQ(watch.changes(), 0u);
        std::ofstream(dev / "tty5").put('x');  // not a sound card
        std::filesystem::create_directory(snd);
        ASSERT_TRUE(eventually([&] { return watch.changes() >= 1; }));
        // The folder came: its nodes are watched from now on.
        uint64_t seen = watch.changes();
        std::ofstream(snd / "controlC1").put('x');
        ASSERT_TRUE(eventually([&] { return watch.changes() > seen; }));
        seen = watch.changes();
        std::filesystem::remove(snd / "controlC1");
        ASSERT_TRUE(eventually([&] { return watch.changes() > seen; }));
        seen = watch.changes();
        std::filesystem::remove(snd);
        ASSERT_TRUE(eventually([&] { return watch.changes() > seen; }));
    }
    std::filesystem::remove_all(dev);
}

}  // namespace
}  // namespace quenbril::test
