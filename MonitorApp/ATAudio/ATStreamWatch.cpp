#include "MonitorApp/ATAudio/ATStreamWatch.h"

#include <algorithm>
#include <vector>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

namespace {

// Every watch of the process (main thread): a look closes the streams of all units on a host.
std::vector<ATStreamWatch*>& watches() {
    static auto* all = new std::vector<ATStreamWatch*>;
    return *all;
}

}  // namespace

ATStreamWatch::ATStreamWatch(std::string unitName, AudioBackend& backend, Hooks hooks)
    : unitName_(std::move(unitName)),
      backend_(backend),
      hooks_(std::move(hooks)),
      // What the host's list was looked for at: a change since then is still to be looked for,
      // whoever asked for the count first.
      seenChanges_(backend.lookedAtChanges()) {
    watches().push_back(this);
}

ATStreamWatch::~ATStreamWatch() {
    auto& all = watches();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

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

bool ATStreamWatch::changesPending() const { return backend_.deviceChanges() != seenChanges_; }

void ATStreamWatch::tick() {
    if (hooks_.report) hooks_.report();
    const AudioStream* stream = hooks_.stream();
    if (stream && !stream->stoppedByHost() && stream->isActive()) {
        // Playing, whether the watch reopened it or the unit did (a change while lost).
        plays();
        whilePlaying();
        return;
    }
    ticksPlaying_ = 0;
    if (!lost_) {
        if (stream || wantsStream()) lose(stream != nullptr);
        return;
    }
    whileLost(stream);
}

void ATStreamWatch::lose(bool hadStream) {
    if (!lost_ && hadStream) {
        QLOG("%s: the audio device went away; waiting for it to return", unitName_.c_str());
    } else if (!lost_) {
        QLOG("%s: the audio device does not play; trying it again every %.0f s", unitName_.c_str(),
             kRetryTicks * kInterval);
    }
    hooks_.dropStream();
    lost_ = true;
    ticksLost_ = 0;
}

void ATStreamWatch::plays() {
    // On a stand-in the unit said where it plays: its own device is not back.
    if (lost_ && !onStandIn()) QLOG("%s: the audio device is back", unitName_.c_str());
    lost_ = false;
}

bool ATStreamWatch::onStandIn() const { return hooks_.onStandIn && hooks_.onStandIn(); }

bool ATStreamWatch::wantsStream() const { return hooks_.wantsStream && hooks_.wantsStream(); }

void ATStreamWatch::whilePlaying() {
    if (!onStandIn()) {
        moveBackTicks_ = kRetryTicks;
        return;
    }
    if (changesPending()) {
        // The own device may be there now: the host looks, and the unit plays where it may.
        lookAgain();
        return;
    }
    if (++ticksPlaying_ < moveBackTicks_) return;
    ticksPlaying_ = 0;
    moveBack();
}

void ATStreamWatch::moveBack() {
    if (!hooks_.ownDeviceListed || !hooks_.ownDeviceListed()) return;
    // The unit says by name where it plays now; a move that fails leaves the stand-in playing,
    // and a device listed that does not open is tried less and less often.
    hooks_.reopen();
    if (onStandIn()) moveBackTicks_ = std::min(2 * moveBackTicks_, kMostMoveBackTicks);
}

void ATStreamWatch::whileLost(const AudioStream* stream) {
    // A stream left open but not playing would keep the host from looking for its devices.
    if (stream) hooks_.dropStream();
    if (++ticksLost_ < kRetryTicks) return;
    ticksLost_ = 0;
    if (changesPending()) {
        lookAgain();
        return;
    }
    // A device still listed may well open.
    if (hooks_.reopen()) {
        plays();
    } else {
        hooks_.dropStream();
    }
}

void ATStreamWatch::lookAgain() {
    const uint64_t changes = backend_.deviceChanges();
    std::vector<ATStreamWatch*> onHost;
    for (ATStreamWatch* watch : watches()) {
        if (&watch->backend_ == &backend_) onHost.push_back(watch);
    }
    if (!backend_.refresh()) {
        // A host keeps its list while one of its streams is open: every unit on it closes for
        // the look, and opens again right after it.
        for (ATStreamWatch* watch : onHost) {
            if (watch->hooks_.stream()) watch->hooks_.dropStream();
        }
        backend_.refresh();
    }
    for (ATStreamWatch* watch : onHost) {
        watch->seenChanges_ = changes;
        // The device list changed: a device that did not open may now.
        watch->moveBackTicks_ = kRetryTicks;
        watch->ticksPlaying_ = 0;
    }
    for (ATStreamWatch* watch : onHost) watch->reopenAfterLook();
}

void ATStreamWatch::reopenAfterLook() {
    // A unit stopped on purpose opens at its next start.
    if (!timer_.isValid()) return;
    if (hooks_.stream()) {
        // Its host looked without closing it: on a stand-in, it goes back if it may.
        if (onStandIn()) moveBack();
        return;
    }
    if (!wantsStream()) return;
    if (hooks_.reopen()) {
        plays();
    } else {
        lose(false);
    }
}

}  // namespace quenbril
