#include "MonitorApp/ATAudio/filters/BQBandpassQPeakGainFilter.h"

namespace quenbril {

void BQBandpassQPeakGainFilter::setQ(float Q) {
    Q_ = Q;
    calculateCoefficients();
}

void BQBandpassQPeakGainFilter::setCenterFrequency(float frequency) {
    centerFrequency_ = frequency;
    calculateCoefficients();
}

void BQBandpassQPeakGainFilter::calculateCoefficients() {
    if (!canCalculate(centerFrequency_, Q_)) return;
    intermediateVariables(centerFrequency_, Q_);
    const float c = omegaC(), a = alpha();
    storeCoefficients(1.0f + a, Q_ * a, 0.0f, -Q_ * a, -2.0f * c, 1.0f - a);
}

}  // namespace quenbril
