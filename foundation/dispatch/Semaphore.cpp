#include "foundation/dispatch/Semaphore.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace quenbril::dispatch {

void Semaphore::signal() {
    std::lock_guard lock(mutex_);
    ++value_;
    cv_.notify_one();
}

bool Semaphore::wait(double timeoutSeconds) {
    std::unique_lock lock(mutex_);
    auto ready = [&] { return value_ > 0; };
    if (timeoutSeconds == std::numeric_limits<double>::infinity()) {
        cv_.wait(lock, ready);
    } else {
        auto timeout = std::chrono::duration<double>(std::max(timeoutSeconds, 0.0));
        if (!cv_.wait_for(lock, timeout, ready)) return false;
    }
    --value_;
    return true;
}

}  // namespace quenbril::dispatch
