#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "MonitorApp/controls/ControlImage.h"

namespace quenbril {
namespace {

/// A canvas of 40 x 20 points at twice the pixel density.
QImage hiDpiCanvas() {
    QImage canvas(80, 40, QImage::Format_ARGB32);
    canvas.setDevicePixelRatio(2.0);
    canvas.fill(Qt::white);
    return canvas;
}

TEST(ControlImageTest, DrawsTheWholeImageOverTheTargetAtTheDevicePixelRatio) {
    ControlImage image("TwoHalves.png");  // 8 x 4: red left half, blue right half
    ASSERT_FALSE(image.isNull());
    QImage canvas = hiDpiCanvas();
    {
        QPainter painter(&canvas);
        EXPECT_TRUE(image.draw(painter, QRect(0, 0, 40, 20)));
        EXPECT_TRUE(image.draw(painter, QRect(0, 0, 40, 20)));  // from the cache
    }
    EXPECT_EQ(canvas.pixelColor(1, 1), QColor(Qt::red));
    EXPECT_EQ(canvas.pixelColor(30, 38), QColor(Qt::red));
    EXPECT_EQ(canvas.pixelColor(50, 1), QColor(Qt::blue));
    EXPECT_EQ(canvas.pixelColor(78, 38), QColor(Qt::blue));  // the far corner in device pixels
}

TEST(ControlImageTest, AMissingImageDrawsNothing) {
    ControlImage image("NoSuchImage.png");
    EXPECT_TRUE(image.isNull());
    EXPECT_EQ(image.name(), "NoSuchImage.png");
    QImage canvas = hiDpiCanvas();
    {
        QPainter painter(&canvas);
        EXPECT_FALSE(image.draw(painter, QRect(0, 0, 40, 20)));
    }
    EXPECT_EQ(canvas.pixelColor(40, 20), QColor(Qt::white));
}

}  // namespace
}  // namespace quenbril
