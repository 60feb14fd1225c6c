#pragma once

// A Vozod UHF-R receiver on a loopback address, UDP port 2202: it answers the channel-name
// requests with 12-character reports and sends any datagram a test gives it.

#include <string>
#include <vector>

#include "tests/MonitorApp/serverrole/fakes/LoopbackPeer.h"

namespace quenbril::testing {

class FakeUHFRReceiver {
  public:
    explicit FakeUHFRReceiver(std::string host) : host_(std::move(host)) {
        udp_ = boundSocket(SOCK_DGRAM, host_, 2202);
    }
    ~FakeUHFRReceiver() {
        if (udp_ >= 0) ::close(udp_);
    }
    bool ready() const { return udp_ >= 0; }

    /// Padded or cut to 12 characters in the reports.
    std::vector<std::string> names{"Lead", "Spare"};
    bool silent = false;
    std::vector<std::string> requests;
    std::vector<std::string> senders;

    void service() {
        char buf[512];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n;
        while ((n = ::recvfrom(udp_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from),
                               &len)) > 0) {
            const std::string request(buf, static_cast<size_t>(n));
            requests.push_back(request);
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            senders.emplace_back(text);
            last_ = from;
            if (silent) continue;
            for (size_t i = 0; i < names.size(); ++i) {
                const std::string ch = std::to_string(i + 1);
                if (request != "* GET " + ch + " CHAN_NAME *") continue;
                std::string name = names[i];
                name.resize(12, ' ');
                sendTo(from, "* REPORT " + ch + " CHAN_NAME " + name + " *\r\n");
            }
        }
    }
    /// A datagram to the address that last asked.
    void send(const std::string& text) { sendTo(last_, text); }

  private:
    void sendTo(const sockaddr_in& to, const std::string& text) {
        ::sendto(udp_, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
    std::string host_;
    int udp_ = -1;
    sockaddr_in last_{};
};

}  // namespace quenbril::testing
