#pragma once

#include <memory>

#include "foundation/dispatch/GlobalQueue.h"
#include "foundation/dispatch/Queue.h"
#include "foundation/dispatch/Semaphore.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

/// Takes every thread of the global queue for its lifetime: what is submitted after it waits
/// until the holder goes (also when a test fails half-way). A thread busy when the holder comes
/// is taken once it is free, before anything submitted later.
class HeldGlobalQueue {
  public:
    HeldGlobalQueue() {
        for (unsigned i = 0; i < count_; ++i) {
            dispatch::Queue::global()->async([entered = entered_, release = release_] {
                entered->signal();
                release->wait(scaledSeconds(30.0));
            });
        }
    }
    ~HeldGlobalQueue() {
        for (unsigned i = 0; i < count_; ++i) release_->signal();
    }
    HeldGlobalQueue(const HeldGlobalQueue&) = delete;
    HeldGlobalQueue& operator=(const HeldGlobalQueue&) = delete;

    /// Waits until every thread is held; false when one stayed busy for five seconds.
    bool waitHeld() {
        for (; held_ < count_; ++held_) {
            if (!entered_->wait(scaledSeconds(5.0))) return false;
        }
        return true;
    }

  private:
    const unsigned count_ = dispatch::GlobalQueue::threadCount();
    unsigned held_ = 0;
    // Shared with the blocks, which may still be leaving the wait as the holder goes.
    std::shared_ptr<dispatch::Semaphore> entered_ = std::make_shared<dispatch::Semaphore>();
    std::shared_ptr<dispatch::Semaphore> release_ = std::make_shared<dispatch::Semaphore>();
};

}  // namespace quenbril::test
