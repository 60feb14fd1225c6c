#pragma once

#include <string>

namespace quenbril {

/// Catches the fatal signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) and writes a text report
/// before the process dies: the signal's name and number, the time in seconds since the epoch,
/// the version, the process id and a backtrace. Then the default action is restored and the
/// signal raised again, so the process still dies by its signal.
///
/// The handler runs on an alternate stack (of the thread that installs it, so a stack overflow
/// there is reported too) and only calls async-signal-safe functions: everything it needs is
/// prepared at install.
class CrashSignalHandler {
  public:
    /// Installs the handlers. Reports go into `folder`, which must exist; `version` is written
    /// in each. False, with a log line, when the folder's name is too long or the handlers
    /// cannot be set; a second call only changes the folder and the version.
    static bool install(const std::string& folder, const std::string& version);

    /// "SIGSEGV" for SIGSEGV and so on for the signals caught; nullptr for others.
    static const char* signalName(int signalNumber);
};

}  // namespace quenbril
