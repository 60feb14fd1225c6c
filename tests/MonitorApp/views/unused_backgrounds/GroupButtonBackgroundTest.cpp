// The patterned group-button background.

#include <gtest/gtest.h>

#include "MonitorApp/views/unused_backgrounds/GroupButtonBackground.h"

namespace quenbril::test {
namespace {

TEST(GroupButtonBackground, StartsPassiveAndSwitchesPatterns) {
    GroupButtonBackground background(QRect(0, 0, 40, 20), 3);
    EXPECT_EQ(&background.currentImage(), &background.passiveColor());
    background.setActive(true);
    EXPECT_EQ(&background.currentImage(), &background.activeColor());
    background.setActive(false);
    EXPECT_EQ(&background.currentImage(), &background.passiveColor());
}

}  // namespace
}  // namespace quenbril::test
