#pragma once

#include "MonitorApp/audio/MixSnapshot.h"

namespace quenbril {

/// Mixes capture channels into a stereo pair: strip k of the list takes capture channel k.
/// Audio thread: no lock, no allocation.
class StripMixer {
  public:
    /// Adds `frames` frames of each strip that is on, for k below both `count` and `channels`,
    /// into `left` and `right` at its factors and, when `stream` is given, into `stream` at its
    /// gain alone.
    static void mix(const float* const* in, int channels, const StripMix* strips, int count,
                    int frames, float* left, float* right, float* stream);
};

}  // namespace quenbril
