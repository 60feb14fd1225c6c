#pragma once

#include <memory>
#include <optional>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

class DispatchUdpSocket;

/// What a `DispatchUdpSocket` tells its owner. Every function is optional (empty default body)
/// and is called asynchronously on the socket's delegate queue, never on the socket queue, so a
/// delegate may call back into the socket freely.
///
/// The socket holds its delegate weakly: a destroyed delegate receives nothing more (the check
/// is made on the delegate queue, so destroy the delegate on that queue).
class DispatchUdpSocketDelegate {
  public:
    DispatchUdpSocketDelegate() = default;
    DispatchUdpSocketDelegate(const DispatchUdpSocketDelegate&) {}
    DispatchUdpSocketDelegate& operator=(const DispatchUdpSocketDelegate&) { return *this; }
    virtual ~DispatchUdpSocketDelegate() = default;

    /// A connect succeeded; `address` is the peer's socket address.
    virtual void udpSocketDidConnectToAddress(DispatchUdpSocket* /*sock*/,
                                              const Bytes& /*address*/) {}
    virtual void udpSocketDidNotConnect(DispatchUdpSocket* /*sock*/, const Error& /*error*/) {}
    virtual void udpSocketDidSendDataWithTag(DispatchUdpSocket* /*sock*/, long /*tag*/) {}
    virtual void udpSocketDidNotSendDataWithTag(DispatchUdpSocket* /*sock*/, long /*tag*/,
                                                const Error& /*error*/) {}
    /// A datagram arrived from `address`; `filterContext` is what the receive filter set.
    virtual void udpSocketDidReceiveData(DispatchUdpSocket* /*sock*/, const Bytes& /*data*/,
                                         const Bytes& /*address*/,
                                         const std::shared_ptr<void>& /*filterContext*/) {}
    /// The sockets closed; `error` is empty for a requested close. `sock` is null when the close
    /// came from destroying the socket.
    virtual void udpSocketDidClose(DispatchUdpSocket* /*sock*/,
                                   const std::optional<Error>& /*error*/) {}

  private:
    friend class DispatchUdpSocket;
    /// Expires with the delegate; the socket checks it before each call.
    std::shared_ptr<int> lifeToken_ = std::make_shared<int>(0);
};

}  // namespace quenbril
