#include "MonitorApp/audio/StripMixer.h"

#include <algorithm>

namespace quenbril {

void StripMixer::mix(const float* const* in, int channels, const StripMix* strips, int count,
                     int frames, float* left, float* right, float* stream) {
    const int used = std::min(count, channels);
    for (int k = 0; k < used; ++k) {
        const StripMix& strip = strips[k];
        if (!strip.on) continue;
        const float* samples = in[k];
        const float l = strip.left;
        const float r = strip.right;
        for (int i = 0; i < frames; ++i) {
            left[i] += samples[i] * l;
            right[i] += samples[i] * r;
        }
        if (stream) {
            const float g = strip.gain;
            for (int i = 0; i < frames; ++i) stream[i] += samples[i] * g;
        }
    }
}

}  // namespace quenbril
