// The five-segment quality meter: lit cells by quality, and the look that laying out gives.

#include <gtest/gtest.h>

#include "MonitorApp/views/QualityLayer.h"

namespace quenbril::test {
namespace {

const QColor kMagenta = QColor::fromRgbF(1, 0, 1);
const QColor kBlack(Qt::black);

/// The cells' backgrounds from the left.
std::vector<QColor> cells(const QualityLayer& meter) {
    std::vector<QColor> colours;
    for (const StripElement& segment : meter.layers()) colours.push_back(segment.background);
    return colours;
}

TEST(QualityLayerTest, CellsAreLaidOutSideBySideInTheStripsFrame) {
    QualityLayer meter;
    meter.setFrame(QRectF(0, 27, 128, 5));
    const auto& layers = meter.layers();
    const float width = 128.0f / 5;
    float x = 0;
    for (const StripElement& segment : layers) {
        EXPECT_FLOAT_EQ(static_cast<float>(segment.frame.x()), x);
        EXPECT_FLOAT_EQ(static_cast<float>(segment.frame.width()), 25.6f);
        EXPECT_EQ(segment.frame.height(), 5);
        EXPECT_EQ(segment.frame.y(), 0) << "relative to the meter";
        EXPECT_EQ(segment.borderWidth, 1);
        x += width;
    }
    EXPECT_FLOAT_EQ(static_cast<float>(layers[2].frame.x()), 51.2f);
}

TEST(QualityLayerTest, QualityLightsCellsFromTheLeft) {
    QualityLayer meter;
    meter.setFrame(QRectF(0, 27, 128, 5));
    meter.setQuality(3);
    EXPECT_EQ(cells(meter), (std::vector<QColor>{kMagenta, kMagenta, kMagenta, kBlack, kBlack}));
    for (const StripElement& segment : meter.layers()) EXPECT_EQ(segment.borderColor, kBlack);

    meter.setQuality(0);
    for (const StripElement& segment : meter.layers()) {
        EXPECT_EQ(segment.background.alpha(), 0) << "the whole meter disappears";
        EXPECT_EQ(segment.borderColor.alpha(), 0);
    }

    meter.setQuality(9);
    EXPECT_EQ(cells(meter), std::vector<QColor>(5, kMagenta));
    meter.setQuality(-128);
    EXPECT_EQ(cells(meter), std::vector<QColor>(5, kBlack));
    for (const StripElement& segment : meter.layers()) EXPECT_EQ(segment.borderColor, kBlack);
}

TEST(QualityLayerTest, FramingAfterAQualityLightsEveryCellUntilTheNextQuality) {
    QualityLayer meter;
    meter.setQuality(2);
    meter.setFrame(QRectF(0, 27, 128, 5));
    EXPECT_EQ(cells(meter), std::vector<QColor>(5, kMagenta));
    meter.setQuality(2);
    EXPECT_EQ(cells(meter), (std::vector<QColor>{kMagenta, kMagenta, kBlack, kBlack, kBlack}));
}

}  // namespace
}  // namespace quenbril::test
