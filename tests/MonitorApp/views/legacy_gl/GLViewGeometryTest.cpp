// The OpenGL level views' geometry as plain functions: the line builder (wide lines, colours,
// the alert stipple), the panel view's rings and lines, the single-channel view's bands and
// alerts, and the waveform's sample intake.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "MonitorApp/audio/CharRingBuffer.h"
#include "MonitorApp/views/legacy_gl/GLLineBuilder.h"
#include "MonitorApp/views/legacy_gl/GLPanelLines.h"
#include "MonitorApp/views/legacy_gl/GPURendererWave.h"
#include "MonitorApp/views/legacy_gl/SingleEAGLLines.h"

namespace quenbril {
namespace {

constexpr LevelColor kRed{1, 0, 0, 1};
constexpr LevelColor kBlue{0, 0, 1, 1};
constexpr LevelColor kGreen{0, 1, 0, 1};
constexpr LevelColor kMagenta{1, 0, 1, 1};

/// The vertices of line strip `index` of the builder.
std::vector<LevelVertex> strip(const GLLineBuilder& lines, size_t index) {
    const auto& ranges = lines.ranges();
    if (index >= ranges.firsts.size()) return {};
    const auto first = lines.vertices().begin() + ranges.firsts[index];
    return {first, first + ranges.counts[index]};
}

TEST(GLLineBuilderTest, AWideLineIsParallelOnePixelStripsOnePixelApart) {
    GLLineBuilder lines;
    lines.reset(200, 100);  // a pixel is 0.01 wide and 0.02 high in clip units
    lines.setLineWidth(3.0f);
    lines.line(-0.5, 0, 0.5, 0);
    ASSERT_EQ(lines.ranges().firsts.size(), 3u);
    for (size_t t = 0; t < 3; ++t) {
        const auto s = strip(lines, t);
        ASSERT_EQ(s.size(), 2u);
        EXPECT_NEAR(s[0].x, -0.5 - 0.01 * t, 1e-6);
        EXPECT_NEAR(s[1].y, 0.02 * t, 1e-6);
    }
    // Below one pixel, and NaN, still one strip; a lone vertex draws nothing.
    lines.reset(200, 100);
    lines.setLineWidth(0.5f);
    lines.line(0, 0, 1, 1);
    lines.setLineWidth(std::numeric_limits<float>::quiet_NaN());
    lines.line(0, 0, 1, 1);
    lines.beginStrip();
    lines.vertex(0, 0);
    lines.endStrip();
    EXPECT_EQ(lines.ranges().firsts.size(), 2u);
}

TEST(GLLineBuilderTest, AColourSetAfterAVertexAppliesFromTheNextOne) {
    GLLineBuilder lines;
    lines.reset(100, 100);
    lines.setColor(kBlue);
    lines.beginStrip();
    lines.vertex(0, 0);
    lines.setColor(kRed);
    lines.vertex(0.5, 0);
    lines.vertex(1, 0);
    lines.endStrip();
    const auto s = strip(lines, 0);
    EXPECT_EQ(s[0].color, kBlue);
    EXPECT_EQ(s[1].color, kRed);
    EXPECT_EQ(s[2].color, kRed);
}

TEST(GLLineBuilderTest, TheStippleDrawsEightPixelsAndSkipsEightFromTheLowerEnd) {
    GLLineBuilder lines;
    lines.reset(100, 100);  // one pixel is 0.02
    lines.setStipple(true);
    // Given from the top down, 40 pixels long: dashes at 0-8, 16-24 and 32-40 from the bottom.
    lines.line(0, 0.4, 0, -0.4);
    ASSERT_EQ(lines.ranges().firsts.size(), 3u);
    const double starts[] = {-0.4, -0.08, 0.24};
    for (size_t d = 0; d < 3; ++d) {
        const auto dash = strip(lines, d);
        ASSERT_EQ(dash.size(), 2u);
        EXPECT_NEAR(dash[0].y, starts[d], 1e-6);
        EXPECT_NEAR(dash[1].y, starts[d] + 0.16, 1e-6);
    }
    // A length that ends inside a gap or a dash: 20 pixels give 0-8 and 16-20.
    lines.reset(100, 100);
    lines.setStipple(true);
    lines.setLineWidth(2.0f);
    lines.line(0, 0, 0, 0.4);
    ASSERT_EQ(lines.ranges().firsts.size(), 4u);  // two dashes of two strips each
    EXPECT_NEAR(strip(lines, 2)[0].y, 0.32, 1e-6);
    EXPECT_NEAR(strip(lines, 2)[1].y, 0.4, 1e-6);
    EXPECT_NEAR(strip(lines, 3)[0].x, -0.02, 1e-6);
}

/// A panel of 512 x 384 points (one pixel a point), four strips a row, thickness 1.
class GLPanelLinesTest : public testing::Test {
  protected:
    GLPanelFrame frame(int levelCount) const {
        GLPanelFrame f;
        f.width = 512;
        f.height = 384;
        f.columns = 4;
        f.levelCount = levelCount;
        f.audio = kGreen;
        f.rf = kMagenta;
        return f;
    }

    /// The points below the view's top of a vertex.
    static double down(const LevelVertex& v) { return (1.0 - v.y) * 384 / 2; }
    static double across(const LevelVertex& v) { return (v.x + 1.0) * 512 / 2; }

    std::vector<LevelVertex> build(const GLPanelFrame& f) {
        lines.reset(512, 384);
        buildGLPanelLines(f, curves, lines);
        return lines.vertices();
    }

    GLLineBuilder lines;
    GLPanelCurves curves;
    std::array<int8_t, 128> levels{};
    std::array<int8_t, 128> rf{};
};

TEST_F(GLPanelLinesTest, AFreshPanelDrawsEveryLineSixtyFourPointsBelowItsBaseline) {
    build(frame(6));
    // Per strip the RF line, then the audio line; then the border.
    ASSERT_EQ(lines.ranges().firsts.size(), 13u);
    for (size_t i = 0; i < 6; ++i) {
        const double top = (i / 4) * 128.0;
        const double left = (i % 4) * 128.0;
        for (size_t line = 0; line < 2; ++line) {
            const auto s = strip(lines, 2 * i + line);
            ASSERT_EQ(s.size(), 180u);
            EXPECT_EQ(s[0].color, line == 0 ? kMagenta : kGreen);
            for (const LevelVertex& v : {s[0], s[90], s[179]}) {
                EXPECT_NEAR(down(v), top + 32 + 64, 1e-3) << i;
            }
            EXPECT_NEAR(across(s[0]), left, 1e-3);
            EXPECT_NEAR(across(s[179]), left + 179 * 32.0 / 45.0, 1e-3);
        }
    }
    const auto border = strip(lines, 12);
    EXPECT_EQ(border[0].color, kRed);
    EXPECT_EQ(border.size(), 5u);
}

TEST_F(GLPanelLinesTest, TheRingsMoveOnOncePerDrawAndAValueShowsFromTheNextDraw) {
    levels[1] = 100;  // 0 from the baseline
    rf[1] = 50;       // 0.49 - 1 = -0.51: 32.64 points below
    curves.advance(levels.data(), rf.data(), 2);
    EXPECT_EQ(curves.curveStart(), 1);
    levels[1] = 50;  // -0.5: 32 points below
    curves.advance(levels.data(), rf.data(), 2);
    // No new bytes: the next draws store the same bytes again.
    curves.advance(levels.data(), rf.data(), 2);

    build(frame(2));
    const auto rfLine = strip(lines, 2);
    const auto audio = strip(lines, 3);
    EXPECT_NEAR(down(audio[176]), 96, 1e-3);  // still the initial value
    EXPECT_NEAR(down(audio[177]), 32, 1e-3);
    EXPECT_NEAR(down(audio[178]), 64, 1e-3);
    EXPECT_NEAR(down(audio[179]), 64, 1e-3);
    EXPECT_NEAR(down(rfLine[177]), 32 + 32.64, 1e-3);
    // Strip 0 got zero bytes: -1 for both lines.
    EXPECT_NEAR(down(strip(lines, 0)[179]), 32 + 64, 1e-3);
    EXPECT_NEAR(down(strip(lines, 1)[179]), 32 + 64, 1e-3);

    // 180 draws later the ring has turned once: the first stored value is the oldest again.
    for (int i = 0; i < 177; ++i) curves.advance(levels.data(), rf.data(), 2);
    EXPECT_EQ(curves.curveStart(), 0);
    EXPECT_FLOAT_EQ(curves.curve(1, 0), 0.0f);
}

TEST_F(GLPanelLinesTest, ATimecodeStripShowsItsSignalAndSqueezesItsAudio) {
    std::array<float, 180> signal{};
    signal.fill(1.0f);                                    // 0 dB: 0.48 - 0.52 = -0.04
    signal[1] = -1.0f;                                    // -0.48 - 0.52 = -1.0
    signal[2] = std::numeric_limits<float>::quiet_NaN();  // as 0: floor, -0.52
    signal[3] = 0.001f;                                   // -60 dB: the floor too
    GLPanelFrame f = frame(3);
    f.ltc.set(1);
    f.ltc.set(2);  // no signal: only the audio line moves
    f.timecode[1] = signal.data();
    levels[1] = 100;
    curves.advance(levels.data(), rf.data(), 3);
    build(f);

    const auto signalLine = strip(lines, 2);
    EXPECT_NEAR(down(signalLine[0]), 48 + 0.04 * 48, 1e-3);
    EXPECT_NEAR(down(signalLine[1]), 48 + 1.0 * 48, 1e-3);
    EXPECT_NEAR(down(signalLine[2]), 48 + 0.52 * 48, 1e-3);
    EXPECT_NEAR(down(signalLine[3]), 48 + 0.52 * 48, 1e-3);
    // Audio at three quarters from 48 points down: -1 is 48 below, the newest 0 on it.
    const auto audio = strip(lines, 3);
    EXPECT_NEAR(down(audio[0]), 96, 1e-3);
    EXPECT_NEAR(down(audio[179]), 48, 1e-3);
    EXPECT_NEAR(down(strip(lines, 4)[0]), 96, 1e-3);  // strip 2's RF keeps its place
    EXPECT_NEAR(down(strip(lines, 5)[0]), 96, 1e-3);
}

TEST_F(GLPanelLinesTest, StripsPastOneHundredTwentyEightDrawNothing) {
    GLPanelFrame f = frame(300);
    f.columns = 0;  // taken as 1
    build(f);
    EXPECT_EQ(lines.ranges().firsts.size(), 2u * 128 + 1);
    curves.advance(levels.data(), rf.data(), 300);  // stores only 128
    EXPECT_EQ(curves.curveStart(), 1);
}

/// Histories of 3000 columns, newest (bufferStart) at column 2999, so column k of the view
/// reads history column k - 1; channel 3.
class SingleEAGLLinesTest : public testing::Test {
  protected:
    SingleEAGLLinesTest() {
        for (CharRingBuffer* h : {&level, &rfA, &rfB, &rfC, &rfD, &diversity, &alert, &quality}) {
            h->setBufferStart(2999);
        }
    }

    void set(CharRingBuffer& history, int k, int8_t value) {
        history.data()[3][(k + 2999) % 3000] = value;
    }

    SingleEAGLFrame frame() {
        SingleEAGLFrame f;
        f.chanIndex = 3;
        f.showAudio = false;
        f.showQuality = false;
        f.showRFA = false;
        f.showRFB = false;
        f.histories = {&level, &rfA, &rfB, &rfC, &rfD, &diversity, &alert, &quality};
        f.colors = {kGreen, {1, 1, 0, 1}, {0, 1, 1, 1}, kMagenta, kMagenta, kBlue};
        return f;
    }

    /// The strips of one colour drawn after the cursor (the alert dashes), by x.
    std::vector<double> alertLines(const LevelColor& color) {
        std::vector<double> xs;
        const auto& ranges = lines.ranges();
        for (size_t i = 0; i < ranges.firsts.size(); ++i) {
            const LevelVertex& v = lines.vertices()[static_cast<size_t>(ranges.firsts[i])];
            // The first dash of each line starts at -0.9.
            if (v.color == color && std::fabs(v.y + 0.9f) < 1e-6) xs.push_back(v.x);
        }
        return xs;
    }

    CharRingBuffer level{128, 3000}, rfA{128, 3000}, rfB{128, 3000}, rfC{128, 3000}, rfD{128, 3000},
        diversity{128, 3000}, alert{128, 3000}, quality{128, 3000};
    GLLineBuilder lines;
};

TEST_F(SingleEAGLLinesTest, AnRFAGapEndsThePieceBeforeItOnTheRFBLine) {
    for (int k = 0; k < 3000; ++k) set(rfB, k, 50);  // y = 0
    for (int k = 100; k < 200; ++k) set(rfA, k, -100);
    SingleEAGLFrame f = frame();
    f.showRFA = true;
    lines.reset(3000, 1000);
    buildSingleEAGLLines(f, lines);
    // Two pieces of RF A, the diversity line (four pixels) and the cursor (three).
    ASSERT_EQ(lines.ranges().firsts.size(), 9u);
    const auto before = strip(lines, 0);
    ASSERT_EQ(before.size(), 101u);
    EXPECT_NEAR(before[99].y, -0.9, 1e-6);
    EXPECT_NEAR(before[100].x, 100 / 1500.0 - 1, 1e-6);
    EXPECT_NEAR(before[100].y, 0.0, 1e-6);  // on RF B
    const auto after = strip(lines, 1);
    ASSERT_EQ(after.size(), 2800u);
    EXPECT_NEAR(after[0].x, 200 / 1500.0 - 1, 1e-6);
    // The newest column is at the left.
    EXPECT_NEAR(before[0].x, -1.0, 1e-6);
}

TEST_F(SingleEAGLLinesTest, AlertsOneOneOneDrawOneRedLineAndTwoTwoTwoBlueLines) {
    set(alert, 10, 1);
    set(alert, 11, 1);
    set(alert, 12, 1);
    set(alert, 20, 2);
    set(alert, 21, 2);
    lines.reset(3000, 1000);
    buildSingleEAGLLines(frame(), lines);
    const auto red = alertLines(kRed);
    ASSERT_EQ(red.size(), 1u);
    EXPECT_NEAR(red[0], 2.0 * 10 / 3000 - 1, 1e-6);
    const auto blue = alertLines(kBlue);
    ASSERT_EQ(blue.size(), 2u);
    EXPECT_NEAR(blue[0], 2.0 * 20 / 3000 - 1, 1e-6);
    EXPECT_NEAR(blue[1], 2.0 * 21 / 3000 - 1, 1e-6);
}

TEST_F(SingleEAGLLinesTest, TheCursorIsAlwaysDrawnAndAChannelOutsideTheHistoriesDrawsOnlyIt) {
    SingleEAGLFrame f = frame();
    f.chanIndex = 128;
    f.showAudio = true;
    set(alert, 5, 1);
    lines.reset(300, 100);
    buildSingleEAGLLines(f, lines);
    ASSERT_EQ(lines.ranges().firsts.size(), 3u);  // three pixel strips
    const auto cursor = strip(lines, 0);
    EXPECT_EQ(cursor[0].color, kRed);
    EXPECT_NEAR(cursor[0].x, -1.0, 1e-6);
    EXPECT_NEAR(cursor[0].y, -1.0, 1e-6);
    EXPECT_NEAR(cursor[1].y, 1.0, 1e-6);
}

TEST_F(SingleEAGLLinesTest, TheQualityLineIsReadAtTheLevelHistorysColumns) {
    quality.setBufferStart(0);  // its own newest column would be 0
    quality.data()[3][2999] = 5;
    SingleEAGLFrame f = frame();
    f.showQuality = true;
    lines.reset(3000, 1000);
    buildSingleEAGLLines(f, lines);
    const auto line = strip(lines, 0);
    ASSERT_EQ(line.size(), 3000u);
    EXPECT_EQ(line[0].color, kBlue);
    EXPECT_NEAR(line[0].y, 0.91, 1e-6);
    EXPECT_NEAR(line[1].y, -0.91, 1e-6);
}

TEST_F(SingleEAGLLinesTest, TheActiveAntennaColourChangesFromTheColumnAfterItsByte) {
    set(diversity, 0, 1);
    set(diversity, 1, 3);
    set(diversity, 2, 9);  // unknown: keeps white
    set(diversity, 3, 0);
    lines.reset(3000, 1000);
    buildSingleEAGLLines(frame(), lines);
    const auto line = strip(lines, 0);
    ASSERT_EQ(line.size(), 3000u);
    EXPECT_EQ(line[0].color, (LevelColor{0, 1, 1, 1}));  // starts in RF B's colour
    EXPECT_EQ(line[1].color, (LevelColor{1, 1, 0, 1}));
    EXPECT_EQ(line[2].color, kWhiteLevelColor);
    EXPECT_EQ(line[3].color, kWhiteLevelColor);
    EXPECT_EQ(line[4].color, (LevelColor{0, 0, 0, 1}));
    EXPECT_NEAR(line[0].y, -0.99, 1e-6);
}

TEST(GPURendererWaveTest, ACountOtherThanTheSamplesHeldTakesWhatFitsAndZeroesTheRest) {
    std::vector<float> held(4, 0.5f);
    const std::vector<float> many{0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
    EXPECT_FALSE(GPURendererWave::takeSamples(many.data(), 6, held));
    EXPECT_EQ(held, (std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f}));
    EXPECT_FALSE(GPURendererWave::takeSamples(many.data(), 2, held));
    EXPECT_EQ(held, (std::vector<float>{0.1f, 0.2f, 0.0f, 0.0f}));
    EXPECT_FALSE(GPURendererWave::takeSamples(nullptr, -3, held));
    EXPECT_EQ(held, (std::vector<float>(4, 0.0f)));
    EXPECT_TRUE(GPURendererWave::takeSamples(many.data(), 4, held));

    std::vector<LevelVertex> vertices(4);
    GPURendererWave::layOut(&held, {400, 200}, kBlue, vertices);
    EXPECT_FLOAT_EQ(vertices[0].x, -200);
    EXPECT_FLOAT_EQ(vertices[3].x, 100);
    EXPECT_FLOAT_EQ(vertices[2].y, 0.45f * 200 * 0.3f);
    EXPECT_EQ(vertices[1].color, kBlue);
}

}  // namespace
}  // namespace quenbril
