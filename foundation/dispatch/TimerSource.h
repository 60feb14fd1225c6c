#pragma once

#include <limits>
#include <mutex>

#include "foundation/RunLoop.h"
#include "foundation/dispatch/Source.h"

namespace quenbril::dispatch {

/// A timer source. On a queue that runs on the main queue it follows the run loop's clock
/// (virtual in tests); on any other queue, or when made with Clock::Real, real (monotonic) time.
///
/// data() in the handler: the number of times the timer fired since the handler last ran (more
/// than 1 when the queue was busy or the source suspended).
class TimerSource : public Source {
  public:
    static constexpr double kNever = std::numeric_limits<double>::infinity();

    enum class Clock { OfQueue, Real };

    static std::shared_ptr<TimerSource> make(QueuePtr queue, Clock clock = Clock::OfQueue);

    ~TimerSource() override;

    /// Fires first `start` seconds from now (kNever: not until set again), then every `interval`
    /// seconds; an interval of 0 or less (or kNever) fires once. Replaces any earlier setting,
    /// and drops its fires not yet handled.
    /// The period is kept: a late fire does not shift the following ones.
    void setTimer(double start, double interval = 0);
    /// The time on the clock this timer follows (the run loop's on the main queue, else real).
    double now() const;

    TimerSource(QueuePtr queue, Clock clock);  // use make

  private:
    uint64_t mergeData(uint64_t pending, uint64_t incoming) const override;
    void disarm() override;
    void fired(uint64_t generation);
    void scheduleRealTime(uint64_t generation, double deadline);
    void scheduleRunLoop(uint64_t generation, double delay);
    bool followsRunLoop() const;

    const Clock clock_;

    std::mutex timerMutex_;
    uint64_t generation_ = 0;
    double interval_ = 0;
    double nextDeadline_ = 0;  // monotonic seconds (real time) or run-loop seconds
    uint64_t reactorTimer_ = 0;
    Timer runLoopTimer_;
    bool disarmed_ = false;
};

}  // namespace quenbril::dispatch
