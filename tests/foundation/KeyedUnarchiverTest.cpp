#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "foundation/KeyedArchiver.h"
#include "foundation/KeyedUnarchiver.h"
#include "foundation/PropertyList.h"
#include "tests/foundation/TestSupport.h"

namespace quenbril {
namespace {

/// A hand-made archive: the given "$objects" (entry 0 is "$null") and root reference.
Bytes archive(Array objects, uint64_t root = 1) {
    objects.insert(objects.begin(), Value("$null"));
    Dictionary top{{"root", Uid{root}}};
    Dictionary d{{"$version", 100000},
                 {"$archiver", "NSKeyedArchiver"},
                 {"$top", top},
                 {"$objects", std::move(objects)}};
    return *PropertyList::write(Value(std::move(d)), PropertyList::Format::Binary);
}

Value classEntry(const std::string& name) {
    return Dictionary{{"$classname", name}, {"$classes", Array{name, "NSObject"}}};
}

/// An archive whose root (object 1) holds `members` and is of class `name` (object 2); `more`
/// objects follow from 3 on.
Bytes rootOfClass(const std::string& name, Dictionary members, Array more = {}) {
    members.set("$class", Uid{2});
    Array objects{Value(std::move(members)), classEntry(name)};
    objects.insert(objects.end(), more.begin(), more.end());
    return archive(std::move(objects));
}

Value uids(std::initializer_list<uint64_t> list) {
    Array a;
    for (uint64_t u : list) a.push_back(Uid{u});
    return a;
}

void registerComplexClasses(ArchiveClassRegistry& registry) {
    registry.registerDecoder("NSURL", [](KeyedDecoder& coder) -> std::optional<Value> {
        return Value(Dictionary{{"base", coder.decodeObject("NS.base")},
                                {"relative", coder.decodeObject("NS.relative")}});
    });
    registry.registerDecoder("NSUUID", [](KeyedDecoder& coder) -> std::optional<Value> {
        auto bytes = coder.decodeBytes("NS.uuidbytes");
        if (!bytes || bytes->size() != 16) return std::nullopt;
        return Value(*bytes);
    });
}

std::optional<Value> unarchive(const Bytes& bytes, Error* error = nullptr) {
    static ArchiveClassRegistry empty;
    return KeyedUnarchiver::unarchive(bytes.data(), bytes.size(), empty, error);
}

/// The archive of the string "x", whose top dictionary also holds, under a key the reader
/// ignores, `levels` arrays that each hold the next one twice: a few hundred bytes, and
/// 2^(levels + 1) - 1 nodes once libplist has copied each array wherever it is referenced.
Bytes archiveWithDoublingArrays(int levels) {
    Bytes out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint64_t> offsets;
    auto object = [&](std::initializer_list<uint8_t> bytes) {
        offsets.push_back(out.size());
        out.insert(out.end(), bytes);
    };
    auto string = [&](std::string_view s) {  // ASCII, shorter than 15
        object({static_cast<uint8_t>(0x50 | s.size())});
        out.insert(out.end(), s.begin(), s.end());
    };
    // 0: the top dictionary, keys 1-5, values 6-10; the arrays are objects 15 on.
    object({0xD5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 15});
    for (const char* key : {"$version", "$archiver", "$top", "$objects", "pad"}) string(key);
    object({0x12, 0x00, 0x01, 0x86, 0xA0});  // 100000
    object({0x5F, 0x10, 15});
    for (char c : std::string_view("NSKeyedArchiver")) out.push_back(static_cast<uint8_t>(c));
    object({0xD1, 11, 12});  // {"root": UID 1}
    object({0xA2, 13, 14});  // "$objects": "$null", "x"
    object({0x50});          // 10: unused
    string("root");
    object({0x80, 1});
    string("$null");
    string("x");
    for (int i = 0; i < levels; ++i) {
        const auto next = static_cast<uint8_t>(16 + i);
        object({0xA2, next, next});
    }
    object({0xA0});

    const uint64_t table = out.size();
    for (uint64_t offset : offsets) out.insert(out.end(), {uint8_t(offset >> 8), uint8_t(offset)});
    out.insert(out.end(), 6, 0);
    out.insert(out.end(), {2, 1});  // offset and reference sizes
    for (uint64_t v : {uint64_t{offsets.size()}, uint64_t{0}, table}) {
        for (int shift = 56; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
    }
    return out;
}

/// An archive whose root array holds `count` references to one string, written byte by byte:
/// one-byte references make it about `count` bytes (a writer that builds a node per reference
/// takes far too long under the sanitizers for a million of them).
Bytes sharedReferences(uint32_t count) {
    Bytes out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint64_t> offsets;
    auto begin = [&] { offsets.push_back(out.size()); };
    auto string = [&](std::string_view s) {  // ASCII, shorter than 15
        begin();
        out.push_back(static_cast<uint8_t>(0x50 | s.size()));
        out.insert(out.end(), s.begin(), s.end());
    };
    auto uid = [&](uint8_t v) {
        begin();
        out.insert(out.end(), {0x80, v});
    };
    auto refs = [&](uint8_t marker, std::initializer_list<uint8_t> r) {
        begin();
        out.push_back(static_cast<uint8_t>(marker | (marker == 0xD0 ? r.size() / 2 : r.size())));
        out.insert(out.end(), r.begin(), r.end());
    };
    // Objects 0-23: the archive's dictionary, its keys and values, "$objects" (object 8) and
    // the four archived objects: "$null", the array (12), its class (13) and the string (14).
    refs(0xD0, {1, 2, 3, 4, 5, 6, 7, 8});
    string("$version");
    string("$archiver");
    string("$top");
    string("$objects");
    begin();
    out.insert(out.end(), {0x12, 0x00, 0x01, 0x86, 0xA0});  // 100000
    begin();
    out.insert(out.end(), {0x5F, 0x10, 15});
    for (char c : std::string_view("NSKeyedArchiver")) out.push_back(static_cast<uint8_t>(c));
    refs(0xD0, {9, 10});
    refs(0xA0, {11, 12, 13, 14});
    string("root");
    uid(1);
    string("$null");
    refs(0xD0, {18, 19, 15, 17});
    refs(0xD0, {22, 23, 20, 21});
    string("x");
    begin();  // object 15: the array's members, all object 16 (a reference to "x")
    out.insert(out.end(), {0xAF, 0x12});
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(count >> shift));
    out.insert(out.end(), count, 16);
    uid(3);
    uid(2);
    string("NS.objects");
    string("$class");
    string("NSArray");
    refs(0xA0, {20});
    string("$classname");
    string("$classes");

    auto bigEndian = [&](uint64_t v, int width) {
        for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    uint64_t table = out.size();
    for (uint64_t o : offsets) bigEndian(o, 4);
    out.insert(out.end(), 6, 0);
    out.push_back(4);  // offset size
    out.push_back(1);  // reference size
    bigEndian(offsets.size(), 8);
    bigEndian(0, 8);
    bigEndian(table, 8);
    return out;
}

TEST(KeyedUnarchiverFixtures, PlainArchivesDecodeToTheirValues) {
    // nsData's class chain starts with NSMutableData: the data is found along the chain.
    const std::pair<const char*, Value> cases[] = {
        {"simpleDict.plist", Dictionary{{"First key", "First value"},
                                        {"Second key", "Second value"},
                                        {"Array key", Array{1, 2, 3}}}},
        {"nsData.plist", Bytes{'S', 'o', 'm', 'e', ' ', 'd', 'a', 't', 'a', '!'}},
    };
    for (const auto& [name, expected] : cases) {
        auto value = unarchive(test::archiveFixture(name));
        ASSERT_TRUE(value) << name;
        EXPECT_EQ(*value, expected) << name << ": " << value->description();
    }
}

TEST(KeyedUnarchiverFixtures, CustomClassThroughARegisteredDecoder) {
    Bytes bytes = test::archiveFixture("note.plist");
    Error error;
    EXPECT_FALSE(unarchive(bytes, &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kUnknownClass);
    EXPECT_NE(error.description.find("Note"), std::string::npos) << error.description;

    ArchiveClassRegistry registry;
    registry.registerDecoder("Note", [](KeyedDecoder& coder) -> std::optional<Value> {
        EXPECT_EQ(coder.className(), "Note");
        EXPECT_TRUE(coder.contains("published"));
        EXPECT_FALSE(coder.contains("missing"));
        EXPECT_EQ(coder.decodeInt64("missing"), 0);
        EXPECT_TRUE(coder.decodeObject("missing").isNull());
        return Value(Dictionary{{"title", coder.decodeObject("title")},
                                {"author", coder.decodeObject("author")},
                                {"date", coder.decodeInt32("date")},
                                {"published", coder.decodeBool("published")},
                                {"array", coder.decodeObject("array")}});
    });
    auto value = KeyedUnarchiver::unarchive(bytes.data(), bytes.size(), registry, &error);
    ASSERT_TRUE(value) << error.description;
    EXPECT_EQ(*value, Value(Dictionary{{"title", "Some cool title"},
                                       {"author", "Michael Wright"},
                                       {"date", 2025},
                                       {"published", true},
                                       {"array", Array{"Hello, World!", 42, true}}}))
        << value->description();
}

TEST(KeyedUnarchiverFixtures, DeviceMessageWithSharedObjectsAndADate) {
    auto value = unarchive(test::archiveFixture("ax_statechange.bin"));
    ASSERT_TRUE(value);
    EXPECT_EQ(value->count(), 11u);
    EXPECT_EQ((*value)["state"], Value(2));
    EXPECT_EQ((*value)["elevated_state"], Value(2));
    EXPECT_EQ((*value)["state_description"], Value("Background Task Suspended"));
    EXPECT_EQ((*value)["elevated_state_description"], Value("Background Task Suspended"));
    // Shared objects decode once and stay shared.
    EXPECT_EQ((*value)["state_description"].stringValue(),
              (*value)["elevated_state_description"].stringValue());
    EXPECT_EQ((*value)["mach_absolute_time"], Value(int64_t{2374870072663}));
    EXPECT_EQ((*value)["pid"], Value(1231));
    EXPECT_EQ((*value)["displayID"], Value("com.apple.Spotlight"));
    ASSERT_TRUE((*value)["timestamp"].isDate());
    EXPECT_DOUBLE_EQ(*(*value)["timestamp"].dateValue(), 620737053.76402);
}

TEST(KeyedUnarchiverFixtures, ComplexArchiveWithOtherKeyOrderNeedsItsClasses) {
    Bytes bytes = test::archiveFixture("NSKeyedUnarchiver-ComplexTest.plist");
    Error error;
    EXPECT_FALSE(unarchive(bytes, &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kUnknownClass);
    EXPECT_TRUE(error.description.find("NSURL") != std::string::npos ||
                error.description.find("NSUUID") != std::string::npos)
        << error.description;

    ArchiveClassRegistry registry;
    registerComplexClasses(registry);
    auto value = KeyedUnarchiver::unarchive(bytes.data(), bytes.size(), registry, &error);
    ASSERT_TRUE(value) << error.description;
    EXPECT_EQ((*value)["array"], Value(Array{Value(), "hello", 34545, Dictionary{{"key", "val"}}}));
    EXPECT_EQ((*value)["string"], Value("hello"));
    EXPECT_EQ((*value)["string"].stringValue(), (*value)["array"].at(1).stringValue());
    EXPECT_EQ((*value)["uuid"], Value(Bytes{0x71, 0xDC, 0x06, 0x8E, 0x34, 0x20, 0x45, 0xFF, 0x91,
                                            0x9E, 0x3A, 0x26, 0x7D, 0x55, 0xEC, 0x22}));
    Value base = Dictionary{{"base", Value()}, {"relative", "https://www.swift.org"}};
    EXPECT_EQ((*value)["url"], Value(Dictionary{{"base", base}, {"relative", "index.xml"}}));
}

TEST(KeyedUnarchiverFixtures, ChatHistoryWithUtf16TextAndColoursFromAnotherWriter) {
    ArchiveClassRegistry registry;
    int decoded = 0;
    registry.registerDecoder(
        "ChatMessage", [&decoded](KeyedDecoder& coder) -> std::optional<Value> {
            ++decoded;
            return Value(Dictionary{{"sender", coder.decodeObject("sender")},
                                    {"recipient", coder.decodeObject("recipient")},
                                    {"message", coder.decodeObject("message")},
                                    {"type", coder.decodeInt32("messageType")},
                                    {"date", coder.decodeObject("date")}});
        });
    Bytes bytes = test::archiveFixture("chatHistoryAndColours.plist");
    Error error;
    auto value = KeyedUnarchiver::unarchive(bytes.data(), bytes.size(), registry, &error);
    ASSERT_TRUE(value) << error.description;
    EXPECT_EQ(decoded, 1) << "a shared object decodes once";
    Value message = Dictionary{{"sender", "FOH"},
                               {"recipient", "All"},
                               {"message",
                                "Gr\xC3\xBC\xC3\x9F"
                                "e \xE2\x99\xAA \xF0\x9F\x8E\xA4"},
                               {"type", 5},
                               {"date", Value::date(620737053.76402)}};
    EXPECT_EQ((*value)["Value"], Value(Array{message, message})) << value->description();
    EXPECT_EQ((*value)["NValue"], Value(Dictionary{{"FOH", Color{0.5, 0.25, 1, 1}},
                                                   {"All", Color{0.75, 0.75, 0.75, 0.5}}}));
}

TEST(KeyedUnarchiverFixtures, ArrayThatContainsItselfIsRefused) {
    Error error;
    EXPECT_FALSE(unarchive(test::archiveFixture("circularReference.plist"), &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kCycle);
}

TEST(KeyedUnarchiverFixtures, EveryTruncationFailsCleanly) {
    ArchiveClassRegistry registry;
    registerComplexClasses(registry);
    for (const char* name :
         {"simpleDict.plist", "NSKeyedUnarchiver-ComplexTest.plist", "ax_statechange.bin"}) {
        Bytes bytes = test::archiveFixture(name);
        for (size_t n = 0; n < bytes.size(); ++n) {
            Error error;
            EXPECT_FALSE(KeyedUnarchiver::unarchive(bytes.data(), n, registry, &error))
                << name << " cut at " << n;
            EXPECT_EQ(error.domain, KeyedUnarchiver::kErrorDomain);
        }
    }
}

TEST(KeyedUnarchiver, DamagedGraphsAndOtherPlistsAreErrorsOfTheArchive) {
    struct Case {
        const char* what;
        Bytes bytes;
        int code;
    } cases[] = {
        {"no bytes", Bytes{}, KeyedUnarchiver::kNotAnArchive},
        {"XML plist", *PropertyList::write(Value(Dictionary{{"a", 1}}), PropertyList::Format::Xml),
         KeyedUnarchiver::kNotAnArchive},
        {"plain binary plist",
         *PropertyList::write(Value(Dictionary{{"a", 1}}), PropertyList::Format::Binary),
         KeyedUnarchiver::kNotAnArchive},
        {"root out of range", archive({"x"}, 5), KeyedUnarchiver::kCorrupt},
        {"member out of range", rootOfClass("NSArray", {{"NS.objects", uids({9})}}),
         KeyedUnarchiver::kCorrupt},
        {"keys and objects differ in length",
         rootOfClass("NSDictionary", {{"NS.keys", uids({3, 3})}, {"NS.objects", uids({3})}}, {"k"}),
         KeyedUnarchiver::kCorrupt},
        {"keys of the wrong kind",
         rootOfClass("NSDictionary", {{"NS.keys", "no"}, {"NS.objects", uids({})}}),
         KeyedUnarchiver::kCorrupt},
        {"inline member where a reference belongs",
         rootOfClass("NSArray", {{"NS.objects", Array{1}}}), KeyedUnarchiver::kCorrupt},
        {"object without class", archive({Dictionary{{"NS.objects", uids({})}}}),
         KeyedUnarchiver::kCorrupt},
        {"class reference to a string", archive({Dictionary{{"$class", Uid{2}}}, "NSArray"}),
         KeyedUnarchiver::kCorrupt},
        {"class chain of the wrong kind",
         archive({Dictionary{{"$class", Uid{2}}},
                  Dictionary{{"$classname", "NSArray"}, {"$classes", "NSArray"}}}),
         KeyedUnarchiver::kCorrupt},
        {"bare array in the object table", archive({Array{1, 2}}), KeyedUnarchiver::kCorrupt},
        {"string object of the wrong kind", rootOfClass("NSString", {{"NS.string", 7}}),
         KeyedUnarchiver::kCorrupt},
        {"date of the wrong kind", rootOfClass("NSDate", {{"NS.time", "soon"}}),
         KeyedUnarchiver::kCorrupt},
        {"indirect cycle",
         rootOfClass("NSDictionary", {{"NS.keys", uids({3})}, {"NS.objects", uids({4})}},
                     {"k", Dictionary{{"NS.objects", uids({1})}, {"$class", Uid{5}}},
                      classEntry("NSArray")}),
         KeyedUnarchiver::kCycle},
        {"unknown class", rootOfClass("NSSecret", {}), KeyedUnarchiver::kUnknownClass},
    };
    for (auto& c : cases) {
        Error error;
        EXPECT_FALSE(unarchive(c.bytes, &error)) << c.what;
        EXPECT_EQ(error.code, c.code) << c.what << ": " << error.description;
        EXPECT_EQ(error.domain, KeyedUnarchiver::kErrorDomain) << c.what;
    }
}

TEST(KeyedUnarchiver, NestingBeyondTheBoundIsRefused) {
    auto nested = [](int levels) {
        Array objects{classEntry("NSArray")};  // index 1
        for (int i = 0; i < levels; ++i) {
            // Object i + 2 holds object i + 3; the last one is empty.
            Value members = i + 1 < levels ? uids({uint64_t(i) + 3}) : uids({});
            objects.push_back(Dictionary{{"NS.objects", members}, {"$class", Uid{1}}});
        }
        return archive(std::move(objects), 2);
    };
    EXPECT_TRUE(unarchive(nested(KeyedUnarchiver::kMaxDepth / 2)));
    Error error;
    EXPECT_FALSE(unarchive(nested(KeyedUnarchiver::kMaxDepth + 2), &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kTooDeep);
}

TEST(KeyedUnarchiver, SharedObjectsThatWouldExpandWithoutBoundAreRefused) {
    // Each array holds the previous one twice: 60 levels are tiny as a graph and 2^60 values
    // as a tree.
    Array objects{classEntry("NSArray"), Dictionary{{"NS.objects", uids({})}, {"$class", Uid{1}}}};
    for (uint64_t i = 0; i < 60; ++i) {
        objects.push_back(Dictionary{{"NS.objects", uids({i + 2, i + 2})}, {"$class", Uid{1}}});
    }
    Error error;
    EXPECT_FALSE(unarchive(archive(std::move(objects), 62), &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kTooLarge);
}

TEST(KeyedUnarchiver, PlistObjectsSharedBeyondTheArchivesSizeAreRefusedBeforeTheyAreCopied) {
    // libplist copies a shared array wherever it is referenced, before the archive is looked
    // at: 30 levels of this would take minutes and all the memory there is.
    EXPECT_EQ(unarchive(archiveWithDoublingArrays(0)), Value("x"));
    EXPECT_EQ(unarchive(archiveWithDoublingArrays(12)), Value("x")) << "within the floor";
    const Bytes expanding = archiveWithDoublingArrays(15);
    ASSERT_LT(expanding.size(), 256u);
    Error error;
    EXPECT_FALSE(unarchive(expanding, &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kTooLarge) << error.description;
}

TEST(KeyedUnarchiver, SharedReferencesMayExpandOnlyInProportionToTheArchive) {
    // A megabyte of references to one string: within the absolute bound, but a value far
    // larger than the bytes that carry it.
    const auto references = sharedReferences;
    Bytes million = references(1000000);
    ASSERT_LT(million.size(), size_t{1100000});
    Error error;
    EXPECT_FALSE(unarchive(million, &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kTooLarge) << error.description;
    EXPECT_EQ(error.domain, KeyedUnarchiver::kErrorDomain);
    EXPECT_FALSE(unarchive(references(100000), &error)) << "a tenth as large";
    EXPECT_EQ(error.code, KeyedUnarchiver::kTooLarge);

    // Small archives share freely up to the floor.
    auto few = unarchive(references(8000));
    ASSERT_TRUE(few);
    EXPECT_EQ(few->count(), 8000u);

    // Large archives as writers make them share keys and small values throughout: rows of
    // flags that are all the same, and rows that differ.
    Array rows;
    for (int64_t i = 0; i < 20000; ++i) {
        Dictionary row{{"csID", i % 2 ? Value(1000 + i) : Value(0)},
                       {"hardMute", false},
                       {"checked", false},
                       {"group", 0},
                       {"panel", "A"}};
        if (i % 2) row.set("name", "Strip " + std::to_string(i));
        rows.push_back(Value(std::move(row)));
    }
    Value table = Dictionary{{"Command", "HardMuteArray"}, {"Value", std::move(rows)}};
    Bytes bytes = *KeyedArchiver::archivedData(table);
    ASSERT_GT(bytes.size(), 4 * KeyedUnarchiver::kMinExpandedSize);
    auto decoded = unarchive(bytes, &error);
    ASSERT_TRUE(decoded) << error.description;
    EXPECT_EQ(*decoded, table);

    // And so do the archives of other writers.
    for (const char* name : {"simpleDict.plist", "nsData.plist", "ax_statechange.bin"}) {
        EXPECT_TRUE(unarchive(test::archiveFixture(name))) << name;
    }
}

TEST(KeyedUnarchiver, ColoursDecodeAndAnUnreadableOneDropsOnlyItsEntry) {
    Value colorClass = classEntry("NSColor");
    auto color = [](int space, const char* key, std::string text) {
        return Value(Dictionary{{"NSColorSpace", space},
                                {key, Bytes(text.begin(), text.end())},
                                {"NSComponents", Bytes{'1'}},
                                {"$class", Uid{2}}});
    };
    std::string rgbText("0.5 0.25 1", 11);  // NUL-terminated, alpha left out
    Bytes bytes = archive({
        Dictionary{{"NS.keys", uids({4, 5, 6, 7, 8})},
                   {"NS.objects", uids({9, 10, 11, 12, 13})},
                   {"$class", Uid{3}}},                                      // 1
        colorClass,                                                          // 2
        classEntry("NSDictionary"),                                          // 3
        "rgb", "white", "bad", "space", "list",                              // 4..8
        color(2, "NSRGB", rgbText),                                          // 9
        color(4, "NSWhite", "0.75 0.5"),                                     // 10
        color(1, "NSRGB", "0.1 zero 0.3"),                                   // 11
        color(6, "NSRGB", "0 0 0"),                                          // 12
        Dictionary{{"NS.objects", uids({9, 11, 10})}, {"$class", Uid{14}}},  // 13
        classEntry("NSArray"),                                               // 14
    });
    Error error;
    auto value = unarchive(bytes, &error);
    ASSERT_TRUE(value) << error.description;
    Color rgb{0.5, 0.25, 1.0, 1.0}, white{0.75, 0.75, 0.75, 0.5};
    Value expected = Dictionary{{"rgb", rgb}, {"white", white}, {"list", Array{rgb, white}}};
    EXPECT_EQ(*value, expected) << value->description();

    Error rootError;
    EXPECT_FALSE(unarchive(archive({color(1, "NSRGB", "x"), colorClass}), &rootError));
}

TEST(KeyedUnarchiver, MutableClassVariantsAndNSNull) {
    Bytes bytes = archive({
        Dictionary{
            {"NS.keys", uids({3, 4, 5})}, {"NS.objects", uids({6, 8, 10})}, {"$class", Uid{2}}},
        Dictionary{{"$classname", "NSMutableDictionary"},
                   {"$classes", Array{"NSMutableDictionary", "NSDictionary", "NSObject"}}},
        "s", "a", "n",                                                   // 3..5
        Dictionary{{"NS.string", "text \xC3\xA9"}, {"$class", Uid{7}}},  // 6
        classEntry("NSMutableString"),                                   // 7
        Dictionary{{"NS.objects", uids({10, 0})}, {"$class", Uid{9}}},   // 8
        classEntry("NSMutableArray"),                                    // 9
        Dictionary{{"$class", Uid{11}}},                                 // 10
        classEntry("NSNull"),                                            // 11
    });
    Error error;
    auto value = unarchive(bytes, &error);
    ASSERT_TRUE(value) << error.description;
    Value expected =
        Dictionary{{"s", "text \xC3\xA9"}, {"a", Array{Value(), Value()}}, {"n", Value()}};
    EXPECT_EQ(*value, expected) << value->description();
}

TEST(KeyedUnarchiver, DecoderFailuresBecomeErrorsOfTheArchive) {
    Bytes bytes = rootOfClass("Thing", {{"count", "many"}});
    ArchiveClassRegistry registry;
    Error error;

    registry.registerDecoder("Thing", [](KeyedDecoder& coder) -> std::optional<Value> {
        return Value(coder.decodeInt64("count"));  // a string where a number belongs
    });
    EXPECT_FALSE(KeyedUnarchiver::unarchive(bytes.data(), bytes.size(), registry, &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kCorrupt);

    registry.registerDecoder(
        "Thing", [](KeyedDecoder&) -> std::optional<Value> { throw std::runtime_error("boom"); });
    EXPECT_FALSE(KeyedUnarchiver::unarchive(bytes.data(), bytes.size(), registry, &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kDecoderFailed);

    registry.registerDecoder("Thing", [](KeyedDecoder&) { return std::optional<Value>(); });
    EXPECT_FALSE(KeyedUnarchiver::unarchive(bytes.data(), bytes.size(), registry, &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kDecoderFailed);
    EXPECT_NE(error.description.find("Thing"), std::string::npos);

    EXPECT_TRUE(registry.removeDecoder("Thing"));
    EXPECT_FALSE(KeyedUnarchiver::unarchive(bytes.data(), bytes.size(), registry, &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kUnknownClass);
}

// Arrays are walked by index up to a length and by iterator past it, and short strings come
// from a per-thread table whose slots strings share: every length on either side of both bounds,
// and more distinct strings than the table has slots, decode to what was archived, in frame
// after frame.
TEST(KeyedUnarchiver, ArraysAndStringsOfEveryLengthRoundTrip) {
    Array strings;
    for (size_t n = 0; n <= 40; ++n)
        strings.push_back(std::string(n, static_cast<char>('a' + n % 26)));
    for (int i = 0; i < 600; ++i) strings.push_back("key " + std::to_string(i));
    Dictionary message{{"strings", strings}};
    for (size_t n = 0; n <= 20; ++n) {
        Array items;
        for (size_t i = 0; i < n; ++i) items.push_back(int64_t(i * 7 + n));
        message.set("array " + std::to_string(n), std::move(items));
    }
    const Bytes bytes = *KeyedArchiver::archivedData(Value(message));
    for (int frame = 0; frame < 3; ++frame) {
        auto back = unarchive(bytes);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, Value(message)) << "frame " << frame;
    }
    // A string decoded earlier keeps its text when a later one takes its slot.
    auto first = unarchive(bytes);
    ASSERT_TRUE(first);
    const Bytes other =
        *KeyedArchiver::archivedData(Value(Dictionary{{"strings", Array{"x", "y"}}}));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(unarchive(other));
    EXPECT_EQ(*first, Value(message));
}

TEST(ArchiveClassRegistry, RegisteringWhileOtherThreadsDecode) {
    ArchiveClassRegistry registry;
    registerComplexClasses(registry);
    Bytes bytes = test::archiveFixture("NSKeyedUnarchiver-ComplexTest.plist");
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            registry.registerDecoder("Other" + std::to_string(i % 8),
                                     [](KeyedDecoder&) { return std::optional<Value>(Value(1)); });
        }
    });
    std::vector<std::thread> readers;
    std::atomic<int> decoded{0};
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                if (KeyedUnarchiver::unarchive(bytes.data(), bytes.size(), registry)) ++decoded;
            }
        });
    }
    for (auto& r : readers) r.join();
    stop = true;
    writer.join();
    EXPECT_EQ(decoded, 600);
}

}  // namespace
}  // namespace quenbril
