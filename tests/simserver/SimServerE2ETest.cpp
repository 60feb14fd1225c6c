// The stand-in as a real process on loopback, driven by wire clients.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
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

std::vector<int64_t> ids(const Dictionary& m) {
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
    while (times.size() < 41) {
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
    // Forty intervals of 0.1 s; a second of slack either way for a loaded machine, which may
    // read the first frames late and then in a burst.
    double span = times.back() - times.front();
    EXPECT_GT(span, 3.0);
    EXPECT_LT(span, 5.0);
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

/// Float32 samples of a stream channel.
std::vector<float> samples(const Value& data) {
    std::vector<float> out;
    const Bytes* b = data.dataValue();
    if (!b) return out;
    out.resize(b->size() / 4);
    std::memcpy(out.data(), b->data(), out.size() * 4);
    return out;
}

TEST_F(SimServerE2E, ClickSolosAStripForEveryRemoteAndItsAudioFollows) {
    auto a = connect();
    auto b = connect();
    ASSERT_GE(production_.enabled.size(), 3u);
    int64_t first = production_.enabled[0], second = production_.enabled[1];

    // Nothing soloed: no audio.
    ASSERT_TRUE(a->waitFor("LevelData"));
    ASSERT_TRUE(a->waitFor("LevelData"));
    EXPECT_FALSE(a->waitFor("StreamData", 0.3));

    ASSERT_TRUE(a->send(Builder::channelClicked(first)));
    for (WireClient* c : {a.get(), b.get()}) {
        auto soloed = c->waitFor("SoloedChannels");
        ASSERT_TRUE(soloed);
        EXPECT_EQ(ids(*soloed), std::vector<int64_t>{first});
        auto active = c->waitFor("ActiveChannels");
        ASSERT_TRUE(active);
        EXPECT_EQ(ids(*active), std::vector<int64_t>{first});
    }
    // One strip: mono blocks of a tone that is not silence.
    auto stream = a->waitFor("StreamData");
    ASSERT_TRUE(stream);
    EXPECT_TRUE((*stream)["RightValue"].isNull());
    auto left = samples((*stream)["LeftValue"]);
    ASSERT_FALSE(left.empty());
    EXPECT_EQ((*stream)["LeftValue"].dataValue()->size() % 4, 0u);
    float peak = 0;
    for (float f : left) peak = std::max(peak, std::abs(f));
    EXPECT_GT(peak, 0.001f);
    EXPECT_LE(peak, 1.0f);
    // About 4800 samples a tick at 48 kHz, as one block per level frame.
    EXPECT_LE(left.size(), 24000u);

    // A second strip: stereo, the two channels of equal length.
    ASSERT_TRUE(b->send(Builder::channelClicked(second)));
    auto both = a->waitFor("SoloedChannels");
    ASSERT_TRUE(both);
    EXPECT_EQ(ids(*both), (std::vector<int64_t>{first, second}));
    stream = a->waitFor("StreamData");
    ASSERT_TRUE(stream);
    ASSERT_TRUE((*stream)["RightValue"].isData());
    EXPECT_EQ((*stream)["RightValue"].dataValue()->size(),
              (*stream)["LeftValue"].dataValue()->size());

    // Clicking it again takes it out; a long click leaves one strip; Clear empties both lists.
    ASSERT_TRUE(b->send(Builder::channelClicked(second)));
    EXPECT_EQ(ids(*a->waitFor("SoloedChannels")), std::vector<int64_t>{first});
    ASSERT_TRUE(b->send(Builder::channelLongClicked(second)));
    EXPECT_EQ(ids(*a->waitFor("SoloedChannels")), std::vector<int64_t>{second});
    EXPECT_EQ(ids(*a->waitFor("ActiveChannels")), std::vector<int64_t>{second});
    ASSERT_TRUE(b->send(Builder::clear()));
    EXPECT_EQ(ids(*a->waitFor("SoloedChannels")), std::vector<int64_t>{});
    EXPECT_EQ(ids(*a->waitFor("ActiveChannels")), std::vector<int64_t>{});
    // What was sent before the Clear may still be on its way; after the next answer, silence.
    ASSERT_TRUE(a->send(Builder::groupClicked(1)));
    ASSERT_TRUE(a->waitFor("GroupStates"));
    for (int i = 0; i < 3; ++i) {
        auto m = a->waitFor("LevelData");
        ASSERT_TRUE(m);
    }
    EXPECT_FALSE(a->waitFor("StreamData", 0.3));
}

TEST_F(SimServerE2E, StopStreamSilencesOneRemoteAndPlaybackReplaysTheStripAlone) {
    auto a = connect();
    auto b = connect();
    int64_t strip = production_.enabled[0];
    ASSERT_TRUE(a->send(Builder::stopStream()));
    ASSERT_TRUE(a->send(Builder::channelClicked(strip)));
    ASSERT_TRUE(a->waitFor("SoloedChannels"));
    ASSERT_TRUE(b->waitFor("StreamData")) << "the other remote still hears the strip";
    ASSERT_TRUE(a->waitFor("LevelData"));
    EXPECT_FALSE(a->waitFor("StreamData", 0.5));
    ASSERT_TRUE(a->send(Builder::startStream()));
    ASSERT_TRUE(a->waitFor("StreamData"));

    // With nothing soloed, a replay still streams, mono, to the remote that asked only.
    ASSERT_TRUE(a->send(Builder::clear()));
    ASSERT_TRUE(a->waitFor("SoloedChannels"));
    ASSERT_TRUE(b->waitFor("SoloedChannels"));
    ASSERT_TRUE(a->send(Builder::playbackStarted(production_.enabled[1], 48000 * 3)));
    auto replay = a->waitFor("StreamData");
    ASSERT_TRUE(replay);
    EXPECT_TRUE((*replay)["RightValue"].isNull());
    ASSERT_TRUE(b->waitFor("LevelData"));
    ASSERT_TRUE(b->waitFor("LevelData"));
    EXPECT_FALSE(b->waitFor("StreamData", 0.3));
    ASSERT_TRUE(a->send(Builder::playbackStopped(production_.enabled[1])));
    ASSERT_TRUE(a->send(Builder::groupClicked(2)));
    ASSERT_TRUE(a->waitFor("GroupStates"));
    ASSERT_TRUE(a->waitFor("LevelData"));
    EXPECT_FALSE(a->waitFor("StreamData", 0.3));
}

std::vector<int32_t> groupStates(const Dictionary& m) {
    std::vector<int32_t> out;
    for (const Value& v : *m["Value"].arrayValue()) out.push_back(v.intValue().value_or(-1));
    return out;
}

TEST_F(SimServerE2E, GroupsHardMutesMicChecksWarningsAndMarkersAreAnswered) {
    auto a = connect();
    auto b = connect();
    ASSERT_TRUE(a->send(Builder::groupClicked(3)));
    EXPECT_EQ(groupStates(*b->waitFor("GroupStates")),
              (std::vector<int32_t>{0, 0, 1, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(a->send(Builder::groupClicked(3)));
    EXPECT_EQ(groupStates(*b->waitFor("GroupStates")), std::vector<int32_t>(8, 0));
    ASSERT_TRUE(a->send(Builder::groupLongClicked(8)));
    EXPECT_EQ(groupStates(*b->waitFor("GroupStates")),
              (std::vector<int32_t>{0, 0, 0, 0, 0, 0, 0, 2}));
    ASSERT_TRUE(a->send(Builder::groupClicked(9)));  // no such button: no answer
    ASSERT_TRUE(a->send(Builder::channelClicked(production_.enabled[2])));
    ASSERT_TRUE(b->waitFor("SoloedChannels"));
    ASSERT_TRUE(a->send(Builder::hardClear()));
    EXPECT_EQ(ids(*b->waitFor("SoloedChannels")), std::vector<int64_t>{});
    EXPECT_EQ(ids(*b->waitFor("ActiveChannels")), std::vector<int64_t>{});
    EXPECT_EQ(groupStates(*b->waitFor("GroupStates")), std::vector<int32_t>(8, 0));

    int64_t strip = production_.enabled[1];
    ASSERT_TRUE(a->send(Builder::hardMuteClicked(strip)));
    auto mutes = b->waitFor("HardMuteArray");
    ASSERT_TRUE(mutes);
    int muted = 0;
    for (const Value& f : *(*mutes)["Value"].arrayValue()) {
        if (f["hardMute"].boolValue().value_or(false)) {
            ++muted;
            EXPECT_EQ(f["csID"].longLongValue(), strip);
        }
    }
    EXPECT_EQ(muted, 1);

    ASSERT_TRUE(a->send(Builder::channelCheckClicked(strip)));
    auto check = b->waitFor("MicCheckState");
    ASSERT_TRUE(check);
    EXPECT_EQ((*check)["Value"]["csID"].longLongValue(), strip);
    EXPECT_EQ((*check)["Value"]["checked"].boolValue(), true);
    EXPECT_TRUE((*check)["Value"]["time"].isDate());
    ASSERT_TRUE(a->send(Builder::channelCheckClicked(strip)));
    EXPECT_EQ((*b->waitFor("MicCheckState"))["Value"]["checked"].boolValue(), false);

    ASSERT_TRUE(a->send(Builder::markerAdded("Alice")));
    auto marker = b->waitFor("MarkerAdded");
    ASSERT_TRUE(marker);
    EXPECT_EQ(*(*marker)["Value"].stringValue(), "Alice");

    ASSERT_TRUE(a->send(Builder::resetWarnings()));
    auto warnings = b->waitFor("ChannelWarnings");
    ASSERT_TRUE(warnings);
    const Array& pairs = *(*warnings)["Value"].arrayValue();
    ASSERT_EQ(pairs.size(), 2 * production_.enabled.size());
    for (size_t i = 1; i < pairs.size(); i += 2) EXPECT_EQ(pairs[i].intValue(), 0);
}

TEST_F(SimServerE2E, AMessageOfTheWrongKindOrAnUnknownCommandCostsOnlyThatMessage) {
    auto a = connect();
    ASSERT_TRUE(a->send(Builder::message("ChannelClicked", Value("not a strip id"))));
    ASSERT_TRUE(a->send(Builder::message("NoSuchCommand", Value(1))));
    ASSERT_TRUE(a->send(Builder::message("GroupClicked")));  // no Value
    ASSERT_TRUE(a->send(Builder::groupClicked(4)));
    auto states = a->waitFor("GroupStates");
    ASSERT_TRUE(states);
    EXPECT_EQ(groupStates(*states), (std::vector<int32_t>{0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_NE(server_.log().find("Something went wrong!"), std::string::npos);
}

/// Reads archived chat messages as dictionaries of their fields (the remote's chat model has
/// its own decoder).
void registerChatMessageDecoder() {
    ArchiveClassRegistry::shared().registerDecoder(
        "ChatMessage", [](KeyedDecoder& d) -> std::optional<Value> {
            Dictionary fields;
            for (const char* key :
                 {"sender", "recipient", "uuid", "message", "messageId", "date"}) {
                if (d.contains(key)) fields.set(key, d.decodeObject(key));
            }
            fields.set("messageType", Value(d.decodeInt32("messageType")));
            return Value(std::move(fields));
        });
}

Dictionary chatMessage(const std::string& sender, const std::string& recipient,
                       const std::string& text, int type, const std::string& id) {
    Dictionary d;
    d.set("message", text);
    d.set("sender", sender);
    d.set("messageId", id);
    d.set("uuid", "UUID-" + sender);
    d.set("type", Value(type));
    d.set("recipient", recipient);
    return d;
}

TEST_F(SimServerE2E, RemotesChatThroughTheServerAndAPageReachesOnlyItsAddressee) {
    registerChatMessageDecoder();
    auto alice = connect();
    auto bob = connect();
    auto carol = connect();
    const std::pair<WireClient*, const char*> users[] = {
        {alice.get(), "Alice"}, {bob.get(), "Bob"}, {carol.get(), "Carol"}};
    for (auto [client, name] : users) {
        ASSERT_TRUE(client->send(Builder::registerToChat(name, std::string("UUID-") + name)));
        auto history = client->waitFor("ChatMessageHistory");
        ASSERT_TRUE(history) << name;
        EXPECT_EQ((*history)["Value"].count(), 0u);
    }
    // Everyone hears of every registration; the last list names all three.
    auto clients = carol->waitFor("ChatClients");
    ASSERT_TRUE(clients);
    ASSERT_EQ((*clients)["Value"].count(), 3u);
    const Value& first = (*clients)["Value"].at(0);
    EXPECT_EQ(*first["chatName"].stringValue(), "Alice");
    EXPECT_EQ(*first["ip"].stringValue(), "127.0.0.1");
    EXPECT_EQ(*first["uuid"].stringValue(), "UUID-Alice");
    EXPECT_TRUE(first["status"].isString());

    // A page to Bob reaches Bob and Alice; then a message to all reaches everyone. Carol's
    // first chat message is the second one: the page was never sent to her.
    Dictionary page = chatMessage("Alice", "Bob", "Alice paging!", 5, "ID-PAGE");
    Dictionary hello = chatMessage("Alice", "All", "Places, please", 0, "ID-HELLO");
    ASSERT_TRUE(alice->send(Builder::chatMessageFromClient(page)));
    ASSERT_TRUE(alice->send(Builder::chatMessageFromClient(hello)));
    for (WireClient* c : {alice.get(), bob.get()}) {
        auto m = c->waitFor("ChatMessageFromServer");
        ASSERT_TRUE(m);
        EXPECT_EQ(*(*m)["Value"].dictionaryValue(), page);
    }
    for (WireClient* c : {alice.get(), bob.get(), carol.get()}) {
        auto m = c->waitFor("ChatMessageFromServer");
        ASSERT_TRUE(m);
        EXPECT_EQ(*(*m)["Value"].dictionaryValue(), hello);
    }

    // A remote that joins later gets the history as archived chat messages.
    auto dave = connect();
    ASSERT_TRUE(dave->send(Builder::registerToChat("Dave", "UUID-Dave")));
    auto history = dave->waitFor("ChatMessageHistory");
    ASSERT_TRUE(history);
    ASSERT_EQ((*history)["Value"].count(), 2u);
    const Value& archived = (*history)["Value"].at(1);
    EXPECT_EQ(*archived["message"].stringValue(), "Places, please");
    EXPECT_EQ(*archived["sender"].stringValue(), "Alice");
    EXPECT_EQ(*archived["recipient"].stringValue(), "All");
    EXPECT_EQ(*archived["messageId"].stringValue(), "ID-HELLO");
    EXPECT_EQ(archived["messageType"].intValue(), 0);
    EXPECT_TRUE(archived["date"].isDate());
    EXPECT_EQ((*history)["Value"].at(0)["messageType"].intValue(), 5);

    // A removal goes to everyone, and the history keeps the row, marked removed.
    ASSERT_TRUE(alice->send(Builder::chatRemoveMessage("ID-HELLO")));
    for (WireClient* c : {alice.get(), bob.get(), carol.get(), dave.get()}) {
        auto m = c->waitFor("ChatRemoveMessage");
        ASSERT_TRUE(m);
        EXPECT_EQ(*(*m)["Value"].stringValue(), "ID-HELLO");
    }
    auto eve = connect();
    ASSERT_TRUE(eve->send(Builder::registerToChat("Eve", "UUID-Eve")));
    history = eve->waitFor("ChatMessageHistory");
    ASSERT_TRUE(history);
    EXPECT_EQ(*(*history)["Value"].at(1)["message"].stringValue(), "<message removed>");
    EXPECT_EQ(*(*history)["Value"].at(1)["uuid"].stringValue(), "message_removed");

    // A remote that leaves is taken off the list.
    dave.reset();
    clients = alice->waitFor("ChatClients");
    ASSERT_TRUE(clients);
    while ((*clients)["Value"].count() != 4u) {
        clients = alice->waitFor("ChatClients");
        ASSERT_TRUE(clients);
    }
    for (const Value& c : *(*clients)["Value"].arrayValue()) {
        EXPECT_NE(*c["chatName"].stringValue(), "Dave");
    }
}

TEST_F(SimServerE2E, NotesAreSharedWithEveryRemote) {
    auto a = connect();
    auto b = connect();
    int64_t strip = production_.enabled[2];
    ASSERT_TRUE(a->send(Builder::remoteAddedNote("Mic tape loose", strip, "Alice",
                                                 {10, 59, 300, 24}, 800000000.0)));
    auto entries = b->waitFor("NotebookEntries");
    ASSERT_TRUE(entries);
    ASSERT_EQ((*entries)["Values"].count(), 1u);
    const Value& note = (*entries)["Values"].at(0);
    EXPECT_EQ(note.count(), 9u);
    EXPECT_EQ(*note["Note"].stringValue(), "Mic tape loose");
    EXPECT_EQ(*note["Creator"].stringValue(), "Alice");
    EXPECT_EQ(note["csID"].longLongValue(), strip);
    EXPECT_EQ(note["Time"].dateValue(), 800000000.0);
    EXPECT_EQ(note["Hours"].intValue(), 10);
    EXPECT_EQ(note["Mins"].intValue(), 59);
    EXPECT_EQ(note["Secs"].intValue(), 44);  // 300 travels as its low 8 bits
    EXPECT_EQ(note["Frame"].intValue(), 24);
    int32_t firstID = note["teID"].intValue().value_or(0);
    EXPECT_GT(firstID, 0);
    ASSERT_TRUE(a->waitFor("NotebookEntries"));

    ASSERT_TRUE(b->send(Builder::remoteAddedNote("Battery swap", strip, "Bob", {}, 0)));
    entries = a->waitFor("NotebookEntries");
    ASSERT_TRUE(entries);
    ASSERT_EQ((*entries)["Values"].count(), 2u);
    EXPECT_NE((*entries)["Values"].at(1)["teID"].intValue(), firstID);

    ASSERT_TRUE(b->send(Builder::removeTimelineEntry(firstID)));
    entries = a->waitFor("NotebookEntries");
    ASSERT_TRUE(entries);
    ASSERT_EQ((*entries)["Values"].count(), 1u);
    EXPECT_EQ(*(*entries)["Values"].at(0)["Note"].stringValue(), "Battery swap");

    ASSERT_TRUE(a->send(Builder::removeAllTimelineEntries()));
    entries = b->waitFor("NotebookEntries");
    ASSERT_TRUE(entries);
    while ((*entries)["Values"].count() != 0u) {
        entries = b->waitFor("NotebookEntries");
        ASSERT_TRUE(entries);
    }
    // A remote that connects now starts from the same notebook.
    auto c = std::make_unique<WireClient>(server_.port());
    bool sawEmptyNotebook = false;
    for (const Dictionary& m : initialState(*c)) {
        if (WireClient::commandOf(m) == "NotebookEntries") {
            sawEmptyNotebook = m["Values"].count() == 0;
        }
    }
    EXPECT_TRUE(sawEmptyNotebook);
}

Bytes header(int32_t marker, int32_t length) {
    auto h = LinkFrameHeader{marker, length}.encode();
    return Bytes(h.begin(), h.end());
}

/// Level frames keep coming to `c` (it was not stalled by another remote's misbehaviour).
void expectLevelsFlow(WireClient& c, int frames) {
    for (int i = 0; i < frames; ++i) ASSERT_TRUE(c.waitFor("LevelData", 1.0)) << "frame " << i;
}

TEST_F(SimServerE2E, ARemoteSendingGarbageOrAnOversizedHeaderIsDroppedWhileTheOthersGoOn) {
    auto good = connect();
    auto oversized = connect();
    auto negative = connect();
    auto junk = connect();

    // Over the 16 MiB cap: the connection is closed at once, nothing is waited for.
    ASSERT_TRUE(oversized->sendRaw(header(0, 0x7FFFFFFF)));
    // A length of 0 or less cannot be framed: closed as well.
    ASSERT_TRUE(negative->sendRaw(header(0, -5)));
    // A well-framed body that is no keyed archive costs that message only.
    Bytes garbage = header(0, 32);
    for (int i = 0; i < 32; ++i) garbage.push_back(static_cast<uint8_t>(i * 37 + 11));
    ASSERT_TRUE(junk->sendRaw(garbage));
    ASSERT_TRUE(junk->send(Builder::groupClicked(6)));

    EXPECT_TRUE(oversized->waitForClose(3.0));
    EXPECT_TRUE(negative->waitForClose(3.0));
    auto states = junk->waitFor("GroupStates");
    ASSERT_TRUE(states) << "the remote that sent a bad body stays connected";
    EXPECT_EQ(groupStates(*states)[5], 1);
    expectLevelsFlow(*good, 5);
    expectLevelsFlow(*junk, 2);
    std::string log = server_.log();
    EXPECT_NE(log.find("over the limit"), std::string::npos) << log;
    EXPECT_NE(log.find("dropped"), std::string::npos) << log;
}

TEST_F(SimServerE2E, AFrameThatNeverCompletesDropsItsRemote) {
    auto good = connect();
    auto slow = connect();
    // Half a header, then nothing: the read time-out closes this connection only.
    ASSERT_TRUE(slow->sendRaw(Bytes{0, 0, 0}));
    auto start = std::chrono::steady_clock::now();
    while (!slow->closed()) {
        ASSERT_TRUE(good->waitFor("LevelData", 1.0));
        slow->waitForClose(0.01);
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4500));
    expectLevelsFlow(*good, 3);
}

TEST_F(SimServerE2E, ARemoteThatStopsReadingIsDroppedWithoutStallingTheOthers) {
    auto good = connect();
    // A small receive window, and two soloed strips: a stereo stream piles up quickly.
    auto stuck = std::make_unique<WireClient>(server_.port(), 4096);
    ASSERT_TRUE(stuck->connected());
    ASSERT_TRUE(good->send(Builder::channelClicked(production_.enabled[0])));
    ASSERT_TRUE(good->send(Builder::channelClicked(production_.enabled[1])));
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        // The good remote keeps reading, and keeps getting its frames in time.
        ASSERT_TRUE(good->waitFor("LevelData", 1.0)) << server_.log();
        if (server_.log().find("Remote 2 dropped") != std::string::npos ||
            server_.log().find("Remote 2 disconnected") != std::string::npos) {
            break;
        }
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30))
            << server_.log();
    }
    EXPECT_TRUE(stuck->waitForClose(10.0));
    expectLevelsFlow(*good, 5);
}

TEST_F(SimServerE2E, ConnectionsBeyondTheLimitAreClosedAndTheServedOnesGoOn) {
    std::vector<std::unique_ptr<WireClient>> clients;
    for (int i = 0; i < 64; ++i) {
        clients.push_back(std::make_unique<WireClient>(server_.port()));
        ASSERT_TRUE(clients.back()->connected());
    }
    ASSERT_TRUE(clients.back()->waitFor("InitialDataReady", 5.0)) << "the 64th is served";
    WireClient extra(server_.port());
    EXPECT_TRUE(extra.waitForClose(5.0));
    EXPECT_NE(server_.log().find("refused"), std::string::npos);
    expectLevelsFlow(*clients.front(), 2);
}

}  // namespace
}  // namespace quenbril::test
