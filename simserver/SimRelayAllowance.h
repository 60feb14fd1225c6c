#pragma once

#include <cstddef>
#include <cstdint>

namespace quenbril {

/// What one remote may have relayed to the others (chat messages, markers, removals, mic
/// checks): a burst at once, then so much a second, counted in messages and in bytes. Beyond
/// that its messages are refused, so that however fast one remote sends, what it costs each
/// other remote's queue stays far below what a slow link takes.
class SimRelayAllowance {
  public:
    static constexpr double kMessagesPerSecond = 10;
    static constexpr double kBurstMessages = 20;
    static constexpr double kBytesPerSecond = 32 * 1024;
    /// Room for a few of the largest chat messages at once.
    static constexpr double kBurstBytes = 64 * 1024;

    /// Takes one message of `bytes` at `now` (seconds of a monotonic clock); false, taking
    /// nothing, when the remote has used up its allowance.
    bool take(size_t bytes, double now);
    /// Messages refused so far.
    uint64_t refused() const { return refused_; }

  private:
    double messages_ = kBurstMessages;
    double bytes_ = kBurstBytes;
    double lastTake_ = 0;
    uint64_t refused_ = 0;
};

}  // namespace quenbril
