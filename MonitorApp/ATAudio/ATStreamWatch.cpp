#include "MonitorApp/ATAudio/ATStreamWatch.h"

#include <algorithm>

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
        if (lost_) logBack();
        lost_ = false;
        whilePlaying();
        return;
    }
    ticksPlaying_ = 0;
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
    whileLost(stream);
}

void ATStreamWatch::logBack() {
    // On a stand-in the unit said where it plays: its own device is not back.
    if (onStandIn()) return;
    QLOG("%s: the audio device is back", unitName_.c_str());
}

bool ATStreamWatch::onStandIn() const { return hooks_.onStandIn && hooks_.onStandIn(); }

void ATStreamWatch::whilePlaying() {
    if (!onStandIn()) {
        moveBackTicks_ = kRetryTicks;
        return;
    }
    if (++ticksPlaying_ < moveBackTicks_) return;
    ticksPlaying_ = 0;
    backend_.refresh();
    if (!hooks_.ownDeviceListed || !hooks_.ownDeviceListed()) return;
    // The unit says by name where it plays now. A move that fails leaves it on the stand-in
    // after a gap, so a device listed that does not open is tried less and less often; one
    // that leaves it without a stream is a loss at the next look.
    hooks_.reopen();
    if (onStandIn()) moveBackTicks_ = std::min(2 * moveBackTicks_, kMostMoveBackTicks);
}

void ATStreamWatch::whileLost(const AudioStream* stream) {
    // A stream left open but not playing would keep the host from looking for its devices.
    if (stream) hooks_.dropStream();
    if (++ticksLost_ < kRetryTicks) return;
    ticksLost_ = 0;
    // Whatever the other units hold: a host that cannot look again keeps its list, and a device
    // still listed may well open.
    backend_.refresh();
    if (hooks_.reopen()) {
        lost_ = false;
        logBack();
    } else {
        hooks_.dropStream();
    }
}

}  // namespace quenbril
