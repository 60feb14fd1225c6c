// Loopback figures of DispatchSocket, delegate calls on the main queue (a ManualRunLoop here):
// throughput of 8+4096-byte frames read as header then body, the time from a peer's write to
// socketDidReadData on the main queue, the CPU that idle connections cost, and TLS: handshake
// times (RSA-2048, TLS 1.3) and frame throughput over TLS against plain TCP in the same run.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
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
#include "sockets/DispatchSocket.h"
#include "sockets/TLSEngine.h"
#include "tests/sockets/TLSTestCertificates.h"

using namespace quenbril;
using bench::cpuSeconds;
using bench::nowNanos;

namespace {

constexpr long kHeaderTag = 100;
// A handshake that stalls ends the run with an error instead of waiting for ever.
constexpr double kHandshakeDeadline = 5.0;
constexpr long kBodyTag = 123;
constexpr size_t kBodyLength = 4096;

/// Reads frames as the server link does: an 8-byte header, then the body, one after the other.
struct FrameReader : DispatchSocketDelegate {
    long frames = 0;
    std::vector<double> latencies;  // seconds, from the peer's send to the body's delivery
    bool measure = false;
    int connects = 0;

    void socketDidConnectToHost(DispatchSocket* sock, const std::string&, uint16_t) override {
        ++connects;
        sock->readDataToLength(8, -1, kHeaderTag);
    }
    void socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) override {
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

struct Peer {
    int listenFD = -1;
    uint16_t port = 0;
    Peer() {
        listenFD = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listenFD, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listenFD, 128);
        socklen_t length = sizeof a;
        getsockname(listenFD, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
    }
    ~Peer() { ::close(listenFD); }
};

void sendAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0) return;
        p += k;
        n -= static_cast<size_t>(k);
    }
}

void throughput(ManualRunLoop& loop) {
    Peer peer;
    FrameReader reader;
    auto sock = DispatchSocket::make(&reader, dispatch::Queue::main());
    sock->connectToHost("127.0.0.1", peer.port);
    int fd = ::accept(peer.listenFD, nullptr, nullptr);
    loop.runUntil([&] { return reader.connects == 1; }, 5);

    const long total = bench::shortOr(100000L, 2000L);
    std::thread writer([fd, total] {
        std::vector<uint8_t> frame(8 + kBodyLength, 0x5A);
        for (long i = 0; i < total; ++i) sendAll(fd, frame.data(), frame.size());
    });
    double cpu0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    loop.runUntil([&] { return reader.frames == total; }, 120);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double cpu = cpuSeconds() - cpu0;
    writer.join();
    double mb = reader.frames * (8.0 + kBodyLength) / 1e6;
    std::printf(
        "throughput: %ld frames of 8+4096 bytes in %.3f s: %.0f frames/s, %.1f MB/s "
        "(process CPU %.0f%% of one core, writer thread included)\n",
        reader.frames, seconds, reader.frames / seconds, mb / seconds, 100.0 * cpu / seconds);
    sock->disconnect();
    ::close(fd);
}

/// `socketQueue`: the socket's own queue when null, else the given one (the main queue, as the
/// server link has it).
void latency(ManualRunLoop& loop, dispatch::QueuePtr socketQueue) {
    Peer peer;
    FrameReader reader;
    const bool onMain = socketQueue != nullptr;
    auto sock = DispatchSocket::make(&reader, dispatch::Queue::main(), std::move(socketQueue));
    sock->connectToHost("127.0.0.1", peer.port);
    // A socket on the main queue connects only while the main loop runs.
    loop.runUntil(
        [&] {
            pollfd p{peer.listenFD, POLLIN, 0};
            return ::poll(&p, 1, 0) == 1;
        },
        5);
    int fd = ::accept(peer.listenFD, nullptr, nullptr);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    loop.runUntil([&] { return reader.connects == 1; }, 5);

    reader.measure = true;
    const long samples = bench::shortOr(3000L, 100L);
    std::atomic<bool> stop{false};
    std::thread writer([fd, samples, &stop] {
        std::vector<uint8_t> frame(8 + kBodyLength, 0);
        for (long i = 0; i < samples && !stop; ++i) {
            int64_t t = nowNanos();
            std::memcpy(frame.data() + 8, &t, sizeof t);
            sendAll(fd, frame.data(), frame.size());
            std::this_thread::sleep_for(std::chrono::microseconds(1000));
        }
    });
    loop.runUntil([&] { return reader.frames == samples; }, 60);
    stop = true;
    writer.join();
    auto& l = reader.latencies;
    std::sort(l.begin(), l.end());
    auto at = [&](double q) { return bench::quantile(l, q); };
    std::printf(
        "latency, peer send -> socketDidReadData on the main queue, socket queue %s (%zu "
        "frames, 1 ms apart): p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
        onMain ? "the main queue" : "its own", l.size(), at(0.5) * 1e3, at(0.99) * 1e3,
        at(1.0) * 1e3);
    sock->disconnect();
    ::close(fd);
}

struct Quiet : DispatchSocketDelegate {
    std::vector<std::shared_ptr<DispatchSocket>> accepted;
    int connects = 0;
    void socketDidAcceptNewSocket(DispatchSocket*, std::shared_ptr<DispatchSocket> s) override {
        s->readDataWithTimeout(-1, 0);
        accepted.push_back(std::move(s));
    }
    void socketDidConnectToHost(DispatchSocket* sock, const std::string&, uint16_t) override {
        ++connects;
        sock->readDataWithTimeout(-1, 0);
    }
};

void idle(ManualRunLoop& loop) {
    Quiet delegate;
    auto listener = DispatchSocket::make(&delegate, dispatch::Queue::main());
    listener->acceptOnInterface("127.0.0.1", 0);
    std::vector<std::shared_ptr<DispatchSocket>> clients;
    for (int i = 0; i < 50; ++i) {
        auto c = DispatchSocket::make(&delegate, dispatch::Queue::main());
        c->connectToHost("127.0.0.1", listener->localPort());
        clients.push_back(c);
    }
    loop.runUntil([&] { return delegate.connects == 50 && delegate.accepted.size() == 50; }, 10);
    double cpu0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    loop.runFor(bench::shortOr(5.0, 0.2));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double cpu = cpuSeconds() - cpu0;
    std::printf(
        "idle: 50 connections (100 sockets, reads pending) for %.1f s: CPU %.3f s = "
        "%.2f%% of one core\n",
        seconds, cpu, 100.0 * cpu / seconds);
}

// ---- TLS ----

Dictionary serverSettings(const test::TLSTestCertificates& certificates) {
    return Dictionary{
        {Value(TLSEngine::kIsServer), Value(true)},
        {Value(TLSEngine::kCertificates), Value(Array{Value(certificates.identity("server"))})}};
}

Dictionary clientSettings() {
    return Dictionary{{Value(TLSEngine::kPeerName), Value("localhost")}};
}

/// Both ends of one loopback connection, made by a listener on the main queue.
struct Pair : DispatchSocketDelegate {
    std::shared_ptr<DispatchSocket> listener, client, server;
    int connects = 0, secures = 0, disconnects = 0;
    // Frames: the server writes, the client reads header then body.
    long framesToWrite = 0, framesQueued = 0, framesRead = 0;
    std::shared_ptr<const Bytes> frame = std::make_shared<const Bytes>(8 + kBodyLength, 0x5A);

    void socketDidAcceptNewSocket(DispatchSocket*, std::shared_ptr<DispatchSocket> s) override {
        server = std::move(s);
    }
    void socketDidConnectToHost(DispatchSocket*, const std::string&, uint16_t) override {
        ++connects;
    }
    void socketDidSecure(DispatchSocket*) override { ++secures; }
    void socketDidDisconnect(DispatchSocket*, const std::optional<Error>&) override {
        ++disconnects;
    }
    void socketDidWriteDataWithTag(DispatchSocket* sock, long) override { queueFrame(*sock); }
    void socketDidReadData(DispatchSocket* sock, const Bytes&, long tag) override {
        if (tag == kHeaderTag) {
            sock->readDataToLength(kBodyLength, -1, kBodyTag);
        } else {
            ++framesRead;
            sock->readDataToLength(8, -1, kHeaderTag);
        }
    }
    void queueFrame(DispatchSocket& sock) {
        if (framesQueued >= framesToWrite) return;
        ++framesQueued;
        sock.writeData(frame, -1, 0);
    }

    bool open(ManualRunLoop& loop) {
        listener = DispatchSocket::make(this, dispatch::Queue::main());
        if (!listener->acceptOnInterface("127.0.0.1", 0)) return false;
        return reconnect(loop);
    }
    bool reconnect(ManualRunLoop& loop) {
        connects = secures = 0;
        server.reset();
        client = DispatchSocket::make(this, dispatch::Queue::main());
        client->connectToHost("127.0.0.1", listener->localPort());
        return loop.runUntil([&] { return connects == 1 && server; }, 5);
    }
};

void tlsHandshakes(ManualRunLoop& loop, const test::TLSTestCertificates& certificates) {
    Pair pair;
    if (!pair.open(loop)) return;
    const int rounds = bench::shortOr(300, 5);
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        if (i > 0 && !pair.reconnect(loop)) break;
        auto t0 = std::chrono::steady_clock::now();
        pair.server->startTLS(serverSettings(certificates), kHandshakeDeadline);
        pair.client->startTLS(clientSettings(), kHandshakeDeadline);
        if (!loop.runUntil([&] { return pair.secures == 2; }, 5)) {
            std::printf("tls handshake: failed at round %d\n", i);
            return;
        }
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        pair.client->disconnect();
        pair.server->disconnect();
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "tls handshake, RSA-2048, TLS 1.3, both sides on loopback until both socketDidSecure "
        "(%zu rounds): p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
        times.size(), bench::quantile(times, 0.5) * 1e3, bench::quantile(times, 0.99) * 1e3,
        bench::quantile(times, 1.0) * 1e3);
}

/// Frames per second from a DispatchSocket writer to a DispatchSocket reader, both delegates on
/// the main queue, in the clear or over TLS.
double frameRate(ManualRunLoop& loop, const test::TLSTestCertificates& certificates, bool tls) {
    Pair pair;
    if (!pair.open(loop)) return 0;
    if (tls) {
        pair.server->startTLS(serverSettings(certificates), kHandshakeDeadline);
        pair.client->startTLS(clientSettings(), kHandshakeDeadline);
        if (!loop.runUntil([&] { return pair.secures == 2; }, 5)) return 0;
    }
    const long total = bench::shortOr(100000L, 2000L);
    pair.framesToWrite = total;
    auto t0 = std::chrono::steady_clock::now();
    pair.client->readDataToLength(8, -1, kHeaderTag);
    for (int i = 0; i < 64; ++i) pair.queueFrame(*pair.server);  // frames in flight
    loop.runUntil([&] { return pair.framesRead == total; }, 120);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    pair.client->disconnect();
    return pair.framesRead / seconds;
}

void tlsThroughput(ManualRunLoop& loop, const test::TLSTestCertificates& certificates) {
    double plain = frameRate(loop, certificates, false);
    double secure = frameRate(loop, certificates, true);
    std::printf(
        "tls throughput, 8+4096-byte frames between two DispatchSockets: plain %.0f frames/s "
        "(%.1f MB/s), TLS %.0f frames/s (%.1f MB/s), ratio %.2f\n",
        plain, plain * (8 + kBodyLength) / 1e6, secure, secure * (8 + kBodyLength) / 1e6,
        plain > 0 ? secure / plain : 0.0);
}

}  // namespace

void runLoopSocketFigures(ManualRunLoop& loop);

int main() {
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    throughput(loop);
    latency(loop, nullptr);
    latency(loop, dispatch::Queue::main());
    idle(loop);
    {
        test::TLSTestCertificates certificates("rsa:2048");
        if (certificates.ok()) {
            setenv("SSL_CERT_FILE", certificates.caFile().c_str(), 1);
            tlsHandshakes(loop, certificates);
            tlsThroughput(loop, certificates);
        } else {
            std::printf("tls: the openssl command could not make certificates\n");
        }
    }
    runLoopSocketFigures(loop);
    loop.runPending();
    RunLoop::setMain(nullptr);
    return 0;
}
