#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "MonitorApp/ATAudio/ui/ATAudioPlot.h"
#include "MonitorApp/ATAudio/ui/ATAudioPlotGL.h"
#include "foundation/ManualRunLoop.h"

namespace quenbril {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 200;

class ATAudioPlotTest : public testing::Test {
  protected:
    void SetUp() override {
        RunLoop::setMain(&loop_);
        plot_ = std::make_unique<ATAudioPlot>();
        plot_->resize(kWidth, kHeight);
        plot_->setBackgroundColor(Qt::black);
        plot_->setColor(Qt::white);
    }
    void TearDown() override {
        plot_.reset();
        RunLoop::setMain(nullptr);
    }

    static std::vector<float> sine(int count, double cycles, double amplitude = 0.8) {
        std::vector<float> samples(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            samples[static_cast<size_t>(i)] = static_cast<float>(
                amplitude * std::sin(2.0 * std::numbers::pi * cycles * i / count));
        return samples;
    }
    QImage picture() {
        plot_->redraw();
        return plot_->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    static bool lit(const QImage& image, int x, int y) { return qGray(image.pixel(x, y)) > 40; }
    static int litCount(const QImage& image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) count += lit(image, x, y);
        return count;
    }

    ManualRunLoop loop_{800000000.0};
    std::unique_ptr<ATAudioPlot> plot_;
};

TEST_F(ATAudioPlotTest, AMirroredPlotIsSymmetricAboutTheZeroLine) {
    // A wave that stays above zero shows above the middle only, unless mirrored.
    auto samples = sine(512, 3.0);
    for (float& s : samples) s = std::fabs(s);
    plot_->updateBuffer(samples.data(), 512);
    QImage image = picture();
    int above = 0, below = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            if (!lit(image, x, y)) continue;
            if (y < kHeight / 2 - 1) ++above;
            if (y > kHeight / 2 + 1) ++below;
        }
    EXPECT_GT(above, 300);
    EXPECT_EQ(below, 0);

    plot_->setShouldMirror(true);
    image = picture();
    int mismatched = 0, shown = 0;
    // Row r covers r..r+1; its mirror about the zero line (y = 100) is row 199 - r.
    for (int y = 0; y < kHeight / 2; ++y)
        for (int x = 0; x < kWidth; ++x) {
            shown += lit(image, x, y);
            mismatched +=
                std::abs(qGray(image.pixel(x, y)) - qGray(image.pixel(x, kHeight - 1 - y))) > 60;
        }
    EXPECT_GT(shown, 300);
    EXPECT_LT(mismatched, shown / 50);
}

TEST_F(ATAudioPlotTest, TheFirstAndLastPointsLieOnTheZeroLine) {
    std::vector<float> ones(300, 0.5f);
    plot_->updateBuffer(ones.data(), 300);
    plot_->redraw();
    ASSERT_EQ(plot_->pointCount(), 300u);
    EXPECT_EQ(plot_->points()[0], QPointF(0, 0));
    EXPECT_EQ(plot_->points()[299], QPointF(299, 0));
    EXPECT_EQ(plot_->points()[1], QPointF(1, 0.5));
    const QImage image = picture();
    // The line starts and ends on the middle row and runs at y = 0.5 (a quarter down) between.
    EXPECT_TRUE(lit(image, 0, kHeight / 2) || lit(image, 0, kHeight / 2 - 1));
    EXPECT_TRUE(lit(image, kWidth - 2, kHeight / 2) || lit(image, kWidth - 2, kHeight / 2 - 1));
    EXPECT_TRUE(lit(image, kWidth / 2, kHeight / 4) || lit(image, kWidth / 2, kHeight / 4 - 1));
    EXPECT_FALSE(lit(image, kWidth / 2, kHeight / 2 + 2));
}

TEST_F(ATAudioPlotTest, RollingShowsTheLast512RmsValuesAndHistoryLengthsAreHeld) {
    plot_->setPlotType(ATPlot::kRolling);
    std::vector<float> block(64);
    for (int n = 1; n <= 600; ++n) {
        std::fill(block.begin(), block.end(), static_cast<float>(n) / 1000.0f);
        plot_->updateBuffer(block.data(), 64);
    }
    plot_->redraw();
    ASSERT_EQ(plot_->pointCount(), 512u);
    // The history shows its values as they stood before the newest append.
    for (int i = 1; i < 511; ++i) ASSERT_NEAR(plot_->points()[i].y(), (88 + i) / 1000.0, 1e-6) << i;
    EXPECT_EQ(plot_->rollingHistoryLength(), 512);
    EXPECT_EQ(plot_->setRollingHistoryLength(10000), 8192);
    EXPECT_EQ(plot_->setRollingHistoryLength(0), 1);
    EXPECT_EQ(plot_->setRollingHistoryLength(-7), 1);
    EXPECT_EQ(plot_->setRollingHistoryLength(1000), 1000);
    plot_->updateFloat(0.5f);
    plot_->redraw();
    EXPECT_EQ(plot_->pointCount(), 1000u);
}

TEST_F(ATAudioPlotTest, SampleDataIsCutTo8192AndNoSamplesDrawNothing) {
    std::vector<float> many(10000, 0.25f);
    plot_->setSampleData(many.data(), 10000);
    plot_->redraw();
    EXPECT_EQ(plot_->pointCount(), 8192u);
    EXPECT_EQ(plot_->points()[8191].y(), 0.0);
    plot_->setSampleData(nullptr, 0);
    const QImage image = picture();
    EXPECT_EQ(plot_->pointCount(), 0u);
    EXPECT_TRUE(plot_->waveformLayer().path().isEmpty());
    EXPECT_EQ(litCount(image), 0);
    plot_->clear();  // Nothing to clear.
    plot_->redraw();
    EXPECT_EQ(plot_->pointCount(), 0u);
}

TEST_F(ATAudioPlotTest, AFilledPlotColoursEverythingBetweenTheCurveAndTheZeroLine) {
    plot_->setShouldFill(true);
    std::vector<float> level(400, 0.5f);
    plot_->updateBuffer(level.data(), 400);
    const QImage image = picture();
    for (int x = 20; x < kWidth - 20; x += 19) {
        for (int y = kHeight / 4 + 2; y < kHeight / 2 - 1; ++y)
            EXPECT_TRUE(lit(image, x, y)) << x << "," << y;
        EXPECT_FALSE(lit(image, x, kHeight / 4 - 4)) << x;
        EXPECT_FALSE(lit(image, x, kHeight * 3 / 4)) << x;
    }
    plot_->clear();
    const QImage cleared = picture();
    for (int x = 0; x < kWidth; x += 10) EXPECT_FALSE(lit(cleared, x, kHeight / 4)) << x;
}

TEST_F(ATAudioPlotTest, TheDisplayLinkDrawsFeedingOnlyWhileOptimising) {
    ATAudioDisplayLink* link = plot_->displayLink();
    ASSERT_NE(link, nullptr);
    plot_->setShouldOptimizeForRealtimePlot(true);
    EXPECT_EQ(plot_->displayLink(), link);  // One link, kept.
    std::vector<float> samples(200, 0.1f);
    plot_->updateBuffer(samples.data(), 200);
    EXPECT_NE(plot_->pointCount(), 200u);  // Feeding does no drawing...
    loop_.advance(0.05);
    EXPECT_EQ(plot_->pointCount(), 200u);  // ...the next refresh does.

    plot_->setShouldOptimizeForRealtimePlot(false);
    EXPECT_EQ(plot_->displayLink(), nullptr);
    plot_->updateBuffer(samples.data(), 50);
    EXPECT_EQ(plot_->pointCount(), 50u);  // Drawn at once, with the path animated.
}

TEST_F(ATAudioPlotTest, TheOpenGLPlotIsAPlaceholderWhereOpenGLCannotDraw) {
    // The offscreen platform has no OpenGL: a plain widget stands in and paints nothing.
    const auto plot = ATAudioPlotGL::create();
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(dynamic_cast<ATAudioPlotGL*>(plot.get()), nullptr);
    plot->resize(40, 20);
    EXPECT_EQ(plot->grab().size(), QSize(40, 20));
}

}  // namespace
}  // namespace quenbril
