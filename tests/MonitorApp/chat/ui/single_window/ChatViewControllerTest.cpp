// The single chat window: its column of buttons and F keys, the recipient control, the filters
// and the sends.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

#include "MonitorApp/chat/ui/ChatButton.h"
#include "MonitorApp/chat/ui/single_window/ChatRecipientControl.h"
#include "MonitorApp/chat/ui/single_window/ChatViewController.h"
#include "MonitorApp/lockable/LockNotifications.h"
#include "MonitorApp/lockable/LockView.h"
#include "tests/MonitorApp/chat/ui/ChatUiTest.h"

namespace quenbril::test {
namespace {

class SingleChatWindow : public ChatUiTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ChatUiTest::SetUp());
        // Only the messages each test adds.
        ChatManager::messages().clear();
    }
    void TearDown() override {
        window.reset();
        ChatUiTest::TearDown();
    }
    ChatViewController& open() {
        window = std::make_unique<ChatViewController>(sharedChatServices());
        window->resize(400, 600);
        window->viewDidLoad();
        window->show();
        window->viewDidAppear();
        return *window;
    }
    static void addMessage(const std::string& text, uint64_t type,
                           const std::string& sender = "bob",
                           const std::string& recipient = "All") {
        ChatManager::addMessage(text, std::nullopt, sender, "B0B", recipient, type);
    }
    std::vector<std::string> shownTexts() const {
        std::vector<std::string> texts;
        for (const auto& m : window->visibleMessages()) texts.push_back(m->message().value_or(""));
        return texts;
    }
    static void setClients(const std::vector<std::string>& names) {
        Array props;
        for (const std::string& name : names) {
            props.emplace_back(Dictionary{{"chatName", name}, {"ip", "10.0.0.1"}, {"uuid", name}});
        }
        ChatManager::updateFromProps(props);
    }

    std::unique_ptr<ChatViewController> window;
    NotificationRecorder sent{ChatNotification::kChatMessage};
};

TEST_F(SingleChatWindow, FiveButtonsFromF5AtTheBottomToF1AndTheirKeys) {
    settings().setChatMacroCount(5);
    defaults().setObject(Value("Coffee"), "CB 7");
    ChatViewController& vc = open();
    ASSERT_EQ(vc.chatButtons().size(), 5u);
    std::vector<int> tags;
    for (ChatButton* b : vc.chatButtons()) tags.push_back(b->myTag());
    EXPECT_EQ(tags, (std::vector<int>{3, 4, 5, 6, 7}));
    // The first button is the lowest one and carries the active channels.
    ChatButton& lowest = *vc.chatButtons().front();
    ChatButton& highest = *vc.chatButtons().back();
    EXPECT_EQ(textOf(lowest.functionButton()), "F5");
    EXPECT_EQ(textOf(highest.functionButton()), "F1");
    EXPECT_GT(lowest.y(), highest.y()) << "F5 below F1";
    EXPECT_EQ(lowest.geometry().bottom(), vc.buttonView()->height() - 1);
    EXPECT_EQ(lowest.width(), vc.buttonView()->width());
    EXPECT_EQ(lowest.text(), "(No channel selected)");
    EXPECT_EQ(highest.text(), "Coffee");

    // Keys reach the window wherever its focus is, the text field included.
    vc.textField()->setFocus();
    QTest::keyClick(vc.textField(), Qt::Key_F1);
    QTest::keyClick(&vc, Qt::Key_F5);
    QTest::keyClick(&vc, Qt::Key_F4);
    ASSERT_EQ(sent.posted.size(), 3u);
    expectSixKeys(sent.posted[0], "Coffee", "All");
    expectSixKeys(sent.posted[1], "(No channel selected)", "All");
    expectSixKeys(sent.posted[2], "Custom message 4", "All");
    // No buttons for F6 to F8.
    for (auto key : {Qt::Key_F6, Qt::Key_F7, Qt::Key_F8}) QTest::keyClick(&vc, key);
    EXPECT_EQ(sent.posted.size(), 3u);
    EXPECT_EQ(vc.textField()->text(), "") << "the keys leave the field alone";
}

TEST_F(SingleChatWindow, TheButtonCountStaysWithinTheEightKeys) {
    settings().setChatMacroCount(12);
    ChatViewController& vc = open();
    ASSERT_EQ(vc.chatButtons().size(), 8u);
    EXPECT_EQ(vc.chatButtons().front()->myTag(), 0);
    EXPECT_EQ(textOf(vc.chatButtons().front()->functionButton()), "F8");

    // The display preferences change the count while the window is open.
    settings().setChatMacroCount(-5);
    NotificationCenter::defaultCenter().post(ChatNotification::kChatButtonsChanged);
    EXPECT_TRUE(vc.chatButtons().empty());
    QTest::keyClick(&vc, Qt::Key_F1);
    EXPECT_TRUE(sent.posted.empty());
}

TEST_F(SingleChatWindow, TheRecipientsAreAllAndEveryOtherUser) {
    ChatViewController& vc = open();
    EXPECT_EQ(vc.chatTarget()->labels(), std::vector<std::string>{"All"});

    setClients({"bob", "carol", "dave"});
    vc.updateClients();
    EXPECT_EQ(vc.chatTarget()->labels(), (std::vector<std::string>{"All", "bob", "dave"}));

    // This user not (yet) listed: still every other user has a segment.
    setClients({"bob", "dave", "erin"});
    vc.updateClients();
    EXPECT_EQ(vc.chatTarget()->labels(), (std::vector<std::string>{"All", "bob", "dave", "erin"}));

    vc.chatTarget()->setSelectedSegment(3);
    EXPECT_EQ(vc.recipient(), "erin");
    vc.textField()->setText("hello");
    QTest::keyClick(vc.textField(), Qt::Key_Return);
    ASSERT_EQ(sent.posted.size(), 1u);
    expectSixKeys(sent.posted[0], "hello", "erin");
    EXPECT_EQ(vc.textField()->text(), "");

    // No users at all keeps the segments.
    setClients({});
    vc.updateClients();
    EXPECT_EQ(vc.chatTarget()->labels().size(), 4u);
}

TEST_F(SingleChatWindow, TheCheckBoxesFilterByTypeAndAreKept) {
    addMessage("text", ChatMessage::kText);
    addMessage("scp", ChatMessage::kSCPAlert);
    addMessage("alert", ChatMessage::kAlert);
    addMessage("snap", ChatMessage::kSnapshotChanged);
    addMessage("page", ChatMessage::kPage);
    addMessage("Alert reset", ChatMessage::kText);
    ChatViewController& vc = open();
    EXPECT_EQ(shownTexts().size(), 6u) << "nothing stored: everything shown";

    vc.userMes()->setChecked(false);
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"scp", "alert", "snap", "page"}))
        << "an alert reset sent as text follows the messages box";
    vc.userMes()->setChecked(true);
    vc.alerts()->setChecked(false);
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"text", "snap", "Alert reset"}))
        << "pages follow the alerts box here";
    vc.snaps()->setChecked(false);
    vc.onTop()->setChecked(false);
    EXPECT_EQ(vc.tableView()->rowCount(), 2);

    vc.viewWillDisappear();
    EXPECT_EQ(defaults().dictionaryForKey("chatSettings"),
              (Dictionary{{"userMes", 1}, {"snaps", 0}, {"alerts", 0}, {"onTop", 0}}));

    // A stored dictionary sets the boxes; anything else leaves them as they are.
    defaults().setObject(Value(Dictionary{{"userMes", 0}, {"snaps", 1}, {"alerts", 1}}),
                         "chatSettings");
    vc.loadSettings();
    EXPECT_FALSE(vc.userMes()->isChecked());
    EXPECT_TRUE(vc.snaps()->isChecked());
    EXPECT_FALSE(vc.onTop()->isChecked()) << "a missing entry is off";
    defaults().setObject(Value("garbage"), "chatSettings");
    vc.loadSettings();
    EXPECT_FALSE(vc.userMes()->isChecked());
    EXPECT_TRUE(vc.alerts()->isChecked());
}

TEST_F(SingleChatWindow, CellsShowTheirTextsLiterally) {
    addMessage("<b>x</b>", ChatMessage::kText, "bob", "carol");
    addMessage("down", ChatMessage::kSCPAlert);
    addMessage("Alert reseted", ChatMessage::kSCPAlert);
    ChatViewController& vc = open();
    QTableWidget& table = *vc.tableView();
    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.item(0, ChatViewController::kSourceColumn)->text(), "bob->carol");
    EXPECT_EQ(table.item(0, ChatViewController::kMessageColumn)->text(), "<b>x</b>");
    EXPECT_FALSE(table.item(0, ChatViewController::kTimeColumn)->text().isEmpty());
    EXPECT_EQ(table.item(1, ChatViewController::kSourceColumn)->text(), "SCP alert");
    EXPECT_EQ(table.item(1, ChatViewController::kMessageColumn)->foreground().color(),
              QColor(Qt::red));
    EXPECT_EQ(table.item(2, ChatViewController::kSourceColumn)->text(), "Alert reset");
    EXPECT_EQ(table.item(0, ChatViewController::kMessageColumn)->foreground().color(),
              QColor(Qt::white));
    EXPECT_GT(table.rowHeight(0), 0);
}

TEST_F(SingleChatWindow, SendGoesOutEvenEmptyButNotWhileLocked) {
    ChatViewController& vc = open();
    vc.sendClicked();
    ASSERT_EQ(sent.posted.size(), 1u);
    expectSixKeys(sent.posted[0], "", "All");

    // The window follows the lock by itself.
    NotificationCenter::defaultCenter().post(LockNotification::kLocked,
                                             Dictionary{{LockNotification::kLockOnKey, true}});
    EXPECT_TRUE(vc.lockView()->isCovering());
    EXPECT_TRUE(vc.buttonView()->isHidden());
    vc.textField()->setText("kept");
    vc.sendClicked();
    EXPECT_EQ(sent.posted.size(), 1u);
    EXPECT_EQ(vc.textField()->text(), "kept");

    NotificationCenter::defaultCenter().post(LockNotification::kLocked,
                                             Dictionary{{LockNotification::kLockOnKey, false}});
    EXPECT_FALSE(vc.buttonView()->isHidden());
    vc.sendClicked();
    ASSERT_EQ(sent.posted.size(), 2u);
    EXPECT_EQ(sent.posted[1]["message"].optionalString(), "kept");

    // Opened while the interface is locked: covered at once.
    settings().setIsLocked(true);
    EXPECT_TRUE(open().lockView()->isCovering());
}

TEST_F(SingleChatWindow, TheWindowFloatsWhileOnTopAndKeepsItsFrame) {
    ChatViewController& vc = open();
    EXPECT_TRUE(vc.windowFlags().testFlag(Qt::WindowStaysOnTopHint)) << "on by default";
    vc.onTop()->setChecked(false);
    EXPECT_FALSE(vc.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(vc.isVisible());
    vc.viewWillDisappear();
    EXPECT_TRUE(defaults().stringForKey("chatWindowAutoSave").has_value());
    EXPECT_EQ(vc.minimumSize(), QSize(400, 600));
}

}  // namespace
}  // namespace quenbril::test
