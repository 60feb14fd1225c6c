#include <gtest/gtest.h>

#include "MonitorApp/settings/ChannelStripModel.h"
#include "MonitorApp/settings/ChannelStripState.h"
#include "SettingsTestEnvironment.h"

namespace quenbril {
namespace {

using ChannelStripRecordsTest = SettingsTest;

// A record as written, with the given id.
Dictionary written(int64_t csID, const char* name, const char* device, const char* player,
                   const char* panel, bool flags) {
    // clang-format off
    return Dictionary{{"name", name}, {"wirelessName", device}, {"playerName", player},
                      {"panel", panel}, {"audioInput", 0}, {"pan", 0}, {"gain", 0},
                      {"scpEnabled", flags}, {"rfWarnEnabled", flags}, {"channelEnabled", true},
                      {"csID", csID}, {"audioHistory", false}, {"playerVisible", true}};
    // clang-format on
}

TEST(ChannelStripModel, NewRecordHasTheDefaultsAndANonZeroThirtyTwoBitId) {
    ChannelStripModel model;
    EXPECT_EQ(model.property(),
              written(model.csID(), "Channel strip", "No device", "No player", "A", true));
    for (int i = 0; i < 100; ++i) {
        int64_t id = ChannelStripModel().csID();
        EXPECT_GT(id, 0);
        EXPECT_LE(id, int64_t{UINT32_MAX});
    }
}

TEST(ChannelStripModel, EmptyDictionaryGivesAbsentStringsAndTheMissingKeyValues) {
    ChannelStripModel model{Dictionary{}};
    EXPECT_FALSE(model.name() || model.wirelessName() || model.playerName() || model.panel());
    // The writer has no form for an absent string: it writes the empty string.
    EXPECT_EQ(model.property(), written(0, "", "", "", "", false));
}

TEST(ChannelStripModel, WrittenRecordReadsBackFieldByField) {
    ChannelStripModel model;
    model.setScpEnabled(false);
    model.setAudioHistory(true);
    model.setPlayerVisible(false);
    model.setChannelEnabled(false);
    model.setAudioInput(17);
    model.setPan(-30);
    model.setGain(6);
    model.setName("Lead--Vocal");
    model.setWirelessName("LTC Timecode");
    model.setPlayerName("Ann as Juliet");
    model.setPanel("B");
    model.setCsID(int64_t{1} << 40);
    Dictionary written = model.property();
    EXPECT_TRUE(written["scpEnabled"].isBool());
    EXPECT_TRUE(written["audioInput"].isInteger());
    EXPECT_EQ(ChannelStripModel(written), model);
}

TEST(ChannelStripModel, AnyNumberIsReadAndOtherKindsCountAsMissing) {
    ChannelStripModel model{Dictionary{{"audioInput", 3.9},
                                       {"scpEnabled", 1},
                                       {"channelEnabled", 0.0},
                                       {"playerVisible", "no"},
                                       {"csID", 12.0},
                                       {"name", 5},
                                       {"panel", "C"}}};
    EXPECT_EQ(model.audioInput(), 3);
    EXPECT_TRUE(model.scpEnabled());
    EXPECT_FALSE(model.channelEnabled());
    EXPECT_TRUE(model.playerVisible());
    EXPECT_EQ(model.csID(), 12);
    EXPECT_FALSE(model.name());
    EXPECT_EQ(model.panel(), "C") << "another panel text is kept as it is";
}

TEST_F(ChannelStripRecordsTest, StateStartsClearAndResetClearsOnlyTheWarnings) {
    loop_->advance(42);
    ChannelStripState state;
    EXPECT_EQ(state.channelState(), 0u);
    EXPECT_FALSE(state.micCheckState().checked());
    EXPECT_TRUE(state.micCheckState().needsChecking());
    EXPECT_EQ(state.micCheckState().user(), "");
    ASSERT_TRUE(state.micCheckState().time());
    EXPECT_EQ(state.micCheckState().time()->secondsSinceReferenceDate, kStartTime + 42);
    ASSERT_NE(state.timeCodeSample(), nullptr);
    EXPECT_EQ((*state.timeCodeSample())[179], 0.0f);

    state.setClipWarnings(3);
    state.setSymmetryWarnings(1);
    state.setMeanWarnings(1);
    state.setHfWarnings(1);
    state.setLpfWarnings(1);
    state.setPeakWarnings(9);
    state.setWarningOn(true);
    state.setRfWarningOn(true);
    state.setBatWarningOn(true);
    state.setChannelState(ChannelStripState::kHardSoloed);
    state.setHardMuted(true);
    state.setReceiverMuted(true);
    for (int g : {3, 1, 3, 8, 1}) state.addAssignedGroup(g);  // an ordered set
    state.micCheckState().setChecked(true);
    state.reset();
    EXPECT_EQ(state.clipWarnings() + state.symmetryWarnings() + state.meanWarnings() +
                  state.hfWarnings() + state.lpfWarnings() + state.peakWarnings(),
              0);
    EXPECT_FALSE(state.warningOn() || state.rfWarningOn() || state.batWarningOn());
    EXPECT_EQ(state.channelState(), ChannelStripState::kHardSoloed);
    EXPECT_TRUE(state.hardMuted());
    EXPECT_TRUE(state.receiverMuted());
    EXPECT_EQ(state.assignedGroups(), (std::vector<int32_t>{3, 1, 8}));
    EXPECT_TRUE(state.micCheckState().checked());
    state.removeAllAssignedGroups();
    EXPECT_TRUE(state.assignedGroups().empty());
}

TEST_F(ChannelStripRecordsTest, TimecodeSampleBufferKeepsItsAddressWhenTheStateMoves) {
    ChannelStripState state;
    ChannelStripState::TimeCodeSample* buffer = state.timeCodeSample();
    (*buffer)[5] = 0.25f;
    std::vector<ChannelStripState> states;
    states.push_back(std::move(state));
    states.emplace_back();
    states.emplace_back();
    EXPECT_EQ(states[0].timeCodeSample(), buffer);
    EXPECT_EQ((*states[0].timeCodeSample())[5], 0.25f);
}

TEST_F(ChannelStripRecordsTest, PlaybackRunsOnlyWithAStripAndADelay) {
    PlaybackManager& playback = PlaybackManager::sharedInstance();
    EXPECT_EQ(playback.playedCSID(), -1);
    for (auto [csID, delay, playing] : {std::tuple{-1, 0, false},
                                        {-1, 8192, false},
                                        {0, 8192, false},
                                        {77, 8192, true},
                                        {77, 0, false}}) {
        playback.setPlayedCSID(csID);
        playback.setDelayInSamples(delay);
        EXPECT_EQ(playback.isPlaying(), playing) << csID << " " << delay;
    }
}

TEST_F(ChannelStripRecordsTest, ChannelCountStaysWithinTheTables) {
    SettingsManager settings;
    EXPECT_EQ(settings.CHANNELS(), 128);
    settings.setCHANNELS(300);
    EXPECT_EQ(settings.CHANNELS(), 128);
    settings.setCHANNELS(16);
    EXPECT_EQ(settings.CHANNELS(), 16);

    // The class operation reads the shared instance, not a local one.
    EXPECT_EQ(SettingsManager::channels(), SettingsManager::sharedInstance().CHANNELS());
    const int before = SettingsManager::channels();
    SettingsManager::sharedInstance().setCHANNELS(24);
    EXPECT_EQ(SettingsManager::channels(), 24);
    SettingsManager::sharedInstance().setCHANNELS(before);
}

}  // namespace
}  // namespace quenbril
