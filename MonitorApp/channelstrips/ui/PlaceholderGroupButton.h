#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include "MonitorApp/channelstrips/GroupButtonView.h"
#include "foundation/Timer.h"

namespace quenbril {

/// A group button that stands in until the image button exists: it paints its title in
/// capitals, the look of its state and the group's colour bar, and turns a click or a press
/// held for the long-click time into the group's notification.
class PlaceholderGroupButton : public QWidget, public GroupButtonView {
  public:
    /// A press held this long is a long click (the image buttons' fixed time).
    static constexpr double kLongClickSeconds = 0.5;

    PlaceholderGroupButton(QWidget& parent, const std::string& text,
                           const std::optional<Color>& color, int32_t groupNumber);

    int32_t groupID() const override { return groupID_; }
    void setState(int32_t state) override;
    int32_t state() const override { return state_; }
    void setColor(const std::optional<Color>& color) override;
    void setGroupName(const std::string& name) override;
    void setHidden(bool hidden) override { QWidget::setHidden(hidden); }
    void setFrame(const Rect& frame) override;

    /// The title as shown.
    QString title() const { return title_.toUpper(); }
    QColor titleColor() const;
    bool hasWhiteBackground() const { return whiteBackground_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void post(const char* name) const;

    int32_t groupID_;
    int32_t state_ = 0;
    QString title_;
    QColor color_;
    // State 1 keeps the background the state before it left.
    bool whiteBackground_ = false;
    Timer longClickTimer_;
    bool longClicked_ = false;
};

}  // namespace quenbril
