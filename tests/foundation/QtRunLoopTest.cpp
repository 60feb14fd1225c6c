#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "foundation/dispatch/Queue.h"
#include "foundation/dispatch/TimerSource.h"
#include "foundation/qt/QtRunLoop.h"
#include "tests/foundation/TestSupport.h"

namespace quenbril {
namespace {

class QtRunLoopTest : public testing::Test {
  protected:
    void SetUp() override {
        loop = std::make_unique<QtRunLoop>();
        RunLoop::setMain(loop.get());
    }
    void TearDown() override {
        RunLoop::setMain(nullptr);
        loop.reset();
    }
    /// Runs the Qt event loop until `done` (checked every millisecond) or `seconds` have passed.
    bool runUntil(const std::function<bool()>& done, double seconds = 5.0) {
        QTimer check;
        check.setInterval(1);
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (done()) QCoreApplication::quit();
        });
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::quit(); });
        check.start();
        limit.start(int(seconds * 1000));
        QCoreApplication::exec();
        return done();
    }

    int argc = 1;
    char name[16] = "qt-loop-test";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    std::unique_ptr<QtRunLoop> loop;
};

TEST_F(QtRunLoopTest, PostsFromSeveralThreadsArriveEachThreadInOrder) {
    test::expectPostsFromThreadsArriveInOrder(
        RunLoop::main(), [&](const std::function<bool()>& done) { return runUntil(done); });
}

TEST_F(QtRunLoopTest, TimersFireOnTheLoopAndStopWhenInvalidated) {
    std::vector<std::string> order;
    int repeats = 0;
    Timer late = loop->scheduleTimer(0.03, false, [&] { order.push_back("late"); });
    Timer early = loop->scheduleTimer(0.01, false, [&] { order.push_back("early"); });
    Timer dropped = loop->scheduleTimer(0.005, false, [&] { order.push_back("dropped"); });
    dropped.invalidate();
    Timer repeating;
    repeating = loop->scheduleTimer(0.005, true, [&] {
        if (++repeats == 3) repeating.invalidate();
    });
    // Scheduled from another thread: still fires on the loop.
    Timer fromThread;
    std::thread([&] {
        fromThread = loop->scheduleTimer(0.001, false, [&] {
            EXPECT_TRUE(loop->isCurrentThread());
            order.push_back("thread");
        });
    }).join();
    ASSERT_TRUE(runUntil([&] { return order.size() == 3 && repeats == 3; }));
    EXPECT_EQ(std::count(order.begin(), order.end(), "thread"), 1);
    std::erase(order, "thread");  // its start depends on when the loop took the post
    EXPECT_EQ(order, (std::vector<std::string>{"early", "late"}));
    EXPECT_FALSE(early.isValid());
    EXPECT_FALSE(repeating.isValid());
    // Nothing more fires.
    runUntil([] { return false; }, 0.1);
    EXPECT_EQ(repeats, 3);
    EXPECT_EQ(order.size(), 2u);
}

TEST_F(QtRunLoopTest, MainQueueAndItsTimersRunOnTheQtLoop) {
    auto queue = dispatch::Queue::makeSerial("test.qt.hop");
    std::atomic<int> hops{0};
    int timerFires = 0;
    queue->async([&] {
        dispatch::Queue::main()->async([&] {
            EXPECT_TRUE(loop->isCurrentThread());
            ++hops;
        });
    });
    auto timer = dispatch::TimerSource::make(dispatch::Queue::main());
    timer->setEventHandler([&] {
        EXPECT_TRUE(loop->isCurrentThread());
        ++timerFires;
    });
    timer->setTimer(0.01, 0.01);
    timer->resume();
    ASSERT_TRUE(runUntil([&] { return hops == 1 && timerFires >= 3; }));
    bool cancelled = false;
    timer->setCancelHandler([&] { cancelled = true; });
    timer->cancel();
    ASSERT_TRUE(runUntil([&] { return cancelled; }));
}

TEST_F(QtRunLoopTest, WatchedDescriptorIsServedUntilCancelled) {
    test::expectWatchServedUntilCancelled(
        *loop,
        [&](const std::function<bool()>& done, double seconds) { return runUntil(done, seconds); });
}

}  // namespace
}  // namespace quenbril
