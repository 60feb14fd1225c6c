#pragma once

#include <QWidget>

namespace quenbril {

/// The translucent dark cover a locked panel shows over its controls. It takes every mouse
/// event that reaches it, so nothing under it can be clicked.
class LockView : public QWidget {
  public:
    explicit LockView(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

}  // namespace quenbril
