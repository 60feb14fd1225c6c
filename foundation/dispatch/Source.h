#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "foundation/dispatch/Queue.h"

namespace quenbril::dispatch {

/// An event source whose handlers run on its queue: the base of DescriptorSource and TimerSource.
///
/// - A source is made suspended: set its handlers, then resume(). suspend() and resume() nest
///   (a resume of a running source is ignored).
/// - Events are coalesced: at most one event handler run is queued at a time, and data() tells,
///   inside the handler, what the source measured. A suspended source keeps its event and delivers
///   it on resume.
/// - cancel() stops further events at once (a handler already running finishes); the cancel
///   handler then runs once on the queue, after any running event handler, whether or not the
///   source is suspended, and the handlers are released. A descriptor source lets go of its
///   SharedDescriptor then; an owner of a bare number closes it in the cancel handler.
/// - Dropping the last reference without cancel() stops the source silently (no cancel handler).
class Source : public std::enable_shared_from_this<Source> {
  public:
    virtual ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    void setEventHandler(Block handler);
    void setCancelHandler(Block handler);
    /// On: an event runs the handler on the thread that noticed it (the epoll thread), in the
    /// queue's context, when the queue is idle (Queue::tryRunInPlace, brief), instead of waking
    /// the queue's thread. For short handlers that never wait for another thread; off by
    /// default.
    void setDeliversInPlace(bool inPlace);

    void resume();
    void suspend();
    void cancel();
    bool isCancelled() const;
    bool isSuspended() const;

    /// Inside the event handler: the measurement of the event being handled (see the subclass).
    uint64_t data() const;

    const QueuePtr& queue() const { return queue_; }

  protected:
    explicit Source(QueuePtr queue);

    /// Called (any thread) when the event happened; `data` is merged into the pending data by
    /// mergeData(). `onQueue`: the caller runs on the source's queue, outside any of its blocks
    /// (the main run loop noticing a descriptor of a main-queue source), so the handler runs here
    /// and now instead of being queued.
    void signal(uint64_t data, bool onQueue = false);
    /// Forgets an event not yet delivered (a timer set anew drops the fires of its old setting).
    void clearPending();
    /// How a new event's data joins data not yet delivered (timers add up fire counts).
    virtual uint64_t mergeData(uint64_t pending, uint64_t incoming) const;
    /// Called on the queue just before the handler runs; answers the value of data(), or nothing
    /// when the event turned out spurious (the handler is skipped and the source re-armed).
    virtual std::optional<uint64_t> measure(uint64_t pending);
    /// Called (under no lock) when the source becomes able to receive an event again: resumed, or
    /// after a handler run while running. Descriptor sources re-arm here.
    virtual void arm() {}
    /// Called from cancel() (perhaps more than once), before the source counts as cancelled;
    /// afterwards arm() must do nothing.
    virtual void disarm() {}
    /// Called on the queue once, when the cancel has finished: the cancel handler has run and
    /// nothing of the source runs any more.
    virtual void cancelFinished() {}

  private:
    void scheduleDelivery();  // mutex_ held
    void deliver();
    void finishCancel();

    const QueuePtr queue_;
    mutable std::mutex mutex_;
    Block eventHandler_;
    Block cancelHandler_;
    int suspendCount_ = 1;
    bool cancelled_ = false;
    bool cancelHandled_ = false;
    bool pending_ = false;
    bool scheduled_ = false;
    bool running_ = false;
    bool deliversInPlace_ = false;
    uint64_t pendingData_ = 0;
    uint64_t data_ = 0;
};

}  // namespace quenbril::dispatch
