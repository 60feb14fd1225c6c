// The self-drawn strip background: its patterns by warning code and layout.

#include <QCoreApplication>

#include "MonitorApp/views/unused_backgrounds/CSBackground.h"
#include "tests/MonitorApp/views/StripViewsTest.h"

namespace quenbril::test {
namespace {

/// Counts the paint events a widget gets.
class PaintCounter : public QObject {
  public:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
    int paints = 0;
};

class CSBackgroundTest : public StripViewsTest {};

TEST_F(CSBackgroundTest, PatternsFollowTheWarningCode) {
    CSBackground background(settings());
    background.resize(128, 128);
    EXPECT_EQ(background.currentImage(), "cs_back");
    const QImage plain = picture(background);
    EXPECT_EQ(plain.pixel(64, 64), qRgb(51, 51, 51)) << "the plain pattern is drawn";

    background.setChannelState(2);
    EXPECT_EQ(background.currentImage(), "error_low-battery");
    EXPECT_NE(picture(background), plain);
    background.setChannelState(1);
    EXPECT_EQ(background.currentImage(), "error_SCP");
    background.setChannelState(3);
    EXPECT_EQ(background.currentImage(), "error_low_rf");

    background.setChannelState(7);
    EXPECT_EQ(background.channelState(), 7u);
    EXPECT_EQ(background.currentImage(), "error_low_rf") << "an unknown code keeps the pattern";
    background.setChannelState(0);
    EXPECT_EQ(background.currentImage(), "cs_back");
    EXPECT_EQ(picture(background), plain);
}

TEST_F(CSBackgroundTest, TheFlipSettingIsTakenAtCreationAndByUpdateImages) {
    CSBackground background(settings());
    background.setChannelState(2);
    settings().setFlipChannelStrip(true);
    EXPECT_EQ(background.currentImage(), "error_low-battery");
    background.updateImages();
    EXPECT_TRUE(background.flipped());
    EXPECT_EQ(background.currentImage(), "error_low-battery_flipped");

    CSBackground flipped(settings());
    EXPECT_EQ(flipped.currentImage(), "cs_back_flipped");
    flipped.setChannelState(9);
    flipped.updateImages();
    EXPECT_EQ(flipped.currentImage(), "cs_back_flipped");
}

TEST_F(CSBackgroundTest, TheCodeAlreadyShownDoesNotRedraw) {
    CSBackground background(settings());
    background.resize(128, 128);
    background.show();
    QCoreApplication::processEvents();
    PaintCounter counter;
    background.installEventFilter(&counter);

    background.setChannelState(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    background.setChannelState(7);
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 1) << "a new code redraws, even one without a pattern";
}

}  // namespace
}  // namespace quenbril::test
