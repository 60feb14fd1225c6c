#pragma once

// How many threads a process has, and which this one has, read from /proc.

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <set>
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

/// The ids of this process's threads now.
inline std::set<int> threadIds() {
    std::set<int> ids;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) {
            if (entry->d_name[0] != '.') ids.insert(std::atoi(entry->d_name));
        }
        ::closedir(tasks);
    }
    return ids;
}

}  // namespace quenbril::test
