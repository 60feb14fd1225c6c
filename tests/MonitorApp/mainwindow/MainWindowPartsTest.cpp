// The main window's parts without a window and without Qt: the link's life cycle on the virtual
// clock and the user actions with their segues, each over services handed to it that are not
// the shared instances.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "MonitorApp/app/context/SharedRemoteContext.h"
#include "MonitorApp/dispatch/ServerMessageDispatcher.h"
#include "MonitorApp/mainwindow/LinkLifeCycle.h"
#include "MonitorApp/mainwindow/MainWindowActions.h"
#include "MonitorApp/mainwindow/SegueRouter.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/dispatch/RecordingDispatcherWindow.h"

namespace quenbril {
namespace {

class RecordingWindow : public LinkLifeCycle::Window,
                        public MainWindowActions::Window,
                        public SegueRouter::Window {
  public:
    void updateStatusMessage() override { ++statusUpdates; }
    bool connectionDialogTookConnection() override { return dialogOpen; }
    void connectionDialogDiscoveryUnavailable() override {}
    void setStripsLive(bool on) override { live = on; }
    void setResetAlarm(bool on) override { resetAlarm = on; }
    void setChatAlarm(bool on) override { chatAlarm = on; }
    void prepareConnectionDialog(const std::shared_ptr<SegueDestination>&) override {}
    void alert(const std::string& text) override { alerts.push_back(text); }
    bool linkConnected() const override { return false; }

    int statusUpdates = 0;
    bool dialogOpen = false;
    std::optional<bool> live, resetAlarm, chatAlarm;
    std::vector<std::string> alerts;
};

class Performer : public PerformerWindow {
  public:
    int32_t channelIndex() const override { return channel; }
    int32_t playerIndex() const override { return player; }
    bool isClosed() const override { return false; }
    void setReadOnly(bool) override {}
    void setPlayerIndex(int32_t p) override { player = p; }
    void setChannelIndex(int32_t c) override { channel = c; }
    void setQuadversity(bool) override {}
    void updatePlayer(int32_t p, int32_t c) override {
        player = p;
        channel = c;
        ++updates;
    }
    void updateTitle(int32_t) override {}
    void setBatteryText(const std::string&) override {}
    void setRendererQuadversity(bool) override {}
    void setRendererSingleLine(bool) override {}
    void lock(bool) override {}
    int32_t channel = -1, player = -1;
    int updates = 0;
};

/// The parts over a settings object and a server link of their own: a part that reached for
/// the shared ones would act on those instead.
class MainWindowPartsTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        ownSettings = std::make_unique<UserSettingsManager>(defaults());
        ownLink = std::make_unique<ServerManager>();
        dispatcher =
            std::make_unique<ServerMessageDispatcher>(sharedRemoteContext(clock), dispatcherWindow);
        segues = std::make_unique<SegueRouter>(settings(), *dispatcher, window);
        actions = std::make_unique<MainWindowActions>(
            MainWindowActions::Services{
                PELAudioEngine::sharedInstance(), manager(), NotebookManager::sharedInstance(),
                defaults(), NotificationCenter::defaultCenter(), settings(),
                [] { return static_cast<ClientManager*>(nullptr); }, sender},
            *segues, *dispatcher, window);
        life = std::make_unique<LinkLifeCycle>(
            LinkLifeCycle::Services{settings(), [this]() -> ServerManager& { return *ownLink; },
                                    defaults(), manager(), sender},
            window);
    }
    void TearDown() override {
        life.reset();
        actions.reset();
        segues.reset();
        dispatcher.reset();
        ownLink.reset();
        ownSettings.reset();
        StripTest::TearDown();
    }

    std::function<UserSettingsManager&()> settings() {
        return [this]() -> UserSettingsManager& { return *ownSettings; };
    }
    static UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }

    FixedShortTimeClock clock;
    RecordingDispatcherWindow dispatcherWindow;
    RecordingWindow window;
    std::unique_ptr<UserSettingsManager> ownSettings;
    std::unique_ptr<ServerManager> ownLink;
    std::unique_ptr<ServerMessageDispatcher> dispatcher;
    std::unique_ptr<SegueRouter> segues;
    std::unique_ptr<MainWindowActions> actions;
    std::unique_ptr<LinkLifeCycle> life;
};

TEST_F(MainWindowPartsTest, TheLinksLifeCycleSendsAndConnectsWithWhatItIsGiven) {
    defaults().setObject(7, "clientID");
    ownSettings->setSoloOn(false);
    UserSettingsManager::sharedInstance().setSoloOn(true);

    life->connectedToServer();
    EXPECT_EQ(sender.sent, (std::vector<Dictionary>{{{"Command", "ClientID"}, {"Value", 7}},
                                                    {{"Command", "SoloOn"}, {"Value", false}}}));
    // While the connection dialog is open a connection only updates it.
    sender.sent.clear();
    window.dialogOpen = true;
    life->connectedToServer();
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(window.statusUpdates, 2);

    life->disconnectedFromServer();
    EXPECT_EQ(window.live, false);

    // The timer asks the link it was given to connect once the client role is on.
    defaults().setObject(true, "useManualIP");
    defaults().setObject("127.0.0.1", "manualIP");
    ownLink->setPort(1);
    life->startTimer();
    EXPECT_TRUE(life->isTimerRunning());
    loop_->advance(LinkLifeCycle::kConnectionInterval);
    EXPECT_FALSE(ownLink->previousManualIP()) << "no attempt while the client role is off";
    ownSettings->setActAsClient(true);
    loop_->advance(LinkLifeCycle::kConnectionInterval);
    EXPECT_EQ(ownLink->previousManualIP(), "127.0.0.1");
}

TEST_F(MainWindowPartsTest, ActionsChangeTheGivenSettingsAndOpenThePerformerThroughTheRouter) {
    actions->selectedTool(1);
    EXPECT_EQ(ownSettings->selectedTool(), 1);
    EXPECT_EQ(UserSettingsManager::sharedInstance().selectedTool(), 0);

    buildStrips(3);
    auto performer = std::make_shared<Performer>();
    std::vector<std::string> performed;
    segues->setFactory([&](const std::string& id) -> std::shared_ptr<SegueDestination> {
        performed.push_back(id);
        return id == "editPlayer" ? performer : nullptr;
    });
    actions->csClicked(Notification{"CSClicked", Dictionary{{"index", 2}}});
    EXPECT_EQ(performed, std::vector<std::string>{"editPlayer"});
    EXPECT_EQ(performer->channel, 1);
    EXPECT_EQ(segues->channelIndex(), 1);
    // The open window is pointed at the next strip, not opened again.
    actions->csClicked(Notification{"CSClicked", Dictionary{{"index", 3}}});
    EXPECT_EQ(performed.size(), 1u);
    EXPECT_EQ(performer->updates, 1);
    EXPECT_EQ(performer->channel, 2);
    EXPECT_TRUE(sender.sent.empty()) << "the zoom tool alone sends nothing";

    actions->resetClicked();
    EXPECT_EQ(window.resetAlarm, false);
    EXPECT_EQ(sender.sent.back()["Command"], Value("ResetWarnings"));
}

}  // namespace
}  // namespace quenbril
