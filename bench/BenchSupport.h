#pragma once

// Small helpers the benchmark programs share: timing loops, quantiles and a settings folder of
// their own.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace quenbril::bench {

/// True when the program was started with "--short": a run of a second or two that only shows
/// the program still works (CI runs every benchmark so; the figures of such a run mean little).
/// It is read from /proc/self/cmdline, so file-scope constants may depend on it, and a program
/// that runs itself again under xvfb-run or forks keeps it.
inline bool shortRun() {
    static const bool on = [] {
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        std::string arg;
        while (std::getline(in, arg, '\0')) {
            if (arg == "--short") return true;
        }
        return false;
    }();
    return on;
}

/// `full` in a normal run, `brief` in a short one.
template <class T>
T shortOr(T full, T brief) {
    return shortRun() ? brief : full;
}

/// Median over `rounds` of the mean time of `iterations` calls, in microseconds.
inline double microsecondsPerCall(const std::function<void()>& call, int iterations,
                                  int rounds = 9) {
    std::vector<double> samples;
    for (int r = 0; r < rounds; ++r) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < iterations; ++i) call();
        std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
        samples.push_back(spent.count() / iterations);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

/// The steady clock now, in nanoseconds.
inline int64_t nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

/// The CPU time this process has used, user and system, in seconds.
inline double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// The q-quantile (0..1) of samples already sorted; 0 for none.
inline double quantile(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0.0;
    return sorted[static_cast<size_t>(q * static_cast<double>(sorted.size() - 1))];
}

/// Points XDG_CONFIG_HOME at a new temporary folder for the run, so a benchmark never touches the
/// user's settings; the folder goes away with this object.
class TemporarySettingsFolder {
  public:
    explicit TemporarySettingsFolder(const std::string& name) {
        std::string pattern = "/tmp/quenbril-" + name + "-XXXXXX";
        if (!mkdtemp(pattern.data())) return;
        path_ = pattern;
        setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
    }
    ~TemporarySettingsFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TemporarySettingsFolder(const TemporarySettingsFolder&) = delete;
    TemporarySettingsFolder& operator=(const TemporarySettingsFolder&) = delete;
    bool ok() const { return !path_.empty(); }

  private:
    std::string path_;
};

/// Without an X display, runs this program again, with its arguments, under xvfb-run on a
/// 1600 x 1000 screen and returns only when that fails (with a message; a short run then ends
/// here, skipped); with a display it returns at once. `argv` ends with a null pointer, as main()
/// gets it.
inline void runUnderXvfbWithoutDisplay(char** argv) {
    if (std::getenv("DISPLAY")) return;
    std::vector<char*> args{const_cast<char*>("xvfb-run"), const_cast<char*>("-a"),
                            const_cast<char*>("-s"), const_cast<char*>("-screen 0 1600x1000x24")};
    for (char** arg = argv; *arg; ++arg) args.push_back(*arg);
    args.push_back(nullptr);
    ::execvp("xvfb-run", args.data());
    std::perror("xvfb-run");
    if (shortRun()) {
        std::printf("%s skipped: no X display, and xvfb-run cannot start one\n", argv[0]);
        std::exit(0);
    }
}

}  // namespace quenbril::bench
