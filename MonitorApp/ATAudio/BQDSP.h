#pragma once

#include <array>
#include <cstdint>

namespace quenbril {

/// One second-order recursive section (a biquad) over blocks of float32 samples, keeping the
/// last two input and output samples of each of two channels so that a stream filtered block by
/// block has no seams. Subclasses turn musical parameters into the five coefficients.
///
/// Blocks of any length are run in chunks of kChunkFrames frames, so the scratch memory stays
/// the same whatever the caller hands in and nothing is allocated on the audio thread.
class BQDSP {
  public:
    static constexpr uint32_t kChunkFrames = 1024;
    static constexpr uint32_t kMaxChannels = 2;

    explicit BQDSP(float samplingRate);
    virtual ~BQDSP() = default;
    BQDSP(const BQDSP&) = delete;
    BQDSP& operator=(const BQDSP&) = delete;

    /// Copies b0, b1, b2, a1 and a2 into the difference equation's coefficients and warns when
    /// they are unstable (they are used all the same).
    void setCoefficients();
    static void applyGain(float* data, uint64_t length, float gain);
    /// Filters one channel's contiguous samples in place. A channel above 1 is refused with a
    /// log line and leaves the samples as they are.
    void filterContiguousData(float* data, uint32_t numFrames, uint32_t channel);
    /// One channel is filtered as channel 0; two are taken as interleaved left and right. Any
    /// other count is refused with a log line.
    void filterData(float* data, uint32_t numFrames, uint32_t numChannels);

    void deinterleave(const float* interleaved, float* left, float* right, uint64_t length) const;
    void interleave(float* interleaved, const float* left, const float* right,
                    uint64_t length) const;
    /// Both channels of `interleaved` get (left + right) / 2; left and right are halved in place.
    void mono(float* interleaved, float* left, float* right, uint64_t length) const;

    /// omega, its sine and cosine and alpha for a frequency and Q at the sampling rate.
    void intermediateVariables(float frequency, float Q);
    void logCoefficients() const;
    void stabilityWarning() const;

    float samplingRate() const { return samplingRate_; }
    float omega() const { return omega_; }
    float omegaS() const { return omegaS_; }
    float omegaC() const { return omegaC_; }
    float alpha() const { return alpha_; }
    /// b0, b1, b2, a1, a2 as the difference equation reads them.
    const std::array<float, 5>& coefficients() const { return coefficients_; }
    float a0() const { return a0_; }
    float a1() const { return a1_; }
    float a2() const { return a2_; }
    float b0() const { return b0_; }
    float b1() const { return b1_; }
    float b2() const { return b2_; }

  protected:
    /// True when a frequency and Q can give coefficients: both non-zero and a positive rate. A
    /// filter made at a rate of 0 (an engine without a device) keeps silence rather than NaN.
    bool canCalculate(float frequency, float Q) const;
    /// A = sqrt(10^(G / 20)) of the gain types, for a gain in decibels.
    static float gainFactor(float G);
    /// Stores the numerators divided by a0 (a0 itself kept undivided) and applies them.
    void storeCoefficients(float a0, float b0, float b1, float b2, float a1, float a2);

    float zero_ = 0.0f;
    float one_ = 1.0f;

  private:
    void filterChunk(float* data, uint32_t frames, uint32_t channel);

    float samplingRate_ = 0.0f;
    /// Per channel, the last two samples, oldest first.
    std::array<std::array<float, 2>, kMaxChannels> inputKeep_{};
    std::array<std::array<float, 2>, kMaxChannels> outputKeep_{};
    float omega_ = 0.0f;
    float omegaS_ = 0.0f;
    float omegaC_ = 0.0f;
    float alpha_ = 0.0f;
    std::array<float, 5> coefficients_{};
    float a0_ = 0.0f;
    float a1_ = 0.0f;
    float a2_ = 0.0f;
    float b0_ = 0.0f;
    float b1_ = 0.0f;
    float b2_ = 0.0f;
};

}  // namespace quenbril
