#include "MonitorApp/lockable/LockView.h"

#include <QEvent>
#include <QPainter>
#include <cmath>

#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/settings/ColorHelper.h"

namespace quenbril {

LockView::LockView(QWidget* parent) : QWidget(parent) {
    // A press on the pane stays there; nothing under it sees it.
    setAttribute(Qt::WA_NoMousePropagation);
    hide();
}

LockView::~LockView() = default;

QColor LockView::paneColor() {
    // Darker than the panels' own background, so that a covered panel shows as covered.
    QColor color = toQColor(ColorHelper::vozodDarkerGray()).darker(200);
    color.setAlphaF(0.94f);
    return color;
}

void LockView::cover() {
    QWidget* parent = parentWidget();
    if (!parent) return;
    if (!covering_) {
        covering_ = true;
        parentWasEnabled_ = !parent->testAttribute(Qt::WA_ForceDisabled);
        parent->installEventFilter(this);
        growth_.start(kAnimationDuration, [this](double p) { setShownFraction(p); });
    }
    // Disabling the parent is what stops input: a disabled widget and its children get no
    // mouse or key events, also none sent to them directly.
    parent->setEnabled(false);
    setGeometry(parent->rect());
    show();
    raise();
}

void LockView::uncover() {
    growth_.stop();
    setShownFraction(0);
    if (!covering_) return;
    covering_ = false;
    hide();
    if (QWidget* parent = parentWidget()) {
        parent->removeEventFilter(this);
        if (parentWasEnabled_) parent->setEnabled(true);
    }
}

void LockView::setShownFraction(double fraction) {
    shownFraction_ = fraction;
    update();
}

bool LockView::eventFilter(QObject* watched, QEvent* event) {
    if (covering_ && watched == parentWidget()) {
        if (event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
        // A child added after the cover would sit in front of it.
        if (event->type() == QEvent::ChildAdded) raise();
    }
    return false;
}

void LockView::paintEvent(QPaintEvent*) {
    const int paneHeight = static_cast<int>(std::lround(height() * shownFraction_));
    if (paneHeight <= 0) return;
    QPainter painter(this);
    painter.fillRect(QRect(0, height() - paneHeight, width(), paneHeight), paneColor());
}

}  // namespace quenbril
