#pragma once

namespace quenbril {

enum class LogLevel { Debug = 0, Info = 1, Warning = 2, Error = 3, None = 4 };

/// Lines below this level are not printed. Starts at Info, or at the level named by the
/// environment variable QUENBRIL_LOG ("debug", "info", "warning", "error", "none").
void setLogLevel(LogLevel level);
LogLevel logLevel();

/// Prints one timestamped line to stderr. The format is always a literal in our code (the
/// compiler checks it); text from outside goes in as a "%s" argument, never as the format.
void log(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

/// The common case: an informational diagnostic line.
#define QLOG(...) ::quenbril::log(::quenbril::LogLevel::Info, __VA_ARGS__)

}  // namespace quenbril
