#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "foundation/ManualRunLoop.h"
#include "foundation/Value.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

/// The whole content of a file; empty when it cannot be read.
inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

/// One of the keyed archives under tests/data/keyed-archives.
inline Bytes archiveFixture(const std::string& name) {
    Bytes bytes = readFile(std::string(QUENBRIL_TEST_DATA) + "/keyed-archives/" + name);
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

/// A virtual-time loop installed as the main run loop for the length of a test.
class MainLoopTest : public testing::Test {
  protected:
    void SetUp() override { RunLoop::setMain(&loop); }
    void TearDown() override { RunLoop::setMain(nullptr); }
    bool waitFor(const std::function<bool()>& done) { return loop.runUntil(done, 5.0); }
    ManualRunLoop loop{0.0};
};

/// Posts to `loop` from several threads, then `run(done)` runs the loop until `done()` holds.
/// Every post must run on the loop's thread, each thread's posts in order.
template <typename Run>
void expectPostsFromThreadsArriveInOrder(RunLoop& loop, Run run) {
    constexpr int kThreads = 4, kPosts = 300;
    std::vector<std::vector<int>> seen(kThreads);
    std::atomic<int> total{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPosts; ++i) {
                loop.post([&, t, i] {
                    EXPECT_TRUE(loop.isCurrentThread());
                    seen[t].push_back(i);
                    ++total;
                });
            }
        });
    }
    EXPECT_TRUE(run([&] { return total == kThreads * kPosts; }));
    for (auto& thread : threads) thread.join();
    std::vector<int> expected(kPosts);
    std::iota(expected.begin(), expected.end(), 0);
    for (const auto& list : seen) EXPECT_EQ(list, expected);
}

/// Watches one end of a socket pair on `loop`, written from another thread: the loop reads the
/// bytes until the watch is cancelled. `run(done, seconds)` runs the loop until `done()` holds.
template <typename Run>
void expectWatchServedUntilCancelled(RunLoop& loop, Run run) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    std::string got;
    DescriptorWatch watch = loop.watchDescriptor(fds[0], RunLoop::Condition::Readable, [&] {
        char buffer[16];
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0) got.append(buffer, size_t(n));
    });
    std::thread writer([&] { EXPECT_EQ(write(fds[1], "abc", 3), 3); });
    EXPECT_TRUE(run([&] { return got == "abc"; }, 5.0));
    writer.join();
    watch.cancel();
    EXPECT_EQ(write(fds[1], "!", 1), 1);  // left unread: a live watch would fire at once
    run([] { return false; }, 0.1);
    EXPECT_EQ(got, "abc");
    close(fds[0]);
    close(fds[1]);
}

}  // namespace quenbril::test
