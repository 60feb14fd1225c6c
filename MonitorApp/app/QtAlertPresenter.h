#pragma once

#include "MonitorApp/seams/MainWindowSeams.h"

class QWidget;

namespace quenbril {

/// Alerts as modal message boxes of the window that asks: centred on it, above it (kept on top
/// with it when it is), and the focus back on it once answered.
class QtAlertPresenter : public AlertPresenter {
  public:
    void runModal(QWidget* window, const std::string& messageText) override;
    int runModal(QWidget* window, const Alert& alert) override;
    int runModal(QWidget* window, const Alert& alert, int width, int height,
                 std::string& text) override;

  private:
    /// Shows `alert` over `window`, with `field` under its texts when given, and answers the
    /// button chosen.
    int show(QWidget* window, const Alert& alert, QWidget* field);
};

}  // namespace quenbril
