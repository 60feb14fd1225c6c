#include "MonitorApp/chat/ui/LongPressWatcher.h"

#include <QMouseEvent>
#include <QWidget>

#include "foundation/RunLoop.h"

namespace quenbril {

LongPressWatcher::LongPressWatcher(QWidget& widget, std::function<bool(const QPoint&)> pressed,
                                   std::function<void()> held)
    : QObject(&widget), pressed_(std::move(pressed)), held_(std::move(held)) {
    widget.installEventFilter(this);
}

bool LongPressWatcher::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* press = static_cast<QMouseEvent*>(event);
            timer_.invalidate();
            // Filters see the presses a disabled widget (one under the lock's cover) ignores.
            if (press->button() != Qt::LeftButton || !static_cast<QWidget*>(watched)->isEnabled()) {
                break;
            }
            origin_ = press->position().toPoint();
            if (!pressed_(origin_)) break;
            timer_ = RunLoop::main().scheduleTimer(kMinimumPressDuration, false, [this] {
                timer_.invalidate();
                held_();
            });
            break;
        }
        case QEvent::MouseMove: {
            const QPoint moved = static_cast<QMouseEvent*>(event)->position().toPoint() - origin_;
            if (moved.manhattanLength() > kAllowableMovement) timer_.invalidate();
            break;
        }
        case QEvent::MouseButtonRelease:
        case QEvent::Hide:
        case QEvent::EnabledChange:
            timer_.invalidate();
            break;
        default:
            break;
    }
    return false;
}

}  // namespace quenbril
