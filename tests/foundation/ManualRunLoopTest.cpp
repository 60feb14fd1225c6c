#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "foundation/ManualRunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "tests/foundation/TestSupport.h"

namespace quenbril {
namespace {

// Descriptors the process has open (the count includes the one that reads the list).
int openDescriptorCount() {
    int n = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

TEST(ManualRunLoopTest, TimersFireInOrderEachAtItsOwnTimeNotBefore) {
    ManualRunLoop loop(1000.0);
    std::vector<std::pair<int, double>> fired;
    auto record = [&](int id) { return [&, id] { fired.push_back({id, loop.now()}); }; };
    Timer late = loop.scheduleTimer(3.0, false, record(3));
    Timer early = loop.scheduleTimer(1.0, false, record(1));
    Timer tie = loop.scheduleTimer(3.0, false, record(4));
    Timer last = loop.scheduleTimer(5.0, false, record(5));
    {
        Timer dropped = loop.scheduleTimer(1.0, false, record(0));  // its handle cancels it
    }
    loop.advance(4.999);
    EXPECT_EQ(fired.size(), 3u);
    EXPECT_TRUE(last.isValid());
    loop.advance(0.001);
    EXPECT_FALSE(last.isValid());
    loop.advance(10.0);
    EXPECT_EQ(fired, (std::vector<std::pair<int, double>>{
                         {1, 1001.0}, {3, 1003.0}, {4, 1003.0}, {5, 1005.0}}));
    EXPECT_DOUBLE_EQ(loop.now(), 1015.0);
}

TEST(ManualRunLoopTest, RepeatingTimerKeepsItsPeriodUntilInvalidatedEvenByItself) {
    ManualRunLoop loop(0.0);
    std::vector<double> times;
    Timer timer = loop.scheduleTimer(0.5, true, [&] { times.push_back(loop.now()); });
    int selfRuns = 0;
    Timer self;
    self = loop.scheduleTimer(1.0, true, [&] {
        if (++selfRuns == 2) self.invalidate();
    });
    loop.advance(0.3);
    loop.advance(0.3);  // 0.6: first fire at 0.5
    loop.advance(1.4);  // 2.0: fires at 1.0, 1.5, 2.0
    EXPECT_EQ(times, (std::vector<double>{0.5, 1.0, 1.5, 2.0}));
    timer.invalidate();
    loop.advance(5.0);
    EXPECT_EQ(times.size(), 4u);
    EXPECT_EQ(selfRuns, 2);
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST(ManualRunLoopTest, TasksPostedByTimersRunBeforeLaterTimers) {
    ManualRunLoop loop(0.0);
    std::vector<std::string> order;
    Timer first = loop.scheduleTimer(1.0, false, [&] {
        order.push_back("timer1");
        loop.post([&] { order.push_back("task"); });
    });
    Timer second = loop.scheduleTimer(2.0, false, [&] { order.push_back("timer2"); });
    loop.after(1.5, [&] { order.push_back("after"); });
    loop.advance(3.0);
    EXPECT_EQ(order, (std::vector<std::string>{"timer1", "task", "after", "timer2"}));
}

TEST(ManualRunLoopTest, PostsFromSeveralThreadsArriveEachThreadInOrder) {
    ManualRunLoop loop(7.0);
    test::expectPostsFromThreadsArriveInOrder(
        loop, [&](const std::function<bool()>& done) { return loop.runUntil(done, 10.0); });
    EXPECT_EQ(loop.now(), 7.0);  // the real-time wait leaves the virtual clock alone
}

TEST(ManualRunLoopTest, PostsThatFindOthersQueuedAreRunByThePassThatDrainsThem) {
    // Only a post to an empty queue signals the loop: the rest of a burst, from the same thread,
    // another one or a task, must still be run, also when a burst starts while the loop waits.
    ManualRunLoop loop;
    std::atomic<int> ran{0};
    std::vector<int> order;
    for (int burst = 0; burst < 20; ++burst) {
        const int base = burst * 10;
        std::thread poster([&] {
            for (int i = 0; i < 5; ++i) loop.post([&, n = base + i] { order.push_back(n), ++ran; });
        });
        loop.post([&, n = base + 5] {
            order.push_back(n), ++ran;
            for (int i = 6; i < 10; ++i)
                loop.post([&, n = base + i] { order.push_back(n), ++ran; });
        });
        ASSERT_TRUE(loop.runUntil([&] { return ran == base + 10; }, 10.0));
        poster.join();
    }
    loop.runPending();
    EXPECT_EQ(ran, 200);
    EXPECT_EQ(order.size(), 200u);
}

TEST(ManualRunLoopTest, RunUntilTimesOutWithoutMovingTheClock) {
    ManualRunLoop loop(50.0);
    int fired = 0;
    Timer timer = loop.scheduleTimer(0.01, false, [&] { ++fired; });
    EXPECT_FALSE(loop.runUntil([] { return false; }, 0.05));
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(loop.now(), 50.0);
}

TEST(ManualRunLoopTest, WatchedDescriptorIsServedUntilCancelled) {
    ManualRunLoop loop;
    test::expectWatchServedUntilCancelled(loop,
                                          [&](const std::function<bool()>& done, double seconds) {
                                              return loop.runUntil(done, seconds);
                                          });
}

TEST(ManualRunLoopTest, MainIsTheInstalledLoopElseAFreshManualOne) {
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    EXPECT_EQ(&RunLoop::main(), &loop);
    RunLoop::setMain(nullptr);
    RunLoop* fromWorker = nullptr;
    bool workerIsCurrent = true;
    std::thread([&] {
        fromWorker = &RunLoop::main();
        workerIsCurrent = fromWorker->isCurrentThread();
    }).join();
    EXPECT_FALSE(workerIsCurrent);  // made by a worker, it still belongs to the main thread
    EXPECT_TRUE(fromWorker->isCurrentThread());
    RunLoop& made = RunLoop::main();
    EXPECT_EQ(&made, fromWorker);
    EXPECT_NE(&made, &loop);
    EXPECT_NE(dynamic_cast<ManualRunLoop*>(&made), nullptr);
    EXPECT_NEAR(made.now(), RunLoop::realTimeNow(), 60.0);
}

// A worker posting to the main queue while the main loop is replaced and destroyed must never
// reach a loop that is gone (the sanitizer builds catch a post into a freed loop). Each worker
// posts a few tasks per replacement: posting without pause, three workers outrun the one thread
// that drains, and its pass never ends on a slow build or a busy machine.
TEST(ManualRunLoopTest, PostsToTheMainQueueNeverReachALoopThatIsGone) {
    constexpr int kPostsPerRound = 16;
    std::atomic<bool> stop{false};
    std::atomic<int> round{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w) {
        workers.emplace_back([&] {
            int seen = -1;
            int posted = 0;
            while (!stop.load()) {
                if (int now = round.load(); now != seen) {
                    seen = now;
                    posted = 0;
                }
                if (posted < kPostsPerRound) {
                    dispatch::Queue::main()->async([] {});
                    ++posted;
                } else {
                    std::this_thread::yield();
                }
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        auto loop = std::make_unique<ManualRunLoop>();
        RunLoop::setMain(loop.get());
        // Posts begin once this loop is installed, and race its pass and its going. A post
        // between two loops reaches the one loop made on demand (and reused).
        round.store(i);
        loop->runPending();
        loop.reset();
    }
    stop = true;
    for (std::thread& worker : workers) worker.join();
    RunLoop::setMain(nullptr);
}

// Posts made while no loop is installed, between the loops of a long run (test after test, round
// after round), cost the descriptors of one loop made on demand, not two more per gap: run
// repeated in one process, the tests stay within a small descriptor limit (ulimit -n 256).
TEST(ManualRunLoopTest, PostsWithNoLoopInstalledHoldABoundedNumberOfDescriptors) {
    RunLoop::setMain(nullptr);
    RunLoop::postToMain([] {});  // the loop made on demand exists from here
    const int before = openDescriptorCount();
    std::atomic<int> strayRan{0};
    for (int i = 0; i < 500; ++i) {
        std::thread([&] { RunLoop::postToMain([&] { ++strayRan; }); }).join();
        dispatch::Queue::main()->async([&] { ++strayRan; });
        auto loop = std::make_unique<ManualRunLoop>();
        RunLoop::setMain(loop.get());
        int ran = 0;
        RunLoop::postToMain([&] { ++ran; });
        loop->runPending();
        ASSERT_EQ(ran, 1);
        if (i % 2 == 0) RunLoop::setMain(nullptr);  // a test's reset; else the loop resigns
        loop.reset();
    }
    EXPECT_LE(openDescriptorCount(), before);
    EXPECT_EQ(strayRan, 0);  // nobody ran a loop made on demand
    RunLoop::setMain(nullptr);
}

// The loop main() gives while none is installed is fresh each time the slot was reset or another
// loop installed: what was posted, scheduled or watched on it before never reaches a later user,
// even when a thread kept the reference main() gave it.
TEST(ManualRunLoopTest, ALoopMadeOnDemandStartsFreshAfterAReset) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    for (int round = 0; round < 3; ++round) {
        RunLoop::setMain(nullptr);
        RunLoop& earlier = RunLoop::main();
        bool stale = false;
        RunLoop::postToMain([&] { stale = true; });
        Timer timer = earlier.scheduleTimer(0, false, [&] { stale = true; });
        DescriptorWatch watch =
            earlier.watchDescriptor(fds[0], RunLoop::Condition::Readable, [&] { stale = true; });
        if (round == 1) {
            ManualRunLoop installed;
            RunLoop::setMain(&installed);
        } else {
            RunLoop::setMain(nullptr);
        }
        earlier.post([&] { stale = true; });  // a stale reference, after the loop left the slot
        std::thread([&] { RunLoop::main().isCurrentThread(); }).join();  // made again by a worker
        auto* made = dynamic_cast<ManualRunLoop*>(&RunLoop::main());
        ASSERT_NE(made, nullptr);
        EXPECT_TRUE(made->isCurrentThread());
        EXPECT_EQ(made->timerCount(), 0u);
        EXPECT_NEAR(made->now(), RunLoop::realTimeNow(), 60.0);
        bool fresh = false;
        RunLoop::postToMain([&] { fresh = true; });
        made->runFor(0.02);
        EXPECT_TRUE(fresh);
        EXPECT_FALSE(stale) << "round " << round;
    }
    RunLoop::setMain(nullptr);
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
}  // namespace quenbril
