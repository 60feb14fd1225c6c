#pragma once

// The application put together in the test's own process, as the program does, against the
// stand-in on the manual address's port, on an X display: a window test can reach and click its
// widgets and look at the screen. Its sound systems are fakes (FakeSoundBackends.h): none of the
// machine's is asked. Binaries built on it take InProcessRemoteMain.cpp as their main, which
// makes the application object, its resources and its look.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QPoint>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/app/RemoteComposition.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatMacroManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "foundation/qt/QtRunLoop.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/support/FakeSoundBackends.h"
#include "tests/support/RemoteSettingsFolder.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

class InProcessRemoteTest : public ::testing::Test {
  protected:
    // A remote's manual address always uses this port, so the stand-in must have it.
    static constexpr uint16_t kManualPort = 57576;
    // Generous for a loaded machine; each wait ends as soon as what it waits for holds. Already
    // stretched for this build (TestTime.h): hand it to QTest's own waits, not to QtTestTime.h's.
    static inline const int kPatienceMs = scaledMs(40000);

    /// Starts the stand-in with 16 channels and the application; skips without a display or
    /// while another program holds the port.
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (ctest runs xvfb-run)";
        if (auto refusal = startStandIn(); !refusal.empty()) GTEST_SKIP() << refusal;
        ASSERT_FALSE(settings.path().empty());
        ::setenv("XDG_CONFIG_HOME", settings.path().c_str(), 1);
        RunLoop::setMain(&loop);
        // Each case starts as a new run of the program would: the store reads this case's
        // folder, and no link, strip or setting is left from the case before.
        freshSharedInstances();
        composition = std::make_unique<RemoteComposition>();
        composition->start();
    }

    void TearDown() override {
        composition.reset();
        // The link closes while its run loop still turns.
        freshSharedInstances();
        QCoreApplication::processEvents();
        RunLoop::setMain(nullptr);
    }

    /// Drops the shared instances the application is made over, and the defaults store.
    static void freshSharedInstances() {
        ServerManager::resetSharedInstance();
        ChannelStripManager::resetSharedInstance();
        PELAudioEngine::resetSharedInstance();
        ChatManager::resetSharedInstance();
        ChatColorManager::resetSharedInstance();
        ChatMacroManager::resetSharedInstance();
        NotebookManager::resetSharedInstance();
        UserSettingsManager::resetSharedInstance();
        PlaybackManager::resetSharedInstance();
        PlayerManager::resetSharedInstance();
        LTCManager::resetSharedInstance();
        ColorHelper::resetSharedInstance();
        UserDefaults::resetStandardUserDefaults();
    }

    /// The view of the strip at `index` of the strip list, as a widget; none before it exists.
    static QWidget* stripWidget(size_t index) {
        const auto& controllers = ChannelStripManager::channelStripControllers();
        if (index >= controllers.size() || !controllers[index]->view()) return nullptr;
        return dynamic_cast<QWidget*>(controllers[index]->view());
    }

    /// Waits until the server is here (connected, its whole state in) and the strip at `index`
    /// is shown: before that, what the user does is not sent.
    bool liveStripShown(size_t index) const {
        return QTest::qWaitFor(
            [&] {
                QWidget* strip = stripWidget(index);
                return composition->viewController().serverIsHere() && strip && strip->isVisible();
            },
            kPatienceMs);
    }

    /// A press and release where the user's pointer would land in the widget's window: the
    /// window finds what lies there, so the press passes over what lets it through.
    static void clickAt(QWidget& widget, QPoint at) {
        QTest::mouseClick(widget.window()->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          widget.mapTo(widget.window(), at));
    }

    // First: it outlives everything the remote made.
    FakeSoundBackends sound;
    RemoteSettingsFolder settings;
    /// Starts the stand-in afresh with 16 channels; why the remote cannot reach it, empty when
    /// it can. Another suite on this machine may take the port while no stand-in holds it, as
    /// between a test's stop of the stand-in and its return.
    std::string startStandIn() {
        server.reset();
        server = std::make_unique<SimServerProcess>(
            std::vector<std::string>{"--port", std::to_string(kManualPort), "--channels", "16"});
        return manualAddressRefusal(*server);
    }

    std::unique_ptr<SimServerProcess> server;
    QtRunLoop loop;
    std::unique_ptr<RemoteComposition> composition;
};

}  // namespace quenbril::test
