// The link finding its server by discovery on a real Avahi daemon (inside the sandbox the test
// main makes), then talking frames with it.

#include <avahi-client/publish.h>
#include <avahi-common/address.h>
#include <gtest/gtest.h>

#include "platform/discovery/AvahiClientThread.h"
#include "platform/discovery/AvahiDiscovery.h"
#include "tests/MonitorApp/link/LinkTestSupport.h"
#include "tests/support/AvahiSandbox.h"

namespace quenbril::test {
namespace {

constexpr double kDiscoveryWait = 10.0;  // a service resolves in about 1 s
constexpr const char* kType = "_quenbriltest._tcp";

class ServerManagerDiscovery : public LinkTest {};

/// A service on a host name of its own whose IPv4 address the test chooses and may move, as a
/// server announced on an address that does not reach it would be seen.
class MovableAnnouncement {
  public:
    MovableAnnouncement(std::string name, std::string hostName, uint16_t port)
        : name_(std::move(name)), hostName_(std::move(hostName)), port_(port) {}
    ~MovableAnnouncement() { avahi_.close(); }

    /// Announces the service (once) and the host's address `ipv4`, replacing the earlier one.
    bool publishAt(const char* ipv4) {
        if (!avahi_.isOpen()) {
            int code = 0;
            if (avahi_.open(&clientCallback, nullptr, &code) != AvahiClientThread::Failure::None)
                return false;
        }
        AvahiAddress address{};
        if (!avahi_address_parse(ipv4, AVAHI_PROTO_INET, &address)) return false;
        avahi_.lock();
        bool ok = publishService() && publishAddress(address);
        avahi_.unlock();
        return ok;
    }

  private:
    static void clientCallback(AvahiClient*, AvahiClientState, void*) {}
    static void groupCallback(AvahiEntryGroup*, AvahiEntryGroupState, void*) {}

    bool publishService() {
        if (service_) return true;
        service_ = avahi_entry_group_new(avahi_.client(), &groupCallback, nullptr);
        return service_ &&
               avahi_entry_group_add_service(service_, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                             AvahiPublishFlags(0), name_.c_str(), kType, nullptr,
                                             hostName_.c_str(), port_, nullptr) == 0 &&
               avahi_entry_group_commit(service_) == 0;
    }
    bool publishAddress(AvahiAddress& address) {
        if (!address_) address_ = avahi_entry_group_new(avahi_.client(), &groupCallback, nullptr);
        if (!address_) return false;
        avahi_entry_group_reset(address_);
        // No reverse record: the daemon's own host holds the one of 127.0.0.1.
        return avahi_entry_group_add_address(address_, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                             AVAHI_PUBLISH_NO_REVERSE, hostName_.c_str(),
                                             &address) == 0 &&
               avahi_entry_group_commit(address_) == 0;
    }

    std::string name_, hostName_;
    uint16_t port_;
    AvahiClientThread avahi_;
    // Freed with the client.
    AvahiEntryGroup* service_ = nullptr;
    AvahiEntryGroup* address_ = nullptr;
};

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

    link.sendOnConnection(Dictionary{{"Command", "SoloOn"}, {"Value", true}});
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

TEST_F(ServerManagerDiscovery, AServiceFirstResolvedToAnAddressThatRefusesIsFoundWhereItAnswers) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    FrameServer server;  // on 127.0.0.1; nothing listens on 127.0.0.2
    MovableAnnouncement announcement("Stage rack", "rack.local", server.port());
    ASSERT_TRUE(announcement.publishAt("127.0.0.2"));

    UserSettingsManager::sharedInstance().setQbIdentifier("quenbriltest");
    ServerManager link;
    LinkRecorder recorder;
    link.setDelegate(&recorder);
    link.tryToConnect();
    ASSERT_TRUE(waitFor([&] { return !recorder.disconnects.empty(); }, kDiscoveryWait));
    ASSERT_TRUE(link.serverAddresses());
    EXPECT_EQ(*link.serverAddresses(), std::vector<Bytes>{loopbackAddress(server.port(), 2)});

    // The announcement now leads to the address that answers. Each step lets the next paced
    // attempt start; the steps are bounded in number and in real time.
    ASSERT_TRUE(announcement.publishAt("127.0.0.1"));
    bool reached = false;
    for (int step = 0; step < 100 && !reached; ++step) {
        loop_->advance(ServerManager::kMinAttemptInterval);
        reached = server.acceptWithin(*loop_, 0.1);
    }
    ASSERT_TRUE(reached) << "the link kept to the address it resolved first";
    ASSERT_TRUE(waitFor([&] { return !recorder.connects.empty(); }));
    EXPECT_EQ(*link.serverAddresses(), std::vector<Bytes>{server.address()});
    EXPECT_EQ(link.serverService(), "Stage rack");
}

}  // namespace
}  // namespace quenbril::test
