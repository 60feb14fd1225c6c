#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "foundation/ManualRunLoop.h"
#include "foundation/dispatch/Reactor.h"
#include "foundation/dispatch/Semaphore.h"
#include "foundation/dispatch/TimerSource.h"

namespace quenbril::dispatch {
namespace {

class TimerSourceTest : public testing::Test {
  protected:
    void SetUp() override { RunLoop::setMain(&loop); }
    void TearDown() override { RunLoop::setMain(nullptr); }
    ManualRunLoop loop{100.0};
};

TEST_F(TimerSourceTest, MainQueueTimerFollowsTheVirtualClock) {
    auto timer = TimerSource::make(Queue::main());
    std::vector<double> fired;
    timer->setEventHandler([&] {
        EXPECT_EQ(timer->data(), 1u);
        fired.push_back(loop.now());
    });
    timer->setTimer(5.0);
    timer->resume();
    EXPECT_FALSE(loop.runUntil([&] { return !fired.empty(); }, 0.05));
    loop.advance(4.99);
    EXPECT_TRUE(fired.empty());
    loop.advance(0.01);
    EXPECT_EQ(fired, (std::vector<double>{105.0}));
    loop.advance(100.0);  // one-shot
    EXPECT_EQ(fired.size(), 1u);
    timer->cancel();
    loop.runPending();
}

TEST_F(TimerSourceTest, RepeatingMainQueueTimerKeepsItsPeriodAndStopsOnCancel) {
    auto timer = TimerSource::make(Queue::main());
    std::vector<double> fired;
    bool cancelled = false;
    timer->setEventHandler([&] { fired.push_back(loop.now()); });
    timer->setCancelHandler([&] { cancelled = true; });
    timer->setTimer(1.0, 0.5);
    timer->resume();
    loop.advance(2.2);
    EXPECT_EQ(fired, (std::vector<double>{101.0, 101.5, 102.0}));
    timer->setTimer(0.25, 0.25);  // re-set: the earlier schedule is gone
    loop.advance(0.5);
    EXPECT_EQ(fired, (std::vector<double>{101.0, 101.5, 102.0, 102.45, 102.7}));
    timer->cancel();
    loop.advance(10.0);
    EXPECT_EQ(fired.size(), 5u);
    EXPECT_TRUE(cancelled);
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
    ASSERT_TRUE(loop.runUntil([&] { return count() >= 3; }, 5.0));
    double virtualBefore = loop.now();
    Semaphore cancelled;
    timer->setCancelHandler([&] { cancelled.signal(); });
    timer->cancel();
    ASSERT_TRUE(cancelled.wait(5.0));
    size_t after = count();
    EXPECT_FALSE(loop.runUntil([&] { return count() > after; }, 0.06));
    std::lock_guard lock(mutex);
    EXPECT_GE(fired[0], 0.03);
    EXPECT_GE(fired[2], 0.07);
    EXPECT_EQ(loop.now(), virtualBefore);
}

TEST_F(TimerSourceTest, TimerSetToNeverDoesNotFire) {
    QueuePtr queue = Queue::makeSerial("test.never");
    auto timer = TimerSource::make(queue);
    std::atomic<int> fired{0};
    timer->setEventHandler([&] { ++fired; });
    timer->setTimer(0.01);
    timer->setTimer(TimerSource::kNever);
    timer->resume();
    EXPECT_FALSE(loop.runUntil([&] { return fired > 0; }, 0.05));
    timer->cancel();
}

}  // namespace
}  // namespace quenbril::dispatch
