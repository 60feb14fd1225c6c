#include <gtest/gtest.h>

#include <QComboBox>
#include <cstring>

#include "MonitorApp/link/LinkRead.h"
#include "MonitorApp/preferences/PreferencesViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "ViewControllerTestEnvironment.h"
#include "tests/MonitorApp/link/LinkTestSupport.h"

namespace quenbril {
namespace {

Bytes bytes(size_t n, uint8_t value) { return Bytes(n, value); }

Bytes floats(std::initializer_list<float> values) {
    Bytes out;
    for (float f : values) {
        uint8_t b[4];
        std::memcpy(b, &f, 4);
        out.insert(out.end(), b, b + 4);
    }
    return out;
}

TEST_F(ViewControllerTest, ALevelFrameOf200BytesWrites128LevelAnd128AlertBytes) {
    const int levelStart = engine().levelRingBuffer().bufferStart();
    dispatch("LevelData", bytes(200, 40));
    EXPECT_EQ(engine().levelRingBuffer().bufferStart(), levelStart + 1);
    EXPECT_EQ(newest(engine().levelRingBuffer()), std::vector<int8_t>(128, 40));
    EXPECT_EQ(newest(engine().alertRingBuffer()), std::vector<int8_t>(128, 0));
}

TEST_F(ViewControllerTest, AMarkerMarksTheNextLevelFrameAndAnSCPWinsOverIt) {
    buildStrips(30);
    dispatch("SCPOnChannel", Value(int64_t{4}));  // level index 3
    dispatch("MarkerAdded", "bob");
    EXPECT_TRUE(vc->markerFlag());
    dispatch("LevelData", bytes(10, 1));
    std::vector<int8_t> alerts = newest(engine().alertRingBuffer());
    for (int i = 0; i < 128; ++i) EXPECT_EQ(alerts[i], i == 3 ? 1 : i < 10 ? 2 : 0) << i;
    EXPECT_FALSE(vc->markerFlag());
    std::vector<int8_t> levels = newest(engine().levelRingBuffer());
    EXPECT_EQ(levels[9], 1);
    EXPECT_EQ(levels[10], 0);
}

TEST_F(ViewControllerTest, AnSCPStaysPendingUntilAFrameReachesItsStrip) {
    buildStrips(30);
    dispatch("SCPOnChannel", Value(int64_t{21}));   // level index 20
    dispatch("SCPOnChannel", Value(int64_t{999}));  // no such strip: ignored
    dispatch("LevelData", bytes(10, 0));
    dispatch("LevelData", bytes(10, 0));
    EXPECT_EQ(newest(engine().alertRingBuffer())[20], 0);
    EXPECT_TRUE(vc->levelFrames().scpPending(20));
    dispatch("LevelData", bytes(21, 0));
    EXPECT_EQ(newest(engine().alertRingBuffer())[20], 1);
    dispatch("LevelData", bytes(21, 0));
    EXPECT_EQ(newest(engine().alertRingBuffer())[20], 0);
}

TEST_F(ViewControllerTest, HistoryFramesGoToTheirOwnHistories) {
    struct Case {
        const char* command;
        CharRingBuffer& history;
    };
    std::vector<Case> cases{{"RfLevelData", engine().rfLevelRingBuffer()},
                            {"RfLevelDataA", engine().rfALevelRingBuffer()},
                            {"RfLevelDataB", engine().rfBLevelRingBuffer()},
                            {"RfLevelDataC", engine().rfCLevelRingBuffer()},
                            {"RfLevelDataD", engine().rfDLevelRingBuffer()},
                            {"RfLevelDataDiv", engine().rfDivLevelRingBuffer()},
                            {"QLData", engine().qlRingBuffer()}};
    for (size_t k = 0; k < cases.size(); ++k) {
        dispatch(cases[k].command, bytes(5, static_cast<uint8_t>(k + 1)));
        for (size_t j = 0; j < cases.size(); ++j) {
            EXPECT_EQ(cases[j].history.getLatestSample(0), j <= k ? int8_t(j + 1) : 0)
                << cases[k].command << " / " << cases[j].command;
        }
        EXPECT_EQ(cases[k].history.getLatestSample(5), 0);
    }
    EXPECT_EQ(engine().levelRingBuffer().getLatestSample(0), 0);
}

TEST_F(ViewControllerTest, ChannelWarningsApplyShownCodesAndSwitchTheResetAlarm) {
    buildStrips(3);
    vc->setResetAlarm(true);
    dispatch("ChannelWarnings", Array{int64_t{2}, 0});
    loop_->runPending();
    EXPECT_EQ(viewOf(2).warningCode, 0);
    EXPECT_FALSE(vc->resetAlarm());

    dispatch("ChannelWarnings", Array{int64_t{2}, 1});
    loop_->runPending();
    EXPECT_EQ(viewOf(2).warningCode, 1);
    EXPECT_TRUE(vc->resetAlarm());

    settings().setShowSCPAlerts(false);
    dispatch("ChannelWarnings", Array{int64_t{3}, 1});
    loop_->runPending();
    EXPECT_EQ(viewOf(3).warningCode, -100);  // nothing applied
    EXPECT_FALSE(vc->resetAlarm());

    vc->setResetAlarm(true);
    dispatch("ChannelWarnings", Array{int64_t{3}});  // a lone id
    EXPECT_FALSE(vc->resetAlarm());
    vc->setResetAlarm(true);
    dispatch("ChannelWarnings", Array{});
    dispatch("ChannelWarnings");
    EXPECT_TRUE(vc->resetAlarm());
}

TEST_F(ViewControllerTest, TheServerRoleHandlesOnlyTheChatAndItsNeighbours) {
    settings().setActAsClient(false);
    NotificationRecorder chat(ChatNotification::kChatMessageFromServer);
    dispatch("LevelData", bytes(128, 50));
    dispatch("Channels", Array{strip(1)});
    EXPECT_EQ(newest(engine().levelRingBuffer()), std::vector<int8_t>(128, 0));
    EXPECT_TRUE(manager().controllers().empty());
    dispatch("ChatClients", Array{Dictionary{{"chatName", "bob"}}});
    EXPECT_EQ(ChatManager::sharedInstance().chatClients().size(), 1u);
    dispatch("ChatMessageFromServer", Dictionary{{"message", "x"}});
    EXPECT_EQ(chat.posted.size(), 1u);
    dispatch("MarkerAdded");
    EXPECT_TRUE(vc->markerFlag());
}

TEST_F(ViewControllerTest, ValuesOfTheWrongKindDropTheMessage) {
    EXPECT_THROW(dispatch("LevelData", "loud"), LinkTypeError);
    EXPECT_THROW(dispatch("Channels", Dictionary{}), LinkTypeError);
    EXPECT_THROW(vc->messageReceivedFromServer(Value("LevelData")), LinkTypeError);
    EXPECT_THROW(dispatch(Dictionary{{"Command", 7}}), LinkTypeError);
    dispatch("NoSuchCommand", 1);  // ignored
    dispatch(Dictionary{});        // no command: ignored
    EXPECT_EQ(engine().levelRingBuffer().getLatestSample(0), 0);
}

TEST_F(ViewControllerTest, StreamBlocksFillTheStreamRing) {
    RingBuffer& ring = engine().clientRing();
    dispatch(Dictionary{{"Command", "StreamData"},
                        {"LeftValue", floats({0.5f, 0.25f, 0.125f})},
                        {"RightValue", floats({-0.5f, -0.25f})}});
    EXPECT_EQ(ring.dataInBuffer(), 2);
    dispatch(Dictionary{{"Command", "StreamData"}, {"LeftValue", floats({0.75f})}});
    EXPECT_EQ(ring.dataInBuffer(), 3);
    dispatch(Dictionary{{"Command", "StreamData"}, {"RightValue", floats({1.0f})}});
    EXPECT_EQ(ring.dataInBuffer(), 3);
    std::vector<float> left(3), right(3);
    float* channels[2] = {left.data(), right.data()};
    int got = 0;
    ring.consume(channels, 3, &got, 2);
    EXPECT_EQ(left, (std::vector<float>{0.5f, 0.25f, 0.75f}));
    EXPECT_EQ(right, (std::vector<float>{-0.5f, -0.25f, 0.75f}));
}

TEST_F(ViewControllerTest, GroupColoursAreStoredOnlyWhenWellFormed) {
    Dictionary red{{"red", 1.0}, {"green", 0.0}, {"blue", 0.0}, {"alpha", 1.0}};
    dispatch("GroupColors", Array{red});
    EXPECT_EQ(defaults().objectForKey("groupColors"), Value(Array{red}));
    dispatch("GroupColors", Array{red, "blue"});
    dispatch("GroupColors",
             Array{Dictionary{{"red", "x"}, {"green", 0}, {"blue", 0}, {"alpha", 1}}});
    dispatch("GroupColors", red);
    dispatch("GroupColors", 5);
    EXPECT_EQ(defaults().objectForKey("groupColors"), Value(Array{red}));
    UserDefaults::resetStandardUserDefaults();  // stored for the next run
    EXPECT_EQ(defaults().objectForKey("groupColors"), Value(Array{red}));
}

TEST_F(ViewControllerTest, ChatColoursFillBothTables) {
    Color blue{0, 0, 1, 1};
    dispatch(Dictionary{{"Command", "ChatColors"},
                        {"Value", Dictionary{{"bob", 3}, {"eve", "x"}}},
                        {"NValue", Dictionary{{"U1", blue}}}});
    EXPECT_EQ(ColorHelper::sharedInstance().chatColors(), (Dictionary{{"bob", 3}}));
    EXPECT_EQ(ChatColorManager::sharedInstance().colorForUUID("U1"), blue);
}

TEST_F(ViewControllerTest, MicCheckRecordsUpdateTheStripsAndPostOnce) {
    buildStrips(3);
    NotificationRecorder checked("ChannelStripChecked");
    const int appearances = viewOf(2).appearanceUpdates;
    dispatch("MicCheckState", Dictionary{{"csID", int64_t{2}}, {"checked", true}, {"user", "bob"}});
    EXPECT_TRUE(stateOf(2).micCheckState().checked());
    EXPECT_EQ(stateOf(2).micCheckState().user(), "bob");
    EXPECT_EQ(viewOf(2).appearanceUpdates, appearances + 1);
    EXPECT_EQ(checked.posted.size(), 1u);

    dispatch(Dictionary{{"Command", "MicCheckArray"},
                        {"Value", Array{Dictionary{{"csID", int64_t{1}}, {"checked", true}}, 3,
                                        Dictionary{{"csID", int64_t{3}}, {"checked", true}},
                                        Dictionary{{"csID", int64_t{77}}}}},
                        {"Act", 2}});
    EXPECT_TRUE(stateOf(1).micCheckState().checked());
    EXPECT_TRUE(stateOf(3).micCheckState().checked());
    EXPECT_EQ(settings().currentAct(), 2);
    EXPECT_EQ(checked.posted.size(), 2u);
}

TEST_F(ViewControllerTest, MuteArraysSetTheStripStates) {
    buildStrips(2);
    const int appearances = viewOf(1).appearanceUpdates;
    dispatch("HardMuteArray", Array{Dictionary{{"csID", int64_t{1}}, {"hardMute", true}}, "x"});
    dispatch("ReceiverMuteArray", Array{Dictionary{{"csID", int64_t{2}}, {"receiverMute", true}},
                                        Dictionary{{"csID", int64_t{9}}, {"receiverMute", true}}});
    EXPECT_TRUE(stateOf(1).hardMuted());
    EXPECT_FALSE(stateOf(2).hardMuted());
    EXPECT_TRUE(stateOf(2).receiverMuted());
    EXPECT_EQ(viewOf(1).appearanceUpdates, appearances + 1);
}

TEST_F(ViewControllerTest, SnapshotsSelectByOrderIndex) {
    NotificationRecorder updated("SnapshotsUpdated");
    dispatch("SnapshotNames", Array{Array{"Act 1", 4}, Array{}, Array{"Act 2", 9}});
    EXPECT_EQ(SnapshotManager::sharedInstance().snapshotNames(),
              (Array{Array{"Act 1", 4}, Array{"Act 2", 9}}));
    dispatch("Snapshot", Dictionary{{"title", "Act 2"}, {"orderIndex", 9}});
    EXPECT_EQ(SnapshotManager::sharedInstance().selectedSnapshot(), 1);
    dispatch("Snapshot", Dictionary{{"title", "new"}, {"orderIndex", 12}});
    EXPECT_EQ(SnapshotManager::sharedInstance().selectedSnapshot(), 2);
    EXPECT_EQ(updated.posted.size(), 3u);
}

TEST_F(ViewControllerTest, InitialDataReadyRegistersToAChatServerOrAsksForAnUpdate) {
    settings().setChatUsername("me");
    dispatch("MasterVersion", 3.8);
    dispatch("InitialDataReady", true);
    auto registrations = sentCommands("RegisterToChat");
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0]["Value"],
              Value(Dictionary{{"sender", "me"}, {"uuid", ChatManager::uuid()}}));

    dispatch("MasterVersion", 3.79);
    dispatch("InitialDataReady", true);
    dispatch("InitialDataReady", false);
    EXPECT_EQ(sentCommands("RegisterToChat").size(), 1u);
    EXPECT_EQ(alerts.texts,
              std::vector<std::string>{
                  "Please update your Quenbril server. You are currently using server version "
                  "3.79. Minimum requirement for this remote version is 3.80."});
}

TEST_F(ViewControllerTest, NotebookEntriesReplaceTheNotebook) {
    NotificationRecorder added("NoteAdded");
    dispatch("NotebookEntries");  // no "Values": nothing
    EXPECT_TRUE(added.posted.empty());
    dispatch(Dictionary{{"Command", "NotebookEntries"},
                        {"Values", Array{Dictionary{{"Note", "n"}, {"teID", 3}}, 5}}});
    ASSERT_EQ(NotebookManager::sharedInstance().notebookEntries().size(), 1u);
    EXPECT_EQ(NotebookManager::sharedInstance().notebookEntries()[0]->teID(), 3);
    EXPECT_EQ(added.posted.size(), 1u);
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

    PlaybackManager::sharedInstance().setDelayInSamples(4800);
    PlaybackManager::sharedInstance().setPlayedCSID(2);
    dispatch("BatteryData", Array{int64_t{2}, 10});
    EXPECT_EQ(window->battery, "Receiver RX2 BAT: 1:20  FREQ: 550.000 MHz");  // replay: kept
}

TEST_F(ViewControllerTest, ClientNamesTitleTheOpenDialogsItemsAndNoMore) {
    ServerManager::resetSharedInstance();
    ServerManager::sharedInstance().setServiceBrowser(std::make_unique<test::FakeServiceBrowser>(
        std::make_shared<test::FakeServiceBrowser::Log>()));
    auto dialog = std::make_shared<PreferencesViewController>();
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

TEST_F(ViewControllerTest, ActiveStripsAreScrolledIntoViewWithTheSelectionTool) {
    buildStrips(3);
    dispatch("ActiveChannels", Array{int64_t{2}});
    ASSERT_EQ(scroller.views.size(), 1u);
    EXPECT_EQ(scroller.views[0], &viewOf(2));
    settings().setSelectedTool(2);
    dispatch("ActiveChannels", Array{int64_t{3}});
    EXPECT_EQ(scroller.views.size(), 1u);
}

TEST_F(ViewControllerTest, AHistoryReplacesTheChatAndTheOpenTableReloads) {
    auto split = std::make_shared<FakeChatSplit>();
    destinations["showSplit"] = split;
    vc->showHideChat();
    auto m = std::make_shared<ChatMessage>();
    m->setSender("bob");
    m->setRecipient("All");
    m->setMessage("old");
    dispatch("ChatMessageHistory", Array{Value(std::shared_ptr<const Object>(m))});
    ASSERT_EQ(ChatManager::messages().size(), 1u);
    EXPECT_EQ(split->table->reloads, 1);
    EXPECT_EQ(split->table->scrolls, 1);
    dispatch("ChatMessageHistory");  // no value: the store stays
    EXPECT_EQ(ChatManager::messages().size(), 1u);
    dispatch("ChatClients");
    EXPECT_EQ(split->table->clientUpdates, 1);
}

TEST_F(ViewControllerTest, RelayedChatMessagesFollowTheReceiptRule) {
    settings().setChatUsername("me");
    settings().setChatFlash(true);
    auto notifier = std::make_shared<FakeChatNotifier>();
    destinations["showChatNotifier"] = notifier;
    const size_t before = ChatManager::messages().size();

    dispatch("ChatMessageFromServer", Dictionary{{"message", "wake up"},
                                                 {"sender", "bob"},
                                                 {"uuid", "B"},
                                                 {"messageId", "M1"},
                                                 {"type", 5},
                                                 {"recipient", "All"}});
    EXPECT_EQ(ChatManager::messages().size(), before + 1);
    EXPECT_TRUE(vc->chatAlarm());
    EXPECT_EQ(vc->headerFlashCount(), 0);
    ASSERT_EQ(notifier->shown, 1);
    EXPECT_NE(notifier->message.find(": wake up"), std::string::npos);
    EXPECT_EQ(notifier->sender, "bob");
    EXPECT_EQ(vc->cnVC(), notifier);

    dispatch("ChatMessageFromServer", Dictionary{{"message", "mine"},
                                                 {"sender", "me"},
                                                 {"uuid", "X"},
                                                 {"type", 0},
                                                 {"recipient", "All"}});
    EXPECT_FALSE(vc->chatAlarm());
    EXPECT_EQ(ChatManager::messages().back()->uuid(), ChatManager::uuid());

    dispatch("ChatMessageFromServer",
             Dictionary{{"message", "alert"}, {"sender", "bob"}, {"type", 3}, {"recipient", "me"}});
    EXPECT_EQ(vc->headerFlashCount(), 1);
    EXPECT_FALSE(vc->chatAlarm());

    dispatch("ChatRemoveMessage", "m1");
    EXPECT_EQ(ChatManager::messages()[before]->message(), ChatMessage::kRemovedText);
    EXPECT_TRUE(sentCommands("ChatRemoveMessage").empty());
}

TEST_F(ViewControllerTest, StripsGroupsPlayersTimecodeAndSettingsReachTheirOwners) {
    dispatch("Channels", Array{strip(5), Value("junk"), strip(6)});
    ASSERT_EQ(manager().controllers().size(), 2u);
    EXPECT_EQ(manager().indexOfChannelStripID(6), 1);
    dispatch("QualityLevelData", Bytes{0xFF, 7, 9});  // signed, pending on the views
    EXPECT_EQ(viewOf(5).pendingQuality(), -1);
    EXPECT_EQ(viewOf(6).pendingQuality(), 7);

    dispatch("GroupStates", Array{1, 0, 2, 0, 0, 0, 0, 1});
    ASSERT_EQ(groups.buttons.size(), 8u);
    EXPECT_EQ(groups.buttons[2]->state(), 2);
    dispatch("GroupStates", Array{0, 0, 0, 0, 0, 0, 0});  // exactly eight or nothing
    dispatch("GroupStates");
    EXPECT_EQ(groups.buttons[0]->state(), 1);

    dispatch("NewPlayer", Dictionary{{"Name", "Ann"}, {"RoleName", "Eve"}});
    EXPECT_EQ(PlayerManager::sharedInstance().players().size(), 1u);
    dispatch(Dictionary{{"Command", "LTC"}, {"CSID", int64_t{5}}, {"Hours", 1}, {"FPS", 25}});
    EXPECT_EQ(LTCManager::sharedInstance().receivedTC().size(), 1u);
    EXPECT_THROW(dispatch(Dictionary{{"Command", "LTC"}, {"Hours", "one"}}), LinkTypeError);

    dispatch("ClientNames", Array{"A", 3, "B"});
    EXPECT_EQ(vc->clientNames(), (std::vector<std::string>{"A", "B"}));
    dispatch("ClientNames");
    EXPECT_FALSE(vc->clientNames());
    dispatch("BatteryThreshold", 25);
    EXPECT_EQ(settings().batThreshold(), 25);
    dispatch("ClientsEnabled", false);
    EXPECT_FALSE(settings().clientsEnabled());
}

TEST_F(ViewControllerTest, TheEditingStateShowsInTheStatusLine) {
    dispatch("OpenedEditing");
    EXPECT_TRUE(vc->statusRightIsRed());
    EXPECT_EQ(vc->statusRightText(), "Server editing channels!");
    defaults().setObject("FOH", "clientName");
    dispatch("ClosedEditing");
    EXPECT_FALSE(vc->statusRightIsRed());
    EXPECT_EQ(vc->statusRightText(), "Connected to server as FOH");
}

}  // namespace
}  // namespace quenbril
