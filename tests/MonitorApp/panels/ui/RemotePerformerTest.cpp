// The performer window of the real application against the stand-in, on an X display: with the
// zoom tool a click on a strip opens the window of that strip's performer, a click at half the
// history's width makes the stand-in replay the strip from two and a half minutes back, and
// back-to-live and a click on another strip end the replay. The application is put together in
// this process as the program does, so that the test can click its windows.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <memory>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/PlayerStripLookup.h"
#include "MonitorApp/panels/ui/EKGScrollView.h"
#include "MonitorApp/panels/ui/PlayerViewController.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/ClickableMTKView.h"
#include "tests/support/InProcessRemote.h"

using namespace quenbril;
using namespace quenbril::test;

namespace {

PlayerViewController* openPerformerWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* window = dynamic_cast<PlayerViewController*>(widget);
        if (window && window->isVisible()) return window;
    }
    return nullptr;
}

class RemotePerformer : public InProcessRemoteTest {};

TEST_F(RemotePerformer, AStripClickOpensItsPerformerAndAHistoryClickReplaysIt) {
    ASSERT_TRUE(liveStripShown(3)) << "no strips came";
    // The stand-in announces its cast after the strips.
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            return PlayerStripLookup::indexOfPlayerInChannelStripIndex(
                       ChannelStripManager::sharedInstance(), 1) >= 0;
        },
        kPatienceMs))
        << "no players came";
    UserSettingsManager::sharedInstance().setSelectedTool(1);

    clickAt(*stripWidget(1), QPoint(64, 64));
    PlayerViewController* window = nullptr;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return (window = openPerformerWindow()) != nullptr; }, kPatienceMs));
    const ChannelStripModel& model = ChannelStripManager::channelStripControllers()[1]->model();
    EXPECT_EQ(window->windowTitle().toStdString(),
              model.name().value_or("") + " - Input " + std::to_string(model.audioInput() + 1));
    EXPECT_FALSE(window->nameField()->text().isEmpty()) << window->playerIndex();
    EXPECT_EQ(window->nameField()->text().toStdString() + " as " +
                  window->roleField()->text().toStdString(),
              model.playerName().value_or(""));
    EXPECT_EQ(window->channelIndex(), 1);
    // The strip's model is read now: a reconnection during a wait below rebuilds every strip.
    const auto csID = model.csID();

    ClickableMTKView* history = window->scrollView()->mtkView();
    ASSERT_NE(history, nullptr);
    // The click waits for the history on screen: its window shown, its figures there and a
    // frame drawn at its size.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return history->isVisible() && history->width() > 0 && window->windowHandle() &&
                   window->windowHandle()->isExposed() && history->audioHistoryAvailable() &&
                   history->framesDrawn() > 0;
        },
        kPatienceMs));
    clickAt(*history, QPoint(history->width() / 2, history->height() / 2));
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 7204864);
    EXPECT_EQ(window->battery()->text().toStdString(), "PLAYING BACK 2 MIN 30 SECS AGO");
    const std::string replay = "replays strip " + std::to_string(csID) + " from 150.1 s ago";
    EXPECT_TRUE(QTest::qWaitFor([&] { return server->log().find(replay) != std::string::npos; },
                                kPatienceMs))
        << server->log();

    window->backToLiveButton()->click();
    EXPECT_EQ(PlaybackManager::sharedInstance().delayInSamples(), 0);
    EXPECT_EQ(window->battery()->text().toStdString(), "");

    // Another strip rebinds the open window.
    clickAt(*stripWidget(3), QPoint(64, 64));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->channelIndex() == 3; }, kPatienceMs));
    EXPECT_EQ(openPerformerWindow(), window);
    window->close();
    EXPECT_TRUE(window->isClosed());
}

}  // namespace
