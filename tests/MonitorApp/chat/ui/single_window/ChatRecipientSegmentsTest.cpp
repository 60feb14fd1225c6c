// The single chat window's recipient segments as users come and go: the chosen user stays chosen
// wherever the segment moves, and the user's departure is said.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "MonitorApp/chat/ui/single_window/ChatRecipientControl.h"
#include "MonitorApp/chat/ui/single_window/ChatViewController.h"
#include "tests/MonitorApp/chat/ui/ChatUiTest.h"

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

}  // namespace
}  // namespace quenbril::test
