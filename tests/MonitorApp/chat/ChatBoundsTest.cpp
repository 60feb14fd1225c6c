// What the chat store takes from a server and what it does while the link is down: the bounds of a
// message, the id search that stays linear in hostile ids, and a deletion the server cannot hear.

#include <gtest/gtest.h>

#include <random>

#include "ChatTestEnvironment.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/TextSearch.h"

namespace quenbril {
namespace {

/// A link whose server is away: it refuses what it is given.
class RefusingLinkSender : public LinkSender {
  public:
    void sendDictionary(const Dictionary& message) override { sent.push_back(message); }
    bool maySend() override { return !down; }
    bool down = true;
    std::vector<Dictionary> sent;
};

// The matcher against the plain search on many small texts over two letters, where borders and
// repeats (the cases a linear matcher gets wrong) are everywhere.
TEST(TextSearchLinear, FindsWhatThePlainSearchFindsOnRepetitiveTexts) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> letter(0, 1);
    std::uniform_int_distribution<size_t> length(0, 12);
    auto text = [&](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i) s += letter(random) ? 'a' : 'b';
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string haystack = text(length(random));
        const std::string needle = text(length(random) / 2);
        ASSERT_EQ(TextSearch::contains(haystack, needle),
                  haystack.find(needle) != std::string::npos)
            << "\"" << needle << "\" in \"" << haystack << "\"";
    }
    // The shape of a hostile id: long runs with the difference at the end.
    const std::string run(100000, 'a');
    EXPECT_FALSE(TextSearch::contains(run, std::string(5000, 'a') + "b"));
    EXPECT_TRUE(TextSearch::contains(run + "b", std::string(5000, 'a') + "b"));
    EXPECT_TRUE(TextSearch::containsIgnoringCaseAndAccents(run + "É", "AAAe"));
}

TEST_F(ChatTest, AMessageOverItsBoundsIsRefusedAndOneAtThemIsKept) {
    const size_t before = ChatManager::messages().size();
    const std::string longest(ChatManager::kMaxTextBytes, 'x');
    const std::string longestName(ChatManager::kMaxNameBytes, 'n');
    EXPECT_TRUE(
        ChatManager::addMessage(longest, longestName, longestName, longestName, longestName, 0));
    EXPECT_EQ(ChatManager::messages().size(), before + 1);

    EXPECT_FALSE(ChatManager::addMessage(longest + "x", "ID", "bob", "u", "All", 0));
    EXPECT_FALSE(ChatManager::addMessage("hi", longestName + "n", "bob", "u", "All", 0));
    EXPECT_FALSE(ChatManager::addMessage("hi", "ID", longestName + "n", "u", "All", 0));
    EXPECT_FALSE(ChatManager::addMessage("hi", "ID", "bob", longestName + "n", "All", 0));
    EXPECT_FALSE(ChatManager::addMessage("hi", "ID", "bob", "u", longestName + "n", 0));
    EXPECT_EQ(ChatManager::messages().size(), before + 1);

    // A history: the messages over the bounds are skipped, the others kept in order.
    std::vector<std::shared_ptr<const Object>> history{
        message("bob", "All", "first"), message("bob", "All", longest + "x"),
        message("bob", "All", "hi", longestName + "n"), message("bob", "All", "last")};
    ChatManager::updateChatHistory(history, "me");
    ASSERT_EQ(ChatManager::messages().size(), 2u);
    EXPECT_EQ(ChatManager::messages()[0]->message(), "first");
    EXPECT_EQ(ChatManager::messages()[1]->message(), "last");
}

TEST_F(ChatTest, AUserWhoseNamesAreOverTheBoundIsNotListed) {
    const std::string longest(ChatManager::kMaxNameBytes, 'n');
    ChatManager::updateFromProps(Array{Dictionary{{"chatName", "bob"}, {"ip", "10.0.0.2"}},
                                       Dictionary{{"chatName", longest + "n"}, {"ip", "10.0.0.3"}},
                                       Dictionary{{"chatName", "eve"}, {"uuid", longest + "n"}},
                                       Dictionary{{"chatName", longest}, {"ip", "10.0.0.4"}}});
    const auto& clients = ChatManager::sharedInstance().chatClients();
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_EQ(clients[0].chatName, "bob");
    EXPECT_EQ(clients[1].chatName, longest);
}

TEST_F(ChatTest, ARemovalOfAnIdLongerThanAnyStoredOneChangesNothing) {
    NotificationRecorder refresh(ChatNotification::kRefreshChat);
    const std::string id(ChatManager::kMaxNameBytes, 'a');
    ChatManager::addMessage("kept", id, "bob", "u", "All", 0);
    ChatManager::removeMessage(id + "a", true);
    EXPECT_EQ(ChatManager::messages().back()->message(), "kept");
    EXPECT_TRUE(link.sent.empty());
    EXPECT_TRUE(refresh.posted.empty());
    ChatManager::removeMessage(id, false);
    EXPECT_EQ(ChatManager::messages().back()->message(), ChatMessage::kRemovedText);
}

TEST_F(ChatTest, ADeletionTheLinkRefusesChangesNothingAndSaysSo) {
    RefusingLinkSender away;
    ChatManager::setLinkSender(&away);
    NotificationRecorder refresh(ChatNotification::kRefreshChat);
    ChatManager::addMessage("mine", "ID-1", "me", "u", "All", 0);

    EXPECT_FALSE(ChatManager::removeMessage("ID-1", true));
    EXPECT_EQ(ChatManager::messages().back()->message(), "mine");
    EXPECT_EQ(ChatManager::messages().back()->uuid(), "u");
    EXPECT_TRUE(away.sent.empty());
    EXPECT_TRUE(refresh.posted.empty());

    // The server's own removal still applies: it needs no link.
    EXPECT_TRUE(ChatManager::removeMessage("ID-1", false));
    EXPECT_EQ(ChatManager::messages().back()->message(), ChatMessage::kRemovedText);

    away.down = false;
    ChatManager::addMessage("again", "ID-2", "me", "u", "All", 0);
    EXPECT_TRUE(ChatManager::removeMessage("ID-2", true));
    ASSERT_EQ(away.sent.size(), 1u);
    EXPECT_EQ(away.sent[0]["Value"], Value("ID-2"));
    ChatManager::setLinkSender(&link);
}

}  // namespace
}  // namespace quenbril
