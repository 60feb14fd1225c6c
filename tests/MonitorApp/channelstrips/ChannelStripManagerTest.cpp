#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/PlayerStripLookup.h"
#include "StripTestEnvironment.h"
#include "foundation/UserDefaults.h"

namespace quenbril {
namespace {

using ManagerBuild = StripTest;

TEST_F(ManagerBuild, BuildsOneStripAndDropsDisabledOnes) {
    manager().initFromProperyArray(
        {strip(5), strip(6, "A", "", false), strip(7, "B"), Value("not a strip")});
    ASSERT_EQ(manager().controllers().size(), 2u);
    EXPECT_EQ(manager().controllers()[0]->model().csID(), 5);
    EXPECT_EQ(manager().controllers()[1]->model().csID(), 7);
    EXPECT_EQ(viewOf(5).title, "S5");
    EXPECT_EQ(viewOf(5).inputChannel, 5);
    EXPECT_GE(viewOf(5).appearanceUpdates, 1);
    EXPECT_EQ(manager().propertyArray().size(), 2u);
    EXPECT_EQ(*manager().propertyArray()[1].dictionaryValue(),
              manager().controllers()[1]->model().property());

    manager().initFromProperyArray({strip(6, "A", "", false)});
    EXPECT_TRUE(manager().controllers().empty());
}

TEST_F(ManagerBuild, InTheServerRoleTheStripsAreTheEnginesCaptureChannelsWhileTheyLive) {
    settings().setActAsClient(false);
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    ASSERT_TRUE(engine.serverRole());
    buildStrips(3);
    EXPECT_EQ(engine.strips(), &manager());
    ASSERT_NE(engine.mixSnapshot(), nullptr);
    EXPECT_EQ(engine.mixSnapshot()->strips.size(), 3u);
    // A manager that goes away takes its strips out of the engine's capture.
    ChannelStripManager::resetSharedInstance();
    EXPECT_EQ(engine.strips(), nullptr);
    EXPECT_TRUE(engine.mixSnapshot()->strips.empty());
    engine.mapChannels();
}

TEST_F(ManagerBuild, SixtyFourStripsFillPanelAOnAGridOfColumns) {
    manager().setSuperView(&area);
    settings().setColumns(8);
    buildStrips(64);
    ASSERT_EQ(manager().controllers().size(), 64u);
    EXPECT_EQ(area.placed.size(), 64u);
    const auto& placement = area.placed.at(&viewOf(10));  // the 10th strip: row 1, column 1
    EXPECT_EQ(placement.panel, 0);
    EXPECT_EQ(placement.frame, (Rect{128, 128, 128, 128}));
    EXPECT_EQ(area.renderer.levelCount, 64);
    EXPECT_EQ(area.renderer.map[63], 63);
    EXPECT_EQ(manager().indexOfChannelStripID(64), 63);
}

// A manager reads the settings it was made with: its grid follows their columns, whatever the
// shared settings hold.
TEST_F(ManagerBuild, AManagerLaysOutByTheColumnsOfTheSettingsItWasGiven) {
    settings().setColumns(8);
    UserDefaults ownDefaults("/nonexistent/quenbril-manager-build", "Defaults");
    UserSettingsManager own(ownDefaults);
    own.setColumns(2);
    const StripServices& shared = manager().services();
    ChannelStripManager other(
        StripServices{own, shared.engine, shared.players, shared.ltc, shared.center});
    FakeStripArea otherArea;
    other.setSuperView(&otherArea);
    other.initFromProperyArray({strip(1), strip(2), strip(3)});
    ASSERT_EQ(other.controllers().size(), 3u);
    // The third strip: row 1, column 0 of two columns.
    EXPECT_EQ(otherArea.placed.at(other.controllers()[2]->view()).frame, (Rect{0, 128, 128, 128}));
}

// Players and warning switches come from the manager's own services, not the shared ones.
TEST_F(ManagerBuild, PlayerLookupsAndIgnoredWarningsFollowTheServicesItWasGiven) {
    UserDefaults ownDefaults("/nonexistent/quenbril-manager-players", "Defaults");
    UserSettingsManager own(ownDefaults);
    own.setShowRFAlerts(false);
    PlayerManager players(ownDefaults);
    players.addFromDic(Dictionary{{"Name", "Ann"}, {"RoleName", "Juliet"}});
    const StripServices& shared = manager().services();
    ChannelStripManager other(
        StripServices{own, shared.engine, players, shared.ltc, shared.center});
    FakeStripArea otherArea;
    other.setSuperView(&otherArea);
    other.initFromProperyArray({strip(1), strip(2)});
    ASSERT_EQ(other.controllers().size(), 2u);
    other.controllers()[1]->model().setPlayerName(std::string("Ann as Juliet"));
    EXPECT_EQ(PlayerStripLookup::indexOfPlayerInChannelStripIndex(other, 1), 0);
    EXPECT_EQ(PlayerStripLookup::indexOfPlayerInChannelStripID(other, 2), 0);
    EXPECT_EQ(PlayerStripLookup::indexOfPlayerInChannelStripIndex(other, 0), -1);
    EXPECT_TRUE(other.warningIgnored(3));
    EXPECT_FALSE(manager().warningIgnored(3));
}

TEST_F(ManagerBuild, ListsPastOneHundredTwentyEightStripsAreCutAndTablesStayBounded) {
    manager().setSuperView(&area);
    Array channels;
    for (int i = 1; i <= 130; ++i) channels.emplace_back(strip(i, i % 2 ? "A" : "B"));
    manager().initFromProperyArray(channels);
    ASSERT_EQ(manager().controllers().size(), 128u);
    EXPECT_EQ(ChannelStripManager::controllerByID(129), nullptr);
    EXPECT_EQ(manager().panelArray()[127], 1);
    EXPECT_EQ(manager().panelArray()[126], 0);

    // Even with every strip in one panel, the level map takes at most 128 cells.
    for (auto& c : manager().controllers()) c->model().setPanel(std::string("A"));
    manager().controllers().push_back(
        std::make_unique<ChannelStripController>(manager(), strip(500)));
    manager().updateChannels();
    EXPECT_EQ(area.renderer.levelCount, 128);
    EXPECT_EQ(area.renderer.map[127], 127);
}

TEST_F(ManagerBuild, ZeroColumnsLaysOutOneStripPerRow) {
    manager().setSuperView(&area);
    settings().setColumns(0);
    buildStrips(3);
    EXPECT_EQ(area.placed.at(&viewOf(3)).frame, (Rect{0, 256, 128, 128}));
    manager().updateSizes();
}

using ManagerLookups = StripTest;

TEST_F(ManagerLookups, ByIdByPositionAndByPanel) {
    manager().initFromProperyArray(
        {strip(1, "A"), strip(2, "B"), strip(3, "A"), strip(4, "C"), Dictionary{{"panel", "D"}}});
    auto& list = manager().controllers();
    EXPECT_EQ(ChannelStripManager::controllerIndexByID(3), 2);
    EXPECT_EQ(ChannelStripManager::controllerIndexByID(99), -1);
    // A strip without an id reads as id 0, which names no strip.
    EXPECT_EQ(ChannelStripManager::controllerByID(0), nullptr);
    EXPECT_EQ(ChannelStripManager::controllerIndexByID(0), -1);
    EXPECT_EQ(manager().indexOfChannelStripID(0), -1);
    EXPECT_EQ(ChannelStripManager::controllerByIndexInPanel(list, 1, "A"), list[2].get());
    EXPECT_EQ(ChannelStripManager::controllerByIndexInPanel(list, 2, "A"), nullptr);
    EXPECT_EQ(ChannelStripManager::controllerByIndexInPanel(list, -1, "A"), nullptr);
    EXPECT_EQ(ChannelStripManager::indexInPanel(list, list[2].get()), 1);
    EXPECT_EQ(ChannelStripManager::indexInPanel(list, nullptr), -1);
    EXPECT_EQ(ChannelStripManager::controllersInPanel(list, "A"), 2);
    EXPECT_EQ(ChannelStripManager::controllersInPanel(list, "B"), 1);
    // A panel text other than A and B is laid out in A but counted in neither.
    EXPECT_EQ(manager().enabledChannels("A"), 2);
    EXPECT_EQ(manager().panelArray()[3], 0);

    // The level index skips disabled strips; the list position does not.
    list[0]->model().setChannelEnabled(false);
    EXPECT_EQ(manager().indexOfChannelStripID(3), 1);
    EXPECT_EQ(ChannelStripManager::controllerIndexByID(3), 2);
    EXPECT_EQ(manager().indexOfChannelStripID(1), -1);
}

TEST_F(ManagerLookups, PanelSwitchMapsTheOtherPanelsStrips) {
    manager().setSuperView(&area);
    EXPECT_EQ(area.panelsMade, 1);
    manager().initFromProperyArray({strip(1, "A"), strip(2, "B"), strip(3, "A"), strip(4, "B")});
    EXPECT_EQ(area.renderer.levelCount, 2);
    EXPECT_EQ(area.renderer.map[1], 2);
    manager().setPanelIndex(1);
    EXPECT_EQ(area.documentPanel, 1);
    EXPECT_EQ(area.levelPanel, 1);
    EXPECT_EQ(area.renderer.panelIndex, 1);
    EXPECT_EQ(area.renderer.map[0], 1);
    EXPECT_EQ(area.renderer.map[1], 3);
    EXPECT_EQ(ChannelStripManager::controllerByIndexInCurrentPanel(1)->model().csID(), 4);
    manager().setSuperView(&area);
    EXPECT_EQ(area.panelsMade, 1) << "panels are made once";
}

TEST_F(ManagerLookups, ChatNamesAndStateListsAndPlayers) {
    manager().initFromProperyArray({strip(1), strip(2, "A", "Vox--Lead"), strip(3, "A", "Gtr")});
    EXPECT_EQ(manager().activeChannelNamesForChat(), "(No channel selected)");
    stateOf(2).setChannelState(1);
    stateOf(3).setChannelState(2);
    EXPECT_EQ(manager().activeChannelNamesForChat(), "Vox--Lead(3)");
    EXPECT_EQ(manager().activeChannels(), (Array{1}));
    EXPECT_EQ(manager().hardSoloedChannels(), (Array{2}));

    PlayerManager::sharedInstance().players().push_back(
        std::make_shared<Player>(Dictionary{{"Name", "Ann"}, {"RoleName", "Juliet"}}));
    manager().controllers()[1]->model().setPlayerName(std::string("Ann as Juliet"));
    manager().controllers()[2]->model().setPlayerName(std::string("Ann"));
    EXPECT_EQ(PlayerStripLookup::indexOfPlayerInChannelStripIndex(manager(), 1), 0);
    EXPECT_EQ(PlayerStripLookup::indexOfPlayerInChannelStripIndex(manager(), 2), -1);
    EXPECT_EQ(PlayerStripLookup::indexOfPlayerInChannelStripIndex(manager(), 3), -1);
    EXPECT_EQ(PlayerStripLookup::indexOfPlayerInChannelStripIndex(manager(), -1), -1);
    EXPECT_EQ(PlayerStripLookup::indexOfPlayerInChannelStripID(manager(), 2), 0);
    EXPECT_EQ(PlayerStripLookup::indexOfPlayerInChannelStripID(manager(), 77), -1);
}

TEST_F(ManagerLookups, TheOperationsARemoteHasNoUseForChangeNothing) {
    manager().initFromProperyArray({strip(1), strip(2, "B")});
    stateOf(2).setChannelState(2);
    manager().createChannelStrips();
    manager().resetAllChannels();
    manager().activateChannels(Array{Value(0), Value(1)});
    EXPECT_EQ(manager().setGroupState(1, 3), 0);
    EXPECT_EQ(manager().stripForChannel(0), nullptr) << "no strip, though one lies there";
    ASSERT_EQ(manager().controllers().size(), 2u);
    EXPECT_EQ(stateOf(1).channelState(), 0u);
    EXPECT_EQ(stateOf(2).channelState(), 2u);
    EXPECT_EQ(manager().panelArray()[1], 1);
}

TEST_F(ManagerLookups, NewStripsTakeAFreeInputAndGoToBWhenAIsFull) {
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    EXPECT_FALSE(manager().createChannelStrip()) << "no input before the device is set up";

    engine.setAvailableChannels(200);
    Array channels;
    for (int i = 0; i < 74; ++i) {  // inputs 0..63 in A, 100..109 in B
        const int input = i < 64 ? i : 36 + i;
        Dictionary d = strip(i < 64 ? i + 1 : input, i < 64 ? "A" : "B");
        d.set("audioInput", input);
        channels.emplace_back(d);
    }
    manager().initFromProperyArray(channels);
    ASSERT_TRUE(manager().createChannelStrip());
    const auto& added = *manager().controllers().back();
    EXPECT_EQ(added.model().audioInput(), 110);  // the input after the last strip's
    EXPECT_EQ(added.model().name(), std::string("Ch 111"));
    EXPECT_EQ(added.model().panel(), std::string("B"));

    manager().removeChannelStrips({74, 0, 999, -1});
    EXPECT_EQ(manager().controllers().size(), 73u);
    ASSERT_TRUE(manager().createChannelStrip());  // 64 strips in A again, new one included
    EXPECT_EQ(manager().controllers().back()->model().panel(), std::string("A"));
    EXPECT_EQ(manager().controllers().back()->model().audioInput(), 110);
    manager().removeChannelStrip(74);
    EXPECT_EQ(manager().controllers().size(), 74u);
}

TEST_F(ManagerLookups, NoStripIsCreatedPastTheHundredTwentyEighth) {
    PELAudioEngine::sharedInstance().setAvailableChannels(200);
    buildStrips(127);
    ASSERT_TRUE(manager().createChannelStrip());
    ASSERT_EQ(manager().controllers().size(), 128u);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(manager().createChannelStrip());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("No new channel strip"),
              std::string::npos);
    EXPECT_EQ(manager().controllers().size(), 128u);

    manager().removeChannelStrip(0);
    EXPECT_TRUE(manager().createChannelStrip()) << "room again once a strip is gone";
}

TEST_F(ManagerLookups, ANewStripsIdIsDrawnAgainWhileAnotherStripHasIt) {
    PELAudioEngine::sharedInstance().setAvailableChannels(16);
    buildStrips(3);
    std::vector<int64_t> draws{2, 3, 0, 2, 9, 4};
    size_t next = 0;
    manager().setStripIDSource([&] { return draws[next++ % draws.size()]; });
    ASSERT_TRUE(manager().createChannelStrip());
    EXPECT_EQ(manager().controllers().back()->model().csID(), 9);
    EXPECT_EQ(next, 5u);
    EXPECT_EQ(ChannelStripManager::controllerByID(9), manager().controllers().back().get());

    // A source that only repeats taken ids makes no strip, and the editor does not hang.
    manager().setStripIDSource([] { return int64_t{1}; });
    EXPECT_FALSE(manager().createChannelStrip());
    EXPECT_EQ(manager().controllers().size(), 4u);

    // The real draw gives ids no strip has.
    manager().setStripIDSource(nullptr);
    ASSERT_TRUE(manager().createChannelStrip());
    const int64_t drawn = manager().controllers().back()->model().csID();
    EXPECT_NE(drawn, 0);
    EXPECT_EQ(ChannelStripManager::controllerIndexByID(drawn), 4);
}

}  // namespace
}  // namespace quenbril

namespace quenbril {
namespace {

using ManagerArea = StripTest;

TEST_F(ManagerArea, SizesFocusAndPreferenceChanges) {
    area.scroll = {1039, 300};
    manager().setSuperView(&area);
    EXPECT_EQ(area.panels[0], (Rect{0, 0, 1039, 1024}));
    EXPECT_EQ(area.levelFrame, (Rect{0, 0, 1024, 1024}));
    EXPECT_EQ(area.renderer.drawableSize, (Size{2048, 2048}));
    settings().setColumns(8);
    buildStrips(17);
    manager().updateSizes();
    EXPECT_EQ(area.panels[0], (Rect{0, 0, 1039, 3 * 128}));
    EXPECT_EQ(area.panels[1], area.panels[0]);
    EXPECT_EQ(area.content, area.panels[0]);
    EXPECT_EQ(area.levelFrame, (Rect{0, 0, 1024, 384}));
    EXPECT_EQ(area.renderer.drawableSize, (Size{2048, 768}));

    manager().setKeyboardFocus();
    EXPECT_EQ(area.focused, 1);

    viewOf(3).setChannelState(2);
    NotificationCenter::defaultCenter().post("PreferencesChanged");
    EXPECT_EQ(viewOf(3).warningCode, 0);

    stateOf(4).setChannelState(2);
    const int redraws = viewOf(4).appearanceUpdates;
    manager().allChannelsOff();
    EXPECT_EQ(stateOf(4).channelState(), 0u);
    // A strip turned off (the link dropped) shows it: no solo border, warning or battery.
    EXPECT_EQ(viewOf(4).appearanceUpdates, redraws + 1);
    EXPECT_EQ(viewOf(4).warningCode, 0);

    manager().scrollViewScrolled();
    EXPECT_TRUE(manager().isScrolling());
    loop_->advance(0.5);
    EXPECT_FALSE(manager().isScrolling());
}

}  // namespace
}  // namespace quenbril
