#include "sockets/RunLoopOneShotTimer.h"

#include <algorithm>

#include "foundation/RunLoop.h"

namespace quenbril {

void RunLoopOneShotTimer::start(RunLoop& loop, double seconds, bool attached,
                                std::function<void()> fire) {
    invalidate();
    valid_ = true;
    fireDate_ = loop.now() + seconds;
    fire_ = std::move(fire);
    if (attached) attach(loop);
}

void RunLoopOneShotTimer::attach(RunLoop& loop) {
    if (!valid_) return;
    timer_ = loop.scheduleTimer(std::max(0.0, fireDate_ - loop.now()), false, [this] {
        // The timer is spent: the callback may start this one again.
        valid_ = false;
        auto fire = std::move(fire_);
        fire_ = nullptr;
        fire();
    });
}

void RunLoopOneShotTimer::detach() { timer_.invalidate(); }

void RunLoopOneShotTimer::invalidate() {
    timer_.invalidate();
    valid_ = false;
    fire_ = nullptr;
}

}  // namespace quenbril
