#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>

#include <cstring>

#include "foundation/ManualRunLoop.h"
#include "platform/discovery/AvahiDiscovery.h"

namespace quenbril {
namespace {

struct Recorder : ServiceBrowser::Delegate {
    std::vector<Error> failures;
    void browseFailed(const Error& error) override { failures.push_back(error); }
};

TEST(WithoutDaemon, BrowseFailsOnTheMainQueueLaterStopDropsTheFailureAndPublishAnswersFalse) {
    // This process's system bus points at nothing, so that no Avahi daemon can be reached.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quenbril-test-bus", 1);
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    auto browser = makeAvahiServiceBrowser(), stopped = makeAvahiServiceBrowser();
    Recorder recorder, stoppedRecorder;
    browser->browse("_quenbril._tcp.", &recorder);
    stopped->browse("_quenbril._tcp.", &stoppedRecorder);
    stopped->stop();
    EXPECT_TRUE(recorder.failures.empty()) << "reported from inside browse()";
    loop.runPending();
    EXPECT_EQ(recorder.failures.size(), 1u);
    for (const Error& e : recorder.failures) EXPECT_EQ(e.domain, ServiceBrowser::kErrorDomain);
    EXPECT_TRUE(stoppedRecorder.failures.empty());

    auto publisher = makeAvahiServicePublisher();
    EXPECT_FALSE(publisher->publish("Test server", "_quenbril._tcp.", 57576));
    publisher->unpublish();  // nothing to withdraw: no effect
    RunLoop::setMain(nullptr);
}

// IPv4 addresses are checked through the Avahi backend in the net tests.
TEST(SocketAddress, IPv6LinkLocalAloneKeepsItsInterface) {
    uint8_t linkLocal[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0, 0, 0, 0, 0, 1};
    uint8_t global[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (auto [ip, scope] : {std::pair{linkLocal, 3u}, {global, 0u}}) {
        Bytes bytes = makeSocketAddress6(ip, 57576, 3);
        ASSERT_EQ(bytes.size(), sizeof(sockaddr_in6));
        sockaddr_in6 a{};
        std::memcpy(&a, bytes.data(), sizeof a);
        EXPECT_EQ(a.sin6_family, AF_INET6);
        EXPECT_EQ(ntohs(a.sin6_port), 57576);
        EXPECT_EQ(std::memcmp(&a.sin6_addr, ip, 16), 0);
        EXPECT_EQ(a.sin6_scope_id, scope);
    }
}

}  // namespace
}  // namespace quenbril
