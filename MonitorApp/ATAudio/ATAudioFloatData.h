#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace quenbril {

/// A copied set of float channels of equal length, owned by the object.
class ATAudioFloatData {
  public:
    /// Copies `bufferSize` floats of each of the `numberOfChannels` given channels.
    static std::shared_ptr<ATAudioFloatData> dataWithNumberOfChannels(int numberOfChannels,
                                                                      const float* const* buffers,
                                                                      uint32_t bufferSize);

    int numberOfChannels() const { return static_cast<int>(channels_.size()); }
    uint32_t bufferSize() const { return bufferSize_; }
    /// One pointer per channel.
    float* const* buffers() { return pointers_.data(); }
    /// The channel's floats, or null for a channel outside 0..numberOfChannels-1.
    float* bufferForChannel(int channel);

  private:
    ATAudioFloatData(int numberOfChannels, const float* const* buffers, uint32_t bufferSize);

    uint32_t bufferSize_ = 0;
    std::vector<std::vector<float>> channels_;
    std::vector<float*> pointers_;
};

}  // namespace quenbril
