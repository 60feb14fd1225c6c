#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "foundation/NotificationCenter.h"

namespace quenbril {
namespace {

TEST(NotificationCenter, DeliversInRegistrationOrderAndAPostFromAnObserverWhole) {
    NotificationCenter center;
    std::vector<std::string> calls;
    auto a = center.addObserver("SettingsChanged", [&](const Notification& n) {
        calls.push_back("a:" + n.name + ":" + n.userInfo["lockOn"].description());
        center.post("QuenbrilLocked", {{"depth", 1}});  // delivered whole before b's turn
    });
    auto other = center.addObserver("QuenbrilLocked", [&](const Notification& n) {
        calls.push_back("inner" + n.userInfo["depth"].description());
    });
    auto b =
        center.addObserver("SettingsChanged", [&](const Notification&) { calls.push_back("b"); });
    center.post("SettingsChanged", {{"lockOn", true}});
    center.post("NobodyListens");
    EXPECT_EQ(calls, (std::vector<std::string>{"a:SettingsChanged:true", "inner1", "b"}));
}

TEST(NotificationCenter, DestroyingResettingOrReplacingATokenRemovesTheObserver) {
    NotificationCenter center;
    int first = 0, second = 0, third = 0;
    auto token = center.addObserver("N", [&](const Notification&) { ++first; });
    {
        auto scoped = center.addObserver("N", [&](const Notification&) { ++second; });
        center.post("N");
    }
    center.post("N");
    EXPECT_EQ(second, 1);

    NotificationObserver moved = std::move(token);
    center.post("N");
    EXPECT_EQ(first, 3) << "moving keeps the registration";

    moved = center.addObserver("N", [&](const Notification&) { ++third; });
    center.post("N");
    EXPECT_EQ(first, 3) << "assigning removes the old observer";
    EXPECT_EQ(third, 1);
    moved.reset();
    EXPECT_FALSE(moved);
    center.post("N");
    EXPECT_EQ(third, 1);

    EXPECT_FALSE(center.addObserver("N", nullptr)) << "an empty callback registers nothing";

    // A token may outlive its centre.
    auto survivor = std::make_unique<NotificationCenter>();
    moved = survivor->addObserver("N", [](const Notification&) {});
    survivor.reset();
    moved.reset();
}

TEST(NotificationCenter, ObserversRemovedOrAddedDuringADeliveryCountFromThen) {
    NotificationCenter center;
    std::vector<std::string> calls;
    NotificationObserver first, self, later, added;
    first = center.addObserver("N", [&](const Notification&) { calls.push_back("first"); });
    self = center.addObserver("N", [&](const Notification&) {
        calls.push_back("self");
        self.reset();   // its own registration, while its callback runs
        first.reset();  // one already called
        later.reset();  // one still to come in this post
        // One added now waits for the next post.
        added = center.addObserver("N", [&](const Notification&) { calls.push_back("added"); });
    });
    later = center.addObserver("N", [&](const Notification&) { calls.push_back("later"); });
    center.post("N");
    center.post("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "self", "added"}));
}

TEST(NotificationCenter, AnExceptionReachesThePosterAndLeavesTheCentreUsable) {
    NotificationCenter center;
    int calls = 0;
    auto thrower = center.addObserver("N", [&](const Notification&) {
        ++calls;
        throw std::runtime_error("observer failed");
    });
    EXPECT_THROW(center.post("N"), std::runtime_error);
    thrower.reset();  // would wait forever if the failed call were still counted as running
    center.post("N");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, RemovalWaitsForACallRunningOnAnotherThread) {
    NotificationCenter center;
    std::atomic<bool> entered{false}, removing{false}, finished{false};
    // The state the callback uses is destroyed right after the removal, as an observer's owner
    // would destroy itself; under AddressSanitizer a use after that is caught.
    auto owned = std::make_unique<int>(0);
    int* state = owned.get();
    auto token = center.addObserver("N", [&, state](const Notification&) {
        entered = true;
        while (!removing) std::this_thread::yield();
        // Give a removal that does not wait every chance to return first.
        for (int i = 0; i < 1000; ++i) std::this_thread::yield();
        ++*state;
        finished = true;
    });
    std::thread poster([&] { center.post("N"); });
    while (!entered) std::this_thread::yield();
    removing = true;
    token.reset();
    EXPECT_TRUE(finished);
    owned.reset();
    poster.join();
}

TEST(NotificationCenter, PostingAddingAndRemovingFromSeveralThreads) {
    NotificationCenter center;
    std::atomic<int> steady{0};
    auto counter = center.addObserver("N", [&](const Notification&) { ++steady; });

    constexpr int kPosters = 4;
    constexpr int kPosts = 2000;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kPosters; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kPosts; ++i) center.post("N");
        });
    }
    // Observers come and go while the posts run; each owns state destroyed after removal.
    std::thread churn([&] {
        while (!stop) {
            auto data = std::make_shared<std::vector<int>>(16, 1);
            auto token = center.addObserver("N", [raw = data.get()](const Notification&) {
                volatile int sum = 0;
                for (int v : *raw) sum = sum + v;
            });
            token.reset();
            data.reset();
        }
    });
    for (std::thread& thread : threads) thread.join();
    stop = true;
    churn.join();
    EXPECT_EQ(steady.load(), kPosters * kPosts);
}

}  // namespace
}  // namespace quenbril
