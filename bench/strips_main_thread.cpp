// The main thread's load while the remote shows 128 strips: the real quenbril program on an X
// display against the stand-in with 128 channels, whose level frames arrive ten times a second.
// After a settling time the program's main thread's CPU time (the kernel's per-thread counter,
// /proc/<pid>/task/<pid>/schedstat, the same clock as CLOCK_THREAD_CPUTIME_ID inside it) is
// read at the start and end of each measuring window; the figure is CPU seconds per second.
//
// Without a display the program runs itself again under xvfb-run. Target: <= 25 % of one core.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RemoteSettingsFolder.h"

using namespace quenbril;
using Clock = std::chrono::steady_clock;

namespace {

using Milliseconds = std::chrono::milliseconds;
const Milliseconds kSettle = bench::shortOr(Milliseconds(4000), Milliseconds(1500));
const Milliseconds kWindow = bench::shortOr(Milliseconds(2000), Milliseconds(500));
const int kWindows = bench::shortOr(5, 1);

/// The main thread's CPU time so far in seconds, or a negative value when it cannot be read.
double mainThreadCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                       "/schedstat");
    unsigned long long nanoseconds = 0;
    if (!(stat >> nanoseconds)) return -1;
    return static_cast<double>(nanoseconds) / 1e9;
}

}  // namespace

int main(int, char** argv) {
    bench::runUnderXvfbWithoutDisplay(argv);
    if (!std::getenv("DISPLAY")) return 1;

    test::SimServerProcess server({"--port", "57576", "--channels", "128"});
    if (server.port() != 57576) {
        std::fprintf(stderr, "port 57576 is taken; the remote's manual address needs it\n");
        return bench::shortRun() ? 0 : 1;
    }
    test::RemoteSettingsFolder settings;
    test::ChildProcess remote({QUENBRIL_PATH},
                              {{"XDG_CONFIG_HOME", settings.path()}, {"QUENBRIL_LOG", "warning"}});
    std::this_thread::sleep_for(kSettle);

    std::vector<double> shares;
    for (int i = 0; i < kWindows && remote.running(); ++i) {
        const double cpuBefore = mainThreadCpuSeconds(remote.pid());
        const auto before = Clock::now();
        std::this_thread::sleep_for(kWindow);
        const double cpuAfter = mainThreadCpuSeconds(remote.pid());
        const double wall = std::chrono::duration<double>(Clock::now() - before).count();
        if (cpuBefore < 0 || cpuAfter < 0) break;
        shares.push_back(100.0 * (cpuAfter - cpuBefore) / wall);
    }
    if (shares.size() != static_cast<size_t>(kWindows)) {
        std::fprintf(stderr, "the remote stopped or its main thread could not be read\n");
        return 1;
    }
    std::sort(shares.begin(), shares.end());
    std::printf(
        "main thread with 128 strips at 10 level frames/s, %d windows of %.1f s: median "
        "%.1f %%, worst %.1f %% of one core (target <= 25 %%)\n",
        kWindows, static_cast<double>(kWindow.count()) / 1000, bench::quantile(shares, 0.5),
        shares.back());
    return 0;
}
