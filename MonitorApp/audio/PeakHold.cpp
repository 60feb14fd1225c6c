#include "MonitorApp/audio/PeakHold.h"

#include <algorithm>
#include <cmath>

namespace quenbril {

int8_t PeakHold::levelByte(double rms) {
    float dB = static_cast<float>(20.0 * std::log10(rms));
    // A silent block gives minus infinity and a broken one NaN: both meter as the floor.
    if (!(dB >= -50.0f)) dB = -50.0f;
    const float value = (dB + 50.0f) / 50.0f * 2.0f * 100.0f * 0.5f;
    // Clamped before the conversion, so an infinite block stays defined.
    return static_cast<int8_t>(std::min(value, 110.0f));
}

}  // namespace quenbril
