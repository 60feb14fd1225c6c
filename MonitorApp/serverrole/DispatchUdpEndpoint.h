#pragma once

#include <memory>

#include "MonitorApp/serverrole/UdpEndpoint.h"

namespace quenbril {

/// The server role's datagram sockets on the socket layer's UDP socket (IPv4, delegate calls on
/// the main queue).
std::unique_ptr<UdpEndpoint> makeDispatchUdpEndpoint(UdpEndpointDelegate* delegate);

}  // namespace quenbril
