#include <gtest/gtest.h>

#include "ChatTestEnvironment.h"
#include "MonitorApp/chat/ChatNotifications.h"

namespace quenbril {
namespace {

size_t placeholders() {
    size_t n = 0;
    for (const auto& m : ChatManager::messages()) {
        if (!m->date()) ++n;
    }
    return n;
}

void addText(int i) {
    ChatManager::addMessage("m" + std::to_string(i), std::nullopt, "bob", "u", "All", 0);
}

TEST_F(ChatTest, ANewStoreHoldsEightEmptyUndatedPlaceholders) {
    ASSERT_EQ(ChatManager::messages().size(), 8u);
    const ChatMessage& p = *ChatManager::messages().front();
    for (const auto& field : {p.sender(), p.recipient(), p.message(), p.uuid()}) {
        EXPECT_EQ(field, "");
    }
    EXPECT_EQ(p.messageType(), 0u);
    EXPECT_FALSE(p.messageId() || p.date());
}

TEST_F(ChatTest, TheCapDropsExactlyOneOldestMessagePerAdd) {
    for (int i = 0; i < 192; ++i) addText(i);
    EXPECT_EQ(ChatManager::messages().size(), 200u);
    EXPECT_EQ(placeholders(), 8u);
    addText(192);  // the 193rd: 201 entries, one placeholder goes
    EXPECT_EQ(ChatManager::messages().size(), 200u);
    EXPECT_EQ(placeholders(), 7u);
    const ChatMessage& last = *ChatManager::messages().back();
    EXPECT_EQ(last.message(), "m192");
    EXPECT_EQ(last.date(), kStartTime);  // dated by the main run loop's clock
}

TEST_F(ChatTest, AHistoryReplacesTheStoreWithItsNewest200) {
    std::vector<std::shared_ptr<const Object>> history;
    for (int i = 0; i < 300; ++i) history.push_back(message("bob", "All", std::to_string(i)));
    ChatManager::updateChatHistory(history, UserSettingsManager::sharedInstance().chatUsername());
    ASSERT_EQ(ChatManager::messages().size(), 200u);
    EXPECT_EQ(ChatManager::messages().front()->message(), "100");
    EXPECT_EQ(ChatManager::messages().back()->message(), "299");
    addText(0);
    EXPECT_EQ(ChatManager::messages().size(), 200u);
    EXPECT_EQ(ChatManager::messages().front()->message(), "101");
}

TEST_F(ChatTest, AHistoryKeepsOnlyMessagesToOrFromThisUserWithASender) {
    UserSettingsManager::sharedInstance().setChatUsername("me");
    struct Other : Object {
        std::string className() const override { return "Other"; }
    };
    std::vector<std::shared_ptr<const Object>> history{
        message("bob", "me", "to me"),      message("bob", "All", "to all"),
        message("me", "carol", "from me"),  message("bob", "carol", "third party"),
        message("", "All", "empty sender"), message(std::nullopt, "All", "no sender"),
        std::make_shared<Other>(),          message("bob", std::nullopt, "no recipient")};
    ChatManager::updateChatHistory(history, UserSettingsManager::sharedInstance().chatUsername());
    std::vector<std::string> kept;
    for (const auto& m : ChatManager::messages()) kept.push_back(m->message().value_or("?"));
    EXPECT_EQ(kept, (std::vector<std::string>{"to me", "to all", "from me"}));

    // The store holds its own copies: marking one removed leaves the history's object alone.
    ChatManager::messages()[0]->setMessage("changed");
    EXPECT_EQ(static_cast<const ChatMessage&>(*history[0]).message(), "to me");
}

TEST_F(ChatTest, RemovalMarksTheFirstMessageWhoseIdContainsTheGivenOne) {
    NotificationRecorder refresh(ChatNotification::kRefreshChat);
    ChatManager::addMessage("a", "ID-123", "bob", "u1", "All", 0);
    ChatManager::addMessage("b", "ID-12", "bob", "u2", "All", 0);
    ChatManager::addMessage("c", "ÉTÉ-9", "bob", "u3", "All", 0);

    ChatManager::removeMessage("id-12", false);  // matches "ID-123" first
    const auto& list = ChatManager::messages();
    EXPECT_EQ(list[8]->message(), ChatMessage::kRemovedText);
    EXPECT_EQ(list[8]->uuid(), ChatMessage::kRemovedUUID);
    EXPECT_EQ(list[9]->message(), "b");
    EXPECT_EQ(list.size(), 11u);  // marked, not removed
    EXPECT_TRUE(link.sent.empty());

    ChatManager::removeMessage("ete", true);  // accents and case ignored
    EXPECT_EQ(list[10]->message(), ChatMessage::kRemovedText);
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0], (Dictionary{{"Command", "ChatRemoveMessage"}, {"Value", "ete"}}));
    EXPECT_EQ(refresh.posted.size(), 2u);
}

TEST_F(ChatTest, RemovalWithAnUnknownIdStillSendsWithoutAnIdDoesNothing) {
    NotificationRecorder refresh(ChatNotification::kRefreshChat);
    ChatManager::addMessage("a", "ID-1", "bob", "u", "All", 0);
    ChatManager::removeMessage(std::nullopt, true);
    ChatManager::removeMessage(std::string(), true);
    EXPECT_TRUE(link.sent.empty());
    EXPECT_TRUE(refresh.posted.empty());
    ChatManager::removeMessage("nothing", true);
    EXPECT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(refresh.posted.size(), 1u);
    EXPECT_EQ(ChatManager::messages().back()->message(), "a");
}

TEST_F(ChatTest, TheChatIdIsMadeOnceAndKeptAcrossRestarts) {
    std::string id = ChatManager::uuid();
    EXPECT_EQ(id.size(), 36u);
    EXPECT_EQ(id, ChatManager::uuid());
    EXPECT_EQ(defaults().stringForKey("uuid"), id);
    restart();
    resetChat();
    EXPECT_EQ(ChatManager::uuid(), id);
}

TEST_F(ChatTest, AMacroPostsItsStoredTextToAllAndAnEmptySlotPostsNothing) {
    NotificationRecorder posted(ChatNotification::kChatMessage);
    ChatManager::sendMacro(3, "me");
    EXPECT_TRUE(posted.posted.empty());
    defaults().setObject("Stand by", "CB 3");
    ChatManager::sendMacro(3, "me");
    ASSERT_EQ(posted.posted.size(), 1u);
    EXPECT_EQ(
        posted.posted[0],
        (Dictionary{{"message", "Stand by"}, {"sender", "me"}, {"type", 0}, {"recipient", "All"}}));
}

TEST_F(ChatTest, ClientListsFromTheServerAndFromHosting) {
    ChatManager::updateFromProps(
        Array{Dictionary{{"chatName", "bob"}, {"ip", "10.0.0.2"}, {"uuid", "U"}, {"status", "on"}},
              Value(7), Dictionary{{"chatName", 5}, {"ip", "10.0.0.3"}}});
    auto& clients = ChatManager::sharedInstance().chatClients();
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_EQ(clients[0].status, "on");
    EXPECT_FALSE(clients[1].chatName);  // a field of the wrong kind reads as missing

    ChatManager::registerToChat("carol", "10.0.0.3");  // renames the client at that address
    ChatManager::registerToChat("dave", "10.0.0.4");
    EXPECT_EQ(clients[1].chatName, "carol");
    EXPECT_EQ(ChatManager::clientsProperty(),
              (Array{Dictionary{{"chatName", "bob"}, {"ip", "10.0.0.2"}, {"uuid", "U"}},
                     Dictionary{{"chatName", "carol"}, {"ip", "10.0.0.3"}},
                     Dictionary{{"chatName", "dave"}, {"ip", "10.0.0.4"}}}));
    ChatManager::removeFromChat("10.0.0.3");
    EXPECT_EQ(clients.size(), 2u);
    ChatManager::updateFromProps(Array{});
    EXPECT_TRUE(clients.empty());
}

TEST_F(ChatTest, ChatColoursKeepOnlyColoursByChatId) {
    EXPECT_FALSE(ChatColorManager::sharedInstance().chatColors());
    Color red{1, 0, 0, 1};
    Dictionary colors{{"U1", red}, {"U2", 4}, {Value(3), red}};
    ChatColorManager::sharedInstance().setChatColors(colors);
    ASSERT_TRUE(ChatColorManager::sharedInstance().chatColors());
    EXPECT_EQ(ChatColorManager::sharedInstance().chatColors()->size(), 1u);
    EXPECT_EQ(ChatColorManager::sharedInstance().colorForUUID("U1"), red);
    EXPECT_FALSE(ChatColorManager::sharedInstance().colorForUUID("U2"));
}

}  // namespace
}  // namespace quenbril
