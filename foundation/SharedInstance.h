#pragma once

#include <atomic>
#include <memory>
#include <mutex>

namespace quenbril {

/// Holds the one instance of a process-wide object: made on first use, and dropped only by
/// `reset()`, which tests call to simulate a restart while nothing else uses the object.
///
/// `get()` takes no lock once the instance exists, so audio threads may read through it.
template <typename T>
class SharedInstance {
  public:
    T& get() {
        if (T* existing = instance_.load(std::memory_order_acquire)) {
            return *existing;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!owner_) {
            owner_ = std::make_unique<T>();
            instance_.store(owner_.get(), std::memory_order_release);
        }
        return *owner_;
    }

    /// The instance when it was made, without making it.
    T* existing() const { return instance_.load(std::memory_order_acquire); }

    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        instance_.store(nullptr, std::memory_order_release);
        owner_.reset();
    }

  private:
    std::mutex mutex_;
    std::unique_ptr<T> owner_;
    std::atomic<T*> instance_{nullptr};
};

}  // namespace quenbril
