#include "MonitorApp/ATAudio/ui/ATAudioPlotWaveformLayer.h"

#include <QPainter>
#include <cstring>

namespace quenbril {

ATAudioPlotWaveformLayer::ATAudioPlotWaveformLayer() {
    animation_.setStartValue(0.0);
    animation_.setEndValue(1.0);
    animation_.setDuration(kAnimationMilliseconds);
    animation_.setEasingCurve(QEasingCurve::InOutQuad);
    QObject::connect(&animation_, &QVariantAnimation::valueChanged, [this](const QVariant& value) {
        const double t = value.toDouble();
        path_ = from_;
        for (int i = 0; i < path_.elementCount(); ++i) {
            const QPainterPath::Element a = from_.elementAt(i), b = to_.elementAt(i);
            path_.setElementPositionAt(i, a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t);
        }
        if (changed_) changed_();
    });
}

bool ATAudioPlotWaveformLayer::actionForKey(const char* key, bool actionsDisabled) {
    return !actionsDisabled && std::strcmp(key, "path") == 0;
}

void ATAudioPlotWaveformLayer::setPath(const QPainterPath& path, bool animated) {
    bool sameShape = path.elementCount() == path_.elementCount() && path.elementCount() > 0;
    for (int i = 0; sameShape && i < path.elementCount(); ++i)
        sameShape = path.elementAt(i).type == path_.elementAt(i).type;
    animation_.stop();
    if (!animated || !sameShape) {
        path_ = path;
        return;
    }
    from_ = path_;
    to_ = path;
    animation_.start();
}

void ATAudioPlotWaveformLayer::paint(QPainter& painter) const {
    if (path_.isEmpty()) return;
    if (fillColor_.isValid()) painter.fillPath(path_, fillColor_);
    painter.setPen(QPen(strokeColor_, lineWidth_));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path_);
}

}  // namespace quenbril
