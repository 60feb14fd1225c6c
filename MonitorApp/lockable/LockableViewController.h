#pragma once

#include <QWidget>

#include "MonitorApp/lockable/LockView.h"
#include "foundation/NotificationCenter.h"

namespace quenbril {

/// The base of every panel that follows the lock: a dark grey view that covers itself with a
/// LockView while the interface is locked. Main thread only.
class LockableViewController : public QWidget {
  public:
    explicit LockableViewController(QWidget* parent = nullptr);
    ~LockableViewController() override;
    /// Subclasses call it first from their own viewDidLoad.
    virtual void viewDidLoad();
    /// Stops following the lock.
    virtual void viewDidDisappear();
    LockView* lockView() const;
    /// Observer of "QuenbrilLocked".
    void locked(const Notification& notification);
    bool isCovered() const;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void cover(bool on);

    LockView* lockView_ = nullptr;
    NotificationObserver lockObserver_;
};

}  // namespace quenbril
