// A device that sends faster than its bytes are handled: the port's backlog stays bounded, and
// an expression descriptor keeps up with bytes that never match.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/serialport/SerialTestSupport.h"

namespace quenbril::test {
namespace {

using SerialFloodTest = SerialFixture;

/// Writes to the held end of `pair` until `limit` bytes went, or until the port has taken none
/// for half a second (of a plain build); answers how many went. Byte i is i % 251.
size_t writeUntilStalled(const SocatPair& pair, size_t limit) {
    size_t written = 0;
    uint8_t chunk[16384];
    while (written < limit) {
        size_t count = std::min(sizeof chunk, limit - written);
        for (size_t i = 0; i < count; ++i) chunk[i] = static_cast<uint8_t>((written + i) % 251);
        ssize_t n = ::write(pair.held(), chunk, count);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        pollfd state{pair.held(), POLLOUT, 0};
        if (::poll(&state, 1, scaledMs(500)) == 0) break;
    }
    return written;
}

TEST_F(SerialFloodTest, ReadingWaitsWhileTheBytesReadAreNotHandled) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = openPort(*pair, recorder);
    ASSERT_TRUE(port);
    // The packet path stops at its first byte until the gate opens: nothing read is handled.
    // (Shared: the port's queue may still test bytes once the test is over.)
    struct Gate {
        std::mutex mutex;
        std::condition_variable opened;
        std::atomic<bool> open{false};
    };
    auto gate = std::make_shared<Gate>();
    port->startListeningForPacketsMatchingDescriptor(
        SerialPacketDescriptor::make(4, Value(), [gate](std::span<const uint8_t>) {
            if (!gate->open) {
                std::unique_lock lock(gate->mutex);
                gate->opened.wait(lock, [&] { return gate->open.load(); });
            }
            return false;
        }));
    // The main loop serves the delegate all along, as in the application.
    constexpr size_t kLimit = 16 * 1024 * 1024;
    std::atomic<size_t> written{0};
    std::atomic<bool> stalled{false};
    std::thread writer([&] {
        written = writeUntilStalled(*pair, kLimit);
        stalled = true;
    });
    waitFor([&] { return stalled.load(); }, 120.0);
    // The backlog, and what the pseudo-terminals and socat hold besides.
    EXPECT_LT(written.load(), SerialPort::kMaxReadBacklog + 1024 * 1024);
    {
        std::lock_guard lock(gate->mutex);
        gate->open = true;
    }
    gate->opened.notify_all();
    writer.join();

    // Released, the port reads on: every byte arrives, in order.
    ASSERT_TRUE(waitFor([&] { return recorder.data.size() >= written; }, 30.0))
        << recorder.data.size() << " of " << written.load();
    ASSERT_EQ(recorder.data.size(), written.load());
    for (size_t i = 0; i < recorder.data.size(); ++i) {
        ASSERT_EQ(recorder.data[i], i % 251) << "byte " << i;
    }
    port->close();
}

TEST_F(SerialFloodTest, AnExpressionKeepsUpWithBytesThatNeverMatchAndARequestStillGoesOut) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = openPort(*pair, recorder);
    ASSERT_TRUE(port);
    port->startListeningForPacketsMatchingDescriptor(SerialPacketDescriptor::withRegularExpression(
        RegexMatcher::make(R"(\$GP[A-Z]{3},[^*]*\*[0-9A-F]{2})"), 4096, Value()));
    // Trying every tail of the buffer at every byte, these would take hours.
    Bytes flood(256 * 1024, 'x');
    for (size_t i = 0; i < flood.size(); i += 97) flood[i] = '$';
    const Bytes sentence = bytesOf("$GPGGA,123*4F");
    std::thread writer([&] {
        pair->write(flood);
        pair->write(sentence);
    });
    bool found = waitFor([&] { return !recorder.packets.empty(); }, 60.0);
    writer.join();
    ASSERT_TRUE(found) << "no packet after " << recorder.data.size() << " bytes";
    EXPECT_EQ(recorder.packets, std::vector<Bytes>{sentence});
    EXPECT_TRUE(port->sendRequest(SerialRequest::requestWithDataToSend(
        bytesOf("?"), Value(), 0, SerialPacketDescriptor::Ptr{})));
    EXPECT_EQ(pair->read(1), bytesOf("?"));
    port->close();
}

TEST_F(SerialFloodTest, ARequestBehindBytesSlowToHandleIsQueuedAtOnceAndEndsInTime) {
    // A descriptor whose test takes about a millisecond a byte, as a hostile expression's may:
    // the bytes below take the port a minute to handle. (Shared: the port's queue may still
    // test a byte once the test is over.)
    struct Slow {
        std::atomic<size_t> handled{0};
        std::atomic<bool> fast{false};
        std::mutex mutex;
        std::condition_variable sent;
        bool requestSent = false;
    };
    auto slow = std::make_shared<Slow>();
    auto pair = makePair();
    PortRecorder recorder;
    auto port = openPort(*pair, recorder);
    ASSERT_TRUE(port);
    port->startListeningForPacketsMatchingDescriptor(
        SerialPacketDescriptor::make(4, Value(), [slow](std::span<const uint8_t> tail) {
            if (tail.size() == 1) ++slow->handled;
            if (!slow->fast) std::this_thread::sleep_for(std::chrono::microseconds(250));
            return false;
        }));
    const Bytes flood(64 * 1024, 'x');
    std::thread writer([&] { pair->write(flood); });
    ASSERT_TRUE(waitFor([&] { return recorder.data.size() == flood.size(); }, 30.0));
    writer.join();
    // Should the request wait for those bytes, they are handled fast after a while, so that
    // the test ends (and fails) before its time is up.
    std::thread watchdog([slow] {
        std::unique_lock lock(slow->mutex);
        if (!slow->sent.wait_for(lock, scaledDuration(20.0), [&] { return slow->requestSent; }))
            slow->fast = true;
    });

    auto request = SerialRequest::requestWithDataToSend(
        bytesOf("?"), Value(), 0.2,
        SerialPacketDescriptor::withPrefixString("OK", "\n", 8, Value()));
    EXPECT_TRUE(port->sendRequest(request));
    const size_t handledWhenQueued = slow->handled;
    {
        std::lock_guard lock(slow->mutex);
        slow->requestSent = true;
    }
    slow->sent.notify_all();
    watchdog.join();
    EXPECT_LT(handledWhenQueued, flood.size()) << "sendRequest waited for the bytes before it";

    // It goes out, and ends with its time-out, while those bytes are still being handled; a
    // call that waits for the port's queue waits for no more than a slice of them.
    EXPECT_EQ(pair->read(1, 10.0), bytesOf("?"));
    ASSERT_TRUE(waitFor([&] { return !recorder.timeouts.empty(); }, 10.0));
    EXPECT_EQ(recorder.timeouts, std::vector<SerialRequest::Ptr>{request});
    EXPECT_TRUE(port->queuedRequests().empty());
    EXPECT_FALSE(port->pendingRequest());
    EXPECT_LT(slow->handled.load(), flood.size()) << "the request waited for the bytes before it";
    EXPECT_TRUE(recorder.responses.empty());

    slow->fast = true;
    port->close();
}

}  // namespace
}  // namespace quenbril::test
