#include "MonitorApp/serverrole/peer/PeerAdvertiser.h"

#include "MonitorApp/serverrole/peer/PeerSession.h"
#include "foundation/dispatch/Queue.h"
#include "platform/discovery/ServicePublisher.h"

namespace quenbril {

PeerAdvertiser::PeerAdvertiser(PeerSession& session, std::string serviceType,
                               std::unique_ptr<ServicePublisher> publisher)
    : session_(session),
      serviceType_(std::move(serviceType)),
      publisher_(std::move(publisher)),
      queue_(dispatch::Queue::makeSerial("peer advertiser")) {}

PeerAdvertiser::~PeerAdvertiser() { stopAdvertisingPeer(); }

std::string PeerAdvertiser::dnsServiceType(const std::string& serviceType) {
    return "_" + serviceType + "._tcp.";
}

bool PeerAdvertiser::startAdvertisingPeer() {
    advertising_ = true;
    session_.setInvitationHandler(
        [queue = queue_, handler = handler_](PeerIDPtr peer, std::function<void(bool)> reply) {
            if (!handler) {
                reply(false);
                return;
            }
            queue->async([handler, peer, reply] { handler(peer, reply); });
        });
    if (!publisher_) return false;
    return publisher_->publish(session_.myPeerID()->displayName(), dnsServiceType(serviceType_),
                               session_.listeningPort());
}

void PeerAdvertiser::stopAdvertisingPeer() {
    if (!advertising_) return;
    advertising_ = false;
    session_.setInvitationHandler(nullptr);
    if (publisher_) publisher_->unpublish();
}

}  // namespace quenbril
