#include "MonitorApp/channelstrips/SnapshotManager.h"
#include "StripTestEnvironment.h"

namespace quenbril {
namespace {

class Groups : public StripTest {
  protected:
    void SetUp() override {
        StripTest::SetUp();
        manager().setGroupButtonView(&groups);
        buildStrips(4);
    }
    FakeGroupButton& button(int g) { return *groups.buttons[static_cast<size_t>(g - 1)]; }
};

TEST_F(Groups, EightButtonsAreMadeOnce) {
    ASSERT_EQ(groups.buttons.size(), 8u);
    EXPECT_EQ(button(3).text, "Gr 3");
    EXPECT_EQ(button(3).groupID(), 3);
    EXPECT_EQ(button(3).frame, (Rect{200, 0, 100, 40}));
    EXPECT_FALSE(button(3).hidden);
    EXPECT_EQ(button(3).color, ColorHelper::colorForGroup(3));
    manager().setGroupButtonView(&groups);
    EXPECT_EQ(groups.buttons.size(), 8u);
    groups.containerSize = {1600, 30};
    manager().updateSizes();
    EXPECT_EQ(button(8).frame, (Rect{1400, 0, 200, 30}));
}

TEST_F(Groups, ClicksBecomeCommandsAndChangeNothingLocally) {
    NotificationCenter::defaultCenter().post("GroupClicked", {{"index", int64_t{5}}});
    NotificationCenter::defaultCenter().post("GroupLongClicked", {{"index", 2}});
    ASSERT_EQ(sender.sent.size(), 2u);
    EXPECT_EQ(sender.sent[0], (Dictionary{{"Command", "GroupClicked"}, {"Value", 5}}));
    EXPECT_EQ(sender.sent[1], (Dictionary{{"Command", "GroupLongClicked"}, {"Value", 2}}));
    EXPECT_EQ(button(5).state(), 0);
}

TEST_F(Groups, SnapshotAssignsColoursNamesAndHardSolos) {
    button(1).setState(2);
    button(2).setState(1);
    button(6).setHidden(false);
    button(6).setGroupName("old");
    const Snapshot snapshot = SnapshotManager::snapshotFromDictionary(
        {{"groupNames", Array{"none", "Strings", "Brass", "Drums"}},
         {"channelSettings", Array{Dictionary{{"csID", 1}, {"groupIndex", 1}},
                                   Dictionary{{"csID", 2}, {"groupIndex", 3}},
                                   Dictionary{{"csID", 99}, {"groupIndex", 2}},
                                   Dictionary{{"csID", 3}, {"groupIndex", 9}}}}});
    manager().applySnapshot(snapshot);

    EXPECT_EQ(button(1).state(), 2) << "a hard button stays hard";
    EXPECT_EQ(button(2).state(), 0) << "an on button is released";
    EXPECT_EQ(stateOf(1).channelState(), 3u) << "state 2 of its group's button hard-solos it";
    EXPECT_EQ(viewOf(1).lastAppearanceState, 3u);
    EXPECT_EQ(stateOf(2).channelState(), 0u);
    EXPECT_EQ(stateOf(1).assignedGroups(), (std::vector<int32_t>{1}));
    EXPECT_EQ(stateOf(3).assignedGroups(), (std::vector<int32_t>{9}));
    EXPECT_TRUE(stateOf(4).assignedGroups().empty());

    EXPECT_EQ(viewOf(1).color, ColorHelper::colorForGroup(1));
    EXPECT_EQ(viewOf(2).color, ColorHelper::colorForGroup(3));
    EXPECT_EQ(viewOf(4).color, ColorHelper::colorForGroup(0));
    EXPECT_EQ(viewOf(3).color, ColorHelper::colorForGroup(9));

    EXPECT_FALSE(button(1).hidden);
    EXPECT_EQ(button(1).name, "Strings");
    // Group 2's only entry names no strip here, yet it is named in the snapshot: shown.
    EXPECT_FALSE(button(2).hidden);
    EXPECT_EQ(button(3).name, "Drums");
    EXPECT_FALSE(button(6).hidden) << "buttons past the named groups keep their look";
    EXPECT_EQ(button(6).name, "old");

    manager().applySnapshot(SnapshotManager::snapshotFromDictionary(
        {{"groupNames", Array{"", "A", "B"}},
         {"channelSettings", Array{Dictionary{{"csID", 4}, {"groupIndex", 1}}}}}));
    EXPECT_TRUE(button(2).hidden) << "a named group without strips is hidden";
    EXPECT_TRUE(stateOf(1).assignedGroups().empty());
    EXPECT_EQ(stateOf(4).channelState(), 3u);
}

TEST_F(Groups, GroupStatesNeedExactlyEightValues) {
    EXPECT_FALSE(manager().applyGroupStates(Value(Array{1, 1, 1, 1, 1, 1, 1})));
    EXPECT_FALSE(manager().applyGroupStates(Value(Array{1, 1, 1, 1, 1, 1, 1, 1, 1})));
    EXPECT_FALSE(manager().applyGroupStates(Value()));
    EXPECT_EQ(button(1).state(), 0);
    EXPECT_TRUE(manager().applyGroupStates(Value(Array{1, 2, 0, 0, "x", 0, 0, 1})));
    EXPECT_EQ(button(1).state(), 1);
    EXPECT_EQ(button(2).state(), 2);
    EXPECT_EQ(button(8).state(), 1);
}

TEST_F(Groups, SoloClearsAndAssignments) {
    button(1).setState(1);
    button(2).setState(2);
    stateOf(1).setChannelState(1);
    stateOf(2).setChannelState(2);
    stateOf(3).addAssignedGroup(2);
    const Array assignments = manager().groupAssignments();
    EXPECT_EQ(assignments[2], Value(Array{2}));
    EXPECT_EQ(stateOf(1).channelState(), 0u);
    EXPECT_EQ(stateOf(2).channelState(), 2u);
    EXPECT_EQ(stateOf(3).channelState(), 3u);

    stateOf(1).setChannelState(1);
    manager().soloClear();
    EXPECT_EQ(stateOf(1).channelState(), 0u);
    EXPECT_EQ(stateOf(3).channelState(), 3u);
    EXPECT_EQ(button(1).state(), 0);
    EXPECT_EQ(button(2).state(), 2);
    manager().soloHardClear();
    EXPECT_EQ(stateOf(3).channelState(), 0u);
    EXPECT_EQ(button(2).state(), 0);
    EXPECT_EQ(ChannelStripManager::colorForIndex(6), (Color{1, 0.5, 0, 1}));
    EXPECT_EQ(ChannelStripManager::colorForIndex(0), (Color{0.5, 0.5, 0.5, 1}));
}

}  // namespace
}  // namespace quenbril
