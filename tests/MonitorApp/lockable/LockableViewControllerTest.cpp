#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/lockable/LockNotifications.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

namespace quenbril {
namespace {

/// A panel with one button and one text field.
class Panel : public LockableViewController {
  public:
    Panel()
        : LockableViewController(NotificationCenter::defaultCenter(),
                                 UserSettingsManager::sharedInstance()) {
        button = new QPushButton("Go", this);
        button->setGeometry(10, 10, 80, 30);
        field = new QLineEdit(this);
        field->setGeometry(10, 50, 80, 30);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        resize(200, 100);
    }
    QPushButton* button;
    QLineEdit* field;
    int clicks = 0;

  protected:
    // A panel of its own mind: the base class's handling is not called.
    void showEvent(QShowEvent*) override {}
};

class LockableTest : public SettingsTest {
  protected:
    static void postLock(bool on) {
        NotificationCenter::defaultCenter().post(LockNotification::kLocked,
                                                 Dictionary{{LockNotification::kLockOnKey, on}});
    }
    static int covers(const QWidget& w) {
        return static_cast<int>(w.findChildren<LockView*>(Qt::FindDirectChildrenOnly).size());
    }
    static UserSettingsManager& settings() { return UserSettingsManager::sharedInstance(); }
};

TEST_F(LockableTest, LockingTwiceLeavesOneCoverInFrontOfThePanel) {
    Panel panel;
    panel.viewDidLoad();
    panel.show();
    EXPECT_FALSE(panel.isCovered());
    postLock(true);
    postLock(true);
    EXPECT_TRUE(panel.isCovered());
    EXPECT_EQ(covers(panel), 1);
    EXPECT_EQ(panel.childAt(50, 25), panel.lockView());  // over the button
    EXPECT_EQ(panel.lockView()->geometry(), panel.rect());
    panel.resize(300, 150);  // follows the panel
    EXPECT_EQ(panel.lockView()->geometry(), panel.rect());
    postLock(false);
    EXPECT_FALSE(panel.isCovered());
    EXPECT_FALSE(panel.lockView()->isVisible());
    EXPECT_EQ(covers(panel), 1);
}

TEST_F(LockableTest, WhileLockedNoClickOrKeyReachesTheControls) {
    Panel panel;
    panel.viewDidLoad();
    panel.show();
    postLock(true);
    QTest::mouseClick(panel.button, Qt::LeftButton);
    QTest::keyClick(panel.button, Qt::Key_Space);
    QTest::keyClicks(panel.field, "abc");
    EXPECT_EQ(panel.clicks, 0);
    EXPECT_EQ(panel.field->text(), "");
    postLock(false);
    QTest::mouseClick(panel.button, Qt::LeftButton);
    QTest::keyClicks(panel.field, "abc");
    EXPECT_EQ(panel.clicks, 1);
    EXPECT_EQ(panel.field->text(), "abc");
}

TEST_F(LockableTest, AControlDisabledByThePanelStaysDisabledAfterTheLock) {
    Panel panel;
    panel.viewDidLoad();
    panel.button->setEnabled(false);
    postLock(true);
    postLock(false);
    EXPECT_FALSE(panel.button->isEnabled());
    EXPECT_TRUE(panel.field->isEnabled());
}

TEST_F(LockableTest, TheCoverGrowsFromTheBottomOverTwoSeconds) {
    Panel panel;
    panel.viewDidLoad();
    panel.show();
    const QImage open = panel.grab().toImage();
    // Covered, a pixel is much darker than it was.
    auto covered = [&open](const QImage& image, int x, int y) {
        return image.pixelColor(x, y).red() * 10 < open.pixelColor(x, y).red() * 6;
    };
    postLock(true);
    EXPECT_EQ(panel.lockView()->shownFraction(), 0.0);
    loop_->advance(1.0);
    EXPECT_NEAR(panel.lockView()->shownFraction(), 0.5, 0.02);
    const QImage half = panel.grab().toImage();
    EXPECT_TRUE(covered(half, 100, 95));
    EXPECT_FALSE(covered(half, 100, 5));
    loop_->advance(1.0);
    EXPECT_EQ(panel.lockView()->shownFraction(), 1.0);
    const QImage full = panel.grab().toImage();
    EXPECT_TRUE(covered(full, 100, 5));
    EXPECT_TRUE(covered(full, 50, 25));  // over the button too
}

TEST_F(LockableTest, UnlockingANeverLockedPanelRemovesNothing) {
    Panel panel;
    panel.viewDidLoad();
    postLock(false);
    EXPECT_FALSE(panel.isCovered());
    EXPECT_EQ(panel.lockView()->shownFraction(), 0.0);
    EXPECT_EQ(covers(panel), 1);
    EXPECT_TRUE(panel.isEnabled());
}

TEST_F(LockableTest, APanelShownWhileLockedIsCoveredAtOnce) {
    settings().setIsLocked(true);
    Panel panel;
    panel.viewDidLoad();
    EXPECT_TRUE(panel.isCovered());
    panel.show();
    QTest::mouseClick(panel.button, Qt::LeftButton);
    EXPECT_EQ(panel.clicks, 0);
}

TEST_F(LockableTest, APanelFollowsTheLockAgainWheneverItIsShown) {
    Panel panel;
    panel.viewDidLoad();
    panel.show();
    panel.hide();
    panel.viewDidDisappear();
    postLock(true);  // gone: no reaction
    EXPECT_FALSE(panel.isCovered());
    settings().setIsLocked(true);
    panel.show();  // shown again while locked
    EXPECT_TRUE(panel.isCovered());
    postLock(false);
    EXPECT_FALSE(panel.isCovered());

    // Gone while covered, shown again after the unlock: no stale cover.
    postLock(true);
    panel.hide();
    panel.viewDidDisappear();
    settings().setIsLocked(false);
    postLock(false);
    EXPECT_TRUE(panel.isCovered());
    panel.show();
    EXPECT_FALSE(panel.isCovered());
}

TEST_F(LockableTest, LockablePanelsHaveTheDarkerGreyBackground) {
    Panel panel;
    panel.viewDidLoad();
    EXPECT_EQ(panel.grab().toImage().pixelColor(150, 90), toQColor(ColorHelper::vozodDarkerGray()));
}

TEST_F(LockableTest, APanelFollowsTheLockOfTheServicesItIsMadeWith) {
    NotificationCenter center;
    UserDefaults defaults(root_ + "/own", "Own");
    UserSettingsManager own(defaults);
    own.setIsLocked(true);
    LockableViewController panel(center, own);
    panel.viewDidLoad();
    EXPECT_TRUE(panel.isCovered()) << "its own settings are locked, the shared ones are not";
    postLock(false);  // the shared centre: not the panel's
    EXPECT_TRUE(panel.isCovered());
    center.post(LockNotification::kLocked, Dictionary{{LockNotification::kLockOnKey, false}});
    EXPECT_FALSE(panel.isCovered());
}

}  // namespace
}  // namespace quenbril
