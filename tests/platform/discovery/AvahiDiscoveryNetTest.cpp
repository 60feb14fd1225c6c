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
    std::vector<std::string> found, removed, resolveFailures;
    std::vector<ResolvedService> resolved;
    std::vector<Error> browseFailures;
    /// What had been found when each first batch was reported.
    std::vector<std::vector<std::string>> batches;
    void serviceFound(const std::string& name) override { found.push_back(name); }
    void firstBatchComplete() override { batches.push_back(found); }
    void serviceResolved(const ResolvedService& service) override { resolved.push_back(service); }
    void serviceRemoved(const std::string& name) override { removed.push_back(name); }
    void browseFailed(const Error& error) override { browseFailures.push_back(error); }
    void resolveFailed(const std::string& name, const Error&) override {
        resolveFailures.push_back(name);
    }
};

TEST(AvahiDiscovery, PublishFindResolveRenameOnACollisionRemoveAndStop) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    auto waitFor = [&](const std::function<bool()>& done) { return loop.runUntil(done, kWait); };
    {
        // An unknown name fails to resolve; a stopped browser hears nothing more.
        auto stopped = makeAvahiServiceBrowser();
        Recorder silent;
        stopped->browse(kType, &silent);
        stopped->resolve("Nobody");
        ASSERT_TRUE(waitFor([&] { return !silent.resolveFailures.empty(); }));
        stopped->stop();

        auto publisher = makeAvahiServicePublisher();
        auto second = makeAvahiServicePublisher();
        auto browser = makeAvahiServiceBrowser();
        Recorder recorder;
        browser->browse(kType, &recorder);
        ASSERT_TRUE(publisher->publish("Stage Left", kType, 45678));
        ASSERT_TRUE(waitFor([&] { return !recorder.found.empty(); }));
        EXPECT_EQ(recorder.found[0], "Stage Left");
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

        // A taken name is published under an alternative.
        ASSERT_TRUE(second->publish("Stage Left", kType, 45681));
        ASSERT_TRUE(waitFor([&] {
            return std::any_of(recorder.found.begin(), recorder.found.end(), [](const auto& name) {
                return name != "Stage Left" && name.starts_with("Stage Left");
            });
        }));

        publisher->unpublish();
        ASSERT_TRUE(waitFor([&] { return !recorder.removed.empty(); }));
        EXPECT_EQ(recorder.removed, std::vector<std::string>{"Stage Left"});
        loop.runPending();
        EXPECT_EQ(std::count(recorder.found.begin(), recorder.found.end(), "Stage Left"), 1)
            << "one report per name";
        EXPECT_TRUE(recorder.browseFailures.empty());
        EXPECT_TRUE(silent.found.empty());
    }
    loop.runPending();
    RunLoop::setMain(nullptr);
}

TEST(AvahiDiscovery, TheFirstBatchHoldsTheServicesAnnouncedBeforeTheSearch) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    auto waitFor = [&](const std::function<bool()>& done) { return loop.runUntil(done, kWait); };
    {
        // Nothing announced: the batch still comes, empty, so that a later announcement is
        // known to be one.
        auto early = makeAvahiServiceBrowser();
        Recorder before;
        early->browse(kType, &before);
        ASSERT_TRUE(waitFor([&] { return !before.batches.empty(); }));
        EXPECT_TRUE(before.batches[0].empty());

        auto publisher = makeAvahiServicePublisher();
        ASSERT_TRUE(publisher->publish("Desk", kType, 45700));
        ASSERT_TRUE(waitFor([&] { return !before.found.empty(); }));
        EXPECT_EQ(before.batches.size(), 1u) << "a later announcement is no new batch";

        // A search that starts after the announcement has it in its first batch, and so has a
        // search started again on the same browser.
        auto browser = makeAvahiServiceBrowser();
        Recorder recorder;
        browser->browse(kType, &recorder);
        ASSERT_TRUE(waitFor([&] { return !recorder.batches.empty(); }));
        EXPECT_EQ(recorder.batches[0], std::vector<std::string>{"Desk"});
        Recorder again;
        browser->browse(kType, &again);
        ASSERT_TRUE(waitFor([&] { return !again.batches.empty(); }));
        EXPECT_EQ(again.batches[0], std::vector<std::string>{"Desk"});
        EXPECT_EQ(recorder.batches.size(), 1u) << "the replaced search reports nothing more";
    }
    loop.runPending();
    RunLoop::setMain(nullptr);
}

TEST(AvahiDiscovery, AfterTheDaemonRestartsTheServiceIsPublishedAgain) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    {
        auto publisher = makeAvahiServicePublisher();
        ASSERT_TRUE(publisher->publish("Before", kType, 45690));
        ASSERT_TRUE(test::restartAvahiDaemon());
        // The publisher hears of the drop on its Avahi thread; until then a publish fails
        // against the dead client. Then it makes a new client, without the old one's group.
        ASSERT_TRUE(
            loop.runUntil([&] { return publisher->publish("After", kType, 45691); }, kWait));
        auto browser = makeAvahiServiceBrowser();
        Recorder recorder;
        browser->browse(kType, &recorder);
        ASSERT_TRUE(loop.runUntil([&] { return !recorder.found.empty(); }, kWait));
        EXPECT_EQ(recorder.found, std::vector<std::string>{"After"});
    }
    loop.runPending();
    RunLoop::setMain(nullptr);
}

}  // namespace
}  // namespace quenbril
