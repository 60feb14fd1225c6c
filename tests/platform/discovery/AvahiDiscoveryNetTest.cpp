// The Avahi backends against a real daemon, inside the sandbox the test main makes.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

#include "foundation/ManualRunLoop.h"
#include "platform/discovery/AvahiDiscovery.h"
#include "tests/support/AvahiSandbox.h"

namespace quenbril {
namespace {

constexpr const char* kType = "_quenbriltest._tcp.";
constexpr double kWait = 10.0;  // real seconds; a service shows up in about 1 s

struct Recorder : ServiceBrowser::Delegate {
    std::vector<std::string> found, removed;
    std::vector<ResolvedService> resolved;
    std::vector<std::string> resolveFailures;
    std::vector<Error> browseFailures;
    void serviceFound(const std::string& name) override { found.push_back(name); }
    void serviceResolved(const ResolvedService& service) override { resolved.push_back(service); }
    void serviceRemoved(const std::string& name) override { removed.push_back(name); }
    void browseFailed(const Error& error) override { browseFailures.push_back(error); }
    void resolveFailed(const std::string& name, const Error&) override {
        resolveFailures.push_back(name);
    }
    bool hasFound(const std::string& name) const {
        return std::find(found.begin(), found.end(), name) != found.end();
    }
};

class AvahiDiscovery : public ::testing::Test {
  protected:
    void SetUp() override { RunLoop::setMain(&loop_); }
    void TearDown() override { RunLoop::setMain(nullptr); }
    bool waitFor(const std::function<bool()>& done) { return loop_.runUntil(done, kWait); }
    ManualRunLoop loop_;
};

TEST_F(AvahiDiscovery, PublishedServiceIsFoundResolvedAndRemoved) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    auto publisher = makeAvahiServicePublisher();
    auto browser = makeAvahiServiceBrowser();
    Recorder recorder;
    browser->browse(kType, &recorder);
    ASSERT_TRUE(publisher->publish("Stage Left", kType, 45678));

    ASSERT_TRUE(waitFor([&] { return recorder.hasFound("Stage Left"); }));
    EXPECT_EQ(recorder.found.size(), 1u) << "one report per name";
    browser->resolve("Stage Left");
    ASSERT_TRUE(waitFor([&] { return !recorder.resolved.empty(); }));

    const ResolvedService& service = recorder.resolved[0];
    EXPECT_EQ(service.name, "Stage Left");
    EXPECT_EQ(service.port, 45678);
    EXPECT_NE(service.hostName.find(".local"), std::string::npos) << service.hostName;
    ASSERT_FALSE(service.addresses.empty());
    ASSERT_EQ(service.addresses[0].size(), sizeof(sockaddr_in));
    sockaddr_in address{};
    std::memcpy(&address, service.addresses[0].data(), sizeof address);
    EXPECT_EQ(ntohl(address.sin_addr.s_addr), 0x7f000001u);
    EXPECT_EQ(ntohs(address.sin_port), 45678);

    publisher->unpublish();
    ASSERT_TRUE(waitFor([&] { return !recorder.removed.empty(); }));
    EXPECT_EQ(recorder.removed[0], "Stage Left");
    EXPECT_TRUE(recorder.browseFailures.empty());
}

TEST_F(AvahiDiscovery, UnknownNameFailsToResolveAndStopSilencesTheBrowser) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    auto browser = makeAvahiServiceBrowser();
    Recorder recorder;
    browser->browse(kType, &recorder);
    browser->resolve("Nobody");
    ASSERT_TRUE(waitFor([&] { return !recorder.resolveFailures.empty(); }));

    browser->stop();
    auto publisher = makeAvahiServicePublisher();
    ASSERT_TRUE(publisher->publish("Late", kType, 45679));
    // A second browser sees the service, the stopped one hears nothing of it.
    auto watcher = makeAvahiServiceBrowser();
    Recorder watched;
    watcher->browse(kType, &watched);
    ASSERT_TRUE(waitFor([&] { return watched.hasFound("Late"); }));
    loop_.runPending();
    EXPECT_TRUE(recorder.found.empty());
}

TEST_F(AvahiDiscovery, ATakenNameIsPublishedUnderAnAlternative) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    auto first = makeAvahiServicePublisher();
    auto second = makeAvahiServicePublisher();
    auto browser = makeAvahiServiceBrowser();
    Recorder recorder;
    browser->browse(kType, &recorder);
    ASSERT_TRUE(first->publish("Desk", kType, 45680));
    ASSERT_TRUE(waitFor([&] { return recorder.hasFound("Desk"); }));
    ASSERT_TRUE(second->publish("Desk", kType, 45681));
    auto alternative = [&] {
        return std::find_if(recorder.found.begin(), recorder.found.end(), [](const auto& name) {
            return name != "Desk" && name.rfind("Desk", 0) == 0;
        });
    };
    ASSERT_TRUE(waitFor([&] { return alternative() != recorder.found.end(); }));
    EXPECT_EQ(std::count(recorder.found.begin(), recorder.found.end(), "Desk"), 1);
}

}  // namespace
}  // namespace quenbril
