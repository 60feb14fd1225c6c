#include "MonitorApp/serverrole/peer/PeerSession.h"

#include <cerrno>

#include "MonitorApp/serverrole/peer/PeerFrame.h"
#include "MonitorApp/serverrole/peer/PeerOutputStream.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

namespace {

constexpr long kReadTag = 1;
constexpr double kConnectTimeout = 5.0;

Error peerError(int code, const std::string& text) {
    return Error::make("PeerSessionErrorDomain", code, text);
}

}  // namespace

PeerSession::PeerSession(PeerIDPtr me, const std::string& interface)
    : me_(std::move(me)), delegateQueue_(dispatch::Queue::makeSerial("peer session delegate")) {
    listener_ = DispatchSocket::make(this, dispatch::Queue::main());
    Error error;
    const bool listening = interface.empty() ? listener_->acceptOnPort(0, &error)
                                             : listener_->acceptOnInterface(interface, 0, &error);
    if (!listening) {
        QLOG("The peer session cannot listen: %s", error.description.c_str());
        listener_.reset();
    }
}

PeerSession::~PeerSession() {
    invitations_ = nullptr;
    delegate_.reset();
    disconnect();
    if (listener_) listener_->disconnect();
}

uint16_t PeerSession::listeningPort() const { return listener_ ? listener_->localPort() : 0; }

void PeerSession::setDelegate(std::weak_ptr<PeerSessionDelegate> delegate,
                              std::shared_ptr<dispatch::Queue> queue) {
    delegate_ = std::move(delegate);
    if (queue) delegateQueue_ = std::move(queue);
}

template <typename Call>
void PeerSession::tell(Call call) {
    delegateQueue_->async([delegate = delegate_, session = this, call = std::move(call)] {
        if (auto d = delegate.lock()) call(*d, session);
    });
}

bool PeerSession::invite(const std::string& host, uint16_t port, Error* error) {
    auto socket = DispatchSocket::make(this, dispatch::Queue::main());
    if (!socket->connectToHost(host, port, kConnectTimeout, error)) return false;
    Connection connection;
    connection.socket = socket;
    connection.role = Connection::Role::Session;
    connection.outgoing = true;
    connections_.emplace(socket.get(), std::move(connection));
    return true;
}

std::vector<PeerIDPtr> PeerSession::connectedPeers() const {
    std::vector<PeerIDPtr> peers;
    for (const auto& [sock, connection] : connections_) {
        if (connection.role == Connection::Role::Session && connection.state == kConnected) {
            peers.push_back(connection.peer);
        }
    }
    return peers;
}

size_t PeerSession::incomingStreamCount() const {
    size_t count = 0;
    for (const auto& [sock, connection] : connections_) {
        count += connection.role == Connection::Role::Stream ? 1 : 0;
    }
    return count;
}

size_t PeerSession::unannouncedConnectionCount() const {
    size_t count = 0;
    for (const auto& [sock, connection] : connections_) {
        count += connection.role == Connection::Role::Unknown ? 1 : 0;
    }
    return count;
}

bool PeerSession::sendData(const Bytes& data, const std::vector<PeerIDPtr>& peers, Error* error) {
    if (data.size() > PeerFrame::kMaxPayload) {
        if (error) *error = peerError(EMSGSIZE, "A message is at most 64 KiB.");
        return false;
    }
    const auto frame = std::make_shared<const Bytes>(PeerFrame::encode(PeerFrame::kMessage, data));
    bool sent = false;
    for (const PeerIDPtr& peer : peers) {
        if (Connection* connection = sessionWith(peer)) {
            connection->socket->writeData(frame, -1, 0);
            sent = true;
        }
    }
    if (!sent && error) *error = peerError(ENOTCONN, "None of the peers is connected.");
    return sent;
}

std::shared_ptr<PeerOutputStream> PeerSession::outputStream(const std::string& name,
                                                            const PeerIDPtr& peer, Error* error) {
    Connection* connection = sessionWith(peer);
    std::optional<std::string> host =
        connection ? connection->socket->connectedHost() : std::nullopt;
    if (!connection || !host || connection->peerPort == 0) {
        if (error) *error = peerError(ENOTCONN, "The peer is not connected.");
        return nullptr;
    }
    return std::make_shared<PeerOutputStream>(name, *host, connection->peerPort,
                                              PeerFrame::streamOpening({me_->identifier(), name}));
}

void PeerSession::disconnect() {
    // Disconnecting calls back into drop() only later, on the main queue: take them all now.
    auto connections = std::move(connections_);
    connections_.clear();
    for (auto& [sock, connection] : connections) {
        if (connection.peer && connection.state != kNotConnected) {
            setState(connection, kNotConnected);
        }
        connection.socket->disconnect();
    }
}

PeerSession::Connection* PeerSession::sessionWith(const PeerIDPtr& peer) {
    return peer ? sessionWith(peer->identifier()) : nullptr;
}

PeerSession::Connection* PeerSession::sessionWith(uint64_t identifier) {
    for (auto& [sock, connection] : connections_) {
        if (connection.role == Connection::Role::Session && connection.state == kConnected &&
            connection.peer->identifier() == identifier) {
            return &connection;
        }
    }
    return nullptr;
}

void PeerSession::socketDidAcceptNewSocket(DispatchSocket*,
                                           std::shared_ptr<DispatchSocket> newSocket) {
    DispatchSocket* sock = newSocket.get();
    Connection connection;
    connection.socket = std::move(newSocket);
    std::weak_ptr<int> alive = alive_;
    connection.greetingDeadline =
        RunLoop::main().scheduleTimer(kGreetingTimeout, false, [alive, this, sock] {
            if (!alive.lock()) return;
            auto found = connections_.find(sock);
            if (found != connections_.end() && found->second.role == Connection::Role::Unknown) {
                drop(sock, "no greeting in time");
            }
        });
    connections_.emplace(sock, std::move(connection));
    sock->readDataWithTimeout(-1, kReadTag);
}

void PeerSession::socketDidConnectToHost(DispatchSocket* sock, const std::string&, uint16_t) {
    auto found = connections_.find(sock);
    if (found == connections_.end()) return;
    sock->writeData(PeerFrame::greeting({listeningPort(), me_->identifier(), me_->displayName()}),
                    -1, 0);
    sock->readDataWithTimeout(-1, kReadTag);
}

void PeerSession::socketDidReadData(DispatchSocket* sock, const Bytes& data, long) {
    auto found = connections_.find(sock);
    if (found == connections_.end()) return;
    Connection& connection = found->second;
    if (connection.role == Connection::Role::Stream) {
        tell([name = connection.streamName, peer = connection.peer, data](PeerSessionDelegate& d,
                                                                          PeerSession* s) {
            d.didReceiveStreamBytes(s, name, peer, data);
        });
    } else {
        connection.pending.insert(connection.pending.end(), data.begin(), data.end());
        consume(connection);
        // The connection may be gone now.
        if (!connections_.count(sock)) return;
    }
    sock->readDataWithTimeout(-1, kReadTag);
}

void PeerSession::consume(Connection& connection) {
    DispatchSocket* sock = connection.socket.get();
    while (connection.role != Connection::Role::Stream) {
        uint8_t kind = 0;
        Bytes payload;
        switch (PeerFrame::next(connection.pending, kind, payload)) {
            case PeerFrame::Result::NeedMore:
                return;
            case PeerFrame::Result::TooLong:
                drop(sock, "a frame over 64 KiB");
                return;
            case PeerFrame::Result::Frame:
                if (!handleFrame(connection, kind, std::move(payload))) return;
                break;
        }
    }
    // What follows a stream's opening frame is the stream's first bytes.
    if (!connection.pending.empty()) {
        tell([name = connection.streamName, peer = connection.peer,
              bytes = std::move(connection.pending)](PeerSessionDelegate& d, PeerSession* s) {
            d.didReceiveStreamBytes(s, name, peer, bytes);
        });
        connection.pending.clear();
    }
}

bool PeerSession::handleFrame(Connection& connection, uint8_t kind, Bytes payload) {
    DispatchSocket* sock = connection.socket.get();
    switch (kind) {
        case PeerFrame::kGreeting:
            if (connection.peer) break;
            greeted(connection, payload);
            return connections_.count(sock) > 0;
        case PeerFrame::kStream: {
            if (connection.role != Connection::Role::Unknown) break;
            auto opening = PeerFrame::parseStreamOpening(payload);
            Connection* session = opening ? sessionWith(opening->identifier) : nullptr;
            if (!session) {
                drop(sock, "a stream from no connected peer");
                return false;
            }
            connection.role = Connection::Role::Stream;
            connection.peer = session->peer;
            connection.streamName = opening->name;
            tell(
                [name = opening->name, peer = session->peer](
                    PeerSessionDelegate& d, PeerSession* s) { d.didReceiveStream(s, name, peer); });
            return true;
        }
        case PeerFrame::kMessage:
            if (connection.state != kConnected) break;
            tell([peer = connection.peer, payload = std::move(payload)](PeerSessionDelegate& d,
                                                                        PeerSession* s) {
                d.didReceiveData(s, payload, peer);
            });
            return true;
        default:
            drop(sock, "a frame of an unknown kind");
            return false;
    }
    drop(sock, "a frame out of order");
    return false;
}

void PeerSession::greeted(Connection& connection, const Bytes& payload) {
    DispatchSocket* sock = connection.socket.get();
    auto greeting = PeerFrame::parseGreeting(payload);
    if (!greeting) {
        drop(sock, "a short greeting");
        return;
    }
    connection.peer = std::make_shared<const PeerID>(greeting->displayName, greeting->identifier);
    connection.peerPort = greeting->port;
    connection.role = Connection::Role::Session;
    if (connection.outgoing) {
        // The invited station greeted back: it accepted.
        setState(connection, kConnected);
        return;
    }
    setState(connection, kConnecting);
    if (!invitations_) {
        drop(sock, "an invitation while not advertising");
        return;
    }
    std::weak_ptr<int> alive = alive_;
    invitations_(connection.peer, [alive, this, sock](bool accept) {
        dispatch::Queue::main()->async([alive, this, sock, accept] {
            if (alive.lock()) answerInvitation(sock, accept);
        });
    });
}

void PeerSession::answerInvitation(DispatchSocket* sock, bool accept) {
    auto found = connections_.find(sock);
    if (found == connections_.end() || found->second.state != kConnecting) return;
    if (!accept) {
        drop(sock, "a refused invitation");
        return;
    }
    sock->writeData(PeerFrame::greeting({listeningPort(), me_->identifier(), me_->displayName()}),
                    -1, 0);
    setState(found->second, kConnected);
}

void PeerSession::setState(Connection& connection, State state) {
    connection.state = state;
    tell([peer = connection.peer, state](PeerSessionDelegate& d, PeerSession* s) {
        d.peerDidChangeState(s, peer, state);
    });
}

void PeerSession::drop(DispatchSocket* sock, const char* reason) {
    auto found = connections_.find(sock);
    if (found == connections_.end()) return;
    QLOG("Peer connection closed: %s", reason);
    Connection connection = std::move(found->second);
    connections_.erase(found);
    if (connection.role != Connection::Role::Stream && connection.peer &&
        connection.state != kNotConnected) {
        setState(connection, kNotConnected);
    }
    connection.socket->disconnect();
}

void PeerSession::socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>&) {
    if (sock == listener_.get()) return;
    auto found = connections_.find(sock);
    if (found == connections_.end()) return;
    Connection connection = std::move(found->second);
    connections_.erase(found);
    if (connection.role != Connection::Role::Stream && connection.peer &&
        connection.state != kNotConnected) {
        setState(connection, kNotConnected);
    }
}

}  // namespace quenbril
