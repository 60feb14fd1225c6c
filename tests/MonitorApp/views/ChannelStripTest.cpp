// The channel strip's elements in both layouts and as it paints: battery, antennas, warning
// overlay, titles, input number, title colour, timecode, picture and re-layout.

#include <QBuffer>
#include <QFont>
#include <cstdlib>
#include <functional>

#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/settings/ChannelStripState.h"
#include "MonitorApp/settings/SMPTETimecode.h"
#include "tests/MonitorApp/views/StripViewsTest.h"

namespace quenbril::test {
namespace {

using Part = ChannelStrip::Part;

class ChannelStripTest : public StripViewsTest {
  protected:
    const StripElement& el(ChannelStrip& strip, Part part) { return strip.element(part); }
    /// A point of the strip's own bottom-left geometry as a widget pixel.
    static QRgb at(ChannelStrip& strip, double x, double y) {
        return pixel(strip, static_cast<int>(x), static_cast<int>(ChannelStrip::kSize - y - 1));
    }
};

TEST_F(ChannelStripTest, TheStandardLayoutHasTheTitleBelowAndTheInfoRowAbove) {
    ChannelStrip strip(viewServices());
    EXPECT_FALSE(strip.flipped());
    EXPECT_EQ(strip.size(), QSize(128, 128));
    EXPECT_EQ(el(strip, Part::Title).frame, QRectF(0, 0, 128, 27));
    EXPECT_EQ(el(strip, Part::TextBackground).frame, QRectF(0, 0, 128, 27));
    EXPECT_EQ(el(strip, Part::Divider).frame, QRectF(0, 101, 128, 27));
    EXPECT_EQ(el(strip, Part::MicCheck).frame, QRectF(0, 100, 128, 28));
    EXPECT_EQ(el(strip, Part::Input).frame, QRectF(0, 96, 32, 27));
    EXPECT_EQ(el(strip, Part::BatteryText).frame, QRectF(88, 107, 40, 14));
    EXPECT_EQ(el(strip, Part::Antenna).frame, QRectF(28, 107, 24, 14));
    EXPECT_EQ(el(strip, Part::Antenna2).frame, QRectF(52, 107, 24, 14));
    EXPECT_EQ(el(strip, Part::TimecodeParams).frame, QRectF(20, 107, 103, 14));
    EXPECT_EQ(el(strip, Part::Quality).frame, QRectF(0, 27, 128, 5));
    EXPECT_EQ(el(strip, Part::Picture).frame, QRectF(0, 27, 128, 101));
    EXPECT_EQ(el(strip, Part::BatteryIcon).pattern, "zor_bat2");
    EXPECT_EQ(el(strip, Part::Title).fontSize, 18);
    EXPECT_EQ(el(strip, Part::Title).textColor, QColor(Qt::black)) << "on the grey of no group";
    EXPECT_FALSE(strip.batteryShown());

    // The overlays lie above the texts, the mutes above the warning.
    const auto order = strip.paintOrder();
    ASSERT_EQ(order.back(), Part::ReceiverMute);
    EXPECT_EQ(order[order.size() - 2], Part::HardMute);
    EXPECT_EQ(order[order.size() - 3], Part::Warning);

    // The title bar has the colour of no group (#767676) at the bottom, the band at the top.
    EXPECT_EQ(at(strip, 64, 5), qRgb(0x76, 0x76, 0x76));
    EXPECT_NE(at(strip, 64, 115), qRgb(0x76, 0x76, 0x76));
}

TEST_F(ChannelStripTest, TheFlippedLayoutHasTheTitleAboveAndTheInfoRowBelow) {
    settings().setFlipChannelStrip(true);
    ChannelStrip strip(viewServices());
    EXPECT_TRUE(strip.flipped());
    EXPECT_EQ(el(strip, Part::Title).frame, QRectF(0, 101, 128, 27));
    EXPECT_EQ(el(strip, Part::TextBackground).frame, QRectF(0, 101, 128, 27));
    EXPECT_EQ(el(strip, Part::Divider).frame, QRectF(0, 0, 128, 27));
    EXPECT_EQ(el(strip, Part::MicCheck).frame, QRectF(0, 0, 128, 28));
    // The info row and the input number mirror the standard ones.
    EXPECT_EQ(el(strip, Part::Input).frame, QRectF(0, 5, 32, 27));
    EXPECT_EQ(el(strip, Part::BatteryText).frame, QRectF(88, 7, 40, 14));
    EXPECT_EQ(el(strip, Part::Antenna).frame, QRectF(28, 7, 24, 14));
    EXPECT_EQ(el(strip, Part::Antenna2).frame, QRectF(52, 7, 24, 14));
    EXPECT_EQ(el(strip, Part::Quality).frame, QRectF(0, 27, 128, 5)) << "not moved by the flip";
    EXPECT_EQ(el(strip, Part::BatteryIcon).pattern, "zor_bat2_flipped");

    EXPECT_EQ(at(strip, 64, 120), qRgb(0x76, 0x76, 0x76));
    EXPECT_NE(at(strip, 64, 5), qRgb(0x76, 0x76, 0x76));

    strip.setBatteryPower(100);
    EXPECT_EQ(el(strip, Part::BatteryMeter).frame, QRectF(76, 11, 13, 6));
    EXPECT_EQ(at(strip, 80, 12), qRgb(0, 255, 0)) << "the charge bar near the bottom";
}

TEST_F(ChannelStripTest, BatteryValuesShowTextAndBar) {
    ChannelStrip strip(viewServices());
    const QImage empty = picture(strip);

    strip.setBatteryPower(57);
    EXPECT_TRUE(strip.batteryShown());
    EXPECT_EQ(strip.batText(), "57%");
    const QRectF bar = el(strip, Part::BatteryMeter).frame;
    EXPECT_FLOAT_EQ(static_cast<float>(bar.width()), 7.41f);
    EXPECT_EQ(bar.topLeft(), QPointF(76, 111));
    EXPECT_EQ(bar.height(), 6);
    EXPECT_EQ(at(strip, 78, 114), qRgb(0, 255, 0)) << "green bar";
    EXPECT_NE(at(strip, 86, 114), qRgb(0, 255, 0)) << "57 % of 13 points";
    // The battery icon is drawn around the bar.
    EXPECT_NE(picture(strip).pixel(74, 14), empty.pixel(74, 14));

    strip.setBatteryPower(-1);
    EXPECT_EQ(strip.batText(), "?");
    EXPECT_EQ(el(strip, Part::BatteryMeter).frame, QRectF(76, 111, 0, 6));
    EXPECT_NE(at(strip, 78, 114), qRgb(0, 255, 0));

    strip.setBatteryPower(-2);
    EXPECT_FALSE(strip.batteryShown());
    EXPECT_EQ(strip.batText(), "");
    EXPECT_EQ(picture(strip), empty) << "no icon, no bar, no text";

    strip.setBatteryPower(150);
    EXPECT_EQ(strip.batText(), "150%");
    EXPECT_FLOAT_EQ(static_cast<float>(el(strip, Part::BatteryMeter).frame.width()), 19.5f);

    strip.setBatteryPower(-5);
    EXPECT_EQ(strip.batVal(), -5);
    EXPECT_EQ(strip.batText(), "150%") << "below -2 changes nothing shown";
}

TEST_F(ChannelStripTest, ABatteryTimeTextStaysUntilMinusOneOrMinusTwo) {
    ChannelStrip strip(viewServices());
    strip.setBatteryString("2:10");
    EXPECT_TRUE(strip.batteryShown());
    EXPECT_TRUE(strip.timeAdded());
    strip.setBatteryPower(40);
    EXPECT_EQ(strip.batText(), "2:10");
    EXPECT_FLOAT_EQ(static_cast<float>(el(strip, Part::BatteryMeter).frame.width()), 5.2f);
    strip.setBatteryPower(-1);
    EXPECT_EQ(strip.batText(), "?");
    EXPECT_FALSE(strip.timeAdded());
    strip.setBatteryPower(30);
    EXPECT_EQ(strip.batText(), "30%");

    strip.setAntennaData("AB");
    strip.removeWireless();
    EXPECT_FALSE(strip.batteryShown());
    EXPECT_EQ(strip.batText(), "");
    EXPECT_EQ(el(strip, Part::Antenna).text, "");
    EXPECT_EQ(el(strip, Part::Antenna2).text, "");
}

TEST_F(ChannelStripTest, AntennaCellsFollowTheTable) {
    ChannelStrip strip(viewServices());
    const QColor white(Qt::white);
    const QColor grey = QColor::fromRgbF(1.0 / 3, 1.0 / 3, 1.0 / 3);
    auto cells = [&] {
        return std::make_tuple(el(strip, Part::Antenna).text, el(strip, Part::Antenna).textColor,
                               el(strip, Part::Antenna2).text, el(strip, Part::Antenna2).textColor);
    };

    // Before any battery value only the timecode display goes.
    strip.setTimecode(SMPTETimecode{1, 2, 3, 4});
    ASSERT_TRUE(el(strip, Part::Timecode).attached);
    strip.setAntennaData("AB");
    EXPECT_FALSE(el(strip, Part::Timecode).attached);
    EXPECT_FALSE(el(strip, Part::TimecodeParams).attached);
    EXPECT_EQ(el(strip, Part::Antenna).text, "");

    strip.setBatteryPower(80);
    strip.setAntennaData("");
    EXPECT_EQ(cells(), std::make_tuple(QString("A"), grey, QString("B"), grey));
    strip.setAntennaData("A");
    EXPECT_EQ(cells(), std::make_tuple(QString("A"), white, QString("B"), grey));
    strip.setAntennaData("B");
    EXPECT_EQ(cells(), std::make_tuple(QString("A"), grey, QString("B"), white));
    strip.setAntennaData("AB");
    EXPECT_EQ(cells(), std::make_tuple(QString("A"), white, QString("B"), white));
    strip.setAntennaData("C");
    EXPECT_EQ(cells(), std::make_tuple(QString("C"), white, QString(""), grey));
    strip.setAntennaData("CD");
    EXPECT_EQ(cells(), std::make_tuple(QString("C"), white, QString("D"), white));
    EXPECT_FALSE(strip.longAntData());
    strip.setAntennaData("ABD");
    EXPECT_EQ(cells(), std::make_tuple(QString("AB"), white, QString("D"), white));
    EXPECT_TRUE(strip.longAntData());
}

TEST_F(ChannelStripTest, AWarningCrossFadesAndNoWarningHidesAtOnce) {
    ChannelStrip strip(viewServices());
    strip.setBatteryPower(60);
    const QImage plain = picture(strip);

    strip.setChannelState(2);
    EXPECT_EQ(el(strip, Part::BatteryMeter).background, QColor(Qt::red));
    EXPECT_FALSE(el(strip, Part::Warning).hidden);
    EXPECT_TRUE(strip.warningFadeRunning());
    EXPECT_EQ(el(strip, Part::Warning).pattern, "") << "the old (empty) pattern fades out first";
    advance(0.3);
    EXPECT_EQ(el(strip, Part::Warning).pattern, "LowBatZor2");
    EXPECT_DOUBLE_EQ(el(strip, Part::Warning).opacity, 0.0);
    advance(0.15);
    EXPECT_NEAR(el(strip, Part::Warning).opacity, 0.5, 0.02);
    advance(0.15);
    EXPECT_DOUBLE_EQ(el(strip, Part::Warning).opacity, 1.0);
    EXPECT_FALSE(strip.warningFadeRunning());
    const QImage warned = picture(strip);
    int changed = 0;
    for (int y = 30; y < 98; ++y) {
        for (int x = 0; x < 128; ++x) changed += warned.pixel(x, y) != plain.pixel(x, y);
    }
    EXPECT_GT(changed, 500) << "the battery pattern shows";

    strip.setChannelState(2);
    EXPECT_FALSE(strip.warningFadeRunning()) << "the same code twice runs nothing";

    strip.setChannelState(0);
    EXPECT_TRUE(el(strip, Part::Warning).hidden);
    EXPECT_EQ(el(strip, Part::BatteryMeter).background, QColor(Qt::green));
    EXPECT_FALSE(strip.warningFadeRunning());
    EXPECT_EQ(strip.currentWarning(), 0);
    EXPECT_EQ(picture(strip), plain);
}

TEST_F(ChannelStripTest, TheSameCodeDuringAFadeLetsItRunOn) {
    ChannelStrip strip(viewServices());
    strip.setChannelState(3);
    advance(0.1);
    strip.setChannelState(3);
    advance(0.2);
    EXPECT_EQ(el(strip, Part::Warning).pattern, "LowRFZor2") << "the fade was not restarted";

    // A new code starts over from the overlay's full opacity with the pattern shown.
    strip.setChannelState(1);
    EXPECT_DOUBLE_EQ(el(strip, Part::Warning).opacity, 1.0);
    EXPECT_EQ(el(strip, Part::Warning).pattern, "LowRFZor2");
    advance(0.6);
    EXPECT_EQ(el(strip, Part::Warning).pattern, "error_SCP2");

    strip.setChannelState(7);
    advance(0.6);
    EXPECT_EQ(el(strip, Part::Warning).pattern, "") << "an unknown code shows an empty overlay";
    EXPECT_FALSE(el(strip, Part::Warning).hidden);
    EXPECT_EQ(el(strip, Part::BatteryMeter).background, QColor(Qt::green));
}

TEST_F(ChannelStripTest, NoWarningDuringAFadeKeepsTheOverlayEmpty) {
    ChannelStrip strip(viewServices());
    strip.setChannelState(1);
    advance(0.1);
    strip.setChannelState(0);
    advance(1.0);
    EXPECT_TRUE(el(strip, Part::Warning).hidden);
    EXPECT_EQ(el(strip, Part::Warning).pattern, "") << "the stopped fade brings nothing back";

    // The next warning fades out an empty overlay, not the pattern of the cancelled one.
    strip.setChannelState(2);
    EXPECT_EQ(el(strip, Part::Warning).pattern, "");
}

TEST_F(ChannelStripTest, TitleSizeFollowsItsLength) {
    ChannelStrip strip(viewServices());
    strip.setTitle("  12345678  ");
    EXPECT_EQ(strip.title(), "12345678");
    EXPECT_EQ(el(strip, Part::Title).fontSize, 18);
    EXPECT_EQ(el(strip, Part::Title).frame, QRectF(0, 0, 128, 27));

    strip.setTitle("123456789");
    EXPECT_EQ(el(strip, Part::Title).fontSize, 16);
    EXPECT_DOUBLE_EQ(el(strip, Part::Title).frame.height(), 27 * 0.85);
    EXPECT_EQ(el(strip, Part::Title).frame.y(), 0);

    strip.setTitle("1234567890123");
    EXPECT_EQ(el(strip, Part::Title).fontSize, 12);
    EXPECT_EQ(el(strip, Part::Title).frame.height(), 27);

    // Characters, not bytes: eight accented letters are a short title.
    strip.setTitle("\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9");
    EXPECT_EQ(el(strip, Part::Title).fontSize, 18);

    // Markup is shown as written.
    strip.setTitle("<b>K</b>");
    EXPECT_EQ(strip.title(), "<b>K</b>");

    settings().setFlipChannelStrip(true);
    ChannelStrip flipped(viewServices());
    flipped.setTitle("123456789");
    EXPECT_EQ(el(flipped, Part::Title).frame.y(), 101) << "the bar's bottom edge stays";
}

TEST_F(ChannelStripTest, TitleTextIsPaintedInTheTitleBar) {
    ChannelStrip strip(viewServices());
    const QImage blank = picture(strip);
    strip.setTitle("Kick");
    const QImage titled = picture(strip);
    int inBar = 0;
    int elsewhere = 0;
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            if (blank.pixel(x, y) != titled.pixel(x, y)) (y >= 101 ? inBar : elsewhere)++;
        }
    }
    EXPECT_GT(inBar, 20);
    EXPECT_EQ(elsewhere, 0);
}

TEST_F(ChannelStripTest, InputNumberAndAlternativeText) {
    ChannelStrip strip(viewServices());
    strip.setInputChannel(98);
    EXPECT_EQ(el(strip, Part::Input).text, "99");
    EXPECT_EQ(el(strip, Part::Input).fontSize, 16);
    strip.setInputChannel(99);
    EXPECT_EQ(el(strip, Part::Input).text, "100");
    EXPECT_EQ(el(strip, Part::Input).fontSize, 10);
    strip.setAlternativeInputText("L1");
    EXPECT_EQ(el(strip, Part::Input).text, "L1");
    EXPECT_EQ(el(strip, Part::Input).fontSize, 16);
    strip.setAlternativeInputText("Amb");
    EXPECT_EQ(el(strip, Part::Input).fontSize, 10);
}

TEST_F(ChannelStripTest, TitleColourFollowsTheLuminanceOfTheGroupColour) {
    ChannelStrip strip(viewServices());
    strip.setChannelColor(Color{1, 1, 0, 1});
    EXPECT_EQ(el(strip, Part::TextBackground).background, QColor(255, 255, 0));
    EXPECT_EQ(el(strip, Part::Title).textColor, QColor(Qt::black));
    EXPECT_EQ(at(strip, 2, 2), qRgb(255, 255, 0));

    // Blue alone: luminance sqrt(0.068) = 0.26, below 0.3.
    strip.setChannelColor(Color{0, 0, 1, 1});
    EXPECT_EQ(el(strip, Part::Title).textColor, QColor(Qt::white));
    // Just over the line: green 0.361 gives 0.3001.
    strip.setChannelColor(Color{0, 0.361, 0, 1});
    EXPECT_EQ(el(strip, Part::Title).textColor, QColor(Qt::black));

    strip.setChannelColor(std::nullopt);
    EXPECT_EQ(el(strip, Part::TextBackground).background.alpha(), 0);
    EXPECT_EQ(el(strip, Part::Title).textColor, QColor(Qt::white));
    EXPECT_EQ(at(strip, 64, 5), qRgb(51, 51, 51)) << "the cell's grey shows through";
}

TEST_F(ChannelStripTest, AppearanceShowsSoloMutesAndMicCheck) {
    ChannelStrip strip(viewServices());
    ChannelStripState state;
    state.setChannelState(ChannelStripState::kSoloed);
    state.setHardMuted(true);
    strip.updateAppearance(state);
    EXPECT_EQ(strip.borderColor(), QColor(Qt::white));
    EXPECT_EQ(strip.borderWidth(), 3);
    EXPECT_EQ(pixel(strip, 0, 64), qRgb(255, 255, 255));
    EXPECT_FALSE(el(strip, Part::HardMute).hidden);
    EXPECT_TRUE(el(strip, Part::ReceiverMute).hidden);
    EXPECT_EQ(el(strip, Part::MicCheck).background.alpha(), 0) << "not in mic-check mode";
    EXPECT_EQ(strip.toolTip(), "");

    settings().setMicCheckMode(true);
    state.setHardMuted(false);
    state.setReceiverMuted(true);
    state.micCheckState().setChecked(true);
    strip.updateAppearance(state);
    EXPECT_TRUE(el(strip, Part::HardMute).hidden);
    EXPECT_FALSE(el(strip, Part::ReceiverMute).hidden);
    EXPECT_EQ(el(strip, Part::MicCheck).background, QColor::fromRgbF(0, 1, 0, 0.5));
    EXPECT_EQ(strip.toolTip(), "Long click checks/unchecks");
    state.micCheckState().setChecked(false);
    strip.updateAppearance(state);
    EXPECT_EQ(el(strip, Part::MicCheck).background, QColor::fromRgbF(1, 0, 0, 0.5));
    state.micCheckState().setNeedsChecking(false);
    strip.updateAppearance(state);
    EXPECT_EQ(el(strip, Part::MicCheck).background.alpha(), 0);
}

TEST_F(ChannelStripTest, TimecodeReadOut) {
    ChannelStrip strip(viewServices());
    strip.setTimecode(SMPTETimecode{1, 2, 3, 24});
    EXPECT_TRUE(el(strip, Part::Timecode).attached);
    EXPECT_TRUE(el(strip, Part::TimecodeParams).attached);
    EXPECT_EQ(el(strip, Part::Timecode).text, "01:02:03");
    EXPECT_EQ(el(strip, Part::Timecode).textColor, QColor(178, 255, 51));
    EXPECT_EQ(el(strip, Part::Timecode).frame, QRectF(0, 0, 128, 27));
    strip.setTimecodeNotFound(4);
    EXPECT_EQ(el(strip, Part::Timecode).text, "Lost 4 s ago");
    strip.setTimecodeNotFound(-1);
    EXPECT_EQ(el(strip, Part::Timecode).text, "No timecode");
    strip.setTcParamText("25 fps   -12.0 dB");
    EXPECT_EQ(strip.tcParamText(), "25 fps   -12.0 dB");
    EXPECT_EQ(at(strip, 2, 2), qRgb(0, 0, 0)) << "the read-out covers the title bar";
}

TEST_F(ChannelStripTest, ThePerformerPictureShowsAtTheSettingsOpacity) {
    settings().setShowImages(40);
    ChannelStrip strip(viewServices());
    QImage red(16, 16, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    // TIFF where the image plugins are installed, PNG otherwise: both decode alike.
    if (!red.save(&buffer, "TIFF")) {
        ASSERT_TRUE(red.save(&buffer, "PNG"));
    }
    const Bytes bytes(encoded.begin(), encoded.end());

    strip.setImage(&bytes);
    EXPECT_FALSE(el(strip, Part::Picture).picture.isNull());
    EXPECT_DOUBLE_EQ(el(strip, Part::Picture).opacity, 0.4);
    EXPECT_EQ(el(strip, Part::Picture).z, -5);
    const QRgb tinted = at(strip, 64, 64);
    EXPECT_NEAR(qRed(tinted), 0.4 * 255 + 0.6 * 51, 2);
    EXPECT_NEAR(qGreen(tinted), 0.6 * 51, 2);

    const Bytes junk{1, 2, 3};
    strip.setImage(&junk);
    EXPECT_TRUE(el(strip, Part::Picture).picture.isNull());
    strip.setImage(&bytes);
    strip.setImage(nullptr);
    EXPECT_TRUE(el(strip, Part::Picture).picture.isNull());
    EXPECT_EQ(at(strip, 64, 64), qRgb(51, 51, 51));
}

TEST_F(ChannelStripTest, RedrawTakesTheNewLayoutAndHidesTheBattery) {
    ChannelStrip strip(viewServices());
    strip.setBatteryString("1:00");
    strip.setAntennaData("A");
    settings().setFlipChannelStrip(true);
    strip.redraw();
    EXPECT_TRUE(strip.flipped());
    EXPECT_FALSE(strip.batteryShown());
    EXPECT_EQ(strip.batText(), "");
    EXPECT_FALSE(strip.timeAdded());
    EXPECT_EQ(el(strip, Part::Title).frame, QRectF(0, 101, 128, 27));
    EXPECT_EQ(el(strip, Part::Divider).frame, QRectF(0, 0, 128, 27));
    EXPECT_EQ(el(strip, Part::Antenna2).frame, QRectF(52, 7, 24, 14));
    EXPECT_EQ(el(strip, Part::BatteryIcon).pattern, "zor_bat2_flipped");
    EXPECT_EQ(el(strip, Part::MicCheck).frame, QRectF(0, 100, 128, 28)) << "left where it was";

    strip.setBatteryPower(50);
    EXPECT_TRUE(strip.batteryShown());
    EXPECT_EQ(el(strip, Part::BatteryMeter).frame.y(), 11);
}

// What a strip shows of its title, input number, battery (icon, bar and time), antennas and
// timecode lies where no border of the strip covers it, at every border width and in both
// layouts, whichever face stands in for the strips' font. Each is looked at as the pixels it
// changes from the strip without it; the strip is never given a state, so no border hides them.
TEST_F(ChannelStripTest, EveryElementLiesClearOfTheBorderAtEveryWidthAndInBothLayouts) {
    using SetUp = std::function<void(ChannelStrip&)>;
    const SetUp bare = [](ChannelStrip&) {};
    const SetUp timecode = [](ChannelStrip& s) { s.setTimecode({1, 2, 3, 4}); };
    const struct {
        const char* what;
        SetUp without;
        SetUp with;
    } looks[] = {
        {"title", bare, [](ChannelStrip& s) { s.setTitle("Juliet"); }},
        {"title with descenders", bare, [](ChannelStrip& s) { s.setTitle("Sampson"); }},
        {"ten-character title", bare, [](ChannelStrip& s) { s.setTitle("Lead vocal"); }},
        {"input number", bare, [](ChannelStrip& s) { s.setInputChannel(2); }},
        {"input number 100", bare, [](ChannelStrip& s) { s.setInputChannel(99); }},
        {"battery, time and antennas", bare,
         [](ChannelStrip& s) {
             s.setBatteryPower(57);
             s.setBatteryString("1:23");
             s.setAntennaData("AB");
         }},
        {"battery percentage", bare, [](ChannelStrip& s) { s.setBatteryPower(100); }},
        {"timecode", [](ChannelStrip& s) { s.setTimecodeNotFound(-1); },
         [](ChannelStrip& s) {
             s.setTimecode({88, 88, 88, 0});
         }},
        {"timecode parameters", timecode,
         [&](ChannelStrip& s) {
             timecode(s);
             s.setTcParamText("25 fps   -12.0 dB");
         }},
    };
    auto drawn = [](const SetUp& setUp) {
        ChannelStrip strip(viewServices());
        setUp(strip);
        return picture(strip);
    };
    for (const char* face : {"Roboto", "DejaVu Sans"}) {
        QFont::insertSubstitution("Nexa Bold", face);
        for (bool flip : {false, true}) {
            for (int width = 1; width <= 5; ++width) {
                settings().setFlipChannelStrip(flip);
                settings().setChannelStripBorder(width);
                // The widest border: that of a strip in any state but off.
                const int widest = width + 1;
                const QRect clear(widest, widest, 128 - 2 * widest, 128 - 2 * widest);
                {
                    ChannelStrip strip(viewServices());
                    EXPECT_EQ(strip.clearOfBorder(), QRectF(clear));
                    ChannelStripState active;
                    active.setChannelState(ChannelStripState::kActive);
                    strip.updateAppearance(active);
                    EXPECT_EQ(strip.borderWidth(), widest);
                    EXPECT_EQ(QColor(pixel(strip, widest - 1, 64)),
                              toQColor(ColorHelper::vozodGreen()));
                }
                for (const auto& look : looks) {
                    SCOPED_TRACE(testing::Message() << look.what << ", " << face << ", border "
                                                    << width << (flip ? ", flipped" : ""));
                    const QImage before = drawn(look.without);
                    const QImage after = drawn(look.with);
                    QRect changed;
                    for (int y = 0; y < 128; ++y) {
                        for (int x = 0; x < 128; ++x) {
                            const QColor a = before.pixelColor(x, y);
                            const QColor b = after.pixelColor(x, y);
                            if (std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                                    std::abs(a.blue() - b.blue()) >
                                24) {
                                changed |= QRect(x, y, 1, 1);
                            }
                        }
                    }
                    ASSERT_FALSE(changed.isEmpty()) << "nothing shows";
                    EXPECT_TRUE(clear.contains(changed))
                        << "drawn at " << changed.x() << "," << changed.y() << " "
                        << changed.width() << "x" << changed.height() << ", clear of the border "
                        << clear.x() << " to " << clear.right();
                }
            }
        }
        QFont::removeSubstitutions("Nexa Bold");
    }
}

TEST_F(ChannelStripTest, QualityLightsTheMetersCells) {
    ChannelStrip strip(viewServices());
    strip.setPendingQuality(-3);
    EXPECT_EQ(strip.pendingQuality(), -3);
    EXPECT_EQ(strip.currentQuality(), 0);
    strip.setQuality(3);
    EXPECT_EQ(strip.currentQuality(), 3);
    const QColor magenta = QColor::fromRgbF(1, 0, 1);
    EXPECT_EQ(at(strip, 10, 29), magenta.rgb()) << "first cell";
    EXPECT_EQ(at(strip, 60, 29), magenta.rgb()) << "third cell";
    EXPECT_EQ(at(strip, 90, 29), qRgb(0, 0, 0)) << "fourth cell";
    strip.setQuality(0);
    EXPECT_EQ(at(strip, 10, 29), qRgb(51, 51, 51));
}

}  // namespace
}  // namespace quenbril::test
