#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

class UdpEndpoint;

/// What a datagram socket of the server role tells its owner, on the main queue.
class UdpEndpointDelegate {
  public:
    virtual ~UdpEndpointDelegate() = default;
    /// A datagram from `host` (dotted IPv4).
    virtual void udpEndpointDidReceive(UdpEndpoint* /*endpoint*/, const Bytes& /*data*/,
                                       const std::string& /*host*/) {}
    virtual void udpEndpointDidNotSend(UdpEndpoint* /*endpoint*/, long /*tag*/,
                                       const Error& /*error*/) {}
    virtual void udpEndpointDidConnect(UdpEndpoint* /*endpoint*/) {}
    virtual void udpEndpointDidNotConnect(UdpEndpoint* /*endpoint*/, const Error& /*error*/) {}
    /// The socket closed by itself (its owner's own close tells nothing); `error` is what
    /// closed it, when known.
    virtual void udpEndpointDidClose(UdpEndpoint* /*endpoint*/,
                                     const std::optional<Error>& /*error*/) {}
};

/// The datagram socket operations the server role uses, so that the registry and the host do
/// not depend on how datagrams travel: the application's adapter runs them on the socket
/// layer's UDP socket, tests on an in-memory network.
class UdpEndpoint {
  public:
    virtual ~UdpEndpoint() = default;

    /// Binds to `port` (0: any free one) on the local `address` ("" for every interface).
    virtual bool bindToPort(uint16_t port, const std::string& address, Error* error) = 0;
    /// Lets other sockets that ask the same share the port; before bindToPort.
    virtual bool enableReusePort(bool flag, Error* error) = 0;
    virtual bool enableBroadcast(bool flag, Error* error) = 0;
    /// Multicast datagrams leave through the interface of this local address only.
    virtual bool setMulticastInterface(const std::string& address, Error* error) = 0;
    virtual bool beginReceiving(Error* error) = 0;
    /// Queues one datagram; failure is told to the delegate.
    virtual void sendData(Bytes data, const std::string& host, uint16_t port, double timeout,
                          long tag) = 0;
    virtual std::optional<std::string> localHost() const = 0;
    virtual uint16_t localPort() const = 0;
};

/// Makes a datagram socket that reports to `delegate` on the main queue; null when the
/// process has no datagram sockets.
using UdpEndpointFactory =
    std::function<std::unique_ptr<UdpEndpoint>(UdpEndpointDelegate* delegate)>;

}  // namespace quenbril
