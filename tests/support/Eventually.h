#pragma once

// The one poll of the tests for what another thread or process changes.

#include <chrono>
#include <functional>
#include <thread>

#include "tests/support/TestTime.h"

namespace quenbril::test {

/// Asks `holds` until it answers true or `seconds` have passed (as given: stretch them with
/// scaledSeconds(); by default 20 s of a plain build), doing `meanwhile` between two questions
/// (by default a nap of 10 ms); its last answer.
inline bool eventually(const std::function<bool()>& holds, double seconds = scaledSeconds(20.0),
                       const std::function<void()>& meanwhile = {}) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!holds()) {
        if (std::chrono::steady_clock::now() >= deadline) return holds();
        if (meanwhile) {
            meanwhile();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return true;
}

}  // namespace quenbril::test
