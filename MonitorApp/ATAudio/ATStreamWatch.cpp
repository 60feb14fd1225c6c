#include "MonitorApp/ATAudio/ATStreamWatch.h"

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

ATStreamWatch::ATStreamWatch(std::string unitName, AudioBackend& backend, Hooks hooks)
    : unitName_(std::move(unitName)), backend_(backend), hooks_(std::move(hooks)) {}

void ATStreamWatch::start() {
    if (timer_.isValid()) return;
    lost_ = false;
    ticksLost_ = 0;
    timer_ = RunLoop::main().scheduleTimer(kInterval, true, [this] { tick(); });
}

void ATStreamWatch::stop() {
    timer_.invalidate();
    lost_ = false;
}

void ATStreamWatch::tick() {
    if (hooks_.report) hooks_.report();
    const AudioStream* stream = hooks_.stream();
    if (stream && !stream->stoppedByHost() && stream->isActive()) {
        // Playing, whether the watch reopened it or the unit did (a change while lost).
        if (lost_) QLOG("%s: the audio device is back", unitName_.c_str());
        lost_ = false;
        return;
    }
    if (!lost_) {
        if (!stream && !hooks_.noStreamIsLost) return;
        if (stream) {
            QLOG("%s: the audio device went away; waiting for it to return", unitName_.c_str());
        } else {
            QLOG("%s: the audio device does not play; trying it again every %.0f s",
                 unitName_.c_str(), kRetryTicks * kInterval);
        }
        hooks_.dropStream();
        lost_ = true;
        ticksLost_ = 0;
        return;
    }
    // A stream left open but not playing would keep the host from looking for its devices.
    if (stream) hooks_.dropStream();
    if (++ticksLost_ < kRetryTicks) return;
    ticksLost_ = 0;
    // The host's device list is fixed until it re-enumerates, which it can only do while no
    // stream is open.
    if (backend_.openStreamCount() > 0 || !backend_.refresh()) return;
    if (hooks_.reopen()) {
        lost_ = false;
        QLOG("%s: the audio device is back", unitName_.c_str());
    } else {
        hooks_.dropStream();
    }
}

}  // namespace quenbril
