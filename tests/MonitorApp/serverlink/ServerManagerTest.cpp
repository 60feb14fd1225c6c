// The link's choice of server and its reconnection, with a scripted browser, the virtual clock
// and loopback listeners.

#include <gtest/gtest.h>

#include "tests/MonitorApp/link/LinkTestSupport.h"

namespace quenbril::test {
namespace {

using ServerManagerTest = ServerManagerTestBase;

TEST_F(ServerManagerTest, FirstServiceWinsForTheWholeRun) {
    FrameServer first, second;
    link_->tryToConnect();
    auto* browser = browserLog_->delegate;
    browser->serviceFound("First");
    browser->serviceFound("Second");
    EXPECT_EQ(browserLog_->resolved, std::vector<std::string>{"First"});

    browser->serviceResolved({"First", "first.local", first.port(), {first.address()}});
    ASSERT_TRUE(first.acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return !recorder_.connects.empty(); }));
    EXPECT_EQ(link_->host(), "first.local");

    // The first one goes away; the second is still never used, and a later resolution does
    // not replace the addresses.
    browser->serviceRemoved("First");
    browser->serviceFound("Second");
    browser->serviceResolved({"Second", "second.local", second.port(), {second.address()}});
    EXPECT_EQ(browserLog_->resolved, std::vector<std::string>{"First"});
    ASSERT_TRUE(link_->serverAddresses());
    EXPECT_EQ(*link_->serverAddresses(), std::vector<Bytes>{first.address()});
}

TEST_F(ServerManagerTest, BrowsesForTheStoredIdentifierAndARestartResolvesTheChosenServiceAgain) {
    UserSettingsManager::sharedInstance().setQbIdentifier("foh");
    link_->tryToConnect();
    EXPECT_EQ(browserLog_->browsed, std::vector<std::string>{"_foh._tcp."});
    EXPECT_EQ(recorder_.progress, std::vector<std::string>{"Resolving address..."});
    browserLog_->delegate->serviceFound("First");
    browserLog_->delegate->resolveFailed("First", Error{});
    link_->tryToConnect();  // nothing resolved yet: searches again
    EXPECT_EQ(browserLog_->browsed.size(), 2u);
    browserLog_->delegate->serviceFound("Other");
    browserLog_->delegate->serviceFound("First");
    EXPECT_EQ(browserLog_->resolved, (std::vector<std::string>{"First", "First"}));
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
    loop_->runUntil([] { return false; }, 0.1);
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

}  // namespace
}  // namespace quenbril::test
