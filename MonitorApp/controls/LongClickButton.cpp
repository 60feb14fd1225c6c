#include "MonitorApp/controls/LongClickButton.h"

#include <QMouseEvent>

#include "MonitorApp/controls/LongClickButtonDelegate.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

LongClickButton::LongClickButton(QWidget* parent) : QPushButton(parent) {}

LongClickButton::~LongClickButton() = default;

void LongClickButton::swapIcons() {
    QIcon shown = icon();
    setIcon(alternateIcon_);
    alternateIcon_ = shown;
}

void LongClickButton::mousePressEvent(QMouseEvent* event) {
    if (!isEnabled() || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    pressed_ = true;
    longTimer_ =
        RunLoop::main().scheduleTimer(kLongClickTime, false, [this] { longClickTimerExpired(); });
    longTimerExpired_ = false;
    swapIcons();
    setDown(true);
}

void LongClickButton::longClickTimerExpired() {
    longTimerExpired_ = true;
    longTimer_ = Timer();
    QLOG("Long click");
    if (delegate_) delegate_->LongClickButtonLongClicked(*this);
}

void LongClickButton::mouseReleaseEvent(QMouseEvent* event) {
    if (!isEnabled() || event->button() != Qt::LeftButton || !pressed_) {
        event->ignore();
        return;
    }
    pressed_ = false;
    longTimer_.invalidate();
    swapIcons();
    setDown(false);
    // Last: the delegate may take the button away.
    if (!longTimerExpired_ && delegate_) delegate_->LongClickButtonClicked(*this);
}

void LongClickButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() != QEvent::EnabledChange || isEnabled() || !pressed_) return;
    pressed_ = false;
    longTimer_.invalidate();
    swapIcons();
    setDown(false);
}

// The push button's own tracking would move its pressed look with the pointer.
void LongClickButton::mouseMoveEvent(QMouseEvent* event) { event->accept(); }

}  // namespace quenbril
