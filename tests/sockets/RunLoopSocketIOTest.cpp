#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "sockets/TLSEngine.h"
#include "tests/sockets/RunLoopSocketTestSupport.h"
#include "tests/sockets/TLSTestCertificates.h"

namespace quenbril::test {
namespace {

class RunLoopSocketIOTest : public RunLoopSocketTestBase {
  protected:
    void SetUp() override {
        RunLoopSocketTestBase::SetUp();
        client_ = connectedClient(listener_, recorder_);
    }
    void TearDown() override {
        client_.reset();
        RunLoopSocketTestBase::TearDown();
    }
    /// Sends `parts` one by one, letting the client's loop run in between, so that each part
    /// arrives on its own.
    void sendInParts(const std::vector<std::string>& parts) {
        for (const auto& part : parts) {
            listener_.send(part);
            loop_.runFor(0.02);
        }
    }

    PlainListener listener_;
    RunLoopRecorder recorder_;
    std::shared_ptr<RunLoopSocket> client_;
};

TEST_F(RunLoopSocketIOTest, ThreeReadKindsAcrossArbitraryChunking) {
    // A terminator read takes 256-byte chunks and keeps what follows the terminator, which
    // the next reads must take first.
    client_->readDataToData(RunLoopSocket::CRLFData(), -1, 1);
    client_->readDataToLength(6, -1, 2);
    client_->readDataToData(bytesOf("END"), -1, 3);
    client_->readDataWithTimeout(-1, 4);
    sendInParts({"GET /", "x HTTP\r", "\nbody-1", "2tail E", "N", "Drest"});
    ASSERT_TRUE(waitFor([&] { return recorder_.reads.size() == 4; }));
    EXPECT_EQ(recorder_.reads[0].data, "GET /x HTTP\r\n");
    EXPECT_EQ(recorder_.reads[1].data, "body-1");
    EXPECT_EQ(recorder_.reads[2].data, "2tail END");
    EXPECT_EQ(recorder_.reads[3].data, "rest");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(recorder_.reads[i].tag, i + 1);
    EXPECT_FALSE(recorder_.partialReads.empty());
}

TEST_F(RunLoopSocketIOTest, ReadsIntoTheCallersBufferAtAnOffset) {
    auto buffer = std::make_shared<Bytes>(bytesOf("head:"));
    client_->readDataToLength(3, -1, buffer, 5, 1);
    client_->readDataWithTimeout(-1, buffer, 99, 2);     // past the end: ignored
    client_->readDataToLength(0, -1, 3);                 // nothing to read: ignored
    client_->readDataToData(Bytes{}, -1, 4);             // no terminator: ignored
    client_->readDataToData(bytesOf("long"), -1, 2, 5);  // maximum below the terminator
    client_->readDataToData(bytesOf("!"), -1, 6);
    listener_.send("abcdef!");
    ASSERT_TRUE(waitFor([&] { return recorder_.reads.size() == 2; }));
    EXPECT_EQ(recorder_.reads[0].data, "abc");
    EXPECT_EQ(std::string(buffer->begin(), buffer->end()), "head:abc");
    EXPECT_EQ(recorder_.reads[1].data, "def!");
    EXPECT_EQ(recorder_.reads[1].tag, 6);
}

TEST_F(RunLoopSocketIOTest, TerminatorSplitOverTwoArrivalsIsFound) {
    auto plain = std::make_shared<RunLoopRecorder>();
    PlainListener listener;
    auto client = connectedClient(listener, *plain);
    client->readDataToData(bytesOf("\r\n\r\n"), -1, 1);
    client->readDataToLength(3, -1, 2);
    listener.send("ab\r\n\r");
    loop_.runFor(0.02);
    EXPECT_TRUE(plain->reads.empty());
    listener.send("\nxyz");
    ASSERT_TRUE(waitFor([&] { return plain->reads.size() == 2; }));
    EXPECT_EQ(plain->reads[0].data, "ab\r\n\r\n");
    EXPECT_EQ(plain->reads[1].data, "xyz");
}

TEST_F(RunLoopSocketIOTest, TerminatorReadOverItsMaximumClosesAndKeepsTheBytes) {
    client_->readDataToData(bytesOf("\n"), -1, 8, 1);
    listener_.send("0123456789");
    ASSERT_TRUE(waitFor([&] { return recorder_.disconnects == 1; }));
    ASSERT_EQ(recorder_.willDisconnectErrors.size(), 1u);
    EXPECT_EQ(recorder_.willDisconnectErrors[0]->code, 3);
    EXPECT_EQ(recorder_.willDisconnectErrors[0]->description,
              "Read operation reached set maximum length");
    ASSERT_TRUE(recorder_.unreadAtDisconnect);
    EXPECT_EQ(
        std::string(recorder_.unreadAtDisconnect->begin(), recorder_.unreadAtDisconnect->end()),
        "0123456789");
    EXPECT_TRUE(client_->isDisconnected());
}

TEST_F(RunLoopSocketIOTest, ReadAllTakesAtMostWhatWasThereAndItsMaximum) {
    client_->readDataWithTimeout(-1, nullptr, 0, 4, 1);
    client_->readDataWithTimeout(-1, 2);
    listener_.send("abcdefgh");
    ASSERT_TRUE(waitFor([&] { return recorder_.reads.size() == 2; }));
    EXPECT_EQ(recorder_.reads[0].data, "abcd");
    EXPECT_EQ(recorder_.reads[1].data, "efgh");

    // 200 KiB waiting: one read-all takes no more than 64 KiB of it.
    std::string big(200 * 1024, 'z');
    ::send(listener_.peer, big.data(), big.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    usleep(static_cast<useconds_t>(scaledMs(20)) * 1000);
    client_->readDataWithTimeout(-1, 3);
    ASSERT_TRUE(waitFor([&] { return recorder_.reads.size() == 3; }));
    EXPECT_GT(recorder_.reads[2].data.size(), 0u);
    EXPECT_LE(recorder_.reads[2].data.size(), RunLoopSocket::kMaxReadAllPass);
}

TEST_F(RunLoopSocketIOTest, ReadTimeOutMayBeExtendedOnceThenCloses) {
    recorder_.readExtension = 2.0;
    client_->readDataToLength(10, 1.0, 5);
    loop_.advance(0.5);
    listener_.send("abc");
    ASSERT_TRUE(waitFor([&] { return !recorder_.partialReads.empty(); }));
    loop_.advance(0.6);  // the first second ends: extended by 2
    ASSERT_EQ(recorder_.timeoutElapsed, std::vector<double>{1.0});
    EXPECT_EQ(recorder_.disconnects, 0);
    loop_.advance(1.8);
    EXPECT_EQ(recorder_.disconnects, 0);
    loop_.advance(0.2);
    EXPECT_EQ(recorder_.timeoutElapsed, (std::vector<double>{1.0, 3.0}));
    ASSERT_EQ(recorder_.disconnects, 1);
    EXPECT_EQ(recorder_.willDisconnectErrors[0]->code, 4);
    EXPECT_EQ(recorder_.willDisconnectErrors[0]->description, "Read operation timed out");
    EXPECT_EQ(
        std::string(recorder_.unreadAtDisconnect->begin(), recorder_.unreadAtDisconnect->end()),
        "abc");
}

TEST_F(RunLoopSocketIOTest, PeerResetMidReadClosesWithItsErrorAndTheBytesReadSoFar) {
    client_->readDataToLength(100, -1, 1);
    listener_.send("partial");
    ASSERT_TRUE(waitFor([&] { return !recorder_.partialReads.empty(); }));
    linger hard{1, 0};  // close with a reset
    setsockopt(listener_.peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(listener_.peer);
    listener_.peer = -1;
    ASSERT_TRUE(waitFor([&] { return recorder_.disconnects == 1; }));
    ASSERT_EQ(recorder_.willDisconnectErrors.size(), 1u);
    ASSERT_TRUE(recorder_.willDisconnectErrors[0]);
    EXPECT_EQ(recorder_.willDisconnectErrors[0]->domain, Error::kPosixDomain);
    EXPECT_EQ(recorder_.willDisconnectErrors[0]->code, ECONNRESET);
    EXPECT_EQ(
        std::string(recorder_.unreadAtDisconnect->begin(), recorder_.unreadAtDisconnect->end()),
        "partial");
}

TEST_F(RunLoopSocketIOTest, WritesLargeDataInPiecesAndReportsEachWrite) {
    std::string big(1 << 20, 'w');
    for (size_t i = 0; i < big.size(); i += 7) big[i] = char('a' + i % 26);
    client_->writeData(bytesOf(big), 5.0, 1);
    client_->writeData(bytesOf("tail"), -1, 2);
    client_->writeData(Bytes{}, -1, 3);  // empty: ignored
    std::string received;
    std::thread reader([&] { received = listener_.receive(big.size() + 4); });
    ASSERT_TRUE(waitFor([&] { return recorder_.writes.size() == 2; }));
    reader.join();
    EXPECT_EQ(received, big + "tail");
    EXPECT_EQ(recorder_.writes, (std::vector<long>{1, 2}));
    EXPECT_TRUE(std::isnan(client_->progressOfWriteReturningTag(nullptr, nullptr, nullptr)));
}

TEST_F(RunLoopSocketIOTest, WriteToAPeerThatStopsReadingTimesOut) {
    // More than the loopback buffers hold: the rest waits for room that never comes.
    auto big = std::make_shared<const Bytes>(64u << 20, 'x');
    client_->writeData(big, 2.0, 1);
    loop_.runFor(0.05);
    long tag = 0;
    uint64_t done = 0, total = 0;
    float progress = client_->progressOfWriteReturningTag(&tag, &done, &total);
    EXPECT_EQ(tag, 1);
    EXPECT_EQ(total, big->size());
    EXPECT_GT(done, 0u);
    EXPECT_LT(progress, 1.0f);
    loop_.advance(2.0);
    ASSERT_EQ(recorder_.willDisconnectErrors.size(), 1u);
    EXPECT_EQ(recorder_.willDisconnectErrors[0]->code, 5);
    EXPECT_EQ(recorder_.willDisconnectErrors[0]->description, "Write operation timed out");
    EXPECT_TRUE(recorder_.writes.empty());
}

TEST_F(RunLoopSocketIOTest, DisconnectAfterReadingAndWritingWaitsForBothSides) {
    client_->readDataToLength(3, -1, 1);
    client_->writeData(bytesOf("out"), -1, 2);
    client_->disconnectAfterReadingAndWriting();
    client_->readDataToLength(1, -1, 3);      // forbidden now: ignored
    client_->writeData(bytesOf("x"), -1, 4);  // likewise
    ASSERT_TRUE(waitFor([&] { return recorder_.writes.size() == 1; }));
    EXPECT_EQ(listener_.receive(3), "out");
    loop_.runFor(0.05);
    EXPECT_EQ(recorder_.disconnects, 0);  // the read still waits
    listener_.send("in!");
    ASSERT_TRUE(waitFor([&] { return recorder_.disconnects == 1; }));
    EXPECT_EQ(recorder_.reads.size(), 1u);
    EXPECT_EQ(recorder_.writes, std::vector<long>{2});
    EXPECT_TRUE(recorder_.willDisconnectErrors.empty());
}

TEST_F(RunLoopSocketIOTest, PeerClosingEndsTheSocketAndDisconnectingIsFinal) {
    client_->disconnectAfterWriting();
    ASSERT_TRUE(waitFor([&] { return recorder_.disconnects == 1; }));
    EXPECT_TRUE(client_->isDisconnected());
    EXPECT_FALSE(client_->isConnected());
    EXPECT_EQ(listener_.receive(1), "");  // the peer sees the end

    PlainListener other;
    RunLoopRecorder recorder;
    auto client = connectedClient(other, recorder);
    client->readDataWithTimeout(-1, 1);
    ::shutdown(other.peer, SHUT_WR);
    ASSERT_TRUE(waitFor([&] { return recorder.disconnects == 1; }));
    ASSERT_EQ(recorder.willDisconnectErrors.size(), 1u);
    EXPECT_FALSE(recorder.willDisconnectErrors[0]);  // an orderly end carries no error
}

// ---- TLS ----

class RunLoopSocketTLSTest : public RunLoopSocketTestBase {
  protected:
    static void SetUpTestSuite() {
        certificates_ = new TLSTestCertificates;
        // The default client trusts the test authority, as it would the system's.
        ::setenv("SSL_CERT_FILE", certificates_->caFile().c_str(), 1);
    }
    static void TearDownTestSuite() {
        ::unsetenv("SSL_CERT_FILE");
        delete certificates_;
        certificates_ = nullptr;
    }
    void SetUp() override {
        RunLoopSocketTestBase::SetUp();
        ASSERT_TRUE(certificates_->ok()) << "the openssl command could not make certificates";
        listener_ = RunLoopSocket::make(&serverRecorder_);
        ASSERT_TRUE(listener_->acceptOnInterface("127.0.0.1", 0));
        client_ = RunLoopSocket::make(&clientRecorder_);
        ASSERT_TRUE(client_->connectToHost("localhost", listener_->localPort()));
        ASSERT_TRUE(waitFor(
            [&] { return clientRecorder_.connects == 1 && serverRecorder_.connects == 1; }));
        server_ = serverRecorder_.accepted.at(0);
    }
    void TearDown() override {
        client_.reset();
        server_.reset();
        serverRecorder_.accepted.clear();
        listener_.reset();
        RunLoopSocketTestBase::TearDown();
    }
    static Dictionary serverSettings(const std::string& identity) {
        return Dictionary{
            {Value(TLSEngine::kIsServer), Value(true)},
            {Value(TLSEngine::kCertificates),
             Value(Array{Value(certificates_->identity(identity)), Value(certificates_->ca())})}};
    }
    static Dictionary clientSettings() {
        return Dictionary{{Value(TLSEngine::kPeerName), Value(std::string("localhost"))}};
    }

    static TLSTestCertificates* certificates_;
    RunLoopRecorder serverRecorder_, clientRecorder_;
    std::shared_ptr<RunLoopSocket> listener_, client_, server_;
};

TLSTestCertificates* RunLoopSocketTLSTest::certificates_ = nullptr;

/// The deadline every handshake of these tests gets: a stalled one fails the test quickly.
constexpr double kHandshakeDeadline = 5.0;

TEST_F(RunLoopSocketTLSTest, SwitchesToTLSMidStreamAndCarriesBytesBothWays) {
    // Clear text first; the switch waits for it.
    client_->writeData(bytesOf("STARTTLS\n"), -1, 1);
    client_->startTLS(clientSettings(), kHandshakeDeadline);
    client_->writeData(bytesOf("secret\n"), -1, 2);
    client_->readDataToData(RunLoopSocket::LFData(), -1, 3);
    server_->readDataToData(RunLoopSocket::LFData(), -1, 10);
    server_->startTLS(serverSettings("server"), kHandshakeDeadline);
    server_->readDataToData(RunLoopSocket::LFData(), -1, 11);
    serverRecorder_.onRead = [](RunLoopSocket* s, const RunLoopRecorder::Read& r) {
        if (r.tag == 11) s->writeData(bytesOf("got " + r.data), -1, 12);
    };
    ASSERT_TRUE(waitFor([&] { return !clientRecorder_.reads.empty(); }));
    EXPECT_EQ(serverRecorder_.reads.at(0).data, "STARTTLS\n");
    EXPECT_EQ(serverRecorder_.reads.at(1).data, "secret\n");
    EXPECT_EQ(clientRecorder_.reads[0].data, "got secret\n");
    EXPECT_EQ(clientRecorder_.secured, 1);
    EXPECT_EQ(serverRecorder_.secured, 1);
}

TEST_F(RunLoopSocketTLSTest, SelfSignedServerIsRefusedBeforeAnyByteIsRead) {
    server_->startTLS(serverSettings("self"), kHandshakeDeadline);
    server_->writeData(bytesOf("never\n"), -1, 1);
    client_->startTLS(clientSettings(), kHandshakeDeadline);
    client_->readDataToData(RunLoopSocket::LFData(), -1, 2);
    ASSERT_TRUE(waitFor([&] { return clientRecorder_.disconnects == 1; }));
    EXPECT_TRUE(clientRecorder_.reads.empty());
    EXPECT_EQ(clientRecorder_.secured, 0);
    ASSERT_EQ(clientRecorder_.willDisconnectErrors.size(), 1u);
    EXPECT_EQ(clientRecorder_.willDisconnectErrors[0]->domain, "kCFStreamErrorDomainSSL");
    EXPECT_NE(clientRecorder_.willDisconnectErrors[0]->code, 0);
}

TEST_F(RunLoopSocketTLSTest, RefusedSettingCloseWithTheGeneralError) {
    client_->startTLS(Dictionary{{Value(TLSEngine::kPeerName), Value(42)}}, kHandshakeDeadline);
    ASSERT_TRUE(waitFor([&] { return clientRecorder_.disconnects == 1; }));
    ASSERT_EQ(clientRecorder_.willDisconnectErrors.size(), 1u);
    EXPECT_EQ(clientRecorder_.willDisconnectErrors[0]->domain, "RunLoopSocketErrorDomain");
    EXPECT_EQ(clientRecorder_.willDisconnectErrors[0]->code, -1);
}

TEST_F(RunLoopSocketTLSTest, AStalledHandshakeEndsInOneErrorAtItsDeadline) {
    // The peer accepts and never answers the client's hello; a read waits behind the switch.
    PlainListener raw;
    RunLoopRecorder recorder;
    std::shared_ptr<RunLoopSocket> client = connectedClient(raw, recorder);
    client->startTLS(clientSettings(), 0.3);
    client->readDataToData(RunLoopSocket::LFData(), 1.0, 7);
    ASSERT_TRUE(waitFor([&] {
        pollfd p{raw.peer, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    })) << "the hello never went out";
    loop_.advance(0.29);
    EXPECT_EQ(recorder.disconnects, 0);
    loop_.advance(0.02);
    ASSERT_EQ(recorder.disconnects, 1) << "the handshake never ended";
    ASSERT_EQ(recorder.willDisconnectErrors.size(), 1u);
    ASSERT_TRUE(recorder.willDisconnectErrors[0]);
    EXPECT_EQ(recorder.willDisconnectErrors[0]->domain, RunLoopSocket::kErrorDomain);
    EXPECT_EQ(recorder.willDisconnectErrors[0]->code, RunLoopSocket::ReadTimeoutError);
    EXPECT_EQ(recorder.willDisconnectErrors[0]->description, "TLS handshake timed out");
    loop_.advance(1.0);  // past the read's own time-out: nothing more
    loop_.runFor(0.05);
    EXPECT_EQ(recorder.disconnects, 1);
    EXPECT_EQ(recorder.willDisconnectErrors.size(), 1u);
    EXPECT_TRUE(recorder.reads.empty());
}

}  // namespace
}  // namespace quenbril::test
