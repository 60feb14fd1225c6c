#include <gtest/gtest.h>

#include "ViewControllerTestEnvironment.h"

namespace quenbril {
namespace {

void post(const char* name, Dictionary info = {}) {
    NotificationCenter::defaultCenter().post(name, info);
}

Dictionary click(int64_t csID) { return Dictionary{{"index", csID}}; }

Dictionary midi(int channel, int command, int b1, int b2) {
    return Dictionary{{"channel", channel}, {"command", command}, {"byte1", b1}, {"byte2", b2}};
}

TEST_F(ViewControllerTest, WithTheSelectionToolAClickOnlySends) {
    buildStrips(3);
    auto split = std::make_shared<FakeChatSplit>();
    destinations["showSplit"] = split;
    vc->showHideChat();
    post("CSClicked", click(2));
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0], (Dictionary{{"Command", "ChannelClicked"}, {"Value", int64_t{2}}}));
    EXPECT_EQ(split->buttons->text, "S2(3)");
    EXPECT_EQ(manager().previouslyClickedChannel(), "S2(3)");
    EXPECT_EQ(settings().prevSoloIndex(), 1);  // off: its place in the panel
    stateOf(2).setChannelState(ChannelStripState::kSoloed);
    post("CSClicked", click(2));
    EXPECT_EQ(settings().prevSoloIndex(), -1);
    EXPECT_EQ(std::count(segues.begin(), segues.end(), "editPlayer"), 0);
}

TEST_F(ViewControllerTest, WithTheSelectionZoomToolAClickOpensOrRetargetsThePerformerWindow) {
    buildStrips(3);
    settings().setSelectedTool(1);
    auto window = std::make_shared<FakePerformerWindow>();
    destinations["editPlayer"] = window;
    post("CSClicked", click(2));
    EXPECT_EQ(window->shown, 1);
    EXPECT_TRUE(window->readOnly);
    EXPECT_EQ(window->channel, 1);
    EXPECT_EQ(window->titled, 1);
    EXPECT_EQ(window->quadversity, false);
    post("CSClicked", click(3));  // open: retargeted, not opened again
    EXPECT_EQ(window->shown, 1);
    EXPECT_EQ(window->updates, 1);
    EXPECT_EQ(window->channel, 2);
    EXPECT_TRUE(sender.sent.empty());
    post("CSClicked", click(99));  // no such strip
    EXPECT_EQ(window->updates, 1);
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(ViewControllerTest, WithTheZoomToolAClickRetargetsAndSends) {
    buildStrips(3);
    settings().setSelectedTool(2);
    auto window = std::make_shared<FakePerformerWindow>();
    destinations["editPlayer"] = window;
    post("CSClicked", click(2));
    post("CSClicked", click(2));  // the strip already shown: no update, still sent
    EXPECT_EQ(window->updates, 0);
    EXPECT_EQ(sentCommands("ChannelClicked").size(), 2u);
    window->closed = true;
    post("CSClicked", click(3));  // a closed window is opened anew
    EXPECT_EQ(window->shown, 2);
}

TEST_F(ViewControllerTest, ALongClickOpensTheNoteEntryInNotebookMode) {
    buildStrips(1);
    post("CSLongClicked", click(1));
    EXPECT_EQ(sender.sent.back(),
              (Dictionary{{"Command", "ChannelLongClicked"}, {"Value", int64_t{1}}}));
    settings().setNotebookMode(true);
    sender.sent.clear();
    post("CSLongClicked", click(9000000000));
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(NotebookManager::sharedInstance().latestCsID(), 9000000000);
    EXPECT_EQ(segues.back(), "showAddNote");
}

TEST_F(ViewControllerTest, MicCheckKeysToggleTheActiveStrips) {
    buildStrips(4);
    for (int64_t id : {1, 2, 3}) stateOf(id).setChannelState(ChannelStripState::kActive);
    stateOf(2).micCheckState().setChecked(true);
    stateOf(4).micCheckState().setChecked(false);  // not active
    post("MicCheckKey", Dictionary{{"Key", "Y"}});
    auto sent = sentCommands("ChannelCheckClicked");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]["Value"], Value(int64_t{1}));
    EXPECT_EQ(sent[1]["Value"], Value(int64_t{3}));
    post("MicCheckKey", Dictionary{{"Key", "N"}});
    EXPECT_EQ(sentCommands("ChannelCheckClicked").back()["Value"], Value(int64_t{2}));
    post("MicCheckKey", Dictionary{{"Key", "Q"}});
    EXPECT_EQ(sentCommands("ChannelCheckClicked").size(), 3u);
}

TEST_F(ViewControllerTest, MIDIEventsTriggerLearnedMacrosAndDismissTheNotifier) {
    settings().setChatUsername("me");
    defaults().setObject("Stand by", "CB 3");
    defaults().setObject(Array{15, 176, 3, 127}, "CB MIDI 3");
    defaults().setObject(Array{15, 176, 3, 127}, "CB MIDI 20");
    auto notifier = std::make_shared<FakeChatNotifier>();
    destinations["showChatNotifier"] = notifier;
    vc->performSegue("showChatNotifier");

    settings().setMacroLastUpdated(kStartTime - 0.05);  // a macro was just learned
    post("MIDIEventReceived", midi(15, 176, 3, 127));
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(notifier->closed, 0);

    loop_->advance(0.1);
    post("MIDIEventReceived", midi(15, 176, 3, 127));
    auto sent = sentCommands("ChatMessageFromClient");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["Value"]["message"], Value("Stand by"));
    EXPECT_EQ(notifier->closed, 1);

    post("MIDIEventReceived", midi(15, 176, 4, 127));
    EXPECT_EQ(sentCommands("ChatMessageFromClient").size(), 1u);
}

TEST_F(ViewControllerTest, HeaderButtonsByTitle) {
    FakeTitledButton panel("A");
    vc->QBButtonClicked(panel);
    EXPECT_EQ(manager().panelIndex(), 1);
    EXPECT_EQ(panel.text, "B");
    vc->QBButtonClicked(panel);
    EXPECT_EQ(manager().panelIndex(), 0);
    EXPECT_EQ(panel.text, "A");

    FakeTitledButton solo("Solo clear");
    vc->QBButtonClicked(solo);
    vc->QBButtonLongClicked(solo);
    FakeTitledButton reset("Reset");
    vc->setResetAlarm(true);
    vc->QBButtonLongClicked(reset);
    EXPECT_FALSE(vc->resetAlarm());
    EXPECT_EQ(sender.sent, (std::vector<Dictionary>{Dictionary{{"Command", "Clear"}},
                                                    Dictionary{{"Command", "HardClear"}},
                                                    Dictionary{{"Command", "ResetWarnings"}}}));
    FakeTitledButton chat("Chat");
    vc->setChatAlarm(true);
    vc->QBButtonClicked(chat);
    EXPECT_FALSE(vc->chatAlarm());
    EXPECT_EQ(segues.back(), "showSplit");
    FakeTitledButton snaps("Snaps");
    vc->QBButtonClicked(snaps);
    EXPECT_EQ(segues.back(), "snapshotSeque");
}

TEST_F(ViewControllerTest, PlainActionsSendTheirCommands) {
    settings().setChatUsername("me");
    QWidget button;
    vc->setSoloClearButton(&button);
    vc->addMarker();
    vc->LongClickButtonClicked(&button);
    vc->LongClickButtonLongClicked(&button);
    vc->LongClickButtonClicked(nullptr);
    vc->startStream();
    vc->stopStream();
    EXPECT_EQ(sender.sent,
              (std::vector<Dictionary>{
                  Dictionary{{"Command", "MarkerAdded"}, {"Value", "me"}},
                  Dictionary{{"Command", "Clear"}}, Dictionary{{"Command", "HardClear"}},
                  Dictionary{{"Command", "StartStream"}}, Dictionary{{"Command", "StopStream"}}}));
    EXPECT_TRUE(vc->toggleMute());
    EXPECT_FALSE(vc->toggleMute());
    vc->selectedTool(2);
    EXPECT_EQ(settings().selectedTool(), 2);
    vc->panelButtonClicked();
    EXPECT_EQ(manager().panelIndex(), 1);
    post("ChannelClickStarted");
    EXPECT_TRUE(vc->longClickBarRunning());
    post("ChannelClickEnded");
    EXPECT_FALSE(vc->longClickBarRunning());
}

TEST_F(ViewControllerTest, OpeningTheChatWhileDisconnectedWarnsTheRemote) {
    auto split = std::make_shared<FakeChatSplit>();
    destinations["showSplit"] = split;
    vc->chatButtonClicked();
    EXPECT_EQ(vc->chatVC(), split->table);
    ASSERT_EQ(alerts.texts.size(), 1u);
    EXPECT_EQ(alerts.texts[0],
              "Chat client not connected to chat server. Please check your settings!");
    ChatManager::addMessage("x", std::nullopt, "bob", "u", "All", 0);
    vc->clearChat();
    EXPECT_TRUE(ChatManager::messages().empty());
    EXPECT_EQ(split->table->reloads, 1);
}

TEST_F(ViewControllerTest, TogglesAndChatMessagesAreForwardedAndAbsentWindowsSkipped) {
    Dictionary chat{{"message", "hi"}, {"sender", "me"}, {"type", 0}, {"recipient", "All"}};
    post("ChannelCheckClicked", Dictionary{{"index", int64_t{4}}, {"sender", "master"}});
    post("HardMuteClicked", Dictionary{{"index", int64_t{5}}, {"uuid", "U"}});
    post("CSDoubleClicked", Dictionary{{"index", 0}});
    post("CSClicked");  // no id: ignored
    post("ChatMessage", chat);
    EXPECT_EQ(sender.sent,
              (std::vector<Dictionary>{
                  Dictionary{{"Command", "ChannelCheckClicked"}, {"Value", int64_t{4}}},
                  Dictionary{{"Command", "HardMuteClicked"}, {"Value", int64_t{5}}},
                  Dictionary{{"Command", "ChatMessageFromClient"}, {"Value", chat}}}));
    EXPECT_EQ(ChatManager::messages().size(), 8u);  // shown only after the relay

    vc->showHideSnapshots();
    vc->channelIOClicked();
    vc->dismissChatNotifier();
    EXPECT_EQ(segues, (std::vector<std::string>{"snapshotSeque", "showSettings"}));
}

}  // namespace
}  // namespace quenbril
