#include "MonitorApp/serverrole/peer/PeerBrowser.h"

#include <cerrno>

#include "MonitorApp/serverrole/peer/PeerAdvertiser.h"
#include "MonitorApp/serverrole/peer/PeerSession.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

PeerBrowser::PeerBrowser(PeerIDPtr me, std::string serviceType,
                         std::unique_ptr<ServiceBrowser> browser)
    : me_(std::move(me)), serviceType_(std::move(serviceType)), browser_(std::move(browser)) {}

PeerBrowser::~PeerBrowser() { stopBrowsingForPeers(); }

void PeerBrowser::startBrowsingForPeers() {
    if (!browser_ || browsing_) return;
    browsing_ = true;
    browser_->browse(PeerAdvertiser::dnsServiceType(serviceType_), this);
}

void PeerBrowser::stopBrowsingForPeers() {
    if (!browsing_) return;
    browsing_ = false;
    browser_->stop();
}

void PeerBrowser::serviceFound(const std::string& name) {
    // Our own announcement is found too; it is no peer.
    if (name != me_->displayName()) browser_->resolve(name);
}

void PeerBrowser::serviceResolved(const ResolvedService& service) {
    if (found_) found_(service);
}

bool PeerBrowser::invitePeer(const ResolvedService& station, PeerSession& session, Error* error) {
    for (const Bytes& address : station.addresses) {
        // IPv4 first: a link-local IPv6 address needs its interface to be reached.
        if (!DispatchSocket::isIPv4Address(address)) continue;
        if (auto host = DispatchSocket::hostFromAddress(address)) {
            return session.invite(*host, station.port, error);
        }
    }
    if (error)
        *error = Error::make("PeerSessionErrorDomain", EHOSTUNREACH,
                             station.name + " has no IPv4 address");
    return false;
}

}  // namespace quenbril
