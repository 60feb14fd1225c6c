// The OpenGL panel and single-channel views apart from their drawing (offscreen): what they
// read for a frame and the panel view's keys.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/views/legacy_gl/GLPanelView.h"
#include "MonitorApp/views/legacy_gl/SingleEAGLView.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
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

// Both views draw from the settings and the engine they were made with, whatever is shared.
TEST_F(GLPanelViewTest, TheViewsReadTheSettingsAndEngineTheyWereMadeWith) {
    UserDefaults defaults(root_ + "/own", "Own");
    UserSettingsManager own(defaults);
    own.setColumns(settings().columns() + 3);
    own.setLongRingBufLen(UserSettingsManager::kMinLongRingBufLen);
    own.setShowAudio(!settings().showAudio());
    PELAudioEngine engine(true, UserSettingsManager::kMinLongRingBufLen);
    const LevelDisplayServices services = sharedLevelDisplayServices();
    const LevelDisplayServices mine{own, services.strips, services.playback, services.center,
                                    services.colors};

    EXPECT_EQ(GLPanelView(mine).frame().columns, own.columns());
    const SingleEAGLFrame frame = SingleEAGLView(engine, mine).frame();
    EXPECT_EQ(frame.points, UserSettingsManager::kMinLongRingBufLen);
    EXPECT_EQ(frame.showAudio, own.showAudio());
    EXPECT_EQ(frame.histories.level, &engine.levelRingBuffer());
    EXPECT_EQ(frame.histories.quality, &engine.qlRingBuffer());
}

}  // namespace
}  // namespace quenbril
