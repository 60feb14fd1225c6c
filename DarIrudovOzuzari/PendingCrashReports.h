#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "DarIrudovOzuzari/CrashReportFolders.h"

namespace quenbril {

/// The reports earlier runs left behind, handled at the next start: each is named once in the
/// log and moved to the reported folder, which keeps only the newest few.
class PendingCrashReports {
  public:
    static constexpr size_t kReportedKept = 10;

    /// Logs one line naming each pending report (oldest first), moves it to the reported
    /// folder, then removes all but the newest kReportedKept reported ones. A report that
    /// cannot be moved is removed, so that it is never named twice. Returns the file names
    /// handled.
    static std::vector<std::string> collect(const CrashReportFolders& folders);

    /// The report names in `folder`, oldest first.
    static std::vector<std::string> reportNames(const std::string& folder);
};

}  // namespace quenbril
