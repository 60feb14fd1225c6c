// The chat window opened by a headless main window controller that is linked to the real
// stand-in on loopback, with a second remote ("bob") made of the project's codec and a socket.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <optional>

#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ui/ChatButton.h"
#include "MonitorApp/chat/ui/ChatButtonViewController.h"
#include "MonitorApp/chat/ui/ChatSplitViewController.h"
#include "MonitorApp/chat/ui/ChatTableModel.h"
#include "MonitorApp/chat/ui/ChatTableViewController.h"
#include "MonitorApp/chat/ui/ChatWindowOpener.h"
#include "MonitorApp/chat/ui/SendButton.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "tests/MonitorApp/mainwindow/ViewControllerTestEnvironment.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/QtTestTime.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

constexpr double kWait = 5.0;

class ChatWindowE2E : public ViewControllerTest {
  protected:
    void SetUp() override {
        ViewControllerTest::SetUp();
        ASSERT_NE(server_.port(), 0) << server_.log();
        settings().setChatUsername("alice");
        SegueTable segues;
        opener_.emplace(sharedChatServices(), &alerts);
        segues.add("showSplit", *opener_);
        vc->setSegueTable(std::move(segues));
        ChatManager::setLinkSender(&ServerManager::sharedInstance());
        ASSERT_TRUE(linkToStandIn(server_.port())) << server_.log();
    }
    void TearDown() override {
        if (auto shown = opener_ ? opener_->shownWindow() : nullptr) shown->hide();
        unlinkFromStandIn();
        ViewControllerTest::TearDown();
    }

    bool pumpUntil(const std::function<bool()>& done) { return loop_->runUntil(done, kWait); }
    void pump(double seconds) { loop_->runFor(seconds); }
    int rowsWithText(const std::string& text) const {
        int rows = 0;
        for (int row = 0; row < table().numberOfRows(); ++row) {
            rows += table().messageAtRow(row)->message() == text ? 1 : 0;
        }
        return rows;
    }
    int rowOf(const std::string& text) const {
        for (int row = 0; row < table().numberOfRows(); ++row) {
            if (table().messageAtRow(row)->message() == text) return row;
        }
        return -1;
    }
    ChatTableViewController& table() const { return *opener_->shownWindow()->tableController(); }
    /// Bob joins the chat on the stand-in and is chosen as the window's recipient.
    void joinAndChoose(test::WireClient& bob) {
        ASSERT_TRUE(bob.connected());
        ASSERT_TRUE(bob.waitFor("InitialDataReady", test::scaledSeconds(kWait)));
        ASSERT_TRUE(bob.send(LinkMessageBuilder::registerToChat("bob", "BOB-UUID")));
        QComboBox* target = table().chatTarget();
        ASSERT_TRUE(pumpUntil([&] { return target->findText("bob") > 0; })) << server_.log();
        target->setCurrentIndex(target->findText("bob"));
    }

    test::SimServerProcess server_;
    // Made once the fixture has fresh shared instances.
    std::optional<ChatWindowOpener> opener_;
};

TEST_F(ChatWindowE2E, TheWindowChatsWithASecondRemoteAndDeletesAnOwnMessage) {
    vc->showHideChat();
    ASSERT_NE(opener_->shownWindow(), nullptr);
    test::WireClient bob(server_.port());
    ASSERT_NO_FATAL_FAILURE(joinAndChoose(bob));
    // Bob came into the recipient pop-up; this user never does.
    QComboBox* target = table().chatTarget();
    EXPECT_EQ(target->findText("alice"), -1);

    // Return sends; the row appears only with the relay, and once.
    QTest::keyClicks(table().textField(), "hello bob");
    QTest::keyClick(table().textField(), Qt::Key_Return);
    EXPECT_EQ(rowsWithText("hello bob"), 0);
    const Dictionary relayed = bob.expect("ChatMessageFromServer", test::scaledSeconds(kWait));
    const Value& sent = relayed["Value"];
    EXPECT_EQ(sent["message"], Value("hello bob"));
    EXPECT_EQ(sent["sender"], Value("alice"));
    EXPECT_EQ(sent["recipient"], Value("bob"));
    EXPECT_EQ(sent["type"], Value(0));
    EXPECT_EQ(sent["uuid"], Value(ChatManager::uuid()));
    ASSERT_TRUE(sent["messageId"].stringValue());
    ASSERT_TRUE(pumpUntil([&] { return rowsWithText("hello bob") > 0; })) << server_.log();
    pump(0.3);
    EXPECT_EQ(rowsWithText("hello bob"), 1);

    // A long press on it and "Delete": bob is told, and the row stays as removed.
    const int row = rowOf("hello bob");
    QTableView* view = table().tableView();
    const QPoint at = view->visualRect(table().model()->index(row, 2)).center();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
    loop_->advance(0.5);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(alerts.alerts.size(), 1u);
    ASSERT_NE(alerts.windows[0], nullptr);
    EXPECT_EQ(alerts.windows[0]->window(), opener_->shownWindow().get())
        << "the question belongs to the chat window";
    const Dictionary removal = bob.expect("ChatRemoveMessage", test::scaledSeconds(kWait));
    EXPECT_EQ(removal["Value"], sent["messageId"]);
    ASSERT_TRUE(pumpUntil([&] { return rowsWithText(ChatMessage::kRemovedText) == 1; }));
    const QModelIndex cell = table().model()->index(rowOf(ChatMessage::kRemovedText), 2);
    EXPECT_TRUE(cell.data().toString().endsWith(": <message removed>"));
    EXPECT_TRUE(cell.data(Qt::FontRole).value<QFont>().italic());

    // A quick message goes to the recipient chosen in the window.
    ASSERT_EQ(target->currentText(), "bob");
    ChatButton* quick = opener_->shownWindow()->buttonController()->chatButtons().at(1);
    const std::string quickText = quick->text();
    QTest::mouseClick(quick, Qt::LeftButton);
    const Dictionary quickRelayed = bob.expect("ChatMessageFromServer", test::scaledSeconds(kWait));
    EXPECT_EQ(quickRelayed["Value"]["message"], Value(quickText));
    EXPECT_EQ(quickRelayed["Value"]["recipient"], Value("bob"));

    // Bob's rows take the colour the server gave him.
    ASSERT_TRUE(
        bob.send(LinkMessageBuilder::chatMessageFromClient(Dictionary{{"message", "from bob"},
                                                                      {"sender", "bob"},
                                                                      {"messageId", "B-1"},
                                                                      {"uuid", "BOB-UUID"},
                                                                      {"type", 0},
                                                                      {"recipient", "All"}})));
    ASSERT_TRUE(pumpUntil([&] {
        return rowsWithText("from bob") == 1 &&
               ChatColorManager::sharedInstance().colorForUUID("BOB-UUID").has_value();
    })) << server_.log();
    table().reloadData();
    const QColor bobs = toQColor(*ChatColorManager::sharedInstance().colorForUUID("BOB-UUID"));
    const QModelIndex bobsCell = table().model()->index(rowOf("from bob"), 2);
    EXPECT_EQ(bobsCell.data(Qt::ForegroundRole).value<QColor>().rgb(), bobs.rgb());
}

// F1 to F8 pressed in the chat window, wherever its focus is, send what the buttons with those
// labels send, to the recipient chosen in the window.
TEST_F(ChatWindowE2E, TheFunctionKeysSendTheButtonsTheirLabelsName) {
    for (int slot = 1; slot <= 7; ++slot) {
        defaults().setObject(Value("quick " + std::to_string(slot)),
                             UserSettingsManager::chatButtonKey(slot));
    }
    vc->showHideChat();
    auto window = opener_->shownWindow();
    ASSERT_NE(window, nullptr);
    window->activateWindow();
    ASSERT_TRUE(test::qWaitForWindowActive(window.get()));
    test::WireClient bob(server_.port());
    ASSERT_NO_FATAL_FAILURE(joinAndChoose(bob));
    table().textField()->setFocus();

    for (int key = 1; key <= 8; ++key) {
        std::string labelled;
        for (ChatButton* button : window->buttonController()->chatButtons()) {
            if (button->functionButton()->text() == QString("F%1").arg(key)) {
                labelled = button->text();
            }
        }
        ASSERT_FALSE(labelled.empty()) << "F" << key;
        QTest::keyClick(window->focusWidget(), static_cast<Qt::Key>(Qt::Key_F1 + key - 1));
        const Dictionary relayed = bob.expect("ChatMessageFromServer", test::scaledSeconds(kWait));
        EXPECT_EQ(relayed["Value"]["message"], Value(labelled)) << "F" << key;
        EXPECT_EQ(relayed["Value"]["recipient"], Value("bob")) << "F" << key;
    }
    EXPECT_EQ(table().textField()->text(), "") << "the keys type nothing";
}

// With the server gone, Return (or Send) keeps the typed text in the field, and the window
// says under it that the message was not sent; so does a quick message's key. What is typed
// next takes the words away until the next attempt.
TEST_F(ChatWindowE2E, AMessageThatCannotBeSentKeepsItsTextAndTheWindowSaysSo) {
    defaults().setObject(Value("quick 7"), UserSettingsManager::chatButtonKey(7));  // F1
    vc->showHideChat();
    auto window = opener_->shownWindow();
    ASSERT_NE(window, nullptr);
    window->activateWindow();
    ASSERT_TRUE(test::qWaitForWindowActive(window.get()));
    server_.stop();
    ASSERT_TRUE(pumpUntil([&] { return !vc->serverIsHere(); })) << "the link did not drop";

    QLineEdit* field = table().textField();
    QLabel* status = table().sendStatus();
    field->setFocus();
    QTest::keyClicks(field, "hold the curtain");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(field->text(), "hold the curtain");
    EXPECT_EQ(rowsWithText("hold the curtain"), 0);
    // The words are where the window shows them.
    ASSERT_TRUE(status->isVisible());
    EXPECT_EQ(status->text(), "Not sent: not connected to the server.");
    const QPoint middle = status->mapTo(window.get(), status->rect().center());
    EXPECT_EQ(window->childAt(middle), status);

    QTest::mouseClick(table().sendButton(), Qt::LeftButton);
    EXPECT_EQ(field->text(), "hold the curtain") << "Send keeps it too";

    QTest::keyClick(field, Qt::Key_Exclam);
    EXPECT_FALSE(status->isVisible()) << "typing is a new attempt";
    QTest::keyClick(window->focusWidget(), Qt::Key_F1);
    EXPECT_TRUE(status->isVisible()) << "a quick message not sent says so";
    EXPECT_EQ(field->text(), "hold the curtain!");
}

}  // namespace
}  // namespace quenbril
