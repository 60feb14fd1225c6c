#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "foundation/Error.h"

namespace quenbril {

class RunLoop;
class RunLoopSocket;

/// What a RunLoopSocket tells its owner, called directly on the socket's run-loop thread.
/// Every function is optional; the ones answering std::optional answer "not implemented" by
/// default. The socket does not own its delegate: a delegate that goes away first clears
/// itself with setDelegate(nullptr).
class RunLoopSocketDelegate {
  public:
    virtual ~RunLoopSocketDelegate() = default;

    /// A started socket is closing because of `error` (none for an orderly end). The bytes the
    /// current read held are at the front of the pre-buffer; unreadData() may be called here.
    virtual void onSocketWillDisconnectWithError(RunLoopSocket* /*sock*/,
                                                 const std::optional<Error>& /*error*/) {}
    virtual void onSocketDidDisconnect(RunLoopSocket* /*sock*/) {}
    /// A listening socket accepted a connection: keep `newSocket`, dropping it closes it.
    virtual void onSocketDidAcceptNewSocket(RunLoopSocket* /*sock*/,
                                            std::shared_ptr<RunLoopSocket> /*newSocket*/) {}
    /// The loop the new socket runs on; null (the default) keeps the listener's.
    virtual RunLoop* onSocketWantsRunLoopForNewSocket(RunLoopSocket* /*sock*/,
                                                      RunLoopSocket* /*newSocket*/) {
        return nullptr;
    }
    /// Before the connection is opened: false cancels it.
    virtual std::optional<bool> onSocketWillConnect(RunLoopSocket* /*sock*/) {
        return std::nullopt;
    }
    virtual void onSocketDidConnectToHost(RunLoopSocket* /*sock*/, const std::string& /*host*/,
                                          uint16_t /*port*/) {}
    /// A read finished. `data` is valid during the call only (for a read into the caller's
    /// buffer it points into that buffer).
    virtual void onSocketDidReadData(RunLoopSocket* /*sock*/, std::span<const uint8_t> /*data*/,
                                     long /*tag*/) {}
    virtual void onSocketDidReadPartialDataOfLength(RunLoopSocket* /*sock*/, size_t /*length*/,
                                                    long /*tag*/) {}
    virtual void onSocketDidWriteDataWithTag(RunLoopSocket* /*sock*/, long /*tag*/) {}
    virtual void onSocketDidWritePartialDataOfLength(RunLoopSocket* /*sock*/, size_t /*length*/,
                                                     long /*tag*/) {}
    /// A read's time-out ran out: the seconds to extend it by; 0 or less lets it expire.
    virtual std::optional<double> onSocketShouldTimeoutReadWithTag(RunLoopSocket* /*sock*/,
                                                                   long /*tag*/, double /*elapsed*/,
                                                                   size_t /*bytesDone*/) {
        return std::nullopt;
    }
    virtual std::optional<double> onSocketShouldTimeoutWriteWithTag(RunLoopSocket* /*sock*/,
                                                                    long /*tag*/,
                                                                    double /*elapsed*/,
                                                                    size_t /*bytesDone*/) {
        return std::nullopt;
    }
    virtual void onSocketDidSecure(RunLoopSocket* /*sock*/) {}
};

}  // namespace quenbril
