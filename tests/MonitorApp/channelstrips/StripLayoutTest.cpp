#include <gtest/gtest.h>

#include "MonitorApp/channelstrips/FlatPairs.h"
#include "MonitorApp/channelstrips/StripLayout.h"

namespace quenbril {
namespace {

TEST(StripLayout, CellsFillRowsOfColumnsAndPanelsHaveARowToSpare) {
    EXPECT_EQ(stripCell(0, 8), (StripCell{0, 0}));
    EXPECT_EQ(stripCell(7, 8), (StripCell{0, 7}));
    EXPECT_EQ(stripCell(8, 8), (StripCell{1, 0}));
    EXPECT_EQ(stripCell(3, 0), (StripCell{3, 0})) << "zero columns count as one";
    EXPECT_EQ(stripCell(3, -4), (StripCell{3, 0}));
    // A panel has a row to spare and fills the scroll view.
    EXPECT_EQ(panelHeight(16, 8, 100), 3 * 128);
    EXPECT_EQ(panelHeight(15, 8, 100), 2 * 128);
    EXPECT_EQ(panelHeight(0, 8, 700), 700);
    EXPECT_EQ(panelHeight(5, 0, 0), 6 * 128);
}

TEST(StripLayout, GroupButtonsShareTheWidthAndPanelsCompareExactly) {
    EXPECT_EQ(groupButtonFrame(0, {800, 40}), (Rect{0, 0, 100, 40}));
    EXPECT_EQ(groupButtonFrame(7, {800, 40}), (Rect{700, 0, 100, 40}));
    EXPECT_TRUE(isPanelB(std::string("B")));
    EXPECT_FALSE(isPanelB(std::string("b")));
    EXPECT_FALSE(isPanelB(std::nullopt));
    EXPECT_FALSE(panelEquals(std::string("C"), "A"));
    EXPECT_EQ(panelName(0), "A");
    EXPECT_EQ(panelName(5), "B");
}

std::vector<std::pair<int64_t, Value>> pairsOf(const Array& values) {
    std::vector<std::pair<int64_t, Value>> pairs;
    forEachIdValuePair(values, "test",
                       [&](int64_t id, const Value& v) { pairs.emplace_back(id, v); });
    return pairs;
}

TEST(FlatPairs, PendingIdRule) {
    using P = std::vector<std::pair<int64_t, Value>>;
    EXPECT_EQ(pairsOf({10, 1, 20, 3}), (P{{10, Value(1)}, {20, Value(3)}}));
    // An id of 0 starts no pair: the element after it is taken as the next id.
    EXPECT_EQ(pairsOf({0, 10, 2}), (P{{10, Value(2)}}));
    // A trailing id without a value gives nothing.
    EXPECT_EQ(pairsOf({10, 1, 20}), (P{{10, Value(1)}}));
    // An id of the wrong kind is skipped; values of any kind are handed on.
    EXPECT_EQ(pairsOf({"x", 10, "AB"}), (P{{10, Value("AB")}}));
    EXPECT_TRUE(pairsOf({}).empty());
}

}  // namespace
}  // namespace quenbril
