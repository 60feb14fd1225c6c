#pragma once

#include <QFont>
#include <QLabel>

#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "tests/MonitorApp/chat/ChatTestEnvironment.h"

namespace quenbril::test {

/// A chat test with no strips (so no channel is active) and the user "carol".
class ChatUiTest : public ChatTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ChatTest::SetUp());
        ChannelStripManager::resetSharedInstance();
        settings().setChatUsername("carol");
    }
    void TearDown() override {
        ChannelStripManager::resetSharedInstance();
        ChatTest::TearDown();
    }

    static UserSettingsManager& settings() { return UserSettingsManager::sharedInstance(); }
    static std::string textOf(const QLabel* label) { return label->text().toStdString(); }

    /// The six keys every window sender fills, with a fresh id.
    static void expectSixKeys(const Dictionary& posted, const std::string& message,
                              const std::string& recipient) {
        EXPECT_EQ(posted.size(), 6u);
        EXPECT_EQ(posted["message"].optionalString(), message);
        EXPECT_EQ(posted["sender"].optionalString(), "carol");
        EXPECT_EQ(posted["type"].longLongValue(), 0);
        EXPECT_EQ(posted["uuid"].optionalString(), ChatManager::uuid());
        EXPECT_EQ(posted["recipient"].optionalString(), recipient);
        EXPECT_EQ(posted["messageId"].optionalString().value_or("").size(), 36u);
    }
};

}  // namespace quenbril::test
