#include "MonitorApp/ATAudio/filters/BQBandpassFilter.h"

namespace quenbril {

void BQBandpassFilter::setQ(float Q) {
    Q_ = Q;
    calculateCoefficients();
}

void BQBandpassFilter::setCenterFrequency(float frequency) {
    centerFrequency_ = frequency;
    calculateCoefficients();
}

void BQBandpassFilter::calculateCoefficients() {
    if (!canCalculate(centerFrequency_, Q_)) return;
    intermediateVariables(centerFrequency_, Q_);
    const float c = omegaC(), a = alpha();
    storeCoefficients(1.0f + a, a, 0.0f, -a, -2.0f * c, 1.0f - a);
}

}  // namespace quenbril
