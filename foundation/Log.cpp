#include "foundation/Log.h"

#include <sys/time.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace quenbril {

namespace {

LogLevel levelFromEnvironment() {
    const char* s = std::getenv("QUENBRIL_LOG");
    if (!s) return LogLevel::Info;
    static const char* const names[] = {"debug", "info", "warning", "error", "none"};
    for (int i = 0; i < 5; ++i) {
        if (std::strcmp(s, names[i]) == 0) return static_cast<LogLevel>(i);
    }
    return LogLevel::Info;
}

std::atomic<LogLevel>& currentLevel() {
    static std::atomic<LogLevel> level{levelFromEnvironment()};
    return level;
}

}  // namespace

void setLogLevel(LogLevel level) { currentLevel().store(level); }
LogLevel logLevel() { return currentLevel().load(); }

void log(LogLevel level, const char* format, ...) {
    if (level < logLevel() || level == LogLevel::None) return;
    timeval tv;
    gettimeofday(&tv, nullptr);
    tm local;
    localtime_r(&tv.tv_sec, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

    char message[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::string text;
    if (n >= static_cast<int>(sizeof message)) {
        // Long lines (a dump of a message, say) are printed whole.
        text.resize(static_cast<size_t>(n) + 1);
        va_start(args, format);
        std::vsnprintf(text.data(), text.size(), format, args);
        va_end(args);
        text.resize(static_cast<size_t>(n));
    } else {
        text = n > 0 ? message : "";
    }
    // One fprintf per line keeps lines from different threads whole.
    std::fprintf(stderr, "%s.%03ld quenbril: %s\n", stamp, static_cast<long>(tv.tv_usec / 1000),
                 text.c_str());
}

}  // namespace quenbril
