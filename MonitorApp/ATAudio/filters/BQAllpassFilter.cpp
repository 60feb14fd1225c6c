#include "MonitorApp/ATAudio/filters/BQAllpassFilter.h"

namespace quenbril {

void BQAllpassFilter::setQ(float Q) {
    Q_ = Q;
    calculateCoefficients();
}

void BQAllpassFilter::setCenterFrequency(float frequency) {
    centerFrequency_ = frequency;
    calculateCoefficients();
}

void BQAllpassFilter::calculateCoefficients() {
    if (!canCalculate(centerFrequency_, Q_)) return;
    intermediateVariables(centerFrequency_, Q_);
    const float c = omegaC(), a = alpha();
    storeCoefficients(1.0f + a, 1.0f - a, -2.0f * c, 1.0f + a, -2.0f * c, 1.0f - a);
}

}  // namespace quenbril
