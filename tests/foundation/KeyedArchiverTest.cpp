#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "foundation/KeyedArchiver.h"
#include "foundation/KeyedUnarchiver.h"
#include "foundation/PropertyList.h"

namespace quenbril {
namespace {

const std::string kChatText =
    "Gr\xC3\xBC\xC3\x9F"
    "e \xE2\x99\xAA \xF0\x9F\x8E\xA4";  // Grüße ♪ 🎤

Value sample() {
    Bytes level(128);
    for (size_t i = 0; i < level.size(); ++i) level[i] = static_cast<uint8_t>(i * 2);
    Value shared = Array{"a", "b"};
    Dictionary d;
    d.set("Command", "LevelData");
    d.set("Value", level);
    d.set("text", kChatText);
    d.set("negative", int64_t{-123456789012});
    d.set("max", std::numeric_limits<int64_t>::max());
    d.set("ratio", 0.25);
    d.set("on", true);
    d.set("one", 1);
    d.set("when", Value::date(789012345.678));
    d.set("withNull", Array{1, Value(), "x"});
    d.set("byNumber", Dictionary{{0, "first"}, {1, Dictionary{{"Name", "Lead"}}}});
    d.set("colour", Color{0.5, 0.25, 0.125, 0.75});
    d.set("first", shared);
    d.set("second", shared);
    d.set("empty", Dictionary{});
    return Value(std::move(d));
}

/// The archive re-read as a plain plist, without the unarchiver.
Value rawArchive(const Value& root) {
    Error error;
    auto bytes = KeyedArchiver::archivedData(root, &error);
    EXPECT_TRUE(bytes) << error.description;
    if (!bytes) return Value();
    auto plist = PropertyList::read(*bytes, &error);
    EXPECT_TRUE(plist) << error.description;
    return plist ? *plist : Value();
}

size_t countInObjects(const Value& raw, const Value& wanted) {
    const Array& objects = *raw["$objects"].arrayValue();
    return std::count(objects.begin(), objects.end(), wanted);
}

const Value& object(const Value& raw, const Value& uid) {
    return raw["$objects"].at(*uid.uidValue());
}

TEST(KeyedArchiver, RoundTripsEveryKindAsRootOrMember) {
    for (const Value& root : {sample(), Value(), Value("x"), Value(7), Value(Bytes{1, 2}),
                              Value(Array{}), Value::date(3.5), Value(Color{1, 0, 0, 1})}) {
        Error error;
        auto bytes = KeyedArchiver::archivedData(root, &error);
        ASSERT_TRUE(bytes) << root.description() << ": " << error.description;
        auto back = KeyedUnarchiver::unarchive(*bytes, &error);
        ASSERT_TRUE(back) << root.description() << ": " << error.description;
        EXPECT_EQ(*back, root) << back->description();
    }
    auto back = KeyedUnarchiver::unarchive(*KeyedArchiver::archivedData(sample()));
    EXPECT_TRUE((*back)["on"].isBool());
    EXPECT_TRUE((*back)["one"].isInteger());
    EXPECT_TRUE((*back)["ratio"].isReal());
    EXPECT_EQ((*back)["first"].arrayValue(), (*back)["second"].arrayValue()) << "still shared";
}

TEST(KeyedArchiver, WritesThePublishedStructure) {
    Value raw = rawArchive(sample());
    EXPECT_EQ(raw["$archiver"], Value("NSKeyedArchiver"));
    EXPECT_EQ(raw["$version"], Value(100000));
    ASSERT_TRUE(raw["$top"]["root"].isUid());
    EXPECT_EQ(raw["$top"]["root"].uidValue(), 1u);
    EXPECT_EQ(raw["$objects"].at(0), Value("$null"));

    const Value& root = object(raw, raw["$top"]["root"]);
    const Value& keys = root["NS.keys"];
    const Value& values = root["NS.objects"];
    ASSERT_EQ(keys.count(), sample().count());
    ASSERT_EQ(values.count(), keys.count());
    const Value& rootClass = object(raw, root["$class"]);
    EXPECT_EQ(rootClass["$classname"], Value("NSDictionary"));
    EXPECT_EQ(rootClass["$classes"], Value(Array{"NSDictionary", "NSObject"}));

    Dictionary refs;  // each member's reference, by its key
    for (size_t i = 0; i < keys.count(); ++i) {
        ASSERT_TRUE(keys.at(i).isUid());
        ASSERT_TRUE(values.at(i).isUid());
        refs.set(object(raw, keys.at(i)), values.at(i));
    }
    auto member = [&](const char* key) { return object(raw, refs[key]); };
    auto className = [&](const Value& o) { return object(raw, o["$class"])["$classname"]; };
    EXPECT_TRUE(member("Value").isData()) << "data is a plain plist object";
    EXPECT_EQ(member("text"), Value(kChatText));
    EXPECT_EQ(className(member("when")), Value("NSDate"));
    EXPECT_EQ(member("when")["NS.time"], Value(789012345.678));
    EXPECT_EQ(className(member("withNull")), Value("NSArray"));
    EXPECT_EQ(className(object(raw, member("withNull")["NS.objects"].at(1))), Value("NSNull"));
    EXPECT_EQ(className(member("colour")), Value("NSColor"));
    EXPECT_EQ(member("colour")["NSColorSpace"], Value(2));
    const std::string rgb("0.5 0.25 0.125 0.75", 20);
    EXPECT_EQ(member("colour")["NSRGB"], Value(Bytes(rgb.begin(), rgb.end())));
    // Equal strings, equal numbers, shared values and class entries are written once.
    EXPECT_EQ(refs["first"], refs["second"]);
    EXPECT_EQ(countInObjects(raw, Value("a")), 1u);
    EXPECT_EQ(countInObjects(raw, Value(1)), 1u);
    EXPECT_EQ(countInObjects(raw, Value(Dictionary{{"$classname", "NSArray"},
                                                   {"$classes", Array{"NSArray", "NSObject"}}})),
              1u);
}

TEST(KeyedArchiver, RefusesWhatAnArchiveCannotHold) {
    struct Case {
        const char* what;
        Value value;
        int code;
    } cases[] = {
        {"uid", Array{Value(Uid{1})}, KeyedArchiver::kUnsupportedValue},
        {"NUL in a string", Value(std::string("a\0b", 3)), KeyedArchiver::kUnsupportedValue},
        {"invalid UTF-8", Value(std::string("\xC3\x28")), KeyedArchiver::kUnsupportedValue},
        {"encoded surrogate", Value(std::string("\xED\xA0\x80")), KeyedArchiver::kUnsupportedValue},
    };
    for (auto& c : cases) {
        Error error;
        EXPECT_FALSE(KeyedArchiver::archivedData(c.value, &error)) << c.what;
        EXPECT_EQ(error.code, c.code) << c.what;
        EXPECT_EQ(error.domain, KeyedArchiver::kErrorDomain);
    }
    Value deep = Array{};
    for (int i = 0; i < KeyedArchiver::kMaxDepth + 5; ++i) deep = Array{deep};
    Error error;
    EXPECT_FALSE(KeyedArchiver::archivedData(deep, &error));
    EXPECT_EQ(error.code, KeyedArchiver::kTooDeep);
}

struct Message : Object {
    std::string sender, text;
    uint64_t type = 0;
    double date = 0;
    std::string className() const override { return "TestMessage"; }
    bool isEqual(const Object& other) const override {
        auto o = dynamic_cast<const Message*>(&other);
        return o && o->sender == sender && o->text == text && o->type == type && o->date == date;
    }
};

void registerMessage(ArchiveClassRegistry& registry) {
    registry.registerEncoder("TestMessage", [](const Object& object, KeyedEncoder& coder) {
        auto& m = static_cast<const Message&>(object);
        coder.encodeObject("sender", m.sender);
        coder.encodeObject("message", m.text);
        coder.encodeObject("recipient", Value());
        coder.encodeInt32("messageType", static_cast<int32_t>(m.type));
        coder.encodeObject("date", Value::date(m.date));
        return true;
    });
    registry.registerDecoder("TestMessage", [](KeyedDecoder& coder) -> std::optional<Value> {
        auto m = std::make_shared<Message>();
        const std::string* sender = coder.decodeObject("sender").stringValue();
        const std::string* text = coder.decodeObject("message").stringValue();
        if (!sender || !text || !coder.decodeObject("recipient").isNull()) return std::nullopt;
        m->sender = *sender;
        m->text = *text;
        m->type = static_cast<uint32_t>(coder.decodeInt32("messageType"));
        m->date = coder.decodeObject("date").dateValue().value_or(-1);
        return Value(std::shared_ptr<const Object>(m));
    });
}

TEST(KeyedArchiver, RegisteredClassesRoundTrip) {
    ArchiveClassRegistry registry;
    registerMessage(registry);
    auto m = std::make_shared<Message>();
    m->sender = "FOH";
    m->text = kChatText;
    m->type = 5;
    m->date = 100.5;
    Value message{std::shared_ptr<const Object>(m)};
    Value history =
        Dictionary{{"Command", "ChatMessageHistory"}, {"Value", Array{message, message}}};

    Error error;
    auto bytes = KeyedArchiver::archivedData(history, registry, &error);
    ASSERT_TRUE(bytes) << error.description;
    auto raw = PropertyList::read(*bytes);
    ASSERT_TRUE(raw);
    size_t instances = 0;
    for (const Value& o : *(*raw)["$objects"].arrayValue()) {
        if (o["messageType"] == Value(5)) {
            ++instances;
            EXPECT_EQ(o["recipient"], Value(Uid{0}));
            EXPECT_EQ(object(*raw, o["$class"])["$classes"],
                      Value(Array{"TestMessage", "NSObject"}));
        }
    }
    EXPECT_EQ(instances, 1u) << "one shared object is written once";

    auto back = KeyedUnarchiver::unarchive(bytes->data(), bytes->size(), registry, &error);
    ASSERT_TRUE(back) << error.description;
    EXPECT_EQ(*back, history);

    Error unknown;
    EXPECT_FALSE(KeyedArchiver::archivedData(history, ArchiveClassRegistry(), &unknown));
    EXPECT_EQ(unknown.code, KeyedArchiver::kUnknownClass);
    EXPECT_NE(unknown.description.find("TestMessage"), std::string::npos);
}

TEST(KeyedArchiver, EncoderFailuresAndReservedKeys) {
    ArchiveClassRegistry registry;
    auto m = std::make_shared<Message>();
    Value message{std::shared_ptr<const Object>(m)};
    Error error;

    registry.registerEncoder("TestMessage", [](const Object&, KeyedEncoder&) { return false; });
    EXPECT_FALSE(KeyedArchiver::archivedData(message, registry, &error));
    EXPECT_EQ(error.code, KeyedArchiver::kEncoderFailed);

    registry.registerEncoder("TestMessage", [](const Object&, KeyedEncoder& coder) {
        coder.encodeInt64("$class", 1);
        return true;
    });
    EXPECT_FALSE(KeyedArchiver::archivedData(message, registry, &error));
    EXPECT_EQ(error.code, KeyedArchiver::kUnsupportedValue);

    registry.registerEncoder("TestMessage", [](const Object&, KeyedEncoder&) -> bool {
        throw std::runtime_error("no");
    });
    EXPECT_FALSE(KeyedArchiver::archivedData(message, registry, &error));
    EXPECT_EQ(error.code, KeyedArchiver::kEncoderFailed);

    // An object that writes itself as its own member.
    registry.registerEncoder("TestMessage", [message](const Object&, KeyedEncoder& coder) {
        coder.encodeObject("self", message);
        return true;
    });
    EXPECT_FALSE(KeyedArchiver::archivedData(message, registry, &error));
    EXPECT_EQ(error.code, KeyedArchiver::kTooDeep);
}

}  // namespace
}  // namespace quenbril
