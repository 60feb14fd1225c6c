#include <atomic>
#include <thread>

#include "SocketTestSupport.h"
#include "tests/support/HeldReactor.h"

namespace quenbril::test {
namespace {

/// Reads frames of a one-byte length header and a body, as the link does: each header's read
/// queues its body's, each body's the next header's.
struct FrameReader : Recorder {
    static constexpr long kHeader = 1, kBody = 2;
    void socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) override {
        Recorder::socketDidReadData(sock, data, tag);
        if (tag == kHeader) {
            sock->readDataToLength(data.at(0), -1, kBody);
        } else {
            sock->readDataToLength(1, -1, kHeader);
        }
    }
};

Bytes frame(const std::string& body) {
    Bytes out = bytesOf(" " + body);
    out[0] = static_cast<uint8_t>(body.size());
    return out;
}

/// A socket whose socket queue is the main queue, as its delegate queue.
class MainQueueSocketTest : public SocketTest {
  protected:
    void TearDown() override {
        sock.reset();
        if (peer >= 0) ::close(peer);
        SocketTest::TearDown();
    }
    void connect(Recorder& delegate) {
        sock = DispatchSocket::make(&delegate, mainQueue(), mainQueue());
        ASSERT_TRUE(sock->connectToAddress(address4("127.0.0.1", listener.port)));
        peer = listener.accept();
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(wait([&] { return delegate.connects == 1; }));
    }

    RawListener listener;
    std::shared_ptr<DispatchSocket> sock;
    int peer = -1;
};

TEST_F(MainQueueSocketTest, TheMainLoopAloneConnectsReadsFramesInOrderAndDisconnectsOnce) {
    // No other thread takes part: the epoll thread is held throughout.
    HeldReactor held;
    ASSERT_TRUE(held.held());
    FrameReader r;
    connect(r);

    // The getters answer on the main thread, which is the socket queue, without waiting.
    EXPECT_TRUE(sock->isConnected());
    EXPECT_EQ(sock->connectedPort(), listener.port);
    EXPECT_NE(sock->localPort(), 0);
    int fd = -1;
    sock->performBlock([&] { fd = sock->socketFD(); });
    EXPECT_GE(fd, 0);

    sock->readDataToLength(1, -1, FrameReader::kHeader);
    Bytes burst;
    for (const char* body : {"one", "two", "three"}) {
        Bytes f = frame(body);
        burst.insert(burst.end(), f.begin(), f.end());
    }
    sendAll(peer, burst.data(), burst.size());
    ASSERT_TRUE(wait([&] { return r.reads.size() == 6; }));
    Bytes split = frame("split across sends");
    sendAll(peer, split.data(), 5);
    settle(0.02);
    sendAll(peer, split.data() + 5, split.size() - 5);
    ASSERT_TRUE(wait([&] { return r.reads.size() == 8; }));
    const std::vector<std::string> bodies{"one", "two", "three", "split across sends"};
    for (size_t i = 0; i < bodies.size(); ++i) {
        EXPECT_EQ(r.reads[2 * i].tag, FrameReader::kHeader);
        EXPECT_EQ(r.reads[2 * i].data, Bytes{static_cast<uint8_t>(bodies[i].size())});
        EXPECT_EQ(r.reads[2 * i + 1].tag, FrameReader::kBody);
        EXPECT_EQ(textOf(r.reads[2 * i + 1].data), bodies[i]);
    }

    sock->disconnect();
    EXPECT_TRUE(sock->isDisconnected());
    ASSERT_TRUE(wait([&] { return r.disconnects == 1; }));
    EXPECT_FALSE(r.disconnectError);
    EXPECT_EQ(r.disconnectedSocket, sock.get());
    EXPECT_TRUE(peerClosed(peer));
    settle(0.05);
    EXPECT_EQ(r.disconnects, 1);
    EXPECT_FALSE(r.offMainThread);
}

TEST_F(MainQueueSocketTest, RequestsFromTheMainThreadRunAtOnceButNeverOvertakeQueuedOnes) {
    Recorder r;
    connect(r);
    // The loop does not run here: what reaches the peer went out inside the call.
    sock->writeData(bytesOf("now"), -1, 1);
    EXPECT_EQ(textOf(recvExactly(peer, 3, 2000)), "now");
    // A deferred disconnect is queued: the write after it must wait behind it, and is dropped.
    sock->disconnectAfterWriting();
    sock->writeData(bytesOf("late"), -1, 2);
    ASSERT_TRUE(wait([&] { return r.disconnects == 1; }));
    EXPECT_TRUE(peerClosed(peer));
    EXPECT_EQ(r.writes, (std::vector<long>{1}));
}

TEST_F(MainQueueSocketTest, GettersFromAnotherThreadWaitForTheMainLoop) {
    Recorder r;
    connect(r);
    std::atomic<uint16_t> port{0};
    std::thread worker([&] { port = sock->connectedPort(); });
    ASSERT_TRUE(wait([&] { return port != 0; }));
    worker.join();
    EXPECT_EQ(port, listener.port);
}

TEST_F(MainQueueSocketTest, TimeOutsRunInRealTimeWhileTheMainClockIsVirtual) {
    Recorder r;
    connect(r);
    const double virtualNow = loop_.now();
    sock->readDataToLength(4, 0.1, 1);
    ASSERT_TRUE(wait([&] { return r.disconnects == 1; }));
    ASSERT_TRUE(r.disconnectError);
    EXPECT_EQ(r.disconnectError->code, DispatchSocket::ReadTimeoutError);
    EXPECT_EQ(loop_.now(), virtualNow);
}

TEST_F(MainQueueSocketTest, PeerClosingIsReportedOnceAfterTheBytesBeforeIt) {
    HeldReactor held;
    ASSERT_TRUE(held.held());
    Recorder r;
    connect(r);
    sock->readDataToLength(3, -1, 7);
    sendText(peer, "abc");
    ::close(peer);
    peer = -1;
    ASSERT_TRUE(wait([&] { return r.disconnects == 1; }));
    ASSERT_EQ(r.reads.size(), 1u);
    EXPECT_EQ(textOf(r.reads[0].data), "abc");
    ASSERT_TRUE(r.disconnectError);
    EXPECT_EQ(r.disconnectError->code, DispatchSocket::ClosedError);
    settle(0.05);
    EXPECT_EQ(r.disconnects, 1);
}

}  // namespace
}  // namespace quenbril::test
