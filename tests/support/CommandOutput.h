#pragma once

// A shell command run to its end, as a user runs a program or a script, with what it printed.

#include <stdio.h>
#include <sys/wait.h>

#include <array>
#include <string>

namespace quenbril::test {

struct CommandOutput {
    /// The exit status, or -1 when the command could not run or ended by a signal.
    int status = -1;
    /// Standard output, and standard error where the command joins it (`2>&1`).
    std::string out;
};

inline CommandOutput runCommand(const std::string& command) {
    CommandOutput result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer;
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.out.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace quenbril::test
