#include "MonitorApp/lockable/LockableViewController.h"

#include <QPalette>
#include <QResizeEvent>

#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

LockableViewController::LockableViewController(QWidget* parent) : QWidget(parent) {
    lockView_ = new LockView(this);
    lockView_->hide();
}

LockableViewController::~LockableViewController() = default;

void LockableViewController::viewDidLoad() {
    lockView_->setGeometry(0, 0, width(), 0);
    lockObserver_ = NotificationCenter::defaultCenter().addObserver(
        "QuenbrilLocked", [this](const Notification& n) { locked(n); });
    const Color c = ColorHelper::vozodDarkerGray();
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(c.red, c.green, c.blue, c.alpha));
    setPalette(palette);
    setAutoFillBackground(true);
    if (UserSettingsManager::sharedInstance().isLocked()) cover(true);
}

void LockableViewController::viewDidDisappear() { lockObserver_.reset(); }

LockView* LockableViewController::lockView() const { return lockView_; }

void LockableViewController::locked(const Notification& notification) {
    auto on = notification.userInfo["lockOn"].boolValue();
    cover(on.value_or(false));
}

bool LockableViewController::isCovered() const {
    return !lockView_->isHidden() && lockView_->height() > 0;
}

void LockableViewController::cover(bool on) {
    if (on) {
        lockView_->setGeometry(0, 0, width(), height());
        lockView_->show();
        lockView_->raise();
    } else {
        lockView_->hide();
        lockView_->setGeometry(0, 0, 0, 0);
    }
}

void LockableViewController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!lockView_->isHidden()) lockView_->setGeometry(0, 0, width(), height());
}

}  // namespace quenbril
