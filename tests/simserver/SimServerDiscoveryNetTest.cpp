// The stand-in's announcement, found by the remote's discovery layer inside an Avahi sandbox.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

#include "foundation/ManualRunLoop.h"
#include "platform/discovery/AvahiDiscovery.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/AvahiSandbox.h"

namespace quenbril::test {
namespace {

/// Real seconds; an announcement shows up in about 1 s.
const double kWait = scaledSeconds(10.0);

struct Recorder : ServiceBrowser::Delegate {
    std::vector<std::string> found, failures;
    std::vector<ResolvedService> resolved;
    void serviceFound(const std::string& name) override { found.push_back(name); }
    void serviceResolved(const ResolvedService& service) override { resolved.push_back(service); }
    void resolveFailed(const std::string& name, const Error&) override { failures.push_back(name); }
    void browseFailed(const Error& error) override { failures.push_back(error.description); }
};

TEST(SimServerDiscovery, TheRemotesDiscoveryFindsTheStandInAndResolvesItsAddressAndPort) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    {
        const std::string name = "Stand-in under test";
        auto browser = makeAvahiServiceBrowser();
        Recorder recorder;
        browser->browse("_quenbril._tcp.", &recorder);
        SimServerProcess server({"--name", name}, /*publish=*/true);
        ASSERT_NE(server.port(), 0) << server.log();

        ASSERT_TRUE(
            loop.runUntil([&] { return std::ranges::count(recorder.found, name) > 0; }, kWait))
            << server.log();
        browser->resolve(name);
        ASSERT_TRUE(loop.runUntil([&] { return !recorder.resolved.empty(); }, kWait))
            << server.log();
        const ResolvedService& service = recorder.resolved[0];
        EXPECT_EQ(service.name, name);
        EXPECT_EQ(service.port, server.port());
        ASSERT_FALSE(service.addresses.empty());
        ASSERT_EQ(service.addresses[0].size(), sizeof(sockaddr_in));
        sockaddr_in address{};
        std::memcpy(&address, service.addresses[0].data(), sizeof address);
        EXPECT_EQ(ntohl(address.sin_addr.s_addr), INADDR_LOOPBACK);
        EXPECT_EQ(ntohs(address.sin_port), server.port());
        EXPECT_TRUE(recorder.failures.empty());

        // What was found is a server: it sends its state.
        WireClient client(ntohs(address.sin_port));
        ASSERT_TRUE(client.connected());
        EXPECT_TRUE(client.waitFor("InitialDataReady", kPatience));
        EXPECT_NE(server.log().find("Announced as"), std::string::npos) << server.log();
        browser->stop();
    }
    loop.runPending();
    RunLoop::setMain(nullptr);
}

}  // namespace
}  // namespace quenbril::test
