#include "foundation/dispatch/GlobalQueue.h"

#include <pthread.h>

#include <algorithm>

namespace quenbril::dispatch {

GlobalQueue::GlobalQueue() : Queue(Kind::Global, "global", nullptr) {}

unsigned GlobalQueue::threadCount() { return std::max(4u, std::thread::hardware_concurrency()); }

GlobalQueue::~GlobalQueue() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    cv_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void GlobalQueue::submit(Block wrapped) {
    {
        std::lock_guard lock(mutex_);
        blocks_.push_back(std::move(wrapped));
        if (threads_.empty()) {
            for (unsigned i = 0; i < threadCount(); ++i) threads_.emplace_back([this] { work(); });
        }
    }
    cv_.notify_one();
}

void GlobalQueue::work() {
    pthread_setname_np(pthread_self(), "global queue");
    std::unique_lock lock(mutex_);
    for (;;) {
        cv_.wait(lock, [&] { return stop_ || !blocks_.empty(); });
        if (stop_) return;
        Block block = std::move(blocks_.front());
        blocks_.pop_front();
        lock.unlock();
        block();
        block = nullptr;
        lock.lock();
    }
}

}  // namespace quenbril::dispatch
