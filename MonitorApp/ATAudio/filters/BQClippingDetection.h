#pragma once

#include "MonitorApp/ATAudio/BQDSP.h"

namespace quenbril {

/// Block measurements of clipping. Every operation takes numFrames x numChannels samples as one
/// run, whatever their layout.
class BQClippingDetection : public BQDSP {
  public:
    BQClippingDetection();

    /// Linear amplitude at which a sample counts as clipped.
    float threshold() const { return threshold_; }
    void setThreshold(float threshold) { threshold_ = threshold; }

    /// Samples whose absolute value is at least the threshold.
    uint32_t getClippedSamples(const float* data, uint32_t numFrames, uint32_t numChannels) const;
    /// The clipped samples as a fraction 0..1 of the run; 0 for an empty run.
    float getClippedPercentage(const float* data, uint32_t numFrames, uint32_t numChannels) const;
    /// The largest absolute value strictly above the threshold, or 0 when there is none.
    float getClippingSample(const float* data, uint32_t numFrames, uint32_t numChannels) const;
    /// Sets the threshold to 1 and scales the run by 0.9 until no sample reaches it. Samples that
    /// are not finite are left out: no scaling brings them below the threshold.
    void counterClipping(float* data, uint32_t numFrames, uint32_t numChannels);

  private:
    uint32_t countClipped(const float* data, uint64_t count, bool finiteOnly) const;

    float threshold_ = 1.0f;
};

}  // namespace quenbril
