// The Sennheiser EM requests and replies, and the driver against fake receivers on loopback.

#include <gtest/gtest.h>

#include "MonitorApp/serverrole/DispatchUdpEndpoint.h"
#include "MonitorApp/serverrole/EMCodec.h"
#include "MonitorApp/serverrole/EMHandler.h"
#include "tests/MonitorApp/serverrole/fakes/DriverTestSupport.h"
#include "tests/MonitorApp/serverrole/fakes/FakeEMReceiver.h"

namespace quenbril {
namespace {

using testing::EMChannel;
using testing::FakeEMReceiver;

// The non-zero bytes of a request, as offset:value pairs.
std::vector<std::pair<size_t, int>> nonZero(const Bytes& b) {
    std::vector<std::pair<size_t, int>> out;
    for (size_t i = 0; i < b.size(); ++i) {
        if (b[i]) out.emplace_back(i, b[i]);
    }
    return out;
}

TEST(EMCodec, RequestsAreTheFixedBytes) {
    using P = std::vector<std::pair<size_t, int>>;
    EXPECT_EQ(em::askName0().size(), 364u);
    EXPECT_EQ(nonZero(em::askName0()), (P{{0, 6},
                                          {1, 6},
                                          {2, 0x12},
                                          {3, 6},
                                          {16, 0x54},
                                          {17, 0xFD},
                                          {18, 0xFE},
                                          {19, 0xA9},
                                          {346, 1}}));
    EXPECT_EQ(nonZero(em::askName1())[0], (std::pair<size_t, int>{0, 1}));
    EXPECT_EQ(em::askData0().size(), 44u);
    EXPECT_EQ(nonZero(em::askData0()), (P{{0, 1},
                                          {1, 7},
                                          {2, 1},
                                          {3, 7},
                                          {4, 0x2C},
                                          {31, 0x50},
                                          {33, 0x10},
                                          {34, 0x27},
                                          {35, 1},
                                          {42, 1},
                                          {43, 1}}));
    EXPECT_EQ(nonZero(em::askData1()), (P{{0, 1},
                                          {1, 0x10},
                                          {2, 0x12},
                                          {3, 6},
                                          {4, 0x2C},
                                          {31, 0x50},
                                          {33, 0x10},
                                          {34, 0x27},
                                          {35, 1},
                                          {42, 1},
                                          {43, 1}}));
}

TEST(EMCodec, RepliesDecodeByKind) {
    auto decode = [](const std::vector<uint8_t>& b) { return em::decodeReply(b.data(), b.size()); };
    auto data = decode(testing::emDataReply(1, EMChannel{"", 5, 0x00F0, 0x0078}));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->kind, em::Reply::Kind::Data);
    EXPECT_EQ(data->channel, "1");
    EXPECT_EQ(data->rf, 80);
    EXPECT_TRUE(data->antennaA);
    EXPECT_EQ(data->battery, 20);
    data = decode(testing::emDataReply(2, EMChannel{"", 0, 90, 90}));
    EXPECT_EQ(data->channel, "2");
    EXPECT_EQ(data->rf, 30);
    EXPECT_FALSE(data->antennaA);
    EXPECT_EQ(data->battery, -1);
    for (auto [code, percent] : {std::pair{2, 50}, {3, 100}, {9, 100}, {4, 0}, {1, 0}}) {
        EXPECT_EQ(em::batteryFromCode(static_cast<uint8_t>(code)), percent) << code;
    }
    auto name = decode(testing::emNameReply(2, "Ab?d"));
    ASSERT_TRUE(name);
    EXPECT_EQ(name->kind, em::Reply::Kind::Name);
    EXPECT_EQ(name->channel, "2");
    EXPECT_EQ(name->name, "Ab d");
    EXPECT_EQ(decode(testing::emNameReply(1, "SixLong"))->name, "SixLon");
    // UTF-8 stays; stray bytes become replacement signs.
    EXPECT_EQ(decode(testing::emNameReply(1, "B\xC3\xA4r"))->name, "B\xC3\xA4r");
    EXPECT_EQ(decode(testing::emNameReply(1, "A\xFF?"))->name, "A\xEF\xBF\xBD ");

    auto shortName = testing::emNameReply(1, "x");
    shortName.resize(333);
    EXPECT_FALSE(decode(shortName));
    auto shortData = testing::emDataReply(1, {});
    shortData.resize(60);
    EXPECT_FALSE(decode(shortData));
    EXPECT_EQ(decode({0x09, 0x06})->kind, em::Reply::Kind::Ignored);
    EXPECT_EQ(decode({0x01, 0x02, 0x03})->kind, em::Reply::Kind::Unknown);
    EXPECT_FALSE(decode({0x02}));
}

class EMHandlerTest : public testing::DriverTest {
  protected:
    WirelessManager& make(std::vector<std::string> receivers, std::vector<NetworkInterface> ifs) {
        std::vector<std::pair<std::string, int>> list;
        for (auto& a : receivers) list.emplace_back(a, 5);
        list.emplace_back(testing::loopbackHost(79), 6);
        WirelessManager::Drivers drivers;
        auto handler = std::make_unique<EMHandler>(makeDispatchUdpEndpoint);
        handler_ = handler.get();
        drivers.em = std::move(handler);
        return makeRegistry(list, std::move(ifs), std::move(drivers));
    }
    EMHandler* handler_ = nullptr;
};

TEST_F(EMHandlerTest, NameRepliesMakeRecordsThatDataRepliesUpdate) {
    FakeEMReceiver fake(testing::loopbackHost(72));
    ASSERT_TRUE(fake.ready());
    WirelessManager& r = make({testing::loopbackHost(72), "10.0.0.7", "127."},
                              {{"lo", "127.0.0.1", ""}, {"lo", testing::loopbackHost(71), ""}});
    r.doDiscovery();
    ASSERT_EQ(handler_->sockets().size(), 1u);
    auto both = [&] {
        const WirelessDevice* a = r.device("Vox1");
        const WirelessDevice* b = r.device("Vox2");
        return a && b && a->battery() == 100 && b->battery() == 50;
    };
    ASSERT_TRUE(drive([&] { fake.service(); }, both));
    // Names come first: the first pass's data replies find records only when the name reply
    // was handled before them.
    ASSERT_EQ(fake.requests.size(), 4u);
    EXPECT_EQ(fake.requests[0], em::askName0());
    EXPECT_EQ(fake.requests[1], em::askData0());
    EXPECT_EQ(fake.requests[2], em::askName1());
    EXPECT_EQ(fake.requests[3], em::askData1());
    EXPECT_EQ(fake.senders[0], testing::loopbackHost(71));
    const WirelessDevice* one = r.device("Vox1");
    EXPECT_EQ(one->ip(), testing::loopbackHost(72));
    EXPECT_EQ(one->channel(), "1");
    EXPECT_EQ(one->deviceType(), 5u);
    EXPECT_EQ(one->socket(), handler_->sockets()[0].get());
    EXPECT_EQ(one->rf(), 80);
    EXPECT_TRUE(one->isA_active());
    EXPECT_EQ(r.device("Vox2")->rf(), 30);
    EXPECT_TRUE(r.device("Vox2")->isB_active());
    EXPECT_EQ(r.devices().size(), 2u);
}

TEST_F(EMHandlerTest, AReceiverIsAskedThroughEveryMatchingInterface) {
    FakeEMReceiver fake(testing::loopbackHost(75));
    ASSERT_TRUE(fake.ready());
    fake.silent = true;
    WirelessManager& r = make({testing::loopbackHost(75)}, {{"lo", testing::loopbackHost(73), ""},
                                                            {"lo", testing::loopbackHost(74), ""}});
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return fake.requests.size() == 8; }));
    EXPECT_EQ(std::count(fake.senders.begin(), fake.senders.end(), testing::loopbackHost(73)), 4);
}

TEST_F(EMHandlerTest, EmptyNamesAndGarbageMakeNoRecords) {
    FakeEMReceiver blank(testing::loopbackHost(77)), noisy(testing::loopbackHost(78));
    ASSERT_TRUE(blank.ready() && noisy.ready());
    blank.one.name = "";
    blank.two.name = "Keys";
    noisy.garbage = true;
    WirelessManager& r = make({testing::loopbackHost(77), testing::loopbackHost(78)},
                              {{"lo", testing::loopbackHost(76), ""}});
    r.doDiscovery();
    auto serviceBoth = [&] {
        blank.service();
        noisy.service();
    };
    ASSERT_TRUE(
        drive(serviceBoth, [&] { return r.device("Keys") && r.device("Keys")->rf() == 30; }));
    drive(serviceBoth, [&] { return noisy.requests.size() == 4; });
    drive(
        serviceBoth, [] { return false; }, 0, 5);
    EXPECT_EQ(r.devices().size(), 1u);
}

}  // namespace
}  // namespace quenbril
