// The large timecode window: stored and stepped sizes, the age that turns the digits red, the
// source it is judged by, the first timecode strip on first opening, and the refresh of a window
// shown again.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "MonitorApp/panels/ui/BigLTCViewController.h"
#include "MonitorApp/settings/LTCManager.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"

namespace quenbril {
namespace {

const QString kGreen = "#b2ff33";
const QString kRed = "#e53935";

class BigLTCTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        manager().initFromProperyArray(
            Array{strip(1), timecodeStrip(5, "TC main"), timecodeStrip(6, "TC spare")});
    }

    static Dictionary timecodeStrip(int64_t csID, const std::string& name) {
        Dictionary d = strip(csID, "A", name);
        d.set("wirelessName", "LTC Timecode");
        return d;
    }
    static void receive(int64_t csID, int hours, int minutes, int seconds, int frames) {
        LTCManager::sharedInstance().tcReceived(Dictionary{{"CSID", csID},
                                                           {"FPS", 25},
                                                           {"Hours", hours},
                                                           {"Minutes", minutes},
                                                           {"Seconds", seconds},
                                                           {"Frames", frames}});
    }
    static LTCManager& ltc() { return LTCManager::sharedInstance(); }
    /// A window opened with `stored` as the stored size (none: no stored size).
    std::unique_ptr<BigLTCViewController> openWith(std::optional<int64_t> stored) {
        if (stored) {
            defaults().setInteger(*stored, BigLTCViewController::kFontSizeKey);
        } else {
            defaults().removeObjectForKey(BigLTCViewController::kFontSizeKey);
        }
        auto window = std::make_unique<BigLTCViewController>(sharedPanelServices());
        window->show();
        return window;
    }
    static QString digits(const BigLTCViewController& w) { return w.bigLabel()->text(); }
    static QString colour(const BigLTCViewController& w) { return w.digitColor().name(); }
    static int pointSize(const BigLTCViewController& w) { return w.bigLabel()->font().pointSize(); }
};

TEST_F(BigLTCTest, StoredSizesApplyFrom46To299Only) {
    for (int64_t ignored : {45, 300}) {
        auto window = openWith(ignored);
        EXPECT_EQ(window->fontSize(), 96) << ignored;
        EXPECT_EQ(pointSize(*window), 96) << ignored;
    }
    for (int64_t applied : {46, 299}) {
        auto window = openWith(applied);
        EXPECT_EQ(window->fontSize(), applied);
        EXPECT_EQ(pointSize(*window), applied);
        EXPECT_EQ(window->bigLabel()->font().family(), "Monaco");
    }
}

TEST_F(BigLTCTest, StepsStopAt46And266AndPresetsChangeTheFontOnly) {
    auto window = openWith(56);
    window->smallerButton()->click();
    EXPECT_EQ(window->fontSize(), 46);
    window->smallerButton()->click();
    EXPECT_EQ(window->fontSize(), 46);
    window = openWith(256);
    window->largerButton()->click();
    EXPECT_EQ(window->fontSize(), 266);
    window->largerButton()->click();
    EXPECT_EQ(window->fontSize(), 266);
    EXPECT_EQ(pointSize(*window), 266);
    window->sizeButtonClicked(7);
    EXPECT_EQ(window->fontSize(), 266) << "another tag changes nothing";

    window = openWith(std::nullopt);
    window->sizeChanged(2);
    EXPECT_EQ(pointSize(*window), 168);
    EXPECT_EQ(window->fontSize(), 96);
    window->sizeChanged(9);
    EXPECT_EQ(pointSize(*window), 168);
    window->largerButton()->click();
    EXPECT_EQ(pointSize(*window), 106);
    // The size closing stores is the stepped one, never a preset.
    window->sizeChanged(3);
    window->close();
    EXPECT_EQ(defaults().integerForKey(BigLTCViewController::kFontSizeKey), 106);
}

TEST_F(BigLTCTest, DigitsRunGreenFor1Point5SecondsThenFreezeRed) {
    receive(5, 10, 20, 30, 4);
    auto window = openWith(std::nullopt);
    ASSERT_EQ(ltc().tcCSIndex(), 5);
    EXPECT_EQ(digits(*window), "10:20:30:04");
    EXPECT_EQ(colour(*window), kGreen);
    loop_->advance(0.5);
    EXPECT_EQ(digits(*window).left(8), "10:20:30") << "the refresh timer extrapolates";
    EXPECT_NE(digits(*window), "10:20:30:04") << "the refresh timer extrapolates";
    loop_->advance(0.5);
    window->callback();
    EXPECT_EQ(digits(*window), "10:20:31:04");
    loop_->advance(0.5);
    window->callback();
    EXPECT_EQ(colour(*window), kGreen) << "1.5 s old is still fresh";
    loop_->advance(0.1);
    EXPECT_EQ(colour(*window), kRed);
    EXPECT_EQ(digits(*window), "10:20:30:04") << "the last value received, not extrapolated";
    loop_->advance(5);
    EXPECT_EQ(digits(*window), "10:20:30:04");
    receive(5, 10, 20, 40, 0);
    loop_->advance(0.1);
    EXPECT_EQ(colour(*window), kGreen);
}

TEST_F(BigLTCTest, TheAgeIsTheChosenSourcesOwn) {
    auto window = openWith(std::nullopt);
    EXPECT_EQ(digits(*window), "00:00:00:00");
    EXPECT_EQ(colour(*window), kRed) << "no timecode at all";
    // Source 5 runs; the manager's last selection is its record.
    receive(5, 1, 2, 3, 4);
    ltc().getTimecode(5);
    window->channelButton()->setCurrentIndex(1);
    emit window->channelButton()->activated(1);
    ASSERT_EQ(ltc().tcCSIndex(), 6);
    loop_->advance(0.1);
    EXPECT_EQ(digits(*window), "00:00:00:00") << "another source's timecode is not this one's";
    EXPECT_EQ(colour(*window), kRed);
}

TEST_F(BigLTCTest, FirstOpeningTakesTheFirstTimecodeStrip) {
    ASSERT_EQ(ltc().tcCSIndex(), -1);
    auto window = openWith(std::nullopt);
    EXPECT_EQ(ltc().tcCSIndex(), 5);
    EXPECT_EQ(window->chosenCSID(), 5);
    ASSERT_EQ(window->channelButton()->count(), 2);
    EXPECT_EQ(window->channelButton()->itemText(0), "TC main");
    EXPECT_EQ(window->channelButton()->itemText(1), "TC spare");
    EXPECT_EQ(window->channelButton()->currentData().toLongLong(), 5);
    window->close();

    // A source chosen before is kept on the next opening.
    ltc().setTcCSIndex(6);
    window->show();
    EXPECT_EQ(window->channelButton()->currentText(), "TC spare");
    EXPECT_EQ(ltc().tcCSIndex(), 6);
}

TEST_F(BigLTCTest, AWindowShownAgainRunsAgain) {
    auto window = openWith(std::nullopt);
    EXPECT_TRUE(window->isRunning());
    const size_t timers = loop_->timerCount();
    window->close();
    EXPECT_FALSE(window->isRunning());
    EXPECT_EQ(loop_->timerCount(), timers - 1);
    receive(5, 0, 0, 1, 0);
    loop_->advance(0.2);
    EXPECT_EQ(digits(*window), "00:00:00:00") << "a hidden window is not refreshed";
    window->show();
    window->show();  // brought forward: no second timer
    loop_->advance(0.2);
    EXPECT_EQ(colour(*window), kGreen);
    EXPECT_EQ(digits(*window).left(8), "00:00:01");
    EXPECT_EQ(loop_->timerCount(), timers);
}

TEST_F(BigLTCTest, TheWindowLevelFollowsTheStoredSetting) {
    auto window = openWith(std::nullopt);
    EXPECT_FALSE(window->alwaysOnTop()->isChecked());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    window->alwaysOnTop()->click();
    EXPECT_TRUE(defaults().boolForKey(BigLTCViewController::kOnTopKey));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    window->close();
    EXPECT_TRUE(defaults().objectForKey(BigLTCViewController::kFrameName).isString());
}

}  // namespace
}  // namespace quenbril
