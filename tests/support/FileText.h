#pragma once

// The text of a file a test reads back whole: a program's log, a file it wrote.

#include <fstream>
#include <sstream>
#include <string>

namespace quenbril::test {

/// The whole file as it is now; empty when it cannot be read.
inline std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace quenbril::test
