#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/EMHandler.h"
#include "MonitorApp/serverrole/SonyDevice.h"
#include "MonitorApp/serverrole/UHFRHandler.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril {
namespace {

// An in-memory network: every datagram sent is logged with the address of the socket that
// sent it; tests hand replies to the registry as its sockets would.
struct Sent {
    std::string from, host, text;
    uint16_t port;
    long tag;
};

struct Network {
    std::vector<Sent> sent;
    std::vector<std::string> multicastInterfaces;
};

struct FakeUdp : UdpEndpoint {
    explicit FakeUdp(Network* net) : net(net) {}
    bool bindToPort(uint16_t p, const std::string& address, Error*) override {
        bound = address;
        port = p;
        return true;
    }
    bool enableReusePort(bool, Error*) override { return true; }
    bool enableBroadcast(bool, Error*) override { return true; }
    bool setMulticastInterface(const std::string& address, Error*) override {
        net->multicastInterfaces.push_back(address);
        return true;
    }
    bool beginReceiving(Error*) override { return true; }
    void sendData(Bytes data, const std::string& host, uint16_t p, double, long tag) override {
        net->sent.push_back({bound, host, std::string(data.begin(), data.end()), p, tag});
    }
    std::optional<std::string> localHost() const override { return bound; }
    uint16_t localPort() const override { return port; }
    Network* net;
    std::string bound;
    uint16_t port = 0;
};

struct Driver : ReceiverDriver {
    Driver(std::vector<std::string>* calls, std::string name)
        : calls(calls), name(std::move(name)) {}
    void connectTo(WirelessManager&) override { calls->push_back(name + ".connectTo"); }
    void updateDevices(WirelessManager&) override { calls->push_back(name + ".updateDevices"); }
    std::vector<std::string>* calls;
    std::string name;
};

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

class WirelessManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RunLoop::setMain(&loop_);
        loop_.advance(1000);
    }
    void TearDown() override {
        registry_.reset();
        RunLoop::setMain(nullptr);
    }

    WirelessManager& make(std::vector<NetworkInterface> interfaces,
                          std::optional<Value> receivers = std::nullopt) {
        if (receivers) defaults_.registerDefaults({{"UserIPS", *receivers}});
        WirelessManager::Services s;
        s.defaults = &defaults_;
        s.interfaces = [interfaces] { return interfaces; };
        s.udp = [this](UdpEndpointDelegate*) { return std::make_unique<FakeUdp>(&net_); };
        s.drivers.vozod = std::make_unique<Driver>(&driverCalls_, "vozod");
        s.drivers.uhfr = std::make_unique<Driver>(&driverCalls_, "uhfr");
        s.drivers.em = std::make_unique<Driver>(&driverCalls_, "em");
        s.drivers.wisycom = std::make_unique<Driver>(&driverCalls_, "wisycom");
        s.drivers.sony = std::make_unique<Driver>(&driverCalls_, "sony");
        s.drivers.lectrosonics = std::make_unique<Driver>(&driverCalls_, "lectrosonics");
        registry_ = std::make_unique<WirelessManager>(std::move(s));
        return *registry_;
    }
    UdpEndpoint* socketAt(const std::string& address) {
        return registry_->sockets().at(address + ":53212").get();
    }
    std::shared_ptr<WirelessDevice> record(const std::string& name, double age, uint64_t type = 3) {
        auto d = std::make_shared<WirelessDevice>();
        d->setName(name);
        d->setDeviceType(type);
        d->setLastSeen(loop_.now() - age);
        registry_->devices()[name] = d;
        return d;
    }
    std::vector<Sent> sentTexts(const std::string& text) {
        std::vector<Sent> out;
        for (const Sent& s : net_.sent) {
            if (s.text == text) out.push_back(s);
        }
        return out;
    }

    ManualRunLoop loop_;
    UserDefaults defaults_{"/nonexistent/quenbril-registry", "Receivers"};
    Network net_;
    std::vector<std::string> driverCalls_;
    std::unique_ptr<WirelessManager> registry_;
};

TEST_F(WirelessManagerTest, SocketsBindEachAddressAndSendOnlyWhereTheNetworkMatches) {
    WirelessManager& r = make({{"lo", "127.0.0.1", ""},
                               {"lo", "127.0.0.2", ""},
                               {"lo", "127.0.0.3", ""},
                               {"lo2", "127.1.1.2", ""}});
    ASSERT_EQ(r.sockets().size(), 3u) << "127.0.0.1 gets none";
    // Two addresses of one interface: each socket is bound to, and multicasts from, its own.
    EXPECT_EQ(socketAt("127.0.0.3")->localHost(), "127.0.0.3");
    EXPECT_EQ(net_.multicastInterfaces,
              (std::vector<std::string>{"127.0.0.2", "127.0.0.3", "127.1.1.2"}));

    r.sendUDPData("127.1.1.40", 53212, "Name\r");
    ASSERT_EQ(net_.sent.size(), 1u);
    EXPECT_EQ(net_.sent[0].from, "127.1.1.2");
    EXPECT_EQ(net_.sent[0].tag, 0);

    r.sendUDPData("224.0.0.251", 53212, "Name\r");
    ASSERT_EQ(net_.sent.size(), 4u);
    EXPECT_EQ(net_.sent[1].tag, 1);
    EXPECT_EQ(net_.sent[3].tag, 3);
    EXPECT_EQ(r.runningTag(), 4);

    r.sendUDPData("127.0", 53212, "Name\r");     // shorter than 7 characters: no interface
    r.sendUDPData("127.0.0.9", 2202, "Name\r");  // no socket of that port
    EXPECT_EQ(net_.sent.size(), 4u);
}

TEST_F(WirelessManagerTest, TheReceiverListTakesOnlyAddressAndTypePairs) {
    Array list{Value(Array{"127.0.0.9", 3}),  Value(Array{"127.0.0.8"}),      Value("127.0.0.7"),
               Value(Array{"127.0.0.6", 12}), Value(Array{"127.0.0.5", "3"}), Value(Array{5, 3}),
               Value(Array{"127.0.0.4", 6})};
    WirelessManager& r = make({{"lo", "127.0.0.2", ""}}, Value(list));
    EXPECT_EQ(r.deviceIPs(),
              (std::vector<WirelessManager::ReceiverAddress>{{"127.0.0.9", 3}, {"127.0.0.4", 6}}));
    EXPECT_TRUE(WirelessManager::readReceiverList(Value()).empty());
    EXPECT_TRUE(WirelessManager::readReceiverList(Value("not a list")).empty());
}

TEST_F(WirelessManagerTest, APassDropsSilentRecordsSearchesG3AndCallsTheDriversInOrder) {
    WirelessManager& r =
        make({{"lo", "127.0.0.2", ""}},
             Value(Array{Value(Array{"127.0.0.9", 3}), Value(Array{"127.0.0.8", 2})}));
    record("Exactly", WirelessManager::kSilenceLimit);
    record("Late", WirelessManager::kSilenceLimit + 0.001);
    record("Kept", 1e6, WirelessDevice::kKeptAlways);
    record("Lav1", 1);     // live
    record("Lav1 ", 100);  // silent, its trimmed name is the live one
    record("Lav2", 100);
    record("Lav2 ", 100);  // both silent: both go
    record(" Keep9 ", 100);
    record("Keep9", 100, WirelessDevice::kKeptAlways);

    r.startDiscovery();
    std::vector<std::string> left;
    for (const auto& entry : r.devices()) left.push_back(entry.first);
    EXPECT_EQ(left, (std::vector<std::string>{"Exactly", "Keep9", "Kept", "Lav1"}));

    auto names = sentTexts("Name\r");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].host, "224.0.0.251");
    EXPECT_EQ(names[1].host, "127.0.0.9");
    EXPECT_EQ(driverCalls_,
              (std::vector<std::string>{"vozod.connectTo", "uhfr.connectTo", "em.connectTo",
                                        "wisycom.connectTo", "sony.updateDevices",
                                        "lectrosonics.connectTo"}));

    loop_.advance(WirelessManager::kDiscoveryInterval - 0.01);
    EXPECT_EQ(sentTexts("Name\r").size(), 2u);
    r.startDiscovery();  // once only
    loop_.advance(0.02);
    EXPECT_EQ(sentTexts("Name\r").size(), 4u);
    EXPECT_FALSE(r.device("Exactly")) << "silent for more than 15 s by the second pass";
}

TEST_F(WirelessManagerTest, G3NameAndRFRepliesMakeAndUpdateRecords) {
    WirelessManager& r = make({{"lo", "127.0.0.2", ""}, {"lo", "127.0.0.3", ""}});
    UdpEndpoint* a = socketAt("127.0.0.2");
    UdpEndpoint* b = socketAt("127.0.0.3");
    r.udpEndpointDidReceive(a, bytes("Name Lav 1\r"), "127.0.0.9");
    const WirelessDevice* lav = r.device("Lav 1");
    ASSERT_TRUE(lav);
    EXPECT_EQ(lav->ip(), "127.0.0.9");
    EXPECT_EQ(lav->socket(), a);
    EXPECT_EQ(lav->deviceType(), 3u);
    EXPECT_EQ(lav->lastSeen(), loop_.now());

    loop_.advance(3);
    r.udpEndpointDidReceive(b, bytes("Name Lav 1\r"), "127.0.0.10");
    EXPECT_EQ(lav->ip(), "127.0.0.9") << "a known name keeps its first address";
    EXPECT_EQ(lav->socket(), a);
    EXPECT_EQ(lav->lastSeen(), loop_.now());

    r.udpEndpointDidReceive(a, bytes("RF1 1\rRF 150 2 0\rBat ?\r"), "127.0.0.9");
    EXPECT_EQ(lav->rf(), 100);
    EXPECT_FALSE(lav->isA_active());
    EXPECT_TRUE(lav->isB_active());
    EXPECT_EQ(lav->battery(), -1);
    r.udpEndpointDidReceive(a, bytes("RF1 1\rRF 40 1 0\rBat 3\rRF 7 1\rBat 1 2\r"), "127.0.0.9");
    EXPECT_EQ(lav->rf(), 40) << "lines of other lengths change nothing";
    EXPECT_TRUE(lav->isA_active());
    EXPECT_EQ(lav->battery(), 3);
    r.udpEndpointDidReceive(a, bytes("RF1 1\rRF 5 1 0\r"), "127.0.0.77");  // no record there
    EXPECT_EQ(lav->rf(), 40);

    // Names that are not UTF-8 or come out empty make nothing.
    r.udpEndpointDidReceive(a, bytes("Name \xff\xfe"), "127.0.0.11");
    r.udpEndpointDidReceive(a, bytes("Name \xc0\xaf"), "127.0.0.11");  // overlong "/"
    r.udpEndpointDidReceive(a, bytes("Name"), "127.0.0.11");
    EXPECT_EQ(r.devices().size(), 1u);
}

TEST_F(WirelessManagerTest, TheNetworkCannotGrowTheRegistryWithoutBound) {
    WirelessManager& r = make({{"lo", "127.0.0.2", ""}});
    for (int i = 0; i < 1100; ++i) {
        r.udpEndpointDidReceive(socketAt("127.0.0.2"), bytes("Name R" + std::to_string(i)),
                                "127.0.0.9");
    }
    EXPECT_EQ(r.devices().size(), WirelessManager::kMaxDevices);
}

TEST_F(WirelessManagerTest, UHFRSamplesScaleTheMeterAndTheBattery) {
    WirelessDevice d;
    d.setDeviceType(WirelessDevice::kUHFR);
    d.parseResponse("* SAMPLE 1 ALL AB 85 80 3 *", 5);
    EXPECT_EQ(d.rf(), 66);
    EXPECT_TRUE(d.isA_active() && d.isB_active());
    EXPECT_EQ(d.battery(), 60);
    EXPECT_EQ(d.lastSeen(), 5);
    d.parseResponse("* SAMPLE 1 ALL XB 10 40 U *", 6);
    EXPECT_EQ(d.rf(), 100);
    EXPECT_FALSE(d.isA_active());
    EXPECT_TRUE(d.isB_active());
    EXPECT_EQ(d.battery(), -1);
    d.parseResponse("* SAMPLE 1 ALL ?? 130 0 9999999999", 7);
    EXPECT_EQ(d.rf(), -100) << "no lower bound";
    EXPECT_TRUE(d.isB_active()) << "other indications leave the flags";
    d.parseResponse("* SAMPLE 1 ALL AX 0 0", 8);  // short: only the time changes
    EXPECT_EQ(d.rf(), -100);
    EXPECT_EQ(d.lastSeen(), 8);
}

TEST_F(WirelessManagerTest, AnActiveRecordAsksItsReceiverEveryTenSeconds) {
    WirelessManager& r = make({{"lo", "127.0.0.2", ""}});
    auto d = record("Lav", 0);
    d->setIp("127.0.0.9");
    d->setSocket(socketAt("127.0.0.2"));
    d->setIsA_active(true);
    d->setQuality(5);
    d->setActive(true);
    EXPECT_FALSE(d->isA_active());
    EXPECT_EQ(d->quality(), 0);
    EXPECT_EQ(sentTexts("Push 10 100 3\r").size(), 1u);
    loop_.advance(WirelessDevice::kRequestInterval);
    EXPECT_EQ(sentTexts("Push 10 100 3\r").size(), 2u);
    d->setActive(false);
    loop_.advance(WirelessDevice::kRequestInterval * 3);
    EXPECT_EQ(sentTexts("Push 10 100 3\r").size(), 2u);

    d->setDeviceType(WirelessDevice::kUHFR);
    d->setChannel("2");
    d->setActive(true);
    ASSERT_EQ(net_.sent.back().text, "* METER 2 ALL 005 *");
    EXPECT_EQ(net_.sent.back().port, 2202);
    (void)r;
}

TEST_F(WirelessManagerTest, UHFRRecordsStopMeteringWhenSwitchedOffAndAreKeptAliveWhileOff) {
    WirelessManager& r = make({{"lo", "127.0.0.2", ""}});
    auto uhfr = record("Lav", 0, WirelessDevice::kUHFR);
    auto g3 = record("Head", 0, WirelessDevice::kG3);
    for (const auto& d : {uhfr, g3}) {
        d->setIp("127.0.0.9");
        d->setChannel("2");
        d->setSocket(socketAt("127.0.0.2"));
    }
    uhfr->setActive(false);
    EXPECT_TRUE(sentTexts("* METER 2 ALL STOP").empty()) << "it was not metering";
    r.doDiscovery();
    const std::vector<Sent> asked = sentTexts("* GET 2 CHAN_NAME *");
    ASSERT_EQ(asked.size(), 1u) << "only the inactive UHF-R record asks";
    EXPECT_EQ(asked[0].host, "127.0.0.9");
    EXPECT_EQ(asked[0].port, 2202);

    uhfr->setActive(true);
    r.doDiscovery();
    EXPECT_EQ(sentTexts("* GET 2 CHAN_NAME *").size(), 1u) << "an active record meters instead";
    uhfr->setActive(false);
    g3->setActive(true);
    g3->setActive(false);
    const std::vector<Sent> stops = sentTexts("* METER 2 ALL STOP");
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0].port, 2202);
}

TEST_F(WirelessManagerTest, TheRegistryAndTheDriversLogTheirSocketCallbacks) {
    WirelessManager& r = make({{"lo", "127.0.0.2", ""}});
    EMHandler em(nullptr);
    UHFRHandler uhfr(nullptr);
    SonyDevice sony("127.0.0.9", &r,
                    [this](UdpEndpointDelegate*) { return std::make_unique<FakeUdp>(&net_); });
    ::testing::internal::CaptureStderr();
    r.udpEndpointDidConnect(nullptr);
    for (UdpEndpointDelegate* driver : std::initializer_list<UdpEndpointDelegate*>{&em, &uhfr}) {
        driver->udpEndpointDidNotConnect(nullptr, Error::make("d", 1, "refused"));
        driver->udpEndpointDidClose(nullptr, std::nullopt);
    }
    sony.udpEndpointDidClose(nullptr, Error::make("d", 2, "gone"));
    const std::string log = ::testing::internal::GetCapturedStderr();
    auto count = [&log](const std::string& text) {
        size_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("did connect"), 1u) << log;
    EXPECT_EQ(count("didnot comnnect"), 2u) << log;
    EXPECT_EQ(count("did close. Connected 0 sockets"), 2u) << log;
    EXPECT_EQ(count("did close.\n"), 1u) << log;
}

TEST_F(WirelessManagerTest, SharedLookUpsAnswerNothingWithoutARegistry) {
    EXPECT_TRUE(WirelessManager::deviceNames().empty());
    EXPECT_FALSE(WirelessManager::isIPTaken("127.0.0.9"));
    WirelessManager& r = make({});
    WirelessManager::setSharedInstance(&r);
    for (const char* name : {"beta", "Alpha", "gamma", "Beta 2"})
        record(name, 0)->setIp("127.0.0.9");
    r.devices()["gamma"]->setChannel("2");
    EXPECT_EQ(WirelessManager::deviceNames(),
              (std::vector<std::string>{"Alpha", "beta", "Beta 2", "gamma"}));
    EXPECT_TRUE(WirelessManager::isIPTaken("127.0.0.9"));
    EXPECT_EQ(WirelessManager::getDevice("127.0.0.9", "2"), r.device("gamma"));
    EXPECT_EQ(WirelessManager::getDevice("127.0.0.9", "3"), nullptr);
    WirelessManager::setSharedInstance(nullptr);
}

}  // namespace
}  // namespace quenbril
