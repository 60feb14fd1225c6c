#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioFFT.h"
#include "MonitorApp/ATAudio/ATAudioFFTRolling.h"

namespace quenbril {
namespace {

struct CountingDelegate : ATAudioFFTDelegate {
    int calls = 0;
    uint64_t lastSize = 0;
    void fft(ATAudioFFT&, float*, uint64_t bufferSize) override {
        ++calls;
        lastSize = bufferSize;
    }
};

std::vector<float> sine(size_t count, double cyclesPerSample, double amplitude = 1.0) {
    std::vector<float> samples(count);
    for (size_t i = 0; i < count; ++i)
        samples[i] =
            static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * cyclesPerSample *
                                                    static_cast<double>(i)));
    return samples;
}

TEST(ATAudioFFTTest, BinsMapToFrequenciesAndAnExactBinSineLandsOnItsBin) {
    CountingDelegate delegate;
    ATAudioFFT fft(1024, 44100.0f, &delegate);
    EXPECT_EQ(fft.frequencyAtIndex(256), ATAudioFFT::kNotFound);  // No transform yet.
    const auto samples = sine(1024, 37.0 / 1024.0);
    float* data = fft.computeFFTWithBuffer(samples.data(), 1024);
    ASSERT_EQ(data, fft.fftData());
    EXPECT_EQ(fft.fftDataLength(), 512u);
    EXPECT_FLOAT_EQ(fft.frequencyAtIndex(256), 11025.0f);
    EXPECT_EQ(fft.maxFrequencyIndex(), 37u);
    EXPECT_FLOAT_EQ(fft.maxFrequency(), 37.0f * 44100.0f / 1024.0f);
    // 2 x the DFT (N / 2 for a unit sine) scaled by 10 / 2N: magnitude 5, squared 25.
    EXPECT_NEAR(fft.maxFrequencyMagnitude(), 25.0f, 1e-3);
    EXPECT_NEAR(fft.phaseData()[37], -std::numbers::pi / 2, 1e-4);
    EXPECT_EQ(delegate.calls, 1);
    EXPECT_EQ(delegate.lastSize, 512u);
}

TEST(ATAudioFFTTest, BinZeroPacksDcAndNyquistAndTheInverseIsTenTimesTheInput) {
    ATAudioFFT fft(64, 48000.0f);
    std::vector<float> samples(16);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.25f + (i % 2 ? -0.5f : 0.5f) + 0.1f * static_cast<float>(i % 3);
    ASSERT_TRUE(fft.computeFFTWithBuffer(samples.data(), 16));
    double dc = 0, nyquist = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        dc += samples[i];
        nyquist += (i % 2 ? -1.0 : 1.0) * samples[i];
    }
    const double scale = 10.0 / 32.0;
    EXPECT_NEAR(fft.complexSplit().realp[0], 2 * dc * scale, 1e-5);
    EXPECT_NEAR(fft.complexSplit().imagp[0], 2 * nyquist * scale, 1e-5);
    EXPECT_NEAR(fft.fftData()[0], std::pow(2 * dc * scale, 2) + std::pow(2 * nyquist * scale, 2),
                1e-4);
    for (size_t i = 0; i < samples.size(); ++i)
        EXPECT_NEAR(fft.inversedFFTData()[i], 10.0f * samples[i], 1e-4) << i;
}

TEST(ATAudioFFTTest, RateZeroFillsTheSpectrumButKeepsTheMaximum) {
    ATAudioFFT fft(256, 48000.0f);
    const auto first = sine(256, 10.0 / 256.0);
    fft.computeFFTWithBuffer(first.data(), 256);
    ASSERT_EQ(fft.maxFrequencyIndex(), 10u);
    fft.setSampleRate(0.0f);
    const auto second = sine(256, 40.0 / 256.0);
    fft.computeFFTWithBuffer(second.data(), 256);
    EXPECT_NEAR(fft.fftData()[40], 25.0f, 1e-3);
    EXPECT_EQ(fft.maxFrequencyIndex(), 10u);
    EXPECT_EQ(fft.frequencyAtIndex(40), 9223372036854775808.0f);
}

TEST(ATAudioFFTTest, BadSizesAndNoBufferChangeNothing) {
    CountingDelegate delegate;
    ATAudioFFT fft(1000, 48000.0f, &delegate);  // Set up for 512: the largest power of two.
    const auto samples = sine(2048, 3.0 / 64.0);
    ASSERT_TRUE(fft.computeFFTWithBuffer(samples.data(), 64));
    const std::vector<float> before(fft.fftData(), fft.fftData() + 32);
    for (uint32_t size : {0u, 1u, 3u, 100u, 1000u, 1024u, 2048u})
        EXPECT_EQ(fft.computeFFTWithBuffer(samples.data(), size), nullptr) << size;
    EXPECT_EQ(fft.computeFFTWithBuffer(nullptr, 64), nullptr);
    EXPECT_EQ(delegate.calls, 1);
    EXPECT_EQ(fft.fftDataLength(), 32u);
    EXPECT_EQ(std::vector<float>(fft.fftData(), fft.fftData() + 32), before);
    EXPECT_TRUE(fft.computeFFTWithBuffer(samples.data(), 512));
    EXPECT_TRUE(fft.computeFFTWithBuffer(samples.data(), 2));
    EXPECT_EQ(fft.frequencyMagnitudeAtIndex(0), fft.fftData()[0]);
    EXPECT_EQ(fft.frequencyMagnitudeAtIndex(1), ATAudioFFT::kNotFound);
}

TEST(ATAudioFFTRollingTest, IsSetUpForEightWindowsAndKeepsItsHistory) {
    CountingDelegate delegate;
    auto rolling = ATAudioFFTRolling::fftWithWindowSize(512, 44100.0f, &delegate);
    EXPECT_EQ(rolling->maximumBufferSize(), 4096u);
    EXPECT_EQ(rolling->windowSize(), 512u);
    EXPECT_EQ(rolling->timeDomainBufferSize(), 512);
    ASSERT_NE(rolling->timeDomainData(), nullptr);
    const auto samples = sine(4096, 0.25);
    EXPECT_TRUE(rolling->computeFFTWithBuffer(samples.data(), 4096));
    EXPECT_EQ(rolling->maxFrequencyIndex(), 1024u);
    EXPECT_EQ(rolling->computeFFTWithBuffer(nullptr, 512), nullptr);
    EXPECT_EQ(delegate.calls, 1);
    EXPECT_EQ(rolling->timeDomainData()[0], 0.0f);  // The transform leaves the history alone.
    ATAudioFFTRolling sized(256, 1024, 8000.0f);
    EXPECT_EQ(sized.maximumBufferSize(), 1024u);
    EXPECT_EQ(sized.timeDomainBufferSize(), 256);
}

}  // namespace
}  // namespace quenbril
