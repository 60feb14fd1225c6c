#pragma once

// Property lists nested far deeper than any reader takes, as hostile files are.

#include <string>

namespace quenbril::test {

/// An XML plist of `depth` arrays, one in the other. At 200,000 levels (3 MB) libplist's tree
/// overflowed the stack when it was freed.
inline std::string deepXmlPlist(size_t depth) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    xml.reserve(xml.size() + depth * 15 + 16);
    for (size_t i = 0; i < depth; ++i) xml += "<array>";
    for (size_t i = 0; i < depth; ++i) xml += "</array>";
    return xml + "</plist>\n";
}

/// The depth at which a deep plist ended every start of the program.
inline constexpr size_t kCrashingDepth = 200000;

}  // namespace quenbril::test
