#pragma once

#include <QIcon>
#include <QPushButton>

#include "foundation/Timer.h"

namespace quenbril {

class LongClickButtonDelegate;

/// A standard push button that tells a click from a long click: a press shorter than 0.5 s
/// reports a click at the release, one held 0.5 s reports one long click as the time runs out
/// and nothing at the release. Its own mouse handling replaces the push button's, so its
/// clicked() signal never fires; while pressed it shows its alternate icon. A disabled button
/// reports nothing. The long-click timer runs on the main run loop. Main thread only.
class LongClickButton : public QPushButton {
  public:
    /// Seconds a press takes to become a long click (fixed, not the user's setting).
    static constexpr double kLongClickTime = 0.5;

    explicit LongClickButton(QWidget* parent = nullptr);
    ~LongClickButton() override;

    /// The icon shown while pressed (swapped with icon() for the press).
    QIcon alternateIcon() const { return alternateIcon_; }
    void setAlternateIcon(const QIcon& icon) { alternateIcon_ = icon; }

    LongClickButtonDelegate* delegate() const { return delegate_; }
    /// Not owned; the delegate clears it before it goes away.
    void setDelegate(LongClickButtonDelegate* delegate) { delegate_ = delegate; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    /// A press running as the button is disabled (say, by the lock) ends without a report.
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void longClickTimerExpired();
    void swapIcons();

    bool longTimerExpired_ = false;
    bool pressed_ = false;
    Timer longTimer_;
    QIcon alternateIcon_;
    LongClickButtonDelegate* delegate_ = nullptr;
};

}  // namespace quenbril
