#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "foundation/dispatch/Reactor.h"
#include "foundation/dispatch/Semaphore.h"
#include "foundation/dispatch/TimerSource.h"
#include "tests/foundation/TestSupport.h"

namespace quenbril::dispatch {
namespace {

using TimerSourceTest = test::MainLoopTest;

TEST_F(TimerSourceTest, MainQueueTimersFollowTheVirtualClock) {
    auto once = TimerSource::make(Queue::main());
    auto repeating = TimerSource::make(Queue::main());
    std::vector<double> onceFired, fired;
    bool cancelled = false;
    once->setEventHandler([&] {
        EXPECT_EQ(once->data(), 1u);
        onceFired.push_back(loop.now());
    });
    once->setTimer(5.0);
    once->resume();
    repeating->setEventHandler([&] { fired.push_back(loop.now()); });
    repeating->setCancelHandler([&] { cancelled = true; });
    repeating->setTimer(1.0, 0.5);
    repeating->resume();
    auto never = TimerSource::make(Queue::main());
    never->setEventHandler([] { ADD_FAILURE() << "a timer set to never fired"; });
    never->setTimer(0.01);
    never->setTimer(TimerSource::kNever);
    never->resume();
    EXPECT_FALSE(loop.runUntil([&] { return !fired.empty(); }, 0.05)) << "real time is not virtual";
    loop.advance(2.2);
    EXPECT_EQ(fired, (std::vector<double>{1.0, 1.5, 2.0}));
    repeating->setTimer(0.25, 0.25);  // re-set: the earlier schedule is gone
    loop.advance(0.5);
    EXPECT_EQ(fired, (std::vector<double>{1.0, 1.5, 2.0, 2.45, 2.7}));
    repeating->cancel();
    loop.advance(2.0);
    EXPECT_TRUE(onceFired.empty());
    loop.advance(100.0);
    EXPECT_EQ(fired.size(), 5u);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(onceFired, (std::vector<double>{5.0})) << "a one-shot timer fires once";
    once->cancel();
    never->cancel();
    loop.runPending();
}

TEST_F(TimerSourceTest, SuspendedTimerCountsItsFires) {
    auto timer = TimerSource::make(Queue::main());
    std::vector<uint64_t> counts;
    timer->setEventHandler([&] { counts.push_back(timer->data()); });
    timer->setTimer(1.0, 1.0);
    timer->resume();
    loop.advance(1.0);
    timer->suspend();
    loop.advance(3.0);
    EXPECT_EQ(counts, (std::vector<uint64_t>{1}));
    timer->resume();
    loop.runPending();
    EXPECT_EQ(counts, (std::vector<uint64_t>{1, 3}));
    // A timer set anew while a fire waits drops that fire with its old setting.
    timer->suspend();
    loop.advance(1.0);
    timer->setTimer(10.0);
    timer->resume();
    loop.advance(9.9);
    EXPECT_EQ(counts, (std::vector<uint64_t>{1, 3}));
    loop.advance(0.1);
    EXPECT_EQ(counts, (std::vector<uint64_t>{1, 3, 1}));
    timer->cancel();
    loop.runPending();
}

TEST_F(TimerSourceTest, SerialQueueTimerFollowsRealTime) {
    QueuePtr queue = Queue::makeSerial("test.timer");
    auto timer = TimerSource::make(queue);
    std::mutex mutex;
    std::vector<double> fired;
    double start = Reactor::monotonicNow();
    timer->setEventHandler([&] {
        EXPECT_TRUE(queue->isCurrent());
        std::lock_guard lock(mutex);
        fired.push_back(Reactor::monotonicNow() - start);
    });
    timer->setTimer(0.03, 0.02);
    timer->resume();
    auto count = [&] {
        std::lock_guard lock(mutex);
        return fired.size();
    };
    ASSERT_TRUE(waitFor([&] { return count() >= 3; }));
    double virtualBefore = loop.now();
    Semaphore cancelled;
    timer->setCancelHandler([&] { cancelled.signal(); });
    timer->cancel();
    ASSERT_TRUE(cancelled.wait(test::scaledSeconds(5.0)));
    size_t after = count();
    EXPECT_FALSE(loop.runUntil([&] { return count() > after; }, 0.06));
    std::lock_guard lock(mutex);
    EXPECT_GE(fired[0], 0.03);
    EXPECT_GE(fired[2], 0.07);
    EXPECT_EQ(loop.now(), virtualBefore);
}

}  // namespace
}  // namespace quenbril::dispatch
