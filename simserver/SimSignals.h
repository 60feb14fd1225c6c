#pragma once

#include <cstdint>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// The synthetic signals of the stand-in: pure functions of a strip's position and the time
/// since the server started, so that every remote sees the same production and a replay can
/// render the past.
class SimSignals {
  public:
    static constexpr int kSampleRate = 48000;
    /// LTC frame rate of the timecode strip.
    static constexpr int kTimecodeFps = 25;
    /// Samples of one "LTCSample" picture.
    static constexpr int kTimecodeSampleCount = 180;

    /// Peak amplitude (0..1) of the strip's signal at time `t` seconds.
    static double amplitude(size_t position, double t);
    /// The level byte of that amplitude: trunc(100 x (dB + 50) / 50) of the RMS, 0..110.
    static uint8_t levelByte(size_t position, double t);
    /// RF level 0..100 of antenna 0..3 (A..D).
    static uint8_t rfByte(size_t position, int antenna, double t);
    /// Diversity RF: the best antenna.
    static uint8_t rfDiversityByte(size_t position, double t);
    /// Signal quality 0..100.
    static uint8_t qualityByte(size_t position, double t);
    /// Battery percent, slowly draining from a strip-specific start.
    static int32_t battery(size_t position, double t);
    /// "h:mm" of battery left.
    static std::string batteryTime(size_t position, double t);
    /// Letters of the active antennas ("AB", "ACD"...).
    static std::string antennas(size_t position, double t);

    /// The tone of a strip: its own pitch, shaped by its amplitude.
    static double toneFrequency(size_t position);
    /// Sample `index` (counted at 48 kHz from the server's start; negative is silence).
    static float toneSample(size_t position, int64_t index);
    /// `count` samples from `first` as little-endian float32.
    static Bytes toneBlock(size_t position, int64_t first, size_t count);
    /// The sum of several strips' tones, scaled so that it never clips.
    static Bytes mixBlock(const std::vector<size_t>& positions, int64_t first, size_t count);

    /// The timecode frame at absolute time `t` (seconds since 2001-01-01), counted from the
    /// day's midnight (UTC): 0 to 24 x 3600 x kTimecodeFps - 1. The show's timecode is the time
    /// of day; 0 for a time that is not finite.
    static int64_t timecodeFrameOfDay(double t);
    /// 180 float32 samples of the bi-phase timecode signal of the frame at absolute time `t`,
    /// little-endian (720 bytes).
    static Bytes timecodePicture(double t);
};

}  // namespace quenbril
