#include "MonitorApp/ATAudio/BQHighpassFilter.h"

namespace quenbril {

void BQHighpassFilter::setQ(float Q) {
    Q_ = Q;
    calculateCoefficients();
}

void BQHighpassFilter::setCornerFrequency(float frequency) {
    cornerFrequency_ = frequency;
    calculateCoefficients();
}

void BQHighpassFilter::calculateCoefficients() {
    if (!canCalculate(cornerFrequency_, Q_)) return;
    intermediateVariables(cornerFrequency_, Q_);
    const float c = omegaC(), a = alpha();
    storeCoefficients(1.0f + a, (1.0f + c) * 0.5f, -(1.0f + c), (1.0f + c) * 0.5f, -2.0f * c,
                      1.0f - a);
}

}  // namespace quenbril
