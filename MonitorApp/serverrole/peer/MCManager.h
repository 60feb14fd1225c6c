#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/peer/MCManagerDelegate.h"
#include "MonitorApp/serverrole/peer/PeerID.h"
#include "MonitorApp/serverrole/peer/PeerOutputStream.h"
#include "MonitorApp/serverrole/peer/PeerSessionDelegate.h"
#include "foundation/Value.h"

namespace quenbril {

class NotificationCenter;
class PeerAdvertiser;
class PeerBrowser;
class PeerProgress;
class PeerSession;
class ServiceBrowser;
class ServicePublisher;

/// The peer link: this station's identity and session with the other stations of ours, its
/// advertisement, text messages to every connected peer, and the audio stream "Striimi" that a
/// peer asks for with "StartStream" and ends with "StopStream".
///
/// Every advertised invitation is accepted. Session and advertiser callbacks come on queues of
/// their own and hop to the main queue before they touch anything; stream events come on the
/// main queue. Nothing in the application calls the link. Main thread only.
class MCManager : public PeerStreamDelegate {
  public:
    static constexpr const char* kServiceType = "xx-service";
    static constexpr const char* kStreamName = "Striimi";
    static constexpr const char* kStartStream = "StartStream";
    static constexpr const char* kStopStream = "StopStream";
    static constexpr size_t kOutBufferBytes = 176400;

    static constexpr const char* kDidChangeStateNotification = "MCDidChangeStateNotification";
    static constexpr const char* kDidReceiveDataNotification = "MCDidReceiveDataNotification";
    static constexpr const char* kDidStartReceivingResourceNotification =
        "MCDidStartReceivingResourceNotification";
    static constexpr const char* kReceivingProgressNotification = "MCReceivingProgressNotification";
    static constexpr const char* kDidFinishReceivingResourceNotification =
        "didFinishReceivingResourceNotification";

    /// What the link is made with.
    struct Services {
        /// The address sessions listen on; empty: every interface.
        std::string interface;
        std::function<std::unique_ptr<ServicePublisher>()> publisher;
        std::function<std::unique_ptr<ServiceBrowser>()> browser;
        /// Where the link's notifications are posted; null: nowhere.
        NotificationCenter* notifications = nullptr;
    };

    /// Made on first use, with the Avahi publisher and browser and the default center.
    static MCManager& sharedInstance();

    /// No identity, session, browser or advertiser yet.
    explicit MCManager(Services services);
    ~MCManager() override;
    MCManager(const MCManager&) = delete;
    MCManager& operator=(const MCManager&) = delete;

    void setupPeerAndSessionWithDisplayName(const std::string& displayName);
    /// Makes the browser for the service type; it is not started.
    void setupMCBrowser();
    /// YES publishes this station and accepts every invitation; NO withdraws it.
    void advertiseSelf(bool advertise);
    /// Sends the text to every connected peer; nothing (and no log line) with none.
    void sendMessage(const std::string& text);
    /// Writes at most `length` bytes to the stream, when there is one.
    void sendDataStream(const uint8_t* bytes, size_t length);
    void writeToStream() { allWritter_ = true; }

    // ---- Callbacks, on the main queue ----
    void peerDidChangeState(const PeerIDPtr& peer, int state);
    void didReceiveData(const Bytes& data, const PeerIDPtr& peer);
    void didReceiveStream(const std::string& name, const PeerIDPtr& peer);
    void didStartReceivingResource(const std::string& name, const PeerIDPtr& peer,
                                   const std::shared_ptr<PeerProgress>& progress);
    void didFinishReceivingResource(const std::string& name, const PeerIDPtr& peer,
                                    const std::string& localPath);
    void didReceiveInvitation(const PeerIDPtr& peer, const std::function<void(bool)>& reply);
    void streamHandleEvent(PeerOutputStream* stream, int event) override;

    /// Tests: told of the bytes of every stream a peer opened to this station, on the main
    /// queue.
    void setStreamBytesHandler(
        std::function<void(const std::string& name, const PeerIDPtr& peer, const Bytes&)> h) {
        streamBytes_ = std::move(h);
    }

    // ---- Accessors ----
    bool allWritter() const { return allWritter_; }
    MCManagerDelegate* delegate() const { return delegate_; }
    void setDelegate(MCManagerDelegate* delegate) { delegate_ = delegate; }
    const PeerIDPtr& peerID() const { return peerID_; }
    PeerSession* session() const { return session_.get(); }
    PeerBrowser* browser() const { return browser_.get(); }
    PeerAdvertiser* advertiser() const { return advertiser_.get(); }
    const std::shared_ptr<PeerOutputStream>& outStream() const { return outStream_; }
    std::vector<float>& outBuffer() { return outBuffer_; }

  private:
    class Relay;
    void closeOutStream();
    void post(const char* name, const Dictionary& userInfo);

    Services services_;
    bool allWritter_ = false;
    MCManagerDelegate* delegate_ = nullptr;
    PeerIDPtr peerID_;
    std::unique_ptr<PeerSession> session_;
    std::shared_ptr<Relay> relay_;
    std::unique_ptr<PeerBrowser> browser_;
    std::unique_ptr<PeerAdvertiser> advertiser_;
    std::shared_ptr<PeerOutputStream> outStream_;
    std::vector<float> outBuffer_;
    std::function<void(const std::string&, const PeerIDPtr&, const Bytes&)> streamBytes_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace quenbril
