#pragma once

#include <QColor>

#include "MonitorApp/channelstrips/GroupButtonView.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/controls/QBButtonDelegate.h"

namespace quenbril {

/// A group button on the image button: the image button shows the title in capitals and tells
/// a click from a long click; this one draws the look of its state and the group's colour bar
/// over the image and turns its own clicks into the group's notifications.
class PlaceholderGroupButton : public QBButton, public GroupButtonView, public QBButtonDelegate {
    // Lets a search among the row's widgets tell the buttons from the labels inside them.
    Q_OBJECT

  public:
    PlaceholderGroupButton(QWidget& parent, const std::string& text,
                           const std::optional<Color>& color, int32_t groupNumber);

    int32_t groupID() const override { return groupID_; }
    void setState(int32_t state) override;
    int32_t state() const override { return state_; }
    void setColor(const std::optional<Color>& color) override;
    void setGroupName(const std::string& name) override { setTitle(name); }
    void setHidden(bool hidden) override { QWidget::setHidden(hidden); }
    void setFrame(const Rect& frame) override;

    void QBButtonClicked(QBButton& button) override;
    void QBButtonLongClicked(QBButton& button) override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void post(const char* name) const;

    int32_t groupID_;
    int32_t state_ = 0;
    QColor color_;
    // State 1 keeps the background the state before it left.
    bool whiteBackground_ = false;
};

}  // namespace quenbril
