#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "MonitorApp/serverrole/ReceiverDriver.h"
#include "MonitorApp/serverrole/UdpEndpoint.h"

namespace quenbril {

/// The registry's driver of Vozod UHF-R receivers (type 2): one socket on port 2202 per
/// interface address, the two channel names asked of each receiver of that subnet every pass,
/// and samples handed to the channel's record. Main thread only.
class UHFRHandler : public ReceiverDriver, public UdpEndpointDelegate {
  public:
    static constexpr uint16_t kPort = 2202;
    static constexpr size_t kNameLength = 12;

    explicit UHFRHandler(UdpEndpointFactory udp);
    void connectTo(WirelessManager& registry) override;
    const std::vector<std::unique_ptr<UdpEndpoint>>& sockets() const { return sockets_; }
    /// Tests and the fuzz target: the registry replies are handled into.
    void setRegistry(WirelessManager* registry) { registry_ = registry; }

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
