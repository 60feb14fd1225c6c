#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/BQHighpassFilter.h"
#include "MonitorApp/ATAudio/BQLowpassFilter.h"
#include "MonitorApp/ATAudio/filters/BQAllpassFilter.h"
#include "MonitorApp/ATAudio/filters/BQBandpassFilter.h"
#include "MonitorApp/ATAudio/filters/BQBandpassQPeakGainFilter.h"
#include "MonitorApp/ATAudio/filters/BQClippingDetection.h"
#include "MonitorApp/ATAudio/filters/BQHighShelvingFilter.h"
#include "MonitorApp/ATAudio/filters/BQLowShelvingFilter.h"
#include "MonitorApp/ATAudio/filters/BQNotchFilter.h"
#include "MonitorApp/ATAudio/filters/BQPeakingEQFilter.h"
#include "MonitorApp/ATAudio/filters/BQSoundLevelMeter.h"

namespace quenbril {
namespace {

constexpr float kRate = 48000.0f;

/// |H| of the filter's own coefficients at `frequency`.
double analyticGain(const BQDSP& filter, double frequency) {
    std::array<double, 5> c;
    std::copy(filter.coefficients().begin(), filter.coefficients().end(), c.begin());
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * frequency / kRate);
    const std::complex<double> z2 = z1 * z1;
    return std::abs((c[0] + c[1] * z1 + c[2] * z2) / (1.0 + c[3] * z1 + c[4] * z2));
}

/// The filter's measured gain at `frequency`: a sine run through it until it settles, then
/// projected onto sine and cosine over whole periods.
double measuredGain(BQDSP& filter, double frequency) {
    const int settle = 96000, window = 4800;  // Every test frequency is a multiple of 10 Hz.
    std::vector<float> samples(settle + window);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency * i / kRate));
    filter.filterData(samples.data(), static_cast<uint32_t>(samples.size()), 1);
    double s = 0.0, c = 0.0;
    for (int i = settle; i < settle + window; ++i) {
        const double phase = 2.0 * std::numbers::pi * frequency * i / kRate;
        s += samples[i] * std::sin(phase);
        c += samples[i] * std::cos(phase);
    }
    return 2.0 * std::hypot(s, c) / window;
}

template <typename Filter>
std::unique_ptr<Filter> centred(float frequency, float Q) {
    auto filter = std::make_unique<Filter>(kRate);
    filter->setQ(Q);
    filter->setCenterFrequency(frequency);
    return filter;
}

std::vector<std::unique_ptr<BQDSP>> everyFilter() {
    std::vector<std::unique_ptr<BQDSP>> filters;
    auto low = std::make_unique<BQLowpassFilter>(kRate);
    low->setQ(0.9f);
    low->setCornerFrequency(2000.0f);
    filters.push_back(std::move(low));
    auto high = std::make_unique<BQHighpassFilter>(kRate);
    high->setQ(0.9f);
    high->setCornerFrequency(2000.0f);
    filters.push_back(std::move(high));
    filters.push_back(centred<BQBandpassFilter>(1000.0f, 1.5f));
    filters.push_back(centred<BQBandpassQPeakGainFilter>(1000.0f, 1.5f));
    filters.push_back(centred<BQNotchFilter>(1000.0f, 1.5f));
    filters.push_back(centred<BQAllpassFilter>(1000.0f, 1.5f));
    auto peak = centred<BQPeakingEQFilter>(1000.0f, 1.5f);
    peak->setG(6.0f);
    filters.push_back(std::move(peak));
    auto lowShelf = centred<BQLowShelvingFilter>(500.0f, 0.7f);
    lowShelf->setG(-9.0f);
    filters.push_back(std::move(lowShelf));
    auto highShelf = centred<BQHighShelvingFilter>(5000.0f, 0.7f);
    highShelf->setG(12.0f);
    filters.push_back(std::move(highShelf));
    return filters;
}

TEST(BQDSPTest, EveryFilterFollowsTheResponseOfItsOwnCoefficients) {
    const double frequencies[] = {50, 200, 600, 990, 1500, 2000, 4000, 8000, 12000, 20000};
    for (auto& filter : everyFilter()) {
        for (double f : frequencies) {
            const double expected = analyticGain(*filter, f);
            const double measured = measuredGain(*filter, f);
            if (expected > 1e-3) {
                EXPECT_NEAR(20 * std::log10(measured), 20 * std::log10(expected), 0.05)
                    << "at " << f << " Hz, a0 " << filter->a0();
            } else {
                EXPECT_NEAR(measured, expected, 1e-4) << "at " << f << " Hz";
            }
        }
    }
}

TEST(BQDSPTest, LowPassAt50HzQ8HasTheEngineCoefficients) {
    BQLowpassFilter filter(kRate);
    filter.setQ(8.0f);
    filter.setCornerFrequency(50.0f);
    const double omega = 2.0 * std::numbers::pi * 50.0 / 48000.0;
    const double alpha = std::sin(omega) / 16.0;
    EXPECT_NEAR(filter.alpha(), alpha, 1e-7);
    EXPECT_NEAR(filter.a0(), 1.0 + alpha, 1e-6);
    EXPECT_FLOAT_EQ(filter.b0(), filter.b1() / 2.0f);
    EXPECT_FLOAT_EQ(filter.b2(), filter.b1() / 2.0f);
    // 1 - cos(omega) in single precision keeps three digits at this low a frequency.
    EXPECT_NEAR(filter.b1(), (1.0 - std::cos(omega)) / (1.0 + alpha), 2e-3 * filter.b1());
    EXPECT_NEAR(filter.a1(), -2.0 * std::cos(omega) / (1.0 + alpha), 1e-6);
    EXPECT_NEAR(filter.a2(), (1.0 - alpha) / (1.0 + alpha), 1e-6);
    // The difference equation reads them in this order.
    EXPECT_EQ(filter.coefficients(), (std::array<float, 5>{filter.b0(), filter.b1(), filter.b2(),
                                                           filter.a1(), filter.a2()}));
}

TEST(BQDSPTest, ShelvesUseTheSquareRootOfAOverQ) {
    BQLowShelvingFilter filter(kRate);
    filter.setQ(2.0f);
    filter.setG(6.0f);
    filter.setCenterFrequency(300.0f);
    const double A = std::sqrt(std::pow(10.0, 6.0 / 20.0));
    const double w = 2.0 * std::numbers::pi * 300.0 / 48000.0;
    const double a0 = (A + 1) + (A - 1) * std::cos(w) + std::sqrt(A / 2.0) * std::sin(w);
    EXPECT_NEAR(filter.a0(), a0, 1e-5);
}

std::vector<float> noise(size_t count, unsigned seed) {
    std::vector<float> samples(count);
    for (auto& sample : samples) {
        seed = seed * 1664525u + 1013904223u;
        sample = static_cast<float>(seed >> 8) / static_cast<float>(1 << 24) * 2.0f - 1.0f;
    }
    return samples;
}

TEST(BQDSPTest, BlocksOfAnySizeGiveTheSameOutputAsOneCall) {
    for (uint32_t channels : {1u, 2u}) {
        BQHighpassFilter whole(kRate), halves(kRate), pieces(kRate);
        for (BQHighpassFilter* f : {&whole, &halves, &pieces}) {
            f->setQ(8.0f);
            f->setCornerFrequency(18000.0f);
        }
        // 512 = 256 + 256, and a long block that crosses the internal chunks against odd pieces.
        for (uint32_t frames : {512u, 5000u}) {
            auto input = noise(frames * channels, frames + channels);
            auto a = input, b = input, c = input;
            whole.filterData(a.data(), frames, channels);
            halves.filterData(b.data(), frames / 2, channels);
            halves.filterData(b.data() + frames / 2 * channels, frames - frames / 2, channels);
            for (uint32_t done = 0; done < frames;) {
                const uint32_t piece = std::min(frames - done, 1 + (done * 7) % 1500);
                pieces.filterData(c.data() + done * channels, piece, channels);
                done += piece;
            }
            EXPECT_EQ(a, b) << channels << " channels, " << frames << " frames";
            EXPECT_EQ(a, c) << channels << " channels, " << frames << " frames";
            EXPECT_NE(a, input);
        }
    }
}

TEST(BQDSPTest, AHugeBlockNeedsNoScratchOfItsSize) {
    // 64 MiB of stereo samples: scratch of the block's size would overflow any thread's stack.
    const uint32_t frames = 8u << 20;
    std::vector<float> samples(static_cast<size_t>(frames) * 2, 0.0f);
    samples[0] = 1.0f;
    BQLowpassFilter filter(kRate);
    filter.setQ(0.7f);
    filter.setCornerFrequency(1000.0f);
    filter.filterData(samples.data(), frames, 2);
    EXPECT_NEAR(samples[0], filter.b0(), 1e-7);
    EXPECT_EQ(samples[1], 0.0f);
    EXPECT_NEAR(samples.back(), 0.0f, 1e-20);
}

TEST(BQDSPTest, StereoChannelsKeepTheirOwnState) {
    BQLowpassFilter stereo(kRate), left(kRate), right(kRate);
    for (BQLowpassFilter* f : {&stereo, &left, &right}) {
        f->setQ(0.7f);
        f->setCornerFrequency(3000.0f);
    }
    auto l = noise(300, 1), r = noise(300, 2);
    std::vector<float> interleaved(600);
    stereo.interleave(interleaved.data(), l.data(), r.data(), 300);
    stereo.filterData(interleaved.data(), 300, 2);
    left.filterContiguousData(l.data(), 300, 0);
    right.filterContiguousData(r.data(), 300, 1);
    for (size_t i = 0; i < 300; ++i) {
        EXPECT_EQ(interleaved[2 * i], l[i]);
        EXPECT_EQ(interleaved[2 * i + 1], r[i]);
    }
}

TEST(BQDSPTest, RefusedInputLeavesDataAndCoefficientsAlone) {
    BQLowpassFilter filter(kRate);
    filter.setQ(8.0f);
    filter.setCornerFrequency(50.0f);
    const auto coefficients = filter.coefficients();
    filter.setQ(0.0f);
    EXPECT_EQ(filter.coefficients(), coefficients);
    filter.setCornerFrequency(0.0f);
    EXPECT_EQ(filter.coefficients(), coefficients);

    auto data = noise(30, 3);
    const auto original = data;
    testing::internal::CaptureStderr();
    filter.filterData(data.data(), 10, 3);
    filter.filterContiguousData(data.data(), 30, 2);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(data, original);
    EXPECT_NE(log.find("WARNING: Unsupported number of channels 3"), std::string::npos);
    EXPECT_NE(log.find("Unsupported channel 2"), std::string::npos);
}

TEST(BQDSPTest, AFilterMadeAtRateZeroStaysSilentRatherThanNaN) {
    BQLowpassFilter filter(0.0f);
    filter.setQ(8.0f);
    filter.setCornerFrequency(50.0f);
    auto data = noise(64, 4);
    filter.filterData(data.data(), 64, 1);
    for (float sample : data) EXPECT_EQ(sample, 0.0f);
    EXPECT_EQ(filter.a0(), 0.0f);
}

TEST(BQDSPTest, MonoPutsTheAverageOnBothChannels) {
    BQDSP dsp(kRate);
    std::vector<float> left{1.0f, 0.5f}, right{-1.0f, 0.25f}, out(4);
    dsp.mono(out.data(), left.data(), right.data(), 2);
    EXPECT_EQ(out, (std::vector<float>{0.0f, 0.0f, 0.375f, 0.375f}));
}

TEST(BQClippingDetectionTest, CountsAtTheThresholdButReportsOnlyWhatLiesAbove) {
    BQClippingDetection detection;
    const std::vector<float> run{0.2f, 1.0f, -1.0f, 0.9f, -1.5f, 1.25f};
    EXPECT_EQ(detection.getClippedSamples(run.data(), 3, 2), 4u);
    EXPECT_FLOAT_EQ(detection.getClippedPercentage(run.data(), 3, 2), 4.0f / 6.0f);
    EXPECT_FLOAT_EQ(detection.getClippingSample(run.data(), 3, 2), 1.5f);
    const std::vector<float> edge{1.0f, -1.0f, 0.5f};
    EXPECT_EQ(detection.getClippedSamples(edge.data(), 3, 1), 2u);
    EXPECT_EQ(detection.getClippingSample(edge.data(), 3, 1), 0.0f);
    EXPECT_EQ(detection.getClippedPercentage(edge.data(), 0, 1), 0.0f);
    EXPECT_EQ(detection.getClippedSamples(edge.data(), 0, 2), 0u);
}

TEST(BQClippingDetectionTest, CounterClippingScalesFiniteSamplesBelowOneAndEnds) {
    BQClippingDetection detection;
    detection.setThreshold(3.0f);
    std::vector<float> run{2.0f, -0.5f, INFINITY, NAN, 1.0f};
    detection.counterClipping(run.data(), 5, 1);
    EXPECT_EQ(detection.threshold(), 1.0f);
    EXPECT_LT(run[0], 1.0f);
    EXPECT_GT(run[0], 0.9f);
    EXPECT_FLOAT_EQ(run[0] / run[1], -4.0f);
    EXPECT_TRUE(std::isinf(run[2]));
}

TEST(BQSoundLevelMeterTest, SmoothsPowerAndTurnsNaNIntoMinus50) {
    BQSoundLevelMeter meter;
    std::vector<float> sine(4800);
    for (size_t i = 0; i < sine.size(); ++i)
        sine[i] = static_cast<float>(std::sin(2.0 * std::numbers::pi * 100.0 * i / 48000.0));
    // A full-scale sine is -3.01 dB; the meter moves a fifth of the way from 0.
    EXPECT_NEAR(meter.getdBLevel(sine.data(), 2400, 2), 0.2 * -3.0103, 1e-3);

    BQSoundLevelMeter silentMeter;
    const std::vector<float> silence(256, 0.0f);
    EXPECT_EQ(silentMeter.getdBLevel(silence.data(), 256, 1), -INFINITY);
    EXPECT_EQ(silentMeter.getdBLevel(silence.data(), 256, 1), -50.0f);
    EXPECT_NEAR(silentMeter.getdBLevel(sine.data(), 4800, 1), -50.0 + 0.2 * (50.0 - 3.0103), 1e-3);
    // A block of no samples measures nothing.
    EXPECT_EQ(silentMeter.getdBLevel(sine.data(), 0, 1), silentMeter.dBLevel());
}

}  // namespace
}  // namespace quenbril
