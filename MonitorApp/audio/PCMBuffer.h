#pragma once

#include <algorithm>
#include <array>
#include <atomic>

namespace quenbril {

/// A fixed stereo buffer in the standard format (non-interleaved float32) at one sample rate,
/// holding `frameLength` valid frames. The server role's capture mixes each block into one of
/// four in turn. Made once; its frames belong to the thread that fills it.
class PCMBuffer {
  public:
    static constexpr int kChannels = 2;
    static constexpr int kFrameCapacity = 513;

    float* channel(int index) { return data_[static_cast<size_t>(index)].data(); }
    const float* channel(int index) const { return data_[static_cast<size_t>(index)].data(); }

    int frameLength() const { return frameLength_.load(std::memory_order_relaxed); }
    /// At most kFrameCapacity.
    void setFrameLength(int frames) {
        frameLength_.store(std::clamp(frames, 0, kFrameCapacity), std::memory_order_relaxed);
    }
    /// Hz of the format; 0 until the devices are set up.
    float sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }
    void setSampleRate(float rate) { sampleRate_.store(rate, std::memory_order_relaxed); }

  private:
    std::array<std::array<float, kFrameCapacity>, kChannels> data_{};
    std::atomic<int> frameLength_{0};
    std::atomic<float> sampleRate_{0.0f};
};

}  // namespace quenbril
