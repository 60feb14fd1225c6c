// The link finding its server by discovery on a real Avahi daemon (inside the sandbox the test
// main makes), then talking frames with it.

#include <gtest/gtest.h>

#include "platform/discovery/AvahiDiscovery.h"
#include "tests/MonitorApp/link/LinkTestSupport.h"
#include "tests/support/AvahiSandbox.h"

namespace quenbril::test {
namespace {

constexpr double kDiscoveryWait = 10.0;  // a service resolves in about 1 s

class ServerManagerDiscovery : public LinkTest {};

TEST_F(ServerManagerDiscovery, FindsTheAnnouncedServerAndTalksToIt) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    FrameServer server;
    auto publisher = makeAvahiServicePublisher();
    ASSERT_TRUE(publisher->publish("Stage rack", "_quenbriltest._tcp.", server.port()));

    UserSettingsManager::sharedInstance().setQbIdentifier("quenbriltest");
    ServerManager link;  // with the Avahi browser
    LinkRecorder recorder;
    link.setDelegate(&recorder);
    link.tryToConnect();
    ASSERT_TRUE(server.acceptWithin(*loop_, kDiscoveryWait));
    ASSERT_TRUE(waitFor([&] { return !recorder.connects.empty(); }));
    EXPECT_EQ(link.serverService(), "Stage rack");
    EXPECT_NE(link.host().find(".local"), std::string::npos) << link.host();
    EXPECT_EQ(recorder.progress.front(), "Resolving address...");

    link.sendDictionary(Dictionary{{"Command", "SoloOn"}, {"Value", true}});
    ASSERT_TRUE(server.sendMessage(Dictionary{{"Command", "MarkerAdded"}, {"Value", 1}}));
    ASSERT_TRUE(waitFor([&] { return !recorder.messages.empty() && !server.messages().empty(); }));
    EXPECT_EQ(server.commands(), std::vector<std::string>{"SoloOn"});

    // A drop is followed by a new attempt on the resolved address, without a new search.
    server.closeClient();
    ASSERT_TRUE(waitFor([&] { return !recorder.disconnects.empty(); }));
    loop_->advance(ServerManager::kMinAttemptInterval);
    ASSERT_TRUE(server.acceptWithin(*loop_));
    ASSERT_TRUE(waitFor([&] { return recorder.connects.size() == 2; }));
}

}  // namespace
}  // namespace quenbril::test
