#include "foundation/RunLoopAnimation.h"

#include <algorithm>

#include "foundation/RunLoop.h"

namespace quenbril {

void RunLoopAnimation::start(double duration, std::function<void(double)> step,
                             std::function<void()> done) {
    stop();
    RunLoop& loop = RunLoop::main();
    duration_ = std::max(0.0, duration);
    startTime_ = loop.now();
    step_ = std::move(step);
    done_ = std::move(done);
    // The end has a timer of its own, so that it falls exactly on the duration whatever the
    // frame rate.
    endTimer_ = loop.scheduleTimer(duration_, false, [this] { finish(); });
    if (duration_ > 0) frameTimer_ = loop.scheduleTimer(kFrameInterval, true, [this] { frame(); });
    if (step_) step_(0.0);
}

void RunLoopAnimation::stop() {
    frameTimer_.invalidate();
    endTimer_.invalidate();
    step_ = nullptr;
    done_ = nullptr;
}

void RunLoopAnimation::frame() {
    if (!step_ || duration_ <= 0) return;
    const double progress = (RunLoop::main().now() - startTime_) / duration_;
    // The last step (exactly 1) belongs to the end timer.
    step_(std::clamp(progress, 0.0, 1.0 - 1e-9));
}

void RunLoopAnimation::finish() {
    frameTimer_.invalidate();
    endTimer_.invalidate();
    // Either call may start this animation again or destroy its owner, so both are taken
    // out of the object first.
    auto step = std::move(step_);
    auto done = std::move(done_);
    step_ = nullptr;
    done_ = nullptr;
    if (step) step(1.0);
    if (done) done();
}

}  // namespace quenbril
