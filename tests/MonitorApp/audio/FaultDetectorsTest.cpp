#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "MonitorApp/audio/FaultDetectors.h"
#include "MonitorApp/settings/ChannelStripState.h"
#include "ServerRoleFakes.h"

namespace quenbril::test {
namespace {

struct Counts {
    int symmetry, mean, clip, lpf, hf, peak;
    bool operator==(const Counts&) const = default;
};

Counts counts(const ChannelStripState& s) {
    return {s.symmetryWarnings(), s.meanWarnings(), s.clipWarnings(),
            s.lpfWarnings(),      s.hfWarnings(),   s.peakWarnings()};
}

class FaultDetectorsTest : public testing::Test {
  protected:
    Counts run(std::vector<float> block, int lowSensitivity = 0, int strip = 0) {
        detectors_.analyse(strip, block.data(), lowSensitivity, state_);
        return counts(state_);
    }
    FaultDetectors detectors_{48000.0f};
    ChannelStripState state_;
};

TEST_F(FaultDetectorsTest, AnOrdinarySignalRaisesNothing) {
    EXPECT_EQ(detectors_.blockFrames(), 512);
    for (int block = 0; block < 4; ++block) {
        EXPECT_EQ(run(sine(512, 1000.0, 0.5, block * 512), 2), (Counts{0, 0, 0, 0, 0, 0}));
    }
    // Silence too: below the thresholds of the level-dependent tests.
    EXPECT_EQ(run(std::vector<float>(512, 0.0f), 2), (Counts{0, 0, 0, 0, 0, 0}));
}

TEST_F(FaultDetectorsTest, AConstantLoudBlockIsAsymmetricFlatAndClipped) {
    // Every inner sample positive, no step of 2 dB, no crossing and no maximum.
    EXPECT_EQ(run(std::vector<float>(512, 0.5f)), (Counts{1, 1, 1, 0, 0, 0}));
    // Above full scale the samples fall outside the symmetry test's range, and all are overs.
    ChannelStripState fresh;
    std::vector<float> over(512, 1.5f);
    detectors_.analyse(1, over.data(), 0, fresh);
    EXPECT_EQ(counts(fresh), (Counts{0, 1, 1, 0, 0, 1}));
}

TEST_F(FaultDetectorsTest, MeanFaultNeedsALoudBlockWhoseEveryStepIsBelowTwoDecibels) {
    auto alternating = [](float stepDb, float level) {
        std::vector<float> block(512);
        const float low = level * std::pow(10.0f, -stepDb / 20.0f);
        for (size_t i = 0; i < block.size(); ++i) block[i] = (i % 2) ? low : -level;
        return block;
    };
    EXPECT_EQ(run(alternating(1.9f, 0.5f)).mean, 1);
    EXPECT_EQ(run(alternating(2.1f, 0.5f)).mean, 1);   // one step too many: no fault
    EXPECT_EQ(run(alternating(0.0f, 0.02f)).mean, 1);  // -34 dB: too quiet to judge
    // One silent sample next to a sounding one is an endless step.
    std::vector<float> gap = alternating(0.0f, 0.5f);
    gap[200] = 0.0f;
    EXPECT_EQ(run(gap).mean, 1);
    EXPECT_EQ(run(alternating(0.0f, 0.5f)).mean, 2);
}

TEST_F(FaultDetectorsTest, SixOversRaiseThePeakCounterAndFiveDoNot) {
    std::vector<float> block = sine(512, 1000.0, 0.5);
    for (int i = 0; i < 5; ++i) block[static_cast<size_t>(40 + 80 * i)] = 0.995f;
    EXPECT_EQ(run(block).peak, 0);
    block[470] = -1.0f;
    EXPECT_EQ(run(block).peak, 1);
}

TEST_F(FaultDetectorsTest, HighFrequencyContentWarnsOnTheThirdBlockInARow) {
    auto hiss = [](int block) { return sine(512, 20000.0, 0.5, block * 512); };
    EXPECT_EQ(run(hiss(0)).hf, 0);
    EXPECT_EQ(detectors_.hitCounter(0), 1);
    EXPECT_EQ(run(hiss(1)).hf, 0);
    EXPECT_EQ(run(hiss(2)).hf, 1);
    EXPECT_EQ(run(hiss(3)).hf, 2);
    EXPECT_EQ(detectors_.stepCounter(0), 0);
    // One block without it starts the count again.
    EXPECT_EQ(run(sine(512, 1000.0, 0.5)).hf, 2);
    EXPECT_EQ(detectors_.hitCounter(0), 0);
    EXPECT_EQ(detectors_.stepCounter(0), 1);
    EXPECT_EQ(run(hiss(5)).hf, 2);
    EXPECT_EQ(run(hiss(6)).hf, 2);
    EXPECT_EQ(run(hiss(7)).hf, 3);
    // Each strip keeps its own run.
    EXPECT_EQ(detectors_.hitCounter(1), 0);
}

TEST_F(FaultDetectorsTest, LowFrequencyThresholdFollowsTheSensitivityAndZeroNeverTests) {
    // A 30 Hz hum of 0.3: between -13 and -7 dB through the 50 Hz low-pass, block by block.
    int block = 0;
    for (; block < 20; ++block) run(sine(512, 30.0, 0.3, block * 512), 0);
    EXPECT_EQ(state_.lpfWarnings(), 0);
    for (; block < 40; ++block) run(sine(512, 30.0, 0.3, block * 512), 2);
    EXPECT_EQ(state_.lpfWarnings(), 20);
    for (; block < 60; ++block) run(sine(512, 30.0, 0.3, block * 512), 1);
    EXPECT_EQ(state_.lpfWarnings(), 20);
}

TEST_F(FaultDetectorsTest, NonFiniteSamplesCountAsSilenceAndLeaveTheFiltersWorking) {
    std::vector<float> broken = sine(512, 20000.0, 0.5);
    broken[3] = std::numeric_limits<float>::quiet_NaN();
    broken[9] = std::numeric_limits<float>::infinity();
    run(broken, 2);
    EXPECT_EQ(detectors_.hitCounter(0), 1);
    run(sine(512, 20000.0, 0.5, 512), 2);
    EXPECT_EQ(run(sine(512, 20000.0, 0.5, 1024), 2).hf, 1);
    ChannelStripState other;
    detectors_.analyse(128, broken.data(), 2, other);  // past the table: nothing happens
    detectors_.analyse(-1, broken.data(), 2, other);
    EXPECT_EQ(counts(other), (Counts{0, 0, 0, 0, 0, 0}));
}

TEST(FaultDetectorsRateTest, BlocksAndWindowsScaleWithTheRate) {
    EXPECT_EQ(FaultDetectors(96000.0f).blockFrames(), 1024);
    EXPECT_EQ(FaultDetectors(44100.0f).blockFrames(), 470);
    EXPECT_EQ(FaultDetectors(192000.0f).blockFrames(), 2048);
}

}  // namespace
}  // namespace quenbril::test
