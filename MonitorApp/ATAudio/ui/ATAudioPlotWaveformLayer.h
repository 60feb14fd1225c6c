#pragma once

#include <QColor>
#include <QPainterPath>
#include <QVariantAnimation>

class QPainter;

namespace quenbril {

/// The shape an ATAudioPlot draws: a path stroked (and filled when asked) in the plot's colour.
/// A new path replaces the old one at once, or, when animated, moves to it over a short
/// animation as long as both have the same shape of elements.
class ATAudioPlotWaveformLayer {
  public:
    static constexpr int kAnimationMilliseconds = 250;

    ATAudioPlotWaveformLayer();

    /// Whether a change of `key` animates: only "path", and only with actions enabled.
    static bool actionForKey(const char* key, bool actionsDisabled);

    void setPath(const QPainterPath& path, bool animated);
    const QPainterPath& path() const { return path_; }
    bool isAnimating() const { return animation_.state() == QAbstractAnimation::Running; }

    void setStrokeColor(const QColor& color) { strokeColor_ = color; }
    const QColor& strokeColor() const { return strokeColor_; }
    /// An invalid colour: no fill.
    void setFillColor(const QColor& color) { fillColor_ = color; }
    const QColor& fillColor() const { return fillColor_; }
    void setLineWidth(double width) { lineWidth_ = width; }

    /// Calls `changed` whenever an animation step moved the path.
    void setChangedCallback(std::function<void()> changed) { changed_ = std::move(changed); }

    void paint(QPainter& painter) const;

  private:
    QPainterPath path_;
    QPainterPath from_;
    QPainterPath to_;
    QVariantAnimation animation_;
    QColor strokeColor_;
    QColor fillColor_;
    double lineWidth_ = 1.0;
    std::function<void()> changed_;
};

}  // namespace quenbril
