#include <memory>
#include <utility>
#include <vector>

#include "MonitorApp/link/LinkMessageReader.h"
#include "StripTestEnvironment.h"

namespace quenbril {
namespace {

class ServerData : public StripTest {
  protected:
    void SetUp() override {
        StripTest::SetUp();
        buildStrips(5);
    }
    // Strips 1..5 in states 0, 1, 2, 3, 4.
    void setStates() {
        for (int id = 1; id <= 5; ++id) stateOf(id).setChannelState(static_cast<uint64_t>(id - 1));
    }
    std::vector<uint64_t> states() {
        std::vector<uint64_t> result;
        for (int id = 1; id <= 5; ++id) result.push_back(stateOf(id).channelState());
        return result;
    }
    using S = std::vector<uint64_t>;
    using R = LinkMessageReader;

    /// The records the message reader makes of a message with this value; they may point into
    /// the message, which the fixture keeps.
    template <class Reader>
    auto read(Reader reader, Array value) {
        kept_.push_back(std::make_unique<Dictionary>(
            Dictionary{{"Command", "Test"}, {"Value", std::move(value)}}));
        return *reader(*kept_.back());
    }

  private:
    std::vector<std::unique_ptr<Dictionary>> kept_;
};

TEST_F(ServerData, SoloSetsFollowTheStateTable) {
    using M = ChannelStripManager;
    for (auto [list, ids, expected] :
         {std::tuple{&M::activeChannelsReceived, Array{}, S{0, 0, 2, 3, 0}},
          {&M::activeChannelsReceived, Array{1, 3, 5, "junk"}, S{1, 0, 2, 3, 1}},
          {&M::soloChannelsReceived, Array{}, S{0, 1, 0, 0, 4}},
          {&M::soloChannelsReceived, Array{2}, S{0, 2, 0, 0, 4}},
          {&M::autoSoloChannelsReceived, Array{}, S{0, 1, 2, 3, 0}},
          {&M::autoSoloChannelsReceived, Array{1, 42}, S{4, 1, 2, 3, 0}}}) {
        setStates();
        (manager().*list)(read(&R::stripIDs, ids));
        EXPECT_EQ(states(), expected) << Value(ids).description();
    }
    EXPECT_EQ(viewOf(1).lastAppearanceState, 4u) << "a changed strip is redrawn";
}

TEST_F(ServerData, WarningsRunLaterTakePendingQualityAndSkipHiddenAlerts) {
    settings().setShowBatteryAlerts(false);
    viewOf(1).pending = 40;
    viewOf(2).pending = 70;
    viewOf(1).setChannelState(1);
    const Array message{1, 2, 2, 3, 99, 1};
    manager().updateWarningsFromServer(read(&R::intPairs, message));
    EXPECT_EQ(viewOf(2).warningCode, -100) << "nothing before the queued update runs";
    loop_->runPending();
    EXPECT_EQ(viewOf(1).warningCode, 1) << "a hidden battery alert leaves the display";
    EXPECT_EQ(viewOf(1).quality, 40);
    EXPECT_EQ(viewOf(2).warningCode, 3);
    EXPECT_EQ(viewOf(2).quality, 70);

    settings().setShowBatteryAlerts(true);
    manager().updateWarningsFromServer(read(&R::intPairs, {1, 0, 2, 2, 3, "bad"}));
    loop_->runPending();
    EXPECT_EQ(viewOf(1).warningCode, 0);
    EXPECT_EQ(viewOf(2).warningCode, 2);
    EXPECT_EQ(viewOf(3).warningCode, -100) << "a code of the wrong kind is skipped";

    EXPECT_FALSE(manager().warningIgnored(4));
    settings().setShowSCPAlerts(false);
    settings().setShowRFAlerts(false);
    EXPECT_TRUE(manager().warningIgnored(1));
    EXPECT_TRUE(manager().warningIgnored(3));
    EXPECT_FALSE(manager().warningIgnored(0));
}

TEST_F(ServerData, QueuedWarningsAfterTheManagerIsGoneDoNothing) {
    manager().updateWarningsFromServer(read(&R::intPairs, {1, 1}));
    ChannelStripManager::resetSharedInstance();
    loop_->runPending();  // must not touch the dropped manager
}

TEST_F(ServerData, BatteryValuesTimesAndAntennas) {
    manager().updateBatteryDataFromServer(read(&R::intPairs, {1, -2, 2, -1, 3, 45, 77, 10, 4}));
    EXPECT_EQ(viewOf(1).batVal, -2);
    EXPECT_EQ(viewOf(2).batVal, -1);
    EXPECT_EQ(viewOf(3).batVal, 45);
    EXPECT_EQ(viewOf(4).batVal, -100) << "an odd array leaves its last id without a value";

    manager().updateBatteryTimeDataFromServer(read(&R::stringPairs, {3, "1:20 h", 2, ""}));
    EXPECT_EQ(viewOf(3).bat, "1:20 h");
    EXPECT_EQ(viewOf(2).bat, "?") << "an empty battery-time text changes nothing";

    manager().controllers()[4]->model().setWirelessName(std::string("LTC Timecode"));
    manager().updateAntennaDataFromServer(read(&R::stringPairs, {1, "AB", 5, "C", 2, 7}));
    EXPECT_EQ(viewOf(1).antenna, "AB");
    EXPECT_EQ(viewOf(5).antennaCalls, 0) << "timecode strips show no antennas";
    EXPECT_EQ(viewOf(2).antennaCalls, 0);
}

TEST_F(ServerData, TimecodeSamplesAreCopiedOnlyWhole) {
    Bytes whole(720);
    for (size_t i = 0; i < whole.size(); i += 4) whole[i + 3] = 0x3f;  // 0.5f
    manager().ltcSampleReceived(read(
        &R::ltcSamples,
        {Dictionary{{"CSID", 1}, {"LTCSample", whole}, {"FPS", 25}, {"fromMax", -6.5}},
         Dictionary{{"CSID", 2}, {"LTCSample", Bytes(719, 0x3f)}, {"FPS", 30}, {"fromMax", -3.0}},
         "junk"}));
    EXPECT_EQ((*stateOf(1).timeCodeSample())[179], 0.5f);
    EXPECT_EQ(stateOf(1).fps(), 25);
    EXPECT_EQ((*stateOf(2).timeCodeSample())[0], 0.0f);
    EXPECT_EQ(stateOf(2).fps(), 30);
    EXPECT_FLOAT_EQ(stateOf(2).LTCFromMax(), -3.0f);

    manager().controllers()[0]->model().setWirelessName(std::string("LTC Timecode"));
    manager().updateLTCData();
    EXPECT_EQ(viewOf(1).tcParam, "25 fps   -6.5 dB");
    EXPECT_TRUE(manager().controllers()[0]->ltcTimerRunning());
    EXPECT_FALSE(manager().controllers()[1]->ltcTimerRunning());
}

TEST_F(ServerData, TimecodeTimerShowsTheStripsOwnTimecodeAndItsAge) {
    ChannelStripController& tc = *manager().controllers()[0];
    tc.startLTCTimer();
    FakeStripView& view = viewOf(1);
    loop_->advance(0.2);
    ASSERT_EQ(view.timecodes.size(), 1u);
    EXPECT_EQ(view.notFound, (std::vector<int32_t>{-1})) << "no record of its own";

    // Another source's fresh record must not make this strip look fresh.
    LTCManager::sharedInstance().tcReceived(
        {{"CSID", 2}, {"Hours", 1}, {"Minutes", 2}, {"Seconds", 3}, {"Frames", 4}, {"FPS", 25}});
    loop_->advance(0.2);
    EXPECT_EQ(view.notFound.back(), -1);

    LTCManager::sharedInstance().tcReceived(
        {{"CSID", 1}, {"Hours", 10}, {"Minutes", 20}, {"Seconds", 30}, {"Frames", 0}, {"FPS", 25}});
    view.notFound.clear();
    loop_->advance(0.2);
    EXPECT_EQ(view.timecodes.back().hours, 10);
    EXPECT_TRUE(view.notFound.empty());
    loop_->advance(3.0);
    ASSERT_FALSE(view.notFound.empty());
    EXPECT_EQ(view.notFound.back(), 3);
    loop_->advance(2.0);
    EXPECT_EQ(view.notFound.back(), 5);
}

TEST_F(ServerData, AStripWithIdZeroIsBuiltButNoMessageByIdReachesIt) {
    testing::internal::CaptureStderr();
    manager().initFromProperyArray({strip(1), strip(0), strip(0, "B"), strip(2)});
    const std::string logged = testing::internal::GetCapturedStderr();
    ASSERT_EQ(manager().controllers().size(), 4u);
    EXPECT_EQ(logged.find("id 0"), logged.rfind("id 0")) << logged;
    EXPECT_NE(logged.find("2 strips have id 0"), std::string::npos) << logged;
    ChannelStripController& zero = *manager().controllers()[1];
    FakeStripView& view = *static_cast<FakeStripView*>(zero.view());
    EXPECT_EQ(ChannelStripManager::controllerByID(0), nullptr);
    EXPECT_EQ(manager().indexOfChannelStripID(0), -1);

    const int drawn = view.appearanceUpdates;

    // Solo sets naming 0 leave it as it is, and so do those that do not name it.
    zero.state().setChannelState(ChannelStripState::kHardSoloed);
    manager().soloChannelsReceived({0, 1});
    EXPECT_EQ(zero.state().channelState(), ChannelStripState::kHardSoloed);
    EXPECT_EQ(stateOf(1).channelState(), ChannelStripState::kSoloed);
    zero.state().setChannelState(ChannelStripState::kOff);
    manager().activeChannelsReceived({0});
    manager().autoSoloChannelsReceived({0});
    EXPECT_EQ(zero.state().channelState(), ChannelStripState::kOff);
    EXPECT_EQ(view.appearanceUpdates, drawn) << "not redrawn";

    // Timecode filed under 0 is no strip's.
    Bytes whole(720, 0x3f);
    manager().ltcSampleReceived({LtcSampleRecord{0, &whole, 25, -6.5f}});
    EXPECT_EQ((*zero.state().timeCodeSample())[0], 0.0f);
    EXPECT_EQ(zero.state().fps(), 0);
    LTCManager::sharedInstance().tcReceived(
        {{"CSID", 0}, {"Hours", 1}, {"Minutes", 2}, {"Seconds", 3}, {"Frames", 4}, {"FPS", 25}});
    zero.ltcTimerCallback();
    ASSERT_EQ(view.timecodes.size(), 1u);
    EXPECT_EQ(view.timecodes[0], SMPTETimecode{});
    EXPECT_EQ(view.notFound, (std::vector<int32_t>{-1}));
}

TEST_F(ServerData, ServerRoleWarningPassReadsTheReceiverRegistry) {
    ClientManager::setSharedInstance(&sender);
    auto device = receiver("Rx 1", 1);
    device->setBattery(60);
    device->setRf(30);
    device->setQuality(88);
    device->setIsA_active(true);
    device->setIsC_active(true);
    device->setLastSeen(loop_->now());
    manager().controllers()[1]->model().setWirelessName(std::string("Rx gone"));
    manager().controllers()[2]->model().setWirelessName(std::string("LTC Timecode"));
    stateOf(4).setWarningOn(true);
    stateOf(4).setLpfWarnings(1);

    manager().updateWarnings();
    EXPECT_EQ(viewOf(1).batVal, 60);
    EXPECT_EQ(viewOf(1).antenna, "AC");
    EXPECT_EQ(viewOf(1).quality, 88);
    EXPECT_TRUE(stateOf(1).rfWarningOn()) << "RF 30 is below the threshold 50";
    EXPECT_EQ(viewOf(2).batVal, -2);
    EXPECT_EQ(viewOf(2).antenna, "");
    EXPECT_TRUE(manager().controllers()[2]->ltcTimerRunning());
    EXPECT_EQ(viewOf(5).batVal, -2) << "\"No device\" hides the battery";
    ASSERT_EQ(sender.sent.size(), 3u);
    EXPECT_EQ(sender.sent[0]["Command"], Value("ChannelWarnings"));
    // Strip id and value pairs, as every remote reads them.
    EXPECT_EQ(sender.sent[0]["Value"], (Value(Array{1, 0, 2, 0, 3, 0, 4, 1, 5, 0})));
    EXPECT_EQ(sender.sent[1]["Value"], (Value(Array{1, 60, 2, -2, 3, -2, 4, -2, 5, -2})));
    EXPECT_EQ(sender.sent[2]["Value"], (Value(Array{1, "AC", 2, "", 3, "", 4, "", 5, ""})));

    // A receiver silent for more than 5 s counts as gone.
    loop_->advance(5.5);
    manager().updateWarnings();
    EXPECT_EQ(viewOf(1).batVal, -2);
    EXPECT_EQ(sender.sent[4]["Value"].at(1), Value(-2));

    // Batteries leave as -2..100; other negatives are unknown (-1).
    loop_->advance(1.0);
    device->setLastSeen(loop_->now());
    for (const auto& [reported, sent] : std::vector<std::pair<int32_t, int32_t>>{
             {100, 100}, {250, 100}, {-1, -1}, {-7, -1}, {0, 0}}) {
        device->setBattery(reported);
        manager().updateWarnings();
        EXPECT_EQ(sender.sent.back()["Command"], Value("AntennaData"));
        EXPECT_EQ(sender.sent[sender.sent.size() - 2]["Value"].at(1), Value(sent)) << reported;
    }
    const size_t sentBefore = sender.sent.size();

    // With no registry and no client host, strips show no battery and nothing is sent.
    WirelessManager::setSharedInstance(nullptr);
    ClientManager::setSharedInstance(nullptr);
    settings().setDisableAllWarnings(false);
    manager().updateWarnings();
    EXPECT_EQ(sender.sent.size(), sentBefore);
    EXPECT_EQ(viewOf(1).removeWirelessCalls, 1);

    settings().setDisableAllWarnings(true);
    manager().updateWarnings();
    EXPECT_EQ(sender.sent.size(), sentBefore);
}

TEST_F(ServerData, ServerRoleLevelUpdateClearsQualityOfStripsWithoutNetworkedReceivers) {
    uint8_t levels[128] = {};
    manager().updateLevels(levels);
    EXPECT_EQ(viewOf(1).qualityCalls, 0) << "nothing before the strip area is set";
    manager().setSuperView(&area);
    receiver("Rx 8", 1)->setDeviceType(8);
    manager().updateLevels(levels);
    EXPECT_EQ(viewOf(1).qualityCalls, 0);
    EXPECT_EQ(viewOf(2).quality, 0);
}

}  // namespace
}  // namespace quenbril
