#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/ManualRunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchSocket.h"
#include "tests/support/MainQueueDrain.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

/// Records every delegate call, and whether each arrived on the main thread.
struct Recorder : DispatchSocketDelegate {
    struct Read {
        Bytes data;
        long tag;
    };
    std::vector<std::shared_ptr<DispatchSocket>> accepted;
    std::vector<Bytes> acceptedFrom;
    int connects = 0;
    std::string connectedHost;
    uint16_t connectedPort = 0;
    std::string connectedUrl;
    std::vector<Read> reads;
    std::vector<long> writes;
    std::vector<size_t> partialReads;
    int readStreamClosed = 0;
    int disconnects = 0;
    std::optional<Error> disconnectError;
    DispatchSocket* disconnectedSocket = reinterpret_cast<DispatchSocket*>(1);
    bool offMainThread = false;
    std::optional<double> readExtension, writeExtension;
    std::vector<double> timeoutElapsed;
    std::shared_ptr<dispatch::Queue> queueForNewSockets;

    void check() {
        if (!RunLoop::main().isCurrentThread()) offMainThread = true;
    }
    std::shared_ptr<dispatch::Queue> newSocketQueueForConnectionFromAddress(
        const Bytes& address, DispatchSocket*) override {
        check();
        acceptedFrom.push_back(address);
        return queueForNewSockets;
    }
    void socketDidAcceptNewSocket(DispatchSocket*, std::shared_ptr<DispatchSocket> s) override {
        check();
        accepted.push_back(std::move(s));
    }
    void socketDidConnectToHost(DispatchSocket*, const std::string& host, uint16_t port) override {
        check();
        ++connects;
        connectedHost = host;
        connectedPort = port;
    }
    void socketDidConnectToUrl(DispatchSocket*, const std::string& path) override {
        check();
        ++connects;
        connectedUrl = path;
    }
    void socketDidReadData(DispatchSocket*, const Bytes& data, long tag) override {
        check();
        reads.push_back({data, tag});
    }
    void socketDidReadPartialDataOfLength(DispatchSocket*, size_t length, long) override {
        check();
        partialReads.push_back(length);
    }
    void socketDidWriteDataWithTag(DispatchSocket*, long tag) override {
        check();
        writes.push_back(tag);
    }
    std::optional<double> socketShouldTimeoutReadWithTag(DispatchSocket*, long, double elapsed,
                                                         size_t) override {
        check();
        timeoutElapsed.push_back(elapsed);
        auto answer = readExtension;
        readExtension.reset();  // extend once
        return answer;
    }
    std::optional<double> socketShouldTimeoutWriteWithTag(DispatchSocket*, long, double elapsed,
                                                          size_t) override {
        check();
        timeoutElapsed.push_back(elapsed);
        auto answer = writeExtension;
        writeExtension.reset();
        return answer;
    }
    void socketDidCloseReadStream(DispatchSocket*) override {
        check();
        ++readStreamClosed;
    }
    void socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) override {
        check();
        ++disconnects;
        disconnectError = error;
        disconnectedSocket = sock;
    }
};

/// Installs a ManualRunLoop as the main loop; delegate calls are driven with wait().
class SocketTest : public ::testing::Test {
  protected:
    void SetUp() override { RunLoop::setMain(&loop_); }
    void TearDown() override {
        loop_.runPending();
        RunLoop::setMain(nullptr);
    }

    /// Runs the main loop until `done` (real time, short).
    bool wait(const std::function<bool()>& done, double seconds = 5.0) {
        return loop_.runUntil(done, seconds);
    }
    /// Runs the main loop for a moment, where no event can tell that the wait is over.
    void settle(double seconds = 0.1) { loop_.runFor(seconds); }
    /// Waits until the main queue has run what was sent to it so far.
    bool drainMain() { return drainMainQueue(loop_); }
    /// Waits until `socket`'s queue has done what was asked of it so far (twice, for the work
    /// that work queues) and the main loop has run the delegate calls that came of it: what
    /// the socket would have reported by now, it has; a check that nothing (more) happens
    /// follows this.
    template <typename Socket>
    bool drain(Socket& socket) {
        for (int pass = 0; pass < 2; ++pass) {
            socket.performBlock([] {});
            if (!drainMain()) return false;
        }
        return true;
    }
    std::shared_ptr<dispatch::Queue> mainQueue() { return dispatch::Queue::main(); }
    std::shared_ptr<DispatchSocket> makeSocket(Recorder& r) {
        return DispatchSocket::make(&r, mainQueue());
    }

    ManualRunLoop loop_;
};

inline Bytes address4(const char* text, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, text, &a.sin_addr);
    const auto* p = reinterpret_cast<const uint8_t*>(&a);
    return Bytes(p, p + sizeof a);
}

inline Bytes address6(const char* text, uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    inet_pton(AF_INET6, text, &a.sin6_addr);
    const auto* p = reinterpret_cast<const uint8_t*>(&a);
    return Bytes(p, p + sizeof a);
}

/// A plain listening socket on 127.0.0.1 with a system-chosen port.
struct RawListener {
    int fd = -1;
    uint16_t port = 0;
    explicit RawListener(int backlog = 16) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        Bytes a = address4("127.0.0.1", 0);
        ::bind(fd, reinterpret_cast<const sockaddr*>(a.data()), static_cast<socklen_t>(a.size()));
        ::listen(fd, backlog);
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        port = ntohs(bound.sin_port);
    }
    ~RawListener() {
        if (fd >= 0) ::close(fd);
    }
    /// Waits (real time, `timeoutMs` of a plain build: TestTime.h) for one connection.
    int accept(int timeoutMs = 3000) const {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, scaledMs(timeoutMs)) != 1) return -1;
        return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
};

/// A plain blocking client connected to 127.0.0.1:port.
inline int rawConnect(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Bytes a = address4("127.0.0.1", port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(a.data()),
                  static_cast<socklen_t>(a.size())) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline void sendAll(int fd, const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
        ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL);
        if (n <= 0) return;
        p += n;
        length -= static_cast<size_t>(n);
    }
}

inline void sendText(int fd, const std::string& text) { sendAll(fd, text.data(), text.size()); }

/// Reads exactly `length` bytes (blocking, with a poll time-out of a plain build's `timeoutMs`,
/// stretched here: TestTime.h); fewer on end of stream.
inline Bytes recvExactly(int fd, size_t length, int timeoutMs = 5000) {
    Bytes out;
    out.reserve(length);
    uint8_t chunk[65536];
    while (out.size() < length) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, scaledMs(timeoutMs)) != 1) break;
        ssize_t n = ::recv(fd, chunk, std::min(sizeof chunk, length - out.size()), 0);
        if (n <= 0) break;
        out.insert(out.end(), chunk, chunk + n);
    }
    return out;
}

/// True when the peer has closed (a read gives end of stream within the time-out, a plain
/// build's, stretched here: TestTime.h).
inline bool peerClosed(int fd, int timeoutMs = 3000) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, scaledMs(timeoutMs)) != 1) return false;
    uint8_t byte;
    return ::recv(fd, &byte, 1, 0) <= 0;
}

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline std::string textOf(const Bytes& data) { return std::string(data.begin(), data.end()); }

/// The descriptor `socket` uses, asked on its queue.
template <typename Socket>
int descriptorOf(Socket& socket) {
    int fd = -1;
    socket.performBlock([&] { fd = socket.socketFD(); });
    return fd;
}

/// No longer open: nothing else in a test's process opens a descriptor meanwhile.
inline bool isClosed(int fd) { return fcntl(fd, F_GETFD) == -1; }

inline int openDescriptorCount() {
    int count = 0;
    for (int fd = 0; fd < 4096; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) ++count;
    }
    return count;
}

}  // namespace quenbril::test
