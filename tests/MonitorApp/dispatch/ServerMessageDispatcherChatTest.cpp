#include <gtest/gtest.h>

#include "DispatcherTestEnvironment.h"
#include "MonitorApp/link/LinkRead.h"
#include "MonitorApp/settings/ColorHelper.h"

namespace quenbril {
namespace {

TEST_F(DispatcherTest, ChatClientsKeepEveryFieldOfEveryUser) {
    dispatch(
        "ChatClients",
        Array{Dictionary{
                  {"chatName", "FOH"}, {"ip", "10.0.0.2"}, {"uuid", "U1"}, {"status", "online"}},
              "junk", Dictionary{{"chatName", "Monitor"}, {"ip", 7}}});
    const std::vector<ChatClient>& clients = ChatManager::sharedInstance().chatClients();
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_EQ(clients[0].chatName, "FOH");
    EXPECT_EQ(clients[0].ip, "10.0.0.2");
    EXPECT_EQ(clients[0].uuid, "U1");
    EXPECT_EQ(clients[0].status, "online");
    EXPECT_EQ(clients[1].chatName, "Monitor");
    EXPECT_EQ(clients[1].ip, std::nullopt) << "a field of the wrong kind reads as missing";
    EXPECT_EQ(clients[1].uuid, std::nullopt);
    EXPECT_EQ(window.chatClientUpdates, 1);

    dispatch("ChatClients");  // an absent list empties the users
    EXPECT_TRUE(ChatManager::sharedInstance().chatClients().empty());
    EXPECT_EQ(window.chatClientUpdates, 2);
    EXPECT_THROW(dispatch("ChatClients", "FOH"), LinkTypeError);
    EXPECT_EQ(window.chatClientUpdates, 2);
}

TEST_F(DispatcherTest, AHistoryReplacesTheChatAndReloadsTheTable) {
    auto m = std::make_shared<ChatMessage>();
    m->setSender("bob");
    m->setRecipient("All");
    m->setMessage("old");
    dispatch("ChatMessageHistory", Array{Value(std::shared_ptr<const Object>(m))});
    ASSERT_EQ(ChatManager::messages().size(), 1u);
    EXPECT_EQ(window.chatReloads, 1);
    dispatch("ChatMessageHistory");  // no value: the store stays
    EXPECT_EQ(ChatManager::messages().size(), 1u);
    EXPECT_EQ(window.chatReloads, 1);
}

TEST_F(DispatcherTest, ChatColoursFillBothTables) {
    Color blue{0, 0, 1, 1};
    dispatch(Dictionary{{"Command", "ChatColors"},
                        {"Value", Dictionary{{"bob", 3}, {"eve", "x"}}},
                        {"NValue", Dictionary{{"U1", blue}}}});
    EXPECT_EQ(ColorHelper::sharedInstance().chatColors(), (Dictionary{{"bob", 3}}));
    EXPECT_EQ(ChatColorManager::sharedInstance().colorForUUID("U1"), blue);
}

TEST_F(DispatcherTest, RelayedChatMessagesFollowTheReceiptRule) {
    settings().setChatUsername("me");
    settings().setChatFlash(true);
    const size_t before = ChatManager::messages().size();

    dispatch("ChatMessageFromServer", Dictionary{{"message", "wake up"},
                                                 {"sender", "bob"},
                                                 {"uuid", "B"},
                                                 {"messageId", "M1"},
                                                 {"type", 5},
                                                 {"recipient", "All"}});
    EXPECT_EQ(ChatManager::messages().size(), before + 1);
    EXPECT_EQ(window.chatReloads, 1);
    EXPECT_EQ(window.chatAlarm, true);
    EXPECT_EQ(window.headerFlashes, 0);
    EXPECT_EQ(window.notifierText, (std::pair<std::string, std::string>{"09:41: wake up", "bob"}));
    EXPECT_EQ(window.segues, std::vector<std::string>{"showChatNotifier"});
    EXPECT_EQ(dispatcher->latestChatMessage(), "09:41: wake up");
    EXPECT_EQ(dispatcher->latestSender(), "bob");

    dispatch("ChatMessageFromServer", Dictionary{{"message", "mine"},
                                                 {"sender", "me"},
                                                 {"uuid", "X"},
                                                 {"type", 0},
                                                 {"recipient", "All"}});
    EXPECT_EQ(window.chatAlarm, false);
    EXPECT_EQ(ChatManager::messages().back()->uuid(), ChatManager::uuid());

    dispatch("ChatMessageFromServer",
             Dictionary{{"message", "alert"}, {"sender", "bob"}, {"type", 3}, {"recipient", "me"}});
    EXPECT_EQ(window.headerFlashes, 1);
    EXPECT_EQ(window.chatAlarm, false);
    EXPECT_EQ(window.segues.size(), 1u);

    dispatch("ChatRemoveMessage", "m1");
    EXPECT_EQ(ChatManager::messages()[before]->message(), ChatMessage::kRemovedText);
    EXPECT_TRUE(sender.sent.empty()) << "a removal from the server is not sent back";
}

}  // namespace
}  // namespace quenbril
