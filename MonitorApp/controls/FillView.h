#pragma once

#include <QColor>
#include <QWidget>

#include "MonitorApp/controls/ControlImage.h"

namespace quenbril {

/// A flat area that paints one colour, or tiles one image of the resources. It takes no
/// mouse input. Made to fill its parent, it follows the parent's size. Main thread only.
class FillView : public QWidget {
  public:
    explicit FillView(QWidget* parent = nullptr);

    /// Keeps the view at the parent's whole rectangle.
    void setFillsParent(bool fills);
    void setColor(const QColor& color);
    QColor color() const { return color_; }
    /// Tiles the image instead of the colour (nothing when the image is missing).
    void setPattern(const QString& imageName);
    /// The tiled image's name, empty while the colour shows.
    QString patternName() const { return patternName_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QColor color_ = Qt::transparent;
    QString patternName_;
    QPixmap pattern_;
    bool fillsParent_ = false;
};

}  // namespace quenbril
