#include "platform/audio/HostLookThread.h"

#include <chrono>

namespace quenbril {

HostLookThread::HostLookThread(uint64_t lookedAt, std::function<uint64_t()> sign,
                               std::function<void(uint64_t)> look, double interval)
    : sign_(std::move(sign)),
      look_(std::move(look)),
      interval_(interval),
      looked_(lookedAt),
      thread_([this] { run(); }) {}

HostLookThread::~HostLookThread() {
    {
        std::lock_guard held(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void HostLookThread::run() {
    std::unique_lock held(mutex_);
    while (!wake_.wait_for(held, std::chrono::duration<double>(interval_),
                           [this] { return stopping_; })) {
        held.unlock();
        const uint64_t now = sign_();
        if (now != looked_) {
            looked_ = now;
            look_(now);
        }
        held.lock();
    }
}

}  // namespace quenbril
