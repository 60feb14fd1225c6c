#pragma once

// The order a loaded machine may give a JACK client's end: the server dies, another open of the
// process marks the client gone, and its owner lets it go, all before libjack's own thread has
// told of the end. A test of what that thread then reaches puts it there on purpose.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "platform/jack/JackClients.h"
#include "tests/support/Eventually.h"
#include "tests/support/HeldThreads.h"
#include "tests/support/JackServer.h"
#include "tests/support/TestTime.h"
#include "tests/support/ThreadCount.h"

namespace quenbril::test {

/// Holds the threads started since `before` (the client's, in libjack) while the shared server
/// dies, another open marks the client gone and `meanwhile` runs; then lets them on, and expects
/// one of them to end once it has told of the end. False, with nothing done, where the threads
/// cannot be held. Tests skip it under ThreadSanitizer, which puts off a signal that comes inside
/// libjack's calls.
inline bool serverDiesBehindThreadsStartedSince(const std::set<int>& before,
                                                const std::function<void()>& meanwhile) {
    std::set<int> started;
    for (int thread : threadIds()) {
        if (!before.count(thread)) started.insert(thread);
    }
    if (started.empty()) {
        ADD_FAILURE() << "the client started no thread";
        return true;
    }
    {
        HeldThreads holder(started, scaledSeconds(30));
        if (!holder.all()) return false;
        JackServer::shared().kill();
        { auto marking = JackClients::opening(); }
        meanwhile();
    }
    // Others of the process may have started beside them, and live on.
    EXPECT_TRUE(eventually([&] {
        const std::set<int> now = threadIds();
        return std::any_of(started.begin(), started.end(),
                           [&](int thread) { return now.count(thread) == 0; });
    })) << "no thread of the client ended";
    return true;
}

}  // namespace quenbril::test
