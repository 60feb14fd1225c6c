#pragma once

#include <functional>

#include "foundation/Timer.h"

namespace quenbril {

class RunLoop;

/// A one-shot time-out of a run-loop socket. Like a timer taken out of a loop's modes and put
/// back, it keeps its fire date while detached and fires only while attached to a loop.
/// Use on the socket's thread.
class RunLoopOneShotTimer {
  public:
    RunLoopOneShotTimer() = default;

    /// Starts it: fires `fire` `seconds` after now on `loop`'s clock, when attached then.
    void start(RunLoop& loop, double seconds, bool attached, std::function<void()> fire);
    /// Schedules it on `loop` (the fire date kept); does nothing when not started.
    void attach(RunLoop& loop);
    /// Takes it off its loop, keeping the fire date.
    void detach();
    void invalidate();
    bool isValid() const { return valid_; }

  private:
    bool valid_ = false;
    double fireDate_ = 0;
    std::function<void()> fire_;
    Timer timer_;
};

}  // namespace quenbril
