#pragma once

#include "MonitorApp/seams/MainWindowSeams.h"

namespace quenbril {

/// Open and save panels as modal file dialogs of the window that asks, above it as its alerts
/// are.
class QtFilePanel : public FilePanel {
  public:
    std::optional<std::string> runModal(QWidget* window, const Request& request) override;
};

}  // namespace quenbril
