// The TLS engine alone, over an in-memory transport the test controls byte by byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>

#include "sockets/TLSEngine.h"
#include "tests/sockets/TLSTestCertificates.h"

namespace quenbril::test {
namespace {

/// Two engines joined by two byte queues; a queue can be capped to force would-block writes.
struct EnginePair {
    std::deque<uint8_t> toServer, toClient;
    size_t capacity = SIZE_MAX;
    bool serverTransportEnded = false;
    std::unique_ptr<TLSEngine> client, server;

    static TLSEngine::ReadFunction reader(std::deque<uint8_t>& queue, bool* ended) {
        return [&queue, ended](uint8_t* buffer, size_t length, size_t* processed) {
            size_t n = std::min(length, queue.size());
            std::copy_n(queue.begin(), n, buffer);
            queue.erase(queue.begin(), queue.begin() + static_cast<long>(n));
            *processed = n;
            if (n == length) return static_cast<int>(TLSEngine::Success);
            return static_cast<int>(ended && *ended ? TLSEngine::ClosedAbort
                                                    : TLSEngine::WouldBlock);
        };
    }
    TLSEngine::WriteFunction writer(std::deque<uint8_t>& queue) {
        return [&queue, this](const uint8_t* buffer, size_t length, size_t* processed) {
            size_t room = capacity > queue.size() ? capacity - queue.size() : 0;
            size_t n = std::min(length, room);
            queue.insert(queue.end(), buffer, buffer + n);
            *processed = n;
            return static_cast<int>(n == length ? TLSEngine::Success : TLSEngine::WouldBlock);
        };
    }

    EnginePair(const Dictionary& serverSettings, const Dictionary& clientSettings) {
        std::string failure;
        server = TLSEngine::make(serverSettings, reader(toServer, &serverTransportEnded),
                                 writer(toClient), &failure);
        client =
            TLSEngine::make(clientSettings, reader(toClient, nullptr), writer(toServer), &failure);
    }

    /// Steps both handshakes until neither makes progress; answers the client's last status.
    int handshake() {
        int c = TLSEngine::WouldBlock, s = TLSEngine::WouldBlock;
        for (int i = 0; i < 50 && (c == TLSEngine::WouldBlock || s == TLSEngine::WouldBlock); ++i) {
            if (c == TLSEngine::WouldBlock) c = client->handshake();
            if (s == TLSEngine::WouldBlock) s = server->handshake();
        }
        return c;
    }
};

class TLSEngineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        certificates_ = new TLSTestCertificates;
        ::setenv("SSL_CERT_FILE", certificates_->caFile().c_str(), 1);
    }
    static void TearDownTestSuite() {
        ::unsetenv("SSL_CERT_FILE");
        delete certificates_;
    }
    static Dictionary server() {
        return Dictionary{{Value(TLSEngine::kIsServer), Value(true)},
                          {Value(TLSEngine::kCertificates),
                           Value(Array{Value(certificates_->identity("server"))})}};
    }
    static Dictionary client() {
        return Dictionary{{Value(TLSEngine::kPeerName), Value("localhost")}};
    }
    static TLSTestCertificates* certificates_;
};

TLSTestCertificates* TLSEngineTest::certificates_ = nullptr;

TEST_F(TLSEngineTest, CloseSendsCloseNotifyAndAnEndedTransportIsAnAbort) {
    EnginePair pair(server(), client());
    ASSERT_EQ(pair.handshake(), TLSEngine::Success);
    uint8_t buffer[64];
    size_t n = 0;
    ASSERT_EQ(pair.client->write(reinterpret_cast<const uint8_t*>("hi"), 2, &n),
              TLSEngine::Success);
    EXPECT_EQ(pair.server->read(buffer, sizeof buffer, &n), TLSEngine::Success);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(pair.server->read(buffer, sizeof buffer, &n), TLSEngine::WouldBlock);

    pair.client->close();
    EXPECT_EQ(pair.server->read(buffer, sizeof buffer, &n), TLSEngine::ClosedGracefully);

    // Without close_notify, a transport that ends mid-stream is an abort.
    EnginePair other(server(), client());
    ASSERT_EQ(other.handshake(), TLSEngine::Success);
    ASSERT_EQ(other.client->write(reinterpret_cast<const uint8_t*>("hello"), 5, &n),
              TLSEngine::Success);
    other.toServer.resize(other.toServer.size() - 3);  // the record's tail never comes
    other.serverTransportEnded = true;
    EXPECT_EQ(other.server->read(buffer, sizeof buffer, &n), TLSEngine::ClosedAbort);
}

TEST_F(TLSEngineTest, AnInterruptedRecordGoesOutWhenRetriedWithTheSameBytes) {
    EnginePair pair(server(), client());
    ASSERT_EQ(pair.handshake(), TLSEngine::Success);
    pair.capacity = pair.toServer.size() + 100;
    std::vector<uint8_t> data(20000, 'x');
    size_t n = 0;
    ASSERT_EQ(pair.client->write(data.data(), data.size(), &n), TLSEngine::WouldBlock);
    EXPECT_EQ(n, 0u);
    pair.capacity = SIZE_MAX;
    // The caller's bytes may have moved meanwhile.
    std::vector<uint8_t> moved = data;
    ASSERT_EQ(pair.client->write(moved.data(), moved.size(), &n), TLSEngine::Success);
    EXPECT_EQ(n, data.size());
    std::vector<uint8_t> received(data.size());
    size_t total = 0;
    while (total < received.size()) {
        ASSERT_EQ(pair.server->read(received.data() + total, received.size() - total, &n),
                  TLSEngine::Success);
        total += n;
    }
    EXPECT_EQ(received, data);
}

TEST_F(TLSEngineTest, SessionsResumeByPeerID) {
    Dictionary resuming = client();
    resuming.set(Value(TLSEngine::kPeerID), Value(Bytes{1, 2, 3}));
    resuming.set(Value(TLSEngine::kProtocolVersionMax), Value(8));
    Dictionary serverWithCache = server();
    EnginePair first(serverWithCache, resuming);
    ASSERT_EQ(first.handshake(), TLSEngine::Success);
    EXPECT_FALSE(first.client->resumedSession());
    first.client->close();
    EnginePair second(serverWithCache, resuming);
    ASSERT_EQ(second.handshake(), TLSEngine::Success);
    EXPECT_TRUE(second.client->resumedSession());
}

TEST_F(TLSEngineTest, DiffieHellmanParametersAreTakenInPEMOrDERAndRefusedOtherwise) {
    char pattern[] = "/tmp/quenbril-dh-XXXXXX";
    std::string dir = ::mkdtemp(pattern);
    ASSERT_EQ(std::system(("cd " + dir +
                           " && openssl genpkey -genparam -algorithm DH -pkeyopt group:ffdhe2048 "
                           "-out dh.pem 2>/dev/null && openssl dhparam -in dh.pem -outform DER "
                           "-out dh.der 2>/dev/null")
                              .c_str()),
              0);
    auto read = [&](const char* name) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    auto failureWith = [](const Value& parameters) {
        Dictionary settings = server();
        settings.set(Value(TLSEngine::kDiffieHellmanParameters), parameters);
        std::string failure;
        auto none = [](uint8_t*, size_t, size_t* n) {
            *n = 0;
            return static_cast<int>(TLSEngine::WouldBlock);
        };
        auto sink = [](const uint8_t*, size_t, size_t* n) {
            *n = 0;
            return static_cast<int>(TLSEngine::WouldBlock);
        };
        auto engine = TLSEngine::make(settings, none, sink, &failure);
        return engine ? std::string() : failure;
    };
    EXPECT_EQ(failureWith(Value(read("dh.pem"))), "");
    EXPECT_EQ(failureWith(Value(read("dh.der"))), "");
    EXPECT_EQ(failureWith(Value(Bytes{1, 2, 3})), "Error in SSLSetDiffieHellmanParams");
    EXPECT_EQ(failureWith(Value("dh")),
              "Invalid value for DispatchSocketSSLDiffieHellmanParameters.");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quenbril::test
