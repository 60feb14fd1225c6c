// Latency of the two hops the socket layer lives on: a block sent from a serial queue to the main
// run loop, and a read source firing on a socketpair. Prints p50 and p99 in microseconds.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/dispatch/DescriptorSource.h"
#include "foundation/dispatch/Queue.h"
#include "foundation/dispatch/Semaphore.h"

using namespace quenbril;
using Clock = std::chrono::steady_clock;

namespace {

const int kSamples = bench::shortOr(20000, 500);
const int kWarmUp = bench::shortOr(500, 50);

void report(const char* what, std::vector<double>& micros) {
    std::sort(micros.begin(), micros.end());
    std::printf("%-44s p50 %7.1f us   p99 %7.1f us   (%zu samples)\n", what,
                bench::quantile(micros, 0.50), bench::quantile(micros, 0.99), micros.size());
}

double microsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void serialToMain() {
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    auto queue = dispatch::Queue::makeSerial("bench.serial");
    std::vector<double> micros;
    micros.reserve(kSamples);
    for (int i = 0; i < kSamples + kWarmUp; ++i) {
        bool arrived = false;
        queue->async([&] {
            auto start = Clock::now();
            dispatch::Queue::main()->async([&, start] {
                if (i >= kWarmUp) micros.push_back(microsSince(start));
                arrived = true;
            });
        });
        if (!loop.runUntil([&] { return arrived; }, 5.0)) {
            std::printf("serial queue -> main run loop: a hop did not arrive\n");
            break;
        }
    }
    RunLoop::setMain(nullptr);
    report("serial queue -> main run loop", micros);
}

void readSource() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) != 0) return;
    auto queue = dispatch::Queue::makeSerial("bench.source");
    auto source = dispatch::DescriptorSource::makeRead(fds[0], queue);
    dispatch::Semaphore fired;
    std::atomic<int64_t> sentAt{0};
    std::vector<double> micros;
    micros.reserve(kSamples);
    int count = 0;
    source->setEventHandler([&] {
        auto now = Clock::now().time_since_epoch().count();
        char byte;
        while (read(fds[0], &byte, 1) == 1) {
        }
        if (count++ >= kWarmUp) {
            auto ticks = Clock::duration(now - sentAt.load());
            micros.push_back(std::chrono::duration<double, std::micro>(ticks).count());
        }
        fired.signal();
    });
    dispatch::Semaphore cancelled;
    source->setCancelHandler([&] { cancelled.signal(); });
    source->resume();
    for (int i = 0; i < kSamples + kWarmUp; ++i) {
        sentAt = Clock::now().time_since_epoch().count();
        if (write(fds[1], "x", 1) != 1 || !fired.wait(5.0)) {
            std::printf("read source: an event did not arrive\n");
            break;
        }
    }
    source->cancel();
    cancelled.wait(5.0);
    close(fds[0]);
    close(fds[1]);
    report("read source on a socketpair (serial queue)", micros);
}

}  // namespace

int main() {
    serialToMain();
    readSource();
    return 0;
}
