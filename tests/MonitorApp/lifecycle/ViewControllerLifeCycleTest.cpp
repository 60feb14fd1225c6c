// The main window's life cycle on the virtual clock: the connection timer, the dialog at first
// appearance, the start of the client, the link callbacks, the status line, the layout and
// what is saved when the window goes away.

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "tests/MonitorApp/lifecycle/LifeCycleTest.h"

namespace quenbril::test {
namespace {

class ViewControllerLifeCycle : public LifeCycleTest {
  protected:
    void SetUp() override {
        LifeCycleTest::SetUp();
        vc->setLinkSender(&sender);
    }
};

TEST_F(ViewControllerLifeCycle, AtFirstLaunchTheConnectionTimerAttemptsNothing) {
    vc->viewDidLoad();
    EXPECT_TRUE(vc->isConnectionTimerRunning());
    loop_->advance(15.0);
    EXPECT_TRUE(browserLog->browsed.empty());

    settings().setChatMode(1);
    loop_->advance(5.0);
    EXPECT_EQ(browserLog->browsed.size(), 1u) << "chat mode 1 connects";
    settings().setChatMode(0);
    settings().setActAsClient(true);
    loop_->advance(5.0);
    EXPECT_EQ(browserLog->browsed.size(), 2u) << "the client role connects";
}

TEST_F(ViewControllerLifeCycle, FirstAppearanceOpensTheDialogWithTheEnginesDevicesAndConnects) {
    EXPECT_EQ(link().delegate(), nullptr);
    vc->viewDidLoad();
    PELAudioEngine::sharedInstance().setCurrentInputDeviceUID("in:1");
    PELAudioEngine::sharedInstance().setCurrentOutputDeviceUID("out:2");
    PELAudioEngine::sharedInstance().setSampleRate(48000.0f);
    vc->viewDidAppear();
    EXPECT_EQ(segues, std::vector<std::string>{"showPreferences"});
    ASSERT_NE(dialog(), nullptr);
    EXPECT_EQ(dialog()->delegate(), vc.get());
    EXPECT_EQ(dialog()->inDeviceUID(), "in:1");
    EXPECT_EQ(dialog()->outDeviceUID(), "out:2");
    EXPECT_EQ(link().delegate(), vc.get());
    EXPECT_EQ(browserLog->browsed, std::vector<std::string>{"_quenbril._tcp."});
    EXPECT_FALSE(vc->openInMenuShown());
    // No role is stored yet, but the dialog makes this station a remote: the status line is
    // the remote's from the start.
    EXPECT_EQ(vc->statusRightText(), "NOT CONNECTED TO SERVER");
    EXPECT_TRUE(vc->statusRightIsRed());
    EXPECT_EQ(vc->rightLabel()->text().toStdString(), "NOT CONNECTED TO SERVER");
    // Without service discovery the dialog says that only an address reaches the server.
    EXPECT_EQ(dialog()->statusText()->text().toStdString(), "Waiting for the server");
    link().browseFailed(Error{"Avahi", -1, "Could not reach the Avahi daemon", {}});
    EXPECT_EQ(dialog()->statusText()->text().toStdString(),
              "The server cannot be found automatically on this network. Tick \"Manual "
              "address\" and enter the server's address.");
    EXPECT_EQ(vc->window()->windowTitle(), "Quenbril 3 Remote");
}

TEST_F(ViewControllerLifeCycle, ConfirmingStartsTheClientOnceAndTheDialogNeverReturns) {
    start();
    dialog()->clientID()->setCurrentIndex(2);
    dialog()->confirmClicked();

    EXPECT_EQ(defaults().integerForKey("clientID"), 2);
    EXPECT_EQ(defaults().stringForKey("clientName"), "Client 3");
    EXPECT_TRUE(settings().actAsClient());
    EXPECT_TRUE(vc->isInitialized());
    EXPECT_EQ(vc->prefViewController(), nullptr);
    EXPECT_TRUE(dialogs[0].expired()) << "the dismissed dialog is released";
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0], (Dictionary{{"Command", "ClientID"}, {"Value", 2}}));

    // The role is stored with the user settings as the dialog goes away.
    UserSettingsManager::resetSharedInstance();
    EXPECT_TRUE(settings().actAsClient());

    vc->viewDidAppear();
    EXPECT_EQ(segues.size(), 1u);

    // A reconnection after the start sends the client id and the solo setting.
    sender.sent.clear();
    settings().setSoloOn(false);
    vc->connectedToServer("127.0.0.1");
    EXPECT_EQ(sender.sent, (std::vector<Dictionary>{{{"Command", "ClientID"}, {"Value", 2}},
                                                    {{"Command", "SoloOn"}, {"Value", false}}}));
}

TEST_F(ViewControllerLifeCycle, WithoutAStoredClientIDNothingIsSent) {
    start();
    dialog()->previousClicked();  // confirms without storing the client id
    EXPECT_TRUE(vc->isInitialized());
    EXPECT_TRUE(sender.sent.empty());

    vc->connectedToServer("127.0.0.1");
    EXPECT_EQ(sender.commands(), std::vector<std::string>{"SoloOn"});
}

TEST_F(ViewControllerLifeCycle, WithTheDialogOpenAConnectionOnlyUpdatesIt) {
    start();
    dialog()->confirmButton()->setText("Start");
    defaults().setInteger(1, "clientID");
    vc->connectedToServer("127.0.0.1");
    EXPECT_EQ(dialog()->confirmButton()->text(), "Confirm");
    EXPECT_EQ(dialog()->statusText()->text(), "Connected to server");
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_FALSE(vc->isInitialized());
}

TEST_F(ViewControllerLifeCycle, ContinueAutomaticallyConfirmsOnConnectionKeepingTheStoredClient) {
    defaults().setInteger(1, "continueAutomatically");
    defaults().setInteger(3, "clientID");
    defaults().setObject(Value("Monitor world"), "clientName");
    start();
    ASSERT_TRUE(dialog()->continueAutomatically()->isChecked());
    EXPECT_EQ(dialog()->clientID()->currentIndex(), 3);
    dialog()->clientID()->setCurrentIndex(0);

    vc->connectedToServer("127.0.0.1");
    EXPECT_TRUE(vc->isInitialized());
    EXPECT_EQ(vc->prefViewController(), nullptr);
    EXPECT_EQ(defaults().integerForKey("clientID"), 3);
    EXPECT_EQ(defaults().stringForKey("clientName"), "Monitor world");
    EXPECT_EQ(sender.sent, (std::vector<Dictionary>{{{"Command", "ClientID"}, {"Value", 3}}}));
}

TEST_F(ViewControllerLifeCycle, AContentViewOf1000PointsGivesSevenColumns) {
    vc->viewDidLoad();
    vc->resize(1200, 600);
    vc->show();
    QScrollArea* scroll = vc->scrollView();
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    int frame = scroll->width() - scroll->viewport()->width();
    scroll->setFixedWidth(1000 + frame);
    ASSERT_EQ(scroll->viewport()->width(), 1000);
    vc->screenResize();
    EXPECT_EQ(settings().columns(), 7);

    scroll->setFixedWidth(100 + frame);
    vc->screenResize();
    EXPECT_EQ(settings().columns(), 1) << "never fewer than one column";
    vc->hide();
}

// The window watches its scroll view from its first appearance: making the shown window wider
// gives more columns, and the strips move into them once the layout delay has passed.
TEST_F(ViewControllerLifeCycle, ResizingTheShownWindowLaysTheStripsOutAnew) {
    vc->viewDidLoad();
    vc->setStripArea(&area);
    buildStrips(12);
    vc->resize(1100, 600);
    vc->show();
    vc->viewDidAppear();
    vc->viewDidAppear();  // a second appearance adds no second watcher
    vc->updateChannelStrips();
    loop_->advance(ViewController::kLayoutDelay);
    const int narrow = settings().columns();
    ASSERT_LT(narrow, 12);
    FakeStripView& last = viewOf(12);
    ASSERT_TRUE(area.placed.contains(&last));
    EXPECT_GT(area.placed[&last].frame.y, 0.0) << "the twelfth strip starts a second row";
    const int scrolls = area.scrolls;

    vc->resize(1800, 600);
    const int wide = vc->scrollView()->viewport()->width() / ViewController::kColumnWidth;
    ASSERT_GE(wide, 12);
    EXPECT_EQ(settings().columns(), wide);
    EXPECT_EQ(area.scrolls, scrolls + 1) << "one layout for one resize";
    EXPECT_GT(area.placed[&last].frame.y, 0.0) << "the strips wait for the layout delay";
    loop_->advance(ViewController::kLayoutDelay);
    EXPECT_EQ(area.placed[&last].frame.y, 0.0) << "all twelve strips fit in one row";
    vc->hide();
}

TEST_F(ViewControllerLifeCycle, ChannelsLayTheStripsOutInTheStripArea) {
    vc->viewDidLoad();
    vc->setStripArea(&area);
    buildStrips(2);
    vc->updateChannelStrips();
    EXPECT_EQ(manager().superView(), &area);
    EXPECT_GT(area.scrolls, 0) << "the top of the strip area is shown";
    loop_->advance(ViewController::kLayoutDelay);
    EXPECT_EQ(area.placed.size(), 2u);
}

TEST_F(ViewControllerLifeCycle, GoingAwaySavesTheFrameAndTheSettingsRecord) {
    start();
    dialog()->confirmClicked();
    buildStrips(2);
    // As wide as the screen allows (the test's screen is narrower than the least width).
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame(screen.x(), screen.y() + 50, screen.width(), 700);
    vc->setGeometry(frame);
    vc->viewWillDisappear();

    auto record = defaults().dictionaryForKey("Settings");
    ASSERT_TRUE(record);
    ASSERT_TRUE((*record)["chanList"].isArray());
    EXPECT_EQ((*record)["chanList"].count(), 2u);
    EXPECT_EQ((*record)["chatOpen"], Value(false));
    EXPECT_EQ((*record)["playerOpen"], Value(false));
    EXPECT_EQ((*record)["outputChannel"], Value(0));
    EXPECT_FALSE(record->contains("inputDeviceUID"));
    EXPECT_EQ(defaults().stringForKey("mainWindowAutoSave2"),
              WindowFrameAutosave::frameText(frame));

    // The next run puts the window back where it was.
    ViewController next(sharedMainWindowServices());
    next.viewDidLoad();
    next.setSegueFactory([](const std::string&) { return nullptr; });
    next.viewDidAppear();
    EXPECT_EQ(next.geometry(), frame);
}

TEST_F(ViewControllerLifeCycle, AStoredOpenChatReopensWhenTheClientStarts) {
    defaults().setObject(Value(Dictionary{{"chatOpen", true}}), "Settings");
    start();
    dialog()->confirmClicked();
    EXPECT_EQ(segues, (std::vector<std::string>{"showPreferences", "showSplit"}));
}

TEST_F(ViewControllerLifeCycle, NoStripIsKnownByChannelNumber) {
    vc->viewDidLoad();
    buildStrips(2);
    EXPECT_EQ(vc->stripForChan(0), nullptr);
    EXPECT_EQ(vc->stripForChan(1), nullptr);
}

TEST_F(ViewControllerLifeCycle, CanOpenChecksTheChannelCount) {
    vc->viewDidLoad();
    EXPECT_TRUE(vc->canOpen(Dictionary{{"channels", Array{}}}));
    EXPECT_FALSE(vc->canOpen(Dictionary{{"channels", Array{Value(1)}}}));
    EXPECT_EQ(alerts.texts, std::vector<std::string>{"Wrong amount of channels"});
}

}  // namespace
}  // namespace quenbril::test
