// The project's own remote against the server role: a headless main window, confirmed against
// serverrole_host by manual address, builds the host's strips, meters its tone and fills its
// stream ring with it, while a second remote on the wire sees the same strips; with the host
// polling one fake receiver of each driver's kind, the window's strips show their figures.

#include <cmath>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "tests/MonitorApp/lifecycle/LifeCycleTest.h"
#include "tests/MonitorApp/serverrole/ServerRoleHostProcess.h"
#include "tests/MonitorApp/serverrole/fakes/FakeReceiverSet.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/SignalAnalysis.h"

namespace quenbril::test {
namespace {

constexpr const char* kSystemUID = "JACK Audio Connection Kit:system";

class ServerRoleHostWindow : public LifeCycleTest {
  protected:
    void SetUp() override {
        QUENBRIL_REQUIRE_JACK();
        ASSERT_TRUE(receiversReady()) << "a fake receiver's address is taken";
        LifeCycleTest::SetUp();
        AudioBackend::setShared(nullptr);  // the real devices: the binary's JACK server
        host = makeHost();
        ASSERT_NE(host->port(), 0) << host->log();
        ASSERT_TRUE(feedToneToFirstInput(injector, inputs)) << host->log();
        link().setPort(host->port());
        defaults().setInteger(1, "useManualIP");
        defaults().setObject(Value("127.0.0.1"), "manualIP");
        defaults().setObject(Value(kSystemUID), "OutputDeviceUID");
    }
    void TearDown() override {
        if (vc) LifeCycleTest::TearDown();
        host.reset();
    }
    virtual bool receiversReady() const { return receiver.bound(); }
    virtual std::unique_ptr<ServerRoleHost> makeHost() const {
        return std::make_unique<ServerRoleHost>();
    }
    /// Starts the window and confirms the host's strips.
    void connectWindow() {
        start();
        ASSERT_NE(dialog(), nullptr);
        ASSERT_TRUE(
            waitFor([&] { return dialog()->statusText()->text() == "Connected to server"; }, 10.0))
            << host->log();
        dialog()->confirmClicked();
        ASSERT_TRUE(waitFor([&] { return manager().controllers().size() == kStrips; }, 10.0))
            << host->log();
    }

    FakeG3Receiver receiver;
    JackTestClient injector{"injector", 0, 1};
    std::vector<std::string> inputs;
    std::unique_ptr<ServerRoleHost> host;
};

TEST_F(ServerRoleHostWindow, TheWindowAndAWireRemoteBuildTheStripsAndTheWindowHearsTheStream) {
    connectWindow();
    if (HasFatalFailure()) return;
    for (int k = 0; k < kStrips; ++k) {
        EXPECT_EQ(manager().controllers()[static_cast<size_t>(k)]->model().wirelessName(),
                  "Lav " + std::to_string(k + 1));
    }

    WireClient wire(host->port());
    ASSERT_TRUE(wire.connected());
    const Dictionary channels = wire.expect("Channels");
    ASSERT_NE(channels["Value"].arrayValue(), nullptr);
    EXPECT_EQ(channels["Value"].arrayValue()->size(), static_cast<size_t>(kStrips));
    EXPECT_TRUE(waitUntil(wire, "LevelData", firstStripAtTone)) << host->log();

    // The window's level history takes the same column.
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    EXPECT_TRUE(waitFor(
        [&] { return std::abs(engine.levelRingBuffer().getLatestSample(0) - 60) <= 1; }, 10.0));

    // The receiver's battery reaches the strip of its channel, and only that one.
    // (The window's strips draw into the fixture's recording views.)
    auto* lav1 = dynamic_cast<FakeStripView*>(manager().controllers()[0]->view());
    auto* lav2 = dynamic_cast<FakeStripView*>(manager().controllers()[1]->view());
    ASSERT_NE(lav1, nullptr);
    ASSERT_NE(lav2, nullptr);
    EXPECT_TRUE(waitFor([&] { return lav1->batVal == 3; }, 10.0)) << host->log();
    EXPECT_EQ(lav2->batVal, -2);

    // The window connected first, so slot 0's stream of strip 1 comes to it. Muted, its
    // output takes nothing from the ring, which fills with the tone.
    engine.setMute(true);
    RingBuffer& ring = engine.clientRing();
    // The ring hands out frames once it holds more than 4096 / 2.1 of them; past 90 % it drops
    // its older half, which still leaves more than are taken here.
    constexpr int kFrames = 1536;
    ASSERT_TRUE(waitFor([&] { return ring.dataInBuffer() >= 2000; }, 10.0)) << host->log();
    std::vector<float> left(kFrames), right(kFrames);
    float* rows[] = {left.data(), right.data()};
    int got = 0;
    ring.consume(rows, kFrames, &got, 2);
    ASSERT_EQ(got, kFrames);
    // The first frames may hold the tone's onset.
    const std::span<const float> steady(left.data() + 512, kFrames - 512);
    EXPECT_NEAR(medianPeriodFrequency(steady, 48000.0), 375.0, 1.0);
    EXPECT_NEAR(sineLevelDb(steady), 20.0 * std::log10(0.1 * std::sqrt(2.0)), 1.0);
    EXPECT_EQ(left, right) << "the slot's centred strip on both sides";
    engine.setMute(false);
    engine.stopListening();
}

class ReceiverDriversHostWindow : public ServerRoleHostWindow {
  protected:
    bool receiversReady() const override { return fakes.ready(); }
    std::unique_ptr<ServerRoleHost> makeHost() const override {
        return std::make_unique<ServerRoleHost>(FakeReceiverSet::receiverList(),
                                                FakeReceiverSet::channelNames());
    }

    FakeReceiverSet fakes;
};

TEST_F(ReceiverDriversHostWindow, EachStripShowsTheBatteryRFAndAntennaOfItsReceiverChannel) {
    connectWindow();
    if (HasFatalFailure()) return;
    const std::vector<std::string> names = FakeReceiverSet::channelNames();
    std::vector<FakeStripView*> views;
    for (int k = 0; k < kStrips; ++k) {
        const auto& controller = manager().controllers()[static_cast<size_t>(k)];
        EXPECT_EQ(controller->model().wirelessName(), names[static_cast<size_t>(k)]);
        views.push_back(dynamic_cast<FakeStripView*>(controller->view()));
        ASSERT_NE(views.back(), nullptr);
    }

    // A channel's battery shows only while its record is fresh (the EM receiver answers once
    // a discovery pass), so each strip's figures are gathered as they come.
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    std::vector<StripFigures> seen(kStrips);
    const std::vector<StripFigures> expected = FakeReceiverSet::figures();
    EXPECT_TRUE(waitFor(
        [&] {
            for (size_t k = 0; k < seen.size(); ++k) {
                if (views[k]->batVal >= -1) seen[k].battery = views[k]->batVal;
                if (!views[k]->antenna.empty() && views[k]->antenna != "unset") {
                    seen[k].antenna = views[k]->antenna;
                }
                const int rf = engine.rfLevelRingBuffer().getLatestSample(static_cast<int>(k));
                if (rf != 0) seen[k].rf = rf;
            }
            return seen == expected;
        },
        15.0))
        << ::testing::PrintToString(seen) << host->log();
    engine.stopListening();
}

}  // namespace
}  // namespace quenbril::test
