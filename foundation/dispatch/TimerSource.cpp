#include "foundation/dispatch/TimerSource.h"

#include <cmath>

#include "foundation/dispatch/Reactor.h"

namespace quenbril::dispatch {

std::shared_ptr<TimerSource> TimerSource::make(QueuePtr queue, Clock clock) {
    return std::make_shared<TimerSource>(std::move(queue), clock);
}

TimerSource::TimerSource(QueuePtr queue, Clock clock) : Source(std::move(queue)), clock_(clock) {}

bool TimerSource::followsRunLoop() const {
    return clock_ == Clock::OfQueue && queue()->runsOnMain();
}

TimerSource::~TimerSource() { disarm(); }

void TimerSource::setTimer(double start, double interval) {
    Timer previous;
    {
        std::lock_guard lock(timerMutex_);
        if (disarmed_) return;
        uint64_t generation = ++generation_;
        interval_ = interval > 0 && std::isfinite(interval) ? interval : 0;
        if (reactorTimer_) Reactor::shared().removeTimer(reactorTimer_);
        reactorTimer_ = 0;
        previous = std::move(runLoopTimer_);
        // Fires of the earlier setting not yet handled are dropped with it.
        clearPending();
        if (!(start < kNever)) return;
        start = std::max(start, 0.0);
        nextDeadline_ = now() + start;
        if (followsRunLoop()) {
            scheduleRunLoop(generation, start);
        } else {
            scheduleRealTime(generation, nextDeadline_);
        }
    }
    // `previous` is cancelled here, outside the lock (its loop may take its own lock).
}

double TimerSource::now() const {
    return followsRunLoop() ? RunLoop::main().now() : Reactor::monotonicNow();
}

void TimerSource::scheduleRealTime(uint64_t generation, double deadline) {
    std::weak_ptr<Source> weak = weak_from_this();
    reactorTimer_ = Reactor::shared().addTimer(deadline, [weak, this, generation] {
        if (auto self = weak.lock()) fired(generation);
    });
}

void TimerSource::scheduleRunLoop(uint64_t generation, double delay) {
    std::weak_ptr<Source> weak = weak_from_this();
    runLoopTimer_ = RunLoop::main().scheduleTimer(delay, false, [weak, this, generation] {
        if (auto self = weak.lock()) fired(generation);
    });
}

void TimerSource::fired(uint64_t generation) {
    uint64_t count = 1;
    Timer previous;
    {
        // Signalled under the lock, so that a fire of an old setting cannot land after setTimer
        // dropped the pending ones.
        std::lock_guard lock(timerMutex_);
        if (generation != generation_ || disarmed_) return;
        reactorTimer_ = 0;
        previous = std::move(runLoopTimer_);
        if (interval_ > 0) {
            const double now = this->now();
            double next = nextDeadline_ + interval_;
            if (next <= now) {
                // Fires missed while late are counted, not made up one by one: the period holds.
                double missed = std::floor((now - next) / interval_) + 1;
                count += uint64_t(missed);
                next += missed * interval_;
            }
            nextDeadline_ = next;
            if (followsRunLoop()) {
                scheduleRunLoop(generation, next - now);
            } else {
                scheduleRealTime(generation, next);
            }
        }
        signal(count);
    }
}

uint64_t TimerSource::mergeData(uint64_t pending, uint64_t incoming) const {
    return pending + incoming;
}

void TimerSource::disarm() {
    Timer previous;
    std::lock_guard lock(timerMutex_);
    disarmed_ = true;
    ++generation_;
    if (reactorTimer_) Reactor::shared().removeTimer(reactorTimer_);
    reactorTimer_ = 0;
    previous = std::move(runLoopTimer_);
}

}  // namespace quenbril::dispatch
