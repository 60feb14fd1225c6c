#include "MonitorApp/views/unused_backgrounds/GroupButtonBackground.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>

namespace quenbril {

namespace {

QBrush tile(const char* look, int32_t groupNumber) {
    const QPixmap image(QStringLiteral(":/images/Group_%1_%2.png").arg(groupNumber).arg(look));
    // A missing tile fills nothing rather than black.
    return image.isNull() ? QBrush() : QBrush(image);
}

}  // namespace

GroupButtonBackground::GroupButtonBackground(const QRect& frame, int32_t groupNumber,
                                             QWidget* parent)
    : QWidget(parent),
      activeColor_(tile("up", groupNumber)),
      passiveColor_(tile("down", groupNumber)) {
    setGeometry(frame);
}

void GroupButtonBackground::setActive(bool active) {
    currentImage_ = active ? &activeColor_ : &passiveColor_;
    update();
}

void GroupButtonBackground::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), *currentImage_);
}

}  // namespace quenbril
