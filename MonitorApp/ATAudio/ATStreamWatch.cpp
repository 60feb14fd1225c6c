#include "MonitorApp/ATAudio/ATStreamWatch.h"

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

ATStreamWatch::ATStreamWatch(std::string unitName, AudioBackend& backend, Hooks hooks)
    : unitName_(std::move(unitName)), backend_(backend), hooks_(std::move(hooks)) {}

void ATStreamWatch::start() {
    lost_ = false;
    ticksLost_ = 0;
    if (!timer_.isValid()) {
        timer_ = RunLoop::main().scheduleTimer(kInterval, true, [this] { tick(); });
    }
}

void ATStreamWatch::stop() {
    timer_.invalidate();
    lost_ = false;
}

void ATStreamWatch::tick() {
    if (hooks_.report) hooks_.report();
    if (!lost_) {
        // A stream the host ended by itself, or one that stopped delivering periods.
        const AudioStream* stream = hooks_.stream();
        if (!stream || (!stream->stoppedByHost() && stream->isActive())) return;
        QLOG("%s: the audio device went away; waiting for it to return", unitName_.c_str());
        hooks_.dropStream();
        lost_ = true;
        ticksLost_ = 0;
        return;
    }
    if (++ticksLost_ < kRetryTicks) return;
    ticksLost_ = 0;
    // The host's device list is fixed until it re-enumerates, which it can only do while no
    // stream is open.
    if (backend_.openStreamCount() > 0 || !backend_.refresh()) return;
    if (hooks_.reopen()) {
        lost_ = false;
        QLOG("%s: the audio device is back", unitName_.c_str());
    }
}

}  // namespace quenbril
