#include "foundation/dispatch/Source.h"

namespace quenbril::dispatch {

Source::Source(QueuePtr queue) : queue_(std::move(queue)) {}

Source::~Source() = default;

void Source::setEventHandler(Block handler) {
    Block old;
    std::lock_guard lock(mutex_);
    if (cancelHandled_) return;
    old = std::move(eventHandler_);
    eventHandler_ = std::move(handler);
}

void Source::setCancelHandler(Block handler) {
    Block old;
    std::lock_guard lock(mutex_);
    if (cancelHandled_) return;
    old = std::move(cancelHandler_);
    cancelHandler_ = std::move(handler);
}

void Source::setDeliversInPlace(bool inPlace) {
    std::lock_guard lock(mutex_);
    deliversInPlace_ = inPlace;
}

void Source::resume() {
    bool rearm = false;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_ || suspendCount_ == 0) return;
        if (--suspendCount_ > 0) return;
        if (scheduled_ || running_) return;  // the delivery under way re-arms
        if (pending_) {
            scheduleDelivery();
        } else {
            rearm = true;
        }
    }
    if (rearm) arm();
}

void Source::suspend() {
    std::lock_guard lock(mutex_);
    if (!cancelled_) ++suspendCount_;
}

void Source::cancel() {
    // Stop the events first: the cancel handler (which may close the descriptor) can run as soon
    // as the flag below is set, so nothing may touch the descriptor after that.
    disarm();
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    pending_ = false;
    // A delivery already queued, or the handler running now, finishes the cancellation.
    if (!scheduled_ && !running_) scheduleDelivery();
}

bool Source::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool Source::isSuspended() const {
    std::lock_guard lock(mutex_);
    return suspendCount_ > 0;
}

uint64_t Source::data() const {
    std::lock_guard lock(mutex_);
    return data_;
}

void Source::signal(uint64_t data, bool onQueue) {
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
        pendingData_ = pending_ ? mergeData(pendingData_, data) : data;
        pending_ = true;
        if (suspendCount_ > 0 || scheduled_ || running_) return;
        if (!deliversInPlace_ && !onQueue) {
            scheduleDelivery();
            return;
        }
        scheduled_ = true;
    }
    if (onQueue) {
        deliver();
        return;
    }
    // Outside the lock: deliver() takes it. A suspend or cancel in between is seen there, as by a
    // queued delivery.
    Block run = [self = shared_from_this()] { self->deliver(); };
    if (!queue_->tryRunInPlace(run, true)) queue_->async(std::move(run));
}

void Source::clearPending() {
    std::lock_guard lock(mutex_);
    pending_ = false;
    pendingData_ = 0;
}

uint64_t Source::mergeData(uint64_t, uint64_t incoming) const { return incoming; }

std::optional<uint64_t> Source::measure(uint64_t pending) { return pending; }

void Source::scheduleDelivery() {
    scheduled_ = true;
    queue_->async([self = shared_from_this()] { self->deliver(); });
}

void Source::deliver() {
    Block handler;
    uint64_t raw = 0;
    {
        std::lock_guard lock(mutex_);
        scheduled_ = false;
        if (cancelled_) {
            running_ = true;  // keeps a racing cancel() from queueing a second delivery
        } else {
            if (suspendCount_ > 0 || !pending_) return;  // resume() delivers
            pending_ = false;
            raw = pendingData_;
            pendingData_ = 0;
            running_ = true;
            handler = eventHandler_;
        }
    }
    if (handler) {
        std::optional<uint64_t> measured = measure(raw);
        if (measured) {
            {
                std::lock_guard lock(mutex_);
                data_ = *measured;
            }
            handler();
        }
        handler = nullptr;
    }
    bool rearm = false;
    bool finish = false;
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        if (cancelled_) {
            finish = true;
        } else if (suspendCount_ == 0) {
            if (pending_) {
                scheduleDelivery();
            } else {
                rearm = true;
            }
        }
    }
    if (finish) {
        finishCancel();
    } else if (rearm) {
        arm();
    }
}

void Source::finishCancel() {
    Block cancelHandler;
    Block eventHandler;
    {
        std::lock_guard lock(mutex_);
        if (cancelHandled_) return;
        cancelHandled_ = true;
        cancelHandler = std::move(cancelHandler_);
        eventHandler = std::move(eventHandler_);
        cancelHandler_ = nullptr;
        eventHandler_ = nullptr;
    }
    if (cancelHandler) cancelHandler();
    // Both handlers (and whatever they hold) are released here, on the queue, before the source
    // lets go of what it watches.
    cancelHandler = nullptr;
    eventHandler = nullptr;
    cancelFinished();
}

}  // namespace quenbril::dispatch
