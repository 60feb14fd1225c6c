#pragma once

#include "MonitorApp/ATAudio/BQDSP.h"

namespace quenbril {

/// An all-pass filter: a phase shift around the centre frequency. Each setter recomputes the
/// coefficients at once; a frequency or Q of 0 keeps the previous ones.
class BQAllpassFilter : public BQDSP {
  public:
    using BQDSP::BQDSP;

    float Q() const { return Q_; }
    void setQ(float Q);
    float centerFrequency() const { return centerFrequency_; }
    void setCenterFrequency(float frequency);
    void calculateCoefficients();

  private:
    float Q_ = 0.0f;
    float centerFrequency_ = 0.0f;
};

}  // namespace quenbril
