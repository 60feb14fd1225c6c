#pragma once

#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

class RunLoopUdpSocket;

/// What a RunLoopUdpSocket tells its owner, called directly on the socket's run-loop thread.
/// Every function is optional. The socket does not own its delegate: a delegate that goes away
/// first clears itself with setDelegate(nullptr).
class RunLoopUdpSocketDelegate {
  public:
    virtual ~RunLoopUdpSocketDelegate() = default;

    virtual void onUdpSocketDidSendDataWithTag(RunLoopUdpSocket* /*sock*/, long /*tag*/) {}
    virtual void onUdpSocketDidNotSendDataWithTag(RunLoopUdpSocket* /*sock*/, long /*tag*/,
                                                  const Error& /*error*/) {}
    /// A datagram arrived for the current receive: true takes it (the receive ends), false
    /// keeps the receive waiting for another. No answer (the default) takes it.
    virtual std::optional<bool> onUdpSocketDidReceiveData(RunLoopUdpSocket* /*sock*/,
                                                          const Bytes& /*data*/, long /*tag*/,
                                                          const std::string& /*host*/,
                                                          uint16_t /*port*/) {
        return std::nullopt;
    }
    virtual void onUdpSocketDidNotReceiveDataWithTag(RunLoopUdpSocket* /*sock*/, long /*tag*/,
                                                     const Error& /*error*/) {}
    /// After a close, on a later pass of the loop.
    virtual void onUdpSocketDidClose(RunLoopUdpSocket* /*sock*/) {}
};

}  // namespace quenbril
