// The chat tab of the preferences: learning MIDI events, the length of its texts, what a save
// stores, tells and sends (and in which order), what it refuses, and bad stored values.

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <filesystem>

#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ui/ChatButton.h"
#include "MonitorApp/chat/ui/ChatButtonViewController.h"
#include "MonitorApp/chat/ui/ChatSettingsViewController.h"
#include "MonitorApp/preferences/SettingsTabViewController.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/chat/ui/PluggedMidiInput.h"
#include "tests/MonitorApp/mainwindow/ViewControllerTestEnvironment.h"
#include "tests/MonitorApp/preferences/PreferencesTest.h"

namespace quenbril::test {
namespace {

/// Logs what the pane tells the program and sends, in order.
class EventLog : public LinkSender {
  public:
    EventLog() {
        for (const char* name : {"ChatMessagesChanged", "SettingsChanged"}) {
            observers_.push_back(NotificationCenter::defaultCenter().addObserver(
                name, [this, name](const Notification&) { events.emplace_back(name); }));
        }
    }
    void sendDictionary(const Dictionary& message) override {
        sent.push_back(message);
        events.push_back(*message["Command"].stringValue());
    }
    std::vector<std::string> events;
    std::vector<Dictionary> sent;

  private:
    std::vector<NotificationObserver> observers_;
};

class ChatSettings : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        ChatManager::resetSharedInstance();
        midi = std::make_unique<PluggedMidiInput>(*loop_);
        ASSERT_TRUE(midi->found());
        pane = std::make_unique<ChatSettingsViewController>(sharedChatServices());
        pane->setLinkSender(&log);
        pane->setAlertPresenter(&alerts);
    }
    void TearDown() override {
        pane.reset();
        midi.reset();
        ChatManager::resetSharedInstance();
        StripTest::TearDown();
    }

    static void postMIDI(int channel, int command, int byte1, int byte2) {
        NotificationCenter::defaultCenter().post(
            "MIDIEventReceived",
            Dictionary{
                {"channel", channel}, {"command", command}, {"byte1", byte1}, {"byte2", byte2}});
    }
    static Value learnt(int slot) {
        return defaults().objectForKey("CB MIDI " + std::to_string(slot));
    }
    QString title(int slot) const { return pane->learnButton(slot)->text(); }
    void click(int slot) { pane->learnButton(slot)->click(); }

    std::unique_ptr<PluggedMidiInput> midi;
    std::unique_ptr<ChatSettingsViewController> pane;
    EventLog log;
    RecordingAlerts alerts;
};

TEST_F(ChatSettings, ALearnTakesTheNextMIDIEventAndTheMainWindowThenIgnoresIt) {
    pane->viewDidAppear();
    postMIDI(0, 0x90, 60, 100);
    EXPECT_TRUE(learnt(3).isNull()) << "no learn pending";
    EXPECT_EQ(settings().macroLastUpdated(), 0.0);

    click(3);
    EXPECT_EQ(title(3), "Learning...");
    EXPECT_EQ(pane->learningMacro(), 3);
    loop_->advance(2.0);
    postMIDI(1, 0x90, 60, 100);
    EXPECT_EQ(learnt(3), Value(Array{1, 0x90, 60, 100}));
    EXPECT_EQ(title(3), "MIDI Clear");
    EXPECT_EQ(pane->learningMacro(), -1);
    EXPECT_DOUBLE_EQ(settings().macroLastUpdated(), kStartTime + 2.0);

    // Learnt again: the first click forgets, the second learns, the event replaces.
    click(3);
    EXPECT_EQ(title(3), "MIDI Learn");
    EXPECT_TRUE(learnt(3).isNull()) << "forgotten at once, without a save";
    click(3);
    postMIDI(2, 0xB0, 7, 127);
    EXPECT_EQ(learnt(3), Value(Array{2, 0xB0, 7, 127}));

    // The notifier's slot learns like the others.
    click(20);
    postMIDI(0, 0x90, 1, 1);
    EXPECT_EQ(learnt(20), Value(Array{0, 0x90, 1, 1}));
    EXPECT_EQ(title(20), "MIDI Clear");

    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(learnt(3), Value(Array{2, 0xB0, 7, 127})) << "written to the store at once";
}

TEST_F(ChatSettings, OneLearnIsPendingAtATimeAndASecondClickCancelsIt) {
    defaults().setObject(Array{0, 0x90, 5, 5}, "CB MIDI 6");
    pane->viewDidAppear();
    EXPECT_EQ(title(6), "MIDI Clear") << "a stored event shows";
    EXPECT_EQ(title(1), "MIDI Learn");

    click(1);
    click(2);
    EXPECT_EQ(title(1), "MIDI Learn");
    EXPECT_EQ(title(2), "Learning...");
    EXPECT_EQ(pane->learningMacro(), 2);
    // Forgetting another slot's event ends the pending learn too.
    click(6);
    EXPECT_EQ(title(2), "MIDI Learn");
    EXPECT_EQ(title(6), "MIDI Learn");
    EXPECT_EQ(pane->learningMacro(), -1);
    EXPECT_TRUE(learnt(6).isNull());

    click(4);
    click(4);
    EXPECT_EQ(title(4), "MIDI Learn");
    postMIDI(0, 0x90, 9, 9);
    EXPECT_TRUE(learnt(4).isNull());
    EXPECT_TRUE(learnt(2).isNull());
}

TEST_F(ChatSettings, ALearntButtonKeepsSayingSoWhenAnotherLearnStarts) {
    pane->viewDidAppear();
    click(5);
    postMIDI(0, 0x90, 3, 3);
    click(1);
    EXPECT_EQ(title(5), "MIDI Clear") << "its event is still stored";
    EXPECT_FALSE(learnt(5).isNull());
    postMIDI(0, 0x90, 4, 4);
    EXPECT_EQ(learnt(1), Value(Array{0, 0x90, 4, 4}));
    EXPECT_EQ(learnt(5), Value(Array{0, 0x90, 3, 3}));
}

TEST_F(ChatSettings, EventsAreLearntOnlyWhileThePaneIsInSight) {
    pane->viewDidAppear();
    click(2);
    pane->viewWillDisappear();
    postMIDI(0, 0x90, 60, 100);
    EXPECT_TRUE(learnt(2).isNull());
}

TEST_F(ChatSettings, TextsAreCutByCharactersAndNeverSplitOne) {
    QLineEdit* text = pane->textField(1);
    text->setText(QString(30, 'x'));
    EXPECT_EQ(text->text(), QString(24, 'x'));
    pane->chatUsername()->setText("abcdefghijklm");
    EXPECT_EQ(pane->chatUsername()->text(), "abcdefghijkl");

    // A character outside the basic plane is two UTF-16 units and counts once.
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    pane->chatUsername()->setText(QString(11, 'a') + smile + "b");
    EXPECT_EQ(pane->chatUsername()->text(), QString(11, 'a') + smile);
    text->setText(QString(23, 'y') + smile + "zz");
    EXPECT_EQ(text->text(), QString(23, 'y') + smile);
    pane->chatUsername()->setText(QString(10, 'a') + smile + smile + "b");
    EXPECT_EQ(pane->chatUsername()->text(), QString(10, 'a') + smile + smile);
}

TEST_F(ChatSettings, ASaveStoresEveryControl) {
    pane->viewDidAppear();
    pane->chatUsername()->setText("carol");
    pane->textField(1)->setText("Standby");
    pane->textField(7)->setText("Go");
    pane->fontSize()->setCurrentIndex(2);
    pane->buttonSize()->setCurrentIndex(1);
    pane->chatFlash()->setChecked(true);
    pane->flashTimeout()->setText("7");
    pane->snaps()->setChecked(false);
    pane->onTop()->setChecked(false);
    pane->saveSettings();

    restart();
    EXPECT_EQ(settings().chatUsername(), "carol");
    EXPECT_EQ(settings().chatFontSize(), 2);
    EXPECT_EQ(settings().chatButtonSize(), 1);
    EXPECT_TRUE(settings().chatFlash());
    EXPECT_EQ(settings().flashTimeout(), 7);
    EXPECT_EQ(defaults().stringForKey("CB 1"), "Standby");
    EXPECT_EQ(defaults().stringForKey("CB 7"), "Go");
    EXPECT_TRUE(defaults().objectForKey("CB 2").isNull()) << "an empty field stores nothing";
    EXPECT_EQ(defaults().objectForKey("chatSettings"),
              Value(Dictionary{{"userMes", 1}, {"snaps", 0}, {"alerts", 1}, {"onTop", 0}}));

    // Shown again as saved.
    ChatSettingsViewController again(sharedChatServices());
    again.viewDidAppear();
    EXPECT_EQ(again.textField(1)->text(), "Standby");
    EXPECT_EQ(again.fontSize()->currentIndex(), 2);
    EXPECT_EQ(again.flashTimeout()->text(), "7");
    EXPECT_FALSE(again.snaps()->isChecked());
    EXPECT_TRUE(again.userMes()->isChecked());
    again.viewWillDisappear();
}

// The rows run F1 to F7, and the text typed in a row is what the chat window's button with that
// key label sends.
TEST_F(ChatSettings, EachQuickMessageRowNamesTheKeyOfTheButtonItEdits) {
    pane->viewDidAppear();
    QGroupBox* quick = nullptr;
    for (QGroupBox* box : pane->findChildren<QGroupBox*>()) {
        if (box->title() == "Quick messages") quick = box;
    }
    ASSERT_NE(quick, nullptr);
    auto* grid = qobject_cast<QGridLayout*>(quick->layout());
    ASSERT_NE(grid, nullptr);
    for (int row = 0; row < ChatSettingsViewController::kQuickMessageCount; ++row) {
        auto* label = qobject_cast<QLabel*>(grid->itemAtPosition(row, 0)->widget());
        auto* field = qobject_cast<QLineEdit*>(grid->itemAtPosition(row, 1)->widget());
        ASSERT_TRUE(label && field) << row;
        EXPECT_EQ(label->text(), QString("F%1").arg(row + 1));
        field->setText("typed at " + label->text());
    }
    pane->saveSettings();

    ChatButtonViewController buttons(sharedChatServices());
    buttons.viewDidLoad();
    buttons.addButtons();
    int checked = 0;
    for (ChatButton* button : buttons.chatButtons()) {
        if (button->myTag() == 0) continue;  // F8: the clicked channel, set by no row
        EXPECT_EQ(button->text(), "typed at " + button->functionButton()->text().toStdString());
        ++checked;
    }
    EXPECT_EQ(checked, ChatSettingsViewController::kQuickMessageCount);
}

TEST_F(ChatSettings, TheTimeOutIsWholeSecondsNeverBelowZeroAndTextKeepsTheOldOne) {
    auto save = [this](const char* text) {
        pane->flashTimeout()->setText(text);
        pane->saveSettings();
        return settings().flashTimeout();
    };
    EXPECT_EQ(save("-5"), 0);
    EXPECT_EQ(save("12"), 12);
    EXPECT_EQ(save("abc"), 12);
    EXPECT_EQ(pane->flashTimeout()->text(), "12") << "the field shows what is kept";
    EXPECT_EQ(save(""), 12);
    EXPECT_EQ(save("3.9"), 3);
    EXPECT_EQ(save("1e30"), std::numeric_limits<int>::max());
}

TEST_F(ChatSettings, AnEmptiedQuickTextKeepsTheStoredOne) {
    defaults().setObject("Places please", "CB 4");
    pane->viewDidAppear();
    EXPECT_EQ(pane->textField(4)->text(), "Places please");
    pane->textField(4)->clear();
    pane->saveSettings();
    EXPECT_EQ(defaults().stringForKey("CB 4"), "Places please");
}

TEST_F(ChatSettings, AnEmptyOrBlankNameIsRefusedAndTheOldOneStays) {
    settings().setChatUsername("dave");
    pane->viewDidAppear();
    for (const char* name : {"", "   "}) {
        alerts.texts.clear();
        log.sent.clear();
        pane->chatUsername()->setText(name);
        pane->saveSettings();
        EXPECT_EQ(settings().chatUsername(), "dave");
        EXPECT_EQ(pane->chatUsername()->text(), "dave") << "the field shows the kept name";
        ASSERT_EQ(alerts.texts.size(), 1u);
        EXPECT_NE(alerts.texts[0].find("cannot be empty"), std::string::npos);
        ASSERT_EQ(log.sent.size(), 1u) << "the save goes on with the kept name";
        EXPECT_EQ(log.sent[0]["Value"]["sender"], Value("dave"));
    }
}

TEST_F(ChatSettings, EverySaveTellsInOrderAndRegistersTheSavedName) {
    pane->viewDidAppear();
    pane->chatUsername()->setText("erin");
    pane->saveSettings();
    pane->saveSettings();  // nothing changed: sent again all the same
    const std::vector<std::string> once = {"ChatMessagesChanged", "RegisterToChat",
                                           "SettingsChanged"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(log.events, twice);

    ASSERT_EQ(log.sent.size(), 2u);
    const Dictionary& value = *log.sent[0]["Value"].dictionaryValue();
    EXPECT_EQ(value.size(), 3u);
    EXPECT_EQ(value["sender"], Value("erin"));
    EXPECT_EQ(value["uuid"], Value(ChatManager::uuid()));
    const std::string id = *value["messageId"].stringValue();
    EXPECT_EQ(id.size(), 36u);
    EXPECT_NE(log.sent[1]["Value"]["messageId"], Value(id)) << "a new id for every save";
}

TEST_F(ChatSettings, SaveAndCloseSavesForTheButtonAndAgainAsThePaneGoes) {
    SettingsTabViewController window(sharedPreferencesServices(), &sender);
    window.addPane("Chat", pane.get());
    static_cast<void>(pane.release());  // the window owns its panes
    auto* chat = static_cast<ChatSettingsViewController*>(window.tabView()->widget(2));
    NotificationRecorder closed("PreferencesChanged");
    window.show();
    window.tabView()->setCurrentWidget(chat);
    EXPECT_EQ(chat->tabDelegate(), &window);
    log.sent.clear();

    chat->saveAndClose();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(closed.posted.size(), 1u);
    EXPECT_EQ(log.sent.size(), 2u);
}

TEST_F(ChatSettings, BadStoredValuesLeaveTheControlsAsTheyAre) {
    defaults().setObject("all of them", "chatSettings");
    settings().setChatFontSize(9);
    settings().setChatButtonSize(-1);
    pane->fontSize()->setCurrentIndex(1);
    pane->viewDidAppear();
    EXPECT_EQ(pane->fontSize()->currentIndex(), 1);
    EXPECT_EQ(pane->buttonSize()->currentIndex(), 0);
    for (QCheckBox* box : {pane->userMes(), pane->snaps(), pane->alerts(), pane->onTop()}) {
        EXPECT_TRUE(box->isChecked()) << "not a dictionary: missing, all shown";
    }

    defaults().setObject(Dictionary{{"userMes", 0}, {"snaps", 1}, {"alerts", 0}, {"onTop", 1}},
                         "chatSettings");
    pane->loadSettings();
    EXPECT_FALSE(pane->userMes()->isChecked());
    EXPECT_TRUE(pane->snaps()->isChecked());
    EXPECT_FALSE(pane->alerts()->isChecked());
}

TEST_F(ChatSettings, AStoreThatCannotBeWrittenIsReported) {
    ASSERT_TRUE(defaults().setInteger(1, "written"));
    std::filesystem::permissions(defaults().path(), std::filesystem::perms::owner_read);
    pane->viewDidAppear();
    pane->textField(2)->setText("Hold");
    pane->saveSettings();
    ASSERT_EQ(alerts.texts.size(), 1u);
    EXPECT_NE(alerts.texts[0].find("could not be saved"), std::string::npos);

    alerts.texts.clear();
    click(2);
    postMIDI(0, 0x90, 1, 1);
    EXPECT_EQ(alerts.texts.size(), 1u) << "a learnt event that is not stored is reported";
}

/// The pane beside the main window controller, which also acts on MIDI events.
class LearnBesideTheMainWindow : public ViewControllerTest {};

TEST_F(LearnBesideTheMainWindow, EventsRightAfterALearnSendNoQuickMessage) {
    defaults().setObject("Standby", "CB 1");
    defaults().setObject(Array{0, 0x90, 10, 1}, "CB MIDI 1");
    NotificationRecorder sent("ChatMessage");
    auto post = [](int byte1) {
        NotificationCenter::defaultCenter().post(
            "MIDIEventReceived",
            Dictionary{{"channel", 0}, {"command", 0x90}, {"byte1", byte1}, {"byte2", 1}});
    };
    PluggedMidiInput midi(*loop_);
    ASSERT_TRUE(midi.found());
    ChatSettingsViewController pane(sharedChatServices());
    pane.viewDidAppear();
    pane.learnButton(3)->click();
    post(30);
    EXPECT_EQ(pane.learnButton(3)->text(), "MIDI Clear");
    // A controller's second message of the same touch comes within the tenth of a second.
    loop_->advance(0.05);
    post(10);
    EXPECT_TRUE(sent.posted.empty());

    loop_->advance(0.1);
    post(10);
    ASSERT_EQ(sent.posted.size(), 1u);
    EXPECT_EQ(sent.posted[0]["message"], Value("Standby"));
    pane.viewWillDisappear();
}

}  // namespace
}  // namespace quenbril::test
