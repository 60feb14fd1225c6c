// The peer link on loopback: two stations in one process, one streaming "Striimi" audio to
// the other as fast as the stream takes it, then text messages one at a time. Prints the
// stream's throughput in MB/s and the latency of a message from sendMessage to its delivery
// on the receiver's main queue (p50, p99, max).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/peer/MCManager.h"
#include "MonitorApp/serverrole/peer/PeerSession.h"
#include "bench/BenchSupport.h"
#include "foundation/Log.h"
#include "foundation/ManualRunLoop.h"

namespace quenbril {
namespace {

using Clock = std::chrono::steady_clock;

struct Arrivals : MCManagerDelegate {
    void messageReceived(const std::optional<std::string>&) override {
        ++count;
        last = Clock::now();
    }
    size_t count = 0;
    Clock::time_point last;
};

std::unique_ptr<MCManager> station(const std::string& name, Arrivals* arrivals) {
    MCManager::Services services;
    services.interface = "127.0.0.1";
    auto manager = std::make_unique<MCManager>(std::move(services));
    manager->setupPeerAndSessionWithDisplayName(name);
    manager->setDelegate(arrivals);
    return manager;
}

int run() {
    setLogLevel(LogLevel::Warning);
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    Arrivals alphaArrivals, betaArrivals;
    auto alpha = station("Alpha", &alphaArrivals);
    alpha->advertiseSelf(true);
    auto beta = station("Beta", &betaArrivals);
    size_t received = 0;
    beta->setStreamBytesHandler([&](const std::string&, const PeerIDPtr&, const Bytes& bytes) {
        received += bytes.size();
    });
    Error error;
    if (!beta->session()->invite("127.0.0.1", alpha->session()->listeningPort(), &error) ||
        !loop.runUntil(
            [&] {
                return alpha->session()->connectedPeers().size() == 1 &&
                       beta->session()->connectedPeers().size() == 1;
            },
            5.0)) {
        std::fprintf(stderr, "peer_bench: the stations did not connect\n");
        return 1;
    }

    // Throughput: the sender writes whole audio buffers whenever the stream takes them.
    beta->sendMessage(MCManager::kStartStream);
    if (!loop.runUntil([&] { return alpha->outStream() && alpha->outStream()->isOpen(); }, 5.0)) {
        std::fprintf(stderr, "peer_bench: the stream did not open\n");
        return 1;
    }
    const auto* buffer = reinterpret_cast<const uint8_t*>(alpha->outBuffer().data());
    const size_t chunk = MCManager::kOutBufferBytes;
    const size_t total = bench::shortOr<size_t>(512, 8) << 20;
    size_t sent = 0;
    const auto start = Clock::now();
    const bool streamed = loop.runUntil(
        [&] {
            while (sent < total) {
                const long taken = alpha->outStream()->write(buffer, std::min(chunk, total - sent));
                if (taken <= 0) break;
                sent += static_cast<size_t>(taken);
            }
            return received >= total;
        },
        60.0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!streamed) {
        std::fprintf(stderr, "peer_bench: %zu of %zu bytes arrived\n", received, total);
        return 1;
    }
    std::printf("stream throughput: %.1f MB/s (%zu MiB in %.2f s)\n",
                static_cast<double>(total) / 1e6 / seconds, total >> 20, seconds);
    beta->sendMessage(MCManager::kStopStream);
    loop.runUntil([&] { return !alpha->outStream(); }, 5.0);

    // Latency: one message at a time, from the call to its delivery on the main queue.
    const int messages = bench::shortOr(5000, 100);
    std::vector<double> latencies;
    latencies.reserve(messages);
    const size_t before = alphaArrivals.count;
    for (int i = 0; i < messages; ++i) {
        const auto sentAt = Clock::now();
        beta->sendMessage("level " + std::to_string(i));
        if (!loop.runUntil([&] { return alphaArrivals.count == before + i + 1; }, 5.0)) {
            std::fprintf(stderr, "peer_bench: message %d was lost\n", i);
            return 1;
        }
        latencies.push_back(
            std::chrono::duration<double, std::milli>(alphaArrivals.last - sentAt).count());
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("message latency: p50 %.3f ms, p99 %.3f ms, max %.3f ms (%d messages)\n",
                bench::quantile(latencies, 0.5), bench::quantile(latencies, 0.99), latencies.back(),
                messages);
    beta.reset();
    alpha.reset();
    loop.runPending();
    RunLoop::setMain(nullptr);
    return 0;
}

}  // namespace
}  // namespace quenbril

int main() { return quenbril::run(); }
