#include "DarIrudovOzuzari/PendingCrashReports.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "foundation/Log.h"

namespace quenbril {

namespace fs = std::filesystem;

std::vector<std::string> PendingCrashReports::collect(const CrashReportFolders& folders) {
    std::vector<std::string> names = reportNames(folders.pending());
    if (names.empty()) return names;
    std::error_code error;
    fs::create_directories(folders.reported(), error);
    for (const std::string& name : names) {
        fs::path from = fs::path(folders.pending()) / name;
        fs::path to = fs::path(folders.reported()) / name;
        fs::rename(from, to, error);
        if (!error) {
            log(LogLevel::Warning, "[DarIrudovOzuzari] An earlier run crashed; its report: %s",
                to.c_str());
            continue;
        }
        log(LogLevel::Warning,
            "[DarIrudovOzuzari] An earlier run crashed; its report %s could not be moved to "
            "%s (%s) and is removed",
            from.c_str(), folders.reported().c_str(), error.message().c_str());
        fs::remove(from, error);
    }

    std::vector<std::string> reported = reportNames(folders.reported());
    if (reported.size() > kReportedKept) {
        for (size_t i = 0; i < reported.size() - kReportedKept; ++i) {
            fs::remove(fs::path(folders.reported()) / reported[i], error);
        }
    }
    return names;
}

std::vector<std::string> PendingCrashReports::reportNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (it->is_regular_file(error) && CrashReportFolders::isReportName(name)) {
            names.push_back(name);
        }
    }
    // The names begin with the zero-padded time, so their order is the reports' order.
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace quenbril
