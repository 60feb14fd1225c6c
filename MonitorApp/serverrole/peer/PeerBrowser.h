#pragma once

#include <functional>
#include <memory>
#include <string>

#include "MonitorApp/serverrole/peer/PeerID.h"
#include "foundation/Error.h"
#include "platform/discovery/ServiceBrowser.h"

namespace quenbril {

class PeerSession;

/// Finds the stations that advertise a service type and invites one into a session by
/// connecting to it. It is made but not started until `startBrowsingForPeers`. Main thread
/// only; found stations reach the handler on the main queue.
class PeerBrowser : private ServiceBrowser::Delegate {
  public:
    /// A station was found and resolved.
    using Found = std::function<void(const ResolvedService& station)>;

    PeerBrowser(PeerIDPtr me, std::string serviceType, std::unique_ptr<ServiceBrowser> browser);
    ~PeerBrowser() override;

    PeerIDPtr myPeerID() const { return me_; }
    const std::string& serviceType() const { return serviceType_; }
    void setFoundHandler(Found handler) { found_ = std::move(handler); }
    void startBrowsingForPeers();
    void stopBrowsingForPeers();
    bool isBrowsing() const { return browsing_; }
    /// Invites a found station into `session`. False, with `error` set, when it has no address
    /// or the connection cannot start.
    static bool invitePeer(const ResolvedService& station, PeerSession& session, Error* error);

  private:
    void serviceFound(const std::string& name) override;
    void serviceResolved(const ResolvedService& service) override;

    PeerIDPtr me_;
    std::string serviceType_;
    std::unique_ptr<ServiceBrowser> browser_;
    Found found_;
    bool browsing_ = false;
};

}  // namespace quenbril
