#include "MonitorApp/controls/ControlImage.h"

#include <QPaintDevice>
#include <QPainter>

namespace quenbril {

ControlImage::ControlImage(const QString& name)
    : name_(name), pixmap_(QStringLiteral(":/images/") + name) {}

bool ControlImage::draw(QPainter& painter, const QRect& target) const {
    if (pixmap_.isNull() || target.isEmpty()) return false;
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize pixels = (QSizeF(target.size()) * ratio).toSize();
    if (scaled_.size() != pixels || scaled_.devicePixelRatio() != ratio) {
        scaled_ = pixmap_.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        scaled_.setDevicePixelRatio(ratio);
    }
    painter.drawPixmap(target.topLeft(), scaled_);
    return true;
}

}  // namespace quenbril
