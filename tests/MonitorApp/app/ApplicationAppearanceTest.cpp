// The application's look: the fonts the views name are drawn with Roboto's faces, weight
// included, and the palette is dark.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QStyle>

#include "MonitorApp/app/ApplicationAppearance.h"
#include "MonitorApp/app/FontAlias.h"

namespace quenbril {
namespace {

/// The darkness of a line of text drawn in `family`, summed over its pixels.
double ink(const char* family) {
    QImage image(400, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(QFont(family, 20));
    painter.setPen(Qt::black);
    painter.drawText(10, 40, "Quenbril 3 Remote");
    painter.end();
    double sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) sum += 255 - qGray(image.pixel(x, y));
    }
    return sum;
}

TEST(ApplicationAppearance, MonacoDigitsAreFixedWidth) {
    ApplicationAppearance::apply(*qApp);
    if (!QFontDatabase::hasFamily("DejaVu Sans Mono")) GTEST_SKIP() << "DejaVu is not installed";
    const QFont monaco("Monaco", 40);
    EXPECT_EQ(QFontInfo(monaco).family(), "Monaco");
    EXPECT_TRUE(QFontInfo(monaco).fixedPitch());
    // The timecode keeps its width as the digits run.
    const QFontMetrics metrics(monaco);
    EXPECT_EQ(metrics.horizontalAdvance("11:11:11:11"), metrics.horizontalAdvance("00:00:00:00"));
}

TEST(ApplicationAppearance, NexaFontsAreRobotosLightAndBoldFaces) {
    ApplicationAppearance::apply(*qApp);
    const QFontInfo light(QFont("Nexa Light", 14));
    const QFontInfo bold(QFont("Nexa Bold", 14));
    if (!QFontDatabase::hasFamily("Roboto Light")) GTEST_SKIP() << "Roboto is not installed";
    EXPECT_EQ(light.family(), "Nexa Light");
    EXPECT_EQ(bold.family(), "Nexa Bold");
    EXPECT_EQ(light.styleName(), "Light");
    EXPECT_EQ(bold.styleName(), "Bold");
    // Drawn, the bold face lays down more ink than Roboto's regular one, the light face less.
    EXPECT_GT(ink("Nexa Bold"), ink("Roboto") * 1.15);
    EXPECT_LT(ink("Nexa Light"), ink("Roboto"));
    EXPECT_EQ(qApp->style()->name().toLower(), "fusion");
    EXPECT_LT(qApp->palette().color(QPalette::Window).lightness(), 80);
    EXPECT_GT(qApp->palette().color(QPalette::WindowText).lightness(), 180);
}

TEST(ApplicationAppearance, OnlyFontsAreRenamed) {
    EXPECT_TRUE(FontAlias::renamed("not a font at all", "Nexa Bold", "Bold").isEmpty());
    EXPECT_TRUE(FontAlias::renamed(QByteArray(), "Nexa Bold", "Bold").isEmpty());
    // A font header that claims more tables than the file holds.
    QByteArray truncated("\x00\x01\x00\x00\x00\x09\x00\x00\x00\x00\x00\x00", 12);
    EXPECT_TRUE(FontAlias::renamed(truncated, "Nexa Bold", "Bold").isEmpty());
}

}  // namespace
}  // namespace quenbril
