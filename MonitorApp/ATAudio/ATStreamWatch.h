#pragma once

#include <functional>
#include <string>

#include "foundation/Timer.h"
#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// Watches a unit's stream from the main run loop, once a second: it has the unit report its
/// counters, notices a stream the host ended by itself (the device went away), logs that once
/// and drops the stream. While no stream of the process is open it has the backend re-enumerate
/// every 2 s, and the unit reopens as soon as its device (or a default one) is back.
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
    };

    static constexpr double kInterval = 1.0;
    static constexpr int kRetryTicks = 2;

    ATStreamWatch(std::string unitName, AudioBackend& backend, Hooks hooks);

    /// Watching begins with the stream running and ends when it is stopped on purpose.
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
