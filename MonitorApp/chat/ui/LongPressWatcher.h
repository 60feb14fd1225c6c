#pragma once

#include <QObject>
#include <QPoint>
#include <functional>

#include "foundation/Timer.h"

class QWidget;

namespace quenbril {

/// Tells of a long press on a widget: a left-button press that is held, without moving far,
/// for the minimum press duration. The owner decides at the press whether that place answers a
/// long press at all, and what it carries; the held press then calls it back once. The duration
/// runs on the main run loop's clock. Main thread only.
class LongPressWatcher : public QObject {
  public:
    /// Seconds a press is held before it is a long press.
    static constexpr double kMinimumPressDuration = 0.5;
    /// Points the pointer may move while held.
    static constexpr int kAllowableMovement = 10;

    /// `pressed` answers whether a press at that point (in the widget's coordinates) is watched;
    /// `held` is called when a watched press has lasted. The watcher is the widget's child.
    LongPressWatcher(QWidget& widget, std::function<bool(const QPoint&)> pressed,
                     std::function<void()> held);

    bool isWatching() const { return timer_.isValid(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<bool(const QPoint&)> pressed_;
    std::function<void()> held_;
    QPoint origin_;
    Timer timer_;
};

}  // namespace quenbril
