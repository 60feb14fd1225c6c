#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "MonitorApp/audio/CharRingBuffer.h"
#include "MonitorApp/views/SingleVertexFill.h"

namespace quenbril {
namespace {

constexpr LevelColor kRed{1, 0, 0, 1};

/// Eight 3000-column histories whose newest column is 2999, so that sample i reads column
/// i - 1 (and sample 0 the newest), on a drawable of 3000 x 1000 pixels in a view 500 points
/// high.
class SingleVertexFillTest : public testing::Test {
  protected:
    SingleVertexFillTest() {
        for (CharRingBuffer* h : all()) h->setBufferStart(2999);
    }

    std::vector<CharRingBuffer*> all() {
        return {&level, &rfA, &rfB, &rfC, &rfD, &diversity, &alert, &quality};
    }

    SingleFill fill(uint32_t layers = 1) {
        SingleFill f;
        f.layers = layers;
        f.drawableWidth = kWidth;
        f.drawableHeight = kHeight;
        f.frameHeight = 500;
        f.chanIndex = 3;
        f.singleLine = true;
        f.histories = {&level, &rfA, &rfB, &rfC, &rfD, &diversity, &alert, &quality};
        f.colors = {{0, 1, 0, 1}, {1, 1, 0, 1},          {0, 1, 1, 1},
                    {1, 0, 1, 1}, {0.5f, 0.5f, 0.5f, 1}, {0.2f, 0.4f, 0.6f, 1}};
        return f;
    }

    /// Sets the byte that sample `i` (layer 0) reads.
    static void set(CharRingBuffer& history, int i, int8_t value) {
        history.data()[3][(i + 2999) % 3000] = value;
    }

    static constexpr double kWidth = 3000;
    static constexpr double kHeight = 1000;

    CharRingBuffer level{128, 3000}, rfA{128, 3000}, rfB{128, 3000}, rfC{128, 3000}, rfD{128, 3000},
        diversity{128, 3000}, alert{128, 3000}, quality{128, 3000};
};

TEST_F(SingleVertexFillTest, BandsSpanNinetyPercentOfTheHeightAudioALittleLess) {
    set(level, 10, 100);
    set(rfA, 11, 100);
    set(quality, 12, 5);
    SingleVertices v(1);
    fillSingleVertices(fill(), v);
    EXPECT_NEAR(v.audio[10].y, 0.369 * kHeight, 1e-3);
    EXPECT_NEAR(v.rfA[11].y, 0.45 * kHeight, 1e-3);
    EXPECT_NEAR(v.quality[12].y, 0.45 * kHeight, 1e-3);
    EXPECT_NEAR(v.audio[13].y, -0.45 * kHeight, 1e-3);
    EXPECT_NEAR(v.rfA[13].y, -0.45 * kHeight, 1e-3);
    EXPECT_FLOAT_EQ(v.audio[10].x, -1500 + 10);
    EXPECT_FLOAT_EQ(v.diversity[10].y, 3 - kHeight / 2);
}

TEST_F(SingleVertexFillTest, SampleZeroIsTheNewestColumnAndLayersShiftByAPixel) {
    level.data()[3][2999] = 50;
    SingleVertices v(2);
    fillSingleVertices(fill(2), v);
    EXPECT_NEAR(v.audio[0].y, 0.5 * 0.819 * kHeight - 0.45 * kHeight, 1e-3);
    EXPECT_FLOAT_EQ(v.audio[3000 + 7].x, v.audio[7].x - 1);
    EXPECT_FLOAT_EQ(v.audio[3000 + 7].y, v.audio[7].y + 1);
}

TEST_F(SingleVertexFillTest, ASingleLineDrawsTheBetterAntennaInTheColourOfTheActiveOne) {
    set(rfA, 20, 40);
    set(rfB, 20, 60);
    set(diversity, 20, 2);
    SingleVertices v(1);
    const SingleFill f = fill();
    fillSingleVertices(f, v);
    EXPECT_NEAR(v.rfA[20].y, 0.6 * 0.9 * kHeight - 0.45 * kHeight, 1e-3);
    EXPECT_EQ(v.rfA[20].color, f.colors.rfB);
    EXPECT_EQ(v.rfA[21].color, f.colors.rfA);
    // The separate lines are not written.
    EXPECT_EQ(v.rfB[20].color, kClearLevelColor);

    SingleDrawFlags flags;
    flags.layers = 1;
    flags.quadversity = true;
    const auto order = singleDrawOrder(flags);
    EXPECT_EQ(std::count(order.begin(), order.end(), SingleBand::RFB), 0);
    EXPECT_EQ(std::count(order.begin(), order.end(), SingleBand::RFC), 0);
    EXPECT_EQ(std::count(order.begin(), order.end(), SingleBand::RFD), 0);
}

TEST_F(SingleVertexFillTest, SeparateLinesDrawEachAntennaButCAndDOnlyWithFour) {
    set(rfA, 20, 40);
    set(rfB, 20, 60);
    SingleFill f = fill();
    f.singleLine = false;
    SingleVertices v(1);
    fillSingleVertices(f, v);
    EXPECT_NEAR(v.rfA[20].y, 0.4 * 0.9 * kHeight - 0.45 * kHeight, 1e-3);
    EXPECT_NEAR(v.rfB[20].y, 0.6 * 0.9 * kHeight - 0.45 * kHeight, 1e-3);

    SingleDrawFlags flags;
    flags.layers = 1;
    flags.singleLine = false;
    EXPECT_EQ(
        singleDrawOrder(flags),
        (std::vector<SingleBand>{SingleBand::Audio, SingleBand::RFA, SingleBand::RFB,
                                 SingleBand::Quality, SingleBand::Diversity, SingleBand::Alert}));
    flags.quadversity = true;
    flags.cursorShown = true;
    flags.showAudio = false;
    EXPECT_EQ(singleDrawOrder(flags),
              (std::vector<SingleBand>{SingleBand::RFA, SingleBand::RFB, SingleBand::RFC,
                                       SingleBand::RFD, SingleBand::Quality, SingleBand::Diversity,
                                       SingleBand::Cursor, SingleBand::Alert}));
}

TEST_F(SingleVertexFillTest, TheActiveAntennaLineTakesItsColourAndUnknownValuesAreClear) {
    const SingleFill f = fill();
    for (int i : {1, 2, 3, 4, 5, 6}) set(diversity, i, static_cast<int8_t>(i - 1));
    set(diversity, 7, -1);
    SingleVertices v(1);
    // What a frame does not decide must not stay from an earlier one.
    std::fill(v.diversity.begin(), v.diversity.end(), LevelVertex{0, 0, {0, 0}, kRed});
    fillSingleVertices(f, v);
    EXPECT_EQ(v.diversity[1].color, kClearLevelColor);
    EXPECT_EQ(v.diversity[2].color, f.colors.rfA);
    EXPECT_EQ(v.diversity[3].color, f.colors.rfB);
    EXPECT_EQ(v.diversity[4].color, kWhiteLevelColor);
    EXPECT_EQ(v.diversity[5].color, kClearLevelColor);
    EXPECT_EQ(v.diversity[6].color, kClearLevelColor);
    EXPECT_EQ(v.diversity[7].color, kClearLevelColor);
}

TEST_F(SingleVertexFillTest, TwoAlertsInARowGiveOneSpikeAtTheFirst) {
    set(alert, 100, 1);
    set(alert, 101, 1);
    set(alert, 102, 0);
    set(alert, 200, 2);
    SingleVertices v(1);
    fillSingleVertices(fill(), v);
    const auto up =
        std::count_if(v.alert.begin(), v.alert.end(), [](const LevelVertex& p) { return p.y > 0; });
    EXPECT_EQ(up, 2);
    EXPECT_FLOAT_EQ(v.alert[100].y, 500);
    EXPECT_EQ(v.alert[100].color, kRed);
    EXPECT_FLOAT_EQ(v.alert[99].y, -500);
    EXPECT_FLOAT_EQ(v.alert[99].x, v.alert[100].x);
    EXPECT_EQ(v.alert[99].color, kRed);
    EXPECT_FLOAT_EQ(v.alert[101].y, -500);
    EXPECT_FLOAT_EQ(v.alert[101].x, v.alert[100].x);
    EXPECT_EQ(v.alert[102].color, kClearLevelColor);
    EXPECT_EQ(v.alert[200].color, (LevelColor{0, 0, 1, 1}));
}

TEST_F(SingleVertexFillTest, TheCursorIsTwoRedLinesTwoPixelsApart) {
    SingleFill f = fill();
    f.playbackCursor = 0.25f;
    SingleVertices v(1);
    fillSingleVertices(f, v);
    EXPECT_FLOAT_EQ(v.cursor[0].x, -0.25 * kWidth);
    EXPECT_FLOAT_EQ(v.cursor[0].y, -kHeight / 2);
    EXPECT_FLOAT_EQ(v.cursor[1].y, kHeight / 2);
    EXPECT_FLOAT_EQ(v.cursor[2].x, -0.25 * kWidth + 2);
    EXPECT_FLOAT_EQ(v.cursor[3].x, -0.25 * kWidth + 2);
    EXPECT_EQ(v.cursor[3].color, kRed);

    SingleDrawFlags flags;
    flags.layers = 1;
    const auto order = singleDrawOrder(flags);
    EXPECT_EQ(std::count(order.begin(), order.end(), SingleBand::Cursor), 0);
}

TEST_F(SingleVertexFillTest, AShiftMovesTheWholeDocumentAndTheCursorAlike) {
    // The part in sight of a document twice as wide, from its middle on.
    SingleFill f = fill();
    f.playbackCursor = 0.75f;
    f.xShift = -kWidth / 2;
    SingleVertices v(1);
    fillSingleVertices(f, v);
    EXPECT_FLOAT_EQ(v.audio[1500].x, -kWidth / 2);  // the document's middle at the left edge
    EXPECT_FLOAT_EQ(v.alert[1500].x, -kWidth / 2);
    EXPECT_FLOAT_EQ(v.cursor[0].x, 0.25 * kWidth - kWidth / 2);
}

TEST_F(SingleVertexFillTest, AChannelOutsideTheHistoriesDrawsOnlyTheCursor) {
    for (int32_t channel : {128, -1, 5000}) {
        SingleFill f = fill();
        f.chanIndex = channel;
        f.playbackCursor = 0.5f;
        SingleVertices v(1);
        std::fill(v.audio.begin(), v.audio.end(), LevelVertex{7, 7, {0, 0}, kRed});
        fillSingleVertices(f, v);
        EXPECT_FLOAT_EQ(v.audio[5].x, 7) << channel;
        EXPECT_FLOAT_EQ(v.cursor[0].x, 0) << channel;
        EXPECT_FALSE(isSingleChannel(channel));
    }
    SingleDrawFlags flags;
    flags.layers = 1;
    flags.channelValid = false;
    flags.cursorShown = true;
    EXPECT_EQ(singleDrawOrder(flags), std::vector<SingleBand>{SingleBand::Cursor});
}

TEST_F(SingleVertexFillTest, NoLayersWriteOnlyTheCursor) {
    SingleFill f = fill(0);
    f.playbackCursor = 0.0f;
    SingleVertices v(0);
    EXPECT_TRUE(v.audio.empty());
    fillSingleVertices(f, v);
    EXPECT_FLOAT_EQ(v.cursor[0].x, -0.5 * kWidth);
    SingleDrawFlags flags;
    flags.layers = 0;
    flags.cursorShown = true;
    EXPECT_EQ(singleDrawOrder(flags), std::vector<SingleBand>{SingleBand::Cursor});
}

TEST(SingleDrawRanges, BandsLeaveOutTheNewestColumnTheAlertStripDoesNot) {
    LevelDrawRanges ranges;
    singleDrawRanges(SingleBand::Audio, 2, ranges);
    EXPECT_EQ(ranges.firsts, (std::vector<int32_t>{1, 3001}));
    EXPECT_EQ(ranges.counts, (std::vector<int32_t>{2999, 2999}));
    singleDrawRanges(SingleBand::Alert, 2, ranges);
    EXPECT_EQ(ranges.firsts, (std::vector<int32_t>{0, 3000}));
    EXPECT_EQ(ranges.counts, (std::vector<int32_t>{3000, 3000}));
    singleDrawRanges(SingleBand::Cursor, 0, ranges);
    EXPECT_EQ(ranges.firsts, (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(ranges.counts, (std::vector<int32_t>{2, 2}));
}

}  // namespace
}  // namespace quenbril
