#include "MonitorApp/views/StripElementPainter.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <algorithm>

namespace quenbril {

QPixmap stripImage(const QString& name) {
    const QString key = QStringLiteral("strip:") + name;
    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        pixmap.load(QStringLiteral(":/images/") + name + QStringLiteral(".png"));
        QPixmapCache::insert(key, pixmap);
    }
    return pixmap;
}

QFont stripFont(int size) {
    QFont font(QStringLiteral("Nexa Bold"));
    // The strip's sizes are points of its 128-point cell, so the text is sized in the same
    // units as its frames, whatever the screen's resolution.
    if (size > 0) font.setPixelSize(size);
    return font;
}

void fillWithPattern(QPainter& painter, const QRectF& target, const QPixmap& tile) {
    if (tile.isNull() || target.isEmpty()) return;
    QBrush brush(tile);
    const double tileHeight = tile.height() / tile.devicePixelRatio();
    brush.setTransform(QTransform::fromTranslate(target.left(), target.bottom() - tileHeight));
    painter.fillRect(target, brush);
}

namespace {

void paintPicture(QPainter& painter, const QRectF& target, const QImage& picture) {
    if (picture.isNull() || target.isEmpty()) return;
    // Fill the frame keeping the picture's shape; what overflows is cut off.
    const double scale =
        std::max(target.width() / picture.width(), target.height() / picture.height());
    const QSizeF size(picture.width() * scale, picture.height() * scale);
    const QRectF placed(target.center().x() - size.width() / 2,
                        target.center().y() - size.height() / 2, size.width(), size.height());
    painter.save();
    painter.setClipRect(target, Qt::IntersectClip);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(placed, picture);
    painter.restore();
}

/// How far a span [low, high] moves to lie within [from, to]; 0 when it does not fit.
double inward(double low, double high, double from, double to) {
    if (high - low > to - from) return 0;
    if (low < from) return from - low;
    if (high > to) return to - high;
    return 0;
}

}  // namespace

void paintStripElement(QPainter& painter, const StripElement& element, double viewHeight,
                       const QRectF& clear) {
    if (!element.isShown()) return;
    const QRectF target = toWidgetRect(element.frame, viewHeight);
    if (target.width() <= 0 || target.height() <= 0) return;
    painter.save();
    painter.setOpacity(painter.opacity() * element.opacity);

    QPainterPath shape;
    if (element.cornerRadius > 0) {
        shape.addRoundedRect(target, element.cornerRadius, element.cornerRadius);
    } else {
        shape.addRect(target);
    }
    if (element.background.alpha() > 0) painter.fillPath(shape, element.background);
    if (!element.pattern.isEmpty()) {
        painter.save();
        painter.setClipPath(shape, Qt::IntersectClip);
        fillWithPattern(painter, target, stripImage(element.pattern));
        painter.restore();
    }
    paintPicture(painter, target, element.picture);
    if (element.borderWidth > 0 && element.borderColor.alpha() > 0) {
        // A layer's border lies inside its frame.
        const double half = element.borderWidth / 2;
        painter.setPen(QPen(element.borderColor, element.borderWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(target.adjusted(half, half, -half, -half));
    }
    if (element.isText && !element.text.isEmpty()) {
        painter.setFont(stripFont(element.fontSize));
        painter.setPen(element.textColor);
        // One line, plain text only, placed in its frame; a wide border would hide what lies
        // under it, so the line moves clear of it.
        const int flags =
            static_cast<int>(element.alignment | Qt::AlignVCenter) | Qt::TextSingleLine;
        QRectF line = painter.boundingRect(target, flags, element.text);
        if (!clear.isEmpty()) {
            line.translate(inward(line.left(), line.right(), clear.left(), clear.right()),
                           inward(line.top(), line.bottom(), clear.top(), clear.bottom()));
        }
        painter.drawText(line, flags, element.text);
    }
    painter.restore();
}

}  // namespace quenbril
