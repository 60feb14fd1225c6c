// The host announces itself on a real Avahi daemon (inside the sandbox the test main makes):
// a remote's discovery finds it by the service type, reads its TXT record and gets its frames.

#include <gtest/gtest.h>

#include "MonitorApp/serverrole/ClientManager.h"
#include "foundation/ManualRunLoop.h"
#include "platform/discovery/AvahiDiscovery.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/AvahiSandbox.h"

namespace quenbril {
namespace {

struct Found : ServiceBrowser::Delegate {
    std::vector<std::string> names;
    std::vector<ResolvedService> resolved;
    void serviceFound(const std::string& name) override { names.push_back(name); }
    void serviceResolved(const ResolvedService& service) override { resolved.push_back(service); }
};

TEST(ClientManagerNet, ARemoteFindsTheHostByItsServiceAndRecordAndGetsItsLevels) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    {
        auto publisher = makeAvahiServicePublisher();
        ClientManager::Services services;
        services.port = 0;
        services.publisher = publisher.get();
        services.udp = nullptr;
        ClientManager host(std::move(services));
        host.startListening();
        ASSERT_NE(host.listeningPort(), 0);

        auto browser = makeAvahiServiceBrowser();
        Found found;
        browser->browse("_quenbril._tcp.", &found);
        ASSERT_TRUE(loop.runUntil([&] { return !found.names.empty(); }, 10.0));
        EXPECT_FALSE(found.names[0].empty()) << "an empty name stands for the host's";
        browser->resolve(found.names[0]);
        ASSERT_TRUE(loop.runUntil([&] { return !found.resolved.empty(); }, 10.0));
        const ResolvedService& service = found.resolved[0];
        EXPECT_EQ(service.port, host.listeningPort());
        EXPECT_EQ(service.txt.at("cow"), "moo");
        EXPECT_EQ(service.txt.at("duck"), "quack");

        test::WireClient remote(service.port);
        ASSERT_TRUE(remote.connected());
        ASSERT_TRUE(loop.runUntil([&] { return host.connectedSockets().size() == 1; }, 5.0));
        host.sendDictionaryToEveryone(
            {{"Command", Value("LevelData")}, {"Value", Value(Bytes(8, 60))}});
        EXPECT_EQ(remote.expect("LevelData")["Value"], Value(Bytes(8, 60)));
        browser->stop();
    }
    RunLoop::setMain(nullptr);
}

}  // namespace
}  // namespace quenbril
