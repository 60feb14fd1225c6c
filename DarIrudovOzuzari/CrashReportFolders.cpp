#include "DarIrudovOzuzari/CrashReportFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "foundation/Log.h"

namespace quenbril {

namespace {

// XDG says a relative XDG_CACHE_HOME is invalid and must be ignored.
std::string cacheHome() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (!home || home[0] == '\0') {
        // Only start-up asks, once, so the non-reentrant look-up is enough.
        const passwd* entry = getpwuid(getuid());
        home = entry && entry->pw_dir ? entry->pw_dir : ".";
    }
    return std::string(home) + "/.cache";
}

}  // namespace

CrashReportFolders CrashReportFolders::fromEnvironment() {
    return CrashReportFolders(cacheHome() + "/Quenbril/crashes");
}

CrashReportFolders::CrashReportFolders(std::string pending) : pending_(std::move(pending)) {}

bool CrashReportFolders::make() const {
    std::error_code error;
    std::filesystem::create_directories(reported(), error);
    if (error) {
        log(LogLevel::Warning, "[DarIrudovOzuzari] Cannot make %s: %s", reported().c_str(),
            error.message().c_str());
        return false;
    }
    return true;
}

bool CrashReportFolders::isReportName(const std::string& fileName) {
    std::string prefix = kReportPrefix;
    std::string suffix = kReportSuffix;
    return fileName.size() > prefix.size() + suffix.size() &&
           fileName.compare(0, prefix.size(), prefix) == 0 &&
           fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace quenbril
