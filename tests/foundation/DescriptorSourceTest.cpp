#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/dispatch/DescriptorSource.h"
#include "foundation/dispatch/Semaphore.h"
#include "foundation/dispatch/SharedDescriptor.h"
#include "tests/foundation/TestSupport.h"
#include "tests/support/Eventually.h"
#include "tests/support/HeldReactor.h"

namespace quenbril::dispatch {
namespace {

class DescriptorSourceTest : public test::MainLoopTest {
  protected:
    void SetUp() override {
        MainLoopTest::SetUp();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    }
    void TearDown() override {
        for (int fd : fds) {
            if (fd >= 0) close(fd);
        }
        MainLoopTest::TearDown();
    }
    void send(const std::string& bytes) {
        ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Handlers use the test's locals: the test ends only once its source is done with them.
    void cancelAndWait(const std::shared_ptr<Source>& source) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        source->setCancelHandler([done] { *done = true; });
        source->cancel();
        ASSERT_TRUE(waitFor([&] { return done->load(); }));
    }

    // A read source on fds[0] whose handler records each run's data() and then reads up to
    // `take` bytes; it checks that runs never overlap and run on `queue`.
    std::shared_ptr<DescriptorSource> recordingReader(size_t take) {
        auto source = DescriptorSource::makeRead(fds[0], queue);
        source->setEventHandler([this, take, raw = source.get()] {
            EXPECT_FALSE(running_.exchange(true));
            EXPECT_TRUE(queue->isCurrent());
            uint64_t available = raw->data();
            char buffer[64];
            if (available > 0) {
                EXPECT_GE(read(fds[0], buffer, std::min(take, sizeof buffer)), 0);
            }
            std::lock_guard lock(mutex_);
            counts_.push_back(available);
            running_ = false;
        });
        return source;
    }
    std::vector<uint64_t> seen() {
        std::lock_guard lock(mutex_);
        return counts_;
    }

    int fds[2] = {-1, -1};
    QueuePtr queue = Queue::makeSerial("test.sources");
    std::mutex mutex_;
    std::vector<uint64_t> counts_;
    std::atomic<bool> running_{false};
};

TEST_F(DescriptorSourceTest, ReadSourceReportsReadableBytesOneEventPerHandlerRun) {
    auto source = recordingReader(1);
    send("abc");
    source->resume();
    // Each run takes one byte: the re-armed source fires once more per run with the count left.
    ASSERT_TRUE(waitFor([&] { return seen().size() == 3; }));
    EXPECT_EQ(seen(), (std::vector<uint64_t>{3, 2, 1}));
    shutdown(fds[1], SHUT_WR);
    ASSERT_TRUE(waitFor([&] { return seen().size() >= 4; }));
    EXPECT_EQ(seen()[3], 0u);  // end of stream
    cancelAndWait(source);
}

TEST_F(DescriptorSourceTest, SuspendedSourceHoldsItsEventUntilResumed) {
    auto source = recordingReader(64);
    EXPECT_TRUE(source->isSuspended());  // made suspended
    send("hello");
    EXPECT_FALSE(loop.runUntil([&] { return !seen().empty(); }, 0.05));
    source->resume();
    ASSERT_TRUE(waitFor([&] { return seen().size() == 1; }));
    source->suspend();
    source->suspend();  // nests
    send("world!");
    source->resume();
    EXPECT_FALSE(loop.runUntil([&] { return seen().size() > 1; }, 0.05));
    source->resume();
    ASSERT_TRUE(waitFor([&] { return seen().size() == 2; }));
    EXPECT_EQ(seen(), (std::vector<uint64_t>{5, 6}));
    cancelAndWait(source);
}

TEST_F(DescriptorSourceTest, BytesReadBeforeTheHandlerRunsAreNotReportedAsEndOfStream) {
    auto source = recordingReader(64);
    source->resume();  // armed
    source->suspend();
    send("abc");
    loop.runFor(0.05);  // the event arrives and waits
    char buffer[16];
    ASSERT_EQ(read(fds[0], buffer, sizeof buffer), 3);  // someone else takes the bytes
    source->resume();
    loop.runFor(0.05);
    send("d");
    ASSERT_TRUE(waitFor([&] { return !seen().empty(); }));
    EXPECT_EQ(seen(), (std::vector<uint64_t>{1}));  // no false 0 before it
    cancelAndWait(source);
}

TEST_F(DescriptorSourceTest, WriteSourceFiresWhenTheDescriptorTakesBytesAgain) {
    auto source = DescriptorSource::makeWrite(fds[0], queue);
    std::atomic<int> runs{0};
    source->setEventHandler([&] {
        EXPECT_EQ(source->data(), 1u);
        ++runs;
        source->suspend();  // as a writer does once it has nothing more to write
    });
    // Fill the buffer so that the descriptor is not writable.
    std::string chunk(65536, 'x');
    while (write(fds[0], chunk.data(), chunk.size()) > 0) {
    }
    source->resume();
    EXPECT_FALSE(loop.runUntil([&] { return runs > 0; }, 0.05));
    char buffer[65536];
    while (read(fds[1], buffer, sizeof buffer) > 0) {
    }
    ASSERT_TRUE(waitFor([&] { return runs == 1; }));
    cancelAndWait(source);
}

TEST_F(DescriptorSourceTest, CancelRunsTheCancelHandlerOnceAfterARunningHandler) {
    auto reader = DescriptorSource::makeRead(fds[0], queue);
    auto writer = DescriptorSource::makeWrite(fds[0], queue);
    Semaphore inHandler, release;
    std::atomic<int> handlerRuns{0}, handlerDone{0}, cancels{0};
    std::atomic<bool> closedWhileRunning{false};
    // Both cancel handlers share a count; the last one closes the descriptor.
    auto remaining = std::make_shared<std::atomic<int>>(2);
    int fd = fds[0];
    fds[0] = -1;  // owned by the sources from here on
    auto onCancel = [&, remaining, fd] {
        EXPECT_TRUE(queue->isCurrent());
        if (handlerRuns != handlerDone) closedWhileRunning = true;
        ++cancels;
        if (--*remaining == 0) close(fd);
    };
    reader->setCancelHandler(onCancel);
    writer->setCancelHandler(onCancel);
    reader->setEventHandler([&] {
        ++handlerRuns;
        inHandler.signal();
        release.wait();
        char byte;
        EXPECT_EQ(read(fd, &byte, 1), 1);  // the descriptor is still open
        ++handlerDone;
    });
    reader->resume();  // the writer stays suspended: its cancel handler must run all the same
    send("x");
    ASSERT_TRUE(inHandler.wait(test::scaledSeconds(5.0)));
    reader->cancel();  // while its handler runs, from this thread
    writer->cancel();
    reader->cancel();  // a second cancel does nothing
    release.signal();
    ASSERT_TRUE(waitFor([&] { return cancels == 2; }));
    EXPECT_FALSE(closedWhileRunning);
    EXPECT_EQ(handlerRuns, 1);
    EXPECT_TRUE(reader->isCancelled());
    // The number may be reused at once: the cancelled source must not react to the new file.
    int reuse[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, reuse), 0);
    ASSERT_EQ(write(reuse[1], "y", 1), 1);
    EXPECT_FALSE(loop.runUntil([&] { return handlerRuns > 1; }, 0.05));
    queue->sync([] {});
    EXPECT_EQ(cancels, 2);
    close(reuse[0]);
    close(reuse[1]);
}

TEST_F(DescriptorSourceTest, ASharedDescriptorClosesOnlyOnceItsOwnerAndEverySourceLetGo) {
    struct stat opened {};
    ASSERT_EQ(fstat(fds[0], &opened), 0);
    auto descriptor = SharedDescriptor::adopt(std::exchange(fds[0], -1));
    const int fd = descriptor->fd();
    std::weak_ptr<SharedDescriptor> shares = descriptor;
    auto reader = DescriptorSource::makeRead(descriptor, queue);
    auto writer = DescriptorSource::makeWrite(descriptor, queue);  // stays suspended
    reader->resume();

    // The sources' cancels cannot finish while their queue is held.
    Semaphore entered, gate;
    queue->async([&] {
        entered.signal();
        gate.wait();
    });
    ASSERT_TRUE(entered.wait(test::scaledSeconds(5.0)));
    reader->cancel();
    writer->cancel();
    std::atomic<int> closeResult{-1};
    std::thread owner(
        [&] { closeResult = SharedDescriptor::closeWhenReleased(std::move(descriptor)); });
    EXPECT_TRUE(test::eventually([&] { return shares.use_count() == 2; })) << "the owner let go";
    struct stat now {};
    EXPECT_EQ(fstat(fd, &now), 0) << "closed while its sources still held it";
    EXPECT_EQ(now.st_ino, opened.st_ino);
    EXPECT_EQ(closeResult, -1) << "the owner waits for the close";
    gate.signal();
    owner.join();
    EXPECT_EQ(closeResult, 0);
    EXPECT_TRUE(shares.expired());

    // A source dropped without a cancel lets go when it goes.
    auto other = SharedDescriptor::adopt(std::exchange(fds[1], -1));
    shares = other;
    auto dropped = DescriptorSource::makeRead(std::move(other), queue);
    dropped.reset();
    EXPECT_TRUE(shares.expired());
}

TEST_F(DescriptorSourceTest, CancelRacingEventsEndsWithOneCancelHandlerAndNoLaterRun) {
    // On the concurrent queue too: a source never runs two handlers at once, and nothing of it
    // runs after its cancel handler.
    for (const QueuePtr& target : {queue, Queue::global()}) {
        for (int round = 0; round < 100; ++round) {
            int pair[2];
            ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
            auto source = DescriptorSource::makeRead(pair[0], target);
            std::atomic<bool> running{false}, finished{false}, overlap{false}, late{false};
            std::atomic<int> cancels{0};
            source->setEventHandler([&, fd = pair[0]] {
                if (running.exchange(true)) overlap = true;
                if (finished) late = true;
                char buffer[8];
                [[maybe_unused]] auto n = read(fd, buffer, 1);  // leaves bytes: fires again
                running = false;
            });
            source->setCancelHandler([&, fd = pair[0]] {
                if (running) overlap = true;
                finished = true;
                ++cancels;
                close(fd);
            });
            source->resume();
            std::thread writer([fd = pair[1]] {
                for (int i = 0; i < 20; ++i)
                    [[maybe_unused]] auto n = ::send(fd, "0123456789", 10, MSG_NOSIGNAL);
            });
            if (round % 2) std::this_thread::yield();
            source->cancel();
            writer.join();
            ASSERT_TRUE(loop.runUntil([&] { return cancels == 1; }, 5.0));
            target->sync([] {});
            EXPECT_FALSE(overlap);
            EXPECT_FALSE(late);
            EXPECT_EQ(cancels, 1);
            close(pair[1]);
        }
    }
}

TEST_F(DescriptorSourceTest, HandlersAreReleasedAfterCancel) {
    auto source = DescriptorSource::makeRead(fds[0], queue);
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    // The handler holds the source itself, as owners' handlers often do.
    source->setEventHandler([token, source] { (void)source->data(); });
    token.reset();
    cancelAndWait(source);
    queue->sync([] {});
    EXPECT_TRUE(watch.expired());
}

TEST_F(DescriptorSourceTest, ListeningAndDatagramSocketsNeverReportZero) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    auto accepts = DescriptorSource::makeRead(listener, queue);
    std::atomic<int64_t> acceptData{-1};
    accepts->setEventHandler([&] {
        acceptData = int64_t(accepts->data());
        int connection = accept(listener, nullptr, nullptr);
        if (connection >= 0) close(connection);
    });
    accepts->resume();
    int client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_TRUE(waitFor([&] { return acceptData >= 0; }));
    EXPECT_EQ(acceptData, 1);
    cancelAndWait(accepts);
    close(client);
    close(listener);

    // A datagram pair in place of the fixture's stream pair.
    close(fds[0]);
    close(fds[1]);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, fds), 0);
    auto receiver = recordingReader(64);
    receiver->resume();
    ASSERT_EQ(::send(fds[1], "", 0, 0), 0);  // an empty datagram is a datagram
    ASSERT_EQ(::send(fds[1], "abcd", 4, 0), 4);
    ASSERT_TRUE(waitFor([&] { return seen().size() == 2; }));
    EXPECT_EQ(seen(), (std::vector<uint64_t>{1, 4}));
    cancelAndWait(receiver);
}

TEST_F(DescriptorSourceTest, SourceOnTheMainQueueIsServedByTheRunLoop) {
    auto source = DescriptorSource::makeRead(fds[0], Queue::main());
    std::string got;
    source->setEventHandler([&] {
        EXPECT_TRUE(loop.isCurrentThread());
        char buffer[16];
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0) got.append(buffer, size_t(n));
    });
    source->resume();
    send("ping");
    ASSERT_TRUE(waitFor([&] { return got == "ping"; }));
    cancelAndWait(source);
}

TEST_F(DescriptorSourceTest, MainQueueSourceIsWatchedByTheMainLoopItself) {
    // With the epoll thread held, only the main loop can notice the descriptor.
    test::HeldReactor held;
    ASSERT_TRUE(held.held());
    queue = Queue::main();
    auto source = recordingReader(1);
    source->resume();
    send("abc");
    // One pass sees the bytes and runs the handler, with no post in between; one event per run.
    loop.runPending();
    EXPECT_EQ(seen(), (std::vector<uint64_t>{3}));
    ASSERT_TRUE(waitFor([&] { return seen().size() == 3; }));
    EXPECT_EQ(seen(), (std::vector<uint64_t>{3, 2, 1}));

    // Suspended: the event waits, and is delivered on resume.
    source->suspend();
    send("de");
    EXPECT_FALSE(loop.runUntil([&] { return seen().size() > 3; }, 0.05));
    source->resume();
    ASSERT_TRUE(waitFor([&] { return seen().size() == 5; }));
    EXPECT_EQ(seen(), (std::vector<uint64_t>{3, 2, 1, 2, 1}));
    shutdown(fds[1], SHUT_WR);
    ASSERT_TRUE(waitFor([&] { return seen().size() == 6; }));
    EXPECT_EQ(seen().back(), 0u);  // end of stream
    cancelAndWait(source);
}

TEST_F(DescriptorSourceTest, MainQueueSourceCancelledWithAnEventPendingNeverRunsItsHandler) {
    test::HeldReactor held;
    ASSERT_TRUE(held.held());
    for (bool noticed : {false, true}) {
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
        auto source = DescriptorSource::makeRead(pair[0], Queue::main());
        int runs = 0, closes = 0;
        source->setEventHandler([&] { ++runs; });
        source->setCancelHandler([&, fd = pair[0]] {
            EXPECT_TRUE(loop.isCurrentThread());
            ++closes;
            close(fd);
        });
        source->resume();
        if (noticed) source->suspend();
        ASSERT_EQ(write(pair[1], "x", 1), 1);
        // Noticed by the loop and held by the suspended source, or not yet looked at.
        if (noticed) loop.runPending();
        source->cancel();
        source->cancel();
        ASSERT_TRUE(loop.runUntil([&] { return closes == 1; }, 5.0));
        EXPECT_FALSE(loop.runUntil([&] { return runs > 0 || closes > 1; }, 0.05));
        EXPECT_EQ(runs, 0);
        EXPECT_EQ(closes, 1);
        close(pair[1]);
    }
}

TEST_F(DescriptorSourceTest, InPlaceDeliveryRunsTheHandlerOnTheEpollThreadWhileTheQueueIsIdle) {
    std::thread::id queueThread;
    queue->sync([&] { queueThread = std::this_thread::get_id(); });
    // Idle once the queue's thread has finished the block that ended sync.
    ASSERT_TRUE(waitFor([&] { return queue->tryRunInPlace([] {}); }));
    auto source = DescriptorSource::makeRead(fds[0], queue);
    source->setDeliversInPlace(true);
    std::mutex threadsMutex;
    std::vector<std::thread::id> threads;
    source->setEventHandler([&] {
        EXPECT_TRUE(queue->isCurrent());
        char buffer[64];
        EXPECT_GT(read(fds[0], buffer, sizeof buffer), 0);
        std::lock_guard lock(threadsMutex);
        threads.push_back(std::this_thread::get_id());
    });
    auto ran = [&] {
        std::lock_guard lock(threadsMutex);
        return threads.size();
    };
    source->resume();
    send("idle");
    ASSERT_TRUE(waitFor([&] { return ran() == 1; }));

    // Busy queue: the event waits for it and is handled on the queue's own thread.
    Semaphore entered, gate;
    queue->async([&] {
        entered.signal();
        gate.wait();
    });
    ASSERT_TRUE(entered.wait(test::scaledSeconds(5.0)));
    send("busy");
    EXPECT_FALSE(loop.runUntil([&] { return ran() == 2; }, 0.05));
    gate.signal();
    ASSERT_TRUE(waitFor([&] { return ran() == 2; }));
    {
        std::lock_guard lock(threadsMutex);
        EXPECT_NE(threads[0], queueThread);
        EXPECT_NE(threads[0], std::this_thread::get_id());
        EXPECT_EQ(threads[1], queueThread);
    }
    cancelAndWait(source);
}

}  // namespace
}  // namespace quenbril::dispatch
