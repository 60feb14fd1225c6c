// The stand-in as a real process on loopback, driven by wire clients.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "MonitorApp/LinkMessageBuilder.h"
#include "foundation/ArchiveClassRegistry.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"

namespace quenbril::test {
namespace {

using Builder = LinkMessageBuilder;

/// The messages up to "InitialDataReady".
std::vector<Dictionary> initialState(WireClient& c) {
    std::vector<Dictionary> out;
    while (auto m = c.next(5.0)) {
        out.push_back(*m);
        if (WireClient::commandOf(*m) == "InitialDataReady") break;
    }
    return out;
}

[[maybe_unused]] std::vector<int64_t> ids(const Dictionary& m) {
    std::vector<int64_t> out;
    if (auto a = m["Value"].arrayValue()) {
        for (const Value& v : *a) out.push_back(v.longLongValue().value_or(0));
    }
    return out;
}

struct Production {
    std::vector<int64_t> enabled;  // strip ids in level-byte order
    int64_t timecode = 0;
};

Production productionOf(const std::vector<Dictionary>& state) {
    Production p;
    for (const Dictionary& m : state) {
        if (WireClient::commandOf(m) != "Channels") continue;
        for (const Value& s : *m["Value"].arrayValue()) {
            if (!s["channelEnabled"].boolValue().value_or(true)) continue;
            p.enabled.push_back(*s["csID"].longLongValue());
            if (*s["wirelessName"].stringValue() == "LTC Timecode") p.timecode = p.enabled.back();
        }
    }
    return p;
}

class SimServerE2E : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(server_.port(), 0) << server_.log(); }

    /// A client that has taken its initial state.
    std::unique_ptr<WireClient> connect() {
        auto c = std::make_unique<WireClient>(server_.port());
        EXPECT_TRUE(c->connected());
        auto state = initialState(*c);
        EXPECT_FALSE(state.empty());
        if (!state.empty()) {
            EXPECT_EQ(WireClient::commandOf(state.back()), "InitialDataReady");
        }
        production_ = productionOf(state);
        return c;
    }

    SimServerProcess server_;
    Production production_;
};

TEST_F(SimServerE2E, InitialStateArrivesInOrderAndEndsWithInitialDataReady) {
    WireClient c(server_.port());
    ASSERT_TRUE(c.connected());
    auto state = initialState(c);
    ASSERT_FALSE(state.empty());
    EXPECT_EQ(WireClient::commandOf(state.back()), "InitialDataReady");
    EXPECT_EQ(state.back()["Value"].boolValue(), true);

    const std::vector<std::string> expected = {
        "ClientNames", "MasterVersion",   "Channels",        "GroupColors",
        "GroupStates", "SnapshotNames",   "Snapshot",        "BatteryThreshold",
        "BatteryData", "BatteryTimeData", "AntennaData",     "WirelessInfo",
        "ChatClients", "NotebookEntries", "InitialDataReady"};
    size_t next = 0;
    for (const Dictionary& m : state) {
        std::string command = WireClient::commandOf(m);
        EXPECT_NE(command, "LevelData") << "level frames before the initial state is complete";
        if (next < expected.size() && command == expected[next]) ++next;
    }
    EXPECT_EQ(next, expected.size()) << "missing or out of order: " << expected[next];

    std::map<std::string, Dictionary> by;
    int players = 0;
    for (const Dictionary& m : state) {
        by[WireClient::commandOf(m)] = m;
        if (WireClient::commandOf(m) == "NewPlayer") {
            ++players;
            EXPECT_TRUE(m["Value"]["Image"].isData());
            EXPECT_TRUE(m["Value"]["Name"].isString());
            EXPECT_TRUE(m["Value"]["RoleName"].isString());
            EXPECT_TRUE(m["Value"]["Comments"].isString());
        }
    }
    EXPECT_GT(players, 0);
    EXPECT_GE(by["MasterVersion"]["Value"].floatValue().value_or(0), 3.8f);
    ASSERT_TRUE(by["GroupStates"]["Value"].arrayValue());
    EXPECT_EQ(by["GroupStates"]["Value"].arrayValue()->size(), 8u);

    // Sixteen strips by default, in both panels, one of them the timecode strip.
    const Array& strips = *by["Channels"]["Value"].arrayValue();
    EXPECT_EQ(strips.size(), 16u);
    std::set<std::string> panels;
    int timecode = 0;
    for (const Value& s : strips) {
        EXPECT_EQ(s.count(), 13u);
        panels.insert(*s["panel"].stringValue());
        if (*s["wirelessName"].stringValue() == "LTC Timecode") ++timecode;
        EXPECT_TRUE(s["csID"].isInteger());
        EXPECT_TRUE(s["channelEnabled"].isBool());
    }
    EXPECT_EQ(panels, (std::set<std::string>{"A", "B"}));
    EXPECT_EQ(timecode, 1);

    // Flat pairs name enabled strips only; every strip's player is announced or "No player".
    Production p = productionOf(state);
    const Array& battery = *by["BatteryData"]["Value"].arrayValue();
    ASSERT_EQ(battery.size() % 2, 0u);
    for (size_t i = 0; i < battery.size(); i += 2) {
        EXPECT_NE(std::find(p.enabled.begin(), p.enabled.end(), *battery[i].longLongValue()),
                  p.enabled.end());
        EXPECT_TRUE(battery[i + 1].isInteger());
    }
    EXPECT_EQ(by["NotebookEntries"]["Values"].arrayValue()->size(), 0u);
}

TEST_F(SimServerE2E, LevelFramesComeTenTimesASecondWithOneBytePerEnabledStrip) {
    auto c = connect();
    size_t strips = production_.enabled.size();
    ASSERT_GT(strips, 0u);
    EXPECT_LT(strips, 16u) << "the default production keeps one strip disabled";

    std::set<std::string> seen;
    std::vector<double> times;
    auto start = std::chrono::steady_clock::now();
    while (times.size() < 21) {
        auto m = c->next(2.0);
        ASSERT_TRUE(m) << "the server fell silent";
        std::string command = WireClient::commandOf(*m);
        if (command.starts_with("RfLevelData") || command == "QLData" ||
            command == "QualityLevelData" || command == "LevelData") {
            ASSERT_TRUE((*m)["Value"].isData()) << command;
            EXPECT_EQ((*m)["Value"].dataValue()->size(), strips) << command;
            seen.insert(command);
        }
        if (command == "LevelData") {
            times.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
    EXPECT_EQ(seen, (std::set<std::string>{"LevelData", "RfLevelData", "RfLevelDataA",
                                           "RfLevelDataB", "RfLevelDataC", "RfLevelDataD",
                                           "RfLevelDataDiv", "QLData", "QualityLevelData"}));
    // Twenty intervals of 0.1 s; generous bounds for a loaded machine.
    double span = times.back() - times.front();
    EXPECT_GT(span, 1.5);
    EXPECT_LT(span, 4.0);
}

TEST_F(SimServerE2E, TimecodeStripGetsItsTimecodeAndSamples) {
    auto c = connect();
    ASSERT_NE(production_.timecode, 0);
    auto ltc = c->waitFor("LTC", 2.0);
    ASSERT_TRUE(ltc);
    EXPECT_EQ((*ltc)["CSID"].longLongValue(), production_.timecode);
    EXPECT_EQ((*ltc)["FPS"].intValue(), 25);
    EXPECT_LT((*ltc)["Frames"].intValue().value_or(99), 25);
    EXPECT_TRUE((*ltc)["Value"].isNull());
    auto sample = c->waitFor("LTCSample", 2.0);
    ASSERT_TRUE(sample);
    const Value& record = (*sample)["Value"].at(0);
    EXPECT_EQ(record["CSID"].longLongValue(), production_.timecode);
    ASSERT_TRUE(record["LTCSample"].isData());
    EXPECT_EQ(record["LTCSample"].dataValue()->size(), 720u);
}

}  // namespace
}  // namespace quenbril::test
