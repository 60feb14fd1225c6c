#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkFrameReader.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "foundation/ArchiveClassRegistry.h"
#include "foundation/KeyedArchiver.h"

namespace quenbril {
namespace {

using B = LinkMessageBuilder;

/// A stand-in for the chat model's archived message class, enough to carry a history.
class TestChatMessage : public Object {
  public:
    TestChatMessage(std::string sender, std::string message, int32_t type)
        : sender_(std::move(sender)), message_(std::move(message)), type_(type) {}
    std::string className() const override { return "ChatMessage"; }
    bool isEqual(const Object& other) const override {
        auto o = dynamic_cast<const TestChatMessage*>(&other);
        return o && o->sender_ == sender_ && o->message_ == message_ && o->type_ == type_;
    }
    std::string sender_, message_;
    int32_t type_;
};

Dictionary withKeys(std::string_view command,
                    std::initializer_list<std::pair<const char*, Value>> keys) {
    Dictionary d = B::message(command);
    for (const auto& [k, v] : keys) d.set(k, v);
    return d;
}

Bytes ramp(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 3);
    return b;
}

/// One message of every command the server sends, with values of the kinds it uses.
std::vector<Dictionary> serverMessages() {
    namespace C = LinkCommand;
    Dictionary channel{{"csID", int64_t{9007199254740993}},
                       {"name", "Lead"},
                       {"channelEnabled", true},
                       {"audioInput", 3}};
    Dictionary mic{{"csID", 5}, {"checked", true}, {"user", "Ann"}, {"time", Value::date(789.5)}};
    Dictionary wireless;
    wireless.set(Value(0),
                 Dictionary{{"Name", "Rx 1"}, {"Frequency", 606.125}, {"Quadversity", true}});
    std::vector<Dictionary> m{
        B::message(C::kClientNames, Array{"Client 1", "FOH", "Monitors"}),
        B::message(C::kChatRemoveMessage, "3F2504E0-4F89-11D3-9A0C-0305E82C3301"),
        B::message(
            C::kChatClients,
            Array{Dictionary{
                {"chatName", "Ann"}, {"ip", "10.0.0.2"}, {"uuid", "u-1"}, {"status", "online"}}}),
        B::message(C::kBatteryThreshold, 20),
        B::message(C::kMarkerAdded, "Ann"),
        B::message(C::kChatMessageHistory,
                   Array{Value(std::make_shared<TestChatMessage>("Ann", "hello", 0)),
                         Value(std::make_shared<TestChatMessage>("Bob", "page", 5))}),
        withKeys(C::kStreamData, {{"LeftValue", ramp(512)}, {"RightValue", ramp(512)}}),
        B::message(C::kGroupColors,
                   Array{Dictionary{{"red", 1.0}, {"green", 0.5}, {"blue", 0.0}, {"alpha", 1.0}}}),
        withKeys(C::kChatColors, {{"Value", Dictionary{{"Ann", Array{0.1, 0.2, 0.3}}}},
                                  {"NValue", Dictionary{{"Bob", "red"}}}}),
        B::message(C::kChatMessageFromServer, Dictionary{{"sender", "Ann"}, {"type", 0}}),
        B::message(C::kSCPOnChannel, int64_t{-42}),
        B::message(C::kChannelWarnings, Array{1, 0, 2, 1, 3, 2, 4, 3}),
        B::message(C::kBatteryData, Array{1, 80, 2, -1, 3, -2}),
        B::message(C::kBatteryTimeData, Array{1, "2:10", 2, ""}),
        B::message(C::kAntennaData, Array{1, "AB", 2, "D"}),
        B::message(C::kActiveChannels, Array{1, 2, int64_t{1} << 40}),
        B::message(C::kSoloedChannels, Array{2}),
        B::message(C::kAutoSoloedChannels, Array{}),
        B::message(
            C::kLTCSample,
            Array{
                Dictionary{{"CSID", 7}, {"LTCSample", ramp(720)}, {"FPS", 25}, {"fromMax", -6.5}}}),
        withKeys(C::kNotebookEntries,
                 {{"Values", Array{Dictionary{
                                 {"Note", "cue"}, {"Time", Value::date(1000.25)}, {"teID", 12}}}}}),
        B::message(C::kGroupStates, Array{0, 1, 2, 0, 0, 0, 0, 1}),
        B::message(C::kClientsEnabled, false),
        B::message(C::kChannels, Array{channel, channel}),
        B::message(C::kWirelessInfo, wireless),
        B::message(C::kMicCheckState, mic),
        withKeys(C::kMicCheckArray, {{"Value", Array{mic, mic}}, {"Act", 2}}),
        B::message(C::kHardMuteArray, Array{Dictionary{{"csID", 5}, {"hardMute", true}}}),
        B::message(C::kReceiverMuteArray, Array{Dictionary{{"csID", 5}, {"receiverMute", false}}}),
        B::message(C::kSnapshot, Dictionary{{"title", "Act 1"},
                                            {"orderIndex", 0},
                                            {"groups", Array{Array{1, 2}, Array{}}}}),
        B::message(C::kSnapshotNames, Array{Array{"Act 1", 0}, Array{"Act 2", 1}}),
        B::message(C::kMasterVersion, 3.8f),
        B::message(C::kInitialDataReady, true),
        B::message(C::kLevelData, ramp(128)),
        B::message(C::kRfLevelData, ramp(128)),
        B::message(C::kRfLevelDataA, ramp(64)),
        B::message(C::kRfLevelDataB, ramp(64)),
        B::message(C::kRfLevelDataC, ramp(64)),
        B::message(C::kRfLevelDataD, ramp(64)),
        B::message(C::kRfLevelDataDiv, ramp(64)),
        B::message(C::kQLData, ramp(10)),
        B::message(C::kQualityLevelData, Bytes{0x80, 0x7F, 0}),
        B::message(C::kNewPlayer, Dictionary{{"Name", "Ann"}, {"Image", Bytes{'I', 'I', '*', 0}}}),
        B::message(C::kOpenedEditing),
        B::message(C::kClosedEditing),
        withKeys(C::kLTC, {{"CSID", 7}, {"ReceiveTime", 1234.5}, {"Hours", 10}}),
    };
    return m;
}

/// One message of every command the remote sends, made by the builders.
std::vector<Dictionary> remoteMessages() {
    return {
        B::clientID(2),
        B::soloOn(true),
        B::registerToChat("Ann", "u-1"),
        B::registerToChat("Ann", "u-1", "m-7"),
        B::chatMessageFromClient(Dictionary{{"message", "hi"}, {"type", 0}}),
        B::chatRemoveMessage("m-1"),
        B::channelClicked(int64_t{1} << 40),
        B::channelLongClicked(3),
        B::channelCheckClicked(-3),
        B::hardMuteClicked(4),
        B::groupClicked(1),
        B::groupLongClicked(8),
        B::markerAdded("Ann"),
        B::resetWarnings(),
        B::clear(),
        B::hardClear(),
        B::startStream(),
        B::stopStream(),
        B::playbackStarted(5, 48000),
        B::playbackStopped(5),
        B::remoteAddedNote("cue", 5, "Ann", {10, 59, 59, 24}, 800000000.5),
        B::removeTimelineEntry(12),
        B::removeAllTimelineEntries(),
    };
}

class LinkCodecTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto& registry = ArchiveClassRegistry::shared();
        registry.registerEncoder("ChatMessage", [](const Object& o, KeyedEncoder& e) {
            auto& m = static_cast<const TestChatMessage&>(o);
            e.encodeObject("sender", m.sender_);
            e.encodeObject("message", m.message_);
            e.encodeInt32("messageType", m.type_);
            return true;
        });
        registry.registerDecoder("ChatMessage", [](KeyedDecoder& d) -> std::optional<Value> {
            auto sender = d.decodeObject("sender"), message = d.decodeObject("message");
            if (!sender.isString() || !message.isString()) return std::nullopt;
            return Value(std::make_shared<TestChatMessage>(
                *sender.stringValue(), *message.stringValue(), d.decodeInt32("messageType")));
        });
    }
    void TearDown() override {
        ArchiveClassRegistry::shared().removeEncoder("ChatMessage");
        ArchiveClassRegistry::shared().removeDecoder("ChatMessage");
    }

    /// Every message framed by `writer`, in one stream, read back by the other side.
    static std::vector<Dictionary> roundTrip(const std::vector<Dictionary>& messages,
                                             LinkPeer writer) {
        Bytes stream;
        for (const auto& m : messages) {
            Error error;
            auto frame = LinkCodec::encodeFrame(m, writer, &error);
            EXPECT_TRUE(frame) << error.toString();
            if (frame) stream.insert(stream.end(), frame->begin(), frame->end());
        }
        LinkFrameReader reader(writer == LinkPeer::Remote ? LinkPeer::Server : LinkPeer::Remote);
        reader.feed(stream.data(), stream.size());
        EXPECT_FALSE(reader.failed());
        std::vector<Dictionary> out;
        while (auto frame = reader.takeFrame()) {
            Error error;
            auto m = LinkCodec::decodeBody(frame->body, &error);
            EXPECT_TRUE(m) << error.toString();
            if (m) out.push_back(std::move(*m));
        }
        return out;
    }
};

TEST_F(LinkCodecTest, EveryCommandOfBothTablesRoundTrips) {
    for (LinkPeer writer : {LinkPeer::Server, LinkPeer::Remote}) {
        const bool server = writer == LinkPeer::Server;
        SCOPED_TRACE(server ? "server to remote" : "remote to server");
        auto messages = server ? serverMessages() : remoteMessages();
        std::set<std::string> covered, table;
        for (const auto& m : messages) covered.insert(*LinkMessageReader::command(m));
        for (auto name : LinkCommand::kServerToRemote)
            if (server) table.emplace(name);
        for (auto name : LinkCommand::kRemoteToServer)
            if (!server) table.emplace(name);
        EXPECT_EQ(covered, table);
        auto back = roundTrip(messages, writer);
        ASSERT_EQ(back.size(), messages.size());
        for (size_t i = 0; i < messages.size(); ++i) {
            EXPECT_EQ(back[i], messages[i]) << Value(messages[i]).description();
        }
        if (server) {  // kinds survive: a bool stays a bool, an integer an integer
            EXPECT_TRUE(back[21]["Value"].isBool());
            EXPECT_TRUE(back[3]["Value"].isInteger());
        }
    }
}

TEST_F(LinkCodecTest, UnknownCommandIsReadLikeAnyOtherAndTheNextFrameFollows) {
    auto back =
        roundTrip({B::message("NoSuchCommand", 1), B::message(LinkCommand::kLevelData, ramp(3))},
                  LinkPeer::Server);
    ASSERT_EQ(back.size(), 2u);
    auto first = *LinkMessageReader::command(back[0]);
    EXPECT_EQ(
        std::count(LinkCommand::kServerToRemote.begin(), LinkCommand::kServerToRemote.end(), first),
        0);
    EXPECT_EQ(LinkMessageReader::stripBytes(back[1])->size(), 3u);
}

TEST_F(LinkCodecTest, BodiesThatAreNotMessagesAreRefused) {
    Error error;
    // The shortest body the remote reads: 4 bytes, never an archive.
    EXPECT_FALSE(LinkCodec::decodeBody(Bytes{1, 2, 3, 4}, &error));
    EXPECT_FALSE(error.domain.empty());
    auto emptyMessage = *LinkCodec::encodeBody(Dictionary{});
    auto array = *KeyedArchiver::archivedData(Value(Array{1}));
    EXPECT_TRUE(LinkCodec::decodeBody(emptyMessage));
    EXPECT_FALSE(LinkCodec::decodeBody(array, &error));
    EXPECT_EQ(error.domain, LinkCodec::kErrorDomain);
}

}  // namespace
}  // namespace quenbril
