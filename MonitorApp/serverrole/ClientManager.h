#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MonitorApp/link/LinkClientWriter.h"
#include "MonitorApp/link/LinkFrameReader.h"
#include "MonitorApp/serverrole/ClientManagerDelegate.h"
#include "MonitorApp/serverrole/DispatchUdpEndpoint.h"
#include "MonitorApp/serverrole/NetworkInterfaces.h"
#include "MonitorApp/serverrole/UdpEndpoint.h"
#include "foundation/Timer.h"
#include "foundation/Value.h"
#include "sockets/DispatchSocketDelegate.h"

namespace quenbril {

class ServicePublisher;

/// Hosting of remote stations in the server role: listens for them, announces the service,
/// reads their frames and writes them the frames a remote's link reads, and sends datagrams.
/// The application hosts none: `sharedInstance()` yields none unless a test installs a host.
///
/// Socket callbacks arrive on the main thread. The frame writers may be called from any
/// thread: they take the host's lock while they walk the clients and queue their writes, so
/// frames of different callers never interleave on one connection.
///
/// A frame a remote begins must not go kFrameTimeout seconds of the main loop's clock without
/// a byte (a remote that sends nothing stays connected); a header announcing a length of 0 or
/// less, or over 16 MiB, closes that remote; a remote with more than
/// LinkClientWriter::kMaxQueuedBytes waiting to go out is dropped. A message that repeats a
/// whole state waits at most once per remote: a newer copy replaces the waiting one.
///
/// The stream belongs to the connection that asked for it: it stops when that connection asks
/// or goes, whatever other connections from its host do.
class ClientManager : public DispatchSocketDelegate, public UdpEndpointDelegate {
  public:
    static constexpr uint16_t kListenPort = 57576;
    static constexpr int32_t kStreamPort = 57575;
    static constexpr double kFrameTimeout = 5.0;
    static constexpr double kAddressedWriteTimeout = 5.0;
    static constexpr long kHeaderTag = 100;
    static constexpr long kBodyTag = 101;
    static constexpr long kLevelsTag = 123;
    static constexpr long kDictionaryDatagramTag = 1235;

    /// What the host is made with; every field has the application's value by default.
    struct Services {
        uint16_t port = kListenPort;
        /// The interface listened on: "" for all, or a local address.
        std::string interface;
        /// The stored role: a remote (true) hosts nothing.
        bool actAsClient = false;
        /// Fills the service type "_%s._tcp.".
        std::string qbIdentifier = "quenbril";
        /// Announces the service; null: no announcement.
        ServicePublisher* publisher = nullptr;
        /// Makes the datagram socket; empty: none.
        UdpEndpointFactory udp = makeDispatchUdpEndpoint;
        /// The interface list the address look-ups read.
        std::function<std::optional<std::vector<NetworkInterface>>()> interfaces =
            listNetworkInterfaces;
    };

    /// A host that has no listener until startListening(), with the application's services.
    ClientManager();
    explicit ClientManager(Services services);
    ~ClientManager() override;
    ClientManager(const ClientManager&) = delete;
    ClientManager& operator=(const ClientManager&) = delete;

    /// None in the application; callers check.
    static ClientManager* sharedInstance();
    /// Tests: installs a host as the shared one (nullptr removes it). The caller keeps
    /// ownership and removes it before it dies.
    static void setSharedInstance(ClientManager* host);

    void setDelegate(ClientManagerDelegate* delegate) { delegate_ = delegate; }
    ClientManagerDelegate* delegate() const { return delegate_; }

    /// Listens and announces the service, then opens the datagram socket. Nothing in the
    /// remote role.
    void startListening();
    void initUDPSocket();
    /// The port listened on (the one chosen for port 0); 0 when not listening.
    uint16_t listeningPort() const;
    /// The datagram socket's port; 0 when it has none.
    uint16_t udpPort() const { return udpSocket_ ? udpSocket_->localPort() : 0; }
    /// "port %d" with the listening port, after logging the interface addresses.
    std::string localDescription();

    /// The stream goes to the host of `client` (from now on, on kStreamPort).
    void startStreamTo(DispatchSocket* client);
    /// Only when `client` is the connection the stream was started for: no stream host any
    /// more. Another connection from the same host leaves the stream alone.
    void stopStreamTo(DispatchSocket* client);
    std::optional<std::string> streamHost() const;
    int32_t streamPort() const;

    // ---- frames ----
    virtual void sendDictionaryToEveryone(const Dictionary& message);
    /// To every remote connected from `host`.
    void sendStream(const Dictionary& message, const std::string& host);
    /// To every remote connected from the stream host.
    void sendStream(const Dictionary& message);
    /// To the remote the address table holds for `ip`; nothing when none.
    void sendDictionaryTo(const Dictionary& message, const std::string& ip);
    /// To `client`, with a write time-out.
    void sendDictionaryTo(DispatchSocket* client, const Dictionary& message);

    // ---- datagrams ----
    void sendUDPData(const std::string& host, uint16_t port, const std::string& message, long tag);
    void sendUDPData(const Bytes& data, long tag);
    void sendUDPData(const Bytes& data, const std::string& ip, long tag);
    void sendUDPDataToEveryone(const Bytes& data, long tag);
    void sendLevels(const uint8_t* bytes, size_t count);
    void sendUDPDictionaryToEveryone(const Dictionary& message);

    // ---- addresses ----
    /// The address of the first interface with a non-loopback IPv4 address (its last one
    /// listed), or "error".
    std::string getIPAddress() const;
    /// The first non-loopback dotted IPv4 address of this host, or "Unknown".
    std::string getIPWithNSHost() const;
    /// Logs name, address and mask of every non-loopback IPv4 interface address.
    void getNetworkData() const;

    /// The connected remotes' sockets, in order of acceptance.
    std::vector<std::shared_ptr<DispatchSocket>> connectedSockets() const;
    /// Client address -> its socket (the later connection of a host replaces the earlier).
    std::map<std::string, DispatchSocket*> socketIPs() const;
    /// Bytes queued to `client` and not yet written; 0 for a socket not connected here.
    size_t queuedBytes(const DispatchSocket* client) const;
    /// True while `client` is part-way through sending a frame.
    bool isReadingFrame(const DispatchSocket* client) const;
    /// Bytes received of the frame `client` is part-way through: of its header, then of its
    /// body; 0 between frames.
    size_t frameBytesReceived(const DispatchSocket* client) const;

  private:
    struct Client {
        Client(std::shared_ptr<DispatchSocket> s, std::string h);
        std::shared_ptr<DispatchSocket> socket;
        /// The peer's address as it was at accept; kept after the peer goes.
        std::string host;
        LinkFrameReader reader{LinkPeer::Server};
        LinkClientWriter writer;
        /// Main thread only.
        Timer frameDeadline;
        /// Set by whichever thread drops the remote; its disconnection removes it.
        std::atomic<bool> dropped{false};
    };

    std::shared_ptr<dispatch::Queue> newSocketQueueForConnectionFromAddress(
        const Bytes& address, DispatchSocket* listener) override;
    void socketDidAcceptNewSocket(DispatchSocket* sock,
                                  std::shared_ptr<DispatchSocket> newSocket) override;
    void socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) override;
    void socketDidWriteDataWithTag(DispatchSocket* sock, long tag) override;
    void socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) override;
    void udpEndpointDidReceive(UdpEndpoint* endpoint, const Bytes& data,
                               const std::string& host) override;
    void udpEndpointDidNotSend(UdpEndpoint* endpoint, long tag, const Error& error) override;

    Client* find(const DispatchSocket* sock) const;
    /// The frame of `message` as header and body; none when it cannot be archived.
    static std::optional<std::pair<std::shared_ptr<const Bytes>, std::shared_ptr<const Bytes>>>
    frame(const Dictionary& message);
    /// Queues a frame to `client` (lock held); a remote over its bound is dropped.
    /// `state`: the whole state the message repeats, if any (a waiting copy is replaced).
    void write(Client& client,
               const std::pair<std::shared_ptr<const Bytes>, std::shared_ptr<const Bytes>>& parts,
               double timeout, std::string_view state = {});
    void drop(Client& client, const char* why);
    /// Stops the stream when `client` is the connection it was started for. Lock held.
    void stopStreamOf(const DispatchSocket* client);
    void sendUDPBytes(const Bytes& data, const std::string& host, int32_t port, long tag);

    Services services_;
    ClientManagerDelegate* delegate_ = nullptr;
    /// The remotes' sockets share a few queues, taken in turn: a frame for all of them is
    /// written by a few threads rather than by a thread woken per remote.
    static constexpr size_t kClientQueues = 2;
    std::vector<std::shared_ptr<dispatch::Queue>> clientQueues_;
    size_t nextClientQueue_ = 0;
    std::shared_ptr<DispatchSocket> asyncSocket_;
    std::shared_ptr<DispatchSocket> streamSocket_;
    std::unique_ptr<UdpEndpoint> udpSocket_;
    int32_t inputChannelCount_ = 0;

    mutable std::recursive_mutex mutex_;
    std::vector<std::unique_ptr<Client>> clients_;
    std::map<std::string, DispatchSocket*> socketIPs_;
    std::optional<std::string> streamHost_;
    /// The connection the stream was started for; compared, never followed.
    const DispatchSocket* streamClient_ = nullptr;
    int32_t streamPort_ = kStreamPort;
};

}  // namespace quenbril
