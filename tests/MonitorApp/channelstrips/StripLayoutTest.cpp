#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quenbril
