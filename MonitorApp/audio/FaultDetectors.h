#pragma once

#include <array>
#include <memory>
#include <vector>

#include "MonitorApp/ATAudio/BQHighpassFilter.h"
#include "MonitorApp/ATAudio/BQLowpassFilter.h"

namespace quenbril {

class ChannelStripState;

/// The six fault tests of the server role's analysis, run per strip on each analysis block:
/// symmetry, mean, clip, low frequency, high frequency and peak. Each raises its counter on the
/// strip's state; the strip controllers turn the counters into warnings. Every strip keeps its
/// own high-pass (18 kHz) and low-pass (50 Hz) filter, both at Q 8, and the run counters of the
/// high-frequency test. Main thread.
class FaultDetectors {
  public:
    static constexpr int kStrips = 128;
    /// Analysis blocks of 512 frames at 48 kHz; high-frequency windows of 64.
    static constexpr int kBlockFramesAt48k = 512;
    static constexpr int kWindowFramesAt48k = 64;

    /// Filters and buffers for blocks at `sampleRate` (which must be positive).
    explicit FaultDetectors(float sampleRate);

    /// Frames of one analysis block: 512 at 48 kHz, in proportion at other rates.
    int blockFrames() const { return blockFrames_; }

    /// Runs the six tests on strip `strip`'s block of blockFrames() samples, which the
    /// high-pass filter leaves filtered. `lowSensitivity` picks the low-frequency threshold
    /// (0: no test).
    void analyse(int strip, float* block, int lowSensitivity, ChannelStripState& state);

    int hitCounter(int strip) const { return hitCounter_[static_cast<size_t>(strip)]; }
    int stepCounter(int strip) const { return stepCounter_[static_cast<size_t>(strip)]; }

    /// The low-frequency threshold in dB for a sensitivity, none for 0.
    static bool lowThreshold(int lowSensitivity, float& dB);

  private:
    int blockFrames_;
    int windowFrames_;
    std::vector<std::unique_ptr<BQHighpassFilter>> hpf_;
    std::vector<std::unique_ptr<BQLowpassFilter>> lpf_;
    std::array<int, kStrips> hitCounter_{};
    std::array<int, kStrips> stepCounter_{};
    std::vector<float> lowPass_;
};

}  // namespace quenbril
