#pragma once

#include <atomic>

namespace quenbril {

/// The number of channels the system handles: also the channel count of every level history.
class SettingsManager {
  public:
    /// The most channels any table of the system holds.
    static constexpr int kMaxChannels = 128;

    static SettingsManager& sharedInstance();
    /// The shared instance's CHANNELS.
    static int channels() { return sharedInstance().CHANNELS(); }

    int CHANNELS() const { return channels_.load(std::memory_order_relaxed); }
    /// Kept within 1..128: every table indexed by channel has 128 entries.
    void setCHANNELS(int v);

  private:
    std::atomic<int> channels_{kMaxChannels};
};

}  // namespace quenbril
