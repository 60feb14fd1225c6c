#pragma once

#include <cmath>

namespace quenbril {

/// Block statistics of the server role's metering and analysis. With a count of 0 each is not a
/// number. Sums run in double so long blocks keep their precision.
struct SampleStatistics {
    /// The square root of the mean of the squares.
    static double rms(const float* samples, int count) {
        double sum = 0.0;
        for (int i = 0; i < count; ++i) sum += static_cast<double>(samples[i]) * samples[i];
        return std::sqrt(sum / count);
    }
    static float mean(const float* samples, int count) {
        double sum = 0.0;
        for (int i = 0; i < count; ++i) sum += samples[i];
        return static_cast<float>(sum / count);
    }
    /// The mean of the squared deviations from the mean (no square root taken).
    static float variance(const float* samples, int count) {
        const double m = mean(samples, count);
        double sum = 0.0;
        for (int i = 0; i < count; ++i) sum += (samples[i] - m) * (samples[i] - m);
        return static_cast<float>(sum / count);
    }
};

}  // namespace quenbril
