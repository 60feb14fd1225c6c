#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "foundation/dispatch/DescriptorSource.h"
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
    /// Runs the Qt event loop until `done` (checked every millisecond) or `seconds` of a plain
    /// build have passed (stretched for this one, as ManualRunLoop::runUntil does).
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
        limit.start(int(test::scaledSeconds(seconds) * 1000));
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

// A chain of posts (a socket's read done, its delegate asking for the next) goes on within one
// turn of Qt's loop: a loop that also paints slowly keeps up with its input.
TEST_F(QtRunLoopTest, TasksPostedByATaskRunInTheSameTurnOfQtsLoop) {
    constexpr int kSteps = 100;
    std::vector<int> steps;
    std::function<void()> step = [&] {
        steps.push_back(static_cast<int>(steps.size()));
        if (steps.size() < kSteps) loop->post(step);
    };
    loop->post(step);
    int turns = 0;
    while (steps.size() < kSteps && turns < 10 * kSteps) {
        QCoreApplication::processEvents();
        ++turns;
    }
    ASSERT_EQ(steps.size(), size_t{kSteps});
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
    // One turn, or a few where the machine took the thread away for a whole budget; one task a
    // turn would take all of them.
    EXPECT_LE(turns, kSteps / 4);
}

// A task that posts itself without end has its turn end after the budget: Qt's timers and
// events still come.
TEST_F(QtRunLoopTest, ATaskPostingItselfWithoutEndLeavesQtsEventsTheirTurn) {
    bool fired = false, invoked = false, stop = false;
    size_t runs = 0;
    std::function<void()> again = [&] {
        ++runs;
        if (!stop) loop->post(again);
    };
    loop->post(again);
    QTimer::singleShot(1, [&] { fired = true; });
    QObject other;
    QMetaObject::invokeMethod(
        &other, [&] { invoked = true; }, Qt::QueuedConnection);
    const auto until = std::chrono::steady_clock::now() + test::scaledDuration(5.0);
    while (!(fired && invoked) && std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents();
    }
    stop = true;
    EXPECT_TRUE(fired);
    EXPECT_TRUE(invoked);
    EXPECT_GT(runs, 1u);
    QCoreApplication::processEvents();
}

// A task may run a loop of its own (a modal dialog): what is posted meanwhile runs in that loop.
TEST_F(QtRunLoopTest, PostsMadeWhileATaskRunsALoopOfItsOwnRunInThatLoop) {
    bool inner = false, innerRanInside = false, outerDone = false;
    loop->post([&] {
        loop->post([&] { inner = true; });
        QEventLoop modal;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (inner) modal.quit();
        });
        check.start(1);
        QTimer::singleShot(test::scaledMs(5000), &modal, &QEventLoop::quit);
        modal.exec();
        innerRanInside = inner;
        outerDone = true;
    });
    ASSERT_TRUE(runUntil([&] { return outerDone; }, 10.0));
    EXPECT_TRUE(innerRanInside);
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

TEST_F(QtRunLoopTest, MainQueueDescriptorSourceIsServedByTheQtLoop) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    auto source = dispatch::DescriptorSource::makeRead(pair[0], dispatch::Queue::main());
    std::vector<uint64_t> seen;
    int closes = 0;
    source->setEventHandler([&, fd = pair[0]] {
        EXPECT_TRUE(loop->isCurrentThread());
        seen.push_back(source->data());
        char byte;
        EXPECT_EQ(read(fd, &byte, 1), 1);  // one byte per run: the source fires again
    });
    source->setCancelHandler([&, fd = pair[0]] {
        ++closes;
        close(fd);
    });
    source->resume();
    ASSERT_EQ(write(pair[1], "abc", 3), 3);
    ASSERT_TRUE(runUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen, (std::vector<uint64_t>{3, 2, 1}));
    // Suspended, the source stops watching and keeps its event for the resume.
    source->suspend();
    ASSERT_EQ(write(pair[1], "de", 2), 2);
    EXPECT_FALSE(runUntil([&] { return seen.size() > 3; }, 0.05));
    source->resume();
    ASSERT_TRUE(runUntil([&] { return seen.size() == 5; }));
    EXPECT_EQ(seen, (std::vector<uint64_t>{3, 2, 1, 2, 1}));
    source->cancel();
    ASSERT_EQ(send(pair[1], "f", 1, MSG_NOSIGNAL), 1);  // before the cancel handler has run
    EXPECT_FALSE(runUntil([&] { return seen.size() > 5 || closes > 1; }, 0.05));
    EXPECT_EQ(closes, 1);
    close(pair[1]);
}

}  // namespace
}  // namespace quenbril
