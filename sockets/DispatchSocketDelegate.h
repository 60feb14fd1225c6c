#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

namespace dispatch {
class Queue;
}  // namespace dispatch
class DispatchSocket;
class TLSTrust;

/// What a `DispatchSocket` tells its owner. Every function is optional (empty default body) and
/// is called asynchronously on the socket's delegate queue.
///
/// The socket holds its delegate weakly: a delegate that is destroyed receives nothing more,
/// even calls already on their way (the check is made on the delegate queue, so destroy the
/// delegate on that queue).
class DispatchSocketDelegate {
  public:
    DispatchSocketDelegate() = default;
    DispatchSocketDelegate(const DispatchSocketDelegate&) {}
    DispatchSocketDelegate& operator=(const DispatchSocketDelegate&) { return *this; }
    virtual ~DispatchSocketDelegate() = default;

    /// For each accepted connection, before its socket is made: the socket queue for it
    /// (null: a private queue).
    virtual std::shared_ptr<dispatch::Queue> newSocketQueueForConnectionFromAddress(
        const Bytes& /*address*/, DispatchSocket* /*listener*/) {
        return nullptr;
    }
    /// A listening socket accepted a connection. Keep `newSocket`: dropping it closes it.
    virtual void socketDidAcceptNewSocket(DispatchSocket* /*sock*/,
                                          std::shared_ptr<DispatchSocket> /*newSocket*/) {}
    virtual void socketDidConnectToHost(DispatchSocket* /*sock*/, const std::string& /*host*/,
                                        uint16_t /*port*/) {}
    virtual void socketDidConnectToUrl(DispatchSocket* /*sock*/, const std::string& /*path*/) {}
    /// A read finished. For a read into the caller's buffer, `data` is a copy of the bytes
    /// this read put there.
    virtual void socketDidReadData(DispatchSocket* /*sock*/, const Bytes& /*data*/, long /*tag*/) {}
    virtual void socketDidReadPartialDataOfLength(DispatchSocket* /*sock*/, size_t /*length*/,
                                                  long /*tag*/) {}
    virtual void socketDidWriteDataWithTag(DispatchSocket* /*sock*/, long /*tag*/) {}
    virtual void socketDidWritePartialDataOfLength(DispatchSocket* /*sock*/, size_t /*length*/,
                                                   long /*tag*/) {}
    /// A read's time-out ran out: the seconds to extend it by, or 0 or less to let it expire.
    /// No answer (the default) lets it expire.
    virtual std::optional<double> socketShouldTimeoutReadWithTag(DispatchSocket* /*sock*/,
                                                                 long /*tag*/, double /*elapsed*/,
                                                                 size_t /*bytesDone*/) {
        return std::nullopt;
    }
    virtual std::optional<double> socketShouldTimeoutWriteWithTag(DispatchSocket* /*sock*/,
                                                                  long /*tag*/, double /*elapsed*/,
                                                                  size_t /*bytesDone*/) {
        return std::nullopt;
    }
    /// The peer closed its side; the socket stays open for writing.
    virtual void socketDidCloseReadStream(DispatchSocket* /*sock*/) {}
    /// A started socket closed; `error` is empty for an orderly close. `sock` is null when the
    /// close came from destroying the socket.
    virtual void socketDidDisconnect(DispatchSocket* /*sock*/,
                                     const std::optional<Error>& /*error*/) {}
    virtual void socketDidSecure(DispatchSocket* /*sock*/) {}
    /// A client that asked to decide trust itself (`TLSEngine::kManuallyEvaluateTrust`) learns
    /// of its peer here; the handshake waits for `completion`, which may be called on any
    /// thread (only the first answer counts, and none after a close). Answer false to leave
    /// the decision undone: the socket then closes.
    virtual bool socketDidReceiveTrust(DispatchSocket* /*sock*/,
                                       std::shared_ptr<TLSTrust> /*trust*/,
                                       std::function<void(bool)> /*completion*/) {
        return false;
    }

  private:
    friend class DispatchSocket;
    /// Expires with the delegate; the socket checks it before each call.
    std::shared_ptr<int> lifeToken_ = std::make_shared<int>(0);
};

}  // namespace quenbril
