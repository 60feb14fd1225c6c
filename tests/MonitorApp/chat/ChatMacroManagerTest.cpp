#include "MonitorApp/chat/ChatMacroManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "tests/MonitorApp/chat/ChatTestEnvironment.h"

namespace quenbril {
namespace {

Dictionary event(int command, int channel, int b1, int b2) {
    return Dictionary{{"byte1", b1}, {"byte2", b2}, {"channel", channel}, {"command", command}};
}

class ChatMacroTest : public ChatTest {
  protected:
    void SetUp() override {
        ChatTest::SetUp();
        ChatMacroManager::resetSharedInstance();
        sent = NotificationCenter::defaultCenter().addObserver(
            ChatNotification::kChatMessage,
            [this](const Notification& n) { messages.push_back(n.userInfo); });
        added = NotificationCenter::defaultCenter().addObserver(
            ChatMacroManager::kChatMacroAddedNotification, [this](const Notification&) { ++adds; });
    }
    void TearDown() override {
        sent.reset();
        added.reset();
        ChatMacroManager::resetSharedInstance();
        ChatTest::TearDown();
    }
    static ChatMacroManager& macros() { return ChatMacroManager::sharedInstance(); }
    static void post(const Dictionary& e) {
        NotificationCenter::defaultCenter().post("MIDIEventReceived", e);
    }
    void learn(const std::string& text, const Dictionary& e) {
        macros().learn(text);
        post(e);
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const Dictionary& m : messages) out.push_back(*m["message"].stringValue());
        return out;
    }

    NotificationObserver sent, added;
    std::vector<Dictionary> messages;
    int adds = 0;
};

TEST_F(ChatMacroTest, ALearnCapturesTheEventAndSendsNothingEvenWhenAMacroMatches) {
    learn("Mic 3 check", event(0x90, 0, 60, 100));
    learn("again", event(0x90, 0, 60, 100));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(adds, 2);
    EXPECT_FALSE(macros().learning());
    EXPECT_EQ(macros().learnString(), "");
    ASSERT_EQ(macros().macros().size(), 2u);
    Dictionary expected = event(0x90, 0, 60, 100);
    expected.set("message", "again");
    EXPECT_EQ(macros().macros()[1], expected);
}

TEST_F(ChatMacroTest, EqualMacrosBothSendInOrderWithTheNameAtEventTime) {
    learn("first", event(0xB0, 3, 7, 127));
    learn("second", event(0xB0, 3, 7, 127));
    UserSettingsManager::sharedInstance().setChatUsername("FOH");
    post(event(0xB0, 3, 7, 127));
    EXPECT_EQ(texts(), (std::vector<std::string>{"first", "second"}));
    const Dictionary& m = messages[0];
    EXPECT_EQ(m["sender"], Value("FOH"));
    EXPECT_EQ(m["recipient"], Value("All"));
    EXPECT_EQ(m["type"], Value(0));
    EXPECT_EQ(m["uuid"], Value(ChatManager::uuid()));
    EXPECT_FALSE(m.contains("messageId"));
}

TEST_F(ChatMacroTest, AMacroGoesOutUnderTheChatNameItWasGiven) {
    UserSettingsManager::sharedInstance().setChatUsername("FOH");
    UserDefaults ownDefaults("/nonexistent/quenbril-own-macros", "Defaults");
    UserSettingsManager own(ownDefaults);
    own.setChatUsername("Mon");
    ChatMacroManager mine([&own] { return own.chatUsername(); });
    mine.learn("cue");
    post(event(0x90, 2, 61, 100));
    post(event(0x90, 2, 61, 100));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]["sender"], Value("Mon"));
}

TEST_F(ChatMacroTest, AnotherVelocityChannelOrANoteOffDoesNotMatch) {
    learn("pad", event(0x90, 0, 60, 100));
    post(event(0x90, 0, 60, 99));
    post(event(0x90, 1, 60, 100));
    post(event(0x80, 0, 60, 100));
    EXPECT_TRUE(messages.empty());
}

TEST_F(ChatMacroTest, TheListIsStoredOnlyWhenSavedAndReadBackAfterARestart) {
    EXPECT_TRUE(macros().macros().empty()) << "nothing stored: an empty list";
    post(event(0x90, 0, 60, 100));
    EXPECT_TRUE(messages.empty());
    learn("pad", event(0x90, 0, 60, 100));
    EXPECT_TRUE(defaults().objectForKey(ChatMacroManager::kDefaultsKey).isNull());
    macros().saveValues();
    ChatMacroManager::resetSharedInstance();
    ASSERT_EQ(macros().macros().size(), 1u);
    post(event(0x90, 0, 60, 100));
    EXPECT_EQ(texts(), std::vector<std::string>{"pad"});
}

TEST_F(ChatMacroTest, StoredValuesOfTheWrongKindReadAsMissing) {
    defaults().setObject(Value("not a list"), ChatMacroManager::kDefaultsKey);
    EXPECT_TRUE(macros().macros().empty());
    ChatMacroManager::resetSharedInstance();
    Dictionary good = event(0x90, 0, 60, 100);
    good.set("message", "ok");
    defaults().setObject(Value(Array{Value(5), Value(good)}), ChatMacroManager::kDefaultsKey);
    ASSERT_EQ(macros().macros().size(), 1u);
    post(event(0x90, 0, 60, 100));
    EXPECT_EQ(texts(), std::vector<std::string>{"ok"});
}

}  // namespace
}  // namespace quenbril
