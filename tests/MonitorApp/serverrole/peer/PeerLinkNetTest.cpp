// Two stations of ours on a real Avahi daemon (inside the sandbox the test main makes): one
// advertises, the other finds it through service discovery, invites it and they exchange a
// message.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/peer/MCManager.h"
#include "MonitorApp/serverrole/peer/PeerBrowser.h"
#include "MonitorApp/serverrole/peer/PeerSession.h"
#include "foundation/ManualRunLoop.h"
#include "platform/discovery/AvahiDiscovery.h"
#include "tests/support/AvahiSandbox.h"

namespace quenbril {
namespace {

struct Messages : MCManagerDelegate {
    void messageReceived(const std::optional<std::string>& text) override { texts.push_back(text); }
    std::vector<std::optional<std::string>> texts;
};

MCManager::Services avahiServices() {
    MCManager::Services services;
    services.publisher = [] { return makeAvahiServicePublisher(); };
    services.browser = [] { return makeAvahiServiceBrowser(); };
    return services;
}

TEST(PeerLinkNet, AStationFindsAnAdvertisedOneInvitesItAndTheyExchangeAMessage) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    {
        Messages alphaMessages, betaMessages;
        MCManager alpha(avahiServices());
        alpha.setupPeerAndSessionWithDisplayName("Alpha station");
        alpha.setDelegate(&alphaMessages);
        alpha.advertiseSelf(true);

        MCManager beta(avahiServices());
        beta.setupPeerAndSessionWithDisplayName("Beta station");
        beta.setDelegate(&betaMessages);
        beta.setupMCBrowser();
        std::vector<ResolvedService> found;
        beta.browser()->setFoundHandler(
            [&](const ResolvedService& station) { found.push_back(station); });
        beta.browser()->startBrowsingForPeers();
        ASSERT_TRUE(loop.runUntil([&] { return !found.empty(); }, 10.0));
        EXPECT_EQ(found[0].name, "Alpha station");
        EXPECT_EQ(found[0].port, alpha.session()->listeningPort());

        Error error;
        ASSERT_TRUE(PeerBrowser::invitePeer(found[0], *beta.session(), &error))
            << error.description;
        ASSERT_TRUE(loop.runUntil(
            [&] {
                return alpha.session()->connectedPeers().size() == 1 &&
                       beta.session()->connectedPeers().size() == 1;
            },
            5.0));
        alpha.sendMessage("hello over the network");
        ASSERT_TRUE(loop.runUntil([&] { return !betaMessages.texts.empty(); }, 5.0));
        EXPECT_EQ(betaMessages.texts[0], "hello over the network");
        beta.sendMessage("and back");
        ASSERT_TRUE(loop.runUntil([&] { return !alphaMessages.texts.empty(); }, 5.0));
        EXPECT_EQ(alphaMessages.texts[0], "and back");
        beta.browser()->stopBrowsingForPeers();
        alpha.advertiseSelf(false);
    }
    loop.runPending();
    RunLoop::setMain(nullptr);
}

}  // namespace
}  // namespace quenbril
