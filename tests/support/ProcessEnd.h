#pragma once

// Waiting for a child process to end, bounded: a child stuck for good (inside a library that
// never returns, say) costs its caller a limit, never the test.

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
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

}  // namespace quenbril::test
