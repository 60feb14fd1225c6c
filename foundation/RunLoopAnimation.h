#pragma once

#include <functional>

#include "foundation/Timer.h"

namespace quenbril {

/// A progress from 0 to 1 over a duration of the main run loop's clock: `step` is called at
/// every frame with the share of the duration gone by, and once more with exactly 1 when the
/// duration has passed, then `done`. Running on the run loop's clock (virtual in tests) lets a
/// test move an animation to any moment with ManualRunLoop::advance instead of waiting.
/// Main thread only.
class RunLoopAnimation {
  public:
    /// Seconds between frames.
    static constexpr double kFrameInterval = 1.0 / 60.0;

    RunLoopAnimation() = default;
    RunLoopAnimation(const RunLoopAnimation&) = delete;
    RunLoopAnimation& operator=(const RunLoopAnimation&) = delete;
    ~RunLoopAnimation() = default;

    /// Starts anew (a running animation is stopped first, without its `done`). `step` is
    /// called with 0 at once. A duration of 0 or less ends at the next turn of the run loop.
    void start(double duration, std::function<void(double progress)> step,
               std::function<void()> done = {});
    /// Stops without a last step and without `done`.
    void stop();
    bool isRunning() const { return endTimer_.isValid(); }
    /// The duration of the last start.
    double duration() const { return duration_; }

  private:
    void frame();
    void finish();

    Timer frameTimer_;
    Timer endTimer_;
    double startTime_ = 0;
    double duration_ = 0;
    std::function<void(double)> step_;
    std::function<void()> done_;
};

}  // namespace quenbril
