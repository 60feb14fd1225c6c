#include <gtest/gtest.h>

#include <algorithm>

#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "foundation/Log.h"

namespace quenbril {
namespace {

using R = LinkMessageReader;

Dictionary msg(std::string_view command, Value value) {
    return LinkMessageBuilder::message(command, std::move(value));
}

class LinkMessageReaderTest : public ::testing::Test {
  protected:
    // Skipped elements are logged; keep the test output quiet.
    void SetUp() override {
        saved_ = logLevel();
        setLogLevel(LogLevel::Error);
    }
    void TearDown() override { setLogLevel(saved_); }
    LogLevel saved_ = LogLevel::Info;
};

TEST_F(LinkMessageReaderTest, AMessagesSkippedElementsAreLoggedInOneLine) {
    // Three frames of millions of bad elements wrote 4.7 million lines.
    setLogLevel(LogLevel::Warning);
    const Array bad(200000, Value("x"));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(R::stripIDs(msg(LinkCommand::kActiveChannels, bad))->empty());
    EXPECT_TRUE(R::intPairs(msg(LinkCommand::kBatteryData, bad))->pairs.empty());
    EXPECT_EQ(R::groupStates(msg(LinkCommand::kGroupStates, bad))->size(), bad.size());
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 3) << logged.substr(0, 400);
    EXPECT_NE(logged.find("\"ActiveChannels\": 200000 elements of the wrong kind skipped"),
              std::string::npos)
        << logged.substr(0, 400);
}

TEST_F(LinkMessageReaderTest, ScalarsTellMissingFromWrongKind) {
    auto missing = LinkMessageBuilder::message(LinkCommand::kMasterVersion);
    EXPECT_TRUE(R::float32(missing).isMissing());
    EXPECT_TRUE(R::float32(msg(LinkCommand::kMasterVersion, nullptr)).isMissing());
    auto wrong = R::float32(msg(LinkCommand::kMasterVersion, "3.8"));
    EXPECT_TRUE(wrong.isWrongKind());
    EXPECT_NE(wrong.what().find("MasterVersion"), std::string::npos);
    EXPECT_THROW(wrong.get(), LinkTypeError);
    EXPECT_FALSE(R::float32(missing).get().has_value());
    EXPECT_EQ(*R::float32(msg(LinkCommand::kMasterVersion, 3.8)), 3.8f);
    // Numbers convert between kinds as number objects do.
    EXPECT_EQ(*R::boolean(msg(LinkCommand::kInitialDataReady, 1)), true);
    EXPECT_EQ(*R::int32(msg(LinkCommand::kBatteryThreshold, 20.9)), 20);
    EXPECT_EQ(*R::stripID(msg(LinkCommand::kSCPOnChannel, int64_t{1} << 40)), int64_t{1} << 40);
    EXPECT_TRUE(R::string(msg(LinkCommand::kChatRemoveMessage, 5)).isWrongKind());
    EXPECT_TRUE(R::command(Dictionary{{"Command", 5}}).isWrongKind());
    EXPECT_EQ(*R::command(msg(LinkCommand::kLevelData, Bytes{})), "LevelData");
}

TEST_F(LinkMessageReaderTest, ArraysAreHandedOnWholeFromTheirKey) {
    const Array clients{Dictionary{{"chatName", "FOH"}}, "junk"};
    const Dictionary message = msg(LinkCommand::kChatClients, clients);
    auto found = R::array(message);
    ASSERT_TRUE(found);
    EXPECT_EQ(**found, clients) << "elements are the handler's to judge";
    EXPECT_TRUE(R::array(LinkMessageBuilder::message(LinkCommand::kChatClients)).isMissing());
    EXPECT_TRUE(R::array(msg(LinkCommand::kChatClients, "FOH")).isWrongKind());
    Dictionary notes{{"Command", "NotebookEntries"}, {"Values", Array{1}}};
    EXPECT_TRUE(R::array(notes).isMissing()) << "\"Value\" unless a key is named";
    EXPECT_EQ(**R::array(notes, LinkKey::kValues), Array{1});
}

TEST_F(LinkMessageReaderTest, FlatPairsFollowThePendingIdRule) {
    // 0 starts no pair; an id of the wrong kind starts none either; a value of the wrong kind
    // costs its pair; an odd tail leaves its id without a value.
    Array a{Value(0),   Value(7),  Value(2),
            Value("x"), Value(9),  Value("bad"),
            Value(3),   Value(11), Value(int64_t{1} << 40),
            Value(4),   Value(5)};
    auto pairs = R::intPairs(msg(LinkCommand::kBatteryData, a));
    ASSERT_TRUE(pairs);
    EXPECT_EQ(pairs->elementCount, 11u);
    using P = std::pair<int64_t, int32_t>;
    EXPECT_EQ(pairs->pairs, (std::vector<P>{{7, 2}, {3, 11}, {int64_t{1} << 40, 4}}));

    auto texts = R::stringPairs(msg(LinkCommand::kAntennaData, Array{5, "AB", 6, 1}));
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->pairs.size(), 1u);
    EXPECT_EQ(texts->pairs[0], (std::pair<int64_t, std::string>{5, "AB"}));
    EXPECT_TRUE(R::intPairs(msg(LinkCommand::kChannelWarnings, "no")).isWrongKind());
}

TEST_F(LinkMessageReaderTest, ArrayElementsOfTheWrongKindAreSkipped) {
    auto ids = R::stripIDs(msg(LinkCommand::kActiveChannels, Array{1, "2", 3.0, true}));
    EXPECT_EQ(*ids, (std::vector<int64_t>{1, 3, 1}));
    auto names = R::clientNames(msg(LinkCommand::kClientNames, Array{"A", 2, "B"}));
    EXPECT_EQ(*names, (std::vector<std::string>{"A", "B"}));
    auto groups = R::groupStates(msg(LinkCommand::kGroupStates, Array{0, 1, "2", 2}));
    ASSERT_EQ(groups->size(), 4u) << "the count stays: the caller checks it";
    EXPECT_FALSE((*groups)[2].has_value());
    EXPECT_EQ((*groups)[3], 2);
    // The records point into the message, which must outlive them.
    Dictionary m = msg(LinkCommand::kChannels, Array{Dictionary{{"csID", 1}}, 5});
    auto channels = R::channels(m);
    ASSERT_EQ(channels->size(), 1u);
    EXPECT_EQ((*(*channels)[0])["csID"], Value(1));
}

TEST_F(LinkMessageReaderTest, RecordFieldsOfTheWrongKindReadAsMissing) {
    Dictionary record{{"csID", 4},     {"checked", "yes"},
                      {"user", "Ann"}, {"time", Value::date(12.5)},
                      {"note", 3},     {"needsChecking", false}};
    auto state = R::micCheckState(msg(LinkCommand::kMicCheckState, record));
    ASSERT_TRUE(state);
    EXPECT_EQ(state->csID, 4);
    EXPECT_FALSE(state->checked.has_value());
    EXPECT_EQ(state->user, "Ann");
    EXPECT_EQ(state->time, 12.5);
    EXPECT_FALSE(state->note.has_value());
    EXPECT_EQ(state->needsChecking, false);
    EXPECT_TRUE(R::micCheckState(msg(LinkCommand::kMicCheckState, Array{})).isWrongKind());

    auto mutes = R::muteFlags(
        msg(LinkCommand::kHardMuteArray, Array{Dictionary{{"csID", 9}, {"hardMute", true}}, 1}),
        "hardMute");
    ASSERT_EQ(mutes->size(), 1u);
    EXPECT_EQ((*mutes)[0].csID, 9);
    EXPECT_EQ((*mutes)[0].muted, true);
}

TEST_F(LinkMessageReaderTest, StreamDataMonoStereoAndShortRight) {
    Dictionary mono = LinkMessageBuilder::message(LinkCommand::kStreamData);
    mono.set("LeftValue", Bytes(16, 1));
    auto block = R::streamData(mono);
    ASSERT_TRUE(block);
    EXPECT_TRUE(block->mono);
    EXPECT_EQ(block->frames, 4u);
    EXPECT_EQ(block->right.data(), block->left.data());

    Dictionary shortRight = mono;
    shortRight.set("RightValue", Bytes(9, 2));
    block = R::streamData(shortRight);
    EXPECT_FALSE(block->mono);
    EXPECT_EQ(block->frames, 2u) << "never more samples than the right channel holds";

    Dictionary rightOnly = LinkMessageBuilder::message(LinkCommand::kStreamData);
    rightOnly.set("RightValue", Bytes(8));
    EXPECT_TRUE(R::streamData(rightOnly).isMissing());
    Dictionary wrongRight = mono;
    wrongRight.set("RightValue", "x");
    EXPECT_TRUE(R::streamData(wrongRight).isWrongKind());
}

TEST_F(LinkMessageReaderTest, WirelessInfoIsKeyedByStripPosition) {
    Dictionary info;
    info.set(Value(0), Dictionary{{"Name", "R1"}, {"Frequency", 606500}, {"Quadversity", true}});
    info.set(Value(3), Dictionary{{"Name", "R2"}, {"SingleLine", false}});
    info.set(Value("4"), Dictionary{});  // not a number key: skipped
    info.set(Value(5), "not a record");
    auto read = R::wirelessInfo(msg(LinkCommand::kWirelessInfo, info));
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 2u);
    EXPECT_EQ(read->at(0).frequency, 606500.0);
    EXPECT_EQ(read->at(0).quadversity, true);
    EXPECT_EQ(read->at(3).name, "R2");
    EXPECT_FALSE(read->at(3).quadversity.has_value());
}

TEST_F(LinkMessageReaderTest, LtcReadsTopLevelKeysAndMissingOnesAsZero) {
    Dictionary m{
        {"Command", "LTC"}, {"CSID", 77}, {"ReceiveTime", 10.25}, {"FPS", 25}, {"Frames", 24}};
    auto ltc = R::ltc(m);
    ASSERT_TRUE(ltc);
    EXPECT_EQ(ltc->csID, 77);
    EXPECT_EQ(ltc->receiveTime, 10.25);
    EXPECT_EQ(ltc->sendTime, 0);
    EXPECT_EQ(ltc->fps, 25);
    EXPECT_EQ(ltc->frames, 24);
    m.set("Hours", "10");
    EXPECT_TRUE(R::ltc(m).isWrongKind());
}

TEST_F(LinkMessageReaderTest, StripBytesPointIntoTheMessage) {
    Dictionary m = msg(LinkCommand::kLevelData, Bytes{1, 2, 200});
    auto bytes = R::stripBytes(m);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 3u);
    EXPECT_EQ((*bytes)[2], 200);
    EXPECT_EQ(bytes->data(), m["Value"].dataValue()->data());
    EXPECT_TRUE(R::stripBytes(msg(LinkCommand::kLevelData, Array{})).isWrongKind());
}

TEST_F(LinkMessageReaderTest, GroupColorsMustBeAPropertyListValue) {
    EXPECT_TRUE(R::propertyList(msg(LinkCommand::kGroupColors, Array{Dictionary{}})));
    EXPECT_TRUE(R::propertyList(msg(LinkCommand::kGroupColors, Color{})).isWrongKind());
}

TEST(LinkMessageBuilder, KeepsTheKindsTheServerExpects) {
    EXPECT_EQ(LinkMessageBuilder::soloOn(true)["Value"].kind(), Value::Kind::Bool);
    EXPECT_EQ(LinkMessageBuilder::clientID(2)["Value"].kind(), Value::Kind::Integer);
    EXPECT_EQ(LinkMessageBuilder::channelClicked(-(int64_t{1} << 50))["Value"],
              Value(-(int64_t{1} << 50)));
    auto note = LinkMessageBuilder::remoteAddedNote("n", 5, "me", {300, 1, 2, -1}, 100.0);
    EXPECT_EQ(note["LTC"]["hours"], Value(44)) << "only the low 8 bits are kept";
    EXPECT_EQ(note["LTC"]["frame"], Value(255));
    EXPECT_TRUE(note["Time"].isDate());
    EXPECT_FALSE(note.contains("Value"));
    auto reg = LinkMessageBuilder::registerToChat("me", "u-1");
    EXPECT_FALSE(reg["Value"].dictionaryValue()->contains("messageId"));
    EXPECT_EQ(LinkMessageBuilder::registerToChat("me", "u-1", "m-1")["Value"]["messageId"],
              Value("m-1"));
}

}  // namespace
}  // namespace quenbril
