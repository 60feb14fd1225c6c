#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/mainwindow/LinkSenders.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/preferences/PreferencesViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/link/LinkTestSupport.h"
#include "tests/support/FakeSoundBackends.h"

namespace quenbril::test {

/// A main window controller over fresh shared instances, composed as the application composes
/// it (every sender holds the shared server link, which browses with a scripted browser), and a
/// segue factory that makes real connection dialogs (recording every segue performed). The sound
/// systems are fakes.
class LifeCycleTest : public StripTest {
  protected:
    void SetUp() override {
        StripTest::SetUp();
        ServerManager::resetSharedInstance();
        ChatManager::resetSharedInstance();
        browserLog = std::make_shared<FakeServiceBrowser::Log>();
        link().setServiceBrowser(std::make_unique<FakeServiceBrowser>(browserLog));
        vc = std::make_unique<ViewController>(sharedMainWindowServices());
        connectLinkSenders(&link(), *vc);
        vc->setAlertPresenter(&alerts);
        vc->setSegueFactory([this](const std::string& id) -> std::shared_ptr<SegueDestination> {
            segues.push_back(id);
            if (id != "showPreferences") return nullptr;
            auto dialog = std::make_shared<PreferencesViewController>(
                settings(), defaults(), link(), NotificationCenter::defaultCenter());
            dialog->setGraphicsCheck([] { return true; });
            dialog->setAlertPresenter(&alerts);
            if (configureDialog) configureDialog(*dialog);
            dialogs.push_back(dialog);
            return dialog;
        });
    }

    void TearDown() override {
        connectLinkSenders(nullptr, *vc);  // the shared link goes first
        vc.reset();
        ServerManager::resetSharedInstance();
        ChatManager::resetSharedInstance();
        loop_->runPending();
        StripTest::TearDown();
    }

    /// The machine's audio devices as the window sees them: none unless a test adds some before
    /// start(). It outlives every test, since the dialog's device list is read on another thread.
    static FakeAudioBackendWithAbsence& fakeAudio() { return FakeSoundBackends::audio(); }

    static ServerManager& link() { return ServerManager::sharedInstance(); }
    static UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }

    /// Loads the window and shows it: the connection dialog opens.
    void start() {
        vc->viewDidLoad();
        vc->viewDidAppear();
    }
    PreferencesViewController* dialog() const { return vc->prefViewController().get(); }

    bool waitFor(const std::function<bool()>& done, double seconds = kNetWait) {
        return loop_->runUntil(done, seconds);
    }

    // First: it outlives everything the window made, TearDown() included.
    FakeSoundBackends sound;
    std::unique_ptr<ViewController> vc;
    std::shared_ptr<FakeServiceBrowser::Log> browserLog;
    RecordingAlerts alerts;
    std::vector<std::string> segues;
    std::vector<std::weak_ptr<PreferencesViewController>> dialogs;
    /// Applied to every dialog the segue makes.
    std::function<void(PreferencesViewController&)> configureDialog;
};

}  // namespace quenbril::test
