#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/audio/HostLookThread.h"
#include "tests/support/Eventually.h"

namespace quenbril::test {
namespace {

// The host is looked at once per change of its sign, with the sign it changed to, and never
// while it stays the same.
TEST(HostLookThread, LooksOncePerChangeOfTheSign) {
    std::atomic<uint64_t> sign{7};
    std::atomic<int> looks{0};
    std::atomic<uint64_t> lookedAt{0};
    HostLookThread thread(
        7, [&] { return sign.load(); },
        [&](uint64_t at) {
            lookedAt = at;
            looks.fetch_add(1);
        },
        0.005);
    sign = 8;
    ASSERT_TRUE(eventually([&] { return looks.load() == 1; }));
    EXPECT_EQ(lookedAt.load(), 8u);
    sign = 9;
    ASSERT_TRUE(eventually([&] { return looks.load() == 2; }));
    EXPECT_EQ(lookedAt.load(), 9u);
    // Many intervals with nothing changed: the count stays.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(looks.load(), 2);
}

}  // namespace
}  // namespace quenbril::test
