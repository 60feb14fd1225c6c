#pragma once

// Plain non-blocking sockets for the fake receivers: a datagram socket and a TCP listener
// bound to a loopback address and a fixed port. The test services them between run-loop passes.
// Each test process takes loopback addresses of its own, so that test runs side by side never
// meet at a receiver's fixed port.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace quenbril::testing {

/// The loopback network of this test process, "127.A.B.": the whole 127/8 block reaches the
/// loopback interface. A.B starts from the process id and is claimed for the process's life by
/// a bound socket, so no two processes running at once share it.
inline const std::string& processNetwork() {
    static const std::string network = [] {
        const int start = static_cast<int>(::getpid()) % (250 * 250);
        for (int i = 0; i < 250 * 250; ++i) {
            const int n = (start + i) % (250 * 250);
            const std::string candidate =
                "127." + std::to_string(1 + n % 250) + "." + std::to_string(n / 250) + ".";
            const int claim = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(31999);
            inet_pton(AF_INET, (candidate + "254").c_str(), &a.sin_addr);
            if (::bind(claim, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return candidate;
            ::close(claim);
        }
        return std::string("127.0.0.");
    }();
    return network;
}
/// Host `last` of this process's loopback network.
inline std::string loopbackHost(int last) { return processNetwork() + std::to_string(last); }

inline sockaddr_in loopbackAddress(const std::string& host, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    return a;
}

/// A socket bound to `host`:`port`, or -1.
inline int boundSocket(int type, const std::string& host, uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopbackAddress(host, port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
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
