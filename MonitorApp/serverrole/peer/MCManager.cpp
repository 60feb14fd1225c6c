#include "MonitorApp/serverrole/peer/MCManager.h"

#include "MonitorApp/serverrole/ReceiverText.h"
#include "MonitorApp/serverrole/peer/PeerAdvertiser.h"
#include "MonitorApp/serverrole/peer/PeerBrowser.h"
#include "MonitorApp/serverrole/peer/PeerProgress.h"
#include "MonitorApp/serverrole/peer/PeerSession.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/dispatch/Queue.h"
#include "platform/discovery/AvahiDiscovery.h"

namespace quenbril {

/// The session's delegate: carries each callback from the session's queue to the main queue,
/// where the manager is checked to be alive before it is called.
class MCManager::Relay : public PeerSessionDelegate {
  public:
    Relay(MCManager* owner, std::weak_ptr<int> alive) : owner_(owner), alive_(std::move(alive)) {}

    void peerDidChangeState(PeerSession*, PeerIDPtr peer, int state) override {
        onMain([peer, state](MCManager& m) { m.peerDidChangeState(peer, state); });
    }
    void didReceiveData(PeerSession*, Bytes data, PeerIDPtr peer) override {
        onMain([data = std::move(data), peer](MCManager& m) { m.didReceiveData(data, peer); });
    }
    void didReceiveStream(PeerSession*, std::string name, PeerIDPtr peer) override {
        onMain([name = std::move(name), peer](MCManager& m) { m.didReceiveStream(name, peer); });
    }
    void didReceiveStreamBytes(PeerSession*, std::string name, PeerIDPtr peer,
                               Bytes bytes) override {
        onMain([name = std::move(name), peer, bytes = std::move(bytes)](MCManager& m) {
            if (m.streamBytes_) m.streamBytes_(name, peer, bytes);
        });
    }
    void didStartReceivingResource(PeerSession*, std::string name, PeerIDPtr peer,
                                   std::shared_ptr<PeerProgress> progress) override {
        onMain([name = std::move(name), peer, progress](MCManager& m) {
            m.didStartReceivingResource(name, peer, progress);
        });
    }
    void didFinishReceivingResource(PeerSession*, std::string name, PeerIDPtr peer,
                                    std::string localPath, std::optional<Error>) override {
        onMain([name = std::move(name), peer, localPath = std::move(localPath)](MCManager& m) {
            m.didFinishReceivingResource(name, peer, localPath);
        });
    }
    void invitation(PeerIDPtr peer, std::function<void(bool)> reply) {
        onMain([peer, reply = std::move(reply)](MCManager& m) {
            m.didReceiveInvitation(peer, reply);
        });
    }

  private:
    template <typename Call>
    void onMain(Call call) {
        dispatch::Queue::main()->async([owner = owner_, alive = alive_, call = std::move(call)] {
            if (alive.lock()) call(*owner);
        });
    }

    MCManager* owner_;
    std::weak_ptr<int> alive_;
};

MCManager& MCManager::sharedInstance() {
    static MCManager* instance = new MCManager(Services{{},
                                                        [] { return makeAvahiServicePublisher(); },
                                                        [] { return makeAvahiServiceBrowser(); },
                                                        &NotificationCenter::defaultCenter()});
    return *instance;
}

MCManager::MCManager(Services services)
    : services_(std::move(services)), outBuffer_(kOutBufferBytes / sizeof(float), 0.0f) {}

MCManager::~MCManager() {
    closeOutStream();
    advertiser_.reset();
    browser_.reset();
    session_.reset();
}

void MCManager::setupPeerAndSessionWithDisplayName(const std::string& displayName) {
    advertiser_.reset();
    peerID_ = PeerID::make(displayName);
    session_ = std::make_unique<PeerSession>(peerID_, services_.interface);
    relay_ = std::make_shared<Relay>(this, alive_);
    session_->setDelegate(relay_);
}

void MCManager::setupMCBrowser() {
    if (!peerID_) return;
    browser_ = std::make_unique<PeerBrowser>(peerID_, kServiceType,
                                             services_.browser ? services_.browser() : nullptr);
}

void MCManager::advertiseSelf(bool advertise) {
    if (!advertise) {
        if (advertiser_) advertiser_->stopAdvertisingPeer();
        advertiser_.reset();
        return;
    }
    if (!session_) return;
    advertiser_ = std::make_unique<PeerAdvertiser>(
        *session_, kServiceType, services_.publisher ? services_.publisher() : nullptr);
    advertiser_->setInvitationHandler(
        [relay = std::weak_ptr<Relay>(relay_)](PeerIDPtr peer, std::function<void(bool)> reply) {
            if (auto r = relay.lock()) {
                r->invitation(std::move(peer), std::move(reply));
            } else {
                reply(false);
            }
        });
    advertiser_->startAdvertisingPeer();
}

void MCManager::sendMessage(const std::string& text) {
    if (!session_) return;
    const std::vector<PeerIDPtr> peers = session_->connectedPeers();
    if (peers.empty()) return;
    Error error;
    if (!session_->sendData(Bytes(text.begin(), text.end()), peers, &error)) {
        QLOG("%s", error.description.c_str());
    }
}

void MCManager::sendDataStream(const uint8_t* bytes, size_t length) {
    if (!outStream_) return;
    const long written = outStream_->write(bytes, length);
    QLOG("%d bytes sent", static_cast<int>(written));
}

void MCManager::closeOutStream() {
    if (!outStream_) return;
    outStream_->close();
    outStream_.reset();
}

void MCManager::peerDidChangeState(const PeerIDPtr& peer, int state) {
    post(kDidChangeStateNotification,
         {{Value("peerID"), Value(std::shared_ptr<const Object>(peer))},
          {Value("state"), Value(state)}});
    QLOG("%s state to %d", peer->displayName().c_str(), state);
    if (state == PeerSession::kConnected) {
        QLOG("Client connected! Now %d peers",
             static_cast<int>(session_ ? session_->connectedPeers().size() : 0));
    }
}

void MCManager::didReceiveData(const Bytes& data, const PeerIDPtr& peer) {
    Dictionary userInfo{{Value("data"), Value(data)},
                        {Value("peerID"), Value(std::shared_ptr<const Object>(peer))}};
    const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
    std::optional<std::string> text;
    if (receivertext::isValidUTF8(bytes)) text.emplace(bytes);
    QLOG("%s received", text ? text->c_str() : "(null)");
    if (text == kStartStream) {
        // A stream kept from an earlier request is closed first: it would stay open otherwise.
        closeOutStream();
        Error error;
        outStream_ = session_ ? session_->outputStream(kStreamName, peer, &error) : nullptr;
        if (outStream_) {
            outStream_->setDelegate(this);
            outStream_->open();
            QLOG("Stream error (null)");
        } else {
            QLOG("Stream error %s", error.description.c_str());
        }
    } else if (text == kStopStream) {
        closeOutStream();
        QLOG("Stream closed");
    }
    if (delegate_) delegate_->messageReceived(text);
    post(kDidReceiveDataNotification, userInfo);
}

void MCManager::post(const char* name, const Dictionary& userInfo) {
    if (services_.notifications) services_.notifications->post(name, userInfo);
}

void MCManager::didReceiveStream(const std::string&, const PeerIDPtr&) { QLOG("steam received"); }

void MCManager::didStartReceivingResource(const std::string& name, const PeerIDPtr& peer,
                                          const std::shared_ptr<PeerProgress>& progress) {
    post(kDidStartReceivingResourceNotification,
         {{Value("resourceName"), Value(name)},
          {Value("peerID"), Value(std::shared_ptr<const Object>(peer))},
          {Value("progress"), Value(std::shared_ptr<const Object>(progress))}});
    // Progress may change on any thread; each change is posted from the main queue.
    std::weak_ptr<PeerProgress> weak = progress;
    NotificationCenter* center = services_.notifications;
    if (!center) return;
    progress->setObserver([weak, center](double) {
        dispatch::Queue::main()->async([weak, center] {
            if (auto p = weak.lock()) {
                center->post(kReceivingProgressNotification,
                             {{Value("progress"), Value(std::shared_ptr<const Object>(p))}});
            }
        });
    });
}

void MCManager::didFinishReceivingResource(const std::string& name, const PeerIDPtr& peer,
                                           const std::string& localPath) {
    post(kDidFinishReceivingResourceNotification,
         {{Value("resourceName"), Value(name)},
          {Value("peerID"), Value(std::shared_ptr<const Object>(peer))},
          {Value("localURL"), Value(localPath)}});
}

void MCManager::didReceiveInvitation(const PeerIDPtr&, const std::function<void(bool)>& reply) {
    closeOutStream();
    reply(true);
    // The accepted peer is counted once its connection has settled, as the session reports it.
    QLOG("invitation accepted, now %lu peers connected!",
         static_cast<unsigned long>(session_ ? session_->connectedPeers().size() : 0));
}

void MCManager::streamHandleEvent(PeerOutputStream*, int event) {
    switch (event) {
        case PeerOutputStream::kOpenCompleted:
            QLOG("Open completed");
            break;
        case PeerOutputStream::kHasBytesAvailable:
            QLOG("Stream has bytes");
            break;
        case PeerOutputStream::kHasSpaceAvailable:
            writeToStream();
            break;
        case PeerOutputStream::kErrorOccurred:
            QLOG("Stream has received an error");
            break;
        case PeerOutputStream::kEndEncountered:
            QLOG("Stream ended");
            break;
        default:
            break;
    }
}

}  // namespace quenbril
