#include "MonitorApp/lockable/LockableViewController.h"

#include <QEvent>
#include <functional>

#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/lockable/LockNotifications.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

namespace {

/// Calls `fn` whenever the watched widget is shown.
class ShowWatcher : public QObject {
  public:
    ShowWatcher(QObject* parent, std::function<void()> fn) : QObject(parent), fn_(std::move(fn)) {}
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Show) fn_();
        return false;
    }

  private:
    std::function<void()> fn_;
};

}  // namespace

LockableViewController::LockableViewController(NotificationCenter& center,
                                               const UserSettingsManager& settings, QWidget* parent)
    : QWidget(parent), center_(center), settings_(settings) {}

LockableViewController::~LockableViewController() = default;

void LockableViewController::viewDidLoad() {
    if (!lockView_) {
        lockView_ = new LockView(this);
        lockView_->setGeometry(0, 0, width(), 0);
        // A panel shown again follows the lock again, and one shown while locked is covered.
        showWatcher_ = new ShowWatcher(this, [this] {
            if (!lockObserver_) followLock();
        });
        installEventFilter(showWatcher_);
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
    if (isWindow()) WindowFrameAutosave::placeOnScreen(*this);
}

void LockableViewController::presentWindow() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    // The cover is made as the view loads.
    if (!lockView_) viewDidLoad();
    viewWillAppear();
    QWidget::show();
    viewDidAppear();
}

void LockableViewController::followLock() {
    if (!lockObserver_) {
        lockObserver_ = center_.addObserver(LockNotification::kLocked,
                                            [this](const Notification& n) { locked(n); });
    }
    setCovered(settings_.isLocked());
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
