#include <gtest/gtest.h>

#include <optional>

#include "MonitorApp/serverrole/RemoteClientManager.h"
#include "foundation/UserDefaults.h"

namespace quenbril {
namespace {

// Defaults that only hold registered values: nothing is read from or written to disk.
struct Outputs {
    explicit Outputs(std::optional<Value> audioOutputs) {
        if (audioOutputs) defaults.registerDefaults({{"AudioOutputs", *audioOutputs}});
    }
    RemoteClientManager make(int deviceOutputs) {
        return RemoteClientManager(
            deviceOutputs, [this](int c) { engineChannel = c; }, defaults);
    }
    UserDefaults defaults{"/nonexistent/quenbril-remote-clients", "Outputs"};
    std::optional<int> engineChannel;
};

std::array<int32_t, 4> positions(int a, int b, int c, int d) { return {a, b, c, d}; }

TEST(RemoteClientManagerTest, OutputsTakeStreamPairsInSlotOrder) {
    Outputs o(Value(Array{0, 2, -1, 4, -1}));
    RemoteClientManager m = o.make(6);
    EXPECT_EQ(o.engineChannel, 0);
    EXPECT_EQ(m.client(0).audioOutput(), 2);
    EXPECT_EQ(m.client(1).audioOutput(), -1);
    EXPECT_EQ(m.client(2).audioOutput(), 4);
    EXPECT_EQ(m.clientOutputsInStream(), positions(2, -1, 4, -1));
}

TEST(RemoteClientManagerTest, OutputsPastTheDeviceOrMalformedListsChangeNothing) {
    {
        // 5 + 1 is not below 6: the engine keeps its channel; slot 3's 7 is refused too.
        Outputs o(Value(Array{5, 4, -1, -1, 7}));
        RemoteClientManager m = o.make(6);
        EXPECT_FALSE(o.engineChannel);
        EXPECT_EQ(m.client(0).audioOutput(), 4);
        EXPECT_EQ(m.client(3).audioOutput(), -1);
        EXPECT_EQ(m.clientOutputsInStream(), positions(2, -1, -1, -1));
    }
    for (const Value& bad :
         {Value(Array{0, 2, 4}), Value("0,2"), Value(Array{0, "2", -7, 2.0, 4})}) {
        Outputs o(bad);
        RemoteClientManager m = o.make(8);
        for (int slot = 0; slot < 4; ++slot) {
            if (bad.isArray() && bad.count() == 5 && slot == 3) continue;
            EXPECT_EQ(m.client(slot).audioOutput(), -1) << bad.description() << " slot " << slot;
        }
    }
    Outputs absent(std::nullopt);
    RemoteClientManager m = absent.make(8);
    EXPECT_FALSE(absent.engineChannel);
    EXPECT_EQ(m.clientOutputsInStream(), positions(-1, -1, -1, -1));
}

TEST(RemoteClientManagerTest, AnAddressLivesInOneSlot) {
    Outputs o(std::nullopt);
    RemoteClientManager m = o.make(2);
    Dictionary strip{{"csID", Value(7)}, {"name", Value("Lav")}};
    EXPECT_TRUE(m.client(0).initFromPropertyDic(
        {{"audioOutput", Value(-1)}, {"controllers", Value(Array{Value(strip)})}}));
    m.client(0).channelStripControllers()[0]->state().setChannelState(ChannelStripState::kSoloed);

    const uint64_t before = m.generation();
    EXPECT_TRUE(m.addClient("127.0.0.5", 0));
    EXPECT_TRUE(m.addClient("127.0.0.6", 0));
    m.client(0).channelStripControllers()[0]->state().setChannelState(ChannelStripState::kSoloed);
    EXPECT_EQ(m.client(0).hardSoloedChannels(), std::vector<int32_t>{0});

    EXPECT_TRUE(m.addClient("127.0.0.5", 2));
    EXPECT_EQ(m.client(0).ipAddresses(), std::set<std::string>{"127.0.0.6"});
    EXPECT_TRUE(m.client(0).hardSoloedChannels().empty()) << "the slot it left is switched off";
    EXPECT_EQ(m.clientWithIP("127.0.0.5"), &m.client(2));
    EXPECT_GT(m.generation(), before);

    EXPECT_TRUE(m.addClient("127.0.0.6", 2));
    EXPECT_TRUE(m.client(0).isFree());
    EXPECT_FALSE(m.client(2).isFree());

    EXPECT_FALSE(m.addClient("127.0.0.7", 4));
    EXPECT_FALSE(m.addClient("127.0.0.7", -1));
    EXPECT_EQ(m.clientWithIP("127.0.0.7"), nullptr);

    m.startStreamTo("127.0.0.5");
    m.startStreamTo("127.0.0.9");  // in no slot
    EXPECT_EQ(m.client(2).streamTo(), std::set<std::string>{"127.0.0.5"});
    EXPECT_TRUE(m.removeClient("127.0.0.5"));
    EXPECT_FALSE(m.removeClient("127.0.0.5"));
    EXPECT_TRUE(m.removeClient("127.0.0.6"));
    EXPECT_TRUE(m.client(2).isFree());
}

TEST(RemoteClientManagerTest, StoredFormReadsBackAndRefusesDamage) {
    RemoteClient c;
    EXPECT_TRUE(c.initFromPropertyDic({{"audioOutput", Value(3)}}));
    EXPECT_EQ(c.audioOutput(), 3);
    EXPECT_TRUE(c.channelStripControllers().empty());

    Dictionary a{{"csID", Value(11)}}, b{{"csID", Value(12)}};
    ASSERT_TRUE(c.initFromPropertyDic(
        {{"audioOutput", Value(1)}, {"controllers", Value(Array{Value(a), Value(b)})}}));
    c.channelStripControllers()[1]->state().setChannelState(ChannelStripState::kActive);
    EXPECT_EQ(c.activeChannels(), std::vector<int32_t>{1});
    RemoteClient copy;
    ASSERT_TRUE(copy.initFromPropertyDic(c.propertyDic()));
    ASSERT_EQ(copy.channelStripControllers().size(), 2u);
    EXPECT_EQ(copy.channelStripControllers()[1]->model().csID(), 12);

    EXPECT_FALSE(c.initFromPropertyDic(
        {{"audioOutput", Value(1)}, {"controllers", Value(Array{Value(a), Value(5)})}}));
    EXPECT_TRUE(c.channelStripControllers().empty());
    EXPECT_FALSE(copy.initFromPropertyDic({{"controllers", Value(Array{Value(a)})}}));
    EXPECT_TRUE(copy.channelStripControllers().empty());
}

}  // namespace
}  // namespace quenbril
