#include "MonitorApp/views/QualityLayer.h"

#include <QPainter>

#include "MonitorApp/views/StripElementPainter.h"

namespace quenbril {

namespace {

const QColor kMagenta = QColor::fromRgbF(1, 0, 1, 1);

}  // namespace

QualityLayer::QualityLayer() {
    for (int i = 0; i < kSegmentCount; ++i) layers_[static_cast<size_t>(i)].order = i;
}

void QualityLayer::setFrame(const QRectF& frame) {
    frame_ = frame;
    // Widths are summed in single precision, as the cells are laid out one after the other.
    const float width = static_cast<float>(frame.width()) / kSegmentCount;
    const float height = static_cast<float>(frame.height());
    float x = 0;
    for (StripElement& segment : layers_) {
        segment.frame = QRectF(x, 0, width, height);
        segment.background = kMagenta;
        segment.borderWidth = 1;
        segment.borderColor = Qt::black;
        x += width;
    }
}

void QualityLayer::setQuality(int32_t n) {
    for (int i = 0; i < kSegmentCount; ++i) {
        StripElement& segment = layers_[static_cast<size_t>(i)];
        if (n == 0) {
            segment.background = Qt::transparent;
            segment.borderColor = Qt::transparent;
        } else {
            segment.background = i < n ? kMagenta : QColor(Qt::black);
            segment.borderColor = Qt::black;
        }
    }
}

void QualityLayer::paint(QPainter& painter, double viewHeight) const {
    for (const StripElement& segment : layers_) {
        StripElement placed = segment;
        placed.frame.translate(frame_.topLeft());
        paintStripElement(painter, placed, viewHeight);
    }
}

}  // namespace quenbril
