#include "MonitorApp/lockable/LockView.h"

#include <QMouseEvent>
#include <QPainter>

namespace quenbril {

LockView::LockView(QWidget* parent) : QWidget(parent) {}

void LockView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 160));
}

void LockView::mousePressEvent(QMouseEvent* event) { event->accept(); }
void LockView::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }
void LockView::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

}  // namespace quenbril
