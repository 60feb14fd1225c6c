#pragma once

// Waiting for a child process to end, bounded: a child stuck for good (inside a library that
// never returns, say) costs its caller a limit, never the test.

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

namespace quenbril::test {

/// Waits up to `seconds` (as given) for `pid` to end, looking every `nap`; true when it ended,
/// reaped, its wait status in `status`.
inline bool reapedWithin(pid_t pid, double seconds, int& status,
                         std::chrono::milliseconds nap = std::chrono::milliseconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(nap);
    }
}

/// Ends `pid` at once, as a crash would, and reaps it; its wait status in `status`.
inline void killAndReap(pid_t pid, int& status) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
}

/// A wait status in words, for a failure message; -1 is a process not reaped yet.
inline std::string describeWaitStatus(int status) {
    if (status == -1) return "not ended";
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
    return "wait status " + std::to_string(status);
}

}  // namespace quenbril::test
