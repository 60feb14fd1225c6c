#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "foundation/PropertyList.h"

namespace quenbril {
namespace {

Value sample() {
    Dictionary d;
    d.set("name", "Lead vocal \xC3\xA9\xE2\x99\xAA");
    d.set("count", int64_t{-123456789012});
    d.set("big", std::numeric_limits<int64_t>::max());
    d.set("ratio", 0.25);
    d.set("on", true);
    d.set("off", false);
    d.set("bytes", Bytes{0, 1, 2, 255});
    d.set("when", Value::date(789012345.0));  // XML dates keep whole seconds
    d.set("list", Array{1, "two", Array{}, Dictionary{}});
    return Value(std::move(d));
}

class PropertyListRoundTrip : public testing::TestWithParam<PropertyList::Format> {};

TEST_P(PropertyListRoundTrip, KeepsEveryKind) {
    Error error;
    auto bytes = PropertyList::write(sample(), GetParam(), &error);
    ASSERT_TRUE(bytes) << error.description;
    auto back = PropertyList::read(*bytes, &error);
    ASSERT_TRUE(back) << error.description;
    EXPECT_EQ(*back, sample()) << back->description();
    EXPECT_TRUE((*back)["on"].isBool()) << "bools stay bools";
}

INSTANTIATE_TEST_SUITE_P(Formats, PropertyListRoundTrip,
                         testing::Values(PropertyList::Format::Xml, PropertyList::Format::Binary));

TEST(PropertyList, UidsAndDatesKeepTheirValuesAndUnwritableValuesAreRefused) {
    for (uint64_t u : {0ull, 1ull, 255ull, 256ull, 65535ull, 65536ull, 0xFFFFFFFFull}) {
        auto bytes = PropertyList::write(Value(Array{Value(Uid{u})}), PropertyList::Format::Binary);
        ASSERT_TRUE(bytes);
        EXPECT_EQ(PropertyList::read(*bytes)->at(0).uidValue(), u);
    }
    // XML has no UID type: it reads back as the dictionary that stands for one.
    auto xml = PropertyList::write(Value(Uid{7}), PropertyList::Format::Xml);
    ASSERT_TRUE(xml);
    EXPECT_EQ(*PropertyList::read(*xml), Value(Dictionary{{"CF$UID", 7}}));
    // Binary dates keep fractions of a second.
    for (double t : {12.25, 789012345.5, -86400.0}) {
        auto bytes = PropertyList::write(Value::date(t), PropertyList::Format::Binary);
        ASSERT_TRUE(bytes);
        EXPECT_DOUBLE_EQ(*PropertyList::read(*bytes)->dateValue(), t);
    }

    Error error;
    EXPECT_FALSE(
        PropertyList::write(Value(Uid{0x100000000ull}), PropertyList::Format::Binary, &error));
    EXPECT_EQ(error.code, PropertyList::kUnsupportedValue);
    EXPECT_FALSE(PropertyList::write(Value(Dictionary{{3, "x"}}), PropertyList::Format::Binary));
    EXPECT_FALSE(PropertyList::write(Value(), PropertyList::Format::Xml));
    EXPECT_FALSE(PropertyList::write(Value(Color{}), PropertyList::Format::Xml));
}

TEST(PropertyList, GarbageAndTruncatedInputAreRefused) {
    Error error;
    const char garbage[] = "this is not a plist at all";
    EXPECT_FALSE(PropertyList::read(garbage, std::strlen(garbage), &error));
    EXPECT_EQ(error.domain, PropertyList::kErrorDomain);
    EXPECT_FALSE(PropertyList::read(Bytes{}));

    for (auto format : {PropertyList::Format::Binary, PropertyList::Format::Xml}) {
        auto bytes = PropertyList::write(sample(), format);
        ASSERT_TRUE(bytes);
        // The binary form ends in its offset table, so even the last byte matters.
        size_t last = format == PropertyList::Format::Binary ? bytes->size() - 1 : 8;
        for (size_t cut : {bytes->size() / 2, last, size_t{8}}) {
            Bytes truncated(bytes->begin(), bytes->begin() + static_cast<long>(cut));
            EXPECT_FALSE(PropertyList::read(truncated)) << "cut at " << cut;
        }
    }
}

TEST(PropertyList, StringsHoldingNulCharactersNeverEndTheProcess) {
    // A NUL byte inside an XML string ends the string.
    const std::string xml =
        std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>k</key><string>x") +
        '\0' + "y</string></dict></plist>";
    auto back = PropertyList::read(xml.data(), xml.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(*(*back)["k"].stringValue(), "x");

    // A binary plist whose UTF-16 key holds U+0000 is refused.
    const uint8_t binary[] = {
        0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd1, 0x01, 0x02, 0x64, 0x00, 0x61,
        0x00, 0x00, 0x00, 0x62, 0x20, 0xac, 0x09, 0x08, 0x0b, 0x14, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x15};
    Error error;
    EXPECT_FALSE(PropertyList::read(binary, sizeof binary, &error));
    EXPECT_EQ(error.code, PropertyList::kParseError);
}

TEST(PropertyList, TheXmlLengthReckonedBeforeWritingIsNeverMoreThanTheWrittenOne) {
    // Settings are judged by it before a write that could take seconds.
    Value nested = Array{true};
    for (int i = 0; i < 300; ++i) nested = Array{nested, false};
    const Value values[] = {
        Value(true),
        Value(""),
        Value("a<b>&c & d"),
        Value(Bytes{}),
        Value(Bytes{1}),
        Value(Bytes(40, 7)),
        Value(Bytes(200, 1)),
        Value(Array{}),
        Value(Dictionary{}),
        Value(Dictionary{{"a", Array{true, Array{1, "x<&>y"}, Bytes(40, 7)}},
                         {"b&<>", Dictionary{}},
                         {"c", Array{}},
                         {"d", 2.5},
                         {"e", Value::date(0)},
                         {"f", int64_t{-1234567890123}}}),
        nested,
    };
    for (const Value& value : values) {
        auto written = PropertyList::write(value, PropertyList::Format::Xml);
        ASSERT_TRUE(written) << value.description();
        EXPECT_LE(PropertyList::xmlLengthAtLeast(value), written->size()) << value.description();
    }
    // Deep and wide, it is close: most of what is written is the indentation it counts.
    Value deep = Array(2000, Value(true));
    for (int i = 0; i < 200; ++i) deep = Array{deep};
    auto written = PropertyList::write(deep, PropertyList::Format::Xml);
    ASSERT_TRUE(written);
    EXPECT_GT(PropertyList::xmlLengthAtLeast(deep), written->size() * 9 / 10);
}

}  // namespace
}  // namespace quenbril
