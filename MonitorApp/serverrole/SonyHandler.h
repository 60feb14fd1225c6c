#pragma once

#include <memory>
#include <vector>

#include "MonitorApp/serverrole/ReceiverDriver.h"
#include "MonitorApp/serverrole/SonyDevice.h"
#include "MonitorApp/serverrole/UdpEndpoint.h"

namespace quenbril {

/// The registry's Sony driver: one SonyDevice per type-6 address of the receiver list, kept
/// for the registry's life.
class SonyHandler : public ReceiverDriver {
  public:
    explicit SonyHandler(UdpEndpointFactory udp);
    /// Makes the devices not yet known and restarts those whose TCP link is down.
    void updateDevices(WirelessManager& registry) override;
    const std::vector<std::unique_ptr<SonyDevice>>& sonyDevices() const { return sonyDevices_; }

  private:
    UdpEndpointFactory udp_;
    std::vector<std::unique_ptr<SonyDevice>> sonyDevices_;
};

}  // namespace quenbril
