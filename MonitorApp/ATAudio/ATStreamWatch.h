#pragma once

#include <functional>
#include <string>

#include "foundation/Timer.h"
#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// Watches a unit's stream from the main run loop, once a second: it has the unit report its
/// counters and notices a stream that does not play (the host ended it, the device went away, it
/// did not start), logs that once and drops the stream. Until the stream plays again it has the
/// unit reopen every 2 s, after the backend looked for its devices again where it could (a host
/// keeps its list while another unit's stream on it is open; a unit whose device is still listed
/// reopens anyway). A unit that plays on a stand-in because its own device is away is moved back
/// as soon as the backend lists that device again.
class ATStreamWatch {
  public:
    struct Hooks {
        /// The unit's stream, or null while it has none.
        std::function<const AudioStream*()> stream;
        /// Closes the lost stream.
        std::function<void()> dropStream;
        /// Tries to open and start the stream again, on the unit's own device if it is listed,
        /// else on a stand-in; true when it plays.
        std::function<bool()> reopen;
        /// Logs the counters the audio thread kept since the last report.
        std::function<void()> report;
        /// True for a unit that watches for as long as it wants to play: having no stream (an
        /// open that failed) is then a loss too. Otherwise no stream is left alone.
        bool noStreamIsLost = false;
        /// For a unit that may play on a stand-in while its own device is away (it says so by
        /// name): whether it does now, and whether its own device is listed again.
        std::function<bool()> onStandIn;
        std::function<bool()> ownDeviceListed;
    };

    static constexpr double kInterval = 1.0;
    static constexpr int kRetryTicks = 2;
    /// The longest wait between moves back to a device that is listed but does not open.
    static constexpr int kMostMoveBackTicks = 64;

    ATStreamWatch(std::string unitName, AudioBackend& backend, Hooks hooks);

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
    void logBack();
    bool onStandIn() const;

    std::string unitName_;
    AudioBackend& backend_;
    Hooks hooks_;
    Timer timer_;
    bool lost_ = false;
    int ticksLost_ = 0;
    int ticksPlaying_ = 0;
    int moveBackTicks_ = kRetryTicks;
};

}  // namespace quenbril
