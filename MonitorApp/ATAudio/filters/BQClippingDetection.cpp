#include "MonitorApp/ATAudio/filters/BQClippingDetection.h"

#include <cmath>

namespace quenbril {

BQClippingDetection::BQClippingDetection() : BQDSP(0.0f) {}

uint32_t BQClippingDetection::countClipped(const float* data, uint64_t count,
                                           bool finiteOnly) const {
    uint32_t clipped = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (finiteOnly && !std::isfinite(data[i])) continue;
        if (std::fabs(data[i]) >= threshold_) ++clipped;
    }
    return clipped;
}

uint32_t BQClippingDetection::getClippedSamples(const float* data, uint32_t numFrames,
                                                uint32_t numChannels) const {
    return countClipped(data, static_cast<uint64_t>(numFrames) * numChannels, false);
}

float BQClippingDetection::getClippedPercentage(const float* data, uint32_t numFrames,
                                                uint32_t numChannels) const {
    const uint64_t count = static_cast<uint64_t>(numFrames) * numChannels;
    const uint32_t clipped = countClipped(data, count, false);
    if (clipped == 0) return 0.0f;
    return static_cast<float>(clipped) / static_cast<float>(count);
}

float BQClippingDetection::getClippingSample(const float* data, uint32_t numFrames,
                                             uint32_t numChannels) const {
    const uint64_t count = static_cast<uint64_t>(numFrames) * numChannels;
    float largest = 0.0f;
    for (uint64_t i = 0; i < count; ++i) {
        const float magnitude = std::fabs(data[i]);
        if (magnitude > threshold_ && magnitude > largest) largest = magnitude;
    }
    return largest;
}

void BQClippingDetection::counterClipping(float* data, uint32_t numFrames, uint32_t numChannels) {
    threshold_ = 1.0f;
    const uint64_t count = static_cast<uint64_t>(numFrames) * numChannels;
    while (countClipped(data, count, true) > 0) applyGain(data, count, 0.9f);
}

}  // namespace quenbril
