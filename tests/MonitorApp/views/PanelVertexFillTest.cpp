#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "MonitorApp/audio/CharRingBuffer.h"
#include "MonitorApp/views/PanelVertexFill.h"

namespace quenbril {
namespace {

constexpr LevelColor kAudio{0, 1, 0, 1};
constexpr LevelColor kRF{1, 0, 0, 1};

/// Two histories and a drawable of 1024 x 768 pixels in a view 384 points high (two pixels a
/// point), eight cells a row.
class PanelVertexFillTest : public testing::Test {
  protected:
    PanelVertexFillTest() {
        for (int k = 0; k < kMaxStrips; ++k) map[k] = k;
        levels.setBufferStart(200);
        rf.setBufferStart(200);
    }

    PanelFill fill(uint32_t layers = 1) {
        PanelFill f;
        f.layers = layers;
        f.columns = 8;
        f.drawableWidth = 1024;
        f.drawableHeight = 768;
        f.frameHeight = 384;
        f.panelMap = &map;
        f.levels = &levels;
        f.rf = &rf;
        f.audioColor = kAudio;
        f.rfColor = kRF;
        return f;
    }

    void run(const PanelFill& f) {
        audio.assign(size_t{f.layers} * kPanelLayerVertices, sentinel());
        rfVertices.assign(size_t{f.layers} * kPanelLayerVertices, sentinel());
        fillPanelVertices(f, audio, rfVertices);
    }

    static LevelVertex sentinel() { return LevelVertex{-1e6f, -1e6f, {0, 0}, {9, 9, 9, 9}}; }

    /// The column sample k of a cell reads (for bufferStart 200).
    static int column(int k) { return 200 - 128 + k; }

    static constexpr double kScale = 2;
    static constexpr double kBaseline = 768.0 / 2 - 90 * kScale;

    std::array<int32_t, kMaxStrips> map{};
    CharRingBuffer levels{128, 3000};
    CharRingBuffer rf{128, 3000};
    std::vector<LevelVertex> audio;
    std::vector<LevelVertex> rfVertices;
};

TEST_F(PanelVertexFillTest, AFreshHistoryLiesOnTheBaselineNinetyPointsBelowTheCellTop) {
    run(fill());
    for (int k : {0, 64, 127}) {
        EXPECT_FLOAT_EQ(audio[k].x, -512 + k * kScale);
        EXPECT_FLOAT_EQ(audio[k].y, kBaseline);
        EXPECT_FLOAT_EQ(rfVertices[k].y, kBaseline);
        EXPECT_EQ(audio[k].color, kAudio);
        EXPECT_EQ(rfVertices[k].color, kRF);
    }
}

TEST_F(PanelVertexFillTest, LevelAndRFBytesScaleToHalfAPointPerUnitWithTheRFGainTruncated) {
    levels.data()[0][column(1)] = -128;
    levels.data()[0][column(2)] = 127;
    rf.data()[0][column(3)] = 100;   // 100 x 1.15 is just below 115 in double precision: 114.
    rf.data()[0][column(4)] = 127;   // 146
    rf.data()[0][column(5)] = -128;  // -147
    run(fill());
    EXPECT_FLOAT_EQ(audio[1].y, kBaseline - 64 * kScale);
    EXPECT_FLOAT_EQ(audio[2].y, kBaseline + 63.5 * kScale);
    EXPECT_FLOAT_EQ(rfVertices[3].y, kBaseline + 57 * kScale);
    EXPECT_FLOAT_EQ(rfVertices[4].y, kBaseline + 73 * kScale);
    EXPECT_FLOAT_EQ(rfVertices[5].y, kBaseline - 73.5 * kScale);
}

TEST_F(PanelVertexFillTest, CellsFollowTheGridOfColumnsAndTheMapNamesTheChannel) {
    map[9] = 42;
    levels.data()[42][column(0)] = 20;
    run(fill());
    // Position 9 with 8 columns: row 1, column 1.
    const LevelVertex& first = audio[9 * kPanelSamples];
    EXPECT_FLOAT_EQ(first.x, 128 * kScale - 512);
    EXPECT_FLOAT_EQ(first.y, 768.0 / 2 - 218 * kScale + 10 * kScale);
}

TEST_F(PanelVertexFillTest, TheNewestColumnIsNotDrawnAndTheOldestIsAtTheLeft) {
    levels.data()[0][200] = 100;  // the newest
    levels.data()[0][199] = 50;
    levels.data()[0][72] = 30;
    run(fill());
    EXPECT_FLOAT_EQ(audio[127].y, kBaseline + 25 * kScale);
    EXPECT_FLOAT_EQ(audio[0].y, kBaseline + 15 * kScale);
}

TEST_F(PanelVertexFillTest, AStartBelow128WrapsToTheEndOfTheHistory) {
    levels.setBufferStart(10);
    levels.data()[0][2999] = 40;  // k = 117
    levels.data()[0][0] = 60;     // k = 118
    run(fill());
    EXPECT_FLOAT_EQ(audio[117].y, kBaseline + 20 * kScale);
    EXPECT_FLOAT_EQ(audio[118].y, kBaseline + 30 * kScale);
}

TEST_F(PanelVertexFillTest, AHistoryShorterThanACellWrapsMoreThanOnce) {
    CharRingBuffer shortLevels(128, 100);
    shortLevels.setBufferStart(10);
    shortLevels.data()[0][82] = 80;  // (10 - 128) modulo 100
    PanelFill f = fill();
    f.levels = &shortLevels;
    run(f);
    EXPECT_FLOAT_EQ(audio[0].y, kBaseline + 40 * kScale);
}

TEST_F(PanelVertexFillTest, EachLayerLiesHalfAPointLeftAndAbove) {
    run(fill(2));
    const LevelVertex& upper = audio[kPanelLayerVertices + 5];
    EXPECT_FLOAT_EQ(upper.x, audio[5].x - 0.5 * kScale);
    EXPECT_FLOAT_EQ(upper.y, audio[5].y + 0.5 * kScale);
}

TEST_F(PanelVertexFillTest, NoLayersWriteNothing) {
    audio.assign(kPanelLayerVertices, sentinel());
    rfVertices.assign(kPanelLayerVertices, sentinel());
    fillPanelVertices(fill(0), audio, rfVertices);
    EXPECT_EQ(audio[0].x, sentinel().x);
}

TEST_F(PanelVertexFillTest, AMapEntryOutsideTheHistoriesSkipsItsCell) {
    map[3] = 128;
    map[4] = -1;
    map[5] = 100000;
    run(fill());
    for (int s : {3, 4, 5}) EXPECT_EQ(audio[s * kPanelSamples].x, sentinel().x) << s;
    EXPECT_NE(audio[6 * kPanelSamples].x, sentinel().x);

    LevelDrawRanges ranges;
    panelDrawRanges(8, 1, map, ranges);
    EXPECT_EQ(ranges.firsts, (std::vector<int32_t>{0, 128, 256, 768, 896}));
}

TEST_F(PanelVertexFillTest, NoColumnsCountAsOne) {
    PanelFill f = fill();
    f.columns = 0;
    run(f);
    EXPECT_FLOAT_EQ(audio[kPanelSamples].y, kBaseline - 128 * kScale);
}

TEST(PanelDrawRanges, DrawOneStripPerCellAndLayerUpToTheLevelCount) {
    std::array<int32_t, kMaxStrips> map{};
    LevelDrawRanges ranges;
    panelDrawRanges(0, 2, map, ranges);
    EXPECT_TRUE(ranges.empty());

    panelDrawRanges(3, 2, map, ranges);
    EXPECT_EQ(ranges.firsts, (std::vector<int32_t>{0, 128, 256, 16384, 16512, 16640}));
    EXPECT_EQ(ranges.counts, std::vector<int32_t>(6, 128));

    panelDrawRanges(500, 1, map, ranges);
    EXPECT_EQ(ranges.firsts.size(), 128u);
    panelDrawRanges(-4, 1, map, ranges);
    EXPECT_TRUE(ranges.empty());
}

TEST(LevelVertexTest, LineLayersTruncateTheThicknessAndRefuseNonsense) {
    EXPECT_EQ(lineLayers(2.7f), 2u);
    EXPECT_EQ(lineLayers(1.0f), 1u);
    EXPECT_EQ(lineLayers(0.5f), 0u);
    EXPECT_EQ(lineLayers(-3.0f), 0u);
    EXPECT_EQ(lineLayers(std::nanf("")), 0u);
    EXPECT_EQ(lineLayers(1000.0f), 16u);
    EXPECT_EQ(lineLayers(INFINITY), 16u);
}

TEST(LevelVertexTest, VectorColorTakesThreeNumbersAndOpaqueAlphaElseWhite) {
    EXPECT_EQ(vectorColor(Array{0.25f, 0.5f, 1.0f, 0.1f}), (LevelColor{0.25f, 0.5f, 1.0f, 1.0f}));
    EXPECT_EQ(vectorColor(Array{0.25f, 0.5f}), kWhiteLevelColor);
    EXPECT_EQ(vectorColor(Array{}), kWhiteLevelColor);
}

TEST(LevelVertexTest, WrapIndexIsATrueModulo) {
    EXPECT_EQ(wrapIndex(-118, 100), 82);
    EXPECT_EQ(wrapIndex(-300, 100), 0);
    EXPECT_EQ(wrapIndex(250, 100), 50);
}

}  // namespace
}  // namespace quenbril
