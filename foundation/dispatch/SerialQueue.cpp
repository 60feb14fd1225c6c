#include "foundation/dispatch/SerialQueue.h"

#include <pthread.h>

namespace quenbril::dispatch {

namespace {
// Blocks a targeted queue runs per turn on its target before letting the target's other work in.
constexpr int kDrainBatch = 64;
// Whether this thread may wait for another thread's brief in-place block: not a serial queue's
// own thread, and not inside a block run in place.
thread_local bool tMayWaitForInPlace = true;
}  // namespace

// The state the thread shares with the queue; the thread never touches the queue object itself,
// which may be destroyed on that very thread when its last block lets go of it.
//
// One block at a time: `running` is set, under the mutex, by whichever thread runs a block: the
// queue's own thread, or a caller of tryRunInPlace. The mutex orders one block's end before the
// next one's start, whichever threads they run on.
struct SerialQueue::Worker {
    std::mutex mutex;
    std::condition_variable cv;
    std::condition_variable handedBack;  // an in-place block ended (for `waiting` callers)
    std::deque<Block> blocks;
    bool running = false;
    bool briefInPlace = false;  // the running block is a brief one, run in place
    int waiting = 0;
    bool draining = false;  // a drain is submitted to the target (targeted queues)
    bool stop = false;
};

QueuePtr SerialQueue::make(std::string label, QueuePtr target) {
    return std::make_shared<SerialQueue>(std::move(label), std::move(target));
}

SerialQueue::SerialQueue(std::string label, QueuePtr target)
    : Queue(Kind::Serial, std::move(label), std::move(target)),
      worker_(std::make_shared<Worker>()) {
    if (this->target()) return;
    thread_ = std::thread([worker = worker_, name = this->label().substr(0, 15)] {
        pthread_setname_np(pthread_self(), name.c_str());
        tMayWaitForInPlace = false;
        std::unique_lock lock(worker->mutex);
        for (;;) {
            worker->cv.wait(lock, [&] {
                return !worker->running && (worker->stop || !worker->blocks.empty());
            });
            if (worker->blocks.empty()) return;  // stopped, and nothing left
            Block block = std::move(worker->blocks.front());
            worker->blocks.pop_front();
            worker->running = true;
            lock.unlock();
            block();
            block = nullptr;  // may drop the last reference to the queue
            lock.lock();
            worker->running = false;
        }
    });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(worker_->mutex);
        worker_->stop = true;
    }
    worker_->cv.notify_one();
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

bool SerialQueue::tryRunInPlace(const Block& block, bool brief) {
    if (target()) return false;
    auto self = shared_from_this();  // the block may drop the caller's last reference
    {
        std::unique_lock lock(worker_->mutex);
        if (brief && tMayWaitForInPlace) {
            ++worker_->waiting;
            worker_->handedBack.wait(lock, [&] {
                return !worker_->briefInPlace || !worker_->blocks.empty() || worker_->stop;
            });
            --worker_->waiting;
        }
        if (worker_->running || !worker_->blocks.empty() || worker_->stop) return false;
        worker_->running = true;
        worker_->briefInPlace = brief;
    }
    // Hands the queue back, also when the block throws; what was queued meanwhile waits for the
    // queue's own thread.
    struct Release {
        Worker& worker;
        bool mayWait;
        ~Release() {
            tMayWaitForInPlace = mayWait;
            bool more = false, waiters = false;
            {
                std::lock_guard lock(worker.mutex);
                worker.running = false;
                worker.briefInPlace = false;
                more = !worker.blocks.empty();
                waiters = worker.waiting > 0;
            }
            if (more) worker.cv.notify_one();
            if (waiters) worker.handedBack.notify_all();
        }
    } release{*worker_, tMayWaitForInPlace};
    tMayWaitForInPlace = false;
    runInContext(block);
    return true;
}

void SerialQueue::submit(Block wrapped) {
    bool startDrain = false;
    {
        std::lock_guard lock(worker_->mutex);
        worker_->blocks.push_back(std::move(wrapped));
        if (target() && !worker_->draining) worker_->draining = startDrain = true;
    }
    if (!target()) {
        worker_->cv.notify_one();
    } else if (startDrain) {
        auto self = std::static_pointer_cast<SerialQueue>(shared_from_this());
        target()->async([self] { self->drain(); });
    }
}

void SerialQueue::drain() {
    for (int i = 0; i < kDrainBatch; ++i) {
        Block block;
        {
            std::lock_guard lock(worker_->mutex);
            if (worker_->blocks.empty()) {
                worker_->draining = false;
                return;
            }
            block = std::move(worker_->blocks.front());
            worker_->blocks.pop_front();
        }
        block();
    }
    auto self = std::static_pointer_cast<SerialQueue>(shared_from_this());
    target()->async([self] { self->drain(); });
}

}  // namespace quenbril::dispatch
