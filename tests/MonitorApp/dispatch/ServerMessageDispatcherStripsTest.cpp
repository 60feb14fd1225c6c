#include <gtest/gtest.h>

#include <algorithm>

#include "DispatcherTestEnvironment.h"
#include "MonitorApp/link/LinkRead.h"
#include "foundation/Log.h"
#include "tests/MonitorApp/Recorders.h"

namespace quenbril {
namespace {

// ---- Strip list, groups, players, timecode ----

TEST_F(DispatcherTest, StripsGroupsPlayersAndTimecodeReachTheirOwners) {
    NotificationRecorder edited("ChannelStripsEdited");
    dispatch("Channels", Array{strip(5), Value("junk"), strip(6)});
    ASSERT_EQ(manager().controllers().size(), 2u);
    EXPECT_EQ(manager().indexOfChannelStripID(6), 1);
    EXPECT_EQ(window.stripUpdates, 1);
    EXPECT_EQ(edited.posted.size(), 1u);              // the windows bound to a strip find it again
    dispatch("QualityLevelData", Bytes{0xFF, 7, 9});  // signed, pending on the views
    EXPECT_EQ(viewOf(5).pendingQuality(), -1);
    EXPECT_EQ(viewOf(6).pendingQuality(), 7);

    dispatch("GroupStates", Array{1, 0, 2, 0, 0, 0, 0, 1});
    ASSERT_EQ(groups.buttons.size(), 8u);
    EXPECT_EQ(groups.buttons[2]->state(), 2);
    dispatch("GroupStates", Array{0, 0, 0, 0, 0, 0, 0});  // exactly eight or nothing
    dispatch("GroupStates");
    EXPECT_EQ(groups.buttons[0]->state(), 1);

    dispatch("NewPlayer", Dictionary{{"Name", "Ann"}, {"RoleName", "Eve"}});
    EXPECT_EQ(PlayerManager::sharedInstance().players().size(), 1u);
    dispatch(Dictionary{{"Command", "LTC"}, {"CSID", int64_t{5}}, {"Hours", 1}, {"FPS", 25}});
    EXPECT_EQ(LTCManager::sharedInstance().receivedTC().size(), 1u);
    EXPECT_THROW(dispatch(Dictionary{{"Command", "LTC"}, {"Hours", "one"}}), LinkTypeError);
}

TEST_F(DispatcherTest, TimecodeSamplesReachTheirStripsWhole) {
    buildStrips(3);
    Bytes whole(720);
    for (size_t i = 0; i < whole.size(); i += 4) whole[i + 3] = 0x3f;  // 0.5f
    dispatch("LTCSample",
             Array{Dictionary{{"CSID", 2}, {"LTCSample", whole}, {"FPS", 25}, {"fromMax", -6.5}},
                   "junk", Dictionary{{"CSID", 3}, {"LTCSample", Bytes(10, 0x3f)}, {"FPS", 30}},
                   Dictionary{{"LTCSample", whole}, {"FPS", 24}}});
    EXPECT_EQ((*stateOf(2).timeCodeSample())[0], 0.5f);
    EXPECT_EQ((*stateOf(2).timeCodeSample())[179], 0.5f);
    EXPECT_EQ(stateOf(2).fps(), 25);
    EXPECT_FLOAT_EQ(stateOf(2).LTCFromMax(), -6.5f);
    EXPECT_EQ((*stateOf(3).timeCodeSample())[0], 0.0f) << "a short sample is not copied";
    EXPECT_EQ(stateOf(3).fps(), 30);
    EXPECT_EQ(stateOf(1).fps(), 0) << "an entry without a strip id reaches none";
    EXPECT_THROW(dispatch("LTCSample", Dictionary{}), LinkTypeError);
}

// ---- Solo sets ----

TEST_F(DispatcherTest, ActiveStripsAreScrolledIntoViewWithTheSelectionTool) {
    buildStrips(3);
    dispatch("ActiveChannels", Array{int64_t{2}});
    ASSERT_EQ(window.scrolledTo.size(), 1u);
    EXPECT_EQ(window.scrolledTo[0], &viewOf(2));
    settings().setSelectedTool(2);
    dispatch("ActiveChannels", Array{int64_t{3}});
    EXPECT_EQ(window.scrolledTo.size(), 1u);
}

TEST_F(DispatcherTest, AutoSoloedStripsFollowTheirListAndLeaveOtherSoloStatesAlone) {
    buildStrips(4);
    stateOf(3).setChannelState(ChannelStripState::kSoloed);
    dispatch("AutoSoloedChannels", Array{int64_t{1}, int64_t{2}, "x"});
    EXPECT_EQ(stateOf(1).channelState(), ChannelStripState::kAutoSoloed);
    EXPECT_EQ(stateOf(2).channelState(), ChannelStripState::kAutoSoloed);
    EXPECT_EQ(stateOf(3).channelState(), ChannelStripState::kSoloed);
    dispatch("AutoSoloedChannels", Array{int64_t{2}});
    EXPECT_EQ(stateOf(1).channelState(), ChannelStripState::kOff);
    EXPECT_EQ(stateOf(2).channelState(), ChannelStripState::kAutoSoloed);
    dispatch("AutoSoloedChannels");  // no list: nothing changes
    EXPECT_EQ(stateOf(2).channelState(), ChannelStripState::kAutoSoloed);
    EXPECT_THROW(dispatch("AutoSoloedChannels", 2), LinkTypeError);
}

// ---- Warnings, batteries, antennas ----

TEST_F(DispatcherTest, ChannelWarningsApplyShownCodesAndSwitchTheResetAlarm) {
    buildStrips(3);
    window.resetAlarm = true;
    dispatch("ChannelWarnings", Array{int64_t{2}, 0});
    loop_->runPending();
    EXPECT_EQ(viewOf(2).warningCode, 0);
    EXPECT_EQ(window.resetAlarm, false);

    dispatch("ChannelWarnings", Array{int64_t{2}, 1});
    loop_->runPending();
    EXPECT_EQ(viewOf(2).warningCode, 1);
    EXPECT_EQ(window.resetAlarm, true);

    settings().setShowSCPAlerts(false);
    dispatch("ChannelWarnings", Array{int64_t{3}, 1});
    loop_->runPending();
    EXPECT_EQ(viewOf(3).warningCode, -100);  // nothing applied
    EXPECT_EQ(window.resetAlarm, false);

    window.resetAlarm = true;
    dispatch("ChannelWarnings", Array{int64_t{3}});  // a lone id
    EXPECT_EQ(window.resetAlarm, false);
    window.resetAlarm = true;
    dispatch("ChannelWarnings", Array{});
    dispatch("ChannelWarnings");
    EXPECT_EQ(window.resetAlarm, true);
}

TEST_F(DispatcherTest, AntennaDataReachesTheStripsButNotATimecodeStrip) {
    buildStrips(3);
    manager().controllers()[2]->model().setWirelessName(std::string("LTC Timecode"));
    dispatch("AntennaData", Array{int64_t{1}, "AB", int64_t{0}, int64_t{2}, "", int64_t{3}, "C"});
    EXPECT_EQ(viewOf(1).antenna, "AB");
    EXPECT_EQ(viewOf(2).antenna, "") << "an id of 0 starts no pair; an empty text clears";
    EXPECT_EQ(viewOf(3).antennaCalls, 0);
    dispatch("AntennaData", Array{int64_t{1}, 4, int64_t{2}, "D"});  // a number is no text
    EXPECT_EQ(viewOf(1).antenna, "AB");
    EXPECT_EQ(viewOf(2).antenna, "D");
    EXPECT_THROW(dispatch("AntennaData", "AB"), LinkTypeError);
}

TEST_F(DispatcherTest, ABadPairElementIsLoggedOnce) {
    buildStrips(2);
    const LogLevel level = logLevel();
    setLogLevel(LogLevel::Warning);
    testing::internal::CaptureStderr();
    dispatch("BatteryData", Array{int64_t{1}, "full", int64_t{2}, 50});
    const std::string logged = testing::internal::GetCapturedStderr();
    setLogLevel(level);
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1) << logged;
    EXPECT_EQ(viewOf(1).batVal, -100);
    EXPECT_EQ(viewOf(2).batVal, 50);
}

/// A remote whose performer window shows strip 2 (position 1), whose receiver is known.
class PerformerBattery : public DispatcherTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(DispatcherTest::SetUp());
        buildStrips(3);
        dispatch("WirelessInfo", Dictionary{{Value(1), Dictionary{{"Name", "RX2"},
                                                                  {"Frequency", 550000.0},
                                                                  {"Quadversity", true},
                                                                  {"SingleLine", false}}}});
        window.performerChannel = 1;
    }
    std::optional<std::string> lastText() const {
        if (window.batteryTexts.empty()) return std::nullopt;
        return window.batteryTexts.back().text;
    }
};

TEST_F(PerformerBattery, ReadingsOfItsStripReachThePerformerWindow) {
    dispatch("BatteryData", Array{int64_t{1}, 50, int64_t{2}, 80});
    ASSERT_EQ(window.batteryTexts.size(), 1u) << "strip 1 is not the window's";
    EXPECT_EQ(lastText(), "Receiver RX2 BAT: 80%  FREQ: 550.000 MHz");
    EXPECT_EQ(window.batteryTexts.back().quadversity, true);
    EXPECT_EQ(window.batteryTexts.back().singleLine, false);
    dispatch("BatteryTimeData", Array{int64_t{2}, "1:20"});
    EXPECT_EQ(lastText(), "Receiver RX2 BAT: 1:20  FREQ: 550.000 MHz");
}

TEST_F(PerformerBattery, ReadingsAreSkippedWithoutAWindowDuringAReplayOrForAnotherStrip) {
    window.performerChannel.reset();
    dispatch("BatteryData", Array{int64_t{2}, 80});
    dispatch("BatteryTimeData", Array{int64_t{2}, "1:20"});
    EXPECT_TRUE(window.batteryTexts.empty()) << "no performer window";

    window.performerChannel = 1;
    PlaybackManager::sharedInstance().setDelayInSamples(4800);
    PlaybackManager::sharedInstance().setPlayedCSID(2);
    dispatch("BatteryData", Array{int64_t{2}, 10});
    dispatch("BatteryTimeData", Array{int64_t{2}, "0:10"});
    EXPECT_TRUE(window.batteryTexts.empty()) << "a replay runs";
    PlaybackManager::sharedInstance().setPlayedCSID(0);

    window.performerChannel = 2;
    dispatch("BatteryData", Array{int64_t{2}, 10});
    dispatch("BatteryData", Array{int64_t{99}, 10});  // no such strip: position -1
    EXPECT_TRUE(window.batteryTexts.empty()) << "the window shows another strip";
}

TEST_F(PerformerBattery, AStripShowingABatteryTimeKeepsItFromBatteryReadings) {
    dispatch("BatteryTimeData", Array{int64_t{2}, "1:20"});
    ASSERT_TRUE(viewOf(2).timeAdded());
    const size_t shown = window.batteryTexts.size();
    dispatch("BatteryData", Array{int64_t{2}, 80});
    EXPECT_EQ(window.batteryTexts.size(), shown);
    dispatch("BatteryTimeData", Array{int64_t{2}, "1:10"});  // no such test for a time
    EXPECT_EQ(lastText(), "Receiver RX2 BAT: 1:10  FREQ: 550.000 MHz");
}

TEST_F(PerformerBattery, WithoutReceiverInfoTheWindowShowsTheBareReading) {
    dispatch("WirelessInfo", Dictionary{});
    dispatch("BatteryData", Array{int64_t{2}, 45});
    EXPECT_EQ(lastText(), "BAT: 45%");
    EXPECT_FALSE(window.batteryTexts.back().quadversity);
    dispatch("BatteryData", Array{int64_t{2}, -2});
    EXPECT_EQ(lastText(), "No wireless device");
}

// ---- Mic checks and mutes ----

TEST_F(DispatcherTest, MicCheckRecordsUpdateTheStripsAndPostOnce) {
    buildStrips(3);
    NotificationRecorder checked("ChannelStripChecked");
    const int appearances = viewOf(2).appearanceUpdates;
    dispatch(
        "MicCheckState",
        Dictionary{
            {"csID", int64_t{2}}, {"checked", true}, {"user", "bob"}, {"time", Date{700000000.0}}});
    EXPECT_TRUE(stateOf(2).micCheckState().checked());
    EXPECT_EQ(stateOf(2).micCheckState().user(), "bob");
    EXPECT_EQ(stateOf(2).micCheckState().time(), Date{700000000.0});
    EXPECT_EQ(viewOf(2).appearanceUpdates, appearances + 1);
    EXPECT_EQ(checked.posted.size(), 1u);

    dispatch(Dictionary{{"Command", "MicCheckArray"},
                        {"Value", Array{Dictionary{{"csID", int64_t{1}}, {"checked", true}}, 3,
                                        Dictionary{{"csID", int64_t{3}}, {"checked", true}},
                                        Dictionary{{"csID", int64_t{77}}}}},
                        {"Act", 2}});
    EXPECT_TRUE(stateOf(1).micCheckState().checked());
    EXPECT_TRUE(stateOf(3).micCheckState().checked());
    EXPECT_EQ(settings().currentAct(), 2);
    EXPECT_EQ(window.statusUpdates, 1);
    EXPECT_EQ(checked.posted.size(), 2u);
}

TEST_F(DispatcherTest, AMicCheckRecordWithoutATimeHasNone) {
    buildStrips(2);
    ASSERT_TRUE(stateOf(2).micCheckState().time()) << "a new record is stamped";
    dispatch("MicCheckState", Dictionary{{"csID", int64_t{2}}, {"checked", true}});
    EXPECT_EQ(stateOf(2).micCheckState().time(), std::nullopt) << "not 1 January 2001";
    dispatch("MicCheckState", Dictionary{{"csID", int64_t{2}}, {"time", "noon"}});
    EXPECT_EQ(stateOf(2).micCheckState().time(), std::nullopt);
}

TEST_F(DispatcherTest, MuteArraysSetTheStripStates) {
    buildStrips(2);
    const int appearances = viewOf(1).appearanceUpdates;
    dispatch("HardMuteArray", Array{Dictionary{{"csID", int64_t{1}}, {"hardMute", true}}, "x"});
    dispatch("ReceiverMuteArray", Array{Dictionary{{"csID", int64_t{2}}, {"receiverMute", true}},
                                        Dictionary{{"csID", int64_t{9}}, {"receiverMute", true}}});
    EXPECT_TRUE(stateOf(1).hardMuted());
    EXPECT_FALSE(stateOf(2).hardMuted());
    EXPECT_TRUE(stateOf(2).receiverMuted());
    EXPECT_EQ(viewOf(1).appearanceUpdates, appearances + 1);
}

}  // namespace
}  // namespace quenbril
