#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "foundation/dispatch/Queue.h"
#include "foundation/dispatch/Reactor.h"
#include "foundation/dispatch/Semaphore.h"
#include "tests/foundation/TestSupport.h"

namespace quenbril::dispatch {
namespace {

using QueueTest = test::MainLoopTest;

TEST_F(QueueTest, SerialQueuesRunBlocksOneAtATimeInOrder) {
    // On a thread of its own, or on the concurrent queue.
    for (const QueuePtr& target : {QueuePtr(), Queue::global()}) {
        SCOPED_TRACE(target ? "on the concurrent queue" : "on its own thread");
        QueuePtr queue = Queue::makeSerial("test.serial", target);
        std::vector<int> order;
        std::thread::id worker;
        std::atomic<bool> inside{false}, overlap{false}, done{false};
        for (int i = 0; i < 300; ++i) {
            queue->async([&, i] {
                if (inside.exchange(true)) overlap = true;
                EXPECT_TRUE(queue->isCurrent());
                if (target) {
                    EXPECT_TRUE(target->isCurrent());
                } else {
                    if (i == 0) worker = std::this_thread::get_id();
                    EXPECT_EQ(worker, std::this_thread::get_id());
                }
                order.push_back(i);
                inside = false;
                if (i == 299) done = true;
            });
        }
        EXPECT_FALSE(queue->isCurrent());
        ASSERT_TRUE(waitFor([&] { return done.load(); }));
        EXPECT_FALSE(overlap);
        EXPECT_NE(worker, std::this_thread::get_id());
        std::vector<int> expected(300);
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(order, expected);
    }
}

TEST_F(QueueTest, SyncOntoTheCurrentOrAWaitingQueueRunsInPlace) {
    QueuePtr queue = Queue::makeSerial("test.current");
    QueuePtr child = Queue::makeSerial("test.child", queue);
    std::vector<std::string> steps;
    queue->sync([&] {
        steps.push_back("outer");
        queue->sync([&] { steps.push_back("same queue"); });
    });
    child->sync([&] {
        // The child runs on its target: a sync onto the target is a sync onto the current queue.
        queue->sync([&] { steps.push_back("target from child"); });
        child->sync([&] { steps.push_back("child again"); });
    });
    queue->sync([&] {
        // Nothing of the child can run while its target is busy here, so this runs in place too.
        child->sync([&] { steps.push_back("child from target"); });
    });
    // Back onto a queue that waits for this very block.
    QueuePtr other = Queue::makeSerial("test.other");
    queue->sync([&] { other->sync([&] { queue->sync([&] { steps.push_back("back"); }); }); });
    // The main thread, on no queue, stands for the main queue.
    Queue::main()->sync([&] { steps.push_back("main"); });
    queue->sync([&] { Queue::main()->sync([&] { steps.push_back("main from queue"); }); });
    EXPECT_EQ(steps,
              (std::vector<std::string>{"outer", "same queue", "target from child", "child again",
                                        "child from target", "back", "main", "main from queue"}));
}

TEST_F(QueueTest, MainQueueBlocksRunOnTheLoopInOrder) {
    QueuePtr queue = Queue::makeSerial("test.to.main");
    std::vector<int> order;
    for (int i = 0; i < 50; ++i) {
        queue->async([&, i] {
            Queue::main()->async([&, i] {
                EXPECT_TRUE(loop.isCurrentThread());
                EXPECT_TRUE(Queue::main()->isCurrent());
                order.push_back(i);
            });
        });
    }
    ASSERT_TRUE(waitFor([&] { return order.size() == 50; }));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST_F(QueueTest, SpecificValuesAreFoundThroughTheTargetChain) {
    static int key, otherKey;
    int socketValue = 1, mainValue = 2;
    QueuePtr queue = Queue::makeSerial("test.specific");
    QueuePtr child = Queue::makeSerial("test.specific.child", queue);
    queue->setSpecific(&key, &socketValue);
    Queue::main()->setSpecific(&otherKey, &mainValue);
    child->sync([&] {
        EXPECT_EQ(Queue::currentSpecific(&key), &socketValue);
        EXPECT_EQ(Queue::currentSpecific(&otherKey), nullptr);
    });
    queue->sync([&] { EXPECT_EQ(child->getSpecific(&key), nullptr) << "only the queue's own"; });
    EXPECT_EQ(Queue::currentSpecific(&otherKey), &mainValue) << "the main thread is the main queue";
    EXPECT_EQ(Queue::currentSpecific(&key), nullptr);
    queue->setSpecific(&key, nullptr);
    child->sync([&] { EXPECT_EQ(Queue::currentSpecific(&key), nullptr); });
    Queue::main()->setSpecific(&otherKey, nullptr);
}

TEST_F(QueueTest, AfterOnASerialQueueWaitsRealTime) {
    QueuePtr queue = Queue::makeSerial("test.after");
    std::vector<int> order;
    std::atomic<bool> done{false};
    double start = Reactor::monotonicNow();
    double firedAt = 0;
    queue->after(0.06, [&] {
        order.push_back(2);
        firedAt = Reactor::monotonicNow();
        done = true;
    });
    queue->after(0.02, [&] { order.push_back(1); });
    queue->async([&] { order.push_back(0); });
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_GE(firedAt - start, 0.06);
}

TEST_F(QueueTest, AfterOnTheMainQueueFollowsTheVirtualClock) {
    int fired = 0;
    QueuePtr child = Queue::makeSerial("test.main.child", Queue::main());
    Queue::main()->after(5.0, [&] { ++fired; });
    child->after(5.0, [&] { ++fired; });
    EXPECT_FALSE(loop.runUntil([&] { return fired > 0; }, 0.05));
    loop.advance(4.9);
    EXPECT_EQ(fired, 0);
    loop.advance(0.1);
    EXPECT_EQ(fired, 2);
}

TEST_F(QueueTest, DroppedQueueFinishesItsPendingWork) {
    std::atomic<int> ran{0};
    Semaphore gate;
    {
        QueuePtr queue = Queue::makeSerial("test.dropped");
        queue->async([&] { gate.wait(); });
        for (int i = 0; i < 10; ++i) queue->async([&] { ++ran; });
    }
    gate.signal();  // the queue's last reference now goes with its last block, on its own thread
    ASSERT_TRUE(waitFor([&] { return ran == 10; }));
    // A queue dropped on another thread while idle joins its thread at once.
    QueuePtr idle = Queue::makeSerial("test.idle");
    idle->sync([] {});
    idle.reset();
}

TEST_F(QueueTest, GlobalQueueRunsBlocksSideBySide) {
    Semaphore first, second;
    std::atomic<int> done{0};
    // Each block waits for the other: only concurrent execution lets both finish.
    Queue::global()->async([&] {
        second.signal();
        if (first.wait(test::scaledSeconds(5.0))) ++done;
    });
    Queue::global()->async([&] {
        first.signal();
        if (second.wait(test::scaledSeconds(5.0))) ++done;
    });
    ASSERT_TRUE(loop.runUntil([&] { return done == 2; }, 10.0));
    int inPlace = 0;
    Queue::global()->sync([&] { inPlace = Queue::global()->isCurrent() ? 1 : -1; });
    EXPECT_EQ(inPlace, 1);
}

TEST_F(QueueTest, TryRunInPlaceRunsOnTheCallerOnlyWhenNothingIsOvertaken) {
    QueuePtr queue = Queue::makeSerial("test.in.place");
    // Idle: the block runs at once, on this thread, with the queue current.
    std::thread::id ranOn;
    bool current = false;
    EXPECT_TRUE(queue->tryRunInPlace([&] {
        ranOn = std::this_thread::get_id();
        current = queue->isCurrent();
    }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(current);

    // Busy, then with a block waiting behind the busy one: nothing runs in place; the queued
    // blocks keep their order.
    Semaphore entered, gate;
    std::vector<std::string> steps;
    queue->async([&] {
        entered.signal();
        gate.wait();
        steps.push_back("first");
    });
    ASSERT_TRUE(entered.wait(test::scaledSeconds(5.0)));
    EXPECT_FALSE(queue->tryRunInPlace([&] { steps.push_back("in place, busy"); }));
    queue->async([&] { steps.push_back("second"); });
    gate.signal();
    queue->sync([] {});
    EXPECT_EQ(steps, (std::vector<std::string>{"first", "second"}));

    // A block submitted while one runs in place waits for it, then runs on the queue's thread.
    // (The queue is idle again only once its thread has finished the block that ended sync.)
    std::thread::id worker;
    ASSERT_TRUE(waitFor([&] { return queue->tryRunInPlace([] {}); }));
    EXPECT_TRUE(queue->tryRunInPlace([&] {
        queue->async([&] {
            steps.push_back("after in place");
            worker = std::this_thread::get_id();
        });
        EXPECT_FALSE(queue->tryRunInPlace([] {}));  // no block inside another
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        steps.push_back("in place");
    }));
    queue->sync([] {});
    EXPECT_EQ(steps.back(), "after in place");
    EXPECT_EQ(steps[steps.size() - 2], "in place");
    EXPECT_NE(worker, std::this_thread::get_id());

    // Queues without a thread of their own never run in place.
    EXPECT_FALSE(Queue::makeSerial("test.targeted", queue)->tryRunInPlace([] {}));
    EXPECT_FALSE(Queue::main()->tryRunInPlace([] {}));
    EXPECT_FALSE(Queue::global()->tryRunInPlace([] {}));
}

TEST_F(QueueTest, ABriefCallerWaitsForAnotherThreadsBriefBlockInPlace) {
    QueuePtr queue = Queue::makeSerial("test.brief");
    Semaphore entered, gate;
    std::thread other([&] {
        EXPECT_TRUE(queue->tryRunInPlace(
            [&] {
                entered.signal();
                gate.wait();
            },
            true));
    });
    ASSERT_TRUE(entered.wait(test::scaledSeconds(5.0)));
    // Not brief: gives up at once. Brief: waits for the other brief block, then runs here.
    EXPECT_FALSE(queue->tryRunInPlace([] {}));
    std::thread opener([&] { gate.signal(); });
    bool here = false;
    EXPECT_TRUE(queue->tryRunInPlace([&] { here = queue->isCurrent(); }, true));
    EXPECT_TRUE(here);
    opener.join();
    other.join();
}

TEST(SemaphoreTest, WaitTimesOutOrTakesASignal) {
    Semaphore semaphore;
    EXPECT_FALSE(semaphore.wait(0.01));
    semaphore.signal();
    semaphore.signal();
    EXPECT_TRUE(semaphore.wait(0));
    EXPECT_TRUE(semaphore.wait());
    EXPECT_FALSE(semaphore.wait(0));
}

}  // namespace
}  // namespace quenbril::dispatch
