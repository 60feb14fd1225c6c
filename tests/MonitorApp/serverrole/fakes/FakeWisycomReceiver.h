#pragma once

// A Wisycom receiver network on a loopback address, TCP port 2101: it answers OPEN, NETBUILD,
// NAME and STATUS frames for its channels (addresses 2, 3, 6, 7, ...). It can stay silent,
// split its frames at every byte and send garbage.

#include <map>
#include <string>
#include <vector>

#include "tests/MonitorApp/serverrole/fakes/LoopbackPeer.h"

namespace quenbril::testing {

/// A reply frame from `source`, escaped for the wire.
inline std::vector<uint8_t> wisycomReply(uint8_t source, uint8_t command,
                                         const std::vector<uint8_t>& payload,
                                         uint8_t flags = 0x40) {
    std::vector<uint8_t> f{0xC0,  source, 0x00, 0x33, static_cast<uint8_t>(payload.size()),
                           flags, command};
    f.insert(f.end(), payload.begin(), payload.end());
    uint8_t x = 0;
    for (size_t i = 1; i < f.size(); ++i) x ^= f[i];
    f.push_back(x);
    f.push_back(0xC1);
    std::vector<uint8_t> out;
    for (size_t i = 0; i < f.size(); ++i) {
        const uint8_t b = f[i];
        if (b == 0x7D || (b == 0xC0 && i != 0) || (b == 0xC1 && i + 1 != f.size())) {
            out.push_back(0x7D);
            out.push_back(b ^ 0x20);
        } else {
            out.push_back(b);
        }
    }
    return out;
}

class FakeWisycomReceiver {
  public:
    struct Channel {
        std::string name;
        uint8_t rfA = 128, rfB = 200, antennas = 0x02, battery = 0x53;
    };

    FakeWisycomReceiver(std::string host, size_t pairs) : host_(std::move(host)) {
        tcp_ = boundSocket(SOCK_STREAM, host_, 2101);
        for (size_t p = 0; p < pairs; ++p) {
            for (int a : {int(p * 4 + 2), int(p * 4 + 3)}) {
                channels[a] = Channel{"Wisy" + std::to_string(a)};
            }
        }
        count = static_cast<uint8_t>(pairs * 4 - 2);
    }
    ~FakeWisycomReceiver() {
        for (auto& c : connections_) c.close();
        if (tcp_ >= 0) ::close(tcp_);
    }
    bool ready() const { return tcp_ >= 0; }

    std::map<int, Channel> channels;
    uint8_t count = 2;
    bool silent = false;
    bool garbage = false;
    bool byteByByte = false;
    /// Un-escaped frames received, as (command, destination).
    std::vector<std::pair<int, int>> frames;
    size_t accepted = 0;

    size_t statusRequests() const {
        size_t n = 0;
        for (const auto& f : frames) n += f.first == 0x0D ? 1 : 0;
        return n;
    }
    void service() {
        const size_t before = connections_.size();
        acceptAll(tcp_, connections_);
        accepted += connections_.size() - before;
        for (auto& c : connections_) {
            if (c.closed) continue;
            c.pump();
            for (;;) {
                auto end = std::find(c.received.begin(), c.received.end(), 0xC1);
                if (end == c.received.end()) break;
                std::vector<uint8_t> raw(c.received.begin(), end + 1);
                c.received.erase(c.received.begin(), end + 1);
                std::vector<uint8_t> f;
                for (size_t i = 0; i < raw.size(); ++i) {
                    f.push_back(raw[i] == 0x7D && i + 1 < raw.size() ? raw[++i] ^ 0x20 : raw[i]);
                }
                if (f.size() < 9) continue;
                frames.emplace_back(f[6], f[2]);
                if (!silent) answer(c, f[6], f[2]);
            }
        }
    }
    void dropConnections() {
        for (auto& c : connections_) c.close();
    }

  private:
    void answer(FakeConnection& c, uint8_t command, uint8_t dest) {
        std::vector<uint8_t> out;
        if (garbage) {
            out = {0xC1, 0x7D, 0xC1, 0xC0, 0x00, 0x0D, 0xC1, 0xC0,
                   0x05, 0x00, 0x00, 0xFF, 0x40, 0x20, 0xC1};
        } else if (command == 0x00) {
            out = wisycomReply(dest, 0x00, {0x00});
        } else if (command == 0x11) {
            out = wisycomReply(0xFF, 0x11, {0x04, 0x00, count, 0x01});
        } else if (channels.count(dest)) {
            const Channel& ch = channels[dest];
            if (command == 0x20) {
                std::vector<uint8_t> name(12, 0);
                std::copy_n(ch.name.begin(), std::min<size_t>(ch.name.size(), 12), name.begin());
                out = wisycomReply(dest, 0x20, name);
            } else if (command == 0x0D) {
                out =
                    wisycomReply(dest, 0x0D, {0x00, ch.rfA, ch.rfB, 0x00, ch.antennas, ch.battery});
            }
        }
        if (!byteByByte) {
            c.send(out);
            return;
        }
        for (uint8_t b : out) c.send({b});
    }

    std::string host_;
    int tcp_ = -1;
    std::vector<FakeConnection> connections_;
};

}  // namespace quenbril::testing
