#include "MonitorApp/ATAudio/filters/BQSoundLevelMeter.h"

#include <cmath>

namespace quenbril {

BQSoundLevelMeter::BQSoundLevelMeter() : BQDSP(0.0f) {}

float BQSoundLevelMeter::getdBLevel(const float* data, uint32_t numFrames, uint32_t numChannels) {
    const uint64_t count = static_cast<uint64_t>(numFrames) * numChannels;
    if (count == 0) return dBLevel_;
    // The mean of the squares is summed as it goes, so a block of any size needs no scratch.
    double sum = 0.0;
    for (uint64_t i = 0; i < count; ++i) sum += static_cast<double>(data[i]) * data[i];
    const float mean = static_cast<float>(sum / static_cast<double>(count));
    const float level = 10.0f * std::log10(mean / one_);
    one_ = 1.0f;
    const double moved =
        static_cast<double>(dBLevel_) + static_cast<double>(level - dBLevel_) * 0.2;
    dBLevel_ = std::isnan(moved) ? -50.0f : static_cast<float>(moved);
    return dBLevel_;
}

}  // namespace quenbril
