#pragma once

#include <QFont>
#include <QWidget>
#include <string>

#include "MonitorApp/controls/ControlImage.h"
#include "MonitorApp/controls/TitledButton.h"
#include "foundation/Timer.h"

class QLabel;

namespace quenbril {

class QBButtonDelegate;

/// An image button with a title: "GR_up.png" at rest, "GR_down.png" while pressed and
/// "GR_red.png" as its alarm look. A press shorter than 0.5 s reports a click at the release;
/// a press held 0.5 s reports one long click as the time runs out and nothing at the release.
/// The long-click timer runs on the main run loop. Main thread only.
class QBButton : public QWidget, public TitledButton {
  public:
    /// Seconds a press takes to become a long click (fixed, not the user's setting).
    static constexpr double kLongClickTime = 0.5;

    enum class Style {
        /// Buttons made in code, such as the group buttons: a 10-point title.
        Plain,
        /// The header's buttons: a 12-point title on a raised label with a blue border.
        Header,
    };

    explicit QBButton(QWidget* parent = nullptr, Style style = Style::Plain);
    ~QBButton() override;

    /// The smallest size, in points, a title is shrunk to before it is shortened.
    static constexpr double kSmallestTitleSize = 7.0;

    /// The title as given; the label shows it in capitals.
    std::string title() const override { return title_; }
    void setTitle(const std::string& title) override;
    /// The text the label shows: the title in capitals, shrunk to fit the label and, if it
    /// still does not fit at the smallest size, shortened with an ellipsis.
    QString shownTitle() const;
    void setTextColor(const QColor& color);
    QColor textColor() const;
    /// The alarm look ("GR_red.png") on, or the normal one off.
    void setAlarm(bool on);
    /// Replaces the image shown at rest, by name (the chat and reset buttons switch theirs to
    /// show an alarm).
    void setUpImage(const QString& name);
    /// The name of the image drawn now.
    const QString& currentImageName() const { return current_->name(); }

    /// A flag kept for the owner's use: it does not stop the button from reporting clicks
    /// (QWidget::setEnabled does).
    bool buttonEnabled() const { return buttonEnabled_; }
    void setButtonEnabled(bool enabled) { buttonEnabled_ = enabled; }

    QBButtonDelegate* delegate() const { return delegate_; }
    /// Not owned; the delegate clears it before it goes away.
    void setDelegate(QBButtonDelegate* delegate) { delegate_ = delegate; }
    QLabel* field() const { return field_; }
    /// Places the title label; from then on the button keeps it there instead of fitting it to
    /// its whole face at every resize.
    void setFieldGeometry(const QRect& geometry);

    /// The face's own look around the image: a background drawn under it, a border drawn over
    /// it (0 wide: none), both with the corner radius.
    void setFaceBackground(const QColor& color);
    QColor faceBackground() const { return faceBackground_; }
    void setFaceBorder(const QColor& color, double width);
    QColor faceBorderColor() const { return faceBorderColor_; }
    double faceBorderWidth() const { return faceBorderWidth_; }
    void setCornerRadius(double radius);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    /// A press running as the button is disabled (say, by the lock) ends without a report.
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void longClickTimerExpired();
    void show(const ControlImage& image);
    void fitTitle();

    ControlImage up_;
    ControlImage down_;
    ControlImage red_;
    const ControlImage* current_ = &up_;
    bool longTimerExpired_ = false;
    Timer longTimer_;
    bool pressed_ = false;
    bool buttonEnabled_ = true;
    QBButtonDelegate* delegate_ = nullptr;
    QLabel* field_ = nullptr;
    QFont titleFont_;
    bool fieldPlaced_ = false;
    std::string title_;
    QColor faceBackground_ = Qt::transparent;
    QColor faceBorderColor_ = Qt::transparent;
    double faceBorderWidth_ = 0;
    double cornerRadius_ = 0;
};

}  // namespace quenbril
