#pragma once

#include <condition_variable>
#include <limits>
#include <mutex>

namespace quenbril::dispatch {

/// A counting semaphore.
class Semaphore {
  public:
    explicit Semaphore(long value = 0) : value_(value) {}

    /// Increments the count, waking one waiter.
    void signal();
    /// Decrements the count, waiting up to `timeoutSeconds` (real time) for it to be positive;
    /// true when it was decremented, false on time-out.
    bool wait(double timeoutSeconds = std::numeric_limits<double>::infinity());

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    long value_;
};

}  // namespace quenbril::dispatch
