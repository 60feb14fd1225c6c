// The stand-in strip view as it paints: the grey cell, the border of each solo state and the
// title.

#include "MonitorApp/channelstrips/ui/PlaceholderStripView.h"
#include "MonitorApp/settings/ChannelStripState.h"
#include "tests/MonitorApp/channelstrips/ui/StripWidgetsTest.h"

namespace quenbril::test {
namespace {

class PlaceholderStripViewTest : public StripWidgetsTest {
  protected:
    /// The view's look in `channelState`.
    void show(uint64_t channelState) {
        state.setChannelState(channelState);
        view.updateAppearance(state);
    }
    /// A pixel of the left edge, halfway down, `x` points in.
    QRgb edge(int x) { return pixel(view, x, 64); }

    PlaceholderStripView view;
    ChannelStripState state;
};

TEST_F(PlaceholderStripViewTest, TheCellIsGreyPointTwoWithAClearBorderUntilTheFirstUpdate) {
    ASSERT_EQ(view.size(), QSize(128, 128));
    const QRgb grey = qRgb(51, 51, 51);
    EXPECT_EQ(pixel(view, 64, 100), grey);
    EXPECT_EQ(edge(0), grey) << "no border is drawn before the strip has a state";
}

TEST_F(PlaceholderStripViewTest, TheBorderFollowsTheSoloState) {
    const QRgb grey = rgb(PlaceholderStripView::backgroundColor());
    show(ChannelStripState::kOff);
    EXPECT_EQ(edge(0), rgb(QColor::fromRgbF(0.5, 0.5, 0.5))) << "the theme's border grey";
    EXPECT_EQ(edge(1), rgb(QColor::fromRgbF(0.5, 0.5, 0.5)));
    EXPECT_EQ(edge(2), grey) << "two points wide";

    show(ChannelStripState::kActive);
    EXPECT_EQ(edge(2), qRgb(178, 255, 51)) << "green, one point wider";
    EXPECT_EQ(edge(3), grey);

    for (uint64_t solo : {ChannelStripState::kSoloed, ChannelStripState::kHardSoloed}) {
        show(solo);
        EXPECT_EQ(edge(0), qRgb(255, 255, 255)) << "state " << solo;
        EXPECT_EQ(edge(2), qRgb(255, 255, 255)) << "state " << solo;
    }

    // Auto-solo: a half-transparent green over the cell.
    show(ChannelStripState::kAutoSoloed);
    const QRgb blended = edge(1);
    EXPECT_NEAR(qRed(blended), (27 + 51) / 2, 1);
    EXPECT_NEAR(qGreen(blended), (255 + 51) / 2, 1);
    EXPECT_NEAR(qBlue(blended), (88 + 51) / 2, 1);

    show(7);
    EXPECT_EQ(edge(1), blended) << "a state the strip does not know changes nothing";
}

TEST_F(PlaceholderStripViewTest, TheBorderWidthAndColourComeFromTheSettings) {
    settings().setChannelStripBorder(4);
    ASSERT_TRUE(ColorHelper::saveColorForKey("colorForChannelStripBorder", Color{1, 0, 0, 1}));
    show(ChannelStripState::kOff);
    EXPECT_EQ(edge(3), qRgb(255, 0, 0));
    EXPECT_EQ(edge(4), rgb(PlaceholderStripView::backgroundColor()));
    show(ChannelStripState::kSoloed);
    EXPECT_EQ(edge(4), qRgb(255, 255, 255));
}

TEST_F(PlaceholderStripViewTest, TheTitleIsPaintedAsWritten) {
    const QImage blank = view.grab().toImage();
    view.setTitle("<b>Kick</b>");
    EXPECT_EQ(view.title(), "<b>Kick</b>");
    const QImage titled = view.grab().toImage();
    int changedInTitle = 0;
    int changedBelow = 0;
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            if (blank.pixel(x, y) == titled.pixel(x, y)) continue;
            (y < 30 ? changedInTitle : changedBelow)++;
        }
    }
    EXPECT_GT(changedInTitle, 20) << "the title is drawn at the top";
    EXPECT_EQ(changedBelow, 0);
}

TEST_F(PlaceholderStripViewTest, BatteryTextFollowsTheStripRules) {
    view.setBatteryPower(45);
    EXPECT_EQ(view.batText(), "45%");
    view.setBatteryString("1:20");
    view.setBatteryPower(40);
    EXPECT_EQ(view.batText(), "1:20") << "a battery time stays until the battery is hidden";
    EXPECT_TRUE(view.timeAdded());
    view.setBatteryPower(-2);
    EXPECT_EQ(view.batText(), "");
    view.setBatteryPower(-1);
    EXPECT_EQ(view.batText(), "?");
}

}  // namespace
}  // namespace quenbril::test
