#include <gtest/gtest.h>

#include "MonitorApp/channelstrips/SnapshotManager.h"

namespace quenbril {
namespace {

TEST(Snapshot, DictionaryRoundTrip) {
    const Dictionary d{
        {"title", "Act 1"},
        {"orderIndex", 4},
        {"midiB1", 10},
        {"midiB2", 20},
        {"midiChannel", 3},
        {"midiCommand", 176},
        {"groupNames", Array{"none", "Strings", "Brass"}},
        {"channelSettings", Array{Dictionary{{"csID", int64_t{1} << 33}, {"groupIndex", 2}}}}};
    const Snapshot s = SnapshotManager::snapshotFromDictionary(d);
    ASSERT_EQ(s.channelSettings().size(), 1u);
    EXPECT_EQ(s.channelSettings()[0].csID(), int64_t{1} << 33);
    EXPECT_EQ(s.property(), d);
}

TEST(Snapshot, MissingAndWrongKindsReadAsMissingAndKeepGroupPositions) {
    const Snapshot empty = SnapshotManager::snapshotFromDictionary({});
    EXPECT_EQ(empty.title(), "");
    EXPECT_EQ(empty.midiB1(), 0);
    EXPECT_TRUE(empty.groupNames().empty());
    EXPECT_TRUE(empty.channelSettings().empty());

    const Snapshot s = SnapshotManager::snapshotFromDictionary(
        {{"title", 5},
         {"groupNames", Array{"", 7, "Two"}},
         {"channelSettings", Array{"junk", Dictionary{{"csID", "x"}, {"groupIndex", 3}}}}});
    EXPECT_EQ(s.title(), "");
    EXPECT_EQ(s.groupNames(), (std::vector<std::string>{"", "", "Two"}));
    ASSERT_EQ(s.channelSettings().size(), 1u);
    EXPECT_EQ(s.channelSettings()[0].csID(), 0);
    EXPECT_EQ(s.channelSettings()[0].groupIndex(), 3);
}

}  // namespace
}  // namespace quenbril
