#pragma once

#include <gtest/gtest.h>

#include <QMenuBar>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/mainwindow/LinkSenders.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/views/GroupButton.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/link/LinkTestSupport.h"
#include "tests/support/FakeSoundBackends.h"

namespace quenbril::test {

/// The application's main window and delegate over fresh shared instances and settings, with
/// recording alerts and file panels, a recording sender and segues that record and open
/// nothing. The window is not shown until a test shows it. The sound systems are fakes.
class AppTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        makeApplication();
    }

    void TearDown() override {
        dropApplication();
        loop_->runPending();
        StripTest::TearDown();
    }

    /// Makes the application again over fresh shared instances, which read the settings file as
    /// it is now, as the next start of the program would. Not launched yet.
    void startAgain() {
        dropApplication();
        restart();
        resetShared();
        manager().setLinkSender(&sender);
        makeApplication();
    }

  private:
    void makeApplication() {
        ServerManager::resetSharedInstance();
        ChatManager::resetSharedInstance();
        ServerManager::sharedInstance().setServiceBrowser(
            std::make_unique<FakeServiceBrowser>(std::make_shared<FakeServiceBrowser::Log>()));
        controller = new ViewController(sharedMainWindowServices());
        connectLinkSenders(&sender, *controller);
        controller->setAlertPresenter(&alerts);
        controller->setSegueFactory([this](const std::string& id) {
            segues.push_back(id);
            return std::shared_ptr<SegueDestination>();
        });
        window = std::make_unique<MainWindow>(controller);
        // A close ends no run loop here: an exit would make every later dialog's loop return
        // at once.
        window->setQuitHandler([this] { ++quits; });
        delegate = std::make_unique<AppDelegate>(*window->menuBar(), alerts, files);
        delegate->setQuitHandler([this] { ++quits; });
    }

    void dropApplication() {
        delegate.reset();
        connectLinkSenders(nullptr, *controller);
        window.reset();
        ServerManager::resetSharedInstance();
        ChatManager::resetSharedInstance();
    }

  protected:
    /// The header's group row made of the real buttons, and the link pointed at a loopback
    /// server in the remote role (the mode labels show only while the link is up). A test that
    /// calls it puts the default button factory back with `setButtonFactory(nullptr)`.
    void useRealGroupButtonsAndLinkTo(const FrameServer& server) {
        GroupButtonContainerWidget::setButtonFactory(
            [](QWidget& parent, const std::string& text, const std::optional<Color>& color,
               const Rect& frame, int32_t groupNumber) -> GroupButtonView* {
                return new GroupButton(parent, text, color, frame, groupNumber,
                                       NotificationCenter::defaultCenter());
            });
        ServerManager::sharedInstance().setPort(server.port());
        // The frame server sends only what the test gives it, so the link's reads wait as long as
        // the test takes: a loaded machine may take longer than the 5 s a real server, which
        // sends all the time, never lets pass without a byte.
        ServerManager::sharedInstance().setReadTimeout(3600.0);
        defaults().setInteger(1, "useManualIP");
        defaults().setObject(Value("127.0.0.1"), "manualIP");
        settings().setActAsClient(true);
    }

    /// Loads the view and finishes the launch, as the application starts.
    void launch() {
        controller->viewDidLoad();
        delegate->applicationDidFinishLaunching();
    }

    // First: it outlives everything the application made, TearDown() included.
    FakeSoundBackends sound;
    ViewController* controller = nullptr;  // owned by the window
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<AppDelegate> delegate;
    RecordingAlerts alerts;
    RecordingFilePanel files;
    std::vector<std::string> segues;
    int quits = 0;
};

}  // namespace quenbril::test
