#pragma once

// A Sony DWX receiver on a loopback address: it answers the UDP request on port 51010 with the
// switch reply, accepts TCP on port 51000 and answers each 10-byte status request with a status
// reply of its channels. It can stay silent, split its replies or send garbage.

#include <string>
#include <vector>

#include "tests/MonitorApp/serverrole/fakes/LoopbackPeer.h"
#include "tests/MonitorApp/serverrole/fakes/SonyReplies.h"

namespace quenbril::testing {

class FakeSonyReceiver {
  public:
    explicit FakeSonyReceiver(std::string host) : host_(std::move(host)) {
        udp_ = boundSocket(SOCK_DGRAM, host_, 51010);
        tcp_ = boundSocket(SOCK_STREAM, host_, 51000);
    }
    ~FakeSonyReceiver() {
        for (auto& c : connections_) c.close();
        if (udp_ >= 0) ::close(udp_);
        if (tcp_ >= 0) ::close(tcp_);
    }
    bool ready() const { return udp_ >= 0 && tcp_ >= 0; }

    std::string name = "Rack";
    SonyChannel one{"Lead", 0x04, 40, 20, true};
    SonyChannel two{"Backing", 0x00, 10, 90, true};
    bool silent = false;
    bool garbage = false;
    /// Status replies go out in two writes split at this byte (0: whole).
    size_t splitAt = 0;
    std::vector<std::vector<uint8_t>> udpRequests;
    size_t statusRequests = 0;
    size_t accepted = 0;

    /// Answers what has arrived.
    void service() {
        uint8_t buf[512];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n;
        while ((n = ::recvfrom(udp_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from),
                               &len)) > 0) {
            udpRequests.emplace_back(buf, buf + n);
            if (silent) continue;
            const auto reply = garbage ? std::vector<uint8_t>(7, 0xAB) : sonySwitchReply();
            ::sendto(udp_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
        const size_t before = connections_.size();
        acceptAll(tcp_, connections_);
        accepted += connections_.size() - before;
        for (auto& c : connections_) {
            if (c.closed) continue;
            c.pump();
            while (c.received.size() >= 10) {
                c.received.erase(c.received.begin(), c.received.begin() + 10);
                ++statusRequests;
                if (silent) continue;
                auto reply =
                    garbage ? std::vector<uint8_t>(300, 0x10) : sonyStatusReply(name, one, two);
                if (splitAt > 0 && splitAt < reply.size()) {
                    c.send({reply.begin(), reply.begin() + static_cast<long>(splitAt)});
                    c.send({reply.begin() + static_cast<long>(splitAt), reply.end()});
                } else {
                    c.send(reply);
                }
            }
        }
    }
    /// Closes every TCP connection, as a receiver switched off would.
    void dropConnections() {
        for (auto& c : connections_) c.close();
    }
    size_t openConnections() const {
        size_t n = 0;
        for (const auto& c : connections_) n += c.closed ? 0 : 1;
        return n;
    }

  private:
    std::string host_;
    int udp_ = -1;
    int tcp_ = -1;
    std::vector<FakeConnection> connections_;
};

}  // namespace quenbril::testing
