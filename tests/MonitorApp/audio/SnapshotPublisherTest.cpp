#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "MonitorApp/audio/SnapshotPublisher.h"

namespace quenbril::test {
namespace {

// A snapshot whose every entry equals its generation, so a torn or freed one shows.
struct Numbers {
    explicit Numbers(int generation) : values(64, generation) {}
    std::vector<int> values;
};

TEST(SnapshotPublisherTest, AReplacedSnapshotLivesWhileAReaderHoldsIt) {
    SnapshotPublisher<Numbers, 2> publisher;
    EXPECT_EQ(publisher.read(0).get(), nullptr);
    publisher.publish(std::make_unique<Numbers>(1));
    {
        auto held = publisher.read(1);
        ASSERT_NE(held.get(), nullptr);
        publisher.publish(std::make_unique<Numbers>(2));
        EXPECT_EQ(publisher.retiredCount(), 1u);
        EXPECT_EQ(held->values[10], 1);  // still the one it took
        EXPECT_EQ(publisher.read(0)->values[0], 2);
    }
    publisher.collect();
    EXPECT_EQ(publisher.retiredCount(), 0u);
    publisher.publish(std::make_unique<Numbers>(3));
    EXPECT_EQ(publisher.retiredCount(), 0u);  // nobody held generation 2
}

TEST(SnapshotPublisherTest, ReadersNeverSeeAFreedOrTornSnapshot) {
    SnapshotPublisher<Numbers, 2> publisher;
    publisher.publish(std::make_unique<Numbers>(0));
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    auto reader = [&](int slot) {
        while (!done.load()) {
            auto snapshot = publisher.read(slot);
            const int first = snapshot->values.front();
            for (int v : snapshot->values) {
                if (v != first) bad.fetch_add(1);
            }
        }
    };
    std::thread capture(reader, 0);
    std::thread output(reader, 1);
    for (int generation = 1; generation < 5000; ++generation) {
        publisher.publish(std::make_unique<Numbers>(generation));
    }
    done.store(true);
    capture.join();
    output.join();
    publisher.drain();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(publisher.retiredCount(), 0u);
}

}  // namespace
}  // namespace quenbril::test
