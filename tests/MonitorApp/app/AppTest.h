#pragma once

#include <gtest/gtest.h>

#include <QMenuBar>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/app/AppDelegate.h"
#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/mainwindow/LinkSenders.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/link/LinkTestSupport.h"

namespace quenbril::test {

/// The application's main window and delegate over fresh shared instances and settings, with
/// recording alerts and file panels, a recording sender and segues that record and open
/// nothing. The window is not shown until a test shows it.
class AppTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
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

    void TearDown() override {
        delegate.reset();
        connectLinkSenders(nullptr, *controller);
        window.reset();
        ServerManager::resetSharedInstance();
        ChatManager::resetSharedInstance();
        loop_->runPending();
        StripTest::TearDown();
    }

    /// Loads the view and finishes the launch, as the application starts.
    void launch() {
        controller->viewDidLoad();
        delegate->applicationDidFinishLaunching();
    }

    ViewController* controller = nullptr;  // owned by the window
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<AppDelegate> delegate;
    RecordingAlerts alerts;
    RecordingFilePanel files;
    std::vector<std::string> segues;
    int quits = 0;
};

}  // namespace quenbril::test
