#pragma once

#include "foundation/ManualRunLoop.h"
#include "foundation/dispatch/Queue.h"

namespace quenbril::test {

/// Serves `loop` (the main loop) until the main queue has run what was sent to it so far,
/// within five seconds of real time (true): the delegate calls of what the other queues have
/// done by now have arrived, for a check that nothing (more) came.
inline bool drainMainQueue(ManualRunLoop& loop) {
    bool ran = false;
    dispatch::Queue::main()->async([&ran] { ran = true; });
    return loop.runUntil([&] { return ran; }, 5.0);
}

}  // namespace quenbril::test
