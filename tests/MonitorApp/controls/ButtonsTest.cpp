#include <gtest/gtest.h>

#include <QTest>

#include "MonitorApp/controls/LongClickButton.h"
#include "MonitorApp/controls/LongClickButtonDelegate.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/controls/QBButtonDelegate.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

namespace quenbril {
namespace {

struct Reports : QBButtonDelegate, LongClickButtonDelegate {
    void QBButtonClicked(QBButton&) override { ++clicks; }
    void QBButtonLongClicked(QBButton&) override { ++longClicks; }
    void LongClickButtonClicked(LongClickButton&) override { ++clicks; }
    void LongClickButtonLongClicked(LongClickButton&) override { ++longClicks; }
    int clicks = 0;
    int longClicks = 0;
};

class ButtonsTest : public SettingsTest {
  protected:
    void press(QWidget& w) { QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(5, 5)); }
    void release(QWidget& w) { QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(5, 5)); }
    Reports reports;
};

class QBButtonTest : public ButtonsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ButtonsTest::SetUp());
        button = std::make_unique<QBButton>();
        button->resize(60, 30);
        button->setDelegate(&reports);
    }
    void TearDown() override {
        button.reset();
        ButtonsTest::TearDown();
    }
    std::unique_ptr<QBButton> button;
};

TEST_F(QBButtonTest, AShortPressClicksAtTheReleaseAndAHeldOneLongClicksOnceAsTimeRunsOut) {
    press(*button);
    EXPECT_EQ(button->currentImageName(), "GR_down.png");
    loop_->advance(0.49);
    EXPECT_EQ(reports.clicks, 0);
    release(*button);
    EXPECT_EQ(reports.clicks, 1);
    EXPECT_EQ(reports.longClicks, 0);
    EXPECT_EQ(button->currentImageName(), "GR_up.png");

    press(*button);
    loop_->advance(0.5);
    EXPECT_EQ(reports.longClicks, 1);  // before the release
    loop_->advance(2.0);
    release(*button);
    EXPECT_EQ(reports.longClicks, 1);
    EXPECT_EQ(reports.clicks, 1);  // nothing at the release
    EXPECT_EQ(loop_->timerCount(), 0u);
}

TEST_F(QBButtonTest, ItsEnabledFlagDoesNotStopReports) {
    button->setButtonEnabled(false);
    press(*button);
    release(*button);
    EXPECT_EQ(reports.clicks, 1);
    EXPECT_FALSE(button->buttonEnabled());
}

TEST_F(QBButtonTest, APressCutShortByDisablingTheButtonReportsNothing) {
    press(*button);
    button->setEnabled(false);  // the lock arrives while the button is held
    loop_->advance(1.0);
    EXPECT_EQ(reports.longClicks, 0);
    EXPECT_EQ(button->currentImageName(), "GR_up.png");
    button->setEnabled(true);
    release(*button);  // the press is gone: no click either
    EXPECT_EQ(reports.clicks, 0);
}

TEST_F(QBButtonTest, TitlesShowInCapitalsAndKeepTheirGivenForm) {
    button->setTitle("Solo clear");
    EXPECT_EQ(button->title(), "Solo clear");
    EXPECT_EQ(button->shownTitle(), "SOLO CLEAR");
    button->setTextColor(Qt::yellow);
    EXPECT_EQ(button->textColor(), QColor(Qt::yellow));
}

TEST_F(QBButtonTest, AlarmAndImageSwitchesDrawFlatWithoutTheResources) {
    QImage face = button->grab().toImage();
    EXPECT_EQ(face.pixelColor(1, 1), toQColor(ColorHelper::vozodDarkGray()));
    button->setAlarm(true);
    EXPECT_EQ(button->currentImageName(), "GR_red.png");
    face = button->grab().toImage();
    EXPECT_EQ(face.pixelColor(1, 1), toQColor(ColorHelper::vozodRed()));
    button->setAlarm(false);
    button->setUpImage("Chat_red.png");
    EXPECT_EQ(button->currentImageName(), "Chat_red.png");
    press(*button);
    button->setUpImage("Chat_up.png");  // while pressed: shown at the release
    EXPECT_EQ(button->currentImageName(), "GR_down.png");
    release(*button);
    EXPECT_EQ(button->currentImageName(), "Chat_up.png");
}

class LongClickButtonTest : public ButtonsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ButtonsTest::SetUp());
        button = std::make_unique<LongClickButton>();
        button->resize(60, 30);
        button->setDelegate(&reports);
        QPixmap red(8, 8);
        red.fill(Qt::red);
        button->setAlternateIcon(QIcon(red));
        QObject::connect(button.get(), &QPushButton::clicked, [this] { ++signalled; });
    }
    void TearDown() override {
        button.reset();
        ButtonsTest::TearDown();
    }
    std::unique_ptr<LongClickButton> button;
    int signalled = 0;
};

TEST_F(LongClickButtonTest, TellsAClickFromALongClickAndNeverSignalsClicked) {
    press(*button);
    EXPECT_TRUE(button->isDown());
    EXPECT_TRUE(button->alternateIcon().isNull());  // swapped in
    EXPECT_FALSE(button->icon().isNull());
    loop_->advance(0.49);
    release(*button);
    EXPECT_FALSE(button->isDown());
    EXPECT_TRUE(button->icon().isNull());
    EXPECT_EQ(reports.clicks, 1);

    press(*button);
    loop_->advance(0.5);
    EXPECT_EQ(reports.longClicks, 1);
    release(*button);
    EXPECT_EQ(reports.clicks, 1);
    EXPECT_EQ(reports.longClicks, 1);
    EXPECT_EQ(signalled, 0);
}

TEST_F(LongClickButtonTest, ADisabledButtonShowsNoPressAndReportsNothing) {
    button->setEnabled(false);
    press(*button);
    EXPECT_FALSE(button->isDown());
    EXPECT_TRUE(button->icon().isNull());
    loop_->advance(1.0);
    release(*button);
    EXPECT_EQ(reports.clicks + reports.longClicks + signalled, 0);

    button->setEnabled(true);
    press(*button);
    button->setEnabled(false);  // disabled while held
    loop_->advance(1.0);
    EXPECT_EQ(reports.longClicks, 0);
    EXPECT_FALSE(button->isDown());
    EXPECT_TRUE(button->icon().isNull());
}

}  // namespace
}  // namespace quenbril
