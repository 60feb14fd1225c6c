#include "MonitorApp/audio/FaultDetectors.h"

#include <algorithm>
#include <cmath>

#include "MonitorApp/audio/SampleStatistics.h"
#include "MonitorApp/settings/ChannelStripState.h"

namespace quenbril {

namespace {

constexpr float kHighCorner = 18000.0f;
constexpr float kLowCorner = 50.0f;
constexpr float kQ = 8.0f;
// Windows of the high-frequency test whose RMS lies above this hold high-frequency content.
constexpr double kWindowThreshold = 0.04;

}  // namespace

FaultDetectors::FaultDetectors(float sampleRate)
    : blockFrames_(std::max(1, static_cast<int>(sampleRate / 48000.0f * kBlockFramesAt48k))),
      windowFrames_(std::max(1, static_cast<int>(sampleRate / 48000.0f * kWindowFramesAt48k))),
      lowPass_(static_cast<size_t>(blockFrames_)) {
    for (int i = 0; i < kStrips; ++i) {
        auto high = std::make_unique<BQHighpassFilter>(sampleRate);
        high->setCornerFrequency(kHighCorner);
        high->setQ(kQ);
        hpf_.push_back(std::move(high));
        auto low = std::make_unique<BQLowpassFilter>(sampleRate);
        low->setCornerFrequency(kLowCorner);
        low->setQ(kQ);
        lpf_.push_back(std::move(low));
    }
}

bool FaultDetectors::lowThreshold(int lowSensitivity, float& dB) {
    switch (lowSensitivity) {
        case 0:
            return false;
        case 1:
            dB = -6.0f;
            return true;
        case 3:
            dB = -30.0f;
            return true;
        default:
            dB = -24.0f;
            return true;
    }
}

void FaultDetectors::analyse(int strip, float* x, int lowSensitivity, ChannelStripState& state) {
    if (strip < 0 || strip >= kStrips) return;
    const auto s = static_cast<size_t>(strip);
    const int n = blockFrames_;
    // A sample that is not finite would stay in the filters' memory for good: it counts as
    // silence.
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(x[i])) x[i] = 0.0f;
    }
    const double r = SampleStatistics::rms(x, n);
    const float levelDb = static_cast<float>(20.0 * std::log10(r));

    int overs = 0;
    for (int i = 0; i < n; ++i) {
        if (std::fabs(x[i]) > 0.99f) ++overs;
    }

    if (r > 0.0001) {
        int crossings = 0;
        int maxima = 0;
        int signSum = 0;
        // The largest step |20 log10|a| - 20 log10|b|| is 20 log10 of the largest ratio of
        // neighbouring magnitudes: one logarithm per block instead of two per sample. Two
        // silent samples make no step; a silent one next to a sound one an infinite step.
        float largestRatio = 1.0f;
        for (int j = 0; j + 2 < n; ++j) {
            const float a = x[j];
            const float b = x[j + 1];
            if ((a < 0 && 0 < b) || (b < 0 && 0 < a)) ++crossings;
            if (a < b && b > x[j + 2]) ++maxima;
            const float magnitude = std::fabs(b);
            if (magnitude > 0.1f && magnitude <= 1.0f) signSum += b > 0 ? 1 : -1;
            const float high = std::max(std::fabs(a), magnitude);
            const float low = std::min(std::fabs(a), magnitude);
            if (high > 0.0f && high > largestRatio * low) largestRatio = high / low;
        }
        const float largestStep = 20.0f * std::log10(largestRatio);
        if (r > 0.001) {
            // Every inner sample loud and of one sign: a rectified or stuck signal.
            if (std::abs(signSum) == n - 2) state.setSymmetryWarnings(state.symmetryWarnings() + 1);
            // Loud but never moving by 2 dB from one sample to the next: a DC or flat signal.
            if (std::trunc(levelDb) >= -31.0f && largestStep < 2.0f) {
                state.setMeanWarnings(state.meanWarnings() + 1);
            }
        }
        // Hardly any crossings or maxima in an audible block: a clipped, square signal.
        if (crossings < 7 && maxima < 7) state.setClipWarnings(state.clipWarnings() + 1);
    }

    float threshold = 0.0f;
    if (lowThreshold(lowSensitivity, threshold)) {
        std::copy_n(x, n, lowPass_.data());
        lpf_[s]->filterData(lowPass_.data(), static_cast<uint32_t>(n), 1);
        const float lowDb =
            static_cast<float>(20.0 * std::log10(SampleStatistics::rms(lowPass_.data(), n)));
        if (lowDb > threshold) state.setLpfWarnings(state.lpfWarnings() + 1);
    }

    hpf_[s]->filterData(x, static_cast<uint32_t>(n), 1);
    int loudWindows = 0;
    for (int k = 1; k < 8 && (k + 1) * windowFrames_ <= n; ++k) {
        if (SampleStatistics::rms(x + k * windowFrames_, windowFrames_) > kWindowThreshold) {
            ++loudWindows;
        }
    }
    if (loudWindows < 2) {
        hitCounter_[s] = 0;
        ++stepCounter_[s];
    } else {
        // The third block in a row with high-frequency content, and every one after it.
        if (hitCounter_[s] >= 2) state.setHfWarnings(state.hfWarnings() + 1);
        ++hitCounter_[s];
        stepCounter_[s] = 0;
    }

    if (overs > 5) state.setPeakWarnings(state.peakWarnings() + 1);
}

}  // namespace quenbril
