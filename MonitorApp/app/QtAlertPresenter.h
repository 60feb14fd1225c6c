#pragma once

#include "MonitorApp/mainwindow/MainWindowSeams.h"

class QWidget;

namespace quenbril {

/// Alerts as modal message boxes over the main window.
class QtAlertPresenter : public AlertPresenter {
  public:
    /// `parent`: the window the boxes are centred on; may be null.
    explicit QtAlertPresenter(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }

    void runModal(const std::string& messageText) override;
    int runModal(const Alert& alert) override;
    int runModal(const Alert& alert, int width, int height, std::string& text) override;

  private:
    /// Shows `alert`, with `field` under its texts when given, and answers the button chosen.
    int show(const Alert& alert, QWidget* field);

    QWidget* parent_;
};

}  // namespace quenbril
