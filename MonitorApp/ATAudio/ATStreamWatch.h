#pragma once

#include <functional>
#include <string>

#include "foundation/Timer.h"
#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// Watches a unit's stream from the main run loop, once a second: it has the unit report its
/// counters and notices a stream that does not play (the host ended it, the device went away, it
/// did not start), logs that once and drops the stream. Until the stream plays again it has the
/// backend re-enumerate every 2 s, while no stream of the process is open, and the unit reopen
/// as soon as its device (or a default one) is there.
class ATStreamWatch {
  public:
    struct Hooks {
        /// The unit's stream, or null while it has none.
        std::function<const AudioStream*()> stream;
        /// Closes the lost stream.
        std::function<void()> dropStream;
        /// Tries to open and start the stream again; true when it plays.
        std::function<bool()> reopen;
        /// Logs the counters the audio thread kept since the last report.
        std::function<void()> report;
        /// True for a unit that watches for as long as it wants to play: having no stream (an
        /// open that failed) is then a loss too. Otherwise no stream is left alone.
        bool noStreamIsLost = false;
    };

    static constexpr double kInterval = 1.0;
    static constexpr int kRetryTicks = 2;

    ATStreamWatch(std::string unitName, AudioBackend& backend, Hooks hooks);

    /// Watching begins when the unit starts playing and ends when it is stopped on purpose.
    /// Starting a watch that runs changes nothing: a loss stays one loss.
    void start();
    void stop();
    bool isLost() const { return lost_; }

    /// One look; the timer calls it every kInterval seconds.
    void tick();

  private:
    std::string unitName_;
    AudioBackend& backend_;
    Hooks hooks_;
    Timer timer_;
    bool lost_ = false;
    int ticksLost_ = 0;
};

}  // namespace quenbril
