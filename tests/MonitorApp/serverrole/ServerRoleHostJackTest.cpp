// The server role end to end: serverrole_host, a process made of the project's server-role
// classes, captures the dummy JACK server's inputs, polls a fake G3 receiver on loopback and
// serves remotes that speak the link over TCP; a second host polls one fake receiver of each
// driver's kind.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tests/MonitorApp/serverrole/ServerRoleHostProcess.h"
#include "tests/MonitorApp/serverrole/fakes/FakeReceiverSet.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/SignalAnalysis.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {
namespace {

class ServerRoleHostTest : public ::testing::Test {
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

    // Strip 1 carries the tone at RMS 0.1; the others are silent. Each send holds the peaks
    // captured since the one before: a send with no period since (a dummy server or a host loop
    // running late on a busy machine) reads nothing on every strip, never another level.
    const auto levels = waitUntil(second, "LevelData", firstStripAtTone);
    ASSERT_TRUE(levels) << host->log();
    EXPECT_EQ((*levels)["Value"].dataValue()->at(1), 0);
    for (int measured = 0; measured < 5;) {
        const auto m = second.waitFor("LevelData", scaledSeconds(5.0));
        ASSERT_TRUE(m) << host->log();
        const Bytes* b = (*m)["Value"].dataValue();
        ASSERT_TRUE(b && b->size() == kStrips);
        EXPECT_TRUE(std::all_of(b->begin() + 1, b->end(), [](uint8_t v) { return v == 0; }));
        if (firstStripAtTone(*m)) {
            ++measured;
        } else {
            EXPECT_EQ((*b)[0], 0) << "a level other than the tone's";
        }
    }

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
            auto m = second.next(scaledSeconds(5.0));
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
        auto m = first.waitFor("StreamData", scaledSeconds(5.0));
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
    // Pushes already on their way land before the clock moves: the fake has stopped pushing,
    // and the host has sent its figures twice since.
    ASSERT_TRUE(receiver.waitQuiet());
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(remote.waitFor("BatteryData")) << host->log();

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
    EXPECT_TRUE(bad.waitForClose(scaledSeconds(5.0))) << host->log();

    for (int i = 0; i < 5; ++i) EXPECT_TRUE(good.waitFor("LevelData")) << host->log();
}

/// The strips' figures as a remote's battery, antenna and RF sends leave them.
class FigureReader {
  public:
    explicit FigureReader(WireClient& remote) : remote_(remote), now_(kStrips), seen_(kStrips) {}

    /// Reads until `good` holds for the latest figures, within `timeout` seconds of a plain build,
    /// reading what came for `other` too, if given, at least every 50 ms: the host drops a remote
    /// that does not read what it is sent.
    bool waitUntil(const std::function<bool(const std::vector<StripFigures>&)>& good,
                   double timeout = 15.0, FigureReader* other = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + scaledDuration(timeout);
        for (;;) {
            if (good(now_)) return true;
            const double left =
                std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return false;
            auto m = remote_.next(other ? std::min(left, 0.05) : left);
            if (m) {
                take(*m);
            } else if (!other) {
                return false;
            }
            if (other) other->readWhatCame();
        }
    }
    /// Takes in the messages that have come, waiting for none.
    void readWhatCame() {
        while (auto m = remote_.next(0.0)) take(*m);
    }
    /// Each strip's known figures met so far: the last battery other than -2, RF other than 0
    /// and antenna other than none (a record's battery shows only while it is fresh).
    const std::vector<StripFigures>& seen() const { return seen_; }
    const std::vector<StripFigures>& now() const { return now_; }
    int batterySends() const { return batterySends_; }

  private:
    void take(const Dictionary& m) {
        const std::string command = WireClient::commandOf(m);
        if (command == "RfLevelData") {
            const Bytes* b = m["Value"].dataValue();
            if (!b || b->size() != static_cast<size_t>(kStrips)) return;
            for (size_t k = 0; k < b->size(); ++k) {
                now_[k].rf = static_cast<int8_t>((*b)[k]);
                if (now_[k].rf != 0) seen_[k].rf = now_[k].rf;
            }
            return;
        }
        if (command != "BatteryData" && command != "AntennaData") return;
        if (command == "BatteryData") ++batterySends_;
        const Array* list = m["Value"].arrayValue();
        if (!list || list->size() != 2 * kStrips) return;
        for (size_t k = 0; k < static_cast<size_t>(kStrips); ++k) {
            if ((*list)[2 * k].longLongValue() != kFirstCsID + static_cast<int64_t>(k)) return;
            const Value& v = (*list)[2 * k + 1];
            if (command == "BatteryData") {
                now_[k].battery = v.longLongValue().value_or(-2);
                if (now_[k].battery != -2) seen_[k].battery = now_[k].battery;
            } else {
                now_[k].antenna = v.optionalString().value_or("");
                if (!now_[k].antenna.empty()) seen_[k].antenna = now_[k].antenna;
            }
        }
    }

    WireClient& remote_;
    std::vector<StripFigures> now_;
    std::vector<StripFigures> seen_;
    int batterySends_ = 0;
};

class ReceiverDriversHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QUENBRIL_REQUIRE_JACK();
        ASSERT_TRUE(fakes.ready()) << "a fake receiver's address is taken";
        host = std::make_unique<ServerRoleHost>(FakeReceiverSet::receiverList(),
                                                FakeReceiverSet::channelNames());
        ASSERT_NE(host->port(), 0) << (host ? host->log() : "");
    }

    FakeReceiverSet fakes;
    std::unique_ptr<ServerRoleHost> host;
};

const std::vector<StripFigures> kExpected = FakeReceiverSet::figures();

TEST_F(ReceiverDriversHostTest, BothRemotesSeeEveryReceiverAndAFaultyOneLeavesTheOthersAlone) {
    WireClient first(host->port());
    WireClient second(host->port());
    ASSERT_TRUE(first.connected() && second.connected());
    FigureReader readers[2] = {FigureReader(first), FigureReader(second)};
    // While the test waits on one remote, the other's messages are read as well.
    for (int k = 0; k < 2; ++k) {
        FigureReader& reader = readers[k];
        ASSERT_TRUE(reader.waitUntil(
            [&](const std::vector<StripFigures>&) { return reader.seen() == kExpected; }, 15.0,
            &readers[1 - k]))
            << ::testing::PrintToString(reader.seen()) << host->log();
    }

    // The Sony receiver falls silent, the Lectrosonics one answers garbage, and the Vozod
    // transmitter's battery drops to one bar.
    fakes.change([](FakeReceiverSet& f) {
        f.sony.silent = true;
        f.lectrosonics.garbage = true;
        f.vozod.channels[0].bars = 1;
    });
    // Past the silence limit the Sony records go: their strips read no RF and no antenna.
    // Each skip is taken alone, and the live receivers answer again before the next (seven
    // warning passes cover the skip's catching up), so only the silent one ages on.
    const auto liveAnswered = [](const std::vector<StripFigures>& now) {
        return now[3].battery != -2 && now[4].battery != -2 && now[5].battery != -2 &&
               now[6].battery != -2;
    };
    for (int i = 1; i <= 4; ++i) {
        host->skipSixSeconds();
        ASSERT_TRUE(host->waitForSkips(i)) << host->log();
        const int sends = readers[0].batterySends();
        ASSERT_TRUE(readers[0].waitUntil(
            [&](const std::vector<StripFigures>& now) {
                return readers[0].batterySends() >= sends + 7 && liveAnswered(now);
            },
            15.0, &readers[1]))
            << ::testing::PrintToString(readers[0].now()) << host->log();
    }
    // The others carry on with their figures (the EM receiver's battery shows only for a while
    // after each discovery pass, its RF throughout).
    const auto settled = [](const std::vector<StripFigures>& now) {
        return now[0] == StripFigures{} && now[1] == StripFigures{} && now[2].rf == 80 &&
               now[3] == StripFigures{20, 55, "B"} && now[4] == kExpected[4] &&
               now[5] == kExpected[5] && now[6] == kExpected[6];
    };
    for (int k = 0; k < 2; ++k) {
        EXPECT_TRUE(readers[k].waitUntil(settled, 15.0, &readers[1 - k]))
            << ::testing::PrintToString(readers[k].now()) << host->log();
    }
}

}  // namespace
}  // namespace quenbril::test
