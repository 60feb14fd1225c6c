#pragma once

// Plain non-blocking sockets for the fake receivers: a datagram socket and a TCP listener
// bound to a loopback address and a fixed port. The test services them between run-loop passes.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace quenbril::testing {

inline sockaddr_in loopbackAddress(const std::string& host, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    return a;
}

/// A socket bound to `host`:`port`, or -1. A TCP address another process's fake holds (a second
/// test run beside this one takes the same addresses) is waited for: it is free once that test
/// ends.
inline int boundSocket(int type, const std::string& host, uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopbackAddress(host, port);
    const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (errno != EADDRINUSE || type != SOCK_STREAM ||
            std::chrono::steady_clock::now() > patience) {
            ::close(fd);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (type == SOCK_STREAM) ::listen(fd, 8);
    return fd;
}

/// One accepted TCP connection of a fake receiver.
struct FakeConnection {
    int fd = -1;
    std::vector<uint8_t> received;
    bool closed = false;

    /// Reads what has arrived; false once the peer has closed.
    bool pump() {
        uint8_t buf[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n > 0) {
                received.insert(received.end(), buf, buf + n);
                continue;
            }
            if (n == 0) closed = true;
            return !closed;
        }
    }
    void send(const std::vector<uint8_t>& bytes) {
        if (fd >= 0) ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        closed = true;
    }
};

/// Accepts every pending connection of a listener.
inline void acceptAll(int listener, std::vector<FakeConnection>& into) {
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        into.push_back(FakeConnection{fd, {}, false});
    }
}

}  // namespace quenbril::testing
