// The link's choice of server and its reconnection, with a scripted browser, the virtual clock
// and loopback listeners.

#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include "sockets/DispatchSocket.h"
#include "tests/MonitorApp/link/LinkTestSupport.h"

namespace quenbril::test {
namespace {

using ServerManagerTest = ServerManagerTestBase;

/// A loopback listener whose accept queue is full and which does not accept: the kernel drops
/// every further SYN, so a connect to it is neither answered nor refused.
class SilentPeer {
  public:
    SilentPeer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        // Each filler's handshake completes in the kernel and waits in the queue, until the
        // listener reports the queue over its limit.
        while (!isFull() && fillers_.size() < 8) {
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            fillers_.push_back(fd);
            for (int wait = 0; wait < 300 && !isFull() && queued() < fillers_.size(); ++wait) {
                ::poll(nullptr, 0, 10);
            }
        }
    }
    ~SilentPeer() {
        for (int fd : fillers_) ::close(fd);
        ::close(listener_);
    }
    SilentPeer(const SilentPeer&) = delete;
    SilentPeer& operator=(const SilentPeer&) = delete;

    uint16_t port() const { return port_; }
    /// Whether the accept queue is full, so that new connects go unanswered.
    bool isFull() const {
        tcp_info info = queueInfo();
        return info.tcpi_unacked > info.tcpi_sacked;
    }
    /// Takes the queued connections, which makes room for new ones.
    void drain() {
        while (true) {
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) break;
            fillers_.push_back(fd);
            if (!isFull()) break;
        }
    }

  private:
    /// For a listener the kernel reports the accept queue's length in tcpi_unacked and its
    /// limit in tcpi_sacked.
    tcp_info queueInfo() const {
        tcp_info info{};
        socklen_t length = sizeof info;
        ::getsockopt(listener_, IPPROTO_TCP, TCP_INFO, &info, &length);
        return info;
    }
    size_t queued() const { return queueInfo().tcpi_unacked; }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::vector<int> fillers_;
};

TEST_F(ServerManagerTest, FirstServiceWinsForTheWholeRun) {
    FrameServer first, second;
    link_->tryToConnect();
    auto* browser = browserLog_->delegate;
    browser->serviceFound("First");
    browser->serviceFound("Second");
    browser->firstBatchComplete();
    EXPECT_EQ(browserLog_->resolved, std::vector<std::string>{"First"});

    browser->serviceResolved({"First", "first.local", first.port(), {first.address()}});
    ASSERT_TRUE(first.acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return !recorder_.connects.empty(); }));
    EXPECT_EQ(link_->host(), "first.local");

    // The first one goes away; the second is still never used, and a resolution of it is
    // ignored.
    browser->serviceRemoved("First");
    browser->serviceFound("Second");
    browser->serviceResolved({"Second", "second.local", second.port(), {second.address()}});
    EXPECT_EQ(browserLog_->resolved, std::vector<std::string>{"First"});
    ASSERT_TRUE(link_->serverAddresses());
    EXPECT_EQ(*link_->serverAddresses(), std::vector<Bytes>{first.address()});
}

TEST_F(ServerManagerTest, TheChosenServiceIsResolvedOnceTheSearchsFirstBatchIsIn) {
    UserSettingsManager::sharedInstance().setQbIdentifier("foh");
    link_->tryToConnect();
    EXPECT_EQ(browserLog_->browsed, std::vector<std::string>{"_foh._tcp."});
    EXPECT_EQ(recorder_.progress, std::vector<std::string>{"Resolving address..."});
    // Its first announcement may be on an interface or family that does not reach it; the
    // others come in the same batch.
    browserLog_->delegate->serviceFound("First");
    EXPECT_TRUE(browserLog_->resolved.empty());
    browserLog_->delegate->firstBatchComplete();
    EXPECT_EQ(browserLog_->resolved, std::vector<std::string>{"First"});
    browserLog_->delegate->resolveFailed("First", Error{});

    link_->tryToConnect();  // nothing resolved yet: searches again, and waits for its batch
    EXPECT_EQ(browserLog_->browsed.size(), 2u);
    browserLog_->delegate->serviceFound("Other");
    browserLog_->delegate->serviceFound("First");
    EXPECT_EQ(browserLog_->resolved.size(), 1u);
    browserLog_->delegate->firstBatchComplete();
    EXPECT_EQ(browserLog_->resolved, (std::vector<std::string>{"First", "First"}));
}

// Only a search that is still running is reported stopped: not the first one, nor one the
// daemon already dropped.
TEST_F(ServerManagerTest, ANewSearchThatStopsARunningOneLogsIt) {
    auto searchLog = [&] {
        ::testing::internal::CaptureStderr();
        link_->tryToConnect();
        const std::string log = ::testing::internal::GetCapturedStderr();
        size_t count = 0;
        for (size_t at = log.find("DidStopSearch"); at != std::string::npos;
             at = log.find("DidStopSearch", at + 1)) {
            ++count;
        }
        return count;
    };
    EXPECT_EQ(searchLog(), 0u);
    EXPECT_EQ(searchLog(), 1u);
    browserLog_->delegate->browseFailed(Error{});
    EXPECT_EQ(searchLog(), 0u);
    EXPECT_EQ(browserLog_->browsed.size(), 3u);
}

TEST_F(ServerManagerTest, AServiceAnnouncedAfterAnEmptyFirstBatchIsResolvedAtOnce) {
    link_->tryToConnect();
    browserLog_->delegate->firstBatchComplete();
    EXPECT_TRUE(browserLog_->resolved.empty());
    browserLog_->delegate->serviceFound("Late");
    EXPECT_EQ(browserLog_->resolved, std::vector<std::string>{"Late"});
}

TEST_F(ServerManagerTest, AFullRoundOfFailedAddressesResolvesTheServiceAgain) {
    FrameServer live;
    link_->tryToConnect();
    auto* browser = browserLog_->delegate;
    browser->serviceFound("Desk");
    browser->firstBatchComplete();
    ASSERT_EQ(browserLog_->resolved.size(), 1u);
    browser->serviceResolved({"Desk",
                              "stage.local",
                              57576,
                              {loopbackAddress(unusedPort()), loopbackAddress(unusedPort())}});
    ASSERT_TRUE(waitForDisconnects(1));
    EXPECT_EQ(browserLog_->resolved.size(), 1u) << "one address of two has failed";
    loop_->advance(ServerManager::kMinAttemptInterval);
    ASSERT_TRUE(waitForDisconnects(2));
    EXPECT_EQ(browserLog_->resolved.size(), 2u);

    // The attempts go on meanwhile; a resolution that fails is asked for again after the next
    // round.
    browser->resolveFailed("Desk", Error{});
    for (size_t attempt = 3; attempt <= 4; ++attempt) {
        loop_->advance(ServerManager::kMinAttemptInterval);
        ASSERT_TRUE(waitForDisconnects(attempt));
    }
    EXPECT_EQ(browserLog_->resolved.size(), 3u);

    // The new addresses replace the old ones.
    browser->serviceResolved({"Desk", "stage.local", 57576, {live.address()}});
    loop_->advance(ServerManager::kMinAttemptInterval);
    ASSERT_TRUE(live.acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return !recorder_.connects.empty(); }));
    EXPECT_EQ(*link_->serverAddresses(), std::vector<Bytes>{live.address()});

    // A late answer changes the list but leaves the live link alone.
    browser->serviceResolved({"Desk", "stage.local", 57576, {loopbackAddress(unusedPort())}});
    loop_->advance(ServerManager::kMinAttemptInterval);
    EXPECT_TRUE(link_->isConnected());
    EXPECT_FALSE(live.peerClosed());
    EXPECT_EQ(live.acceptedCount(), 1);
}

TEST_F(ServerManagerTest, ARoundOfFailedAddressesAfterTheSearchFailedSearchesAgain) {
    link_->tryToConnect();
    resolveTo("Desk", {loopbackAddress(unusedPort())});
    browserLog_->delegate->browseFailed(Error{});  // the daemon went away
    ASSERT_TRUE(waitForDisconnects(1));
    EXPECT_EQ(browserLog_->browsed.size(), 2u);
    EXPECT_TRUE(browserLog_->resolved.empty()) << "a dropped search resolves nothing";
    browserLog_->delegate->serviceFound("Desk");
    browserLog_->delegate->firstBatchComplete();
    EXPECT_EQ(browserLog_->resolved, std::vector<std::string>{"Desk"});
}

TEST_F(ServerManagerTest, AddressesAreTriedInTurnWrappingAfterTheLast) {
    FrameServer a, b, c;
    link_->tryToConnect();
    resolveTo("Desk", {a.address(), b.address(), c.address()});

    FrameServer* order[] = {&a, &b, &c, &a, &b};
    for (size_t i = 0; i < 5; ++i) {
        ASSERT_TRUE(order[i]->acceptWithin(*loop_)) << "attempt " << i;
        ASSERT_TRUE(waitFor([&] { return recorder_.connects.size() == i + 1; }));
        order[i]->closeClient();  // the server drops the link
        ASSERT_TRUE(waitForDisconnects(i + 1));
        loop_->advance(ServerManager::kMinAttemptInterval);
    }
    EXPECT_EQ(a.acceptedCount(), 2);
    EXPECT_EQ(b.acceptedCount(), 2);
    EXPECT_EQ(c.acceptedCount(), 1);
}

TEST_F(ServerManagerTest, ARefusingServerIsRetriedNoMoreThanOnceASecond) {
    link_->tryToConnect();
    resolveTo("Desk", {loopbackAddress(unusedPort()), loopbackAddress(unusedPort())});
    // Each refusal comes back at once and is reported at the loop time its attempt started.
    for (size_t attempt = 1; attempt <= 4; ++attempt) {
        ASSERT_TRUE(waitForDisconnects(attempt));
        loop_->advance(0.5);
        loop_->advance(0.5);
    }
    ASSERT_TRUE(waitForDisconnects(5));
    loop_->runFor(0.1);
    ASSERT_EQ(recorder_.disconnectTimes.size(), 5u) << "attempts without waiting";
    for (size_t i = 1; i < recorder_.disconnectTimes.size(); ++i) {
        EXPECT_DOUBLE_EQ(recorder_.disconnectTimes[i] - recorder_.disconnectTimes[i - 1],
                         ServerManager::kMinAttemptInterval);
    }
}

TEST_F(ServerManagerTest, AnEmptyAddressListMakesNoAttempt) {
    link_->tryToConnect();
    resolveTo("Desk", {});
    loop_->advance(5.0);
    loop_->runPending();
    EXPECT_FALSE(link_->isConnecting());
    EXPECT_TRUE(recorder_.disconnects.empty());
    EXPECT_TRUE(recorder_.connects.empty());
}

TEST_F(ServerManagerTest, TryToConnectWhileConnectedInDiscoveryModeMovesOn) {
    // A stored address list makes tryToConnect go to the next address at once: when the link
    // is up, it drops it and the drop leads to the next address.
    FrameServer a, b;
    link_->tryToConnect();
    resolveTo("Desk", {a.address(), b.address()});
    ASSERT_TRUE(a.acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return !recorder_.connects.empty(); }));
    loop_->advance(2.0);
    link_->tryToConnect();  // restarts at the first address, which is the one in use
    ASSERT_TRUE(waitForDisconnects(1));
    ASSERT_TRUE(b.acceptWithin(*loop_));
}

class ManualAddressTest : public ServerManagerTest {
  protected:
    void useManual(const std::string& address, uint16_t port) {
        defaults().setInteger(1, "useManualIP");
        defaults().setObject(Value(address), "manualIP");
        link_->setPort(port);
    }
};

TEST_F(ManualAddressTest, TheSameAddressChangesNothingAChangedOneReconnects) {
    FrameServer one(0, 1);
    FrameServer two(one.port(), 2);
    useManual("127.0.0.1", one.port());
    link_->tryToConnect();
    EXPECT_EQ(recorder_.progress.back(), "Conn to 127.0.0.1...");
    ASSERT_TRUE(one.acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return link_->isConnected() && !recorder_.connects.empty(); }));

    link_->tryToConnect();
    link_->tryToConnect();
    loop_->runPending();
    EXPECT_TRUE(link_->isConnected());
    EXPECT_EQ(one.acceptedCount(), 1);
    EXPECT_FALSE(one.peerClosed());
    EXPECT_TRUE(browserLog_->browsed.empty());

    defaults().setObject(Value("127.0.0.2"), "manualIP");
    link_->tryToConnect();
    ASSERT_TRUE(two.acceptWithin(*loop_));
    EXPECT_TRUE(waitFor([&] { return one.peerClosed(); }));
    EXPECT_EQ(link_->previousManualIP(), "127.0.0.2");
}

TEST_F(ManualAddressTest, ADropIsNotFollowedByAnAttemptAndARefusalIsReportedAsADrop) {
    FrameServer server;
    useManual("127.0.0.1", server.port());
    link_->tryToConnect();
    ASSERT_TRUE(server.acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return !recorder_.connects.empty(); }));
    server.closeClient();
    ASSERT_TRUE(waitForDisconnects(1));
    loop_->advance(10.0);
    loop_->runPending();
    EXPECT_FALSE(link_->isConnecting());
    EXPECT_EQ(server.acceptedCount(), 1);

    link_->tryToConnect();  // the callers' timers retry
    ASSERT_TRUE(server.acceptWithin(*loop_));
    server.stop();
    ASSERT_TRUE(waitForDisconnects(2));
    link_->tryToConnect();  // refused at once
    ASSERT_TRUE(waitForDisconnects(3));
    EXPECT_TRUE(recorder_.disconnects[2].has_value());
    EXPECT_FALSE(link_->isConnecting());
}

TEST_F(ManualAddressTest, AHostThatNeverAnswersIsGivenUpAndTheNextTryConnectsAgain) {
    SilentPeer peer;
    ASSERT_TRUE(peer.isFull());
    useManual("127.0.0.1", peer.port());
    link_->setManualConnectTimeout(0.2);
    link_->tryToConnect();
    EXPECT_TRUE(link_->isConnecting());
    ASSERT_TRUE(waitForDisconnects(1));
    ASSERT_TRUE(recorder_.disconnects[0].has_value());
    EXPECT_EQ(recorder_.disconnects[0]->domain, DispatchSocket::kErrorDomain);
    EXPECT_EQ(recorder_.disconnects[0]->code, DispatchSocket::ConnectTimeoutError);
    EXPECT_FALSE(link_->isConnecting());

    // As after a refusal, the callers' next tryToConnect makes a new attempt; the host has
    // room for it now.
    peer.drain();
    link_->tryToConnect();
    EXPECT_TRUE(link_->isConnecting());
    ASSERT_TRUE(waitFor([&] { return !recorder_.connects.empty(); }));
    EXPECT_TRUE(link_->connected());
}

}  // namespace
}  // namespace quenbril::test
