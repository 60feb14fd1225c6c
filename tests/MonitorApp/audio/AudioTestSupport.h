#pragma once

#include <vector>

namespace quenbril::test {

/// A stereo source whose frame k holds k + 1 on the left and -(k + 1) on the right, k counting on
/// across calls, so that every frame read back tells where it came from.
class StereoSource {
  public:
    template <typename Ring>
    void write(Ring& ring, int frames) {
        std::vector<float> left(static_cast<size_t>(frames)), right(left);
        for (int i = 0; i < frames; ++i) {
            left[static_cast<size_t>(i)] = static_cast<float>(next_ + i + 1);
            right[static_cast<size_t>(i)] = -left[static_cast<size_t>(i)];
        }
        const float* in[2] = {left.data(), right.data()};
        ring.produce(in, frames, 2);
        next_ += frames;
    }

  private:
    int next_ = 0;
};

/// An output device's (or a reader's) buffers: every sample starts as the marker 99.
struct Device {
    Device(int channels, int frames)
        : samples(static_cast<size_t>(channels), std::vector<float>(frames, 99.0f)) {
        for (auto& channel : samples) pointers.push_back(channel.data());
    }
    float* const* buffers() { return pointers.data(); }
    float at(int channel, int frame) const {
        return samples[static_cast<size_t>(channel)][static_cast<size_t>(frame)];
    }
    bool silent() const {
        for (const auto& channel : samples) {
            for (float s : channel) {
                if (s != 0.0f) return false;
            }
        }
        return true;
    }
    /// True when frame i of the first two channels is `first + i` and its negation.
    bool plays(float first) const {
        for (size_t i = 0; i < samples[0].size(); ++i) {
            const float v = first + static_cast<float>(i);
            if (samples[0][i] != v || (samples.size() > 1 && samples[1][i] != -v)) return false;
        }
        return true;
    }
    std::vector<std::vector<float>> samples;
    std::vector<float*> pointers;
};

}  // namespace quenbril::test
