#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
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
#include "sockets/RunLoopSocket.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline std::string textOf(std::span<const uint8_t> data) {
    return std::string(data.begin(), data.end());
}

inline Bytes loopbackAddress4(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* p = reinterpret_cast<const uint8_t*>(&a);
    return Bytes(p, p + sizeof a);
}

/// Records every delegate call of the run-loop TCP sockets.
struct RunLoopRecorder : RunLoopSocketDelegate {
    struct Read {
        std::string data;
        long tag;
    };
    std::vector<std::shared_ptr<RunLoopSocket>> accepted;
    int connects = 0;
    std::string connectedHost;
    uint16_t connectedPort = 0;
    std::vector<Read> reads;
    std::vector<size_t> partialReads;
    std::vector<long> writes;
    std::vector<std::optional<Error>> willDisconnectErrors;
    std::optional<Bytes> unreadAtDisconnect;
    int disconnects = 0;
    int secured = 0;
    std::optional<bool> willConnectAnswer;
    RunLoop* loopForNewSockets = nullptr;
    std::optional<double> readExtension;
    std::vector<double> timeoutElapsed;
    std::function<void(RunLoopSocket*, const Read&)> onRead;

    void onSocketWillDisconnectWithError(RunLoopSocket* sock,
                                         const std::optional<Error>& error) override {
        willDisconnectErrors.push_back(error);
        unreadAtDisconnect = sock->unreadData();
    }
    void onSocketDidDisconnect(RunLoopSocket*) override { ++disconnects; }
    void onSocketDidAcceptNewSocket(RunLoopSocket*, std::shared_ptr<RunLoopSocket> s) override {
        accepted.push_back(std::move(s));
    }
    RunLoop* onSocketWantsRunLoopForNewSocket(RunLoopSocket*, RunLoopSocket*) override {
        return loopForNewSockets;
    }
    std::optional<bool> onSocketWillConnect(RunLoopSocket*) override { return willConnectAnswer; }
    void onSocketDidConnectToHost(RunLoopSocket*, const std::string& host, uint16_t port) override {
        ++connects;
        connectedHost = host;
        connectedPort = port;
    }
    void onSocketDidReadData(RunLoopSocket* sock, std::span<const uint8_t> data,
                             long tag) override {
        reads.push_back({textOf(data), tag});
        if (onRead) onRead(sock, reads.back());
    }
    void onSocketDidReadPartialDataOfLength(RunLoopSocket*, size_t length, long) override {
        partialReads.push_back(length);
    }
    void onSocketDidWriteDataWithTag(RunLoopSocket*, long tag) override { writes.push_back(tag); }
    std::optional<double> onSocketShouldTimeoutReadWithTag(RunLoopSocket*, long, double elapsed,
                                                           size_t) override {
        timeoutElapsed.push_back(elapsed);
        auto answer = readExtension;
        readExtension.reset();  // extend once
        return answer;
    }
    void onSocketDidSecure(RunLoopSocket*) override { ++secured; }
};

/// A plain listening socket on 127.0.0.1 for the far end, and its accepted connection.
struct PlainListener {
    explicit PlainListener(int backlog = 16) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        Bytes a = loopbackAddress4(0);
        ::bind(fd, reinterpret_cast<const sockaddr*>(a.data()), a.size());
        ::listen(fd, backlog);
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        port = ntohs(bound.sin_port);
    }
    ~PlainListener() {
        if (peer >= 0) ::close(peer);
        ::close(fd);
    }
    /// Accepts the next connection (waiting up to 2 s of a plain build: TestTime.h); the
    /// connection's descriptor or -1.
    int accept() {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, scaledMs(2000)) != 1) return -1;
        peer = ::accept(fd, nullptr, nullptr);
        return peer;
    }
    void send(const std::string& text) const {
        ::send(peer, text.data(), text.size(), MSG_NOSIGNAL);
    }
    /// Reads until `count` bytes came or 2 s (of a plain build) passed.
    std::string receive(size_t count) const {
        std::string out;
        while (out.size() < count) {
            pollfd p{peer, POLLIN, 0};
            if (::poll(&p, 1, scaledMs(2000)) != 1) break;
            char buffer[4096];
            ssize_t n = ::recv(peer, buffer, std::min(sizeof buffer, count - out.size()), 0);
            if (n <= 0) break;
            out.append(buffer, static_cast<size_t>(n));
        }
        return out;
    }
    int fd = -1;
    int peer = -1;
    uint16_t port = 0;
};

/// Installs a ManualRunLoop as the main loop; delegate calls are driven with waitFor().
class RunLoopSocketTestBase : public ::testing::Test {
  protected:
    void SetUp() override { RunLoop::setMain(&loop_); }
    void TearDown() override {
        loop_.runPending();
        RunLoop::setMain(nullptr);
    }
    bool waitFor(const std::function<bool()>& done) { return loop_.runUntil(done, 5.0); }
    /// A client connected to `listener`, with the listener's side accepted.
    std::shared_ptr<RunLoopSocket> connectedClient(PlainListener& listener,
                                                   RunLoopRecorder& recorder) {
        auto client = RunLoopSocket::make(&recorder);
        Error error;
        EXPECT_TRUE(client->connectToAddress(loopbackAddress4(listener.port), &error))
            << error.toString();
        EXPECT_GE(listener.accept(), 0);
        EXPECT_TRUE(waitFor([&] { return recorder.connects == 1; }));
        return client;
    }

    ManualRunLoop loop_;
};

}  // namespace quenbril::test
