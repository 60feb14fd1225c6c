#pragma once

#include "MonitorApp/mainwindow/MainWindowSeams.h"

class QWidget;

namespace quenbril {

/// Open and save panels as modal file dialogs.
class QtFilePanel : public FilePanel {
  public:
    explicit QtFilePanel(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }

    std::optional<std::string> runModal(const Request& request) override;

  private:
    QWidget* parent_;
};

}  // namespace quenbril
