#include <gtest/gtest.h>

#include <cmath>

#include "MonitorApp/chat/ChatMessage.h"
#include "MonitorApp/chat/ChatReceiptRule.h"
#include "MonitorApp/chat/TextSearch.h"
#include "foundation/KeyedArchiver.h"
#include "foundation/KeyedUnarchiver.h"

namespace quenbril {
namespace {

/// An archived chat message with the given members, as a server writes it.
Bytes archive(const Dictionary& objects, std::optional<int64_t> type) {
    struct Archived : Object {
        Dictionary objects;
        std::optional<int64_t> type;
        std::string className() const override { return "ChatMessage"; }
    };
    auto a = std::make_shared<Archived>();
    a->objects = objects;
    a->type = type;
    ArchiveClassRegistry registry;
    registry.registerEncoder("ChatMessage", [](const Object& o, KeyedEncoder& coder) {
        const auto& m = static_cast<const Archived&>(o);
        for (const auto& [key, value] : m.objects) coder.encodeObject(*key.stringValue(), value);
        if (m.type) coder.encodeInt32("messageType", static_cast<int32_t>(*m.type));
        return true;
    });
    auto bytes =
        KeyedArchiver::archivedData(Array{Value(std::shared_ptr<const Object>(a))}, registry);
    EXPECT_TRUE(bytes);
    return bytes.value_or(Bytes{});
}

std::shared_ptr<const ChatMessage> decode(const Bytes& bytes) {
    ArchiveClassRegistry registry;
    ChatMessage::registerArchiveDecoder(registry);
    auto root = KeyedUnarchiver::unarchive(bytes.data(), bytes.size(), registry);
    if (!root || !root->arrayValue() || root->count() != 1) return nullptr;
    auto object = root->at(0).objectValue();
    if (!object) return nullptr;
    return std::dynamic_pointer_cast<const ChatMessage>(*object);
}

TEST(ChatMessageArchive, DecodesEveryMember) {
    auto m = decode(archive(Dictionary{{"sender", "bob"},
                                       {"recipient", "All"},
                                       {"uuid", "U-1"},
                                       {"message", "hello"},
                                       {"messageId", "ID-1"},
                                       {"date", Date{12345.5}}},
                            5));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->sender(), "bob");
    EXPECT_EQ(m->recipient(), "All");
    EXPECT_EQ(m->uuid(), "U-1");
    EXPECT_EQ(m->message(), "hello");
    EXPECT_EQ(m->messageId(), "ID-1");
    EXPECT_EQ(m->date(), 12345.5);
    EXPECT_EQ(m->messageType(), 5u);
}

TEST(ChatMessageArchive, MissingMembersAndMembersOfTheWrongKindReadAsMissing) {
    auto m = decode(
        archive(Dictionary{{"sender", 42}, {"message", "x"}, {"date", "today"}}, std::nullopt));
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->sender() || m->recipient() || m->messageId() || m->date());
    EXPECT_EQ(m->message(), "x");
    EXPECT_EQ(m->messageType(), 0u);
    EXPECT_EQ(decode(archive(Dictionary{}, -1))->messageType(), UINT64_MAX)
        << "a negative type is widened with its sign";
}

TEST(ChatMessageArchive, DatesThatAreNotFiniteOrInRangeReadAsMissing) {
    // Shown, they were undefined behaviour: no clock time is that far away.
    for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300}) {
        auto m = decode(archive(Dictionary{{"message", "x"}, {"date", Date{bad}}}, 0));
        ASSERT_TRUE(m) << bad;
        EXPECT_FALSE(m->date()) << bad;
        EXPECT_EQ(m->message(), "x");
    }
}

TEST(ChatMessage, AnAlertResetIsToldByItsText) {
    ChatMessage m;
    m.setMessageType(ChatMessage::kPage);
    m.setMessage("Alert reset");
    EXPECT_TRUE(m.isAlertReset());
    m.setMessage("Alert reseted");
    EXPECT_TRUE(m.isAlertReset());
    m.setMessage("alert reset");
    EXPECT_FALSE(m.isAlertReset());
}

TEST(TextSearch, IgnoresCaseAndAccentsButNeverMatchesAnEmptyNeedle) {
    EXPECT_TRUE(TextSearch::containsIgnoringCaseAndAccents("E621E1F8-C36C", "e1f8-c3"));
    EXPECT_TRUE(TextSearch::containsIgnoringCaseAndAccents("Crème BRÛLÉE", "creme brulee"));
    EXPECT_TRUE(TextSearch::containsIgnoringCaseAndAccents("cre\xcc\x80me", "crème"));
    EXPECT_FALSE(TextSearch::containsIgnoringCaseAndAccents("abc", ""));
    EXPECT_FALSE(TextSearch::containsIgnoringCaseAndAccents("abc", "abcd"));
    EXPECT_EQ(TextSearch::fold("Straße \xff\xfe"), "straße \xff\xfe");  // invalid bytes kept
}

struct ReceiptCase {
    const char* name;
    std::optional<std::string> sender, recipient;
    int64_t type;
    bool flash, store, alarmOn, alarmOff, page;
};

class ChatReceiptRule : public testing::TestWithParam<ReceiptCase> {};

TEST_P(ChatReceiptRule, DecidesByTypeAndAddressee) {
    const ReceiptCase& c = GetParam();
    ChatReceipt r = ChatReceipt::evaluate(c.sender, c.recipient, c.type, "me", true);
    EXPECT_EQ(r.flash, c.flash);
    EXPECT_EQ(r.store, c.store);
    EXPECT_EQ(r.alarmOn, c.alarmOn);
    EXPECT_EQ(r.alarmOff, c.alarmOff);
    EXPECT_EQ(r.page, c.page);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, ChatReceiptRule, testing::Values(
    //           name              sender  recipient  type flash store alarmOn alarmOff page
    ReceiptCase{"TextToMe",        "bob",  "me",      0,   true,  true,  true,  false, false},
    ReceiptCase{"TextToAll",       "bob",  "All",     0,   true,  true,  true,  false, false},
    ReceiptCase{"TextToOther",     "bob",  "carol",   0,   false, false, false, false, false},
    ReceiptCase{"PageToOther",     "bob",  "carol",   5,   false, false, false, false, false},
    ReceiptCase{"PageToAll",       "bob",  "All",     5,   false, true,  true,  false, true},
    ReceiptCase{"AlertToMe",       "bob",  "me",      3,   true,  true,  false, false, false},
    ReceiptCase{"ScpAlertToOther", "bob",  "carol",   1,   false, true,  false, false, false},
    ReceiptCase{"AlertToOther",    "bob",  "carol",   3,   false, true,  false, false, false},
    ReceiptCase{"SnapshotToOther", "bob",  "carol",   4,   false, true,  false, false, false},
    ReceiptCase{"OwnTextToAll",    "me",   "All",     0,   false, true,  true,  true,  false},
    ReceiptCase{"OwnPageToOther",  "me",   "carol",   5,   false, true,  false, true,  false},
    ReceiptCase{"NoRecipient",     "bob",  std::nullopt, 0, false, false, false, false, false},
    ReceiptCase{"ScpAlertNoRecipient", "S1 (chan 3)", std::nullopt, 1, false, true, false, false, false}),
    [](const auto& info) { return info.param.name; });
// clang-format on

TEST(ChatReceiptRuleFlash, FlashesOnlyWithTheSettingOn) {
    EXPECT_FALSE(ChatReceipt::evaluate("bob", "me", 0, "me", false).flash);
    EXPECT_TRUE(ChatReceipt::evaluate("me", "All", 0, "me", false).fromMe);
}

}  // namespace
}  // namespace quenbril
