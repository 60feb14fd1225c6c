#pragma once

#include <QPixmap>
#include <QRectF>
#include <QString>

#include "MonitorApp/views/StripElement.h"

class QPainter;

namespace quenbril {

/// A frame in bottom-left points as a rectangle of a widget `viewHeight` high (top-left).
inline QRectF toWidgetRect(const QRectF& frame, double viewHeight) {
    return QRectF(frame.x(), viewHeight - frame.y() - frame.height(), frame.width(),
                  frame.height());
}

/// The image ":/images/<name>.png", loaded once; null when the resources lack it.
QPixmap stripImage(const QString& name);

/// The font of the strips' texts at `size` points of the view.
QFont stripFont(int size);

/// Paints one element in a view `viewHeight` points high: background, pattern, picture,
/// border, then text. Hidden and detached elements paint nothing. A text that would cross the
/// edge of `clear` (widget coordinates; empty: the whole view) is moved in by as little as
/// it takes, when it fits.
void paintStripElement(QPainter& painter, const StripElement& element, double viewHeight,
                       const QRectF& clear = QRectF());

/// Fills `target` (widget coordinates) with an image tiled from its bottom-left corner, as a
/// pattern colour tiles from the origin of its bottom-left view.
void fillWithPattern(QPainter& painter, const QRectF& target, const QPixmap& tile);

}  // namespace quenbril
