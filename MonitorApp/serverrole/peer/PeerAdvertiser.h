#pragma once

#include <functional>
#include <memory>
#include <string>

#include "MonitorApp/serverrole/peer/PeerID.h"

namespace quenbril {

namespace dispatch {
class Queue;
}  // namespace dispatch
class PeerSession;
class ServicePublisher;

/// Announces a station on the local network as "_<type>._tcp." under its display name, at its
/// session's port, and hands each invitation that reaches the session to its handler on the
/// advertiser's queue (a private serial queue), as the peer framework does. The handler answers
/// through the reply, from any thread. Main thread only.
class PeerAdvertiser {
  public:
    using Invitation = std::function<void(PeerIDPtr peer, std::function<void(bool)> reply)>;

    PeerAdvertiser(PeerSession& session, std::string serviceType,
                   std::unique_ptr<ServicePublisher> publisher);
    ~PeerAdvertiser();
    PeerAdvertiser(const PeerAdvertiser&) = delete;
    PeerAdvertiser& operator=(const PeerAdvertiser&) = delete;

    /// The DNS-SD type of a service type: "_<type>._tcp.".
    static std::string dnsServiceType(const std::string& serviceType);

    const std::string& serviceType() const { return serviceType_; }
    void setInvitationHandler(Invitation handler) { handler_ = std::move(handler); }
    /// Publishes and takes invitations; false (logged) when the announcement could not be
    /// made, though invitations are taken all the same.
    bool startAdvertisingPeer();
    void stopAdvertisingPeer();
    bool isAdvertising() const { return advertising_; }

  private:
    PeerSession& session_;
    std::string serviceType_;
    std::unique_ptr<ServicePublisher> publisher_;
    std::shared_ptr<dispatch::Queue> queue_;
    Invitation handler_;
    bool advertising_ = false;
};

}  // namespace quenbril
