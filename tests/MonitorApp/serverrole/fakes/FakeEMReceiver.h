#pragma once

// A Sennheiser EM receiver on a loopback address: it answers each name and data request on
// port 8137 with the reply of that channel. It can stay silent or send garbage.

#include <map>
#include <string>
#include <vector>

#include "tests/MonitorApp/serverrole/fakes/LoopbackPeer.h"

namespace quenbril::testing {

struct EMChannel {
    std::string name;
    uint8_t battery = 9;
    uint16_t levelA = 240;
    uint16_t levelB = 120;
};

inline std::vector<uint8_t> emNameReply(int channel, const std::string& name) {
    std::vector<uint8_t> r(334, 0);
    r[0] = channel == 1 ? 0x02 : 0x07;
    r[1] = 0x06;
    std::copy_n(name.begin(), std::min<size_t>(name.size(), 6), r.begin() + 328);
    return r;
}

inline std::vector<uint8_t> emDataReply(int channel, const EMChannel& c) {
    std::vector<uint8_t> r(61, 0);
    r[0] = channel == 1 ? 0x05 : 0x10;
    r[1] = 0x06;
    r[55] = c.battery;
    r[56] = c.levelA & 0xFF;
    r[57] = c.levelA >> 8;
    r[58] = c.levelB & 0xFF;
    r[59] = c.levelB >> 8;
    return r;
}

class FakeEMReceiver {
  public:
    explicit FakeEMReceiver(std::string host) : host_(std::move(host)) {
        udp_ = boundSocket(SOCK_DGRAM, host_, 8137);
    }
    ~FakeEMReceiver() {
        if (udp_ >= 0) ::close(udp_);
    }
    bool ready() const { return udp_ >= 0; }

    EMChannel one{"Vox1", 9, 240, 120};
    EMChannel two{"Vox2", 2, 90, 90};
    bool silent = false;
    bool garbage = false;
    std::vector<std::vector<uint8_t>> requests;
    /// The local addresses the requests came from.
    std::vector<std::string> senders;

    void service() {
        uint8_t buf[512];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n;
        while ((n = ::recvfrom(udp_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from),
                               &len)) > 0) {
            requests.emplace_back(buf, buf + n);
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            senders.emplace_back(text);
            if (silent) continue;
            std::vector<uint8_t> reply;
            if (garbage) {
                reply.assign(400, 0x06);
            } else if (n == 364) {
                reply = emNameReply(buf[0] == 0x06 ? 1 : 2, buf[0] == 0x06 ? one.name : two.name);
            } else if (n == 44) {
                reply = buf[1] == 0x07 ? emDataReply(1, one) : emDataReply(2, two);
            }
            ::sendto(udp_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }

  private:
    std::string host_;
    int udp_ = -1;
};

}  // namespace quenbril::testing
