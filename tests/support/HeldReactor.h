#pragma once

#include <memory>

#include "foundation/dispatch/Reactor.h"
#include "foundation/dispatch/Semaphore.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

/// Keeps the process's epoll thread busy for its lifetime: nothing it watches is noticed, and no
/// real-time timer fires, until the holder goes (also when a test fails half-way).
class HeldReactor {
  public:
    HeldReactor() {
        // Shared with the callback, which may still be leaving the wait as the holder goes.
        auto entered = std::make_shared<dispatch::Semaphore>();
        dispatch::Reactor::shared().addTimer(dispatch::Reactor::monotonicNow(),
                                             [entered, release = release_] {
                                                 entered->signal();
                                                 release->wait(scaledSeconds(30.0));
                                             });
        held_ = entered->wait(scaledSeconds(5.0));
    }
    ~HeldReactor() { release_->signal(); }
    HeldReactor(const HeldReactor&) = delete;
    HeldReactor& operator=(const HeldReactor&) = delete;

    /// The epoll thread is inside the holder's callback.
    bool held() const { return held_; }

  private:
    std::shared_ptr<dispatch::Semaphore> release_ = std::make_shared<dispatch::Semaphore>();
    bool held_ = false;
};

}  // namespace quenbril::test
