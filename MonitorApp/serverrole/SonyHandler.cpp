#include "MonitorApp/serverrole/SonyHandler.h"

#include <algorithm>

#include "MonitorApp/serverrole/WirelessManager.h"

namespace quenbril {

SonyHandler::SonyHandler(UdpEndpointFactory udp) : udp_(std::move(udp)) {}

void SonyHandler::updateDevices(WirelessManager& registry) {
    for (const WirelessManager::ReceiverAddress& receiver : registry.deviceIPs()) {
        if (receiver.type != SonyDevice::kDeviceType) continue;
        const bool known = std::any_of(sonyDevices_.begin(), sonyDevices_.end(),
                                       [&](const auto& d) { return d->ip() == receiver.address; });
        if (!known) {
            sonyDevices_.push_back(std::make_unique<SonyDevice>(receiver.address, &registry, udp_));
        }
    }
    for (const auto& device : sonyDevices_) device->tryToConnect();
}

}  // namespace quenbril
