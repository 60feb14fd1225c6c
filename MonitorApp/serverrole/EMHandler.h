#pragma once

#include <memory>
#include <vector>

#include "MonitorApp/serverrole/ReceiverDriver.h"
#include "MonitorApp/serverrole/UdpEndpoint.h"

namespace quenbril {

/// The registry's Sennheiser EM driver: one socket on port 8138 per interface address, the
/// four requests to port 8137 of each type-5 receiver of that subnet every pass, and one record
/// per channel from the replies. Main thread only.
class EMHandler : public ReceiverDriver, public UdpEndpointDelegate {
  public:
    static constexpr uint64_t kDeviceType = 5;

    explicit EMHandler(UdpEndpointFactory udp);
    /// Opens the sockets on the registry's interfaces at the first pass, then asks.
    void connectTo(WirelessManager& registry) override;
    const std::vector<std::unique_ptr<UdpEndpoint>>& sockets() const { return sockets_; }

    void udpEndpointDidReceive(UdpEndpoint* endpoint, const Bytes& data,
                               const std::string& host) override;
    void udpEndpointDidNotSend(UdpEndpoint* endpoint, long tag, const Error& error) override;
    void udpEndpointDidNotConnect(UdpEndpoint* endpoint, const Error& error) override;
    void udpEndpointDidClose(UdpEndpoint* endpoint, const std::optional<Error>& error) override;

  private:
    void openSockets(const WirelessManager& registry);

    UdpEndpointFactory udp_;
    bool opened_ = false;
    WirelessManager* registry_ = nullptr;
    std::vector<std::unique_ptr<UdpEndpoint>> sockets_;
};

}  // namespace quenbril
