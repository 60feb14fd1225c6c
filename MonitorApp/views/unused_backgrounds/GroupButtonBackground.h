#pragma once

#include <QBrush>
#include <QWidget>

namespace quenbril {

/// A patterned background for a group button: the group's "Group_<n>_up" tile while active,
/// "Group_<n>_down" while passive (the start). Tiles repeat from the view's origin. The group
/// row does not use it; it is kept for a row that draws its buttons on tiles.
class GroupButtonBackground : public QWidget {
  public:
    GroupButtonBackground(const QRect& frame, int32_t groupNumber, QWidget* parent = nullptr);

    void setActive(bool active);
    /// The pattern in use.
    const QBrush& currentImage() const { return *currentImage_; }
    const QBrush& activeColor() const { return activeColor_; }
    const QBrush& passiveColor() const { return passiveColor_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QBrush activeColor_;
    QBrush passiveColor_;
    const QBrush* currentImage_ = &passiveColor_;
};

}  // namespace quenbril
