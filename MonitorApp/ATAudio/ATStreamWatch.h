#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/Timer.h"
#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// Watches a unit's stream from the main run loop, once a second: it has the unit report its
/// counters and notices a stream that does not play (the host ended it, the device went away, it
/// did not start, or none while the unit wants one), logs that once and drops the stream. Until
/// the stream plays again it has the unit reopen every 2 s.
///
/// A unit on a stand-in is moved back as soon as its own device is listed again, and while it
/// is listed but does not open, at waits that double up to 64 s. The host looks for its devices
/// again only when it says they may have changed, and only for a unit on a stand-in or without a
/// stream: since a host keeps its list while any stream on it is open, the units on that host
/// then close for the look, all at once, and reopen at once after it (their own devices where
/// listed). A look also starts the waits afresh. Nothing changed, nothing breaks the sound.
class ATStreamWatch {
  public:
    struct Hooks {
        /// The unit's stream, or null while it has none.
        std::function<const AudioStream*()> stream;
        /// Closes the unit's stream.
        std::function<void()> dropStream;
        /// Tries to open and start the stream again, on the unit's own device if it is listed,
        /// else on a stand-in; true when it plays. A stream that plays is kept if it fails.
        std::function<bool()> reopen;
        /// Logs the counters the audio thread kept since the last report.
        std::function<void()> report;
        /// Whether the unit wants a stream now: having none is then a loss too.
        std::function<bool()> wantsStream;
        /// For a unit that may play on a stand-in while its own device is away (it says so by
        /// name): whether it does now, and whether its own device is listed again, able to play.
        std::function<bool()> onStandIn;
        std::function<bool()> ownDeviceListed;
    };

    static constexpr double kInterval = 1.0;
    static constexpr int kRetryTicks = 2;
    /// The longest wait between moves back to a device that is listed but does not open.
    static constexpr int kMostMoveBackTicks = 64;

    ATStreamWatch(std::string unitName, AudioBackend& backend, Hooks hooks);
    ~ATStreamWatch();
    ATStreamWatch(const ATStreamWatch&) = delete;
    ATStreamWatch& operator=(const ATStreamWatch&) = delete;

    /// Watching begins when the unit starts playing and ends when it is stopped on purpose.
    /// Starting a watch that runs changes nothing: a loss stays one loss.
    void start();
    void stop();
    bool isLost() const { return lost_; }

    /// One look; the timer calls it every kInterval seconds.
    void tick();

  private:
    void whilePlaying();
    void whileLost(const AudioStream* stream);
    /// Moves a unit on a stand-in back to its own device if it is listed.
    void moveBack();
    /// Drops the stream and starts the tries afresh; the first time, says the unit lost its
    /// device.
    void lose(bool hadStream);
    /// The unit plays again; after a loss, says its device is back.
    void plays();
    bool onStandIn() const;
    bool wantsStream() const;
    /// The host said its devices may have changed since its last look.
    bool changesPending() const;
    /// The host looks again, the units on it closed for the look where it needs that; each
    /// watched unit then plays again.
    void lookAgain();
    /// After a look: a unit that wants a stream and has none opens one.
    void reopenAfterLook();

    std::string unitName_;
    AudioBackend& backend_;
    Hooks hooks_;
    Timer timer_;
    bool lost_ = false;
    int ticksLost_ = 0;
    int ticksPlaying_ = 0;
    int moveBackTicks_ = kRetryTicks;
    uint64_t seenChanges_ = 0;
};

}  // namespace quenbril
