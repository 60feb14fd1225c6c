#pragma once

// A Lectrosonics receiver on a loopback address, TCP port 4081: it answers "!rxname(n)?",
// "!rxstat(n)?", "!txbatt(*)?", "!txblevel(*)?" and "!rxrmeter(*)?" for its channels with
// "\r"-led, "\n"-ended lines. It can stay silent, send byte by byte and send garbage.

#include <string>
#include <vector>

#include "tests/MonitorApp/serverrole/fakes/LoopbackPeer.h"

namespace quenbril::testing {

class FakeLectrosonicsReceiver {
  public:
    struct Channel {
        std::string name;
        int meter = 35, receiving = 1, antenna = 1, kind = 1, level = 12;
    };

    FakeLectrosonicsReceiver(std::string host, size_t channels) : host_(std::move(host)) {
        tcp_ = boundSocket(SOCK_STREAM, host_, 4081);
        for (size_t i = 0; i < channels; ++i)
            this->channels.push_back({"Lx " + std::to_string(i + 1)});
    }
    ~FakeLectrosonicsReceiver() {
        for (auto& c : connections_) c.close();
        if (tcp_ >= 0) ::close(tcp_);
    }
    bool ready() const { return tcp_ >= 0; }

    std::vector<Channel> channels;
    bool silent = false;
    bool garbage = false;
    bool byteByByte = false;
    std::vector<std::string> commands;
    size_t accepted = 0;

    size_t count(const std::string& command) const {
        return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
    }
    void service() {
        const size_t before = connections_.size();
        acceptAll(tcp_, connections_);
        accepted += connections_.size() - before;
        for (auto& c : connections_) {
            if (c.closed) continue;
            c.pump();
            for (;;) {
                auto end = std::find(c.received.begin(), c.received.end(), '\r');
                if (end == c.received.end()) break;
                std::string command(c.received.begin(), end + 1);
                c.received.erase(c.received.begin(), end + 1);
                commands.push_back(command);
                if (!silent) answer(c, command);
            }
        }
    }
    void dropConnections() {
        for (auto& c : connections_) c.close();
    }

  private:
    template <typename F>
    std::string list(F item) {
        std::string out;
        for (size_t i = 0; i < channels.size(); ++i) out += (i ? "," : "") + item(channels[i]);
        return out;
    }
    void answer(FakeConnection& c, const std::string& command) {
        std::string out;
        if (garbage) {
            out = "\rOK rxname(\n\rOK rxstat(1)={1,2}\n\rNO x\n\rOK txbatt=\n\r" +
                  std::string(5000, 'z') + "\n";
        } else if (command.rfind("!rxname(", 0) == 0 || command.rfind("!rxstat(", 0) == 0) {
            const size_t n = static_cast<size_t>(command[8] - '0');
            if (n < 1 || n > channels.size()) return;
            const Channel& ch = channels[n - 1];
            if (command[3] == 'n') {
                out = "\rOK rxname(" + std::to_string(n) + ")=\"" + ch.name + "\"\n";
            } else {
                out = "\rOK rxstat(" + std::to_string(n) + ")={0," + "0," +
                      std::to_string(ch.receiving) + ",0," + std::to_string(ch.meter) + ",0," +
                      std::to_string(ch.antenna) + ",0,0}\n";
            }
        } else if (command == "!txbatt(*)?\r") {
            out = "\rOK txbatt(*)={" +
                  list([](const Channel& ch) { return std::to_string(ch.kind); }) + "}\n";
        } else if (command == "!txblevel(*)?\r") {
            out = "\rOK txblevel(*)={" +
                  list([](const Channel& ch) { return std::to_string(ch.level); }) + "}\n";
        } else if (command == "!rxrmeter(*)?\r") {
            out = "\rOK rxrmeter(*)={" +
                  list([](const Channel& ch) { return std::to_string(ch.meter); }) + "}\n";
        }
        if (!byteByByte) {
            c.send({out.begin(), out.end()});
            return;
        }
        for (char b : out) c.send({static_cast<uint8_t>(b)});
    }

    std::string host_;
    int tcp_ = -1;
    std::vector<FakeConnection> connections_;
};

}  // namespace quenbril::testing
