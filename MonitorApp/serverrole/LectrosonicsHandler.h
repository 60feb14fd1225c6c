#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>

#include "MonitorApp/serverrole/LectrosonicsCodec.h"
#include "MonitorApp/serverrole/ReceiverDriver.h"
#include "foundation/Timer.h"
#include "sockets/DispatchSocketDelegate.h"

namespace quenbril {

class DispatchSocket;

/// The registry's Lectrosonics driver (type 7): one TCP connection to port 4081 of each
/// receiver, the names of channels 1 to 6 asked one after the other, and a stack of pending
/// requests filled every 0.2 s (RF) and 1.0 s (batteries, status) and sent every 0.1 s and
/// after each handled reply. Main thread only.
class LectrosonicsHandler : public ReceiverDriver, public DispatchSocketDelegate {
  public:
    static constexpr double kBatteryInterval = 1.0;
    static constexpr double kRfInterval = 0.2;
    static constexpr double kSendInterval = 0.1;
    static constexpr double kCommandTimeout = 5.0;
    static constexpr double kChunkTimeout = 25.0;
    /// Pending requests kept at most; the oldest go first.
    static constexpr size_t kMaxPending = 256;

    LectrosonicsHandler();
    ~LectrosonicsHandler() override;

    void connectTo(WirelessManager& registry) override;
    void askRf();
    void askBatteryData();
    /// Sends the newest pending request.
    void askNextCommand();
    /// Asks every channel for its status and transmitter figures at once: for each type-7
    /// record, in the registry's order, "rxstat", "txbatt" and "txblevel" of its channel are
    /// pushed, and the newest is sent. No timer calls it; the periodic polls ask per receiver.
    void askData();
    /// A channel's status on request; the polls above already ask for it, so this does nothing.
    void askChannelStatus(const std::string& channel);
    /// Set to 0 by askData; nothing else uses it.
    int32_t commandIndex() const { return commandIndex_; }
    size_t pendingCount() const { return rollingCommands_.size(); }
    size_t connectedCount() const;

    void socketDidConnectToHost(DispatchSocket* sock, const std::string& host,
                                uint16_t port) override;
    void socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) override;
    void socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) override;

    /// One complete line of the receiver at `host` (public for the fuzz target; `sock` may be
    /// null there).
    void processLine(const std::string& line, const std::string& host, DispatchSocket* sock);
    void setRegistry(WirelessManager* registry) { registry_ = registry; }

  private:
    struct Connection {
        std::shared_ptr<DispatchSocket> socket;
        std::string host;
        lectrosonics::LineAssembler lines;
        int nextName = 1;
        bool connected = false;
        bool reading = false;
    };
    struct Pending {
        DispatchSocket* socket;
        std::string command;
    };

    void askNextDeviceName(DispatchSocket* sock);
    void push(DispatchSocket* sock, std::string command);
    void write(Connection& c, const std::string& text, double timeout);
    void sendNextIfPending();

    Timer batTimer_, rfTimer_, qTimer_;
    WirelessManager* registry_ = nullptr;
    std::map<DispatchSocket*, Connection> connections_;
    std::deque<Pending> rollingCommands_;
    int32_t commandIndex_ = 0;
};

}  // namespace quenbril
