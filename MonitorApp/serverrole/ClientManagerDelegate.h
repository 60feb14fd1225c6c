#pragma once

#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

class DispatchSocket;
class UdpEndpoint;

/// What client hosting tells its owner, on the main thread. Every function is optional.
class ClientManagerDelegate {
  public:
    virtual ~ClientManagerDelegate() = default;
    /// A message from a connected remote.
    virtual void messageReceived(const Value& /*object*/, DispatchSocket* /*client*/) {}
    /// A message that came as a datagram, with the socket that received it.
    virtual void messageReceived(const Value& /*object*/, UdpEndpoint* /*socket*/) {}
    virtual void connected(DispatchSocket* /*client*/) {}
    /// A remote left; `ip` is none when the address table held another connection of its host.
    virtual void disconnected(const std::optional<Error>& /*error*/,
                              const std::optional<std::string>& /*ip*/) {}
};

}  // namespace quenbril
