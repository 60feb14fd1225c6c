#include "MonitorApp/ATAudio/filters/BQNotchFilter.h"

namespace quenbril {

void BQNotchFilter::setQ(float Q) {
    Q_ = Q;
    calculateCoefficients();
}

void BQNotchFilter::setCenterFrequency(float frequency) {
    centerFrequency_ = frequency;
    calculateCoefficients();
}

void BQNotchFilter::calculateCoefficients() {
    if (!canCalculate(centerFrequency_, Q_)) return;
    intermediateVariables(centerFrequency_, Q_);
    const float c = omegaC(), a = alpha();
    storeCoefficients(1.0f + a, 1.0f, -2.0f * c, 1.0f, -2.0f * c, 1.0f - a);
}

}  // namespace quenbril
