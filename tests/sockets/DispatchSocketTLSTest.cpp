// TLS on the TCP socket, over loopback, with certificates made by the openssl command.

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <thread>

#include "sockets/TLSEngine.h"
#include "sockets/TLSTrust.h"
#include "tests/sockets/SocketTestSupport.h"
#include "tests/sockets/TLSTestCertificates.h"

namespace quenbril::test {
namespace {

/// A recorder that also hears of the switch to TLS and decides trust when told how.
struct TLSRecorder : Recorder {
    int secures = 0;
    int trustQuestions = 0;
    std::shared_ptr<TLSTrust> trust;
    /// None: the delegate does not decide (the default operation).
    std::optional<bool> trustAnswer;
    /// Answer from another thread, twice (the second answer must not count).
    bool answerFromOtherThreadTwice = false;

    void socketDidSecure(DispatchSocket*) override {
        check();
        ++secures;
    }
    bool socketDidReceiveTrust(DispatchSocket*, std::shared_ptr<TLSTrust> peer,
                               std::function<void(bool)> completion) override {
        check();
        ++trustQuestions;
        trust = peer;
        if (!trustAnswer) return false;
        bool answer = *trustAnswer;
        if (answerFromOtherThreadTwice) {
            std::thread([completion, answer] {
                completion(answer);
                completion(!answer);
            }).detach();
        } else {
            completion(answer);
        }
        return true;
    }
};

/// The deadline every handshake of these tests gets: a stalled one fails the test quickly.
constexpr double kHandshakeDeadline = 5.0;

class TLSTest : public SocketTest {
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
        SocketTest::SetUp();
        ASSERT_TRUE(certificates_->ok()) << "the openssl command could not make certificates";
    }

    static Dictionary serverSettings(const std::string& identity = "server") {
        return Dictionary{
            {Value(TLSEngine::kIsServer), Value(true)},
            {Value(TLSEngine::kCertificates),
             Value(Array{Value(certificates_->identity(identity)), Value(certificates_->ca())})}};
    }
    static Dictionary clientSettings(const std::string& peerName = "localhost") {
        return Dictionary{{Value(TLSEngine::kPeerName), Value(peerName)}};
    }
    static Dictionary manualTrustSettings() {
        Dictionary settings = clientSettings();
        settings.set(Value(TLSEngine::kManuallyEvaluateTrust), Value(true));
        return settings;
    }

    /// A listening socket on 127.0.0.1 and a client connected to it; `server` is the accepted
    /// connection.
    void connectPair() {
        listener_ = makeSocket(serverRecorder_);
        ASSERT_TRUE(listener_->acceptOnInterface("127.0.0.1", 0));
        client_ = makeSocket(clientRecorder_);
        ASSERT_TRUE(client_->connectToHost("127.0.0.1", listener_->localPort(), 2.0));
        ASSERT_TRUE(wait(
            [&] { return clientRecorder_.connects == 1 && serverRecorder_.accepted.size() == 1; }));
        server_ = serverRecorder_.accepted.front();
    }

    /// A TLS server engine on a plain socket, driven by the test, so that the test decides
    /// how the records reach the client; `client_` is connected to it and secured.
    struct EnginePeer {
        int fd = -1;
        /// Records are kept in `sealed` instead of sent while set.
        bool sealOnly = false;
        Bytes sealed;
        std::unique_ptr<TLSEngine> engine;

        ~EnginePeer() {
            engine.reset();
            if (fd >= 0) ::close(fd);
        }
        bool write(const uint8_t* data, size_t length) {
            size_t written = 0;
            return engine->write(data, length, &written) == TLSEngine::Success;
        }
        /// True once the client's kernel has acknowledged every byte sent (within 2 s of a plain
        /// build).
        bool delivered() const {
            const auto deadline = std::chrono::steady_clock::now() + scaledDuration(2.0);
            while (std::chrono::steady_clock::now() < deadline) {
                int unacknowledged = 0;
                if (::ioctl(fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0) {
                    return true;
                }
                ::usleep(10000);
            }
            return false;
        }
    };

    std::unique_ptr<EnginePeer> connectEnginePeer() {
        RawListener raw;
        client_ = makeSocket(clientRecorder_);
        if (!client_->connectToHost("127.0.0.1", raw.port, 2.0)) return nullptr;
        auto peer = std::make_unique<EnginePeer>();
        peer->fd = raw.accept();
        if (peer->fd < 0) return nullptr;
        EnginePeer* p = peer.get();
        std::string failure;
        peer->engine = TLSEngine::make(
            serverSettings(),
            [p](uint8_t* buffer, size_t length, size_t* processed) {
                pollfd ready{p->fd, POLLIN, 0};
                ssize_t n =
                    ::poll(&ready, 1, scaledMs(2000)) == 1 ? ::recv(p->fd, buffer, length, 0) : -1;
                *processed = n > 0 ? static_cast<size_t>(n) : 0;
                return n > 0 ? TLSEngine::Success : TLSEngine::ClosedAbort;
            },
            [p](const uint8_t* buffer, size_t length, size_t* processed) {
                if (p->sealOnly) {
                    p->sealed.insert(p->sealed.end(), buffer, buffer + length);
                } else {
                    sendAll(p->fd, buffer, length);
                }
                *processed = length;
                return TLSEngine::Success;
            },
            &failure);
        EXPECT_TRUE(peer->engine) << failure;
        if (!peer->engine) return nullptr;
        client_->startTLS(clientSettings(), kHandshakeDeadline);
        int status = TLSEngine::WouldBlock;
        while (status == TLSEngine::WouldBlock) status = peer->engine->handshake();
        EXPECT_EQ(status, TLSEngine::Success);
        if (status != TLSEngine::Success || !wait([&] { return clientRecorder_.secures == 1; })) {
            return nullptr;
        }
        return peer;
    }

    /// The bytes waiting on the socket's descriptor, not yet read by it.
    static int descriptorBytes(DispatchSocket& socket) {
        int available = -1;
        socket.performBlock([&] { ::ioctl(socket.socketFD(), FIONREAD, &available); });
        return available;
    }

    static Bytes patternOf(size_t length) {
        Bytes out(length);
        for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(i % 251);
        return out;
    }

    static void expectSSLError(const std::optional<Error>& error, int status) {
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->domain, DispatchSocket::kSSLErrorDomain);
        EXPECT_EQ(error->code, status) << error->toString();
    }

    static TLSTestCertificates* certificates_;
    TLSRecorder serverRecorder_, clientRecorder_;
    std::shared_ptr<DispatchSocket> listener_, server_, client_;
};

TLSTestCertificates* TLSTest::certificates_ = nullptr;

TEST_F(TLSTest, BytesQueuedBeforeTheSwitchLeaveInClearAndLaterOnesNever) {
    RawListener raw;
    client_ = makeSocket(clientRecorder_);
    ASSERT_TRUE(client_->connectToHost("127.0.0.1", raw.port, 2.0));
    int peer = raw.accept();
    ASSERT_GE(peer, 0);
    client_->writeData(bytesOf("PLAIN"), 2.0, 1);
    client_->startTLS(clientSettings(), kHandshakeDeadline);
    client_->startTLS(clientSettings("ignored"), kHandshakeDeadline);  // a second switch is dropped
    client_->writeData(bytesOf("SECRET"), 2.0, 2);

    EXPECT_EQ(textOf(recvExactly(peer, 5)), "PLAIN");
    Bytes hello = recvExactly(peer, 5);
    ASSERT_EQ(hello.size(), 5u);
    EXPECT_EQ(hello[0], 0x16) << "a TLS handshake record follows the clear text";
    // The peer goes away mid-handshake: the client closes with the abort status.
    ::close(peer);
    ASSERT_TRUE(wait([&] { return clientRecorder_.disconnects == 1; }));
    expectSSLError(clientRecorder_.disconnectError, TLSEngine::ClosedAbort);
    EXPECT_EQ(clientRecorder_.writes, std::vector<long>{1});
    ASSERT_TRUE(drain(*client_));
    EXPECT_EQ(clientRecorder_.disconnects, 1);
}

TEST_F(TLSTest, ManualTrustYesSecuresBothSidesAndCarriesDataBothWays) {
    connectPair();
    auto sessionInside = [](DispatchSocket& socket) {
        TLSEngine* session = nullptr;
        socket.performBlock([&] { session = socket.sslContext(); });
        return session;
    };
    EXPECT_EQ(sessionInside(*client_), nullptr) << "no session before the switch";
    // Clear text both ways before the switch, read before it.
    client_->writeData(bytesOf("hello"), 2.0, 1);
    server_->readDataToLength(5, 2.0, 10);
    server_->writeData(bytesOf("olleh"), 2.0, 11);
    client_->readDataToLength(5, 2.0, 20);
    clientRecorder_.trustAnswer = true;
    clientRecorder_.answerFromOtherThreadTwice = true;
    server_->startTLS(serverSettings(), kHandshakeDeadline);
    client_->startTLS(manualTrustSettings(), kHandshakeDeadline);
    client_->writeData(bytesOf("to server"), 2.0, 2);
    server_->readDataToLength(9, 2.0, 12);
    server_->writeData(bytesOf("to client"), 2.0, 13);
    client_->readDataToLength(9, 2.0, 21);

    ASSERT_TRUE(wait(
        [&] { return serverRecorder_.reads.size() == 2 && clientRecorder_.reads.size() == 2; }));
    EXPECT_EQ(textOf(serverRecorder_.reads[0].data), "hello");
    EXPECT_EQ(textOf(clientRecorder_.reads[0].data), "olleh");
    EXPECT_EQ(textOf(serverRecorder_.reads[1].data), "to server");
    EXPECT_EQ(textOf(clientRecorder_.reads[1].data), "to client");
    EXPECT_EQ(serverRecorder_.secures, 1);
    EXPECT_EQ(clientRecorder_.secures, 1);
    EXPECT_TRUE(client_->isSecure());
    EXPECT_TRUE(server_->isSecure());
    // The session is only reachable on the socket's queue.
    EXPECT_EQ(client_->sslContext(), nullptr);
    EXPECT_NE(sessionInside(*client_), nullptr);
    ASSERT_EQ(clientRecorder_.trustQuestions, 1);
    ASSERT_TRUE(clientRecorder_.trust);
    EXPECT_EQ(clientRecorder_.trust->peerName(), "localhost");
    EXPECT_EQ(clientRecorder_.trust->certificateChain().size(), 2u);
    EXPECT_EQ(clientRecorder_.trust->evaluate(), TLSEngine::Success);
    EXPECT_FALSE(clientRecorder_.offMainThread);
    EXPECT_EQ(clientRecorder_.disconnects, 0);

    // A secured socket says goodbye with close_notify: the peer sees an orderly end.
    client_->disconnect();
    EXPECT_EQ(sessionInside(*client_), nullptr) << "a close forgets the session";
    ASSERT_TRUE(wait([&] { return serverRecorder_.disconnects == 1; }));
    ASSERT_TRUE(serverRecorder_.disconnectError);
    EXPECT_EQ(serverRecorder_.disconnectError->domain, DispatchSocket::kErrorDomain);
    EXPECT_EQ(serverRecorder_.disconnectError->code, DispatchSocket::ClosedError);
}

TEST_F(TLSTest, ManualTrustNoClosesWithBadCertificate) {
    connectPair();
    clientRecorder_.trustAnswer = false;
    server_->startTLS(serverSettings("self"), kHandshakeDeadline);
    client_->startTLS(manualTrustSettings(), kHandshakeDeadline);
    client_->writeData(bytesOf("never"), 2.0, 1);
    ASSERT_TRUE(wait([&] { return clientRecorder_.disconnects == 1; }));
    expectSSLError(clientRecorder_.disconnectError, TLSEngine::PeerBadCertificate);
    EXPECT_EQ(clientRecorder_.trust->evaluate(), TLSEngine::UntrustedChain);
    EXPECT_EQ(clientRecorder_.secures, 0);
    EXPECT_TRUE(clientRecorder_.writes.empty());
    ASSERT_TRUE(wait([&] { return serverRecorder_.disconnects == 1; }));
    ASSERT_TRUE(drain(*client_));
    EXPECT_EQ(clientRecorder_.disconnects, 1);
}

TEST_F(TLSTest, ManualTrustWithoutTheDelegateOperationCloses) {
    connectPair();
    server_->startTLS(serverSettings(), kHandshakeDeadline);
    client_->startTLS(manualTrustSettings(), kHandshakeDeadline);
    ASSERT_TRUE(wait([&] { return clientRecorder_.disconnects == 1; }));
    ASSERT_TRUE(clientRecorder_.disconnectError);
    EXPECT_EQ(clientRecorder_.disconnectError->code, DispatchSocket::OtherError);
    EXPECT_EQ(clientRecorder_.disconnectError->description,
              "DispatchSocketManuallyEvaluateTrust specified in tlsSettings, but delegate "
              "doesn't implement socket:shouldTrustPeer:");
}

TEST_F(TLSTest, DefaultClientTrustsTheSystemAuthoritiesAndChecksTheName) {
    struct Case {
        const char* identity;
        const char* peerName;
        int status;
    };
    for (const Case& c : {Case{"server", "localhost", TLSEngine::Success},
                          Case{"server", "127.0.0.1", TLSEngine::Success},
                          Case{"expired", "localhost", TLSEngine::CertificateExpired},
                          Case{"self", "localhost", TLSEngine::UntrustedChain},
                          Case{"server", "elsewhere.example", TLSEngine::HostNameMismatch}}) {
        SCOPED_TRACE(std::string(c.identity) + " as " + c.peerName);
        serverRecorder_ = {};
        clientRecorder_ = {};
        connectPair();
        server_->startTLS(serverSettings(c.identity), kHandshakeDeadline);
        client_->startTLS(clientSettings(c.peerName), kHandshakeDeadline);
        client_->writeData(bytesOf("ping"), 2.0, 1);
        server_->readDataToLength(4, 2.0, 2);
        if (c.status == TLSEngine::Success) {
            ASSERT_TRUE(wait([&] { return serverRecorder_.reads.size() == 1; }));
            EXPECT_EQ(clientRecorder_.secures, 1);
        } else {
            ASSERT_TRUE(wait([&] {
                return clientRecorder_.disconnects == 1 && serverRecorder_.disconnects == 1;
            }));
            expectSSLError(clientRecorder_.disconnectError, c.status);
            EXPECT_TRUE(serverRecorder_.reads.empty());
            ASSERT_TRUE(drain(*client_));
            EXPECT_EQ(clientRecorder_.disconnects, 1);
        }
        // Every socket of this round goes, and its last calls arrive, before the next round.
        serverRecorder_.accepted.clear();
        client_.reset();
        server_.reset();
        listener_.reset();
        // Each has reported its end: the client to its recorder, the accepted socket and the
        // listener to the server's.
        ASSERT_TRUE(wait(
            [&] { return clientRecorder_.disconnects >= 1 && serverRecorder_.disconnects >= 2; }));
        ASSERT_TRUE(drainMain());
    }
}

TEST_F(TLSTest, RefusedSettingsCloseBeforeAnyHandshakeByte) {
    struct Case {
        Dictionary settings;
        std::string message;
    };
    Dictionary anyRoot = clientSettings();
    anyRoot.set(Value("kCFStreamSSLAllowsAnyRoot"), Value(true));
    Dictionary badName{{Value(TLSEngine::kPeerName), Value(42)}};
    Dictionary badIdentity{{Value(TLSEngine::kIsServer), Value(true)},
                           {Value(TLSEngine::kCertificates), Value(Array{Value(bytesOf("junk"))})}};
    Dictionary badProtocol{{Value(TLSEngine::kProtocolVersionMin), Value(5)}};
    Dictionary manualServer = serverSettings();
    manualServer.set(Value(TLSEngine::kManuallyEvaluateTrust), Value(true));
    const std::vector<Case> cases = {
        {anyRoot, "Security option unavailable - kCFStreamSSLAllowsAnyRoot"},
        {badName, "Invalid value for kCFStreamSSLPeerName."},
        {badIdentity, "Error in SSLSetCertificate"},
        {badProtocol, "Error in SSLSetProtocolVersionMin"},
        {manualServer, "Manual trust validation is not supported for server sockets"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        clientRecorder_ = {};
        RawListener raw;
        client_ = makeSocket(clientRecorder_);
        ASSERT_TRUE(client_->connectToHost("127.0.0.1", raw.port, 2.0));
        int peer = raw.accept();
        ASSERT_GE(peer, 0);
        client_->startTLS(c.settings, kHandshakeDeadline);
        ASSERT_TRUE(wait([&] { return clientRecorder_.disconnects == 1; }));
        ASSERT_TRUE(clientRecorder_.disconnectError);
        EXPECT_EQ(clientRecorder_.disconnectError->code, DispatchSocket::OtherError);
        EXPECT_EQ(clientRecorder_.disconnectError->description, c.message);
        EXPECT_TRUE(peerClosed(peer)) << "the peer saw bytes, or no close";
        ::close(peer);
        client_.reset();
    }
}

TEST_F(TLSTest, GarbageInsteadOfAHandshakeFailsOnce) {
    RawListener raw;
    client_ = makeSocket(clientRecorder_);
    ASSERT_TRUE(client_->connectToHost("127.0.0.1", raw.port, 2.0));
    int peer = raw.accept();
    ASSERT_GE(peer, 0);
    client_->startTLS(clientSettings(), kHandshakeDeadline);
    client_->writeData(bytesOf("SECRET"), 2.0, 1);
    sendText(peer, std::string(64, 'G'));
    ASSERT_TRUE(wait([&] { return clientRecorder_.disconnects == 1; }));
    expectSSLError(clientRecorder_.disconnectError, TLSEngine::HandshakeFailure);
    Bytes seen = recvExactly(peer, 1 << 16, 200);
    EXPECT_EQ(textOf(seen).find("SECRET"), std::string::npos);
    ::close(peer);
    ASSERT_TRUE(drain(*client_));
    EXPECT_EQ(clientRecorder_.disconnects, 1);
}

TEST_F(TLSTest, AStalledHandshakeEndsInOneErrorAtItsDeadline) {
    // The peer accepts and never answers the client's hello; a read waits behind the switch.
    RawListener raw;
    client_ = makeSocket(clientRecorder_);
    ASSERT_TRUE(client_->connectToHost("127.0.0.1", raw.port, 2.0));
    int peer = raw.accept();
    ASSERT_GE(peer, 0);
    client_->startTLS(clientSettings(), 0.3);
    client_->readDataWithTimeout(1.0, 7);
    ASSERT_TRUE(wait([&] { return clientRecorder_.disconnects == 1; }, 5.0))
        << "the handshake never ended";
    ASSERT_TRUE(clientRecorder_.disconnectError);
    EXPECT_EQ(clientRecorder_.disconnectError->domain, DispatchSocket::kErrorDomain);
    EXPECT_EQ(clientRecorder_.disconnectError->code, DispatchSocket::ReadTimeoutError);
    EXPECT_EQ(clientRecorder_.disconnectError->description, "TLS handshake timed out");
    settle(1.2);  // past the read's own time-out: nothing more
    EXPECT_EQ(clientRecorder_.disconnects, 1);
    EXPECT_TRUE(clientRecorder_.reads.empty());
    ::close(peer);
}

TEST_F(TLSTest, CipherSuiteIdsAreUnsigned) {
    connectPair();
    // ECDHE-ECDSA-AES128-GCM-SHA256 is 0xC02B: above 0x7FFF, as most suites in use are.
    Dictionary settings = clientSettings();
    settings.set(Value(TLSEngine::kProtocolVersionMax), Value(8));
    settings.set(Value(TLSEngine::kCipherSuites), Value(Array{Value(0xC02B)}));
    server_->startTLS(serverSettings(), kHandshakeDeadline);
    client_->startTLS(settings, kHandshakeDeadline);
    ASSERT_TRUE(
        wait([&] { return clientRecorder_.secures == 1 || clientRecorder_.disconnects == 1; }));
    EXPECT_EQ(clientRecorder_.secures, 1)
        << (clientRecorder_.disconnectError ? clientRecorder_.disconnectError->toString() : "");
}

TEST_F(TLSTest, ReadGoesOnFromRecordsAlreadyTakenOffTheDescriptor) {
    std::unique_ptr<EnginePeer> peer = connectEnginePeer();
    ASSERT_TRUE(peer);
    // Four records: a small one, two full ones and a small last one.
    const size_t sizes[] = {100, 16384, 16384, 1000};
    size_t total = 0;
    for (size_t size : sizes) total += size;
    Bytes plain = patternOf(total);
    client_->readDataToLength(total, -1, 1);
    peer->sealOnly = true;
    size_t secondRecordAt = 0;
    for (size_t i = 0, at = 0; i < 4; at += sizes[i], ++i) {
        if (i == 1) secondRecordAt = peer->sealed.size();
        ASSERT_TRUE(peer->write(plain.data() + at, sizes[i]));
    }

    // First the small record and the start of the next: the engine keeps the partial record.
    const size_t split = secondRecordAt + 10000;
    sendAll(peer->fd, peer->sealed.data(), split);
    ASSERT_TRUE(wait([&] { return !clientRecorder_.partialReads.empty(); }));
    EXPECT_EQ(clientRecorder_.partialReads.front(), sizes[0]);
    // Then the rest at once: more plain bytes than one pass of the read asks the engine for,
    // all of them already taken off the descriptor. Nothing more comes from the peer.
    sendAll(peer->fd, peer->sealed.data() + split, peer->sealed.size() - split);
    ASSERT_TRUE(wait([&] { return clientRecorder_.reads.size() == 1; }))
        << "the read stopped with bytes waiting in the TLS buffers";
    EXPECT_TRUE(clientRecorder_.reads[0].data == plain);
    EXPECT_EQ(clientRecorder_.disconnects, 0);
}

TEST_F(TLSTest, ReadServedFromDecryptedBytesListensForTheRest) {
    std::unique_ptr<EnginePeer> peer = connectEnginePeer();
    ASSERT_TRUE(peer);
    Bytes plain = patternOf(600);
    // With no read queued, a record is decrypted ahead; the next one, heard of while the
    // decrypted bytes still wait, is left on the descriptor.
    ASSERT_TRUE(peer->write(plain.data(), 100));
    ASSERT_TRUE(peer->delivered());
    ASSERT_TRUE(wait([&] { return descriptorBytes(*client_) == 0; }));
    ASSERT_TRUE(peer->write(plain.data() + 100, 200));
    ASSERT_TRUE(peer->delivered());
    // A moment for the client to hear of it; should it hear later, the reads below pass anyway.
    settle();
    // The first read takes the decrypted bytes, which decrypts the second record ahead.
    client_->readDataToLength(100, -1, 1);
    ASSERT_TRUE(wait([&] { return clientRecorder_.reads.size() == 1; }));
    // The second read wants more than waits: the rest must be heard of on the descriptor.
    client_->readDataToLength(500, -1, 2);
    ASSERT_TRUE(peer->write(plain.data() + 300, 300));
    ASSERT_TRUE(wait([&] { return clientRecorder_.reads.size() == 2; }))
        << "the read did not listen to the descriptor again";
    Bytes joined = clientRecorder_.reads[0].data;
    joined.insert(joined.end(), clientRecorder_.reads[1].data.begin(),
                  clientRecorder_.reads[1].data.end());
    EXPECT_TRUE(joined == plain);
    EXPECT_EQ(clientRecorder_.disconnects, 0);
}

TEST_F(TLSTest, TenMegabytesEachWayInArbitraryChunks) {
    connectPair();
    server_->startTLS(serverSettings(), kHandshakeDeadline);
    client_->startTLS(clientSettings(), kHandshakeDeadline);
    constexpr size_t kTotal = 10 * 1024 * 1024;
    std::mt19937 random(7);
    Bytes toServer(kTotal), toClient(kTotal);
    for (auto& b : toServer) b = static_cast<uint8_t>(random());
    for (auto& b : toClient) b = static_cast<uint8_t>(random());
    // Writes in chunks from 1 byte to 200 KB; the reader takes exact lengths of other sizes.
    auto queue = [&](DispatchSocket& writer, DispatchSocket& reader, const Bytes& data) {
        for (size_t at = 0; at < kTotal;) {
            size_t n = std::min(kTotal - at, static_cast<size_t>(1 + random() % 200000));
            writer.writeData(Bytes(data.begin() + static_cast<long>(at),
                                   data.begin() + static_cast<long>(at + n)),
                             -1, 0);
            at += n;
        }
        for (size_t at = 0; at < kTotal;) {
            size_t n = std::min(kTotal - at, static_cast<size_t>(1 + random() % 150000));
            reader.readDataToLength(n, -1, 0);
            at += n;
        }
    };
    queue(*client_, *server_, toServer);
    queue(*server_, *client_, toClient);
    auto received = [](const TLSRecorder& r) {
        size_t total = 0;
        for (const auto& read : r.reads) total += read.data.size();
        return total;
    };
    ASSERT_TRUE(wait(
        [&] { return received(serverRecorder_) == kTotal && received(clientRecorder_) == kTotal; },
        60.0))
        << received(serverRecorder_) << " " << received(clientRecorder_);
    auto joined = [](const TLSRecorder& r) {
        Bytes all;
        for (const auto& read : r.reads) all.insert(all.end(), read.data.begin(), read.data.end());
        return all;
    };
    EXPECT_TRUE(joined(serverRecorder_) == toServer);
    EXPECT_TRUE(joined(clientRecorder_) == toClient);
    EXPECT_EQ(serverRecorder_.disconnects + clientRecorder_.disconnects, 0);
}

}  // namespace
}  // namespace quenbril::test
