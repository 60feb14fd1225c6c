// The main window hands server messages to its dispatcher and serves as the dispatcher's
// window: the status line, the connection dialog, the performer window, the chat panel and the
// notifier. The dispatcher's own rules are tested in tests/MonitorApp/dispatch.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>

#include "MonitorApp/link/LinkRead.h"
#include "MonitorApp/preferences/PreferencesViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "ViewControllerTestEnvironment.h"
#include "tests/MonitorApp/link/LinkTestSupport.h"

namespace quenbril {
namespace {

TEST_F(ViewControllerTest, ServerMessagesGoToTheDispatcher) {
    buildStrips(3);
    dispatch("MarkerAdded");
    EXPECT_TRUE(vc->dispatcher().markerFlag());
    dispatch("LevelData", Bytes(3, 40));
    EXPECT_EQ(engine().levelRingBuffer().getLatestSample(2), 40);
    EXPECT_EQ(engine().alertRingBuffer().getLatestSample(2), 2);
    EXPECT_THROW(dispatch("LevelData", "loud"), LinkTypeError);
    vc->setResetAlarm(true);
    dispatch("ChannelWarnings", Array{int64_t{2}, 0});
    EXPECT_FALSE(vc->resetAlarm());
}

TEST_F(ViewControllerTest, TheEditingStateShowsInTheStatusLabel) {
    dispatch("OpenedEditing");
    EXPECT_TRUE(vc->statusRightIsRed());
    EXPECT_EQ(vc->rightLabel()->text().toStdString(), "Server editing channels!");
    EXPECT_EQ(vc->rightLabel()->styleSheet().toStdString(), "color: red");

    dispatch("ClosedEditing");  // no client name stored
    EXPECT_FALSE(vc->statusRightIsRed());
    EXPECT_EQ(vc->statusRightText(), "Connected to server");
    EXPECT_EQ(vc->rightLabel()->text().toStdString(), "Connected to server");
    EXPECT_EQ(vc->rightLabel()->styleSheet().toStdString(), "color: white");

    defaults().setObject("FOH", "clientName");
    dispatch("ClosedEditing");
    EXPECT_EQ(vc->rightLabel()->text().toStdString(), "Connected to server as FOH");
}

TEST_F(ViewControllerTest, ClientNamesTitleTheOpenDialogsItemsAndNoMore) {
    ServerManager::resetSharedInstance();
    ServerManager::sharedInstance().setServiceBrowser(std::make_unique<test::FakeServiceBrowser>(
        std::make_shared<test::FakeServiceBrowser::Log>()));
    auto dialog = std::make_shared<PreferencesViewController>(
        UserSettingsManager::sharedInstance(), UserDefaults::standardUserDefaults(),
        ServerManager::sharedInstance(), NotificationCenter::defaultCenter());
    dialog->setGraphicsCheck([] { return true; });
    destinations["showPreferences"] = dialog;
    vc->performSegue("showPreferences");
    ASSERT_EQ(vc->prefViewController(), dialog);
    const int items = dialog->clientID()->count();
    Array names;
    for (int i = 0; i < items + 2; ++i) names.emplace_back("FOH " + std::to_string(i));
    dispatch("ClientNames", names);
    EXPECT_EQ(dialog->clientID()->count(), items);
    EXPECT_EQ(dialog->clientID()->itemText(0).toStdString(), "FOH 0");
    EXPECT_EQ(dialog->clientID()->itemText(items - 1).toStdString(),
              "FOH " + std::to_string(items - 1));
    vc.reset();
    ServerManager::resetSharedInstance();
}

TEST_F(ViewControllerTest, InitialDataReadyRegistersToTheChatOrAlerts) {
    settings().setChatUsername("me");
    dispatch("MasterVersion", 3.8);
    dispatch("InitialDataReady", true);
    auto registrations = sentCommands("RegisterToChat");
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0]["Value"],
              Value(Dictionary{{"sender", "me"}, {"uuid", ChatManager::uuid()}}));
    dispatch("MasterVersion", 3.79);
    dispatch("InitialDataReady", true);
    EXPECT_EQ(alerts.texts.size(), 1u);
}

TEST_F(ViewControllerTest, BatteryReadingsReachThePerformerWindowOfTheirStrip) {
    buildStrips(3);
    auto window = std::make_shared<FakePerformerWindow>();
    destinations["editPlayer"] = window;
    settings().setSelectedTool(1);
    dispatch(
        "WirelessInfo",
        Dictionary{{Value(1),
                    Dictionary{{"Name", "RX2"}, {"Frequency", 550000.0}, {"Quadversity", true}}}});
    NotificationCenter::defaultCenter().post("CSClicked", Dictionary{{"index", int64_t{2}}});
    ASSERT_EQ(vc->playerViewController(), window);
    EXPECT_EQ(window->quadversity, true);

    dispatch("BatteryData", Array{int64_t{1}, 50, int64_t{2}, 80});
    EXPECT_EQ(window->battery, "Receiver RX2 BAT: 80%  FREQ: 550.000 MHz");
    EXPECT_EQ(window->rendererQuadversity, true);
    dispatch("BatteryTimeData", Array{int64_t{2}, "1:20"});
    EXPECT_EQ(window->battery, "Receiver RX2 BAT: 1:20  FREQ: 550.000 MHz");
}

TEST_F(ViewControllerTest, ActiveStripsAreScrolledIntoView) {
    buildStrips(3);
    dispatch("ActiveChannels", Array{int64_t{2}});
    ASSERT_EQ(scroller.views.size(), 1u);
    EXPECT_EQ(scroller.views[0], &viewOf(2));
}

TEST_F(ViewControllerTest, TheOpenChatPanelReloadsAndAPageOpensTheNotifier) {
    auto split = std::make_shared<FakeChatSplit>();
    destinations["showSplit"] = split;
    vc->showHideChat();
    dispatch("ChatMessageHistory", Array{});
    EXPECT_EQ(split->table->reloads, 1);
    EXPECT_EQ(split->table->scrolls, 1);
    dispatch("ChatClients");
    EXPECT_EQ(split->table->clientUpdates, 1);

    settings().setChatUsername("me");
    auto notifier = std::make_shared<FakeChatNotifier>();
    destinations["showChatNotifier"] = notifier;
    dispatch(
        "ChatMessageFromServer",
        Dictionary{{"message", "wake up"}, {"sender", "bob"}, {"type", 5}, {"recipient", "me"}});
    EXPECT_EQ(split->table->reloads, 2);
    EXPECT_TRUE(vc->chatAlarm());
    ASSERT_EQ(notifier->shown, 1);
    EXPECT_EQ(notifier->message, "09:41: wake up");
    EXPECT_EQ(notifier->sender, "bob");
    EXPECT_EQ(vc->cnVC(), notifier);

    // A second page reaches the notifier the controller holds before it is shown again.
    dispatch(
        "ChatMessageFromServer",
        Dictionary{{"message", "again"}, {"sender", "eve"}, {"type", 5}, {"recipient", "All"}});
    EXPECT_EQ(notifier->label, "09:41: again");
    EXPECT_EQ(notifier->resized, 1);
    EXPECT_EQ(notifier->shown, 2);
}

}  // namespace
}  // namespace quenbril
