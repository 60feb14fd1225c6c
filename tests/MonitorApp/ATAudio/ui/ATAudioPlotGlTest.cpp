// The OpenGL waveform plot drawn by real OpenGL on an X server (xvfb-run, llvmpipe), read back
// with grabFramebuffer().

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "MonitorApp/ATAudio/ui/ATAudioPlotGL.h"
#include "foundation/ManualRunLoop.h"

namespace quenbril {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 200;
const QColor kBackground(145, 209, 122);

bool isBackground(const QImage& image, int x, int y) {
    const QColor c = image.pixelColor(x, y);
    return std::abs(c.red() - 145) <= 2 && std::abs(c.green() - 209) <= 2 &&
           std::abs(c.blue() - 122) <= 2;
}

class ATAudioPlotGlTest : public testing::Test {
  protected:
    void SetUp() override {
        RunLoop::setMain(&loop_);
        auto made = ATAudioPlotGL::create();
        plot_.reset(dynamic_cast<ATAudioPlotGL*>(made.release()));
        ASSERT_NE(plot_, nullptr) << "no OpenGL on this display";
        plot_->resize(kWidth, kHeight);
        plot_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(plot_.get()));
    }
    void TearDown() override {
        plot_.reset();
        RunLoop::setMain(nullptr);
    }
    QImage picture() { return plot_->grabFramebuffer().convertToFormat(QImage::Format_RGB32); }
    static int backgroundCount(const QImage& image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) count += isBackground(image, x, y);
        return count;
    }

    ManualRunLoop loop_{800000000.0};
    std::unique_ptr<ATAudioPlotGL> plot_;
};

TEST_F(ATAudioPlotGlTest, TheDefaultBackgroundFillsAnEmptyPlot) {
    plot_->clear();
    const QImage image = picture();
    ASSERT_EQ(image.width(), kWidth);
    EXPECT_EQ(image.pixelColor(kWidth / 2, kHeight / 2), kBackground);
    EXPECT_EQ(backgroundCount(image), kWidth * kHeight);
    EXPECT_EQ(plot_->pointCount(), 1u);
    EXPECT_EQ(plot_->rollingHistoryLength(), 512);
    EXPECT_EQ(plot_->setRollingHistoryLength(10000), 8192);
}

TEST_F(ATAudioPlotGlTest, AFilledPlotColoursThePixelsBetweenTheCurveAndTheCentreRow) {
    plot_->setShouldFill(true);
    std::vector<float> level(1000, 0.5f);
    plot_->setSampleData(level.data(), 1000);
    const QImage image = picture();
    EXPECT_TRUE(plot_->interpolated());
    EXPECT_EQ(plot_->pointCount(), 2000u);
    // y = 0.5 is a quarter of the height from the top; the band runs from there to the middle.
    for (int x = 10; x < kWidth - 10; x += 13) {
        for (int y = kHeight / 4 + 2; y < kHeight / 2 - 1; ++y)
            ASSERT_FALSE(isBackground(image, x, y)) << x << "," << y;
        EXPECT_TRUE(isBackground(image, x, kHeight / 4 - 3)) << x;
        EXPECT_TRUE(isBackground(image, x, kHeight / 2 + 3)) << x;
    }
    // More than 4096 samples with fill are cut to 4096.
    std::vector<float> many(6000, 0.25f);
    plot_->setSampleData(many.data(), 6000);
    picture();
    EXPECT_EQ(plot_->pointCount(), 8192u);
}

TEST_F(ATAudioPlotGlTest, AMirroredPlotIsSymmetricAndClearLeavesOnlyTheBackground) {
    plot_->setShouldFill(true);
    plot_->setShouldMirror(true);
    std::vector<float> wave(512);
    for (size_t i = 0; i < wave.size(); ++i)
        wave[i] =
            static_cast<float>(0.7 * std::fabs(std::sin(2.0 * std::numbers::pi * 2.0 * i / 512.0)));
    plot_->updateBuffer(wave.data(), 512);
    const QImage image = picture();
    int shown = 0, mismatched = 0;
    for (int y = 0; y < kHeight / 2; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const bool top = !isBackground(image, x, y);
            const bool bottom = !isBackground(image, x, kHeight - 1 - y);
            shown += top;
            mismatched += top != bottom;
        }
    EXPECT_GT(shown, 2000);
    EXPECT_LT(mismatched, shown / 50);

    plot_->clear();
    EXPECT_EQ(backgroundCount(picture()), kWidth * kHeight);
    EXPECT_EQ(plot_->historyInfo()->buffer[0], 0.0f);
}

}  // namespace
}  // namespace quenbril
