#pragma once

#include <atomic>
#include <functional>
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
    using Maker = std::function<std::unique_ptr<T>()>;

    /// Made with T's default constructor.
    SharedInstance() : make_([] { return std::make_unique<T>(); }) {}
    /// Made by `make`: for a type whose constructor is handed the process-wide services.
    explicit SharedInstance(Maker make) : make_(std::move(make)) {}

    T& get() {
        if (T* existing = instance_.load(std::memory_order_acquire)) {
            return *existing;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!owner_) {
            owner_ = make_();
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
    const Maker make_;
    std::mutex mutex_;
    std::unique_ptr<T> owner_;
    std::atomic<T*> instance_{nullptr};
};

}  // namespace quenbril
