#pragma once

#include <condition_variable>
#include <mutex>

namespace quenbril::test {

/// Holds every thread that passes() until open() is called: a stand-in for a library call that
/// does not return.
class Gate {
  public:
    void pass() {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
        --waiting_;
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int waiting() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int waiting_ = 0;
};

}  // namespace quenbril::test
