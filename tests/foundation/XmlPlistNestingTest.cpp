// The nesting guard for XML plists: what it counts, and the markup it refuses because libplist
// could read more nesting into it than the guard sees.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/PropertyList.h"
#include "foundation/XmlPlistNesting.h"
#include "tests/support/DeepPlist.h"

namespace quenbril {
namespace {

using Result = XmlPlistNesting::Result;

Result check(const std::string& xml, int depth) {
    return XmlPlistNesting::check(xml.data(), xml.size(), depth);
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(XmlPlistNesting, CountsEveryOpenElement) {
    // <plist> and two arrays; the empty ones, the comment and the header add nothing.
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><array>"
        "<!-- <array><array> --><array/><array ><true/></array><dict/></array></plist>";
    EXPECT_EQ(check(xml, 3), Result::Within);
    EXPECT_EQ(check(xml, 2), Result::TooDeep);
    EXPECT_EQ(check(test::deepXmlPlist(test::kCrashingDepth), 514), Result::TooDeep);
}

TEST(XmlPlistNesting, WhatThePropertyListWriterMakesPasses) {
    Value deepest = Array{};
    for (int i = 0; i < PropertyList::kMaxDepth; ++i) deepest = Dictionary{{"k", deepest}};
    for (const Value& value : {Value(Dictionary{{"a", Array{1, "<&>", Bytes{1}, 2.5}}}), deepest}) {
        auto xml = PropertyList::write(value, PropertyList::Format::Xml);
        ASSERT_TRUE(xml);
        EXPECT_EQ(XmlPlistNesting::check(xml->data(), xml->size(), PropertyList::kMaxDepth + 2),
                  Result::Within);
        EXPECT_EQ(PropertyList::read(*xml), value);
    }
}

TEST(XmlPlistNesting, MarkupThatCouldHideNestingIsRefused) {
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
