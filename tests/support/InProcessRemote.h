#pragma once

// The application put together in the test's own process, as the program does, against the
// stand-in on the manual address's port, on an X display: a window test can reach and click its
// widgets and look at the screen. Binaries built on it take InProcessRemoteMain.cpp as their
// main, which makes the application object, its resources and its look.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QPoint>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/app/RemoteComposition.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "foundation/RunLoop.h"
#include "foundation/qt/QtRunLoop.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/support/RemoteSettingsFolder.h"

namespace quenbril::test {

class InProcessRemoteTest : public ::testing::Test {
  protected:
    // A remote's manual address always uses this port, so the stand-in must have it.
    static constexpr uint16_t kManualPort = 57576;
    // Generous for a loaded machine; each wait ends as soon as what it waits for holds.
    static constexpr int kPatienceMs = 40000;

    /// Starts the stand-in with 16 channels and the application; skips without a display or
    /// while another program holds the port.
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (ctest runs xvfb-run)";
        server = std::make_unique<SimServerProcess>(
            std::vector<std::string>{"--port", std::to_string(kManualPort), "--channels", "16"});
        if (server->port() != kManualPort) {
            GTEST_SKIP() << "port " << kManualPort << " is taken: " << server->log();
        }
        ASSERT_FALSE(settings.path().empty());
        ::setenv("XDG_CONFIG_HOME", settings.path().c_str(), 1);
        RunLoop::setMain(&loop);
        composition = std::make_unique<RemoteComposition>();
        composition->start();
    }

    void TearDown() override {
        composition.reset();
        RunLoop::setMain(nullptr);
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

    RemoteSettingsFolder settings;
    std::unique_ptr<SimServerProcess> server;
    QtRunLoop loop;
    std::unique_ptr<RemoteComposition> composition;
};

}  // namespace quenbril::test
