// The OpenGL panel view apart from its drawing (offscreen): what it reads for a frame from the
// strip list and its keys.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/views/legacy_gl/GLPanelView.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/views/SharedLevelDisplayServices.h"

namespace quenbril {
namespace {

using GLPanelViewTest = StripTest;

TEST_F(GLPanelViewTest, TheTimecodeListKeepsStripsInRangeAndTakesTheirSignals) {
    buildStrips(2);
    stateOf(2).timeCodeSample()->fill(0.5f);
    GLPanelView view(sharedLevelDisplayServices());
    view.setLevelCount(200);
    view.setLtcArray({-1, 1, 128, 2, 100000});
    const GLPanelFrame frame = view.frame();
    EXPECT_EQ(frame.ltc.count(), 2u);
    EXPECT_TRUE(frame.ltc[1]);
    ASSERT_NE(frame.timecode[1], nullptr);  // the strip at index 1 of the panel
    EXPECT_FLOAT_EQ(frame.timecode[1][0], 0.5f);
    // Strip 2 is beyond the strip list: squeezed, but no signal.
    EXPECT_TRUE(frame.ltc[2]);
    EXPECT_EQ(frame.timecode[2], nullptr);
    EXPECT_EQ(frame.levelCount, 200);
}

TEST_F(GLPanelViewTest, TheViewTakesTheSoloKeysButNotTheMicCheckAnswers) {
    buildStrips(3);
    int micCheckKeys = 0;
    const auto observer = NotificationCenter::defaultCenter().addObserver(
        kMicCheckKeyNotification, [&](const Notification&) { ++micCheckKeys; });
    settings().setMicCheckMode(true);
    settings().setSoloOn(true);
    settings().setPrevSoloIndex(0);
    stateOf(2).setChannelState(2);
    GLPanelView view(sharedLevelDisplayServices());

    QKeyEvent y(QEvent::KeyPress, Qt::Key_Y, Qt::NoModifier, QStringLiteral("y"));
    QCoreApplication::sendEvent(&view, &y);
    EXPECT_EQ(micCheckKeys, 0);
    EXPECT_FALSE(y.isAccepted());

    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &right);
    EXPECT_EQ(settings().prevSoloIndex(), 1);
    EXPECT_TRUE(right.isAccepted());
}

}  // namespace
}  // namespace quenbril
