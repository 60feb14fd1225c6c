#pragma once

#include <QString>
#include <map>
#include <string>
#include <vector>

#include "MonitorApp/seams/MainWindowSeams.h"

namespace quenbril {

/// Open and save panels as modal file dialogs of the window that asks, above it as its alerts
/// are. Each kind of file (its extensions) has its own folder: a panel opens where the last
/// file of its kind was chosen, in the home folder before the first.
class QtFilePanel : public FilePanel {
  public:
    std::optional<std::string> runModal(QWidget* window, const Request& request) override;

    /// The dialog's filter for the extensions, named after them: "CSV files (*.csv)"; empty
    /// for any file.
    static QString filter(const std::vector<std::string>& types);

  private:
    std::map<std::vector<std::string>, QString> folders_;
};

}  // namespace quenbril
