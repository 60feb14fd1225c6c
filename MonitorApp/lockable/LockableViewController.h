#pragma once

#include <QWidget>

#include "foundation/NotificationCenter.h"

namespace quenbril {

class LockView;
class UserSettingsManager;

/// The base of every panel that follows the lock: on "QuenbrilLocked" it covers itself with
/// its LockView (which takes the panel's mouse and key input) or removes the cover. A panel
/// follows the lock from the moment its view loads until it disappears, and again whenever it
/// is shown; shown while the interface is locked, it is covered at once. Every lockable panel
/// has the theme's darker grey background. Main thread only.
class LockableViewController : public QWidget {
  public:
    /// `center` tells of the lock; `settings` holds whether the interface is locked now.
    LockableViewController(NotificationCenter& center, const UserSettingsManager& settings,
                           QWidget* parent = nullptr);
    ~LockableViewController() override;

    /// Subclasses call it first from their own viewDidLoad.
    virtual void viewDidLoad();
    /// Stops following the lock.
    virtual void viewDidDisappear();
    /// The cover, made by viewDidLoad (none before).
    LockView* lockView() const { return lockView_; }
    /// Observer of "QuenbrilLocked".
    void locked(const Notification& notification);
    bool isCovered() const;

  protected:
    /// A panel shown as a window lies fully on a screen.
    void showEvent(QShowEvent* event) override;
    /// A panel's showing: a window already shown comes forward; otherwise the view loads the
    /// first time, then viewWillAppear runs, the window shows, and viewDidAppear runs.
    void presentWindow();
    virtual void viewWillAppear() {}
    virtual void viewDidAppear() {}

  private:
    /// Follows the lock and takes the state the lock is in now.
    void followLock();
    void setCovered(bool covered);

    NotificationCenter& center_;
    const UserSettingsManager& settings_;
    LockView* lockView_ = nullptr;
    NotificationObserver lockObserver_;
    // Tells of every showing of this view, whatever a subclass does with its own events.
    QObject* showWatcher_ = nullptr;
};

}  // namespace quenbril
