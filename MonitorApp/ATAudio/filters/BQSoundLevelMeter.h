#pragma once

#include "MonitorApp/ATAudio/BQDSP.h"

namespace quenbril {

/// A smoothed power level in decibels over blocks of samples.
class BQSoundLevelMeter : public BQDSP {
  public:
    BQSoundLevelMeter();

    float dBLevel() const { return dBLevel_; }
    void setDBLevel(float level) { dBLevel_ = level; }

    /// Moves the level a fifth of the way towards the block's power level (numFrames x
    /// numChannels samples as one run) and returns it. A silent block gives minus infinity; a
    /// result that is not a number becomes -50. An empty block leaves the level as it is.
    float getdBLevel(const float* data, uint32_t numFrames, uint32_t numChannels);

  private:
    float dBLevel_ = 0.0f;
};

}  // namespace quenbril
