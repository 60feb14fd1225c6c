// The single chat window's recipient segments as users come and go: the chosen user stays chosen
// wherever the segment moves, the user's departure is said until that user is back, and every
// name is read whole on its segment.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTest>

#include "MonitorApp/chat/ui/single_window/ChatRecipientControl.h"
#include "MonitorApp/chat/ui/single_window/ChatViewController.h"
#include "tests/MonitorApp/chat/ui/ChatUiTest.h"
#include "tests/support/PostedEvents.h"

namespace quenbril::test {
namespace {

class SingleWindowRecipient : public ChatUiTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ChatUiTest::SetUp());
        window = std::make_unique<ChatViewController>(sharedChatServices());
        window->resize(400, 600);
        window->viewDidLoad();
        window->show();
        window->viewDidAppear();
    }
    void TearDown() override {
        window.reset();
        ChatUiTest::TearDown();
    }
    void listUsers(const std::vector<std::string>& names) {
        Array props;
        for (const std::string& name : names) {
            props.emplace_back(Dictionary{{"chatName", name}, {"ip", "10.0.0.1"}});
        }
        ChatManager::updateFromProps(props);
        window->updateClients();
    }
    /// Clicks the segment labelled `name`, as a user does.
    void click(const std::string& name) {
        const auto& labels = window->chatTarget()->labels();
        const int segment =
            static_cast<int>(std::find(labels.begin(), labels.end(), name) - labels.begin());
        QAbstractButton* button = window->chatTarget()->group()->button(segment);
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    std::unique_ptr<ChatViewController> window;
    NotificationRecorder sent{ChatNotification::kChatMessage};
};

TEST_F(SingleWindowRecipient, TheChosenUserStaysChosenAsOthersJoinAndItsDepartureIsSaid) {
    listUsers({"bob", "carol"});
    ASSERT_NO_FATAL_FAILURE(click("bob"));
    EXPECT_EQ(window->recipient(), "bob");

    // Alan joins ahead of bob: bob's segment moves, and stays chosen.
    listUsers({"alan", "bob", "carol"});
    EXPECT_EQ(window->recipient(), "bob");
    window->textField()->setText("private");
    QTest::keyClick(window->textField(), Qt::Key_Return);
    ASSERT_EQ(sent.posted.size(), 1u);
    EXPECT_EQ(sent.posted[0]["recipient"], Value("bob"));
    EXPECT_FALSE(window->recipientNotice()->isVisible());

    listUsers({"alan", "carol"});
    EXPECT_EQ(window->recipient(), "All");
    ASSERT_TRUE(window->recipientNotice()->isVisible());
    EXPECT_EQ(window->recipientNotice()->text(), "bob left the chat: messages now go to All.");
    ASSERT_NO_FATAL_FAILURE(click("alan"));
    EXPECT_FALSE(window->recipientNotice()->isVisible()) << "the user's own choice answers it";
}

TEST_F(SingleWindowRecipient, TheNoticeOfALeavingGoesWhenThatUserIsBack) {
    listUsers({"Remote_71", "Remote_530"});
    ASSERT_NO_FATAL_FAILURE(click("Remote_71"));
    listUsers({"Remote_530"});
    ASSERT_TRUE(window->recipientNotice()->isVisible());

    listUsers({"Remote_530", "carol"});
    EXPECT_TRUE(window->recipientNotice()->isVisible()) << "others coming leave it";
    listUsers({"Remote_530", "Remote_71"});
    EXPECT_FALSE(window->recipientNotice()->isVisible());
    EXPECT_EQ(window->recipient(), "All") << "until the user chooses";
}

// More names than the window's least width holds, one of them as long as the chat carries: the
// window grows so that each segment has the room its label needs; the longest is elided in its
// middle, so the window stays within the screen, and still chooses that user.
TEST_F(SingleWindowRecipient, EveryNameIsReadWholeOnItsSegment) {
    const std::string longest = "Remote_" + std::string(245, 'w') + "_end";
    const std::vector<std::string> names{"Remote_71", "Remote_530", "Remote_1024", "Remote_2048",
                                         longest};
    listUsers(names);
    ASSERT_TRUE(waitForPostedEvents());
    for (QAbstractButton* segment : window->chatTarget()->group()->buttons()) {
        const std::string label =
            window->chatTarget()
                ->labels()[static_cast<size_t>(window->chatTarget()->group()->id(segment))];
        EXPECT_GE(segment->width(), segment->sizeHint().width()) << label;
        if (label == longest) continue;
        EXPECT_EQ(segment->text().toStdString(), label);
    }
    QAbstractButton* far = window->chatTarget()->group()->button(5);
    const QString shown = far->text();
    EXPECT_TRUE(shown.startsWith("Remote_w") && shown.endsWith("w_end") &&
                shown.contains(QChar(0x2026)))
        << shown.toStdString();
    EXPECT_EQ(far->toolTip().toStdString(), longest);
    EXPECT_GT(window->width(), 400) << "the window grew";
    EXPECT_LE(window->width(), window->screen()->availableGeometry().width());
    ASSERT_NO_FATAL_FAILURE(click(longest));
    EXPECT_EQ(window->recipient(), longest);
}

}  // namespace
}  // namespace quenbril::test
