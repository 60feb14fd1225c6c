// The Lectrosonics replies, and the driver against fake receivers on loopback addresses.

#include <gtest/gtest.h>

#include "MonitorApp/serverrole/LectrosonicsCodec.h"
#include "MonitorApp/serverrole/LectrosonicsHandler.h"
#include "tests/MonitorApp/serverrole/fakes/DriverTestSupport.h"
#include "tests/MonitorApp/serverrole/fakes/FakeLectrosonicsReceiver.h"

namespace quenbril {
namespace {

namespace lx = lectrosonics;
using testing::FakeLectrosonicsReceiver;

TEST(LectrosonicsCodec, LinesNeedALeadingReturn) {
    lx::LineAssembler a;
    std::vector<std::string> lines;
    auto feed = [&](std::string_view s) {
        a.feed(s, [&](const std::string& l) { lines.push_back(l); });
    };
    feed("\rOK rxname(1)=\"A\"\n");
    feed("\rOK rx");
    feed("name(2)=\"B\"\n");
    // "\r\n" empties the line before its end.
    feed("\rOK x\r\n");
    EXPECT_EQ(lines,
              (std::vector<std::string>{"OK rxname(1)=\"A\"\n", "OK rxname(2)=\"B\"\n", "\n"}));
    lines.clear();
    feed("\r" + std::string(lx::kMaxLine + 10, 'x') + "\n");
    feed("\rOK y\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"OK y\n"}));
}

TEST(LectrosonicsCodec, RepliesByPosition) {
    const std::string line = "OK rxname(3)=\"Lead Vox\"\n";
    auto name = lx::parseName(line, "rxname(3)=\"Lead");
    ASSERT_TRUE(name);
    EXPECT_EQ(name->channel, "3");
    EXPECT_EQ(name->name, "Lead Vox");
    EXPECT_FALSE(lx::parseName("OK rxname(3)=\n", "rxname(3)=\n"));
    auto status = lx::parseStatus("rxstat(2)={0,0,1,0,35,0,1,0,0}\n");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->channel, "2");
    EXPECT_EQ(status->items.size(), 9u);
    EXPECT_EQ(status->items[4], "35");
    EXPECT_FALSE(lx::parseStatus("rxstat(2)\n"));
    EXPECT_EQ(*lx::parseList("txblevel(*)={12,8,16}\n"),
              (std::vector<std::string>{"12", "8", "16"}));
    EXPECT_FALSE(lx::parseList("txblevel(*)\n"));
    EXPECT_FALSE(lx::parseList("a=b=c"));
    for (auto [level, max, percent] :
         {std::tuple{12, 15, 50}, {8, 15, 0}, {16, 15, 116}, {93, 90, 100}, {60, 90, 19}}) {
        EXPECT_EQ(lx::batteryFromLevel(level, max), percent) << level << "/" << max;
    }
    EXPECT_EQ(lx::rfFromMeter(35), 70);
    EXPECT_EQ(lx::rfFromMeter(60), 100);
}

class LectrosonicsHandlerTest : public testing::DriverTest {
  protected:
    WirelessManager& make(const std::vector<std::string>& addresses) {
        std::vector<std::pair<std::string, int>> list;
        for (const auto& a : addresses) list.emplace_back(a, 7);
        WirelessManager::Drivers drivers;
        auto handler = std::make_unique<LectrosonicsHandler>();
        handler_ = handler.get();
        drivers.lectrosonics = std::move(handler);
        return makeRegistry(list, {{"lo", "127.0.0.1", ""}}, std::move(drivers));
    }
    static bool battery(const WirelessManager& r, const std::string& name, int value) {
        const WirelessDevice* d = r.device(name);
        return d && d->battery() == value;
    }
    LectrosonicsHandler* handler_ = nullptr;
};

TEST_F(LectrosonicsHandlerTest, NamesChannelsThenPollsFiguresFromTheStack) {
    FakeLectrosonicsReceiver fake(testing::loopbackHost(111), 2);
    ASSERT_TRUE(fake.ready());
    fake.channels[1].kind = 2;
    fake.channels[1].level = 60;
    fake.channels[1].antenna = 0;
    WirelessManager& r = make({testing::loopbackHost(111)});
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return r.devices().size() == 2; }));
    // Names are asked one after the other; the fake has no channel 3 and stays silent there.
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return fake.count("!rxname(3)?\r") == 1; }));
    EXPECT_EQ(fake.commands[0], "!rxname(1)?\r");
    const WirelessDevice* one = r.device("Lx 1");
    EXPECT_EQ(one->channel(), "1");
    EXPECT_EQ(one->deviceType(), 7u);
    EXPECT_NE(one->tcpSocket(), nullptr);
    // Battery needs the transmitter kind first; the stack sends the newest entry first.
    ASSERT_TRUE(drive([&] { fake.service(); },
                      [&] { return battery(r, "Lx 1", 50) && battery(r, "Lx 2", 19); },
                      LectrosonicsHandler::kSendInterval));
    EXPECT_EQ(one->batteryMaxVoltage(), 15);
    EXPECT_EQ(r.device("Lx 2")->batteryMaxVoltage(), 90);
    EXPECT_EQ(one->rf(), 70);
    EXPECT_TRUE(one->isB_active());
    EXPECT_TRUE(r.device("Lx 2")->isA_active());
    // One receiver of two records: one RF request per pass and one status request per record.
    EXPECT_LE(handler_->pendingCount(), 4u);

    // A channel that receives nothing shows no figures (until the next meter and level).
    handler_->processLine("OK rxstat(1)={0,0,0,0,35,0,1,0,0}\n", testing::loopbackHost(111),
                          nullptr);
    EXPECT_EQ(one->rf(), -1);
    EXPECT_EQ(one->battery(), -1);
    EXPECT_FALSE(one->isA_active() || one->isB_active());
}

// Every channel of the driver's type is asked for its status, transmitter kind and level, in
// the registry's order; the stack sends the newest first, so the last channel's level goes out
// at once and the first channel's status last.
TEST_F(LectrosonicsHandlerTest, AskDataPushesThreeRequestsPerChannelAndSendsTheNewest) {
    FakeLectrosonicsReceiver fake(testing::loopbackHost(116), 2);
    ASSERT_TRUE(fake.ready());
    WirelessManager& r = make({testing::loopbackHost(116)});
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return fake.count("!rxname(3)?\r") == 1; }));
    // Unanswered, so that no reply sends the next request: only askData and the calls below do.
    fake.silent = true;
    auto other = std::make_shared<WirelessDevice>();
    other->setName("Wx 5");
    other->setIp(testing::loopbackHost(116));
    other->setChannel("5");
    other->setDeviceType(WirelessDevice::kWisycom);
    other->setTcpSocket(r.device("Lx 1")->tcpSocket());
    ASSERT_TRUE(r.addDevice(other));
    ASSERT_EQ(handler_->pendingCount(), 0u);
    const size_t before = fake.commands.size();

    handler_->askData();
    EXPECT_EQ(handler_->commandIndex(), 0);
    EXPECT_EQ(handler_->pendingCount(), 5u) << "six pushed, the newest sent";
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return fake.commands.size() == before + 1; }));
    while (handler_->pendingCount() > 0) handler_->askNextCommand();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return fake.commands.size() >= before + 6; }));
    EXPECT_EQ(std::vector<std::string>(fake.commands.begin() + static_cast<long>(before),
                                       fake.commands.end()),
              (std::vector<std::string>{"!txblevel(2)?\r", "!txbatt(2)?\r", "!rxstat(2)?\r",
                                        "!txblevel(1)?\r", "!txbatt(1)?\r", "!rxstat(1)?\r"}));
}

TEST_F(LectrosonicsHandlerTest, ReconnectsAndDropsTheOldConnectionsRequests) {
    FakeLectrosonicsReceiver fake(testing::loopbackHost(113), 1);
    ASSERT_TRUE(fake.ready());
    WirelessManager& r = make({testing::loopbackHost(113)});
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return r.device("Lx 1") != nullptr; }));
    for (int i = 0; i < 3; ++i) {
        handler_->askRf();
        handler_->askBatteryData();
    }
    // Each request waits at most once.
    EXPECT_EQ(handler_->pendingCount(), 4u);
    fake.dropConnections();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return handler_->connectedCount() == 0; }));
    EXPECT_EQ(handler_->pendingCount(), 0u);
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return fake.count("!rxname(1)?\r") == 2; }));
    EXPECT_EQ(fake.accepted, 2u);
}

TEST_F(LectrosonicsHandlerTest, GarbageAndByteByByteRepliesLeaveTheOthersRight) {
    FakeLectrosonicsReceiver noisy(testing::loopbackHost(114), 2),
        slow(testing::loopbackHost(115), 2);
    ASSERT_TRUE(noisy.ready() && slow.ready());
    noisy.garbage = true;
    slow.byteByByte = true;
    slow.channels[0].name = "Slow 1";
    slow.channels[1].name = "Slow 2";
    WirelessManager& r = make({testing::loopbackHost(114), testing::loopbackHost(115)});
    r.doDiscovery();
    auto both = [&] {
        noisy.service();
        slow.service();
    };
    ASSERT_TRUE(drive(
        both, [&] { return battery(r, "Slow 1", 50) && battery(r, "Slow 2", 50); },
        LectrosonicsHandler::kSendInterval));
    EXPECT_EQ(r.devices().size(), 2u);
    EXPECT_EQ(r.device("Slow 2")->ip(), testing::loopbackHost(115));
}

}  // namespace
}  // namespace quenbril
