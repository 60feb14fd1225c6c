#include <sys/ioctl.h>

#include <chrono>
#include <random>
#include <thread>

#include "SocketTestSupport.h"

namespace quenbril::test {
namespace {

/// A DispatchSocket connected to a plain socket (`peer`) that the test drives directly.
class IOTest : public SocketTest {
  protected:
    void connect(bool closeOnReadEOF = true) {
        sock = makeSocket(r);
        sock->setAutoDisconnectOnClosedReadStream(closeOnReadEOF);
        ASSERT_TRUE(sock->connectToHost("127.0.0.1", listener.port));
        peer = listener.accept();
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(wait([&] { return r.connects == 1; }));
    }
    void TearDown() override {
        EXPECT_FALSE(r.offMainThread) << "a delegate call came off the delegate queue";
        sock.reset();
        if (peer >= 0) ::close(peer);
        SocketTest::TearDown();
    }
    void readBurstInOnePass(double timeout);
    bool waitReads(size_t n) {
        return wait([&] { return r.reads.size() >= n; });
    }
    bool waitDisconnect() {
        return wait([&] { return r.disconnects == 1; });
    }
    void expectClosedWith(int64_t code, const std::string& text) {
        ASSERT_TRUE(r.disconnectError);
        EXPECT_EQ(r.disconnectError->domain, DispatchSocket::kErrorDomain);
        EXPECT_EQ(r.disconnectError->code, code);
        EXPECT_EQ(r.disconnectError->description, text);
    }

    RawListener listener;
    Recorder r;
    std::shared_ptr<DispatchSocket> sock;
    int peer = -1;
};

TEST_F(IOTest, ReadsOfEachKind) {
    connect();
    sock->readDataToLength(8, 2.0, 100);
    sock->readDataToLength(4096, 2.0, 123);
    Bytes frame(8 + 4096);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
    sendAll(peer, frame.data(), frame.size());  // header and body in one segment
    ASSERT_TRUE(waitReads(2));
    EXPECT_EQ(r.reads[0].tag, 100);
    EXPECT_EQ(r.reads[0].data, Bytes(frame.begin(), frame.begin() + 8));
    EXPECT_EQ(r.reads[1].tag, 123);
    EXPECT_EQ(r.reads[1].data, Bytes(frame.begin() + 8, frame.end()));

    sendText(peer, "line one\r\nline two\r\nrest");
    sock->readDataToData(DispatchSocket::CRLFData(), 2.0, 1);
    sock->readDataToData(DispatchSocket::CRLFData(), 2.0, 64, 2);
    sock->readDataWithTimeout(2.0, 3);
    ASSERT_TRUE(waitReads(5));
    EXPECT_EQ(textOf(r.reads[2].data), "line one\r\n");
    EXPECT_EQ(textOf(r.reads[3].data), "line two\r\n");
    EXPECT_EQ(textOf(r.reads[4].data), "rest");

    // Into a caller's buffer, after what it holds already.
    auto buffer = std::make_shared<Bytes>(bytesOf("head:"));
    sock->readDataToLength(3, 2.0, buffer, 5, 4);
    sendText(peer, "abc");
    ASSERT_TRUE(waitReads(6));
    EXPECT_EQ(textOf(r.reads[5].data), "abc");
    EXPECT_EQ(textOf(*buffer), "head:abc");
    EXPECT_EQ(r.disconnects, 0);
}

TEST_F(IOTest, QueuedReadsCompleteInOrderWhateverTheChunking) {
    connect();
    // Frames: an 8-byte length header with a body, then a CRLF line, then a NUL-ended word.
    std::mt19937 random(42);
    Bytes stream;
    std::vector<std::string> expected;
    for (int i = 0; i < 60; ++i) {
        size_t bodyLength = 1 + random() % 300;
        std::string body;
        for (size_t k = 0; k < bodyLength; ++k) body += static_cast<char>('a' + random() % 26);
        std::string header = std::to_string(bodyLength);
        header.resize(8, ' ');
        std::string line = "n" + std::to_string(i) + "\r\n";
        std::string word = "w" + std::to_string(i) + std::string(1, '\0');
        for (const std::string& part : {header, body, line, word}) {
            stream.insert(stream.end(), part.begin(), part.end());
            expected.push_back(part);
        }
        sock->readDataToLength(8, 5.0, 4 * i);
        sock->readDataToLength(bodyLength, 5.0, 4 * i + 1);
        sock->readDataToData(DispatchSocket::CRLFData(), 5.0, 4 * i + 2);
        sock->readDataToData(DispatchSocket::ZeroData(), 5.0, 4 * i + 3);
    }
    for (size_t at = 0; at < stream.size();) {
        size_t n = std::min<size_t>(1 + random() % 97, stream.size() - at);
        sendAll(peer, stream.data() + at, n);
        at += n;
        if (random() % 4 == 0) wait([] { return false; }, 0.001);
    }
    ASSERT_TRUE(waitReads(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(r.reads[i].tag, static_cast<long>(i));
        EXPECT_EQ(textOf(r.reads[i].data), expected[i]) << "read " << i;
    }
}

TEST_F(IOTest, TerminatorReadWithAMaximumClosesWhenItIsReached) {
    connect();
    sock->readDataToData(bytesOf("\r\n"), 2.0, 10, 1);
    sendText(peer, "0123456789abc");
    ASSERT_TRUE(waitDisconnect());
    expectClosedWith(DispatchSocket::ReadMaxedOutError,
                     "Read operation reached set maximum length");
    EXPECT_TRUE(r.reads.empty());
}

TEST_F(IOTest, ReadTimeOutClosesUnlessTheDelegateExtendsIt) {
    connect();
    r.readExtension = 0.2;
    sock->readDataToLength(4, 0.2, 1);
    ASSERT_TRUE(waitDisconnect());
    expectClosedWith(DispatchSocket::ReadTimeoutError, "Read operation timed out");
    ASSERT_EQ(r.timeoutElapsed.size(), 2u);
    EXPECT_DOUBLE_EQ(r.timeoutElapsed[0], 0.2);
    EXPECT_DOUBLE_EQ(r.timeoutElapsed[1], 0.4);  // the extension counts
}

TEST_F(IOTest, WritesGoOutInOrderAndLargeWritesWhole) {
    connect();
    Bytes big(6 * 1024 * 1024);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i % 251);
    sock->writeData(bytesOf("first,"), -1, 1);
    sock->writeData(Bytes{}, -1, 99);  // ignored
    sock->writeData(big, 5.0, 2);
    sock->writeData(bytesOf(",last"), -1, 3);
    Bytes got = recvExactly(peer, 6 + big.size() + 5);
    ASSERT_EQ(got.size(), 6 + big.size() + 5);
    EXPECT_EQ(textOf(Bytes(got.begin(), got.begin() + 6)), "first,");
    EXPECT_TRUE(std::equal(big.begin(), big.end(), got.begin() + 6));
    EXPECT_EQ(textOf(Bytes(got.end() - 5, got.end())), ",last");
    ASSERT_TRUE(wait([&] { return r.writes.size() == 3; }));
    EXPECT_EQ(r.writes, (std::vector<long>{1, 2, 3}));
    long tag = -1;
    EXPECT_TRUE(std::isnan(sock->progressOfWriteReturningTag(&tag, nullptr, nullptr)));
    EXPECT_EQ(tag, 0);
}

TEST_F(IOTest, WriteTimeOutClosesWhenThePeerDoesNotRead) {
    connect();
    sock->writeData(Bytes(64 * 1024 * 1024, 'x'), 0.3, 1);
    ASSERT_TRUE(waitDisconnect());
    expectClosedWith(DispatchSocket::WriteTimeoutError, "Write operation timed out");
    EXPECT_TRUE(r.writes.empty());
}

TEST_F(IOTest, DisconnectAfterWritingLetsQueuedWritesFinishAndDropsLaterOnes) {
    connect();
    sock->writeData(bytesOf("a"), -1, 1);
    sock->writeData(bytesOf("b"), -1, 2);
    sock->writeData(bytesOf("c"), -1, 3);
    sock->disconnectAfterWriting();
    sock->writeData(bytesOf("dropped"), -1, 4);
    ASSERT_TRUE(waitDisconnect());
    EXPECT_FALSE(r.disconnectError);
    EXPECT_EQ(r.writes, (std::vector<long>{1, 2, 3}));
    EXPECT_EQ(textOf(recvExactly(peer, 10, 500)), "abc");
}

TEST_F(IOTest, DisconnectAfterReadingWaitsForQueuedReads) {
    connect();
    sock->readDataToLength(3, 2.0, 1);
    sock->disconnectAfterReading();
    sock->readDataToLength(1, 2.0, 2);  // dropped
    ASSERT_TRUE(drain(*sock));
    EXPECT_EQ(r.disconnects, 0);
    sendText(peer, "xyzw");
    ASSERT_TRUE(waitDisconnect());
    EXPECT_FALSE(r.disconnectError);
    ASSERT_EQ(r.reads.size(), 1u);
    EXPECT_EQ(textOf(r.reads[0].data), "xyz");
}

TEST_F(IOTest, DisconnectAfterReadingAndWritingWaitsForBothSides) {
    connect();
    sock->readDataToLength(2, 2.0, 1);
    sock->writeData(bytesOf("out"), -1, 2);
    sock->disconnectAfterReadingAndWriting();
    EXPECT_EQ(textOf(recvExactly(peer, 3)), "out");
    ASSERT_TRUE(drain(*sock));
    EXPECT_EQ(r.disconnects, 0);  // the read is still waiting
    sendText(peer, "in");
    ASSERT_TRUE(waitDisconnect());
    EXPECT_FALSE(r.disconnectError);
    EXPECT_EQ(r.reads.size(), 1u);
    EXPECT_EQ(r.writes.size(), 1u);
}

TEST_F(IOTest, PeerClosingCompletesWhatArrivedThenReportsTheClose) {
    connect();
    sock->readDataToLength(4, 2.0, 1);
    sock->readDataToLength(4, 2.0, 2);
    sock->readDataToLength(4, 2.0, 3);  // never satisfied
    sendText(peer, "aaaabbbbcc");
    ::close(peer);
    peer = -1;
    ASSERT_TRUE(waitDisconnect());
    expectClosedWith(DispatchSocket::ClosedError, "Socket closed by remote peer");
    ASSERT_EQ(r.reads.size(), 2u);
    EXPECT_EQ(textOf(r.reads[1].data), "bbbb");
}

// The peer closes inside a frame, after the socket had read its first bytes ahead and then seen
// the end of the stream: the read that waits for the rest ends with the close at once, not when
// its time-out runs out (a link would sit on a dead connection meanwhile).
TEST_F(IOTest, AReadTheStreamsEndCutShortEndsWithTheCloseNotItsTimeOut) {
    connect();
    sendText(peer, "headbody, cut");
    ::close(peer);
    peer = -1;
    sock->readDataToLength(4, 30.0, 1);
    ASSERT_TRUE(waitReads(1));
    EXPECT_EQ(textOf(r.reads[0].data), "head");
    // The rest was read ahead; the end of the stream comes to the socket while no read waits.
    ASSERT_TRUE(drain(*sock));
    settle();
    sock->readDataToLength(100, 30.0, 2);
    ASSERT_TRUE(waitDisconnect());
    expectClosedWith(DispatchSocket::ClosedError, "Socket closed by remote peer");
    EXPECT_EQ(r.reads.size(), 1u);
}

TEST_F(IOTest, KeepOpenOnReadEOFReportsTheClosedReadStream) {
    connect(false);
    ::shutdown(peer, SHUT_WR);
    sock->readDataWithTimeout(-1, 1);
    ASSERT_TRUE(wait([&] { return r.readStreamClosed == 1; }));
    sock->writeData(bytesOf("still"), -1, 2);
    EXPECT_EQ(textOf(recvExactly(peer, 5)), "still");
    EXPECT_EQ(r.disconnects, 0);
}

TEST_F(IOTest, PeerGoneMidWriteClosesWithAWriteErrorAndTheProcessLives) {
    connect();
    linger hard{1, 0};  // close with a reset
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    sock->writeData(Bytes(32 * 1024 * 1024, 'x'), -1, 1);
    wait([] { return false; }, 0.05);
    ::close(peer);
    peer = -1;
    sock->writeData(Bytes(1024, 'y'), -1, 2);
    ASSERT_TRUE(waitDisconnect());
    ASSERT_TRUE(r.disconnectError);
    EXPECT_EQ(r.disconnectError->domain, Error::kPosixDomain);
    EXPECT_TRUE(r.disconnectError->code == EPIPE || r.disconnectError->code == ECONNRESET)
        << r.disconnectError->toString();
}

TEST_F(IOTest, ReadsQueuedWhileConnectingStartOnceConnected) {
    sock = makeSocket(r);
    ASSERT_TRUE(sock->connectToHost("localhost", listener.port));
    sock->readDataToLength(5, 2.0, 7);
    sock->writeData(bytesOf("early"), -1, 8);
    peer = listener.accept();
    ASSERT_GE(peer, 0);
    EXPECT_EQ(textOf(recvExactly(peer, 5)), "early");
    sendText(peer, "hello");
    ASSERT_TRUE(waitReads(1));
    EXPECT_EQ(r.connects, 1);
    EXPECT_EQ(textOf(r.reads[0].data), "hello");
}

TEST_F(IOTest, HugeAnnouncedLengthCostsNothingUntilBytesCome) {
    connect();
    sock->readDataToLength(size_t{2} << 30, -1, 1);
    sendText(peer, "0123456789");
    ASSERT_TRUE(wait([&] { return !r.partialReads.empty(); }));
    ASSERT_TRUE(drain(*sock));
    uint64_t done = 0, total = 0;
    long tag = 0;
    float progress = sock->progressOfReadReturningTag(&tag, &done, &total);
    EXPECT_EQ(tag, 1);
    EXPECT_EQ(done, 10u);
    EXPECT_EQ(total, size_t{2} << 30);
    EXPECT_LT(progress, 0.01f);
    EXPECT_FALSE(r.partialReads.empty());
    EXPECT_EQ(r.disconnects, 0);
}

/// Reads frames as the server link does, an 8-byte header (tag 100) then the body (tag 123),
/// each asked for from the delegate call that ended the read before it, once `chain` is set.
TEST_F(IOTest, AFixedLengthReadTakesTheBytesThatFollowItInTheSameCall) {
    connect();
    Bytes burst(3000);
    for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<uint8_t>(i % 251);
    sendAll(peer, burst.data(), burst.size());
    sock->readDataToLength(8, -1, 1);
    ASSERT_TRUE(waitReads(1));
    // The rest waits in the socket's pre-buffer, not in the descriptor: the next reads need no
    // call of their own.
    int waiting = -1;
    sock->performBlock([&] { ::ioctl(sock->socketFD(), FIONREAD, &waiting); });
    EXPECT_EQ(waiting, 0);
    sock->readDataToLength(992, -1, 2);
    sock->readDataToLength(3000, -1, 3);
    ASSERT_TRUE(waitReads(2));
    sendAll(peer, burst.data(), 1000);
    ASSERT_TRUE(waitReads(3));
    EXPECT_EQ(r.reads[0].data, Bytes(burst.begin(), burst.begin() + 8));
    EXPECT_EQ(r.reads[1].data, Bytes(burst.begin() + 8, burst.begin() + 1000));
    Bytes last(burst.begin() + 1000, burst.end());
    last.insert(last.end(), burst.begin(), burst.begin() + 1000);
    EXPECT_EQ(r.reads[2].data, last);
    EXPECT_EQ(r.reads[2].tag, 3);
}

struct FrameChain : Recorder {
    bool chain = false;
    size_t bodyLength = 0;
    double timeout = -1;
    void socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) override {
        Recorder::socketDidReadData(sock, data, tag);
        if (!chain) return;
        if (tag == 100) {
            sock->readDataToLength(bodyLength, timeout, 123);
        } else {
            sock->readDataToLength(8, timeout, 100);
        }
    }
};

/// The reads of a 16-frame burst that waits in full, each with `timeout`.
void IOTest::readBurstInOnePass(double timeout) {
    FrameChain frames;
    frames.bodyLength = 1000;
    frames.timeout = timeout;
    auto reader = DispatchSocket::make(&frames, mainQueue());
    ASSERT_TRUE(reader->connectToHost("127.0.0.1", listener.port));
    peer = listener.accept();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(wait([&] { return frames.connects == 1; }));
    // A burst of 16 frames in one send (one segment on loopback), waiting before any read.
    const int count = 16;
    Bytes burst;
    for (int i = 0; i < count; ++i) {
        Bytes frame(8 + frames.bodyLength, static_cast<uint8_t>(i));
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    sendAll(peer, burst.data(), burst.size());
    reader->readDataToLength(8, timeout, 100);
    ASSERT_TRUE(wait([&] { return frames.reads.size() == 1; }));
    // Wait until the socket queue is idle (a block runs in place on this thread): then nothing
    // else wants it, as the bytes wait in its pre-buffer and no read does.
    ASSERT_TRUE(wait([&] {
        bool inPlace = false;
        reader->performBlock([&] { inPlace = RunLoop::main().isCurrentThread(); });
        return inPlace;
    }));

    // Every further read finds its bytes waiting: it completes inside the call and posts its
    // delegate call at once, so one pass of the main loop, which never waits for another thread,
    // reads the whole burst. (Through the socket queue's thread, the pass would end after the
    // first read was queued.)
    frames.chain = true;
    reader->readDataToLength(frames.bodyLength, timeout, 123);
    loop_.runPending();
    ASSERT_EQ(frames.reads.size(), 2u * count);
    for (int i = 0; i < count; ++i) {
        const auto& header = frames.reads[2 * i];
        const auto& body = frames.reads[2 * i + 1];
        EXPECT_EQ(header.tag, 100);
        EXPECT_EQ(header.data, Bytes(8, static_cast<uint8_t>(i)));
        EXPECT_EQ(body.tag, 123);
        EXPECT_EQ(body.data, Bytes(frames.bodyLength, static_cast<uint8_t>(i)));
    }
    EXPECT_FALSE(frames.offMainThread);
    EXPECT_EQ(frames.disconnects, 0);
    frames.chain = false;
    reader.reset();
}

TEST_F(IOTest, ReadsThatWaitingBytesSatisfyCompleteWithoutTheSocketQueuesThread) {
    readBurstInOnePass(-1);
}

TEST_F(IOTest, ReadsWithATimeOutThatWaitingBytesSatisfyCompleteWithoutTheSocketQueuesThread) {
    // A read's time-out must not send work to the socket queue's thread when the read ends.
    readBurstInOnePass(30.0);
}

TEST_F(IOTest, EachReadKeepsItsOwnTimeOutWhenOneTimerServesThemAll) {
    connect();
    // The timer set for a read that ended rings while a read with a later deadline waits: that
    // read goes on. A short time-out after a long one still ends the link in its own time. The
    // first read's time-out must outlast the bytes' way to it, which a slower build stretches.
    sock->readDataToLength(4, scaledSeconds(0.1), 1);
    sendText(peer, "abcd");
    ASSERT_TRUE(waitReads(1));
    sock->readDataToLength(4, 30.0, 2);
    std::this_thread::sleep_for(scaledDuration(0.3));
    sendText(peer, "efgh");
    ASSERT_TRUE(waitReads(2));
    EXPECT_EQ(r.reads[1].data, Bytes({'e', 'f', 'g', 'h'}));
    EXPECT_EQ(r.disconnects, 0);
    EXPECT_TRUE(r.timeoutElapsed.empty());
    sock->readDataToLength(4, 0.2, 3);
    ASSERT_TRUE(waitDisconnect());
    expectClosedWith(DispatchSocket::ReadTimeoutError, "Read operation timed out");
    ASSERT_EQ(r.timeoutElapsed.size(), 1u);
    EXPECT_DOUBLE_EQ(r.timeoutElapsed[0], 0.2);
}

}  // namespace
}  // namespace quenbril::test
