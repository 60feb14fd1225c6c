// The chat window's message pane over a long store and across the server's absence: it lays out
// the rows it shows and shows the newest; it keeps the chosen recipient while listed; it says
// what was not sent until the server is back.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/ui/ChatTableModel.h"
#include "MonitorApp/chat/ui/ChatTableViewController.h"
#include "tests/MonitorApp/chat/ui/ChatWindowTestEnvironment.h"

namespace quenbril::test {
namespace {

/// A link whose server is away until told otherwise.
class AwayLinkSender : public LinkSender {
  public:
    void sendDictionary(const Dictionary& message) override {
        if (maySend()) sent.push_back(message);
    }
    bool maySend() override { return here; }
    bool here = false;
    std::vector<Dictionary> sent;
};

class ChatPaneState : public ChatWindowTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ChatWindowTest::SetUp());
        pane = std::make_unique<ChatTableViewController>(sharedChatServices());
        pane->setAlertPresenter(&alerts);
        pane->resize(700, 400);
    }
    void TearDown() override {
        pane.reset();
        ChatWindowTest::TearDown();
    }
    void showPane() {
        pane->show();
        pane->viewDidAppear();
        QApplication::processEvents();
    }
    /// The rows whose cells the viewport shows, in part or whole.
    std::pair<int, int> shownRows() const {
        QTableView* view = pane->tableView();
        const int first = view->rowAt(0);
        int last = view->rowAt(view->viewport()->height() - 1);
        if (last < 0) last = pane->numberOfRows() - 1;
        return {first, last};
    }
    void pressRow(int row, double seconds) {
        QWidget* viewport = pane->tableView()->viewport();
        const QPoint at = pane->tableView()->visualRect(pane->model()->index(row, 2)).center();
        QTest::mousePress(viewport, Qt::LeftButton, {}, at);
        loop_->advance(seconds);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    }

    std::unique_ptr<ChatTableViewController> pane;
};

// 200 messages of the largest text: opening the window measures the rows it shows, not the 200,
// and shows the newest whole at the bottom; scrolling up measures the rows that come into view.
TEST_F(ChatPaneState, AFullStoreOfLongMessagesLaysOutOnlyTheRowsShownAndShowsTheNewest) {
    UserSettingsManager::sharedInstance().setChatFontSize(2);
    std::string longest;
    while (longest.size() + 8 <= ChatManager::kMaxTextBytes) longest += "cue six ";
    for (size_t i = 0; i < ChatManager::kMaxMessages - 1; ++i) store("bob", longest);
    store("bob", "the newest");
    QAbstractItemView* view = pane->tableView();
    std::vector<int> measured;
    pane->model()->setRowMeasure([view, &measured](int row) {
        measured.push_back(row);
        return view->sizeHintForRow(row);
    });

    showPane();
    const int last = pane->numberOfRows() - 1;
    ASSERT_EQ(last, 199);
    EXPECT_LT(measured.size(), 20u) << "rows measured when the window opened";
    const QScrollBar* bar = pane->tableView()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(shownRows().second, last);
    const QRect newest = pane->tableView()->visualRect(pane->model()->index(last, 2));
    EXPECT_TRUE(pane->tableView()->viewport()->rect().contains(newest)) << "whole";
    EXPECT_EQ(pane->tableView()->verticalHeader()->sectionSize(last),
              pane->model()->measuredRowHeight(last));
    const int tall = pane->model()->rowHeight(last - 1);
    EXPECT_GT(tall, pane->tableView()->viewport()->height()) << "a long text is many lines";

    // To the top: the first rows are measured as they come into view, at their whole height.
    measured.clear();
    pane->tableView()->verticalScrollBar()->setValue(0);
    QApplication::processEvents();
    EXPECT_EQ(shownRows().first, 0);
    EXPECT_EQ(pane->tableView()->verticalHeader()->sectionSize(0), tall);
    EXPECT_LT(measured.size(), 5u);
    EXPECT_EQ(bar->value(), 0) << "the rows shown stay where they are";
    // Halfway down: the rows shown there are at their whole height.
    pane->tableView()->verticalScrollBar()->setValue(bar->maximum() / 2);
    QApplication::processEvents();
    const auto [top, bottom] = shownRows();
    for (int row = top; row <= bottom; ++row) {
        EXPECT_EQ(pane->tableView()->verticalHeader()->sectionSize(row), tall) << row;
    }

    // A new message at the cap: the table at its end shows it; no row is measured twice.
    pane->scrollToEnd();
    measured.clear();
    ChatManager::addMessage("newer still", "N-1", "bob", std::nullopt, "All", 0);
    pane->reloadData();
    pane->scrollToEnd();
    QApplication::processEvents();
    EXPECT_EQ(pane->messageAtRow(shownRows().second)->message(), "newer still");
    EXPECT_LE(measured.size(), 2u);
}

TEST_F(ChatPaneState, TheChosenRecipientStaysWhileListedAndItsDepartureIsSaid) {
    setClients({"bob"});
    showPane();
    QComboBox* target = pane->chatTarget();
    target->setCurrentIndex(1);
    pane->recipientChanged(1);
    // Another user joins before bob in the server's order, and one more after.
    setClients({"alan", "bob", "me", "zoe"});
    pane->updateClients();
    EXPECT_EQ(target->currentText(), "bob");
    EXPECT_FALSE(pane->recipientNotice()->isVisible());
    QTest::keyClicks(pane->textField(), "private");
    QTest::keyClick(pane->textField(), Qt::Key_Return);
    ASSERT_EQ(posted.posted.size(), 1u);
    EXPECT_EQ(posted.posted[0]["recipient"], Value("bob"));

    // Bob leaves: "All", and the pane says so.
    setClients({"alan", "me", "zoe"});
    pane->updateClients();
    EXPECT_EQ(target->currentText(), "All");
    EXPECT_EQ(UserSettingsManager::sharedInstance().chatReceiver(), "All");
    ASSERT_TRUE(pane->recipientNotice()->isVisible());
    EXPECT_EQ(pane->recipientNotice()->text(), "bob left the chat: messages now go to All.");
    // Others coming and going leave the notice. Bob back does not bring him back as the
    // recipient, but the notice of his leaving goes.
    setClients({"alan", "me"});
    pane->updateClients();
    EXPECT_TRUE(pane->recipientNotice()->isVisible());
    setClients({"alan", "bob", "me", "zoe"});
    pane->updateClients();
    EXPECT_EQ(target->currentText(), "All");
    EXPECT_FALSE(pane->recipientNotice()->isVisible());
    // Zoe chosen and gone: a choice answers the notice.
    target->setCurrentIndex(target->findText("zoe"));
    pane->recipientChanged(target->currentIndex());
    setClients({"alan", "bob", "me"});
    pane->updateClients();
    ASSERT_TRUE(pane->recipientNotice()->isVisible());
    EXPECT_EQ(pane->recipientNotice()->text(), "zoe left the chat: messages now go to All.");
    pane->recipientChanged(target->findText("alan"));
    EXPECT_FALSE(pane->recipientNotice()->isVisible());

    // Leaving "All" for "All" says nothing.
    target->setCurrentIndex(0);
    setClients({"me"});
    pane->updateClients();
    EXPECT_FALSE(pane->recipientNotice()->isVisible());
}

// Not sent while the server is away; the words go when the server is back, or with the next
// message that goes.
TEST_F(ChatPaneState, TheNotSentWordsGoWhenTheServerIsBackOrAMessageGoes) {
    showPane();
    QLabel* status = pane->sendStatus();
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.post(ChatNotification::kChatMessageNotSent, Dictionary{{"messageId", "Q-1"}});
    ASSERT_TRUE(status->isVisible());
    center.post(ChatNotification::kChatServerIsHere);
    EXPECT_FALSE(status->isVisible());

    // Refused again, then sent: the words go with it.
    NotificationObserver refuse =
        center.addObserver(ChatNotification::kChatMessage, [&](const Notification& n) {
            center.post(ChatNotification::kChatMessageNotSent, n.userInfo);
        });
    pane->textField()->setText("one");
    pane->returnPressed();
    ASSERT_TRUE(status->isVisible());
    EXPECT_EQ(pane->textField()->text(), "one");
    refuse.reset();
    pane->returnPressed();
    EXPECT_FALSE(status->isVisible());
    EXPECT_TRUE(pane->textField()->text().isEmpty());
}

// A long press on an own message while the server is away: asked, then nothing local changes
// and the pane says the deletion was not sent; once the server is here it goes.
TEST_F(ChatPaneState, ADeletionWhileTheServerIsAwayIsNotMadeAndThePaneSaysSo) {
    AwayLinkSender away;
    ChatManager::setLinkSender(&away);
    store("me", "mine", 0, "AAAA-1");
    showPane();
    alerts.answer = 0;  // Delete
    pressRow(0, 0.5);
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_TRUE(away.sent.empty());
    EXPECT_EQ(ChatManager::messages()[0]->message(), "mine");
    EXPECT_EQ(pane->model()->data(pane->model()->index(0, 2)).toString(), "14:05: mine");
    ASSERT_TRUE(pane->sendStatus()->isVisible());
    EXPECT_EQ(pane->sendStatus()->text(), "Delete not sent: not connected to the server.");

    away.here = true;
    NotificationCenter::defaultCenter().post(ChatNotification::kChatServerIsHere);
    EXPECT_FALSE(pane->sendStatus()->isVisible());
    pressRow(0, 0.5);
    ASSERT_EQ(away.sent.size(), 1u);
    EXPECT_EQ(away.sent[0]["Value"], Value("AAAA-1"));
    EXPECT_EQ(ChatManager::messages()[0]->message(), ChatMessage::kRemovedText);
    EXPECT_FALSE(pane->sendStatus()->isVisible());
    ChatManager::setLinkSender(&link);
}

}  // namespace
}  // namespace quenbril::test
