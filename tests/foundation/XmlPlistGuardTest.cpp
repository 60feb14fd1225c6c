// The guard for XML plists: the nesting and the escapes it counts, and the markup it refuses
// because libplist could read more nesting into it than the guard sees.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/PropertyList.h"
#include "foundation/XmlPlistGuard.h"
#include "tests/support/DeepPlist.h"

namespace quenbril {
namespace {

using Result = XmlPlistGuard::Result;

Result check(const std::string& xml, int depth, size_t elements = SIZE_MAX) {
    return XmlPlistGuard::check(xml.data(), xml.size(), depth, elements);
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(XmlPlistGuard, CountsEveryOpenElement) {
    // <plist> and two arrays; the empty ones, the comment and the header add nothing.
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><array>"
        "<!-- <array><array> --><array/><array ><true/></array><dict/></array></plist>";
    EXPECT_EQ(check(xml, 3), Result::Within);
    EXPECT_EQ(check(xml, 2), Result::TooDeep);
    EXPECT_EQ(check(test::deepXmlPlist(test::kCrashingDepth), 514), Result::TooDeep);
}

TEST(XmlPlistGuard, CountsEveryElementTheEmptyOnesIncluded) {
    // <plist>, <array>, <true/> and <string>; comments, instructions and sections hold none.
    const std::string xml =
        "<?xml version=\"1.0\"?><plist><array><true/><!-- <x/> --><?p <y/>?>"
        "<string><![CDATA[<z/>]]></string></array></plist>";
    EXPECT_EQ(check(xml, 8, 4), Result::Within);
    EXPECT_EQ(check(xml, 8, 3), Result::TooManyElements);
}

TEST(PropertyList, ListsOfTooManyElementsAreRefusedBothWays) {
    // Reading takes time and memory for each element: 64 MiB of "<true/>" took half a minute
    // and 1.7 GB.
    const size_t most = PropertyList::kMaxElements;
    auto trues = [](size_t n) { return Value(Array(n, Value(true))); };
    auto xml = PropertyList::write(trues(most - 1), PropertyList::Format::Xml);
    ASSERT_TRUE(xml) << "the array and its elements";
    EXPECT_EQ(XmlPlistGuard::check(xml->data(), xml->size(), PropertyList::kMaxDepth + 2,
                                   PropertyList::kMaxElements + 1),
              Result::Within)
        << "what is written reads";
    Error error;
    EXPECT_FALSE(PropertyList::write(trues(most), PropertyList::Format::Xml, &error));
    EXPECT_EQ(error.code, PropertyList::kTooLarge) << error.description;

    const std::string file =
        "<plist><array>" + repeat("<true/>", static_cast<int>(most)) + "</array></plist>";
    EXPECT_FALSE(PropertyList::read(file.data(), file.size(), &error));
    EXPECT_EQ(error.code, PropertyList::kTooLarge);
    EXPECT_NE(error.description.find("elements"), std::string::npos) << error.description;
}

TEST(XmlPlistGuard, WhatThePropertyListWriterMakesPasses) {
    Value deepest = Array{};
    for (int i = 0; i < PropertyList::kMaxDepth; ++i) deepest = Dictionary{{"k", deepest}};
    for (const Value& value : {Value(Dictionary{{"a", Array{1, "<&>", Bytes{1}, 2.5}}}), deepest}) {
        auto xml = PropertyList::write(value, PropertyList::Format::Xml);
        ASSERT_TRUE(xml);
        EXPECT_EQ(XmlPlistGuard::check(xml->data(), xml->size(), PropertyList::kMaxDepth + 2,
                                       PropertyList::kMaxElements + 1),
                  Result::Within);
        EXPECT_EQ(PropertyList::read(*xml), value);
    }
}

TEST(XmlPlistGuard, MarkupThatCouldHideNestingIsRefused) {
    const std::string deep = repeat("<array>", 50);
    for (const std::string& xml : std::vector<std::string>{
             // Closing tags that libplist would take as text or refuse.
             "<array><string></array></string></array>",
             "<array></dict>",
             "</array>",
             // An opening tag whose end libplist might find elsewhere.
             "<array a='/>'>" + deep,
             "<array a=\"<\">" + deep,
             "<array a=b>" + deep,
             "<array a>" + deep,
             "<array/ >" + deep,
             "< array>" + deep,
             // A document type with markup of its own, and unknown declarations.
             "<!DOCTYPE x [ <!-- ]> --> ]>" + deep,
             "<!ENTITY x \"y\">" + deep,
             // Unclosed comments, sections and instructions, and what is left open.
             "<array><!-- " + deep,
             "<array><![CDATA[ " + deep,
             "<?xml " + deep,
             "<array>",
             "<",
         }) {
        EXPECT_EQ(check(xml, 8), Result::Damaged) << xml;
    }
    // What comments, sections and quoted values hold is no markup.
    EXPECT_EQ(check("<a><!--" + deep + "--><b x=\"/>\"><![CDATA[" + deep + "]]></b></a>", 2),
              Result::Within);
}

TEST(XmlPlistGuard, EscapedCharactersAreBoundedPerText) {
    auto texts = [](const std::string& body) {
        return "<plist><array><string>" + body + "</string><key>" + body + "</key></array></plist>";
    };
    const size_t bound = XmlPlistGuard::kMaxEntities;
    const std::string atBound = repeat("&amp;", static_cast<int>(bound));
    EXPECT_EQ(check(texts(atBound), 8), Result::Within) << "each text has its own count";
    EXPECT_EQ(check(texts(atBound + ">"), 8), Result::TooManyEntities);
    // A comment leaves one text; a section counts what a writer escapes again.
    EXPECT_EQ(check(texts(repeat("&lt;", 2048) + "<!-- -->" + repeat("&#38;", 2049)), 8),
              Result::TooManyEntities);
    EXPECT_EQ(check(texts("<![CDATA[" + std::string(bound + 1, '<') + "]]>"), 8),
              Result::TooManyEntities);
    EXPECT_EQ(check(texts("<![CDATA[" + std::string(bound, '<') + "]]>"), 8), Result::Within);
}

TEST(PropertyList, TextsOfTooManyEscapesAreRefusedBothWays) {
    // libplist decodes a text's escapes in quadratic time: a 64 MiB file would take hours.
    const std::string many(XmlPlistGuard::kMaxEntities + 1, '&');
    Error error;
    EXPECT_FALSE(PropertyList::write(Value(many), PropertyList::Format::Xml, &error));
    EXPECT_EQ(error.code, PropertyList::kUnsupportedValue);
    auto binary = PropertyList::write(Value(many), PropertyList::Format::Binary);
    ASSERT_TRUE(binary);
    EXPECT_EQ(PropertyList::read(*binary), Value(many));

    const std::string fewer = many.substr(1) + "x<y";
    auto xml = PropertyList::write(Value(fewer), PropertyList::Format::Xml);
    EXPECT_FALSE(xml) << "'<' is escaped too";
    xml = PropertyList::write(Value(many.substr(1)), PropertyList::Format::Xml);
    ASSERT_TRUE(xml);
    EXPECT_EQ(PropertyList::read(*xml), Value(many.substr(1)));

    const std::string file = "<plist><string>" + repeat("&amp;", 2000000) + "</string></plist>";
    EXPECT_FALSE(PropertyList::read(file.data(), file.size(), &error));
    EXPECT_EQ(error.code, PropertyList::kParseError);
}

TEST(PropertyList, DeepXmlIsRefusedBeforeTheParserBuildsIt) {
    for (size_t depth : {size_t{PropertyList::kMaxDepth + 10}, test::kCrashingDepth}) {
        const std::string xml = test::deepXmlPlist(depth);
        Error error;
        EXPECT_FALSE(PropertyList::read(xml.data(), xml.size(), &error)) << depth;
        EXPECT_EQ(error.code, PropertyList::kTooDeep) << depth;
    }
    // Cut short, as a file may be, it is refused all the same.
    const std::string cut = test::deepXmlPlist(test::kCrashingDepth).substr(0, 1 << 20);
    EXPECT_FALSE(PropertyList::read(cut.data(), cut.size()));
}

}  // namespace
}  // namespace quenbril
