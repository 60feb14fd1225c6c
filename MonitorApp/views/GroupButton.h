#pragma once

#include <QColor>
#include <QWidget>

#include "MonitorApp/channelstrips/GroupButtonView.h"
#include "MonitorApp/controls/QBButtonDelegate.h"

namespace quenbril {

class NotificationCenter;
class QBButton;

/// One of the eight group buttons above the strips: an image button with the group's colour
/// bar along its bottom, showing the server's state of the group (0 off, 1 on, 2 hard). A
/// click or long click posts "GroupClicked" or "GroupLongClicked" with the group number.
/// Frames of the title and the bar are kept in the button's bottom-left points, as the layout
/// rules state them. Main thread only.
class GroupButton : public QWidget, public GroupButtonView, public QBButtonDelegate {
    // Lets a search among the row's widgets tell the buttons from the labels inside them.
    Q_OBJECT

  public:
    /// Narrower than this, the button keeps a smaller margin and lifts a long title.
    static constexpr double kNarrowWidth = 55.0;

    /// Its clicks are posted to `center`, which outlives the button.
    GroupButton(QWidget& parent, const std::string& text, const std::optional<Color>& color,
                const Rect& frame, int32_t groupNumber, NotificationCenter& center);
    ~GroupButton() override;

    int32_t groupID() const override { return groupID_; }
    void setGroupID(int32_t groupID) { groupID_ = groupID; }
    /// States other than 0, 1 and 2 are kept but change nothing on screen; 1 keeps the
    /// background the state before it left.
    void setState(int32_t state) override;
    int32_t state() const override { return state_; }
    void setColor(const std::optional<Color>& color) override;
    /// Shown in capitals.
    void setGroupName(const std::string& name) override;
    void setHidden(bool hidden) override { QWidget::setHidden(hidden); }
    /// Lays the button out for the frame's size (top-left frame in the row).
    void setFrame(const Rect& frame) override;
    /// 0 becomes 1, anything else 0.
    void groupPressed();

    QBButton& myButton() const { return *myButton_; }
    /// The title label's frame inside the button, bottom-left points.
    Rect titleFrame() const { return titleFrame_; }
    /// The colour bar's frame inside the button, bottom-left points.
    Rect barFrame() const { return barFrame_; }
    QColor barColor() const { return barColor_; }

    void QBButtonClicked(QBButton& button) override;
    void QBButtonLongClicked(QBButton& button) override;

  private:
    class ColorBar;

    void placeTitle();
    void placeBar();
    void post(const char* name) const;

    NotificationCenter& center_;
    int32_t groupID_;
    int32_t state_ = 0;
    QBButton* myButton_;
    ColorBar* colorLayer_;
    QColor barColor_;
    Rect titleFrame_;
    Rect barFrame_;
};

}  // namespace quenbril
