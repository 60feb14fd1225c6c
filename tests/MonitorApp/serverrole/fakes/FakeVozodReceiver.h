#pragma once

// A Vozod networked receiver on a loopback address, TCP port 2202: it answers the channel-name
// and battery requests for its channels and pushes samples on demand. It can stay silent, send
// byte by byte, close in the middle of a line and send garbage.

#include <string>
#include <vector>

#include "tests/MonitorApp/serverrole/fakes/LoopbackPeer.h"

namespace quenbril::testing {

class FakeVozodReceiver {
  public:
    struct Channel {
        std::string name;
        int bars = 3;
    };

    explicit FakeVozodReceiver(std::string host) : host_(std::move(host)) {
        tcp_ = boundSocket(SOCK_STREAM, host_, 2202);
    }
    ~FakeVozodReceiver() {
        for (auto& c : connections_) c.close();
        if (tcp_ >= 0) ::close(tcp_);
    }
    bool ready() const { return tcp_ >= 0; }

    std::vector<Channel> channels{{"Vocal 1 "}, {"Vocal 2"}};
    bool silent = false;
    bool garbage = false;
    /// Replies go out one byte per write.
    bool byteByByte = false;
    std::vector<std::string> commands;
    size_t accepted = 0;

    void service() {
        const size_t before = connections_.size();
        acceptAll(tcp_, connections_);
        accepted += connections_.size() - before;
        for (auto& c : connections_) {
            if (c.closed) continue;
            c.pump();
            for (;;) {
                auto end = std::find(c.received.begin(), c.received.end(), '>');
                if (end == c.received.end()) break;
                std::string command(c.received.begin(), end + 1);
                c.received.erase(c.received.begin(), end + 1);
                commands.push_back(command);
                if (!silent) answer(c, command);
            }
        }
    }
    /// Sends text to every open connection.
    void push(const std::string& text) {
        for (auto& c : connections_) {
            if (!c.closed) send(c, text);
        }
    }
    void dropConnections() {
        for (auto& c : connections_) c.close();
    }
    size_t openConnections() const {
        size_t n = 0;
        for (const auto& c : connections_) n += c.closed ? 0 : 1;
        return n;
    }
    size_t count(const std::string& command) const {
        return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
    }

  private:
    void send(FakeConnection& c, const std::string& text) {
        if (!byteByByte) {
            c.send({text.begin(), text.end()});
            return;
        }
        for (char ch : text) c.send({static_cast<uint8_t>(ch)});
    }
    void answer(FakeConnection& c, const std::string& command) {
        if (garbage) {
            send(c, "<<< >>> < REP x CHAN_NAME no braces > \x01\xff< SAMPLE");
            return;
        }
        std::string out;
        for (size_t i = 0; i < channels.size(); ++i) {
            const std::string n = std::to_string(i + 1);
            if (command == "< GET 0 CHAN_NAME >") {
                out += "< REP " + n + " CHAN_NAME {" + channels[i].name + "} >";
            } else if (command == "< GET 0 BATT_BARS >") {
                out += "< REP " + n + " BATT_BARS " + std::to_string(channels[i].bars) + " >";
            }
        }
        if (!out.empty()) send(c, out);
    }

    std::string host_;
    int tcp_ = -1;
    std::vector<FakeConnection> connections_;
};

}  // namespace quenbril::testing
