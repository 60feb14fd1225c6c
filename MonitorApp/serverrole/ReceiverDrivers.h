#pragma once

#include "MonitorApp/serverrole/UdpEndpoint.h"
#include "MonitorApp/serverrole/WirelessManager.h"

namespace quenbril {

/// The six receiver drivers, ready for a registry's services; the datagram drivers (Sony, EM,
/// UHF-R) open their sockets through `udp`. Needs the main run loop installed (the drivers
/// start their timers on it).
WirelessManager::Drivers makeReceiverDrivers(const UdpEndpointFactory& udp);

}  // namespace quenbril
