// Loopback figures of RunLoopSocket, everything on one ManualRunLoop: throughput of 8+4096-byte
// frames read as header then body, the time from writeData on one socket to didReadData on the
// other, and the CPU that idle run-loop connections cost.

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
#include "sockets/RunLoopSocket.h"

using namespace quenbril;
using bench::cpuSeconds;
using bench::nowNanos;

namespace {

constexpr long kHeaderTag = 100;
constexpr long kBodyTag = 123;
constexpr size_t kBodyLength = 4096;

/// Accepts connections and reads frames on them as the server link does: an 8-byte header,
/// then the body.
struct FrameReader : RunLoopSocketDelegate {
    std::vector<std::shared_ptr<RunLoopSocket>> accepted;
    long frames = 0;
    int connects = 0;
    bool measure = false;
    std::vector<double> latencies;

    void onSocketDidAcceptNewSocket(RunLoopSocket*, std::shared_ptr<RunLoopSocket> s) override {
        accepted.push_back(std::move(s));
    }
    void onSocketDidConnectToHost(RunLoopSocket* sock, const std::string&, uint16_t) override {
        ++connects;
        sock->readDataToLength(8, -1, kHeaderTag);
    }
    void onSocketDidReadData(RunLoopSocket* sock, std::span<const uint8_t> data,
                             long tag) override {
        if (tag == kHeaderTag) {
            sock->readDataToLength(kBodyLength, -1, kBodyTag);
            return;
        }
        if (measure) {
            int64_t sent;
            std::memcpy(&sent, data.data(), sizeof sent);
            latencies.push_back((nowNanos() - sent) / 1e9);
        }
        ++frames;
        sock->readDataToLength(8, -1, kHeaderTag);
    }
};

/// Only connects; its sockets write.
struct Writer : RunLoopSocketDelegate {
    int connects = 0;
    void onSocketDidConnectToHost(RunLoopSocket*, const std::string&, uint16_t) override {
        ++connects;
    }
};

void throughput(ManualRunLoop& loop) {
    FrameReader reader;
    auto listener = RunLoopSocket::make(&reader);
    listener->acceptOnInterface("127.0.0.1", 0);
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(listener->localPort());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    loop.runUntil([&] { return reader.connects == 1; }, 5);

    const long total = bench::shortOr(100000L, 2000L);
    std::thread writer([fd, total] {
        std::vector<uint8_t> frame(8 + kBodyLength, 0x5A);
        for (long i = 0; i < total; ++i) {
            const uint8_t* p = frame.data();
            size_t n = frame.size();
            while (n > 0) {
                ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
                if (k <= 0) return;
                p += k;
                n -= static_cast<size_t>(k);
            }
        }
    });
    double cpu0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    loop.runUntil([&] { return reader.frames == total; }, 120);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double cpu = cpuSeconds() - cpu0;
    writer.join();
    std::printf(
        "run-loop throughput: %ld frames of 8+4096 bytes in %.3f s: %.0f frames/s, %.1f MB/s "
        "(process CPU %.0f%% of one core, writer thread included)\n",
        reader.frames, seconds, reader.frames / seconds,
        reader.frames * (8.0 + kBodyLength) / 1e6 / seconds, 100.0 * cpu / seconds);
    ::close(fd);
}

void latency(ManualRunLoop& loop) {
    FrameReader reader;
    Writer writerDelegate;
    auto listener = RunLoopSocket::make(&reader);
    listener->acceptOnInterface("127.0.0.1", 0);
    auto client = RunLoopSocket::make(&writerDelegate);
    client->connectToHost("127.0.0.1", listener->localPort());
    loop.runUntil([&] { return reader.connects == 1 && writerDelegate.connects == 1; }, 5);

    reader.measure = true;
    const long samples = bench::shortOr(3000L, 100L);
    std::atomic<bool> stop{false};
    // A thread paces the frames, 1 ms apart; each is written on the loop, stamped just before
    // writeData, so the figure runs from writeData to didReadData on the same loop.
    std::thread pacer([&] {
        for (long i = 0; i < samples && !stop; ++i) {
            loop.post([&client] {
                std::vector<uint8_t> frame(8 + kBodyLength, 0);
                int64_t t = nowNanos();
                std::memcpy(frame.data() + 8, &t, sizeof t);
                client->writeData(std::move(frame), -1, 1);
            });
            std::this_thread::sleep_for(std::chrono::microseconds(1000));
        }
    });
    loop.runUntil([&] { return reader.frames == samples; }, 60);
    stop = true;
    pacer.join();
    loop.runPending();
    auto& l = reader.latencies;
    std::sort(l.begin(), l.end());
    auto at = [&](double q) { return bench::quantile(l, q); };
    std::printf(
        "run-loop latency, writeData -> onSocketDidReadData on the same loop (%zu frames, 1 ms "
        "apart): p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
        l.size(), at(0.5) * 1e3, at(0.99) * 1e3, at(1.0) * 1e3);
}

void idle(ManualRunLoop& loop) {
    FrameReader delegate;
    auto listener = RunLoopSocket::make(&delegate);
    listener->acceptOnInterface("127.0.0.1", 0);
    std::vector<std::shared_ptr<RunLoopSocket>> clients;
    for (int i = 0; i < 50; ++i) {
        auto c = RunLoopSocket::make(&delegate);
        c->connectToHost("127.0.0.1", listener->localPort());
        clients.push_back(c);
    }
    loop.runUntil([&] { return delegate.connects == 100; }, 10);
    double cpu0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    loop.runFor(bench::shortOr(5.0, 0.2));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double cpu = cpuSeconds() - cpu0;
    std::printf(
        "run-loop idle: 50 connections (100 sockets, reads pending) for %.1f s: CPU %.3f s = "
        "%.2f%% of one core\n",
        seconds, cpu, 100.0 * cpu / seconds);
}

}  // namespace

/// Called by socket_bench's main with its loop installed as the main loop.
void runLoopSocketFigures(ManualRunLoop& loop) {
    throughput(loop);
    latency(loop);
    idle(loop);
    loop.runPending();
}
