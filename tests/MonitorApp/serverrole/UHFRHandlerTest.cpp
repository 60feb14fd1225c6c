// The UHF-R driver against fake receivers on loopback addresses of its own.

#include <gtest/gtest.h>

#include "MonitorApp/serverrole/DispatchUdpEndpoint.h"
#include "MonitorApp/serverrole/UHFRHandler.h"
#include "tests/MonitorApp/serverrole/fakes/DriverTestSupport.h"
#include "tests/MonitorApp/serverrole/fakes/FakeUHFRReceiver.h"

namespace quenbril {
namespace {

using testing::FakeUHFRReceiver;

class UHFRHandlerTest : public testing::DriverTest {
  protected:
    WirelessManager& make(std::vector<std::string> receivers, std::vector<NetworkInterface> ifs) {
        std::vector<std::pair<std::string, int>> list;
        for (auto& a : receivers) list.emplace_back(a, 2);
        WirelessManager::Drivers drivers;
        auto handler = std::make_unique<UHFRHandler>(makeDispatchUdpEndpoint);
        handler_ = handler.get();
        drivers.uhfr = std::move(handler);
        return makeRegistry(list, std::move(ifs), std::move(drivers));
    }
    UHFRHandler* handler_ = nullptr;
};

TEST_F(UHFRHandlerTest, ReportsMakeRecordsAndSamplesReachThem) {
    FakeUHFRReceiver fake(testing::loopbackHost(92));
    ASSERT_TRUE(fake.ready());
    WirelessManager& r =
        make({testing::loopbackHost(92), "10.0.0.7"}, {{"lo", testing::loopbackHost(91), ""}});
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return r.devices().size() == 2; }));
    EXPECT_EQ(fake.requests,
              (std::vector<std::string>{"* GET 1 CHAN_NAME *", "* GET 2 CHAN_NAME *"}));
    EXPECT_EQ(fake.senders[0], testing::loopbackHost(91));
    const WirelessDevice* lead = r.device("Lead        ");
    ASSERT_NE(lead, nullptr);
    EXPECT_EQ(lead->ip(), testing::loopbackHost(92));
    EXPECT_EQ(lead->channel(), "1");
    EXPECT_EQ(lead->deviceType(), 2u);
    EXPECT_EQ(lead->socket(), handler_->sockets()[0].get());

    // Nine fields: no sample. Ten: the record parses it.
    fake.send("* SAMPLE 1 ALL XB 40 55 3 x *");
    fake.send("* SAMPLE 1 ALL XB 40 97 3 x y *\r");
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return lead->rf() == 10; }));
    EXPECT_TRUE(lead->isB_active());
    EXPECT_EQ(lead->battery(), 60);
    // A renamed channel keeps its record's name; a second report only refreshes it.
    fake.names[0] = "Renamed";
    loop_.advance(3);
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return lead->lastSeen() == loop_.now(); }));
    EXPECT_EQ(r.devices().size(), 2u);
    EXPECT_EQ(lead->name(), "Lead        ");
}

TEST_F(UHFRHandlerTest, ShortAndIncompleteDatagramsAreIgnored) {
    FakeUHFRReceiver fake(testing::loopbackHost(94));
    ASSERT_TRUE(fake.ready());
    fake.silent = true;
    WirelessManager& r = make({testing::loopbackHost(94)}, {{"lo", testing::loopbackHost(93), ""}});
    r.doDiscovery();
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return fake.requests.size() == 2; }));
    fake.send("*");
    fake.send("* REPORT");
    fake.send("* REPORT 1 CHAN_NAME Short *");
    fake.send("* REPORT 2 CHAN_NAME *");
    fake.send("* SAMPLE 1 ALL XB 40 97 3 x y *");
    fake.send("* REPORT 2 CHAN_NAME Twelve chars *");
    ASSERT_TRUE(drive([&] { fake.service(); }, [&] { return !r.devices().empty(); }));
    EXPECT_EQ(r.devices().size(), 1u);
    EXPECT_NE(r.device("Twelve chars"), nullptr);
}

}  // namespace
}  // namespace quenbril
