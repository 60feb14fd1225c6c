#include "foundation/dispatch/Queue.h"

#include <condition_variable>

#include "foundation/RunLoop.h"
#include "foundation/dispatch/GlobalQueue.h"
#include "foundation/dispatch/MainQueue.h"
#include "foundation/dispatch/Reactor.h"
#include "foundation/dispatch/SerialQueue.h"

namespace quenbril::dispatch {

namespace {

// What the calling thread is running: the innermost block's queue, the block it runs inside (a
// serial queue's block runs inside its target's), and the frame of a thread blocked in sync()
// waiting for this block (its queues count as current too: they cannot run meanwhile).
struct Frame {
    const Queue* queue;
    const Frame* parent;
    const Frame* syncCaller;
};

thread_local const Frame* tCurrent = nullptr;

bool chainContains(const Frame* frame, const Queue* queue) {
    for (; frame; frame = frame->parent) {
        if (frame->queue == queue) return true;
        if (frame->syncCaller && chainContains(frame->syncCaller, queue)) return true;
    }
    return false;
}

struct SyncState {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
};

}  // namespace

Queue::Queue(Kind kind, std::string label, QueuePtr target)
    : kind_(kind), label_(std::move(label)), target_(std::move(target)) {}

Queue::~Queue() = default;

QueuePtr Queue::makeSerial(std::string label, QueuePtr target) {
    return SerialQueue::make(std::move(label), std::move(target));
}

const QueuePtr& Queue::main() {
    static auto* queue = new QueuePtr(std::make_shared<MainQueue>());
    return *queue;
}

const QueuePtr& Queue::global() {
    static auto* queue = new QueuePtr(std::make_shared<GlobalQueue>());
    return *queue;
}

void Queue::async(Block block) {
    submit([self = shared_from_this(), block = std::move(block)] { self->runInContext(block); });
}

void Queue::sync(const Block& block) {
    for (const Queue* queue = this; queue; queue = queue->target_.get()) {
        if (queue->isCurrent()) {
            runInContext(block);
            return;
        }
    }
    if (kind_ == Kind::Global) {
        runInContext(block);
        return;
    }
    // The waiting thread's queues count as current inside the block, so a block that syncs back
    // onto them runs in place instead of deadlocking. A thread on no queue that runs the main
    // loop stands for the main queue.
    Frame implicitMain{main().get(), nullptr, nullptr};
    const Frame* caller = tCurrent;
    if (!caller && RunLoop::main().isCurrentThread()) caller = &implicitMain;
    auto state = std::make_shared<SyncState>();
    submit([self = shared_from_this(), &block, caller, state] {
        self->runInContext(block, caller);
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->cv.notify_one();
    });
    std::unique_lock lock(state->mutex);
    state->cv.wait(lock, [&] { return state->done; });
}

bool Queue::tryRunInPlace(const Block&, bool) { return false; }

void Queue::after(double seconds, Block block) {
    auto submitLater = [self = shared_from_this(), block = std::move(block)]() mutable {
        self->async(std::move(block));
    };
    if (runsOnMain()) {
        RunLoop::main().after(seconds, std::move(submitLater));
    } else {
        Reactor::shared().addTimer(Reactor::monotonicNow() + seconds, std::move(submitLater));
    }
}

bool Queue::isCurrent() const {
    if (chainContains(tCurrent, this)) return true;
    return kind_ == Kind::Main && RunLoop::main().isCurrentThread();
}

bool Queue::runsOnMain() const {
    for (const Queue* queue = this; queue; queue = queue->target_.get()) {
        if (queue->kind_ == Kind::Main) return true;
    }
    return false;
}

void Queue::setSpecific(const void* key, void* value) {
    std::lock_guard lock(specificsMutex_);
    if (value) {
        specifics_[key] = value;
    } else {
        specifics_.erase(key);
    }
}

void* Queue::getSpecific(const void* key) const {
    std::lock_guard lock(specificsMutex_);
    auto it = specifics_.find(key);
    return it == specifics_.end() ? nullptr : it->second;
}

void* Queue::currentSpecific(const void* key) {
    const Queue* queue = nullptr;
    if (tCurrent) {
        queue = tCurrent->queue;
    } else if (RunLoop::main().isCurrentThread()) {
        queue = main().get();
    }
    for (; queue; queue = queue->target_.get()) {
        if (void* value = queue->getSpecific(key)) return value;
    }
    return nullptr;
}

void Queue::runInContext(const Block& block, const void* syncCaller) {
    Frame frame{this, tCurrent, static_cast<const Frame*>(syncCaller)};
    struct Restore {
        const Frame* previous;
        ~Restore() { tCurrent = previous; }
    } restore{tCurrent};
    tCurrent = &frame;
    block();
}

}  // namespace quenbril::dispatch
