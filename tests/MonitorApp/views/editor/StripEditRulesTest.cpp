// What the strip editor keeps of typed text, where dragged rows land, and the panel limit.

#include <gtest/gtest.h>

#include "MonitorApp/views/editor/StripDropRule.h"
#include "MonitorApp/views/editor/StripEditRules.h"

namespace quenbril {
namespace {

TEST(StripEditRules, NamesKeepTenCharactersAndNeverSplitOne) {
    EXPECT_EQ(StripEditRules::name("Lead vocal 1"), "Lead vocal");
    EXPECT_EQ(StripEditRules::name("Short"), "Short");
    // Two-byte, three-byte and four-byte characters count once each.
    EXPECT_EQ(StripEditRules::name(QString::fromUtf8("Ünïcödé€😀xyz")), std::string("Ünïcödé€😀x"));
}

TEST(StripEditRules, NumbersAreClampedAndTextThatIsNoNumberKeepsTheOldValue) {
    EXPECT_EQ(StripEditRules::clamped("150", -100, 100, 7), 100);
    EXPECT_EQ(StripEditRules::clamped("-30", -18, 12, 0), -18);
    EXPECT_EQ(StripEditRules::clamped("20", -18, 12, 0), 12);
    EXPECT_EQ(StripEditRules::clamped(" -5 ", -18, 12, 0), -5);
    EXPECT_EQ(StripEditRules::clamped("3.9", -18, 12, 0), 3);
    EXPECT_EQ(StripEditRules::clamped("1e30", -18, 12, 0), 12);
    EXPECT_EQ(StripEditRules::clamped("loud", -18, 12, 4), 4);
    EXPECT_EQ(StripEditRules::clamped("", -100, 100, -9), -9);
    EXPECT_EQ(StripEditRules::clamped("nan", -100, 100, 9), 9);
}

TEST(StripDropRule, DraggedRowsLandWhereTheDropPointsOnceTheyLeft) {
    EXPECT_EQ(StripDropRule::target({0, 1}, 4), 2);
    EXPECT_EQ(StripDropRule::target({3}, 0), 0);
    EXPECT_EQ(StripDropRule::target({2}, 5), 4);
    // A selection on both sides of the drop: only the rows above it count.
    EXPECT_EQ(StripDropRule::target({0, 5, 6, 7}, 2), 1);
    EXPECT_EQ(StripDropRule::target({1, 4}, 3), 2);
    // Onto one of the dragged rows, or nothing dragged: refused.
    EXPECT_EQ(StripDropRule::target({0, 1}, 1), std::nullopt);
    EXPECT_EQ(StripDropRule::target({}, 1), std::nullopt);

    std::vector<char> list{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    StripDropRule::move(list, {7, 0, 5, 6}, 1);
    EXPECT_EQ(list, (std::vector<char>{'b', 'a', 'f', 'g', 'h', 'c', 'd', 'e'}));
    list = {'a', 'b', 'c', 'd', 'e'};
    StripDropRule::move(list, {0, 1}, 3);
    EXPECT_EQ(list, (std::vector<char>{'c', 'd', 'e', 'a', 'b'}));
}

}  // namespace
}  // namespace quenbril
