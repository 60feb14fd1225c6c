// The stand-in as a real process on loopback, driven by wire clients.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "MonitorApp/chat/ChatMessage.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "simserver/SimStreamPacer.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/ThrottledProxy.h"

namespace quenbril::test {
namespace {

using Builder = LinkMessageBuilder;
using Ids = std::vector<int64_t>;
using Groups = std::vector<int64_t>;

constexpr int64_t kNotAnInteger = INT64_MIN;

/// The integers of an array value ("SoloedChannels", "GroupStates"...); empty for anything else.
std::vector<int64_t> ints(const Value& array) {
    std::vector<int64_t> out;
    for (size_t i = 0; i < array.count() && array.arrayValue(); ++i) {
        out.push_back(array.at(i).longLongValue().value_or(kNotAnInteger));
    }
    return out;
}
std::vector<int64_t> ids(const Dictionary& m) { return ints(m["Value"]); }

/// Float32 samples of a stream channel.
std::vector<float> samples(const Value& data) {
    const Bytes* b = data.dataValue();
    std::vector<float> out(b ? b->size() / 4 : 0);
    if (b) std::memcpy(out.data(), b->data(), out.size() * 4);
    return out;
}

class SimServerE2E : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(server_.port(), 0) << server_.log(); }

    /// A client that has taken its initial state: the messages up to "InitialDataReady" go to
    /// state_, the enabled strips (in level-byte order) to enabled_, the timecode strip to
    /// timecode_.
    std::unique_ptr<WireClient> connect() {
        auto c = std::make_unique<WireClient>(server_.port());
        EXPECT_TRUE(c->connected());
        state_.clear();
        enabled_.clear();
        while (auto m = c->next(kPatience)) {
            state_.push_back(*m);
            if (WireClient::commandOf(*m) == "InitialDataReady") break;
            if (WireClient::commandOf(*m) != "Channels") continue;
            for (const Value& s : *(*m)["Value"].arrayValue()) {
                if (!s["channelEnabled"].boolValue().value_or(true)) continue;
                enabled_.push_back(*s["csID"].longLongValue());
                if (*s["wirelessName"].stringValue() == "LTC Timecode") timecode_ = enabled_.back();
            }
        }
        EXPECT_EQ(state_.empty() ? "" : WireClient::commandOf(state_.back()), "InitialDataReady");
        return c;
    }

    /// After `levelFrames` level frames (what was on its way has arrived), no audio comes to `c`
    /// in the next ticks: the audio goes out many times a tick.
    static void expectNoAudio(WireClient& c, int levelFrames) {
        for (int i = 0; i < levelFrames; ++i) c.expect("LevelData");
        for (int ticks = 0; ticks < 4;) {
            auto m = c.next();
            ASSERT_TRUE(m) << "the server fell silent";
            const std::string command = WireClient::commandOf(*m);
            EXPECT_NE(command, "StreamData");
            ticks += command == "LevelData";
        }
    }

    /// Level frames keep coming to `c` (it was not stalled by another remote's misbehaviour).
    static void expectLevelsFlow(WireClient& c, int frames) {
        for (int i = 0; i < frames; ++i) {
            ASSERT_TRUE(c.waitFor("LevelData", kFrameWait)) << "frame " << i;
        }
    }

    SimServerProcess server_;
    std::vector<Dictionary> state_;
    Ids enabled_;
    int64_t timecode_ = 0;
};

TEST_F(SimServerE2E, InitialStateArrivesInOrderAndEndsWithInitialDataReady) {
    connect();
    ASSERT_FALSE(state_.empty());
    EXPECT_EQ(state_.back()["Value"].boolValue(), true);

    const std::vector<std::string> expected = {
        "ClientNames", "MasterVersion", "Channels",         "GroupColors",     "SnapshotNames",
        "Snapshot",    "GroupStates",   "BatteryThreshold", "BatteryData",     "BatteryTimeData",
        "AntennaData", "WirelessInfo",  "ChatClients",      "NotebookEntries", "InitialDataReady"};
    size_t next = 0;
    int players = 0;
    std::map<std::string, Dictionary> by;
    for (const Dictionary& m : state_) {
        std::string command = WireClient::commandOf(m);
        EXPECT_NE(command, "LevelData") << "level frames before the initial state is complete";
        if (next < expected.size() && command == expected[next]) ++next;
        if (command == "NewPlayer") {
            const Value& p = m["Value"];
            ++players;
            EXPECT_TRUE(p["Image"].isData() && p["Name"].isString() && p["RoleName"].isString() &&
                        p["Comments"].isString());
        }
        by[command] = m;
    }
    EXPECT_EQ(next, expected.size()) << "missing or out of order: " << expected[next];
    EXPECT_GT(players, 0);
    EXPECT_GE(by["MasterVersion"]["Value"].floatValue().value_or(0), 3.8f);
    EXPECT_EQ(ids(by["GroupStates"]), Groups(8, 0));
    EXPECT_EQ(by["NotebookEntries"]["Values"], Value(Array{}));

    // Sixteen strips by default, in both panels, one of them the timecode strip, one disabled.
    const Array& strips = *by["Channels"]["Value"].arrayValue();
    EXPECT_EQ(strips.size(), 16u);
    EXPECT_EQ(enabled_.size(), 15u);
    std::set<std::string> panels;
    int timecodes = 0;
    for (const Value& s : strips) {
        EXPECT_EQ(s.count(), 13u);
        panels.insert(*s["panel"].stringValue());
        timecodes += *s["wirelessName"].stringValue() == "LTC Timecode";
    }
    EXPECT_EQ(panels, (std::set<std::string>{"A", "B"}));
    EXPECT_EQ(timecodes, 1);

    // Flat pairs name enabled strips only.
    Ids battery = ints(by["BatteryData"]["Value"]);
    ASSERT_EQ(battery.size() % 2, 0u);
    for (size_t i = 0; i < battery.size(); i += 2) {
        EXPECT_NE(std::find(enabled_.begin(), enabled_.end(), battery[i]), enabled_.end());
        EXPECT_NE(battery[i + 1], kNotAnInteger);
    }
}

// The initial state's frames serve every remote that connects until something in them
// changes: a remote's commands, or a remote leaving the chat.
TEST_F(SimServerE2E, ARemoteConnectingAfterChangesStartsFromThem) {
    auto a = connect();
    auto bob = connect();
    auto initial = [&](const std::string& command) {
        for (const Dictionary& m : state_) {
            if (WireClient::commandOf(m) == command) return m;
        }
        ADD_FAILURE() << "no \"" << command << "\"";
        return Dictionary{};
    };
    const int64_t strip = enabled_[1];
    ASSERT_TRUE(bob->send(Builder::registerToChat("Bob", "UUID-Bob")));
    ASSERT_TRUE(a->send(Builder::channelClicked(strip)));
    ASSERT_TRUE(a->send(Builder::hardMuteClicked(strip)));
    ASSERT_TRUE(a->send(Builder::groupClicked(4)));
    a->expect("GroupStates");
    connect();
    EXPECT_EQ(ids(initial("ActiveChannels")), Ids{strip});
    EXPECT_EQ(ids(initial("GroupStates")), (Groups{0, 0, 0, 1, 0, 0, 0, 0}));
    const Value mutes = initial("HardMuteArray")["Value"];
    Ids muted;
    for (size_t i = 0; i < mutes.count(); ++i) {
        if (mutes.at(i)["hardMute"].boolValue().value_or(false)) {
            muted.push_back(*mutes.at(i)["csID"].longLongValue());
        }
    }
    EXPECT_EQ(muted, Ids{strip});
    EXPECT_EQ(initial("ChatClients")["Value"].count(), 1u);

    bob.reset();
    while (a->expect("ChatClients")["Value"].count() != 0u) {
    }
    connect();
    EXPECT_EQ(initial("ChatClients")["Value"].count(), 0u) << "Bob left";
}

TEST_F(SimServerE2E, StartUpLinesSayAManualAddressReachesOnlyTheDefaultPort) {
    // This stand-in listens on a port the system picked: a remote's manual address cannot
    // reach it, and the start-up lines must not suggest otherwise.
    std::string expected = "Port " + std::to_string(server_.port()) + " is not 57576";
    std::string log;
    eventually([&] { return (log = server_.log()).find("Ctrl-C") != std::string::npos; });
    EXPECT_NE(log.find(expected), std::string::npos) << log;
    EXPECT_NE(log.find("serves tests"), std::string::npos) << log;
    EXPECT_EQ(log.find("port " + std::to_string(server_.port()) + " ("), std::string::npos) << log;
}

// Each tick of the stand-in sends every level frame, and every fifth tick a timecode: five
// level frames between two timecodes are ten a second to the timecode's two.
TEST_F(SimServerE2E, LevelFramesComeFiveToATimecodeAndTheTimecodeStripGetsItsTimecode) {
    auto c = connect();
    std::set<std::string> seen;
    std::map<std::string, Dictionary> last;
    std::vector<int> levelsBetweenTimecodes;
    int levels = 0;
    while (levelsBetweenTimecodes.size() < 4) {
        auto m = c->next(kFrameWait);
        ASSERT_TRUE(m) << "the server fell silent";
        std::string command = WireClient::commandOf(*m);
        last[command] = *m;
        if (command.starts_with("RfLevelData") || command == "QLData" ||
            command == "QualityLevelData" || command == "LevelData") {
            // One byte per enabled strip.
            ASSERT_TRUE((*m)["Value"].isData()) << command;
            EXPECT_EQ((*m)["Value"].count(), enabled_.size()) << command;
            seen.insert(command);
        }
        if (command == "LevelData") ++levels;
        if (command == "LTC") {
            levelsBetweenTimecodes.push_back(levels);
            levels = 0;
        }
    }
    EXPECT_EQ(seen, (std::set<std::string>{"LevelData", "RfLevelData", "RfLevelDataA",
                                           "RfLevelDataB", "RfLevelDataC", "RfLevelDataD",
                                           "RfLevelDataDiv", "QLData", "QualityLevelData"}));
    // The count before the first timecode depends on when this remote connected.
    levelsBetweenTimecodes.erase(levelsBetweenTimecodes.begin());
    EXPECT_EQ(levelsBetweenTimecodes, (std::vector<int>{5, 5, 5}));

    ASSERT_NE(timecode_, 0);
    const Dictionary& ltc = last["LTC"];
    EXPECT_EQ(ltc["CSID"].longLongValue(), timecode_);
    EXPECT_EQ(ltc["FPS"].intValue(), 25);
    EXPECT_LT(ltc["Frames"].intValue().value_or(99), 25);
    EXPECT_TRUE(ltc["Value"].isNull());
    const Value& record = last["LTCSample"]["Value"].at(0);
    EXPECT_EQ(record["CSID"].longLongValue(), timecode_);
    EXPECT_TRUE(record["LTCSample"].isData());
    EXPECT_EQ(record["LTCSample"].count(), 720u);
}

TEST_F(SimServerE2E, AClickMakesAStripActiveForEveryRemoteAndItsAudioFollows) {
    auto a = connect();
    auto b = connect();
    int64_t first = enabled_[0], second = enabled_[1];
    // Both without single solo: their clicks add and take out active strips.
    ASSERT_TRUE(a->send(Builder::soloOn(false)) && b->send(Builder::soloOn(false)));
    expectNoAudio(*a, 2);  // nothing listened to

    ASSERT_TRUE(a->send(Builder::channelClicked(first)));
    for (WireClient* c : {a.get(), b.get()}) {
        EXPECT_EQ(ids(c->expect("SoloedChannels")), Ids{});
        EXPECT_EQ(ids(c->expect("ActiveChannels")), Ids{first});
    }
    // One strip: mono blocks of a tone that is not silence, each small enough for a remote's
    // stream ring; a few make the tone's swing.
    std::vector<float> left;
    for (int block = 0; block < 8; ++block) {
        Dictionary stream = a->expect("StreamData");
        EXPECT_TRUE(stream["RightValue"].isNull());
        EXPECT_EQ(stream["LeftValue"].count() % 4, 0u);
        const auto samplesOfBlock = samples(stream["LeftValue"]);
        ASSERT_FALSE(samplesOfBlock.empty());
        EXPECT_LE(samplesOfBlock.size(), static_cast<size_t>(SimStreamPacer::kMaxCatchUpFrames));
        left.insert(left.end(), samplesOfBlock.begin(), samplesOfBlock.end());
    }
    auto [low, high] = std::minmax_element(left.begin(), left.end());
    EXPECT_GT(*high - *low, 0.002f);
    EXPECT_LE(std::max(-*low, *high), 1.0f);

    // A second strip: stereo, the two channels of equal length.
    ASSERT_TRUE(b->send(Builder::channelClicked(second)));
    EXPECT_EQ(ids(a->expect("ActiveChannels")), (Ids{first, second}));
    Dictionary stream = a->expect("StreamData");
    ASSERT_TRUE(stream["RightValue"].isData());
    EXPECT_EQ(stream["RightValue"].count(), stream["LeftValue"].count());

    // Clicking it again takes it out; a long click solos a strip and takes it from the active
    // ones, and a click leaves it soloed; Clear empties both lists.
    ASSERT_TRUE(b->send(Builder::channelClicked(second)));
    EXPECT_EQ(ids(a->expect("ActiveChannels")), Ids{first});
    ASSERT_TRUE(b->send(Builder::channelLongClicked(first)));
    EXPECT_EQ(ids(a->expect("SoloedChannels")), Ids{first});
    EXPECT_EQ(ids(a->expect("ActiveChannels")), Ids{});
    ASSERT_TRUE(b->send(Builder::channelClicked(first)));
    EXPECT_EQ(ids(a->expect("SoloedChannels")), Ids{first});
    EXPECT_EQ(ids(a->expect("ActiveChannels")), Ids{});
    EXPECT_TRUE(a->waitFor("StreamData")) << "a soloed strip is heard";
    ASSERT_TRUE(b->send(Builder::clear()));
    EXPECT_EQ(ids(a->expect("SoloedChannels")), Ids{});
    EXPECT_EQ(ids(a->expect("ActiveChannels")), Ids{});
    // What was sent before the Clear may still be on its way; after the next answer, silence.
    ASSERT_TRUE(a->send(Builder::groupClicked(1)));
    a->expect("GroupStates");
    expectNoAudio(*a, 3);
}

TEST_F(SimServerE2E, WithSingleSoloAClickLeavesOnlyThatStripActiveAndTheLogNamesIt) {
    auto single = connect();
    auto multiple = connect();
    const int64_t first = enabled_[0], second = enabled_[1];
    ASSERT_TRUE(single->send(Builder::soloOn(true)));
    ASSERT_TRUE(multiple->send(Builder::soloOn(false)));

    ASSERT_TRUE(single->send(Builder::channelClicked(first)));
    EXPECT_EQ(ids(single->expect("ActiveChannels")), Ids{first});
    ASSERT_TRUE(single->send(Builder::channelClicked(second)));
    EXPECT_EQ(ids(single->expect("SoloedChannels")), Ids{});
    EXPECT_EQ(ids(single->expect("ActiveChannels")), Ids{second}) << "moved, not added";
    const std::string log = server_.log();
    EXPECT_NE(log.find("clicked strip \"Juliet\" (single solo on)"), std::string::npos) << log;
    EXPECT_NE(log.find("Active strips: \"Juliet\""), std::string::npos) << log;
    ASSERT_TRUE(single->send(Builder::channelClicked(second)));
    EXPECT_EQ(ids(single->expect("ActiveChannels")), Ids{}) << "the active strip clicked again";

    // Another remote without single solo adds active strips, and the first one's click then
    // leaves one.
    ASSERT_TRUE(multiple->send(Builder::channelClicked(first)));
    ASSERT_TRUE(multiple->send(Builder::channelClicked(second)));
    EXPECT_EQ(ids(single->expect("ActiveChannels")), Ids{first});
    EXPECT_EQ(ids(single->expect("ActiveChannels")), (Ids{first, second}));
    EXPECT_NE(server_.log().find("Active strips: \"Lead vocal\", \"Juliet\""), std::string::npos);
    ASSERT_TRUE(single->send(Builder::channelClicked(first)));
    EXPECT_EQ(ids(single->expect("ActiveChannels")), Ids{first});

    // A remote that has not said has the remote's default, single solo.
    auto untold = connect();
    ASSERT_TRUE(untold->send(Builder::channelClicked(second)));
    EXPECT_EQ(ids(untold->expect("ActiveChannels")), Ids{second});
}

TEST_F(SimServerE2E, StopStreamSilencesOneRemoteAndPlaybackReplaysTheStripAlone) {
    auto a = connect();
    auto b = connect();
    ASSERT_TRUE(a->send(Builder::stopStream()));
    ASSERT_TRUE(a->send(Builder::channelClicked(enabled_[0])));
    a->expect("SoloedChannels");
    ASSERT_TRUE(b->waitFor("StreamData")) << "the other remote still hears the strip";
    expectNoAudio(*a, 1);
    ASSERT_TRUE(a->send(Builder::startStream()));
    a->expect("StreamData");

    // With nothing listened to, a replay still streams, mono, to the remote that asked only.
    ASSERT_TRUE(a->send(Builder::clear()));
    a->expect("SoloedChannels");
    b->expect("SoloedChannels");
    ASSERT_TRUE(a->send(Builder::playbackStarted(enabled_[1], 48000 * 3)));
    Dictionary replay = a->expect("StreamData");
    EXPECT_TRUE(replay["LeftValue"].isData() && replay["RightValue"].isNull());
    expectNoAudio(*b, 2);
    ASSERT_TRUE(a->send(Builder::playbackStopped(enabled_[1])));
    ASSERT_TRUE(a->send(Builder::groupClicked(2)));
    a->expect("GroupStates");
    expectNoAudio(*a, 1);
}

TEST_F(SimServerE2E, GroupsHardMutesMicChecksWarningsAndMarkersAreAnswered) {
    auto a = connect();
    auto b = connect();
    auto groups = [&] { return ids(b->expect("GroupStates")); };
    // No such button: no answer. Clicks toggle off and on, a long click sets hard, a click
    // takes hard to off.
    ASSERT_TRUE(a->send(Builder::groupClicked(0)) && a->send(Builder::groupClicked(9)));
    const std::pair<Dictionary, Groups> steps[] = {
        {Builder::groupClicked(3), {0, 0, 1, 0, 0, 0, 0, 0}},
        {Builder::groupClicked(3), Groups(8, 0)},
        {Builder::groupLongClicked(8), {0, 0, 0, 0, 0, 0, 0, 2}},
        {Builder::groupClicked(8), Groups(8, 0)},
        {Builder::groupClicked(8), {0, 0, 0, 0, 0, 0, 0, 1}}};
    for (const auto& [click, states] : steps) {
        ASSERT_TRUE(a->send(click));
        EXPECT_EQ(groups(), states);
    }
    ASSERT_TRUE(a->send(Builder::channelClicked(enabled_[2])));
    b->expect("SoloedChannels");
    ASSERT_TRUE(a->send(Builder::hardClear()));
    EXPECT_EQ(ids(b->expect("SoloedChannels")), Ids{});
    EXPECT_EQ(ids(b->expect("ActiveChannels")), Ids{});
    EXPECT_EQ(groups(), Groups(8, 0));

    int64_t strip = enabled_[1];
    ASSERT_TRUE(a->send(Builder::hardMuteClicked(strip)));
    Dictionary mutes = b->expect("HardMuteArray");
    Ids muted;
    for (size_t i = 0; i < mutes["Value"].count(); ++i) {
        const Value& f = mutes["Value"].at(i);
        if (f["hardMute"].boolValue().value_or(false)) muted.push_back(*f["csID"].longLongValue());
    }
    EXPECT_EQ(muted, Ids{strip});

    ASSERT_TRUE(a->send(Builder::channelCheckClicked(strip)));
    Dictionary check = b->expect("MicCheckState");
    EXPECT_EQ(check["Value"]["csID"].longLongValue(), strip);
    EXPECT_EQ(check["Value"]["checked"].boolValue(), true);
    EXPECT_TRUE(check["Value"]["time"].isDate());
    EXPECT_EQ(check["Value"]["needsChecking"].boolValue(), true) << "a checked strip shows green";
    ASSERT_TRUE(a->send(Builder::channelCheckClicked(strip)));
    Dictionary unchecked = b->expect("MicCheckState");
    EXPECT_EQ(unchecked["Value"]["checked"].boolValue(), false);
    EXPECT_EQ(unchecked["Value"]["needsChecking"].boolValue(), true);

    ASSERT_TRUE(a->send(Builder::markerAdded("Alice")));
    EXPECT_EQ(b->expect("MarkerAdded")["Value"], Value("Alice"));

    ASSERT_TRUE(a->send(Builder::resetWarnings()));
    Ids pairs = ints(b->expect("ChannelWarnings")["Value"]);
    ASSERT_EQ(pairs.size(), 2 * enabled_.size());
    for (size_t i = 1; i < pairs.size(); i += 2) EXPECT_EQ(pairs[i], 0);
}

Dictionary chatMessage(const std::string& recipient, const std::string& text, int type,
                       const std::string& id) {
    return {{"message", text},      {"sender", "Alice"},   {"messageId", id},
            {"uuid", "UUID-Alice"}, {"type", Value(type)}, {"recipient", recipient}};
}

TEST_F(SimServerE2E, RemotesChatThroughTheServerAndAPageReachesOnlyItsAddressee) {
    ChatMessage::registerArchiveDecoder();  // the remote's own reading of the history
    auto message = [](const Value& v) {
        auto object = v.objectValue();
        return object ? dynamic_cast<const ChatMessage*>(object->get()) : nullptr;
    };
    /// Registers `c` to the chat and answers the history it is sent.
    auto join = [](WireClient& c, const std::string& name) {
        EXPECT_TRUE(c.send(Builder::registerToChat(name, "UUID-" + name)));
        return c.expect("ChatMessageHistory")["Value"];
    };
    auto alice = connect();
    auto bob = connect();
    auto carol = connect();
    for (auto [c, name] :
         {std::pair{alice.get(), "Alice"}, {bob.get(), "Bob"}, {carol.get(), "Carol"}}) {
        EXPECT_EQ(join(*c, name).count(), 0u) << name;
    }
    // Everyone hears of every registration; the last list names all three.
    Value clients = carol->expect("ChatClients")["Value"];
    ASSERT_EQ(clients.count(), 3u);
    EXPECT_EQ(clients.at(0), Value(Dictionary{{"chatName", "Alice"},
                                              {"ip", "127.0.0.1"},
                                              {"uuid", "UUID-Alice"},
                                              {"status", "Online"}}));
    // And of their colours, by name and by chat id, so that senders show in theirs.
    Dictionary colors = carol->expect("ChatColors");
    EXPECT_EQ(colors["Value"], Value(Dictionary{{"Alice", 1}, {"Bob", 2}, {"Carol", 3}}));
    EXPECT_EQ(colors["NValue"]["UUID-Bob"].colorValue(), ColorHelper::colorForChatGroup(2));

    // A page to Bob reaches Bob and Alice; then a message to all reaches everyone. Carol's
    // first chat message is the second one: the page was never sent to her.
    Dictionary page = chatMessage("Bob", "Alice paging!", 5, "ID-PAGE");
    Dictionary hello = chatMessage("All", "Places, please", 0, "ID-HELLO");
    hello.erase("uuid");  // stays missing in the history too
    ASSERT_TRUE(alice->send(Builder::chatMessageFromClient(page)));
    ASSERT_TRUE(alice->send(Builder::chatMessageFromClient(hello)));
    for (WireClient* c : {alice.get(), bob.get()}) {
        EXPECT_EQ(c->expect("ChatMessageFromServer")["Value"], Value(page));
    }
    for (WireClient* c : {alice.get(), bob.get(), carol.get()}) {
        EXPECT_EQ(c->expect("ChatMessageFromServer")["Value"], Value(hello));
    }

    // A remote that joins later gets the history as archived chat messages.
    auto dave = connect();
    Value history = join(*dave, "Dave");
    ASSERT_EQ(history.count(), 2u);
    const ChatMessage* first = message(history.at(0));
    const ChatMessage* second = message(history.at(1));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->messageType(), ChatMessage::kPage);
    EXPECT_EQ(second->message(), "Places, please");
    EXPECT_EQ(second->sender(), "Alice");
    EXPECT_EQ(second->recipient(), "All");
    EXPECT_EQ(second->messageId(), "ID-HELLO");
    EXPECT_EQ(second->messageType(), ChatMessage::kText);
    EXPECT_FALSE(second->uuid());
    EXPECT_TRUE(second->date());

    // A removal goes to everyone, and the history keeps the row, marked removed.
    ASSERT_TRUE(alice->send(Builder::chatRemoveMessage("ID-HELLO")));
    for (WireClient* c : {alice.get(), bob.get(), carol.get(), dave.get()}) {
        EXPECT_EQ(c->expect("ChatRemoveMessage")["Value"], Value("ID-HELLO"));
    }
    auto eve = connect();
    history = join(*eve, "Eve");
    ASSERT_TRUE(message(history.at(1)));
    EXPECT_EQ(message(history.at(1))->message(), "<message removed>");
    EXPECT_EQ(message(history.at(1))->uuid(), "message_removed");

    // A remote that leaves is taken off the list.
    dave.reset();
    do {
        clients = alice->expect("ChatClients")["Value"];
    } while (clients.count() != 4u && !clients.isNull());
    for (size_t i = 0; i < clients.count(); ++i)
        EXPECT_NE(clients.at(i)["chatName"], Value("Dave"));
    do {
        colors = alice->expect("ChatColors");
    } while (colors["Value"].count() != 4u && !colors.empty());
    EXPECT_TRUE(colors["Value"]["Dave"].isNull()) << "the colours follow the users";
}

TEST_F(SimServerE2E, NotesAreSharedWithEveryRemote) {
    auto a = connect();
    auto b = connect();
    int64_t strip = enabled_[2];
    ASSERT_TRUE(a->send(Builder::remoteAddedNote("Mic tape loose", strip, "Alice",
                                                 {10, 59, 300, 24}, 800000000.0)));
    Value entries = b->expect("NotebookEntries")["Values"];
    ASSERT_EQ(entries.count(), 1u);
    Value firstID = entries.at(0)["teID"];
    EXPECT_GT(firstID.intValue().value_or(0), 0);
    EXPECT_EQ(entries.at(0), Value(Dictionary{{"Note", "Mic tape loose"},
                                              {"Creator", "Alice"},
                                              {"csID", strip},
                                              {"Time", Date{800000000.0}},
                                              {"Hours", 10},
                                              {"Mins", 59},
                                              {"Secs", 44},  // 300 travels as its low 8 bits
                                              {"Frame", 24},
                                              {"teID", firstID}}));
    a->expect("NotebookEntries");

    ASSERT_TRUE(b->send(Builder::remoteAddedNote("Battery swap", strip, "Bob", {}, 0)));
    entries = a->expect("NotebookEntries")["Values"];
    ASSERT_EQ(entries.count(), 2u);
    EXPECT_NE(entries.at(1)["teID"], firstID);

    ASSERT_TRUE(b->send(Builder::removeTimelineEntry(*firstID.intValue())));
    entries = a->expect("NotebookEntries")["Values"];
    ASSERT_EQ(entries.count(), 1u);
    EXPECT_EQ(entries.at(0)["Note"], Value("Battery swap"));
    // A remote that connects now starts from the same notebook.
    connect();
    auto book = std::find_if(state_.begin(), state_.end(), [](const Dictionary& m) {
        return WireClient::commandOf(m) == "NotebookEntries";
    });
    ASSERT_NE(book, state_.end());
    EXPECT_EQ((*book)["Values"], entries);

    ASSERT_TRUE(a->send(Builder::removeAllTimelineEntries()));
    while (b->expect("NotebookEntries")["Values"].count() != 0u) {
    }
}

TEST_F(SimServerE2E, AHugeNoteOrChatMessageIsRefusedAndLocksNoRemoteOut) {
    ChatMessage::registerArchiveDecoder();  // the remote's own reading of the history
    auto a = connect();
    auto b = connect();
    for (auto [c, name] : {std::pair{a.get(), "Alice"}, {b.get(), "Bob"}}) {
        ASSERT_TRUE(c->send(Builder::registerToChat(name, std::string("UUID-") + name)));
        c->expect("ChatMessageHistory");
    }
    // Each is far more than a remote's write queue holds, and far less than a frame may.
    const std::string huge(3 * 1024 * 1024, 'x');
    ASSERT_TRUE(a->send(Builder::remoteAddedNote(huge, enabled_[0], "Alice", {}, 0)));
    ASSERT_TRUE(a->send(Builder::chatMessageFromClient(chatMessage("All", huge, 0, "ID-HUGE"))));
    auto named = std::make_unique<WireClient>(server_.port());
    ASSERT_TRUE(named->send(Builder::registerToChat(huge, "UUID-Huge")));
    ASSERT_TRUE(a->send(Builder::remoteAddedNote("Mic tape loose", enabled_[0], "Alice", {}, 0)));
    ASSERT_TRUE(a->send(Builder::chatMessageFromClient(chatMessage("All", "Places", 0, "ID-1"))));
    for (WireClient* c : {a.get(), b.get()}) {
        // The notebook goes out with the next tick, the chat message at once: either may come
        // first.
        std::optional<Dictionary> book, chat;
        while (!book || !chat) {
            auto m = c->next(kPatience);
            ASSERT_TRUE(m) << (book ? "no chat message" : "no notebook");
            if (WireClient::commandOf(*m) == "NotebookEntries") book = m;
            if (WireClient::commandOf(*m) == "ChatMessageFromServer") chat = m;
        }
        Value entries = (*book)["Values"];
        ASSERT_EQ(entries.count(), 1u);
        EXPECT_EQ(entries.at(0)["Note"], Value("Mic tape loose"));
        EXPECT_EQ((*chat)["Value"]["message"], Value("Places"));
    }

    // A remote that connects now gets its state and the history, and is served on.
    auto fresh = connect();
    auto book = std::find_if(state_.begin(), state_.end(), [](const Dictionary& m) {
        return WireClient::commandOf(m) == "NotebookEntries";
    });
    ASSERT_NE(book, state_.end());
    EXPECT_EQ((*book)["Values"].count(), 1u);
    ASSERT_TRUE(fresh->send(Builder::registerToChat("Carol", "UUID-Carol")));
    EXPECT_EQ(fresh->expect("ChatMessageHistory")["Value"].count(), 1u);
    expectLevelsFlow(*fresh, 5);
    expectLevelsFlow(*a, 2);
    expectLevelsFlow(*b, 2);
    EXPECT_TRUE(server_.waitForLog("note of 3145733 bytes refused")) << server_.log();
    EXPECT_TRUE(server_.waitForLog("chat message of")) << server_.log();
    EXPECT_TRUE(server_.waitForLog("chat registration refused")) << server_.log();
    std::string log = server_.log();
    EXPECT_EQ(log.find("dropped"), std::string::npos) << log;
}

Bytes header(int32_t marker, int32_t length) {
    auto h = LinkFrameHeader{marker, length}.encode();
    return Bytes(h.begin(), h.end());
}

TEST_F(SimServerE2E, BadFramesCloseTheirRemoteAndBadMessagesCostOnlyThemselves) {
    auto good = connect();
    auto oversized = connect();
    auto negative = connect();
    auto junk = connect();

    // Over the 16 MiB cap: the connection is closed at once, nothing is waited for.
    ASSERT_TRUE(oversized->sendRaw(header(0, 0x7FFFFFFF)));
    // A length of 0 or less cannot be framed: closed as well.
    ASSERT_TRUE(negative->sendRaw(header(0, -5)));
    // A well-framed body that is no keyed archive, a value of the wrong kind, a missing value
    // or an unknown command costs that message only.
    Bytes garbage = header(0, 32);
    for (int i = 0; i < 32; ++i) garbage.push_back(static_cast<uint8_t>(i * 37 + 11));
    ASSERT_TRUE(junk->sendRaw(garbage));
    for (const Dictionary& m :
         {Builder::message("ChannelClicked", Value("not a strip id")),
          Builder::message("GroupClicked"), Builder::message("NoSuchCommand", Value(1)),
          Builder::groupClicked(6)}) {
        ASSERT_TRUE(junk->send(m));
    }

    EXPECT_TRUE(oversized->waitForClose(kPatience));
    EXPECT_TRUE(negative->waitForClose(kPatience));
    EXPECT_EQ(ids(junk->expect("GroupStates")), (Groups{0, 0, 0, 0, 0, 1, 0, 0}))
        << "the remote that sent a bad body stays connected";
    expectLevelsFlow(*good, 5);
    expectLevelsFlow(*junk, 2);
    std::string log = server_.log();
    EXPECT_NE(log.find("over the limit"), std::string::npos) << log;
    EXPECT_NE(log.find("dropped"), std::string::npos) << log;
    EXPECT_NE(log.find("Something went wrong!"), std::string::npos) << log;
}

TEST_F(SimServerE2E, ARemoteThatStallsAFrameOrStopsReadingIsDroppedWithoutStallingTheOthers) {
    auto good = connect();
    auto slow = connect();
    // A small receive window, and two soloed strips: a stereo stream piles up quickly.
    auto stuck = std::make_unique<WireClient>(server_.port(), 4096);
    ASSERT_TRUE(stuck->connected());
    // Taken before the half header goes out: the stand-in counts its 5 s from the arrival.
    auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::steady_clock::now() - start; };
    // Half a header, then nothing: the read time-out closes that connection.
    ASSERT_TRUE(slow->sendRaw(Bytes{0, 0, 0}));
    ASSERT_TRUE(good->send(Builder::channelClicked(enabled_[0])));
    ASSERT_TRUE(good->send(Builder::channelClicked(enabled_[1])));
    std::optional<std::chrono::steady_clock::duration> slowClosed;
    for (bool stuckDropped = false; !stuckDropped || !slowClosed;) {
        // The good remote keeps reading, and keeps getting its frames in time. In a plain build
        // the wait is shorter than the 5 s the stand-in gives a stalled frame: a remote held up
        // by another's stall misses its frames.
        ASSERT_TRUE(good->waitFor("LevelData", kFrameWait)) << server_.log();
        if (!slowClosed && slow->waitForClose(0.01)) slowClosed = elapsed();
        std::string log = server_.log();
        stuckDropped = log.find("Remote 3 dropped") != std::string::npos ||
                       log.find("Remote 3 disconnected") != std::string::npos;
        ASSERT_LT(elapsed(), std::chrono::duration<double>(scaledSeconds(30.0))) << log;
    }
    // Load only delays the close; it never comes before the stand-in's time-out.
    EXPECT_GE(*slowClosed, std::chrono::milliseconds(4500));
    EXPECT_TRUE(stuck->waitForClose(kPatience));
    expectLevelsFlow(*good, 5);
}

TEST_F(SimServerE2E, ARemoteAddingNotesFastCostsTheOthersNeitherTheirLinkNorTheirLevels) {
    using clock = std::chrono::steady_clock;
    const std::string text(4000, 'n');
    constexpr int kNotes = 1500;
    const Value lastNote(text + std::to_string(kNotes - 1));
    // Each well-behaved remote is on a link of 1 MB/s (8 Mbit/s): far more than the levels
    // need, far less than a notebook of 512 KiB a hundred times a second.
    std::vector<std::unique_ptr<ThrottledProxy>> links;
    std::vector<std::unique_ptr<WireClient>> readers;
    for (int i = 0; i < 3; ++i) {
        links.push_back(std::make_unique<ThrottledProxy>(server_.port(), 1e6));
        readers.push_back(std::make_unique<WireClient>(links.back()->port()));
        ASSERT_TRUE(readers.back()->waitFor("InitialDataReady", kPatience));
    }
    auto noter = connect();
    // The well-behaved remotes read all along; none may wait longer than kFrameWait for its
    // next level frame, and each ends up with the last note.
    std::atomic<bool> done{false};
    std::vector<std::string> faults(readers.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < readers.size(); ++i) {
        threads.emplace_back([&, i] {
            auto lastLevel = clock::now();
            std::optional<clock::time_point> doneAt;
            bool hasLastNote = false;
            for (int frames = 0; !(done && hasLastNote);) {
                auto m = readers[i]->next(kFrameWait);
                auto now = clock::now();
                if (m && WireClient::commandOf(*m) == "LevelData") {
                    lastLevel = now;
                    ++frames;
                } else if (m && WireClient::commandOf(*m) == "NotebookEntries") {
                    const Value& notes = (*m)["Values"];
                    hasLastNote =
                        notes.count() > 0 && notes.at(notes.count() - 1)["Note"] == lastNote;
                }
                if (now - lastLevel > std::chrono::duration<double>(kFrameWait)) {
                    faults[i] = "no level frame within " + std::to_string(kFrameWait) +
                                " s after " + std::to_string(frames);
                    return;
                }
                if (done && !doneAt) doneAt = now;
                if (doneAt && now - *doneAt > std::chrono::duration<double>(kPatience)) {
                    faults[i] = "the last note did not come";
                    return;
                }
            }
        });
    }
    // 100 notes a second for 15 s: the notebook is at its bound within a few seconds, and each
    // note changes it. The feed is bounded by what the stand-in has taken: every 100 notes the
    // noter waits until the notebook it is sent ends with the last one (a slower build on a busy
    // machine falls behind any fixed rate), then goes on at that rate.
    auto start = clock::now();
    for (int k = 0; k < kNotes; ++k) {
        const std::string note = text + std::to_string(k);
        ASSERT_TRUE(noter->send(Builder::remoteAddedNote(note, enabled_[0], "Mallory", {}, 0)))
            << k;
        if ((k + 1) % 100 == 0) {
            bool taken = false;
            const auto deadline = clock::now() + std::chrono::duration<double>(kPatience);
            while (!taken && clock::now() < deadline) {
                auto m = noter->next(kFrameWait);
                if (m && WireClient::commandOf(*m) == "NotebookEntries") {
                    const Value& notes = (*m)["Values"];
                    taken = notes.count() > 0 && notes.at(notes.count() - 1)["Note"] == Value(note);
                }
            }
            ASSERT_TRUE(taken) << "the stand-in never took note " << k;
            start = clock::now() - std::chrono::milliseconds(10 * (k + 1));
        } else {
            noter->discard();
        }
        std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * (k + 1)));
    }
    done = true;
    for (auto& t : threads) t.join();
    for (size_t i = 0; i < readers.size(); ++i) EXPECT_EQ(faults[i], "") << "remote " << i;
    std::string log = server_.log();
    EXPECT_EQ(log.find("dropped"), std::string::npos) << log;
}

TEST_F(SimServerE2E, ConnectionsBeyondTheLimitAreClosedAndTheServedOnesGoOn) {
    std::vector<std::unique_ptr<WireClient>> clients;
    for (int i = 0; i < 64; ++i) {
        clients.push_back(std::make_unique<WireClient>(server_.port()));
        ASSERT_TRUE(clients.back()->connected());
    }
    ASSERT_TRUE(clients.back()->waitFor("InitialDataReady", kPatience)) << "the 64th is served";
    WireClient extra(server_.port());
    EXPECT_TRUE(extra.waitForClose(kPatience));
    EXPECT_NE(server_.log().find("refused"), std::string::npos);
    expectLevelsFlow(*clients.front(), 2);
}

}  // namespace
}  // namespace quenbril::test
