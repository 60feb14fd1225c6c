#include "MonitorApp/lockable/LockableViewController.h"

#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/lockable/LockNotifications.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

LockableViewController::LockableViewController(QWidget* parent) : QWidget(parent) {}

LockableViewController::~LockableViewController() = default;

void LockableViewController::viewDidLoad() {
    if (!lockView_) {
        lockView_ = new LockView(this);
        lockView_->setGeometry(0, 0, width(), 0);
    }
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, toQColor(ColorHelper::vozodDarkerGray()));
    setPalette(palette);
    setAutoFillBackground(true);
    followLock();
}

void LockableViewController::viewDidDisappear() { lockObserver_.reset(); }

void LockableViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A panel shown again follows the lock again, and one shown while locked is covered.
    if (lockView_ && !lockObserver_) followLock();
}

void LockableViewController::followLock() {
    if (!lockObserver_) {
        lockObserver_ = NotificationCenter::defaultCenter().addObserver(
            LockNotification::kLocked, [this](const Notification& n) { locked(n); });
    }
    setCovered(UserSettingsManager::sharedInstance().isLocked());
}

void LockableViewController::locked(const Notification& notification) {
    setCovered(notification.userInfo[LockNotification::kLockOnKey].boolValue().value_or(false));
}

void LockableViewController::setCovered(bool covered) {
    if (!lockView_) return;
    if (covered) {
        lockView_->cover();
    } else {
        lockView_->uncover();
    }
}

bool LockableViewController::isCovered() const { return lockView_ && lockView_->isCovering(); }

}  // namespace quenbril
