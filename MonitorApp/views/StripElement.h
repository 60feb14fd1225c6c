#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>

namespace quenbril {

/// One drawn element of a strip view: a coloured or patterned area, a picture or a line of
/// plain text. Frames are in the view's points with the origin at the bottom-left corner and y
/// upwards, as the strip's geometry is stated; they are turned over once, when painted.
struct StripElement {
    QRectF frame;
    QColor background = Qt::transparent;
    /// An image of the resources (":/images/<name>.png") tiled over the frame from its
    /// bottom-left corner; empty for none.
    QString pattern;
    /// A picture that fills the frame keeping its aspect (cut at the frame's edges).
    QImage picture;
    QColor borderColor = Qt::transparent;
    double borderWidth = 0;
    double cornerRadius = 0;
    double opacity = 1;
    /// Drawn above elements of a lower z; elements of equal z in the order they were attached.
    double z = 0;
    bool hidden = false;
    /// Whether the element is part of the view at all (the battery icon and the timecode
    /// read-out come and go); `order` tells when it was last attached.
    bool attached = true;
    int order = 0;

    /// Text elements show `text` in one line, never read as markup.
    bool isText = false;
    QString text;
    QColor textColor = Qt::white;
    /// Size in points of the view; 0 for the default size.
    int fontSize = 0;
    Qt::Alignment alignment = Qt::AlignHCenter;

    /// Whether anything of it shows.
    bool isShown() const { return attached && !hidden && opacity > 0; }
};

}  // namespace quenbril
