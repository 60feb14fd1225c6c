// The chat window of a main window controller linked to the real stand-in, with two more remotes
// made of the project's codec and a socket: the recipient chosen in the pop-up holds while others
// join, its departure is said; what could not be sent while the server was away is said until the
// server is back, and a deletion then changes nothing.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStyleOptionComboBox>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTest>
#include <optional>

#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/chat/ui/ChatSplitViewController.h"
#include "MonitorApp/chat/ui/ChatTableModel.h"
#include "MonitorApp/chat/ui/ChatTableViewController.h"
#include "MonitorApp/chat/ui/ChatWindowOpener.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "tests/MonitorApp/mainwindow/ViewControllerTestEnvironment.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/PostedEvents.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

constexpr double kWait = 5.0;

class ChatRecipientE2E : public ViewControllerTest {
  protected:
    void SetUp() override {
        ViewControllerTest::SetUp();
        ASSERT_NE(server_.port(), 0) << server_.log();
        settings().setChatUsername("alice");
        SegueTable segues;
        opener_.emplace(sharedChatServices(), &alerts);
        segues.add("showSplit", *opener_);
        vc->setSegueTable(std::move(segues));
        ASSERT_TRUE(linkToStandIn(server_.port())) << server_.log();
        vc->showHideChat();
        ASSERT_NE(opener_->shownWindow(), nullptr);
    }
    void TearDown() override {
        if (auto shown = opener_ ? opener_->shownWindow() : nullptr) shown->hide();
        unlinkFromStandIn();
        ViewControllerTest::TearDown();
    }

    bool pumpUntil(const std::function<bool()>& done) { return loop_->runUntil(done, kWait); }
    ChatTableViewController& table() const { return *opener_->shownWindow()->tableController(); }
    RecipientPopUp& target() const { return *table().chatTarget(); }
    bool listed(const char* name) {
        return pumpUntil([&] { return target().findText(name) > 0; });
    }
    /// Joins the chat as `name` on a new connection.
    std::unique_ptr<test::WireClient> join(const std::string& name, uint16_t port = 0,
                                           const std::string& uuid = {}) {
        auto remote = std::make_unique<test::WireClient>(port ? port : server_.port());
        EXPECT_TRUE(remote->waitFor("InitialDataReady", test::scaledSeconds(kWait)));
        EXPECT_TRUE(remote->send(
            LinkMessageBuilder::registerToChat(name, uuid.empty() ? name + "-UUID" : uuid)));
        return remote;
    }
    /// Opens the pop-up and clicks the item `name`, as a user does; `whileOpen` looks at the
    /// opened list first.
    void choose(const QString& name,
                const std::function<void(QAbstractItemView&)>& whileOpen = {}) {
        target().showPopup();
        QAbstractItemView* list = target().view();
        ASSERT_TRUE(pumpUntil([&] { return list->isVisible(); }));
        if (whileOpen) {
            ASSERT_NO_FATAL_FAILURE(whileOpen(*list));
        }
        const QModelIndex item = list->model()->index(target().findText(name), 0);
        const QPoint at = list->visualRect(item).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        ASSERT_TRUE(pumpUntil([&] { return !list->isVisible(); }));
    }
    void typeAndReturn(const char* text) {
        table().textField()->setFocus();
        QTest::keyClicks(table().textField(), text);
        QTest::keyClick(table().textField(), Qt::Key_Return);
    }
    /// Where the label is drawn, it is what the window shows.
    void expectShown(QLabel* label) {
        ASSERT_TRUE(label->isVisible());
        QWidget* window = opener_->shownWindow().get();
        EXPECT_EQ(window->childAt(label->mapTo(window, label->rect().center())), label);
    }
    int rowOf(const std::string& text) const {
        for (int row = 0; row < table().numberOfRows(); ++row) {
            if (table().messageAtRow(row)->message() == text) return row;
        }
        return -1;
    }
    void longPress(int row) {
        QTableView* view = table().tableView();
        const QPoint at = view->visualRect(table().model()->index(row, 2)).center();
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
        loop_->advance(0.5);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
    }

    test::SimServerProcess server_;
    std::optional<ChatWindowOpener> opener_;
};

TEST_F(ChatRecipientE2E, ThePrivateRecipientHoldsAsRemotesJoinAndItsDepartureIsSaid) {
    auto bob = join("bob");
    ASSERT_TRUE(listed("bob")) << server_.log();
    ASSERT_NO_FATAL_FAILURE(choose("bob"));
    ASSERT_EQ(target().currentText(), "bob");

    // Carol joins: every remote gets the new list, and alice's choice stays.
    auto carol = join("carol");
    ASSERT_TRUE(listed("carol")) << server_.log();
    EXPECT_EQ(target().currentText(), "bob");
    EXPECT_FALSE(table().recipientNotice()->isVisible());

    typeAndReturn("for bob only");
    const Dictionary relayed = bob->expect("ChatMessageFromServer", test::scaledSeconds(kWait));
    EXPECT_EQ(relayed["Value"]["message"], Value("for bob only"));
    EXPECT_EQ(relayed["Value"]["recipient"], Value("bob"));
    // The stand-in had relayed alice's message before bob could answer: carol's first message
    // is bob's.
    ASSERT_TRUE(bob->send(LinkMessageBuilder::chatMessageFromClient(Dictionary{
        {"message", "from bob"}, {"sender", "bob"}, {"type", 0}, {"recipient", "All"}})));
    const Dictionary first = carol->expect("ChatMessageFromServer", test::scaledSeconds(kWait));
    EXPECT_EQ(first["Value"]["message"], Value("from bob"));

    // Bob goes: "All", and the window says so where the user looks.
    bob.reset();
    ASSERT_TRUE(pumpUntil([&] { return target().findText("bob") < 0; })) << server_.log();
    EXPECT_EQ(target().currentText(), "All");
    ASSERT_NO_FATAL_FAILURE(expectShown(table().recipientNotice()));
    EXPECT_EQ(table().recipientNotice()->text(), "bob left the chat: messages now go to All.");
    typeAndReturn("to everyone now");
    const Dictionary toAll = carol->expect("ChatMessageFromServer", test::scaledSeconds(kWait));
    EXPECT_EQ(toAll["Value"]["message"], Value("to everyone now"));
    EXPECT_EQ(toAll["Value"]["recipient"], Value("All"));

    // Choosing in the pop-up answers the notice.
    ASSERT_NO_FATAL_FAILURE(choose("carol"));
    EXPECT_FALSE(table().recipientNotice()->isVisible());
}

// The chosen remote leaves and comes back: the notice of its leaving goes as soon as it is listed
// again, while messages still go to all until the user chooses.
TEST_F(ChatRecipientE2E, TheNoticeOfALeavingGoesWhenThatRemoteIsBack) {
    auto remote71 = join("Remote_71");
    ASSERT_TRUE(listed("Remote_71")) << server_.log();
    ASSERT_NO_FATAL_FAILURE(choose("Remote_71"));
    remote71.reset();
    ASSERT_TRUE(pumpUntil([&] { return target().findText("Remote_71") < 0; })) << server_.log();
    ASSERT_NO_FATAL_FAILURE(expectShown(table().recipientNotice()));
    EXPECT_EQ(table().recipientNotice()->text(),
              "Remote_71 left the chat: messages now go to All.");

    // Another remote coming leaves the notice; Remote_71 coming back takes it away.
    auto remote530 = join("Remote_530");
    ASSERT_TRUE(listed("Remote_530")) << server_.log();
    EXPECT_TRUE(table().recipientNotice()->isVisible());
    remote71 = join("Remote_71");
    ASSERT_TRUE(listed("Remote_71")) << server_.log();
    EXPECT_FALSE(table().recipientNotice()->isVisible());
    EXPECT_EQ(target().currentText(), "All");
}

// Two remotes whose names share their first seven characters, and one whose name is as long as
// the chat carries: each is read whole in the opened list and, once chosen, in the closed pop-up,
// where the longest has its middle elided and the window keeps its size.
TEST_F(ChatRecipientE2E, EveryNameIsReadWholeInTheListAndInTheClosedPopUp) {
    const QString longest = "Remote_" + QString(245, 'w') + "_end";
    ASSERT_EQ(longest.toUtf8().size(), 256);
    // The window is laid out as it opens, before anyone joins, as in the application.
    ASSERT_TRUE(test::waitForPostedEvents());
    auto remote71 = join("Remote_71");
    auto remote530 = join("Remote_530");
    auto far = join(longest.toStdString(), 0, "far-UUID");
    for (const QString& name : {QString("Remote_71"), QString("Remote_530"), longest}) {
        ASSERT_TRUE(pumpUntil([&] { return target().findText(name) > 0; })) << server_.log();
    }
    // The window lays itself out anew.
    ASSERT_TRUE(test::waitForPostedEvents());
    QWidget* window = opener_->shownWindow().get();
    const QSize windowSize = window->size();

    // The list: a row as a plain item view draws it needs no more than the list's width; the
    // longest name is as wide as the screen allows.
    const auto rowsFit = [&](QAbstractItemView& list) {
        const QStyledItemDelegate plain;
        QStyleOptionViewItem option;
        option.initFrom(list.viewport());
        option.font = list.font();
        const int room = list.viewport()->width();
        std::vector<QImage> rows;
        for (const char* name : {"Remote_71", "Remote_530"}) {
            const QModelIndex item = list.model()->index(target().findText(name), 0);
            EXPECT_LE(plain.sizeHint(option, item).width(), room) << name;
            const QRect row = list.visualRect(item).intersected(list.viewport()->rect());
            rows.push_back(list.viewport()->grab(row).toImage());
        }
        EXPECT_NE(rows[0], rows[1]) << "the two names are drawn apart";
        EXPECT_LE(list.window()->width(), window->screen()->availableGeometry().width());
    };
    ASSERT_NO_FATAL_FAILURE(choose("Remote_71", rowsFit));

    // Closed: the chosen name whole within the pop-up's field, and drawn so.
    const auto field = [&] {
        QStyleOptionComboBox option;
        option.initFrom(&target());
        return target().style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                QStyle::SC_ComboBoxEditField, &target());
    };
    const auto expectWhole = [&](const QString& name) {
        EXPECT_EQ(target().currentText(), name);
        EXPECT_EQ(target().shownText(), name);
        EXPECT_LE(target().fontMetrics().horizontalAdvance(name), field().width() - 2)
            << name.toStdString();
    };
    ASSERT_NO_FATAL_FAILURE(expectWhole("Remote_71"));
    const QImage drawn71 = target().grab(field()).toImage();
    ASSERT_NO_FATAL_FAILURE(choose("Remote_530"));
    ASSERT_NO_FATAL_FAILURE(expectWhole("Remote_530"));
    EXPECT_NE(target().grab(field()).toImage(), drawn71) << "the two names are drawn apart";

    // The longest: its start and end around an ellipsis, within the field; the window is as it
    // was and its pane still has room for all its parts.
    ASSERT_NO_FATAL_FAILURE(choose(longest));
    EXPECT_EQ(target().currentText(), longest);
    const QString shown = target().shownText();
    EXPECT_TRUE(shown.startsWith("Remote_w") && shown.endsWith("w_end") &&
                shown.contains(QChar(0x2026)))
        << shown.toStdString();
    EXPECT_LE(target().fontMetrics().horizontalAdvance(shown), field().width() - 2);
    EXPECT_EQ(window->size(), windowSize);
    EXPECT_LE(table().minimumSizeHint().width(), table().width());
    typeAndReturn("far away");
    const Dictionary relayed = far->expect("ChatMessageFromServer", test::scaledSeconds(kWait));
    EXPECT_EQ(relayed["Value"]["recipient"], Value(longest.toStdString())) << "sent whole";
}

// While the server is away a message and a deletion are not sent, and the window says so; the
// words go once the server is back with its state, and the kept text can be sent.
TEST_F(ChatRecipientE2E, WhatWasNotSentIsSaidUntilTheServerIsBackAndADeletionChangesNothing) {
    const uint16_t port = server_.port();
    typeAndReturn("mine");
    ASSERT_TRUE(pumpUntil([&] { return rowOf("mine") >= 0; })) << server_.log();
    const std::string id = table().messageAtRow(rowOf("mine"))->messageId().value_or("");
    ASSERT_FALSE(id.empty());

    server_.stop();
    ASSERT_TRUE(pumpUntil([&] { return !vc->serverIsHere(); })) << "the link did not drop";
    QLabel* status = table().sendStatus();
    typeAndReturn(" again");
    ASSERT_NO_FATAL_FAILURE(expectShown(status));
    EXPECT_EQ(status->text(), "Not sent: not connected to the server.");

    alerts.answer = 0;  // Delete
    longPress(rowOf("mine"));
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(status->text(), "Delete not sent: not connected to the server.");
    EXPECT_TRUE(status->isVisible());
    EXPECT_GE(rowOf("mine"), 0) << "the message is left as it was";

    test::SimServerProcess back({"--port", std::to_string(port)});
    ASSERT_EQ(back.port(), port) << back.log();
    ServerManager::sharedInstance().tryToConnect();
    ASSERT_TRUE(pumpUntil([&] { return vc->serverIsHere(); })) << back.log();
    EXPECT_FALSE(status->isVisible()) << "the server is back";
    EXPECT_EQ(table().textField()->text(), " again") << "the typed text is still there";

    // What was kept in the field goes now.
    auto bob = join("bob", back.port());
    ASSERT_TRUE(listed("bob")) << back.log();
    QTest::keyClick(table().textField(), Qt::Key_Return);
    const Dictionary relayed = bob->expect("ChatMessageFromServer", test::scaledSeconds(kWait));
    EXPECT_EQ(relayed["Value"]["message"], Value(" again"));
    EXPECT_TRUE(table().textField()->text().isEmpty());
}

}  // namespace
}  // namespace quenbril
