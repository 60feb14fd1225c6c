#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/support/TestTime.h"

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

/// True once `done` holds, polled from this thread, within ten seconds of a plain build: for state
/// another thread (a worker let go of a gate) changes.
template <class Predicate>
bool eventually(Predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + scaledDuration(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace quenbril::test
