#pragma once

#include <QPixmap>
#include <QString>

class QPainter;
class QRect;

namespace quenbril {

/// One image of the application's resources (":/images/<name>"), drawn stretched over a
/// rectangle at the painter's device pixel ratio, so that it stays sharp on HiDPI screens. An
/// image missing from the resources (tests link none) loads as null and draws nothing.
class ControlImage {
  public:
    ControlImage() = default;
    explicit ControlImage(const QString& name);

    const QString& name() const { return name_; }
    bool isNull() const { return pixmap_.isNull(); }
    /// Draws the whole image into `target`; returns false when there is no image.
    bool draw(QPainter& painter, const QRect& target) const;

  private:
    QString name_;
    QPixmap pixmap_;
    // The image scaled for the last target size and pixel ratio.
    mutable QPixmap scaled_;
};

}  // namespace quenbril
