#pragma once

#include <atomic>
#include <cstdint>

namespace quenbril {

/// Which strip's history is being replayed, and how far behind live.
class PlaybackManager {
  public:
    static PlaybackManager& sharedInstance();
    /// Tests: drops the shared instance (a restart).
    static void resetSharedInstance();
    /// Whether a replay runs: a positive delay and a strip id above 0.
    bool isPlaying() const { return delayInSamples() > 0 && playedCSID() > 0; }

    /// Id of the replayed strip; -1 for none.
    int64_t playedCSID() const { return playedCSID_.load(std::memory_order_relaxed); }
    void setPlayedCSID(int64_t v) { playedCSID_.store(v, std::memory_order_relaxed); }
    /// Samples (at 48 kHz) the replay runs behind live; 0 for none.
    int32_t delayInSamples() const { return delayInSamples_.load(std::memory_order_relaxed); }
    void setDelayInSamples(int32_t v) { delayInSamples_.store(v, std::memory_order_relaxed); }

  private:
    std::atomic<int64_t> playedCSID_{-1};
    std::atomic<int32_t> delayInSamples_{0};
};

}  // namespace quenbril
