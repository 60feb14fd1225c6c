// The Sony driver against fake receivers on loopback addresses of its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include "MonitorApp/serverrole/DispatchUdpEndpoint.h"
#include "MonitorApp/serverrole/SonyDevice.h"
#include "MonitorApp/serverrole/SonyHandler.h"
#include "tests/MonitorApp/serverrole/fakes/DriverTestSupport.h"
#include "tests/MonitorApp/serverrole/fakes/FakeSonyReceiver.h"

namespace quenbril {
namespace {

using testing::FakeSonyReceiver;

class SonyDriverTest : public testing::DriverTest {
  protected:
    WirelessManager& make(const std::vector<std::string>& addresses) {
        std::vector<std::pair<std::string, int>> receivers;
        for (const auto& a : addresses) receivers.emplace_back(a, 6);
        receivers.emplace_back(testing::loopbackHost(69),
                               5);  // Another family: not the Sony driver's.
        WirelessManager::Drivers drivers;
        auto handler = std::make_unique<SonyHandler>(makeDispatchUdpEndpoint);
        handler_ = handler.get();
        drivers.sony = std::move(handler);
        return makeRegistry(receivers, {{"lo", "127.0.0.1", "255.0.0.0"}}, std::move(drivers));
    }
    static bool has(const WirelessManager& r, const char* name, int rf) {
        const WirelessDevice* d = r.device(name);
        return d && d->rf() == rf;
    }
    SonyHandler* handler_ = nullptr;
};

TEST_F(SonyDriverTest, SwitchesToTcpAndKeepsOneRecordPerChannel) {
    FakeSonyReceiver fake(testing::loopbackHost(61));
    ASSERT_TRUE(fake.ready());
    WirelessManager& r = make({testing::loopbackHost(61)});
    r.doDiscovery();
    ASSERT_EQ(handler_->sonyDevices().size(), 1u);
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return has(r, "Backing", 90); }, 0.3));
    // A new device asks at creation and again in the same pass, each time from a fresh state.
    const std::vector<uint8_t> first{1, 1, 0, 1, 0x0B, 0, 1, 0, 0xFF, 0xF1};
    ASSERT_GE(fake.udpRequests.size(), 2u);
    EXPECT_EQ(fake.udpRequests[0], first);
    EXPECT_EQ(fake.udpRequests[1], first);

    const WirelessDevice* lead = r.device("Lead");
    ASSERT_NE(lead, nullptr);
    EXPECT_EQ(lead->ip(), testing::loopbackHost(61));
    EXPECT_EQ(lead->channel(), "1");
    EXPECT_EQ(lead->deviceType(), 6u);
    EXPECT_EQ(lead->battery(), 80);
    EXPECT_EQ(lead->rf(), 40);
    EXPECT_TRUE(lead->isA_active());
    const WirelessDevice* backing = r.device("Backing");
    EXPECT_EQ(backing->battery(), 100);
    EXPECT_TRUE(backing->isB_active());
    EXPECT_EQ(r.devices().size(), 2u);

    // The receiver's second channel goes away: its record shows no figures.
    fake.two.present = false;
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return has(r, "Backing", -1); }, 0.3));
    EXPECT_EQ(backing->battery(), -1);
    EXPECT_FALSE(backing->isA_active() || backing->isB_active());
    // A second pass with the link up sends no new UDP request.
    const size_t udp = fake.udpRequests.size();
    r.doDiscovery();
    loop_.runUntil(
        [&] {
            fake.service();
            return false;
        },
        0.1);
    EXPECT_EQ(fake.udpRequests.size(), udp);
    EXPECT_EQ(handler_->sonyDevices().size(), 1u);
}

TEST_F(SonyDriverTest, ReconnectsAfterTheReceiverDropsTheLink) {
    FakeSonyReceiver fake(testing::loopbackHost(62));
    ASSERT_TRUE(fake.ready());
    WirelessManager& r = make({testing::loopbackHost(62)});
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return has(r, "Lead", 40); }, 0.3));
    SonyDevice& device = *handler_->sonyDevices()[0];
    fake.dropConnections();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return !device.isPolling(); }));
    fake.one.levelA = 70;
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return has(r, "Lead", 70); }, 0.3));
    EXPECT_EQ(fake.accepted, 2u);
    EXPECT_EQ(fake.openConnections(), 1u);
}

TEST_F(SonyDriverTest, GarbageAndSilenceFromOneReceiverLeaveTheOtherAlone) {
    FakeSonyReceiver good(testing::loopbackHost(63)), noisy(testing::loopbackHost(64)),
        quiet(testing::loopbackHost(65));
    ASSERT_TRUE(good.ready() && noisy.ready() && quiet.ready());
    noisy.garbage = true;
    quiet.silent = true;
    good.one.name = "Good1";
    good.two.name = "Good2";
    WirelessManager& r =
        make({testing::loopbackHost(63), testing::loopbackHost(64), testing::loopbackHost(65)});
    r.doDiscovery();
    auto serviceAll = [&] {
        good.service();
        noisy.service();
        quiet.service();
    };
    ASSERT_TRUE(drive(
        serviceAll, [&] { return has(r, "Good2", 90); }, 0.3));
    drive(
        serviceAll, [] { return false; }, 0.3, 5);
    EXPECT_EQ(r.devices().size(), 2u);
    EXPECT_EQ(noisy.accepted, 0u);
    EXPECT_EQ(quiet.accepted, 0u);
}

TEST_F(SonyDriverTest, SwitchRepliesFromAnotherAddressAreIgnored) {
    FakeSonyReceiver target(testing::loopbackHost(66));
    ASSERT_TRUE(target.ready());
    target.silent = true;
    WirelessManager& r = make({testing::loopbackHost(66)});
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { target.service(); }, [&] { return !target.udpRequests.empty(); }));
    // A stranger answers in the receiver's place.
    UdpEndpoint* socket = handler_->sonyDevices()[0]->udpsocket();
    ASSERT_NE(socket, nullptr);
    const int stranger = testing::boundSocket(SOCK_DGRAM, testing::loopbackHost(67), 0);
    const auto reply = testing::sonySwitchReply();
    sockaddr_in to = testing::loopbackAddress("127.0.0.1", socket->localPort());
    ::sendto(stranger, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    drive([&] { target.service(); }, [] { return false; }, 0, 10);
    ::close(stranger);
    EXPECT_EQ(target.accepted, 0u);
    EXPECT_EQ(handler_->sonyDevices()[0]->tcpsocket(), nullptr);
}

// The one fatal path: no memory for the protocol state of a receiver.
TEST(SonyDeviceDeathTest, AFailedStartEndsTheProcessWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SonyDevice device(testing::loopbackHost(68), nullptr, nullptr);
    device.wmapi().init = [](WMAPI*, const char*, void*) { return -1; };
    EXPECT_EXIT(
        {
            // The line goes to standard output; the check reads standard error.
            ::dup2(STDERR_FILENO, STDOUT_FILENO);
            device.resetAPI();
        },
        ::testing::ExitedWithCode(1), "sony_dwx_init\\(\\) returned error!");
}

}  // namespace
}  // namespace quenbril
