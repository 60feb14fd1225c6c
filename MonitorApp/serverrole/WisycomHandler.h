#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/ReceiverDriver.h"
#include "MonitorApp/serverrole/WisycomHelper.h"
#include "foundation/Timer.h"
#include "sockets/DispatchSocketDelegate.h"

namespace quenbril {

class DispatchSocket;

/// The registry's Wisycom driver (type 4): one TCP connection to port 2101 of each receiver,
/// the naming sequence OPEN, NETBUILD, then OPEN and NAME per channel address, and a STATUS
/// request every kPollInterval seconds round robin over each named receiver's channels.
/// Main thread only.
class WisycomHandler : public ReceiverDriver, public DispatchSocketDelegate {
  public:
    static constexpr uint16_t kPort = 2101;
    static constexpr double kPollInterval = 0.05;
    static constexpr double kReadTimeout = 5.0;
    /// Un-escaped STATUS replies shorter than this carry no full payload.
    static constexpr size_t kStatusFrameSize = 15;

    WisycomHandler();
    ~WisycomHandler() override;

    void connectTo(WirelessManager& registry) override;
    void queryStatus();
    size_t connectedCount() const;
    /// The helper of a receiver's address, or null.
    const WisycomHelper* helper(const std::string& host) const;

    void socketDidConnectToHost(DispatchSocket* sock, const std::string& host,
                                uint16_t port) override;
    void socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) override;
    void socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) override;

    /// Feeds received bytes of the connection to `host` (public for the fuzz target; `sock`
    /// may be null there).
    void receive(const uint8_t* bytes, size_t length, const std::string& host,
                 DispatchSocket* sock);
    /// A line read from a receiver. The protocol is framed, not line based: replies come
    /// through the read callback and receive(), so this does nothing.
    void mrk_receive(DispatchSocket* sock, const Bytes& recvline);
    void setRegistry(WirelessManager* registry) { registry_ = registry; }
    /// The fuzz target: a fresh helper for `host`, as a new connection gets.
    void resetHelper(const std::string& host) { socketHelpers_[host] = WisycomHelper(); }

  private:
    struct Connection {
        std::shared_ptr<DispatchSocket> socket;
        std::string host;
        bool connected = false;
    };

    void send(DispatchSocket* sock, uint8_t command, uint8_t destination);
    void parseCommand(const uint8_t* frame, size_t length, const std::string& host,
                      DispatchSocket* sock);
    std::shared_ptr<DispatchSocket> shared(DispatchSocket* sock) const;

    Timer pollTimer_;
    WirelessManager* registry_ = nullptr;
    std::map<DispatchSocket*, Connection> connections_;
    std::map<std::string, WisycomHelper> socketHelpers_;
};

}  // namespace quenbril
