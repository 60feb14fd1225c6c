#pragma once

#include "MonitorApp/ATAudio/BQDSP.h"

namespace quenbril {

/// A high-pass filter: passes what lies above the corner frequency. Each setter recomputes the
/// coefficients at once; a frequency or Q of 0 keeps the previous ones.
class BQHighpassFilter : public BQDSP {
  public:
    using BQDSP::BQDSP;

    float Q() const { return Q_; }
    void setQ(float Q);
    float cornerFrequency() const { return cornerFrequency_; }
    void setCornerFrequency(float frequency);
    void calculateCoefficients();

  private:
    float Q_ = 0.0f;
    float cornerFrequency_ = 0.0f;
};

}  // namespace quenbril
