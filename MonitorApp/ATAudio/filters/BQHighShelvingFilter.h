#pragma once

#include "MonitorApp/ATAudio/BQDSP.h"

namespace quenbril {

/// A high shelf: G decibels above the centre frequency. Each setter recomputes the coefficients at
/// once; a frequency or Q of 0 keeps the previous ones.
class BQHighShelvingFilter : public BQDSP {
  public:
    using BQDSP::BQDSP;

    float Q() const { return Q_; }
    void setQ(float Q);
    float centerFrequency() const { return centerFrequency_; }
    void setCenterFrequency(float frequency);
    /// The gain in decibels.
    float G() const { return G_; }
    void setG(float G);
    void calculateCoefficients();

  private:
    float Q_ = 0.0f;
    float centerFrequency_ = 0.0f;
    float G_ = 0.0f;
};

}  // namespace quenbril
