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

/// Points the system bus at nothing, so that no Avahi daemon can be reached.
class WithoutDaemon : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = getenv("DBUS_SYSTEM_BUS_ADDRESS");
        if (old) saved_ = old;
        hadOld_ = old != nullptr;
        setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quenbril-test-bus", 1);
        RunLoop::setMain(&loop_);
    }
    void TearDown() override {
        RunLoop::setMain(nullptr);
        if (hadOld_) {
            setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_.c_str(), 1);
        } else {
            unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        }
    }
    ManualRunLoop loop_;
    std::string saved_;
    bool hadOld_ = false;
};

TEST_F(WithoutDaemon, BrowseReportsTheFailureOnTheMainQueueLater) {
    auto browser = makeAvahiServiceBrowser();
    Recorder recorder;
    browser->browse("_quenbril._tcp.", &recorder);
    EXPECT_TRUE(recorder.failures.empty()) << "reported from inside browse()";
    loop_.runPending();
    ASSERT_EQ(recorder.failures.size(), 1u);
    EXPECT_EQ(recorder.failures[0].domain, ServiceBrowser::kErrorDomain);
}

TEST_F(WithoutDaemon, StopDropsAFailureStillOnItsWay) {
    auto browser = makeAvahiServiceBrowser();
    Recorder recorder;
    browser->browse("_quenbril._tcp.", &recorder);
    browser->stop();
    loop_.runPending();
    EXPECT_TRUE(recorder.failures.empty());
}

TEST_F(WithoutDaemon, PublishAnswersFalse) {
    auto publisher = makeAvahiServicePublisher();
    EXPECT_FALSE(publisher->publish("Test server", "_quenbril._tcp.", 57576));
    publisher->unpublish();  // nothing to withdraw: no effect
}

TEST(SocketAddress, IPv6LinkLocalKeepsItsInterfaceOthersDoNot) {
    uint8_t linkLocal[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0, 0, 0, 0, 0, 1};
    uint8_t global[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    Bytes a = makeSocketAddress6(linkLocal, 57576, 3);
    Bytes b = makeSocketAddress6(global, 57576, 3);
    ASSERT_EQ(a.size(), sizeof(sockaddr_in6));
    sockaddr_in6 sa{}, sb{};
    std::memcpy(&sa, a.data(), sizeof sa);
    std::memcpy(&sb, b.data(), sizeof sb);
    EXPECT_EQ(sa.sin6_family, AF_INET6);
    EXPECT_EQ(ntohs(sa.sin6_port), 57576);
    EXPECT_EQ(sa.sin6_scope_id, 3u);
    EXPECT_EQ(sb.sin6_scope_id, 0u);
}

TEST(SocketAddress, IPv4HoldsAddressAndPort) {
    uint8_t ip[4] = {127, 0, 0, 1};
    Bytes a = makeSocketAddress4(ip, 4242);
    ASSERT_EQ(a.size(), sizeof(sockaddr_in));
    sockaddr_in sa{};
    std::memcpy(&sa, a.data(), sizeof sa);
    EXPECT_EQ(sa.sin_family, AF_INET);
    EXPECT_EQ(ntohs(sa.sin_port), 4242);
    EXPECT_EQ(ntohl(sa.sin_addr.s_addr), 0x7f000001u);
}

}  // namespace
}  // namespace quenbril
