#pragma once

// A G3 receiver channel on a loopback address of the test process's own, for the server role's
// end-to-end tests.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "tests/MonitorApp/serverrole/fakes/LoopbackPeer.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

/// The fake receiver and the registry's interface, on the process's own loopback network.
inline std::string receiverIP() { return testing::loopbackHost(71); }
inline std::string interfaceIP() { return testing::loopbackHost(70); }
inline constexpr uint16_t kG3Port = 53212;
inline constexpr const char* kReceiverName = "Lav 1";
/// What the fake pushes: RF 40 on antenna A, battery 3.
inline constexpr const char* kPush = "RF1 1\rRF 40 1 0\rBat 3\r";
/// A Sennheiser G3 receiver channel as the registry meets it: it answers "Name\r" with its name
/// and, once asked, pushes its RF and battery lines every 50 ms until it falls silent.
class FakeG3Receiver {
  public:
    FakeG3Receiver() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kG3Port);
        inet_pton(AF_INET, receiverIP().c_str(), &a.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        thread_ = std::thread([this] { run(); });
    }
    ~FakeG3Receiver() {
        done_ = true;
        thread_.join();
        ::close(fd_);
    }
    bool bound() const { return bound_; }
    bool asked() const { return asked_.load(); }
    void setSilent(bool silent) { silent_ = silent; }
    /// Whether the fake has stopped pushing since setSilent(true): every push it made is on
    /// its way by then. Within five seconds (of a plain build).
    bool waitQuiet() const {
        const auto deadline = std::chrono::steady_clock::now() + scaledDuration(5.0);
        while (!quiet_.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return quiet_.load();
    }

  private:
    void run() {
        sockaddr_in peer{};
        bool havePeer = false;
        auto nextPush = std::chrono::steady_clock::now();
        while (!done_) {
            const bool silent = silent_;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                char buf[1500];
                sockaddr_in from{};
                socklen_t len = sizeof from;
                const ssize_t n =
                    ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (n > 0 && std::string(buf, static_cast<size_t>(n)) == "Name\r" && !silent) {
                    peer = from;
                    havePeer = true;
                    asked_ = true;
                    send(peer, std::string("Name ") + kReceiverName + "\r");
                }
            }
            const auto now = std::chrono::steady_clock::now();
            if (havePeer && !silent && now >= nextPush) {
                send(peer, kPush);
                nextPush = now + std::chrono::milliseconds(50);
            }
            quiet_ = silent;
        }
    }
    void send(const sockaddr_in& to, const std::string& text) {
        ::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }

    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> done_{false};
    std::atomic<bool> silent_{false};
    std::atomic<bool> asked_{false};
    std::atomic<bool> quiet_{false};
    std::thread thread_;
};

}  // namespace quenbril::test
