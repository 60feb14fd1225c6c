// The server role end to end: serverrole_host, a process made of the project's server-role
// classes, captures the dummy JACK server's inputs, polls a fake G3 receiver on loopback and
// serves remotes that speak the link over TCP.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tests/serverrole/ServerRoleHostProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/SignalAnalysis.h"

namespace quenbril::test {
namespace {

class ServerRoleHostTest : public testing::Test {
  protected:
    void SetUp() override {
        QUENBRIL_REQUIRE_JACK();
        ASSERT_TRUE(receiver.bound()) << "the fake receiver's address is taken";
        host = std::make_unique<ServerRoleHost>();
        ASSERT_NE(host->port(), 0) << host->log();
        ASSERT_TRUE(feedToneToFirstInput(injector, inputs)) << host->log();
    }

    FakeG3Receiver receiver;
    JackTestClient injector{"injector", 0, 1};
    std::vector<std::string> inputs;
    std::unique_ptr<ServerRoleHost> host;
};

TEST_F(ServerRoleHostTest, RemotesGetTheStripsLevelsReceiverFiguresAndTheStream) {
    WireClient first(host->port());
    ASSERT_TRUE(first.connected());
    ASSERT_TRUE(first.waitFor("Channels"));  // the first remote is the one streamed to
    WireClient second(host->port());
    ASSERT_TRUE(second.connected());

    for (WireClient* remote : {&first, &second}) {
        const Dictionary channels = remote == &first ? Dictionary{} : remote->expect("Channels");
        if (remote == &second) {
            const Array* list = channels["Value"].arrayValue();
            ASSERT_NE(list, nullptr);
            ASSERT_EQ(list->size(), static_cast<size_t>(kStrips));
            for (int k = 0; k < kStrips; ++k) {
                EXPECT_EQ(list->at(static_cast<size_t>(k))["wirelessName"].optionalString(),
                          "Lav " + std::to_string(k + 1));
            }
        }
        EXPECT_EQ(remote->expect("MasterVersion")["Value"].doubleValue(), 3.8);
        EXPECT_EQ(remote->expect("InitialDataReady")["Value"].boolValue(), true);
    }

    // Strip 1 carries the tone at RMS 0.1; the others are silent.
    const auto levels = waitUntil(second, "LevelData", firstStripAtTone);
    ASSERT_TRUE(levels) << host->log();
    EXPECT_EQ((*levels)["Value"].dataValue()->at(1), 0);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(firstStripAtTone(second.expect("LevelData")));

    // The receiver's figures: RF as a byte of the level send, battery and antenna each second.
    ASSERT_TRUE(receiver.asked()) << host->log();
    const auto rf = waitUntil(second, "RfLevelData", [](const Dictionary& m) {
        const Bytes* b = m["Value"].dataValue();
        return b && !b->empty() && (*b)[0] == 40;
    });
    ASSERT_TRUE(rf) << host->log();
    EXPECT_EQ((*rf)["Value"].dataValue()->size(), static_cast<size_t>(kStrips));
    const auto battery = waitUntil(
        second, "BatteryData", [](const Dictionary& m) { return firstStrip(m).intValue() == 3; });
    ASSERT_TRUE(battery) << host->log();
    const Dictionary antenna = second.expect("AntennaData");
    EXPECT_EQ(firstStrip(antenna).optionalString(), "A");

    // Ten level sends to each warning pass, on the host's one clock.
    ASSERT_TRUE(second.waitFor("BatteryData"));
    for (int second_ = 0; second_ < 2; ++second_) {
        int sends = 0;
        for (;;) {
            auto m = second.next(5.0);
            ASSERT_TRUE(m) << host->log();
            const std::string command = WireClient::commandOf(*m);
            if (command == "LevelData") ++sends;
            if (command == "BatteryData") break;
        }
        EXPECT_EQ(sends, 10);
    }

    // Slot 0 streams strip 1 to the first remote's host.
    std::vector<float> left;
    while (left.size() < 48000) {
        auto m = first.waitFor("StreamData", 5.0);
        ASSERT_TRUE(m) << host->log();
        const std::vector<float> block = floats((*m)["LeftValue"]);
        ASSERT_EQ(block.size() % 128, 0u);
        ASSERT_EQ(floats((*m)["RightValue"]).size(), block.size());
        left.insert(left.end(), block.begin(), block.end());
    }
    // The first blocks may hold the tone's onset; the last half second is steady.
    const std::span<const float> steady(left.data() + 24000, 24000);
    EXPECT_NEAR(medianPeriodFrequency(steady, 48000.0), 375.0, 1.0);
    EXPECT_NEAR(sineLevelDb(steady), 20.0 * std::log10(0.1 * std::sqrt(2.0)), 1.0);
}

TEST_F(ServerRoleHostTest, ASilentReceiverLosesItsBatteryAfterFiveSecondsAndItsRecordAfterFifteen) {
    WireClient remote(host->port());
    ASSERT_TRUE(remote.connected());
    ASSERT_TRUE(waitUntil(remote, "BatteryData", [](const Dictionary& m) {
        return firstStrip(m).intValue() == 3;
    })) << host->log();
    receiver.setSilent(true);
    // Pushes already on their way land before the clock moves.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    host->skipSixSeconds();
    ASSERT_TRUE(waitUntil(remote, "BatteryData", [](const Dictionary& m) {
        return firstStrip(m).intValue() == -2;
    })) << host->log();
    const auto stillKnown = remote.expect("RfLevelData");
    ASSERT_NE(stillKnown["Value"].dataValue(), nullptr);
    EXPECT_EQ(stillKnown["Value"].dataValue()->at(0), 40) << "the record stays until 15 s";

    // Past fifteen seconds of silence, the next discovery pass drops the record: RF reads 0.
    for (int i = 0; i < 4; ++i) host->skipSixSeconds();
    ASSERT_TRUE(waitUntil(remote, "RfLevelData", [](const Dictionary& m) {
        const Bytes* b = m["Value"].dataValue();
        return b && !b->empty() && (*b)[0] == 0;
    })) << host->log();
    EXPECT_EQ(firstStrip(remote.expect("AntennaData")).optionalString(), "");
}

TEST_F(ServerRoleHostTest, ARemoteSendingGarbageIsDroppedWhileTheOtherKeepsItsFrames) {
    WireClient good(host->port());
    ASSERT_TRUE(good.connected());
    ASSERT_TRUE(good.waitFor("InitialDataReady"));
    WireClient bad(host->port());
    ASSERT_TRUE(bad.connected());
    ASSERT_TRUE(bad.waitFor("InitialDataReady"));

    // A header announcing a negative length.
    ASSERT_TRUE(bad.sendRaw(Bytes{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 'x', 'y'}));
    EXPECT_TRUE(bad.waitForClose(5.0)) << host->log();

    for (int i = 0; i < 5; ++i) EXPECT_TRUE(good.waitFor("LevelData")) << host->log();
}

}  // namespace
}  // namespace quenbril::test
