#pragma once

#include <atomic>
#include <functional>
#include <mutex>

namespace quenbril {

/// The shared state behind a cancellable handle (a timer, a watched descriptor): a flag any thread
/// may set once, and an optional hook the owner of the scheduled work runs when it is set.
class CancelToken {
  public:
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }

    /// Sets the flag; the first call runs the hook (outside the lock). Later calls do nothing.
    void cancel();

    /// Installs the hook run by cancel(); runs it at once when the token is already cancelled.
    void setOnCancel(std::function<void()> hook);
    /// Drops the hook (the owner is going away and the hook would reach it).
    void clearOnCancel();

  private:
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::function<void()> onCancel_;
};

}  // namespace quenbril
