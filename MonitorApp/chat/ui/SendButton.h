#pragma once

#include <QWidget>

#include "MonitorApp/controls/ControlImage.h"

class QLabel;

namespace quenbril {

class SendButtonDelegate;

/// The image button of the chat windows' Send, Flash and expand/collapse actions: "Send_up.png"
/// at rest, "Send_down.png" while pressed, a centred title ("Send" until the owner changes it).
/// A release anywhere after a press on it is a click. Main thread only.
class SendButton : public QWidget {
  public:
    explicit SendButton(QWidget* parent = nullptr);

    QLabel* title() const { return title_; }
    int32_t myTag() const { return myTag_; }
    void setMyTag(int32_t tag) { myTag_ = tag; }
    SendButtonDelegate* delegate() const { return delegate_; }
    /// Not owned; the delegate clears it before it goes away.
    void setDelegate(SendButtonDelegate* delegate) { delegate_ = delegate; }
    bool buttonDown() const { return buttonDown_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    ControlImage upButton_;
    ControlImage downButton_;
    bool buttonDown_ = false;
    int32_t myTag_ = 0;
    SendButtonDelegate* delegate_ = nullptr;
    QLabel* title_;
};

}  // namespace quenbril
