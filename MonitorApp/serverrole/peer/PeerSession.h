#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/peer/PeerID.h"
#include "MonitorApp/serverrole/peer/PeerSessionDelegate.h"
#include "foundation/Error.h"
#include "foundation/Timer.h"
#include "foundation/Value.h"
#include "sockets/DispatchSocketDelegate.h"

namespace quenbril {

namespace dispatch {
class Queue;
}  // namespace dispatch
class DispatchSocket;
class PeerOutputStream;

/// A session with the stations connected to this one over the peer link. It listens on a TCP
/// port from its creation; every connection to it is a session (greeting frames both ways,
/// then message frames) or a stream (a stream frame, then raw bytes). An invitation is a
/// connection from a browsing station; it is accepted or refused by the invitation handler,
/// and refused when there is none (the station is not advertising).
///
/// Frames over 64 KiB and frames of an unknown kind close that connection with a log line.
///
/// Its calls and its sockets are on the main queue; the delegate hears of everything on the
/// delegate queue (a private serial queue unless given one).
class PeerSession : public DispatchSocketDelegate {
  public:
    enum State { kNotConnected = 0, kConnecting = 1, kConnected = 2 };
    /// An incoming connection that has not greeted or opened a stream by then is closed: an
    /// idle connection must not hold a descriptor for ever.
    static constexpr double kGreetingTimeout = 10.0;
    /// Called on the main queue for each invitation; `reply` may be called from any thread,
    /// once.
    using InvitationHandler =
        std::function<void(PeerIDPtr peer, std::function<void(bool accept)> reply)>;

    /// Listens on `interface` (an address; empty: every interface) at a free port.
    explicit PeerSession(PeerIDPtr me, const std::string& interface = {});
    ~PeerSession() override;
    PeerSession(const PeerSession&) = delete;
    PeerSession& operator=(const PeerSession&) = delete;

    const PeerIDPtr& myPeerID() const { return me_; }
    uint16_t listeningPort() const;
    void setDelegate(std::weak_ptr<PeerSessionDelegate> delegate,
                     std::shared_ptr<dispatch::Queue> queue = nullptr);
    void setInvitationHandler(InvitationHandler handler) { invitations_ = std::move(handler); }

    /// Invites the station listening at `host`:`port` by connecting to it.
    bool invite(const std::string& host, uint16_t port, Error* error);
    std::vector<PeerIDPtr> connectedPeers() const;
    /// The streams peers have open to this station.
    size_t incomingStreamCount() const;
    /// Incoming connections that have not yet said what they are.
    size_t unannouncedConnectionCount() const;
    /// Sends `data` as one message to each of `peers` that is connected. False, with `error`
    /// set, when it is over 64 KiB or none of them is connected.
    bool sendData(const Bytes& data, const std::vector<PeerIDPtr>& peers, Error* error);
    /// A stream named `name` to a connected peer, not yet open; null, with `error` set, when
    /// the peer is not connected.
    std::shared_ptr<PeerOutputStream> outputStream(const std::string& name, const PeerIDPtr& peer,
                                                   Error* error);
    /// Ends every connection.
    void disconnect();

    void socketDidAcceptNewSocket(DispatchSocket* sock,
                                  std::shared_ptr<DispatchSocket> newSocket) override;
    void socketDidConnectToHost(DispatchSocket* sock, const std::string& host,
                                uint16_t port) override;
    void socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) override;
    void socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) override;

  private:
    struct Connection {
        enum class Role { Unknown, Session, Stream };
        std::shared_ptr<DispatchSocket> socket;
        Role role = Role::Unknown;
        bool outgoing = false;
        State state = kNotConnected;
        PeerIDPtr peer;
        uint16_t peerPort = 0;
        std::string streamName;
        Bytes pending;
        Timer greetingDeadline;
    };

    void consume(Connection& connection);
    // Handles one frame; false when the connection must close.
    bool handleFrame(Connection& connection, uint8_t kind, Bytes payload);
    void greeted(Connection& connection, const Bytes& payload);
    void answerInvitation(DispatchSocket* sock, bool accept);
    void setState(Connection& connection, State state);
    void drop(DispatchSocket* sock, const char* reason);
    Connection* sessionWith(const PeerIDPtr& peer);
    Connection* sessionWith(uint64_t identifier);
    template <typename Call>
    void tell(Call call);

    PeerIDPtr me_;
    std::shared_ptr<DispatchSocket> listener_;
    std::map<DispatchSocket*, Connection> connections_;
    std::weak_ptr<PeerSessionDelegate> delegate_;
    std::shared_ptr<dispatch::Queue> delegateQueue_;
    InvitationHandler invitations_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace quenbril
