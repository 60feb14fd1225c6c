#pragma once

#include <string>

namespace quenbril {

/// Where crash reports live: the crash handler writes them into `pending()`; the next start
/// names each in the log and moves it to `reported()`.
class CrashReportFolders {
  public:
    /// Report files are "crash-<seconds since the epoch, 12 digits>-<process id>.txt", so that
    /// their names sort by time.
    static constexpr const char* kReportPrefix = "crash-";
    static constexpr const char* kReportSuffix = ".txt";

    /// `$XDG_CACHE_HOME/Quenbril/crashes`; `~/.cache` stands in for an unset or relative
    /// XDG_CACHE_HOME.
    static CrashReportFolders fromEnvironment();

    explicit CrashReportFolders(std::string pending);

    const std::string& pending() const { return pending_; }
    std::string reported() const { return pending_ + "/reported"; }

    /// Makes both folders and their missing parents. False, with a log line, when one cannot
    /// be made.
    bool make() const;

    static bool isReportName(const std::string& fileName);

  private:
    std::string pending_;
};

}  // namespace quenbril
