#include "MonitorApp/ATAudio/filters/BQPeakingEQFilter.h"

namespace quenbril {

void BQPeakingEQFilter::setQ(float Q) {
    Q_ = Q;
    calculateCoefficients();
}

void BQPeakingEQFilter::setCenterFrequency(float frequency) {
    centerFrequency_ = frequency;
    calculateCoefficients();
}

void BQPeakingEQFilter::setG(float G) {
    G_ = G;
    calculateCoefficients();
}

void BQPeakingEQFilter::calculateCoefficients() {
    if (!canCalculate(centerFrequency_, Q_)) return;
    intermediateVariables(centerFrequency_, Q_);
    const float c = omegaC(), a = alpha(), A = gainFactor(G_);
    storeCoefficients(1.0f + a / A, 1.0f + a * A, -2.0f * c, 1.0f - a * A, -2.0f * c, 1.0f - a / A);
}

}  // namespace quenbril
