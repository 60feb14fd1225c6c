#pragma once

// A slow link on loopback: a TCP proxy that passes what a server sends at a fixed rate (what the
// client sends goes through at once). Its own buffers are small, so the server's writes wait as
// they would behind a real slow link. For the tests and benchmarks of remotes on slow links.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace quenbril::test {

class ThrottledProxy {
  public:
    /// Relays each connection to 127.0.0.1:`serverPort`, the server's bytes at `bytesPerSecond`.
    ThrottledProxy(uint16_t serverPort, double bytesPerSecond)
        : serverPort_(serverPort), bytesPerSecond_(bytesPerSecond) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(0);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 8) != 0) {
            return;
        }
        socklen_t length = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~ThrottledProxy() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        closeConnection();
        if (listener_ >= 0) ::close(listener_);
    }
    ThrottledProxy(const ThrottledProxy&) = delete;
    ThrottledProxy& operator=(const ThrottledProxy&) = delete;

    /// The port clients connect to; 0 when the proxy could not listen.
    uint16_t port() const { return port_; }
    /// Connections taken so far (a new one replaces the one before).
    int connections() const { return connections_.load(); }
    /// Bytes of the server passed to the client so far.
    size_t bytesPassed() const { return passed_.load(); }

  private:
    static constexpr int kBufferBytes = 16 * 1024;
    static constexpr int kStepMillis = 10;

    static sockaddr_in loopback(uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }

    void closeConnection() {
        if (client_ >= 0) ::close(client_);
        if (server_ >= 0) ::close(server_);
        client_ = server_ = -1;
        pending_.clear();
    }

    void accept() {
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        closeConnection();
        int up = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int size = kBufferBytes;
        ::setsockopt(up, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        sockaddr_in a = loopback(serverPort_);
        if (::connect(up, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(up);
            ::close(fd);
            return;
        }
        client_ = fd;
        server_ = up;
        ++connections_;
    }

    /// Moves the client's bytes to the server; false when either side closed.
    bool passClientBytes() {
        uint8_t buffer[4096];
        ssize_t n = ::recv(client_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0) return false;
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        return ::send(server_, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
    }

    /// Passes at most `allowance` of the server's bytes; false when either side closed.
    bool passServerBytes(size_t allowance) {
        if (pending_.size() < allowance) {
            uint8_t buffer[kBufferBytes];
            size_t want = std::min(sizeof buffer, allowance - pending_.size());
            ssize_t n = ::recv(server_, buffer, want, MSG_DONTWAIT);
            if (n == 0 && pending_.empty()) return false;
            if (n > 0) pending_.insert(pending_.end(), buffer, buffer + n);
        }
        size_t count = std::min(allowance, pending_.size());
        if (count == 0) return true;
        ssize_t sent = ::send(client_, pending_.data(), count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        pending_.erase(pending_.begin(), pending_.begin() + sent);
        passed_ += static_cast<size_t>(sent);
        return true;
    }

    void run() {
        using clock = std::chrono::steady_clock;
        auto last = clock::now();
        double credit = 0;
        while (!stop_) {
            pollfd p[2] = {{listener_, POLLIN, 0}, {client_, POLLIN, 0}};
            ::poll(p, client_ >= 0 ? 2 : 1, kStepMillis);
            if (p[0].revents & POLLIN) accept();
            if (client_ < 0) continue;
            auto now = clock::now();
            credit += std::chrono::duration<double>(now - last).count() * bytesPerSecond_;
            last = now;
            // No credit saved up beyond one step's worth: the rate holds over any window.
            credit = std::min(credit, bytesPerSecond_ * kStepMillis / 1000.0 * 2);
            auto allowance = static_cast<size_t>(credit);
            size_t before = passed_;
            if (!passClientBytes() || !passServerBytes(allowance)) {
                closeConnection();
                continue;
            }
            credit -= static_cast<double>(passed_ - before);
        }
    }

    uint16_t serverPort_;
    double bytesPerSecond_;
    int listener_ = -1;
    uint16_t port_ = 0;
    int client_ = -1;
    int server_ = -1;
    std::vector<uint8_t> pending_;
    std::atomic<int> connections_{0};
    std::atomic<size_t> passed_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace quenbril::test
