#include "MonitorApp/serverrole/ClientManager.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "foundation/KeyedArchiver.h"
#include "foundation/KeyedUnarchiver.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "platform/discovery/ServicePublisher.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

namespace {
ClientManager* installedHost = nullptr;
constexpr long kReadTag = ClientManager::kHeaderTag;

bool isDottedIPv4(const std::string& address) {
    int dots = 0;
    for (char c : address) dots += c == '.';
    return dots == 3;
}
}  // namespace

ClientManager* ClientManager::sharedInstance() { return installedHost; }

void ClientManager::setSharedInstance(ClientManager* host) { installedHost = host; }

ClientManager::Client::Client(std::shared_ptr<DispatchSocket> s, std::string h)
    : socket(std::move(s)), host(std::move(h)), writer(socket) {}

ClientManager::ClientManager() : ClientManager(Services{}) {}

ClientManager::ClientManager(Services services) : services_(std::move(services)) {}

ClientManager::~ClientManager() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (auto& c : clients_) {
        c->socket->synchronouslySetDelegate(nullptr);
        c->socket->disconnect();
    }
    if (asyncSocket_) {
        asyncSocket_->synchronouslySetDelegate(nullptr);
        asyncSocket_->disconnect();
    }
}

void ClientManager::startListening() {
    if (services_.actAsClient) return;
    asyncSocket_ = DispatchSocket::make(this, dispatch::Queue::main());
    // Made with the listener as the hosting has always had it; nothing connects through it.
    streamSocket_ = DispatchSocket::make(this, dispatch::Queue::main());
    Error error;
    if (asyncSocket_->acceptOnInterface(services_.interface, services_.port, &error)) {
        if (services_.publisher) {
            const std::string type = "_" + services_.qbIdentifier + "._tcp.";
            services_.publisher->setTXTRecord({{"cow", "moo"}, {"duck", "quack"}});
            if (services_.publisher->publish("", type, listeningPort())) {
                QLOG("Bonjour Service Published: domain(local.) type(%s) name() port(%i)",
                     type.c_str(), int{listeningPort()});
            } else {
                QLOG("Failed to Publish Service: domain(local.) type(%s) name()", type.c_str());
            }
        }
    } else {
        QLOG("Error in acceptOnPort:error: -> %s", error.description.c_str());
        asyncSocket_.reset();
    }
    initUDPSocket();
}

void ClientManager::initUDPSocket() {
    if (!services_.udp) return;
    udpSocket_ = services_.udp(this);
    if (!udpSocket_) return;
    Error error;
    if (!udpSocket_->bindToPort(0, "", &error)) {
        QLOG("Error binding: %s", error.description.c_str());
        return;
    }
    if (!udpSocket_->beginReceiving(&error)) {
        QLOG("Error receiving: %s", error.description.c_str());
    }
}

uint16_t ClientManager::listeningPort() const {
    return asyncSocket_ ? asyncSocket_->localPort() : 0;
}

std::string ClientManager::localDescription() {
    getNetworkData();
    return "port " + std::to_string(listeningPort());
}

// ---- clients ----

std::shared_ptr<dispatch::Queue> ClientManager::newSocketQueueForConnectionFromAddress(
    const Bytes&, DispatchSocket*) {
    if (clientQueues_.empty()) {
        for (size_t i = 0; i < kClientQueues; ++i) {
            clientQueues_.push_back(
                dispatch::Queue::makeSerial("client hosting " + std::to_string(i + 1)));
        }
    }
    return clientQueues_[nextClientQueue_++ % kClientQueues];
}

void ClientManager::socketDidAcceptNewSocket(DispatchSocket*,
                                             std::shared_ptr<DispatchSocket> newSocket) {
    const std::string host = newSocket->connectedHost().value_or("");
    const uint16_t port = newSocket->connectedPort();
    QLOG("Accepted new socket from %s:%hu", host.c_str(), port);
    DispatchSocket* sock = newSocket.get();
    size_t count = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        clients_.push_back(std::make_unique<Client>(std::move(newSocket), host));
        socketIPs_[host] = sock;
        count = clients_.size();
    }
    if (delegate_) delegate_->connected(sock);
    QLOG("Accepted new socket from %s:%hu. Socket count now %zu", host.c_str(), port, count);
    sock->readDataWithTimeout(-1, kReadTag);
}

void ClientManager::socketDidReadData(DispatchSocket* sock, const Bytes& data, long) {
    Client* client = find(sock);
    if (!client || client->dropped) return;
    LinkFrameReader& reader = client->reader;
    reader.feed(data.data(), data.size());
    if (reader.failed()) {
        drop(*client, reader.error().description.c_str());
        return;
    }
    while (auto f = reader.takeFrame()) {
        Error error;
        auto object = KeyedUnarchiver::unarchive(f->body, &error);
        if (!object) {
            QLOG("Dropped a message that is not an archive: %s", error.description.c_str());
        } else if (delegate_) {
            delegate_->messageReceived(*object, sock);
        }
        // The delegate may have let the remote go.
        client = find(sock);
        if (!client || client->dropped) return;
    }
    // The deadline runs from the last bytes of the frame in progress: one that keeps arriving
    // over a slow link is read to its end, one that stops is cut off. Between frames there is
    // none.
    client->frameDeadline.invalidate();
    if (reader.inFrame()) {
        std::weak_ptr<DispatchSocket> weak = client->socket;
        client->frameDeadline = RunLoop::main().scheduleTimer(kFrameTimeout, false, [this, weak] {
            auto s = weak.lock();
            if (Client* c = s ? find(s.get()) : nullptr; c && !c->dropped) {
                drop(*c, "a frame it began stopped arriving");
            }
        });
    }
    sock->readDataWithTimeout(-1, kReadTag);
}

void ClientManager::socketDidWriteDataWithTag(DispatchSocket* sock, long) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (Client* client = find(sock)) client->writer.didWrite();
}

void ClientManager::socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) {
    QLOG("Disconnected");
    std::unique_ptr<Client> gone;
    std::optional<std::string> ip;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        for (auto it = clients_.begin(); it != clients_.end(); ++it) {
            if ((*it)->socket.get() == sock) {
                gone = std::move(*it);
                clients_.erase(it);
                break;
            }
        }
        if (!gone) return;
        for (auto it = socketIPs_.begin(); it != socketIPs_.end(); ++it) {
            if (it->second == sock) {
                ip = it->first;
                QLOG("IP WAS %s", ip->c_str());
                socketIPs_.erase(it);
                break;
            }
        }
        stopStreamOf(sock);
    }
    if (delegate_) delegate_->disconnected(error, ip);
}

ClientManager::Client* ClientManager::find(const DispatchSocket* sock) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (const auto& c : clients_) {
        if (c->socket.get() == sock) return c.get();
    }
    return nullptr;
}

void ClientManager::drop(Client& client, const char* why) {
    // Any thread: the deadline timer is left to the main thread, where it finds the flag.
    if (client.dropped.exchange(true)) return;
    QLOG("Dropping the remote at %s: %s", client.host.c_str(), why);
    client.socket->disconnect();
}

std::vector<std::shared_ptr<DispatchSocket>> ClientManager::connectedSockets() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::shared_ptr<DispatchSocket>> sockets;
    for (const auto& c : clients_) sockets.push_back(c->socket);
    return sockets;
}

std::map<std::string, DispatchSocket*> ClientManager::socketIPs() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return socketIPs_;
}

size_t ClientManager::queuedBytes(const DispatchSocket* client) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const Client* c = find(client);
    return c ? c->writer.queuedBytes() : 0;
}

bool ClientManager::isReadingFrame(const DispatchSocket* client) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const Client* c = find(client);
    return c && c->reader.inFrame();
}

size_t ClientManager::frameBytesReceived(const DispatchSocket* client) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const Client* c = find(client);
    return c && c->reader.inFrame() ? c->reader.pendingBytes() : 0;
}

// ---- the stream host ----

void ClientManager::startStreamTo(DispatchSocket* client) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const Client* c = find(client);
    streamHost_ = c ? std::optional<std::string>(c->host) : client->connectedHost();
    streamClient_ = client;
    streamPort_ = kStreamPort;
    QLOG("Streaming to %s:%d", streamHost_.value_or("").c_str(), streamPort_);
}

void ClientManager::stopStreamTo(DispatchSocket* client) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    stopStreamOf(client);
}

void ClientManager::stopStreamOf(const DispatchSocket* client) {
    // Two remotes on one machine, or behind one router, share an address: one of them leaving
    // (or being dropped) must not silence the other.
    if (!streamHost_ || client != streamClient_) return;
    QLOG("Stopping stream to %s", streamHost_->c_str());
    streamPort_ = -1;
    streamHost_.reset();
    streamClient_ = nullptr;
}

std::optional<std::string> ClientManager::streamHost() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return streamHost_;
}

int32_t ClientManager::streamPort() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return streamPort_;
}

// ---- frames ----

std::optional<std::pair<std::shared_ptr<const Bytes>, std::shared_ptr<const Bytes>>>
ClientManager::frame(const Dictionary& message) {
    Error error;
    auto body = LinkCodec::encodeBody(message, &error);
    if (!body) {
        QLOG("Cannot archive a message for the remotes: %s", error.description.c_str());
        return std::nullopt;
    }
    if (body->size() > static_cast<size_t>(LinkFrameHeader::kMaxLength)) {
        QLOG("A message of %zu bytes is too long for the link", body->size());
        return std::nullopt;
    }
    const auto header =
        LinkFrameHeader::forBody(LinkPeer::Server, static_cast<int32_t>(body->size())).encode();
    return std::make_pair(std::make_shared<const Bytes>(header.begin(), header.end()),
                          std::make_shared<const Bytes>(std::move(*body)));
}

void ClientManager::write(
    Client& client,
    const std::pair<std::shared_ptr<const Bytes>, std::shared_ptr<const Bytes>>& parts,
    double timeout, std::string_view state) {
    if (client.dropped) return;
    if (!client.writer.write({{parts.first, kHeaderTag}, {parts.second, kBodyTag}}, timeout,
                             state)) {
        drop(client, "it does not read what it is sent");
    }
}

void ClientManager::sendDictionaryToEveryone(const Dictionary& message) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (clients_.empty()) return;
    auto parts = frame(message);
    if (!parts) return;
    const std::string_view state = LinkMessageReader::wholeState(message);
    for (auto& c : clients_) write(*c, *parts, -1, state);
}

void ClientManager::sendStream(const Dictionary& message, const std::string& host) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::optional<std::pair<std::shared_ptr<const Bytes>, std::shared_ptr<const Bytes>>> parts;
    for (auto& c : clients_) {
        if (c->host != host) continue;
        if (!parts && !(parts = frame(message))) return;
        write(*c, *parts, -1);
    }
}

void ClientManager::sendStream(const Dictionary& message) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (streamHost_) sendStream(message, *streamHost_);
}

void ClientManager::sendDictionaryTo(const Dictionary& message, const std::string& ip) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const auto it = socketIPs_.find(ip);
    if (it == socketIPs_.end()) return;
    Client* c = find(it->second);
    if (!c) return;
    if (auto parts = frame(message)) write(*c, *parts, -1, LinkMessageReader::wholeState(message));
}

void ClientManager::sendDictionaryTo(DispatchSocket* client, const Dictionary& message) {
    auto parts = frame(message);
    if (!parts) return;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (Client* c = find(client)) {
        write(*c, *parts, kAddressedWriteTimeout, LinkMessageReader::wholeState(message));
    }
}

// ---- datagrams ----

void ClientManager::sendUDPBytes(const Bytes& data, const std::string& host, int32_t port,
                                 long tag) {
    if (!udpSocket_ || port < 0 || port > 65535) return;
    udpSocket_->sendData(data, host, static_cast<uint16_t>(port), -1, tag);
}

void ClientManager::sendUDPData(const std::string& host, uint16_t port, const std::string& message,
                                long tag) {
    sendUDPBytes(Bytes(message.begin(), message.end()), host, port, tag);
}

void ClientManager::sendUDPData(const Bytes& data, long tag) {
    const auto host = streamHost();
    if (host) sendUDPBytes(data, *host, streamPort(), tag);
}

void ClientManager::sendUDPData(const Bytes& data, const std::string& ip, long tag) {
    sendUDPBytes(data, ip, streamPort(), tag);
}

void ClientManager::sendUDPDataToEveryone(const Bytes& data, long tag) {
    std::vector<std::string> hosts;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        for (const auto& c : clients_) hosts.push_back(c->host);
    }
    for (const std::string& host : hosts) sendUDPBytes(data, host, kStreamPort, tag);
}

void ClientManager::sendLevels(const uint8_t* bytes, size_t count) {
    sendUDPDataToEveryone(Bytes(bytes, bytes + count), kLevelsTag);
}

void ClientManager::sendUDPDictionaryToEveryone(const Dictionary& message) {
    if (auto archive = KeyedArchiver::archivedData(Value(message))) {
        sendUDPDataToEveryone(*archive, kDictionaryDatagramTag);
    }
}

void ClientManager::udpEndpointDidReceive(UdpEndpoint* endpoint, const Bytes& data,
                                          const std::string&) {
    // Datagrams come from anyone on the network: the hardened reader refuses damage.
    auto object = KeyedUnarchiver::unarchive(data);
    if (object && delegate_) delegate_->messageReceived(*object, endpoint);
}

void ClientManager::udpEndpointDidNotSend(UdpEndpoint*, long tag, const Error& error) {
    QLOG("Datagram %ld not sent: %s", tag, error.description.c_str());
}

// ---- addresses ----

std::string ClientManager::getIPAddress() const {
    const auto list = services_.interfaces();
    if (!list) return "error";
    // The interface the machine reaches its network by: the first with a non-loopback address.
    std::string name;
    for (const NetworkInterface& i : *list) {
        if (!isLoopbackAddress(i.address)) {
            name = i.name;
            break;
        }
    }
    std::string address = "error";
    for (const NetworkInterface& i : *list) {
        if (!name.empty() && i.name == name) address = i.address;
    }
    return address;
}

std::string ClientManager::getIPWithNSHost() const {
    const auto list = services_.interfaces();
    if (list) {
        for (const NetworkInterface& i : *list) {
            if (!isLoopbackAddress(i.address) && isDottedIPv4(i.address)) return i.address;
        }
    }
    return "Unknown";
}

void ClientManager::getNetworkData() const {
    errno = 0;
    const auto list = services_.interfaces();
    if (!list) {
        const int code = errno;
        QLOG("getifaddrs() failed with errno =  %i %s", code, std::strerror(code));
        return;
    }
    for (const NetworkInterface& i : *list) {
        if (isLoopbackAddress(i.address) || !isDottedIPv4(i.address)) continue;
        QLOG("Name: %s, addr: %s, mask : %s", i.name.c_str(), i.address.c_str(), i.netmask.c_str());
    }
}

}  // namespace quenbril
