#include "MonitorApp/ATAudio/filters/BQLowShelvingFilter.h"

#include <cmath>

namespace quenbril {

void BQLowShelvingFilter::setQ(float Q) {
    Q_ = Q;
    calculateCoefficients();
}

void BQLowShelvingFilter::setCenterFrequency(float frequency) {
    centerFrequency_ = frequency;
    calculateCoefficients();
}

void BQLowShelvingFilter::setG(float G) {
    G_ = G;
    calculateCoefficients();
}

void BQLowShelvingFilter::calculateCoefficients() {
    if (!canCalculate(centerFrequency_, Q_)) return;
    intermediateVariables(centerFrequency_, Q_);
    const float c = omegaC(), s = omegaS(), A = gainFactor(G_);
    // B = sqrt(A / Q) as the filter was designed, not the more common sqrt(A) / Q.
    const float B = std::sqrt(A / Q_);
    storeCoefficients((A + 1) + (A - 1) * c + B * s, A * ((A + 1) - (A - 1) * c + B * s),
                      2 * A * ((A - 1) - (A + 1) * c), A * ((A + 1) - (A - 1) * c - B * s),
                      -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - B * s);
}

}  // namespace quenbril
