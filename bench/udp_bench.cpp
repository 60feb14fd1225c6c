// Loopback figures of DispatchUdpSocket with delegate calls on the main queue (a ManualRunLoop
// here): the highest rate of 200-byte datagrams delivered without loss over 5 s, the time from
// a peer's send to udpSocketDidReceiveData at 10,000 datagrams/s, and the CPU that idle
// receiving sockets cost.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchUdpSocket.h"

using namespace quenbril;
using bench::cpuSeconds;
using bench::nowNanos;

namespace {

constexpr size_t kDatagram = 200;
const double kSeconds = bench::shortOr(5.0, 0.1);

/// Counts datagrams (each carries its sequence number and send time) and their latencies.
struct Counter : DispatchUdpSocketDelegate {
    long received = 0;
    long highest = -1;
    long outOfOrder = 0;
    std::vector<double> latencies;
    void udpSocketDidReceiveData(DispatchUdpSocket*, const Bytes& data, const Bytes&,
                                 const std::shared_ptr<void>&) override {
        int64_t sequence, sent;
        std::memcpy(&sequence, data.data(), sizeof sequence);
        std::memcpy(&sent, data.data() + 8, sizeof sent);
        latencies.push_back((nowNanos() - sent) / 1e9);
        if (sequence < highest) ++outOfOrder;
        highest = std::max<long>(highest, sequence);
        ++received;
    }
};

/// Sends `rate` datagrams a second for `seconds` to 127.0.0.1:port, paced every millisecond.
long sendPaced(uint16_t port, double rate, double seconds) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<uint8_t> payload(kDatagram, 0x5A);
    const long total = static_cast<long>(rate * seconds);
    auto start = std::chrono::steady_clock::now();
    long sent = 0;
    while (sent < total) {
        double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        long due = std::min(total, static_cast<long>(elapsed * rate) + 1);
        for (; sent < due; ++sent) {
            int64_t sequence = sent, t = nowNanos();
            std::memcpy(payload.data(), &sequence, sizeof sequence);
            std::memcpy(payload.data() + 8, &t, sizeof t);
            ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ::close(fd);
    return total;
}

struct Run {
    long sent = 0;
    long received = 0;
    std::vector<double> latencies;
};

/// `receiveBuffer` 0 keeps the system's default receive buffer.
Run receiveAt(ManualRunLoop& loop, double rate, int receiveBuffer = 0) {
    Counter counter;
    auto sock = DispatchUdpSocket::make(&counter, dispatch::Queue::main());
    sock->bindToPort(0, "127.0.0.1");
    if (receiveBuffer > 0) {
        sock->performBlock([&] {
            ::setsockopt(sock->socket4FD(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer,
                         sizeof receiveBuffer);
        });
    }
    sock->beginReceiving();
    const uint16_t port = sock->localPort();
    std::atomic<long> sent{-1};
    std::thread sender([&] { sent = sendPaced(port, rate, kSeconds); });
    // What is lost never comes: a short run waits less for it.
    loop.runUntil([&] { return sent >= 0 && counter.received >= sent; },
                  kSeconds + bench::shortOr(10.0, 1.0));
    // Stragglers still on their way.
    loop.runUntil([&] { return counter.received >= sent; }, 0.5);
    sender.join();
    sock->close();
    loop.runPending();
    Run run;
    run.sent = sent;
    run.received = counter.received;
    run.latencies = std::move(counter.latencies);
    return run;
}

void highestRate(ManualRunLoop& loop, int receiveBuffer, const char* bufferText) {
    double best = 0;
    for (double rate : {10000.0, 20000.0, 40000.0, 80000.0, 160000.0}) {
        Run run = receiveAt(loop, rate, receiveBuffer);
        std::printf("  %.0f datagrams/s for %.1f s: %ld of %ld delivered\n", rate, kSeconds,
                    run.received, run.sent);
        if (run.received != run.sent) break;
        best = rate;
    }
    std::printf(
        "highest rate delivered without loss (200-byte datagrams, %.1f s, %s receive buffer): "
        "%.0f/s\n",
        kSeconds, bufferText, best);
}

void latencyAt10k(ManualRunLoop& loop) {
    Run run = receiveAt(loop, 10000);
    auto& l = run.latencies;
    std::sort(l.begin(), l.end());
    std::printf(
        "latency at 10,000 datagrams/s, send -> udpSocketDidReceiveData on the main queue: "
        "p50 %.3f ms, p99 %.3f ms, max %.3f ms; %ld of %ld delivered\n",
        bench::quantile(l, 0.5) * 1e3, bench::quantile(l, 0.99) * 1e3,
        bench::quantile(l, 1.0) * 1e3, run.received, run.sent);
}

void idle(ManualRunLoop& loop) {
    Counter counter;
    std::vector<std::shared_ptr<DispatchUdpSocket>> sockets;
    for (int i = 0; i < 50; ++i) {
        auto sock = DispatchUdpSocket::make(&counter, dispatch::Queue::main());
        sock->bindToPort(0, "127.0.0.1");
        sock->beginReceiving();
        sockets.push_back(sock);
    }
    loop.runFor(0.2);
    double cpu0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    loop.runFor(kSeconds);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double cpu = cpuSeconds() - cpu0;
    std::printf("idle: 50 receiving sockets for %.1f s: CPU %.3f s = %.2f%% of one core\n", seconds,
                cpu, 100.0 * cpu / seconds);
    for (auto& s : sockets) s->close();
    loop.runPending();
}

}  // namespace

int main() {
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    highestRate(loop, 0, "the system's default");
    // The same with room for 4 MB: losses above are then from pauses in scheduling (a loaded
    // machine), not from the socket's pace.
    highestRate(loop, 4 << 20, "a 4 MB");
    latencyAt10k(loop);
    idle(loop);
    loop.runPending();
    RunLoop::setMain(nullptr);
    return 0;
}
