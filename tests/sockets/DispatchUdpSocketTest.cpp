// The UDP socket on loopback: the services the server role relies on, then binding, receiving,
// sending and their edge cases.

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "sockets/DispatchUdpSocket.h"
#include "tests/sockets/SocketTestSupport.h"

namespace quenbril::test {
namespace {

struct UdpRecorder : DispatchUdpSocketDelegate {
    struct Received {
        Bytes data;
        Bytes address;
        std::shared_ptr<void> context;
    };
    std::vector<Bytes> connectedTo;
    std::vector<Error> notConnected;
    std::vector<long> sent;
    std::vector<std::pair<long, Error>> notSent;
    std::vector<Received> received;
    std::vector<std::string> events;  // "sent 1", "closed", ... in order
    int closes = 0;
    std::optional<Error> closeError;
    bool offMainThread = false;

    void check() {
        if (!RunLoop::main().isCurrentThread()) offMainThread = true;
    }
    void udpSocketDidConnectToAddress(DispatchUdpSocket*, const Bytes& address) override {
        check();
        connectedTo.push_back(address);
    }
    void udpSocketDidNotConnect(DispatchUdpSocket*, const Error& error) override {
        check();
        notConnected.push_back(error);
    }
    void udpSocketDidSendDataWithTag(DispatchUdpSocket*, long tag) override {
        check();
        sent.push_back(tag);
        events.push_back("sent " + std::to_string(tag));
    }
    void udpSocketDidNotSendDataWithTag(DispatchUdpSocket*, long tag, const Error& e) override {
        check();
        notSent.emplace_back(tag, e);
        events.push_back("not sent " + std::to_string(tag));
    }
    void udpSocketDidReceiveData(DispatchUdpSocket*, const Bytes& data, const Bytes& address,
                                 const std::shared_ptr<void>& context) override {
        check();
        received.push_back({data, address, context});
    }
    void udpSocketDidClose(DispatchUdpSocket*, const std::optional<Error>& error) override {
        check();
        ++closes;
        closeError = error;
        events.push_back("closed");
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& r : received) out.push_back(textOf(r.data));
        return out;
    }
};

/// A plain datagram socket bound to a loopback address.
struct RawUdp {
    int fd = -1;
    int family;
    uint16_t port = 0;
    explicit RawUdp(int family = AF_INET, uint16_t wantedPort = 0) : family(family) {
        fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        Bytes a =
            family == AF_INET ? address4("127.0.0.1", wantedPort) : address6("::1", wantedPort);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(a.data()),
                   static_cast<socklen_t>(a.size())) != 0) {
            ::close(fd);
            fd = -1;
            return;
        }
        port = DispatchUdpSocket::portFromAddress(localAddress());
    }
    ~RawUdp() {
        if (fd >= 0) ::close(fd);
    }
    Bytes localAddress() const {
        sockaddr_in6 a{};
        socklen_t length = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
        const auto* p = reinterpret_cast<const uint8_t*>(&a);
        return Bytes(p, p + length);
    }
    void sendTo(const Bytes& address, const std::string& text) const {
        ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(address.data()),
                 static_cast<socklen_t>(address.size()));
    }
    /// One datagram, or none within the time-out (a plain build's: TestTime.h).
    std::optional<std::string> receive(int timeoutMs = 2000) const {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, scaledMs(timeoutMs)) != 1) return std::nullopt;
        char buffer[65536];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) return std::nullopt;
        return std::string(buffer, static_cast<size_t>(n));
    }
};

/// A port free on both 127.0.0.1 and ::1 right now.
uint16_t freePortOnBothFamilies() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        RawUdp v4(AF_INET);
        RawUdp v6(AF_INET6, v4.port);
        if (v6.fd >= 0) return v4.port;
    }
    return 0;
}

class UdpTest : public SocketTest {
  protected:
    std::shared_ptr<DispatchUdpSocket> makeUdp(UdpRecorder& r) {
        return DispatchUdpSocket::make(&r, mainQueue());
    }
    /// A receiving socket bound to 127.0.0.1.
    std::shared_ptr<DispatchUdpSocket> makeReceiver(UdpRecorder& r) {
        auto sock = makeUdp(r);
        Error error;
        EXPECT_TRUE(sock->bindToPort(0, "127.0.0.1", &error)) << error.toString();
        EXPECT_TRUE(sock->beginReceiving(&error)) << error.toString();
        return sock;
    }
    static int familyOf(const Bytes& address) {
        return DispatchUdpSocket::familyFromAddress(address);
    }
};

// ---- socket addresses ----

template <typename Address>
Bytes addressBytes(const Address& address) {
    Bytes bytes(sizeof address);
    std::memcpy(bytes.data(), &address, sizeof address);
    return bytes;
}

TEST(UdpAddressTest, SockaddrsGiveTheirHostsAndPortsAndTheShortFormFillsWhatItIsGiven) {
    sockaddr_in four{};
    four.sin_family = AF_INET;
    four.sin_port = htons(5004);
    ASSERT_EQ(inet_pton(AF_INET, "192.0.2.7", &four.sin_addr), 1);
    sockaddr_in6 six{};
    six.sin6_family = AF_INET6;
    six.sin6_port = htons(6000);
    ASSERT_EQ(inet_pton(AF_INET6, "2001:db8::1", &six.sin6_addr), 1);
    EXPECT_EQ(DispatchUdpSocket::hostFromSockaddr4(four), "192.0.2.7");
    EXPECT_EQ(DispatchUdpSocket::portFromSockaddr4(four), 5004);
    EXPECT_EQ(DispatchUdpSocket::hostFromSockaddr6(six), "2001:db8::1");
    EXPECT_EQ(DispatchUdpSocket::portFromSockaddr6(six), 6000);

    std::string host;
    uint16_t port = 0;
    EXPECT_TRUE(DispatchUdpSocket::getHost(&host, &port, addressBytes(six)));
    EXPECT_EQ(host, "2001:db8::1");
    EXPECT_EQ(port, 6000);
    EXPECT_TRUE(DispatchUdpSocket::getHost(nullptr, &port, addressBytes(four)));
    EXPECT_EQ(port, 5004);

    // Sixteen bytes that call themselves IPv6 are no address: the outputs are cleared.
    sockaddr_in liar = four;
    liar.sin_family = AF_INET6;
    EXPECT_FALSE(DispatchUdpSocket::getHost(&host, &port, addressBytes(liar)));
    EXPECT_EQ(host, "");
    EXPECT_EQ(port, 0);
}

// ---- the services the server role relies on ----

TEST_F(UdpTest, ContractBindReceiveAndSendToHostOnTheMainQueue) {
    UdpRecorder r, other;
    auto sock = makeUdp(r);
    EXPECT_FALSE(sock->localHost().has_value()) << "none before binding";
    Error error;
    EXPECT_FALSE(sock->beginReceiving(&error));
    EXPECT_EQ(error.domain, DispatchUdpSocket::kErrorDomain);
    EXPECT_EQ(error.code, DispatchUdpSocket::BadConfigError);
    EXPECT_EQ(error.description,
              "Must bind socket before you can receive data. You can do this explicitly via "
              "bind, or implicitly via connect or by sending data.");
    ASSERT_TRUE(sock->bindToPort(0, &error)) << error.toString();
    EXPECT_TRUE(sock->enableBroadcast(true, &error));
    ASSERT_TRUE(sock->beginReceiving(&error));
    EXPECT_EQ(sock->localHost(), "0.0.0.0");
    const uint16_t port = sock->localPort();
    ASSERT_NE(port, 0);

    auto sender = makeUdp(other);
    sender->sendData(bytesOf("hello"), std::string("127.0.0.1"), port, -1, 7);
    sender->sendData(bytesOf("lost"), std::nullopt, port, -1, 8);
    ASSERT_TRUE(wait([&] { return r.received.size() == 1 && other.notSent.size() == 1; }));
    EXPECT_EQ(textOf(r.received[0].data), "hello");
    EXPECT_EQ(DispatchUdpSocket::hostFromAddress(r.received[0].address), "127.0.0.1");
    EXPECT_EQ(DispatchUdpSocket::portFromAddress(r.received[0].address), sender->localPort());
    EXPECT_EQ(other.sent, std::vector<long>{7});
    EXPECT_EQ(other.notSent[0].first, 8);
    EXPECT_EQ(other.notSent[0].second.description,
              "The host param is nil. Should be domain name or IP address string.");
    EXPECT_FALSE(r.offMainThread || other.offMainThread);
}

TEST_F(UdpTest, ContractReusePortLetsTwoSocketsBindOnePort) {
    UdpRecorder a, b;
    auto first = makeUdp(a);
    auto second = makeUdp(b);
    Error error;
    ASSERT_TRUE(first->enableReusePort(true, &error)) << error.toString();
    ASSERT_TRUE(second->enableReusePort(true, &error)) << error.toString();
    // Receiving can start once the option made the sockets, before any bind.
    EXPECT_TRUE(first->beginReceiving(&error)) << error.toString();
    ASSERT_TRUE(first->bindToPort(0, "127.0.0.1", &error)) << error.toString();
    EXPECT_TRUE(second->bindToPort(first->localPort(), "127.0.0.1", &error)) << error.toString();
}

// ---- binding ----

TEST_F(UdpTest, AClosedSocketGivesItsDescriptorBack) {
    UdpRecorder r;
    auto sock = makeReceiver(r);
    const int fd = descriptorOf(*sock);
    ASSERT_FALSE(isClosed(fd));
    sock->close();
    EXPECT_TRUE(wait([&] { return isClosed(fd); }));
}

TEST_F(UdpTest, AFailedBindClosesItsSocketsSoARetryWorks) {
    UdpRecorder r;
    // Without SO_REUSEADDR the holder keeps the port to itself.
    auto holder = std::make_unique<RawUdp>();
    const uint16_t port = holder->port;

    auto sock = makeUdp(r);
    Error error;
    EXPECT_FALSE(sock->bindToPort(port, "127.0.0.1", &error));
    EXPECT_EQ(error.domain, Error::kPosixDomain);
    EXPECT_EQ(error.code, EADDRINUSE);
    EXPECT_TRUE(sock->isClosed());
    EXPECT_FALSE(sock->beginReceiving(&error)) << "receiving on an unbound socket";
    EXPECT_EQ(error.code, DispatchUdpSocket::BadConfigError);

    holder.reset();
    ASSERT_TRUE(sock->bindToPort(port, "127.0.0.1", &error)) << error.toString();
    ASSERT_TRUE(sock->beginReceiving(&error));
    RawUdp raw;
    raw.sendTo(address4("127.0.0.1", port), "again");
    ASSERT_TRUE(wait([&] { return r.received.size() == 1; }));
}

TEST_F(UdpTest, LocalhostBindsBothFamiliesOnOnePortAndReadsAlternate) {
    UdpRecorder r;
    auto sock = makeUdp(r);
    const uint16_t port = freePortOnBothFamilies();
    Error error;
    ASSERT_TRUE(sock->bindToPort(port, "localhost", &error)) << error.toString();
    EXPECT_EQ(sock->localPort_IPv4(), port);
    EXPECT_EQ(sock->localPort_IPv6(), port);
    EXPECT_EQ(sock->localHost_IPv6(), "::1");

    RawUdp v4(AF_INET), v6(AF_INET6);
    for (const char* text : {"a", "b"}) {
        v4.sendTo(address4("127.0.0.1", port), std::string("4") + text);
        v6.sendTo(address6("::1", port), std::string("6") + text);
    }
    settle(0.05);  // all four wait in the kernel before receiving starts
    ASSERT_TRUE(sock->beginReceiving(&error));
    ASSERT_TRUE(wait([&] { return r.received.size() == 4; }));
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_NE(familyOf(r.received[i].address), familyOf(r.received[i - 1].address))
            << "reads take turns between the families";
    }
}

// ---- connecting ----

TEST_F(UdpTest, AConnectedSocketHearsOnlyItsPeer) {
    UdpRecorder r;
    RawUdp peer, stranger;
    auto sock = makeUdp(r);
    ASSERT_TRUE(sock->connectToAddress(peer.localAddress()));
    ASSERT_TRUE(wait([&] { return r.connectedTo.size() == 1; }));
    EXPECT_TRUE(sock->isConnected());
    EXPECT_EQ(sock->connectedPort(), peer.port);
    ASSERT_TRUE(sock->beginReceiving());
    const Bytes local = address4("127.0.0.1", sock->localPort());
    stranger.sendTo(local, "stranger");
    peer.sendTo(local, "peer");
    sock->sendData(bytesOf("to peer"), 1.0, 3);
    // The stranger's datagram came first, so it was read (and dropped) before the peer's.
    ASSERT_TRUE(wait([&] { return r.received.size() == 1 && r.sent.size() == 1; }));
    ASSERT_TRUE(drain(*sock));
    EXPECT_EQ(r.texts(), std::vector<std::string>{"peer"});
    EXPECT_EQ(peer.receive(), "to peer");
    Error error;
    EXPECT_FALSE(sock->joinMulticastGroup("239.1.2.3", &error));
    EXPECT_EQ(error.description, "Cannot join a multicast group if connected.");
}

TEST_F(UdpTest, TheAddressChoiceFollowsTheResolverAndThePreference) {
    RawUdp v4(AF_INET), v6(AF_INET6, 0);
    // One name, IPv6 first; each family's receiver listens on its own port.
    auto resolver = [&](const std::string& host, uint16_t,
                        Error* error) -> std::optional<std::vector<Bytes>> {
        if (host == "dual.test") {
            return std::vector<Bytes>{address6("::1", v6.port), address4("127.0.0.1", v4.port)};
        }
        if (host == "v4only.test") return std::vector<Bytes>{address4("127.0.0.1", v4.port)};
        *error = DispatchSocket::gaiError(EAI_NONAME);
        return std::nullopt;
    };
    UdpRecorder r;
    auto sock = makeUdp(r);
    sock->setResolver(resolver);
    sock->sendData(bytesOf("neutral"), std::string("dual.test"), 0, -1, 1);
    EXPECT_EQ(v6.receive(), "neutral");
    sock->setPreferIPv4();
    sock->sendData(bytesOf("prefers 4"), std::string("dual.test"), 0, -1, 2);
    EXPECT_EQ(v4.receive(), "prefers 4");
    sock->sendData(bytesOf("nobody"), std::string("nowhere.test"), 0, -1, 3);
    ASSERT_TRUE(wait([&] { return r.sent.size() == 2 && r.notSent.size() == 1; }));
    EXPECT_EQ(r.notSent[0].second.domain, DispatchSocket::kNetDBErrorDomain);
    EXPECT_EQ(r.notSent[0].second.code, 8) << "the resolver's code in the portable numbering";

    // Bound to IPv6 only, a name with IPv4 addresses alone cannot be reached.
    UdpRecorder r6;
    auto bound6 = makeUdp(r6);
    bound6->setResolver(resolver);
    ASSERT_TRUE(bound6->bindToPort(0, "::1"));
    ASSERT_TRUE(bound6->connectToHost(std::string("v4only.test"), 0));
    ASSERT_TRUE(wait([&] { return r6.notConnected.size() == 1; }));
    EXPECT_EQ(r6.notConnected[0].code, DispatchUdpSocket::OtherError);
    EXPECT_EQ(r6.notConnected[0].description,
              "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 "
              "address(es).");
    EXPECT_FALSE(bound6->isConnected());
}

// ---- sending ----

TEST_F(UdpTest, FiltersThatAnswerNoHoldDatagramsBack) {
    UdpRecorder r, senderRecorder;
    auto receiver = makeReceiver(r);
    auto filterQueue = dispatch::Queue::makeSerial("filter");
    receiver->setReceiveFilter(
        [](const Bytes& data, const Bytes&, std::shared_ptr<void>* context) {
            *context = std::make_shared<std::string>("seen");
            return textOf(data) != "drop";
        },
        filterQueue, false);
    const Bytes to = address4("127.0.0.1", receiver->localPort());

    auto sender = makeUdp(senderRecorder);
    sender->setSendFilter(
        [](const Bytes& data, const Bytes&, long) { return textOf(data) != "held"; }, filterQueue,
        true);
    for (const char* text : {"held", "drop", "keep"}) sender->sendData(bytesOf(text), to, -1, 0);
    // "keep" went last, so the others were read (and dropped) before it.
    ASSERT_TRUE(wait([&] { return r.received.size() == 1 && senderRecorder.sent.size() == 3; }));
    ASSERT_TRUE(drain(*receiver));
    EXPECT_EQ(r.texts(), std::vector<std::string>{"keep"});
    ASSERT_TRUE(r.received[0].context);
    EXPECT_EQ(*std::static_pointer_cast<std::string>(r.received[0].context), "seen");
}

TEST_F(UdpTest, ReceiveOnceDeliversOneDatagram) {
    UdpRecorder r;
    auto sock = makeUdp(r);
    ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1"));
    ASSERT_TRUE(sock->receiveOnce());
    RawUdp raw;
    const Bytes to = address4("127.0.0.1", sock->localPort());
    raw.sendTo(to, "one");
    raw.sendTo(to, "two");
    ASSERT_TRUE(wait([&] { return r.received.size() == 1; }));
    ASSERT_TRUE(drain(*sock));
    EXPECT_EQ(r.received.size(), 1u);
    ASSERT_TRUE(sock->receiveOnce());
    ASSERT_TRUE(wait([&] { return r.received.size() == 2; }));
    EXPECT_EQ(r.texts(), (std::vector<std::string>{"one", "two"}));
}

TEST_F(UdpTest, CloseAfterSendingClosesAfterTheThirdSend) {
    UdpRecorder r;
    RawUdp raw;
    auto sock = makeUdp(r);
    for (long tag : {1, 2, 3}) sock->sendData(bytesOf("x"), raw.localAddress(), -1, tag);
    sock->closeAfterSending();
    ASSERT_TRUE(wait([&] { return r.closes == 1; }));
    ASSERT_TRUE(drain(*sock));
    EXPECT_EQ(r.events, (std::vector<std::string>{"sent 1", "sent 2", "sent 3", "closed"}));
    EXPECT_FALSE(r.closeError.has_value());
}

TEST_F(UdpTest, AWouldBlockSendResumesWhenWritableAndAnyOtherFailureIsReported) {
    UdpRecorder r;
    RawUdp raw;
    auto sock = makeUdp(r);
    int calls = 0;
    sock->setSendFunction([&calls](int fd, const void* data, size_t length, const sockaddr* address,
                                   size_t addressLength) -> ssize_t {
        ++calls;
        if (calls == 1) {
            errno = EAGAIN;
            return -1;
        }
        if (calls == 3) {
            errno = EPERM;
            return -1;
        }
        return ::sendto(fd, data, length, MSG_NOSIGNAL, address,
                        static_cast<socklen_t>(addressLength));
    });
    sock->sendData(bytesOf("blocked once"), raw.localAddress(), -1, 1);
    sock->sendData(bytesOf("refused"), raw.localAddress(), -1, 2);
    sock->sendData(bytesOf("after"), raw.localAddress(), -1, 3);
    ASSERT_TRUE(wait([&] { return r.events.size() == 3; }));
    EXPECT_EQ(r.events, (std::vector<std::string>{"sent 1", "not sent 2", "sent 3"}));
    EXPECT_EQ(r.notSent[0].second.code, EPERM);
    EXPECT_EQ(r.notSent[0].second.failureReason(), "Error in send() function.");
    EXPECT_EQ(raw.receive(), "blocked once");
    EXPECT_EQ(raw.receive(), "after");
}

TEST_F(UdpTest, ASendTimesOutOnlyWhileTheSocketWillNotTakeIt) {
    UdpRecorder r;
    RawUdp raw;
    auto sock = makeUdp(r);
    std::atomic<bool> full{true};
    sock->setSendFunction([&full](int fd, const void* data, size_t length, const sockaddr* address,
                                  size_t addressLength) -> ssize_t {
        if (full) {
            errno = EWOULDBLOCK;
            return -1;
        }
        return ::sendto(fd, data, length, MSG_NOSIGNAL, address,
                        static_cast<socklen_t>(addressLength));
    });
    sock->sendData(bytesOf("never"), raw.localAddress(), 0.1, 1);
    ASSERT_TRUE(wait([&] { return r.notSent.size() == 1; }));
    EXPECT_EQ(r.notSent[0].second.domain, DispatchUdpSocket::kErrorDomain);
    EXPECT_EQ(r.notSent[0].second.code, DispatchUdpSocket::SendTimeoutError);
    full = false;
    sock->sendData(bytesOf("at once"), raw.localAddress(), 0.1, 2);
    ASSERT_TRUE(wait([&] { return r.sent.size() == 1; }));
    ASSERT_TRUE(drain(*sock));
    EXPECT_EQ(r.events, (std::vector<std::string>{"not sent 1", "sent 2"}));
}

// ---- receiving ----

TEST_F(UdpTest, EmptyAndOversizedDatagramsAreNotDeliveredAndTheSocketStays) {
    UdpRecorder r;
    auto sock = makeUdp(r);
    sock->setMaxReceiveIPv4BufferSize(100);
    ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1"));
    ASSERT_TRUE(sock->beginReceiving());
    RawUdp raw;
    const Bytes to = address4("127.0.0.1", sock->localPort());
    raw.sendTo(to, "");
    raw.sendTo(to, std::string(200, 'L'));
    raw.sendTo(to, std::string(100, 'f'));
    // The 100 bytes went last, so the others were read (and dropped) before them.
    ASSERT_TRUE(wait([&] { return r.received.size() == 1; }));
    ASSERT_TRUE(drain(*sock));
    EXPECT_EQ(r.texts(), std::vector<std::string>{std::string(100, 'f')});
    EXPECT_EQ(r.closes, 0);
    EXPECT_FALSE(sock->isClosed());
}

TEST_F(UdpTest, MulticastOnLoopbackJoinsAndLeaves) {
    UdpRecorder r;
    auto sock = makeUdp(r);
    const uint16_t port = freePortOnBothFamilies();
    Error error;
    EXPECT_FALSE(sock->joinMulticastGroup("239.1.2.3", "127.0.0.1", &error));
    EXPECT_EQ(error.description, "Must bind a socket before joining a multicast group.");
    ASSERT_TRUE(sock->bindToPort(port, &error)) << error.toString();
    ASSERT_TRUE(sock->joinMulticastGroup("239.1.2.3", "127.0.0.1", &error)) << error.toString();
    ASSERT_TRUE(sock->beginReceiving());

    RawUdp sender;
    in_addr loopback{};
    inet_pton(AF_INET, "127.0.0.1", &loopback);
    ASSERT_EQ(::setsockopt(sender.fd, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback), 0);
    sender.sendTo(address4("239.1.2.3", port), "group");
    ASSERT_TRUE(wait([&] { return r.received.size() == 1; }));
    EXPECT_EQ(r.texts(), std::vector<std::string>{"group"});
    EXPECT_TRUE(sock->leaveMulticastGroup("239.1.2.3", "127.0.0.1", &error)) << error.toString();
    EXPECT_FALSE(sock->leaveMulticastGroup("nonsense", "127.0.0.1", &error));
    EXPECT_EQ(error.description, "Unknown group. Specify valid group IP address.");
}

}  // namespace
}  // namespace quenbril::test
