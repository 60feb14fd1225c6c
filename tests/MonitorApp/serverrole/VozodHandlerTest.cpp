// The Vozod driver against fake receivers on loopback addresses of its own.

#include <gtest/gtest.h>

#include "MonitorApp/serverrole/VozodHandler.h"
#include "tests/MonitorApp/serverrole/fakes/DriverTestSupport.h"
#include "tests/MonitorApp/serverrole/fakes/FakeVozodReceiver.h"

namespace quenbril {
namespace {

using testing::FakeVozodReceiver;

class VozodHandlerTest : public testing::DriverTest {
  protected:
    WirelessManager& make(const std::vector<std::pair<std::string, int>>& receivers) {
        WirelessManager::Drivers drivers;
        auto handler = std::make_unique<VozodHandler>();
        handler_ = handler.get();
        drivers.vozod = std::move(handler);
        return makeRegistry(receivers, {{"lo", "127.0.0.1", ""}}, std::move(drivers));
    }
    static bool battery(const WirelessManager& r, const std::string& name, int percent) {
        const WirelessDevice* d = r.device(name);
        return d && d->battery() == percent;
    }
    VozodHandler* handler_ = nullptr;
};

TEST_F(VozodHandlerTest, NamesMakeRecordsAndBatteriesFollowTheTimer) {
    FakeVozodReceiver fake(testing::loopbackHost(81));
    ASSERT_TRUE(fake.ready());
    WirelessManager& r = make({{testing::loopbackHost(81), 8}, {testing::loopbackHost(89), 6}});
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return r.device("Vocal 2") != nullptr; }));
    const WirelessDevice* one = r.device("Vocal 1 ");
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->ip(), testing::loopbackHost(81));
    EXPECT_EQ(one->channel(), "1");
    EXPECT_EQ(one->deviceType(), 8u);
    ASSERT_TRUE(drive([&] { fake.service(); },
                      [&] { return fake.count("< SET 2 METER_RATE 00200 >") == 1; }));
    EXPECT_EQ(fake.count("< SET 1 METER_RATE 00200 >"), 1u);

    fake.channels[0].bars = 255;
    ASSERT_TRUE(drive([&] { fake.service(); },
                      [&] { return battery(r, "Vocal 1 ", -1) && battery(r, "Vocal 2", 60); },
                      VozodHandler::kAskInterval));
    EXPECT_GE(fake.count("< GET 0 TX_BATT_BARS >"), 1u);
    // A second pass asks the names again and repeats the meter rate without new records.
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); },
                      [&] { return fake.count("< SET 1 METER_RATE 00200 >") == 2; }));
    EXPECT_EQ(r.devices().size(), 2u);
    EXPECT_EQ(handler_->connectedCount(), 1u);

    fake.push("< SAMPLE 1 ALL 3 0 0 0 AXXX 0 30 0 45 >");
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return one->rf() == 67; }));
    EXPECT_EQ(one->rfA(), 37);
    EXPECT_EQ(one->quality(), 3);
}

TEST_F(VozodHandlerTest, TwoReceiversSendingByteByByteKeepTheirLinesApart) {
    FakeVozodReceiver a(testing::loopbackHost(82)), b(testing::loopbackHost(83));
    ASSERT_TRUE(a.ready() && b.ready());
    a.byteByByte = b.byteByByte = true;
    a.channels = {{"Alpha"}};
    b.channels = {{"Bravo"}};
    WirelessManager& r = make({{testing::loopbackHost(82), 0}, {testing::loopbackHost(83), 1}});
    r.doDiscovery();
    auto both = [&] {
        a.service();
        b.service();
    };
    ASSERT_TRUE(drive(both, [&] { return r.device("Alpha") && r.device("Bravo"); }));
    // Halves of samples, each read before the next is sent, alternate between the receivers.
    auto settle = [&] {
        loop_.runUntil(
            [&] {
                both();
                return false;
            },
            0.05);
    };
    a.push("< SAMPLE 1 ALL XB");
    settle();
    b.push("< SAMPLE 1 ALL XB");
    settle();
    a.push(" 40 55 0 0 >");
    settle();
    b.push(" 40 55 0 0 >");
    ASSERT_TRUE(drive(
        both, [&] { return r.device("Alpha")->rf() == 55 && r.device("Bravo")->rf() == 55; }));
    EXPECT_EQ(r.device("Alpha")->ip(), testing::loopbackHost(82));
    EXPECT_EQ(r.device("Alpha")->rfA(), 0);
    EXPECT_EQ(r.device("Bravo")->ip(), testing::loopbackHost(83));
    EXPECT_EQ(r.device("Bravo")->rfA(), 40);
    EXPECT_EQ(r.devices().size(), 2u);
}

TEST_F(VozodHandlerTest, ReconnectsAtTheNextPassAfterADrop) {
    FakeVozodReceiver fake(testing::loopbackHost(84));
    ASSERT_TRUE(fake.ready());
    WirelessManager& r = make({{testing::loopbackHost(84), 1}});
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return r.device("Vocal 2") != nullptr; }));
    // The receiver closes in the middle of a line.
    fake.push("< REP 1 BATT_BA");
    fake.dropConnections();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return handler_->connectedCount() == 0; }));
    EXPECT_EQ(handler_->connectingCount(), 0u);
    fake.channels[1].bars = 1;
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return battery(r, "Vocal 2", 20); },
                      VozodHandler::kAskInterval));
    EXPECT_EQ(fake.accepted, 2u);
    EXPECT_EQ(fake.openConnections(), 1u);
    // An address already connected is not connected again.
    r.doDiscovery();
    drive([&] { fake.service(); }, [] { return false; }, 0, 5);
    EXPECT_EQ(fake.accepted, 2u);
}

TEST_F(VozodHandlerTest, GarbageAndSilenceLeaveTheOthersAlone) {
    FakeVozodReceiver good(testing::loopbackHost(85)), noisy(testing::loopbackHost(86)),
        quiet(testing::loopbackHost(87));
    ASSERT_TRUE(good.ready() && noisy.ready() && quiet.ready());
    good.channels = {{"Good"}};
    noisy.garbage = true;
    quiet.silent = true;
    WirelessManager& r = make({{testing::loopbackHost(85), 0},
                               {testing::loopbackHost(86), 0},
                               {testing::loopbackHost(87), 0}});
    r.doDiscovery();
    auto all = [&] {
        good.service();
        noisy.service();
        quiet.service();
    };
    ASSERT_TRUE(drive(
        all, [&] { return battery(r, "Good", 60); }, VozodHandler::kAskInterval));
    drive(
        all, [] { return false; }, VozodHandler::kAskInterval, 5);
    EXPECT_EQ(r.devices().size(), 1u);
    EXPECT_EQ(handler_->connectedCount(), 3u);
}

}  // namespace
}  // namespace quenbril
