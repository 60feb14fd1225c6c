// The chat a hostile or oversized server sends is refused where it arrives, and the chat hears
// when the server is back with its state.

#include <gtest/gtest.h>

#include "DispatcherTestEnvironment.h"
#include "tests/MonitorApp/Recorders.h"

namespace quenbril {
namespace {

Dictionary page(std::string text, std::string id) {
    return Dictionary{{"message", std::move(text)}, {"sender", "bob"}, {"uuid", "B"},
                      {"messageId", std::move(id)}, {"type", 5},       {"recipient", "All"}};
}

// 200 pages whose ids are 200,000 bytes, then the removal of an id of 100,000: nothing of them
// is stored, shown or searched, and the messages that were there stay as they were.
TEST_F(DispatcherTest, MessagesWithOverLongIdsAndTheirRemovalAreRefusedOnArrival) {
    dispatch("ChatMessageFromServer", page("before", "ID-1"));
    const size_t before = ChatManager::messages().size();
    const int reloads = window.chatReloads;
    window.segues.clear();

    testing::internal::CaptureStderr();
    for (int i = 0; i < 200; ++i) {
        dispatch("ChatMessageFromServer",
                 page("hostile", std::string(200000, 'a') + char('a' + i % 26)));
    }
    dispatch("ChatRemoveMessage", std::string(100000, 'a'));
    const std::string logged = testing::internal::GetCapturedStderr();

    ASSERT_EQ(ChatManager::messages().size(), before);
    EXPECT_EQ(ChatManager::messages().back()->message(), "before");
    EXPECT_EQ(window.chatReloads, reloads);
    EXPECT_TRUE(window.segues.empty()) << "no notifier for a refused page";
    EXPECT_NE(logged.find("\"messageId\" is over its bound"), std::string::npos) << logged;
    EXPECT_NE(logged.find("removal of a message id of 100000 bytes is refused"), std::string::npos)
        << logged;
}

TEST_F(DispatcherTest, TheTextOfAMessageIsBoundedAsTheServerBoundsIt) {
    const size_t before = ChatManager::messages().size();
    dispatch("ChatMessageFromServer",
             page(std::string(ChatManager::kMaxTextBytes + 1, 'x'), "ID-LONG"));
    EXPECT_EQ(ChatManager::messages().size(), before);
    EXPECT_TRUE(dispatcher->latestChatMessage().empty()) << "the notifier's text is not kept";
    dispatch("ChatMessageFromServer", page(std::string(ChatManager::kMaxTextBytes, 'x'), "ID-MAX"));
    EXPECT_EQ(ChatManager::messages().size(), before + 1);
}

TEST_F(DispatcherTest, TheServersStateTellsTheChatItIsHere) {
    NotificationRecorder here(ChatNotification::kChatServerIsHere);
    dispatch("InitialDataReady", false);
    EXPECT_TRUE(here.posted.empty());
    dispatch("InitialDataReady", true);
    EXPECT_EQ(here.posted.size(), 1u);
}

}  // namespace
}  // namespace quenbril
