#pragma once

#include <cmath>

namespace quenbril {

/// The format the input and output units exchange with their clients: non-interleaved float32
/// channels at a rate. Only the two fields the units need; a format with no channels, too many,
/// or no finite positive rate is refused.
struct ATUnitFormat {
    static constexpr int kMaxChannels = 256;

    double sampleRate = 0.0;
    int channels = 0;

    bool isValid() const {
        return std::isfinite(sampleRate) && sampleRate > 0.0 && channels > 0 &&
               channels <= kMaxChannels;
    }
    bool operator==(const ATUnitFormat&) const = default;
};

}  // namespace quenbril
