#include <gtest/gtest.h>

#include <memory>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/serverrole/RemoteClientManager.h"
#include "MonitorApp/serverrole/ServerRoleHostLinks.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/UserDefaults.h"
#include "tests/support/TemporarySettingsTest.h"

namespace quenbril {
namespace {

// The real slots and registry behind the engine's links, in a settings folder of their own.
class ServerRoleHostLinksTest : public TemporarySettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(enterTemporarySettings("/tmp/quenbril-hostlinks-XXXXXX"));
        // The engine's pair on 0, slot 1 on device channel 4; the others on none.
        defaults_.registerDefaults({{"AudioOutputs", Value(Array{0, -1, 4, -1, -1})}});
        clients_ = std::make_unique<RemoteClientManager>(
            6, [](int) {}, defaults_);
        clients_->updateOutputChannelMap();
    }
    void TearDown() override {
        clients_.reset();
        UserSettingsManager::resetSharedInstance();
        UserDefaults::resetStandardUserDefaults();
        leaveTemporarySettings();
    }
    /// Gives `slot` two strips of its own: ids 1 and 2, the second panned hard left.
    void giveStrips(int slot) {
        Dictionary a{{"csID", Value(1)}, {"name", Value("Lead")}};
        Dictionary b{{"csID", Value(2)}, {"name", Value("Bass")}, {"pan", Value(-100)}};
        ASSERT_TRUE(clients_->client(slot).initFromPropertyDic(
            {{"audioOutput", Value(-1)}, {"controllers", Value(Array{Value(a), Value(b)})}}));
    }

    UserDefaults defaults_{"/nonexistent/quenbril-host-links", "Links"};
    std::unique_ptr<RemoteClientManager> clients_;
};

TEST_F(ServerRoleHostLinksTest, SlotsAnswerFromTheRemoteClientRecords) {
    WirelessManager registry;
    ServerRoleHostLinks links(*clients_, nullptr, &registry);
    giveStrips(1);
    ASSERT_TRUE(clients_->addClient("127.0.0.5", 1));
    clients_->startStreamTo("127.0.0.5");
    ASSERT_TRUE(clients_->addClient("127.0.0.6", 2));

    EXPECT_EQ(links.clientCount(), 4);
    EXPECT_TRUE(links.clientIsFree(0));
    EXPECT_FALSE(links.clientIsFree(1));
    EXPECT_EQ(links.clientBlockRing(1), &clients_->client(1).blockRing());
    EXPECT_EQ(links.clientStreamTo(1), std::vector<std::string>{"127.0.0.5"});
    EXPECT_TRUE(links.clientStreamTo(2).empty());
    EXPECT_EQ(links.clientOutputInStream(1), 2) << "the pair after the engine's own";
    EXPECT_EQ(links.clientOutputInStream(0), -1);
    const auto strips = links.clientStrips(1);
    ASSERT_EQ(strips.size(), 2u);
    EXPECT_EQ(strips[1].model, &clients_->client(1).channelStripControllers()[1]->model());
    EXPECT_EQ(strips[1].state, &clients_->client(1).channelStripControllers()[1]->state());

    // Positions outside the four slots are free and hold nothing.
    for (int slot : {-1, 4}) {
        EXPECT_TRUE(links.clientIsFree(slot));
        EXPECT_EQ(links.clientBlockRing(slot), nullptr);
        EXPECT_FALSE(links.clientOutputInStream(slot));
        EXPECT_TRUE(links.clientStrips(slot).empty());
    }

    // Without a listener nothing is sent and no stream host is known.
    links.sendDictionaryToEveryone({{"Command", "LevelData"}});
    EXPECT_FALSE(links.streamHost());
}

TEST_F(ServerRoleHostLinksTest, ReceiversAreFoundByChannelNameWithTheirFigures) {
    WirelessManager registry;
    auto device = std::make_shared<WirelessDevice>();
    device->setName("Lav 1");
    device->setRf(250);  // the engine clamps; the links pass on what the driver says
    device->setRfA(10);
    device->setRfB(20);
    device->setRfC(-1);
    device->setRfD(40);
    device->setQuality(77);
    ASSERT_NE(registry.addDevice(device), nullptr);

    ServerRoleHostLinks links(*clients_, nullptr, &registry);
    const auto figures = links.receiver("Lav 1");
    ASSERT_TRUE(figures);
    EXPECT_EQ(figures->rf, 250);
    EXPECT_EQ(figures->rfA, 10);
    EXPECT_EQ(figures->rfB, 20);
    EXPECT_EQ(figures->rfC, -1);
    EXPECT_EQ(figures->rfD, 40);
    EXPECT_EQ(figures->quality, 77);
    EXPECT_FALSE(links.receiver("Lav 2"));
    EXPECT_FALSE(links.receiver("lav 1")) << "names are matched exactly";

    ServerRoleHostLinks unregistered(*clients_, nullptr, nullptr);
    EXPECT_FALSE(unregistered.receiver("Lav 1"));
}

TEST_F(ServerRoleHostLinksTest, TheEngineMixesForEachBusySlotThroughTheLinks) {
    WirelessManager registry;
    ServerRoleHostLinks links(*clients_, nullptr, &registry);
    giveStrips(1);
    ASSERT_TRUE(clients_->addClient("127.0.0.5", 1));
    PELAudioEngine engine(false, 3000);
    engine.setLinks(&links);

    const MixSnapshot* mix = engine.mixSnapshot();
    ASSERT_NE(mix, nullptr);
    ASSERT_EQ(mix->clients.size(), 1u) << "free slots are left out";
    const ClientMix& client = mix->clients[0];
    EXPECT_EQ(client.ring, &clients_->client(1).blockRing());
    EXPECT_TRUE(client.local) << "streams to nobody, so it is heard here";
    EXPECT_EQ(client.output, 2);
    ASSERT_EQ(client.strips.size(), 2u);
    EXPECT_GT(client.strips[1].left, 0.0f);
    EXPECT_EQ(client.strips[1].right, 0.0f) << "the slot's own pan";

    // Streaming away takes the slot off this machine's outputs at the next publication.
    clients_->startStreamTo("127.0.0.5");
    engine.publishMix();
    ASSERT_EQ(engine.mixSnapshot()->clients.size(), 1u);
    EXPECT_FALSE(engine.mixSnapshot()->clients[0].local);
    ASSERT_TRUE(clients_->removeClient("127.0.0.5"));
    engine.publishMix();
    EXPECT_TRUE(engine.mixSnapshot()->clients.empty());
    engine.setLinks(nullptr);
}

}  // namespace
}  // namespace quenbril
