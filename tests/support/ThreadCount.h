#pragma once

// How many threads a process has, read from /proc.

#include <cstdlib>
#include <fstream>
#include <string>

namespace quenbril::test {

/// The threads of the process `pid` ("self" for this one) now; 0 when it is not running.
inline int threadCount(const std::string& pid = "self") {
    std::ifstream in("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
    }
    return 0;
}

}  // namespace quenbril::test
