#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace quenbril {

/// Which samples of the audio stream go out at each send. The stream runs at the sample rate
/// on the server's monotonic clock, whatever the sends' jitter: each send takes the samples
/// that fell due since the last one, so the rate is the sample rate on average. A late send
/// takes what it missed as well, up to kMaxCatchUpFrames; beyond that the stream skips ahead
/// and stays live, as a remote whose ring ran dry starts over from what comes next.
class SimStreamPacer {
  public:
    /// Seconds between two sends: blocks of about 240 frames. A remote plays once its ring
    /// holds about 40 ms; what a block adds to the time a remote waits for the next one comes
    /// off that cushion, so blocks stay a few of its audio periods long at most.
    static constexpr double kInterval = 0.005;
    /// The most one send takes: half of a remote's 4,096-frame stream ring. A remote that
    /// ran dry plays again once that ring holds more than 1,950 frames, so the catch-up after
    /// a stall starts it at once, and on top of what a dry ring still holds (less than one
    /// period) it stays below the fill at which the ring drops half its audio.
    static constexpr int64_t kMaxCatchUpFrames = 2048;

    struct Block {
        int64_t first = 0;  // counted from the stream's start
        size_t count = 0;
    };

    /// The samples due by `t` seconds after the stream's start that have not gone out yet;
    /// none when none fell due since the last block.
    std::optional<Block> due(double t);
    /// The stream starts again at sample 0.
    void restart() { next_ = 0; }

  private:
    int64_t next_ = 0;
};

}  // namespace quenbril
