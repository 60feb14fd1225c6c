#pragma once

#include <memory>
#include <optional>
#include <string>

#include "MonitorApp/serverrole/peer/PeerID.h"
#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

class PeerProgress;
class PeerSession;

/// Hears what happens in a peer session. Every call comes on the session's delegate queue,
/// which is not the main queue unless the owner chose it; the session holds its delegate
/// weakly.
class PeerSessionDelegate {
  public:
    virtual ~PeerSessionDelegate() = default;
    /// 0 not connected, 1 connecting, 2 connected.
    virtual void peerDidChangeState(PeerSession* session, PeerIDPtr peer, int state) = 0;
    virtual void didReceiveData(PeerSession* session, Bytes data, PeerIDPtr peer) = 0;
    /// A peer opened a stream to this station.
    virtual void didReceiveStream(PeerSession* session, std::string name, PeerIDPtr peer) = 0;
    /// Bytes of a stream opened by a peer, in order.
    virtual void didReceiveStreamBytes(PeerSession*, std::string /*name*/, PeerIDPtr /*peer*/,
                                       Bytes /*bytes*/) {}
    virtual void didStartReceivingResource(PeerSession*, std::string /*name*/, PeerIDPtr /*peer*/,
                                           std::shared_ptr<PeerProgress> /*progress*/) {}
    virtual void didFinishReceivingResource(PeerSession*, std::string /*name*/, PeerIDPtr /*peer*/,
                                            std::string /*localPath*/,
                                            std::optional<Error> /*error*/) {}
};

}  // namespace quenbril
