#include <gtest/gtest.h>

#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QWidget>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/views/BlankLevelDisplay.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "MonitorApp/views/GPURenderer.h"
#include "MonitorApp/views/PanelLevelDisplay.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/views/SharedLevelDisplayServices.h"

namespace quenbril {
namespace {

using PanelLevelDisplayTest = StripTest;

TEST_F(PanelLevelDisplayTest, OffscreenGivesABlankDisplayThatStillServesTheStripManager) {
    ASSERT_FALSE(levelDisplaysCanDraw());
    std::unique_ptr<LevelDisplay> display =
        makePanelLevelDisplay(PELAudioEngine::sharedInstance(), sharedLevelDisplayServices());
    auto* blank = dynamic_cast<BlankLevelDisplay*>(display.get());
    ASSERT_NE(blank, nullptr);

    PanelRenderer& renderer = display->renderer();
    EXPECT_EQ(renderer.panelMap()[0], 0);
    EXPECT_EQ(renderer.panelMap()[127], 127);
    renderer.panelMap()[0] = 7;
    renderer.setLevelCount(3);
    renderer.setPanelIndex(1);
    renderer.drawableSizeWillChange(Size{640.9, -3});
    EXPECT_EQ(blank->levelMap().panelMap()[0], 7);
    EXPECT_EQ(blank->levelMap().levelCount(), 3);
    EXPECT_EQ(blank->levelMap().panelIndex(), 1);
    EXPECT_EQ(blank->levelMap().viewportSize(), (std::array<uint32_t, 2>{640, 0}));
    display->start(10);
    EXPECT_EQ(blank->framesPerSecond(), 10);
}

TEST_F(PanelLevelDisplayTest, TheBlankDisplayPaintsNothingOverWhatLiesBeneath) {
    QWidget parent;
    parent.resize(200, 200);
    parent.setStyleSheet("background: rgb(0, 0, 255)");
    std::unique_ptr<LevelDisplay> display =
        makePanelLevelDisplay(PELAudioEngine::sharedInstance(), sharedLevelDisplayServices());
    display->view().setParent(&parent);
    display->view().setGeometry(0, 0, 200, 200);
    parent.show();
    display->view().show();
    const QImage image = parent.grab().toImage();
    EXPECT_EQ(QColor(image.pixel(100, 100)), QColor(0, 0, 255));
    display->view().setParent(nullptr);
}

TEST_F(PanelLevelDisplayTest, TheBlankDisplayTakesTheDisplaysKeys) {
    buildStrips(3);
    settings().setSoloOn(true);
    settings().setPrevSoloIndex(0);
    stateOf(2).setChannelState(2);
    std::unique_ptr<LevelDisplay> display =
        makePanelLevelDisplay(PELAudioEngine::sharedInstance(), sharedLevelDisplayServices());
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QCoreApplication::sendEvent(&display->view(), &right);
    EXPECT_EQ(settings().prevSoloIndex(), 1);
    EXPECT_TRUE(right.isAccepted());
}

// The displays answer keys and tell the lock with the services they are made with.
TEST_F(PanelLevelDisplayTest, TheDisplaysReadAndTellTheServicesTheyAreMadeWith) {
    UserDefaults defaults(root_ + "/own", "Own");
    UserSettingsManager own(defaults);
    own.setMicCheckMode(true);
    NotificationCenter center;
    int ownAnswers = 0;
    int sharedAnswers = 0;
    const NotificationObserver mine =
        center.addObserver(kMicCheckKeyNotification, [&](const Notification&) { ++ownAnswers; });
    const NotificationObserver shared = NotificationCenter::defaultCenter().addObserver(
        kMicCheckKeyNotification, [&](const Notification&) { ++sharedAnswers; });
    const LevelDisplayServices services = sharedLevelDisplayServices();
    const LevelDisplayServices given{own, services.strips, services.playback, center,
                                     services.colors};

    BlankLevelDisplay blank(given);
    QKeyEvent y(QEvent::KeyPress, Qt::Key_Y, Qt::NoModifier, QStringLiteral("y"));
    QCoreApplication::sendEvent(&blank, &y);
    EXPECT_EQ(ownAnswers, 1);
    EXPECT_EQ(sharedAnswers, 0);

    ClickableMTKView view(given);
    EXPECT_TRUE(view.drawsLines());
    own.setIsLocked(true);
    EXPECT_FALSE(view.drawsLines()) << "its own settings are locked, the shared ones are not";
}

// The renderer draws the histories of the engine it was given once, whatever engine is shared.
TEST_F(PanelLevelDisplayTest, TheRendererDrawsTheLevelsOfTheEngineItWasGiven) {
    PELAudioEngine own(true, UserSettingsManager::kMinLongRingBufLen);
    CharRingBuffer& levels = own.levelRingBuffer();
    for (int c = 0; c < levels.bufferLen(); ++c) levels.data()[0][c] = 100;

    ClickableMTKView view(sharedLevelDisplayServices());
    GPURenderer ownRenderer(view, own, settings(), ColorHelper::sharedInstance());
    GPURenderer sharedRenderer(view, PELAudioEngine::sharedInstance(), settings(),
                               ColorHelper::sharedInstance());
    for (GPURenderer* renderer : {&ownRenderer, &sharedRenderer}) {
        renderer->setLevelCount(1);
        renderer->updateState(Size{512, 512}, 512);
    }
    // The same point of the first strip's line lies higher on the own engine's loud history.
    ASSERT_FALSE(ownRenderer.audioVertices().empty());
    EXPECT_GT(ownRenderer.audioVertices()[0].y, sharedRenderer.audioVertices()[0].y);
}

}  // namespace
}  // namespace quenbril
