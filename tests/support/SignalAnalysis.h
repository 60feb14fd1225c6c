#pragma once

// Measures of recorded audio for the audio tests: the frequency of a tone, its level and gaps.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>
#include <vector>

namespace quenbril::test {

/// The power of `samples` at `frequency` Hz (a single-bin Goertzel).
inline double powerAt(std::span<const float> samples, double frequency, double rate) {
    const double w = 2.0 * std::numbers::pi * frequency / rate;
    const double coefficient = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    for (float sample : samples) {
        const double s0 = sample + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

/// The frequency of the strongest tone between `low` and `high` Hz, to 0.05 Hz.
inline double peakFrequency(std::span<const float> samples, double rate, double low, double high) {
    double best = low, bestPower = -1.0;
    for (double f = low; f <= high; f += 0.05) {
        const double power = powerAt(samples, f, rate);
        if (power > bestPower) {
            bestPower = power;
            best = f;
        }
    }
    return best;
}

/// The frequency of a tone from the median of its periods (rising zero crossings, placed
/// between samples by interpolation). A splice where a ring dropped frames spoils one period
/// only, so this holds where a whole-window measure would be pulled off by the jump.
inline double medianPeriodFrequency(std::span<const float> samples, double rate) {
    std::vector<double> crossings;
    for (size_t i = 1; i < samples.size(); ++i) {
        const double a = samples[i - 1], b = samples[i];
        if (a < 0.0 && b >= 0.0) crossings.push_back(static_cast<double>(i - 1) + a / (a - b));
    }
    if (crossings.size() < 3) return 0.0;
    std::vector<double> periods;
    for (size_t i = 1; i < crossings.size(); ++i)
        periods.push_back(crossings[i] - crossings[i - 1]);
    std::nth_element(periods.begin(),
                     periods.begin() + static_cast<std::ptrdiff_t>(periods.size() / 2),
                     periods.end());
    return rate / periods[periods.size() / 2];
}

/// The level of a sine in dB of full scale, from its RMS (a full-scale sine reads 0 dB).
inline double sineLevelDb(std::span<const float> samples) {
    double sum = 0.0;
    for (float sample : samples) sum += static_cast<double>(sample) * sample;
    const double rms = std::sqrt(sum / static_cast<double>(samples.size()));
    return 20.0 * std::log10(rms * std::numbers::sqrt2 + 1e-30);
}

/// The peak absolute sample.
inline float peakOf(std::span<const float> samples) {
    float peak = 0.0f;
    for (float sample : samples) peak = std::max(peak, std::fabs(sample));
    return peak;
}

/// The longest run of exact zeros.
inline int longestSilence(std::span<const float> samples) {
    int longest = 0, run = 0;
    for (float sample : samples) {
        run = sample == 0.0f ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

}  // namespace quenbril::test
