// DispatchUdpSocket: making the BSD sockets, binding, connecting, multicast membership, the
// options, and the local and peer address caches.

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "foundation/dispatch/DescriptorSource.h"
#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchSocket.h"
#include "sockets/DispatchUdpConnectPacket.h"
#include "sockets/DispatchUdpSendPacket.h"
#include "sockets/DispatchUdpSocket.h"

namespace quenbril {

namespace {

Bytes bytesOf(const void* address, size_t length) {
    const auto* p = static_cast<const uint8_t*>(address);
    return Bytes(p, p + length);
}

}  // namespace

// ---- making and closing the sockets ----

int DispatchUdpSocket::createSocket(int domain, Error* error) {
    int fd = ::socket(domain, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error) *error = Error::fromErrno("Error in socket() function");
        return -1;
    }
    auto fail = [&](const char* reason) {
        if (error) *error = Error::fromErrno(reason);
        ::close(fd);
        return -1;
    };
    if (::fcntl(fd, F_SETFL, O_NONBLOCK) == -1) {
        return fail("Error enabling non-blocking IO on socket (fcntl)");
    }
    int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == -1) {
        return fail("Error enabling address reuse (setsockopt)");
    }
    // Both families may share a port (a "localhost" bind): the IPv6 socket takes IPv6 only.
    // Sends use MSG_NOSIGNAL, so no socket option is needed against SIGPIPE.
    if (domain == AF_INET6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) == -1) {
        return fail("Error enabling IPv6 only (setsockopt)");
    }
    return fd;
}

bool DispatchUdpSocket::createSockets(bool useIPv4, bool useIPv6, Error* error) {
    int fd4 = -1, fd6 = -1;
    if (useIPv4) {
        fd4 = createSocket(AF_INET, error);
        if (fd4 == -1) return false;
    }
    if (useIPv6) {
        fd6 = createSocket(AF_INET6, error);
        if (fd6 == -1) {
            if (fd4 != -1) ::close(fd4);
            return false;
        }
    }
    socket4_.fd = fd4;
    socket6_.fd = fd6;
    if (fd4 != -1) setupSources(true);
    if (fd6 != -1) setupSources(false);
    flags_ |= flagDidCreateSockets;
    return true;
}

bool DispatchUdpSocket::createSockets(Error* error) {
    return createSockets(!(config_ & configIPv4Disabled), !(config_ & configIPv6Disabled), error);
}

void DispatchUdpSocket::closeSocket(bool ipv4) {
    Family& f = family(ipv4);
    if (f.fd == -1) return;
    // The sources close the descriptor once their cancels are over (also of a suspended source).
    for (auto* source : {&f.sendSource, &f.receiveSource}) {
        if (*source) {
            (*source)->cancel();
            source->reset();
        }
    }
    f.fd = -1;
    f.bytesAvailable = 0;
    f.cachedLocalAddress.reset();
    flags_ &=
        ipv4 ? ~(flagSock4CanAcceptBytes | flagSend4SourceSuspended | flagReceive4SourceSuspended)
             : ~(flagSock6CanAcceptBytes | flagSend6SourceSuspended | flagReceive6SourceSuspended);
}

void DispatchUdpSocket::closeSockets() {
    closeSocket(true);
    closeSocket(false);
    flags_ &= ~flagDidCreateSockets;
}

// ---- addresses ----

void DispatchUdpSocket::convertInterfaceDescription(const std::string& interface, uint16_t port,
                                                    Bytes* address4, Bytes* address6) const {
    // The TCP socket's helper: "" for any, "localhost"/"loopback" without the resolver, else
    // the first address of each family whose interface name or address text matches.
    DispatchSocket::getInterfaceAddress(address4, address6, interface, port);
}

void DispatchUdpSocket::convertNumericHost(const std::string& host, uint16_t port, Bytes* address4,
                                           Bytes* address6) {
    address4->clear();
    address6->clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* results = nullptr;
    std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &results) != 0) return;
    for (addrinfo* r = results; r; r = r->ai_next) {
        if (r->ai_family == AF_INET && address4->empty()) {
            *address4 = bytesOf(r->ai_addr, r->ai_addrlen);
        } else if (r->ai_family == AF_INET6 && address6->empty()) {
            *address6 = bytesOf(r->ai_addr, r->ai_addrlen);
        }
    }
    freeaddrinfo(results);
}

void DispatchUdpSocket::asyncResolveHost(
    const std::optional<std::string>& host, uint16_t port,
    std::function<void(std::vector<Bytes>, std::optional<Error>)> done) {
    if (!host) {
        Error error =
            badParamError("The host param is nil. Should be domain name or IP address string.");
        runAsync([done, error] { done({}, error); });
        return;
    }
    // The TCP socket's lookup: "localhost" and "loopback" need no resolver; a name with no
    // usable address fails with the portable EAI_FAIL.
    Resolver resolver = resolver_ ? resolver_ : Resolver(&DispatchSocket::lookupHost);
    std::weak_ptr<DispatchUdpSocket> weak = weak_from_this();
    dispatch::Queue::global()->async([weak, resolver, host = *host, port, done] {
        Error error;
        std::optional<std::vector<Bytes>> addresses = resolver(host, port, &error);
        std::optional<Error> failure;
        if (!addresses) failure = error;
        if (auto self = weak.lock()) {
            self->runAsync([done, list = addresses.value_or(std::vector<Bytes>{}), failure] {
                done(list, failure);
            });
        }
    });
}

int DispatchUdpSocket::getAddress(Bytes* address, Error* error,
                                  const std::vector<Bytes>& addresses) const {
    bool has4 = false, has6 = false;
    for (const Bytes& a : addresses) {
        int f = familyFromAddress(a);
        has4 |= f == AF_INET;
        has6 |= f == AF_INET6;
    }
    const char* refusal = nullptr;
    if ((config_ & configIPv4Disabled) && !has6) {
        refusal = "IPv4 has been disabled and DNS lookup found no IPv6 address(es).";
    } else if ((config_ & configIPv6Disabled) && !has4) {
        refusal = "IPv6 has been disabled and DNS lookup found no IPv4 address(es).";
    } else if ((flags_ & flagIPv4Deactivated) && !has6) {
        refusal =
            "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 "
            "address(es).";
    } else if ((flags_ & flagIPv6Deactivated) && !has4) {
        refusal =
            "IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 "
            "address(es).";
    }
    if (refusal) {
        if (error) *error = otherError(refusal);
        return 0;
    }
    const Bytes* first4 = nullptr;
    const Bytes* first6 = nullptr;
    for (const Bytes& a : addresses) {
        int f = familyFromAddress(a);
        if (f == AF_INET && !first4) first4 = &a;
        if (f == AF_INET6 && !first6) first6 = &a;
    }
    const bool firstIsIPv4 = addresses.empty() || familyFromAddress(addresses.front()) == AF_INET;
    bool useIPv4;
    if (((config_ & configPreferIPv4) && first4) || !first6) {
        useIPv4 = true;
    } else if ((config_ & configPreferIPv6) || !first4 || !firstIsIPv4) {
        useIPv4 = false;
    } else {
        useIPv4 = true;
    }
    const Bytes* chosen = useIPv4 ? first4 : first6;
    if (!chosen) {
        // Neither family (an empty list): nothing to choose.
        if (error) *error = otherError("DNS lookup found no address(es).");
        return 0;
    }
    *address = *chosen;
    return useIPv4 ? AF_INET : AF_INET6;
}

// ---- binding ----

bool DispatchUdpSocket::preBind(Error* error) const {
    if (!preOp(error)) return false;
    const char* refusal = nullptr;
    if (flags_ & flagDidBind) {
        refusal = "Cannot bind a socket more than once.";
    } else if (flags_ & (flagConnecting | flagDidConnect)) {
        refusal = "Cannot bind after connecting. If needed, bind first, then connect.";
    } else if ((config_ & configIPv4Disabled) && (config_ & configIPv6Disabled)) {
        refusal = "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.";
    }
    if (refusal) {
        if (error) *error = badConfigError(refusal);
        return false;
    }
    return true;
}

bool DispatchUdpSocket::bindSockets(const Bytes& address4, const Bytes& address6, Error* error) {
    const bool use4 = !address4.empty();
    const bool use6 = !address6.empty();
    if (!(flags_ & flagDidCreateSockets) && !createSockets(use4, use6, error)) return false;
    auto bindOne = [&](int fd, const Bytes& address) {
        return fd != -1 && ::bind(fd, reinterpret_cast<const sockaddr*>(address.data()),
                                  static_cast<socklen_t>(address.size())) == 0;
    };
    if ((use4 && !bindOne(socket4_.fd, address4)) || (use6 && !bindOne(socket6_.fd, address6))) {
        Error failure = Error::fromErrno("Error in bind() function");
        // The sockets go with the failed bind: a retry makes them anew, and receiving on this
        // unbound socket is refused as it should be.
        closeSockets();
        if (error) *error = failure;
        return false;
    }
    flags_ |= flagDidBind;
    if (!use4) flags_ |= flagIPv4Deactivated;
    if (!use6) flags_ |= flagIPv6Deactivated;
    return true;
}

bool DispatchUdpSocket::bindToPort(uint16_t port, Error* error) {
    return bindToPort(port, std::string(), error);
}

bool DispatchUdpSocket::bindToPort(uint16_t port, const std::string& interface, Error* error) {
    bool result = false;
    Error failure;
    runSync([&] {
        if (!preBind(&failure)) return;
        Bytes address4, address6;
        convertInterfaceDescription(interface, port, &address4, &address6);
        const bool disabled4 = config_ & configIPv4Disabled;
        const bool disabled6 = config_ & configIPv6Disabled;
        if (address4.empty() && address6.empty()) {
            failure = badParamError(
                "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP "
                "address.");
            return;
        }
        if (disabled4 && address6.empty()) {
            failure = badParamError(
                "IPv4 has been disabled and specified interface doesn't support IPv6.");
            return;
        }
        if (disabled6 && address4.empty()) {
            failure = badParamError(
                "IPv6 has been disabled and specified interface doesn't support IPv4.");
            return;
        }
        if (disabled4) address4.clear();
        if (disabled6) address6.clear();
        result = bindSockets(address4, address6, &failure);
    });
    if (error) *error = result ? Error{} : failure;
    return result;
}

bool DispatchUdpSocket::bindToAddress(const Bytes& address, Error* error) {
    bool result = false;
    Error failure;
    runSync([&] {
        if (!preBind(&failure)) return;
        int f = familyFromAddress(address);
        if (f == 0) {
            failure = badParamError("A valid IPv4 or IPv6 address was not given");
            return;
        }
        if (f == AF_INET && (config_ & configIPv4Disabled)) {
            failure = badParamError("IPv4 has been disabled and an IPv4 address was passed.");
            return;
        }
        if (f == AF_INET6 && (config_ & configIPv6Disabled)) {
            failure = badParamError("IPv6 has been disabled and an IPv6 address was passed.");
            return;
        }
        result = f == AF_INET ? bindSockets(address, Bytes{}, &failure)
                              : bindSockets(Bytes{}, address, &failure);
    });
    if (error) *error = result ? Error{} : failure;
    return result;
}

// ---- connecting ----

bool DispatchUdpSocket::preConnect(Error* error) const {
    if (!preOp(error)) return false;
    const char* refusal = nullptr;
    if (flags_ & (flagConnecting | flagDidConnect)) {
        refusal = "Cannot connect a socket more than once.";
    } else if ((config_ & configIPv4Disabled) && (config_ & configIPv6Disabled)) {
        refusal = "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.";
    }
    if (refusal) {
        if (error) *error = badConfigError(refusal);
        return false;
    }
    return true;
}

bool DispatchUdpSocket::connectToHost(const std::optional<std::string>& host, uint16_t port,
                                      Error* error) {
    bool result = false;
    Error failure;
    runSync([&] {
        if (!preConnect(&failure)) return;
        if (!host) {
            failure =
                badParamError("The host param is nil. Should be domain name or IP address string.");
            return;
        }
        if (!(flags_ & flagDidCreateSockets) && !createSockets(&failure)) return;
        auto packet = std::make_shared<DispatchUdpConnectPacket>();
        packet->resolveInProgress = true;
        asyncResolveHost(host, port,
                         [this, packet](std::vector<Bytes> addresses, std::optional<Error> e) {
                             packet->resolveInProgress = false;
                             packet->addresses = std::move(addresses);
                             packet->error = std::move(e);
                             maybeConnect();
                         });
        flags_ |= flagConnecting;
        sendQueue_.push_back(packet);
        maybeDequeueSend();
        result = true;
    });
    if (error) *error = result ? Error{} : failure;
    return result;
}

bool DispatchUdpSocket::connectToAddress(const std::optional<Bytes>& address, Error* error) {
    bool result = false;
    Error failure;
    runSync([&] {
        if (!preConnect(&failure)) return;
        if (!address) {
            failure = badParamError("The address param is nil. Should be a valid address.");
            return;
        }
        if (!(flags_ & flagDidCreateSockets) && !createSockets(&failure)) return;
        auto packet = std::make_shared<DispatchUdpConnectPacket>();
        packet->addresses.push_back(*address);
        flags_ |= flagConnecting;
        sendQueue_.push_back(packet);
        maybeDequeueSend();
        result = true;
    });
    if (error) *error = result ? Error{} : failure;
    return result;
}

void DispatchUdpSocket::maybeConnect() {
    if (!currentSend_ ||
        !std::holds_alternative<std::shared_ptr<DispatchUdpConnectPacket>>(*currentSend_)) {
        return;
    }
    auto packet = std::get<std::shared_ptr<DispatchUdpConnectPacket>>(*currentSend_);
    if (packet->resolveInProgress) return;
    std::optional<Error> failure = packet->error;
    Bytes address;
    int chosen = 0;
    if (!failure) {
        Error e;
        chosen = getAddress(&address, &e, packet->addresses);
        if (chosen == 0) failure = e;
    }
    if (!failure) {
        Error e;
        if (!connectWithAddress(address, chosen, &e)) failure = e;
    }
    if (failure) {
        Error e = *failure;
        notifyDelegate([e](DispatchUdpSocketDelegate& d, DispatchUdpSocket* sock) {
            d.udpSocketDidNotConnect(sock, e);
        });
    } else {
        notifyDelegate([address](DispatchUdpSocketDelegate& d, DispatchUdpSocket* sock) {
            d.udpSocketDidConnectToAddress(sock, address);
        });
    }
    flags_ &= ~flagConnecting;
    endCurrentSend();
    maybeDequeueSend();
}

bool DispatchUdpSocket::connectWithAddress(const Bytes& address, int addressFamily, Error* error) {
    const bool ipv4 = addressFamily == AF_INET;
    int fd = family(ipv4).fd;
    if (fd == -1 || ::connect(fd, reinterpret_cast<const sockaddr*>(address.data()),
                              static_cast<socklen_t>(address.size())) != 0) {
        if (error) *error = Error::fromErrno("Error in connect() function");
        return false;
    }
    closeSocket(!ipv4);
    flags_ |= ipv4 ? flagIPv6Deactivated : flagIPv4Deactivated;
    flags_ |= flagDidBind | flagDidConnect;
    cachedConnectedAddress_ = address;
    cachedConnectedFamily_ = addressFamily;
    return true;
}

bool DispatchUdpSocket::isConnectedToAddress(const Bytes& address) const {
    if (!cachedConnectedAddress_) return false;
    int f = familyFromAddress(address);
    if (f != cachedConnectedFamily_) return false;
    const Bytes& peer = *cachedConnectedAddress_;
    if (f == AF_INET) {
        sockaddr_in a, b;
        std::memcpy(&a, address.data(), sizeof a);
        std::memcpy(&b, peer.data(), sizeof b);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    if (f == AF_INET6) {
        sockaddr_in6 a, b;
        std::memcpy(&a, address.data(), sizeof a);
        std::memcpy(&b, peer.data(), sizeof b);
        return a.sin6_port == b.sin6_port &&
               std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
    }
    return false;
}

// ---- multicast ----

bool DispatchUdpSocket::preJoin(Error* error) const {
    if (!preOp(error)) return false;
    if (!(flags_ & flagDidBind)) {
        if (error) *error = badConfigError("Must bind a socket before joining a multicast group.");
        return false;
    }
    if (flags_ & (flagConnecting | flagDidConnect)) {
        if (error) *error = badConfigError("Cannot join a multicast group if connected.");
        return false;
    }
    return true;
}

unsigned DispatchUdpSocket::indexOfInterfaceAddr6(const Bytes& address) {
    if (address.size() != sizeof(sockaddr_in6)) return 0;
    sockaddr_in6 wanted;
    std::memcpy(&wanted, address.data(), sizeof wanted);
    unsigned result = 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    for (ifaddrs* i = list; i && result == 0; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET6) continue;
        const auto* a = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
        if (std::memcmp(&a->sin6_addr, &wanted.sin6_addr, sizeof wanted.sin6_addr) == 0) {
            result = if_nametoindex(i->ifa_name);
        }
    }
    freeifaddrs(list);
    return result;
}

bool DispatchUdpSocket::performMulticastRequest(bool join, const std::string& group,
                                                const std::string& interface, Error* error) {
    if (!preJoin(error)) return false;
    Bytes group4, group6, interface4, interface6;
    convertNumericHost(group, 0, &group4, &group6);
    if (group4.empty() && group6.empty()) {
        if (error) *error = badParamError("Unknown group. Specify valid group IP address.");
        return false;
    }
    convertInterfaceDescription(interface, 0, &interface4, &interface6);
    if (interface4.empty() && interface6.empty()) {
        if (error) {
            *error = badParamError(
                "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP "
                "address.");
        }
        return false;
    }
    if (socket4_.fd != -1 && !group4.empty() && !interface4.empty()) {
        ip_mreq request{};
        std::memcpy(&request.imr_multiaddr, group4.data() + offsetof(sockaddr_in, sin_addr),
                    sizeof request.imr_multiaddr);
        std::memcpy(&request.imr_interface, interface4.data() + offsetof(sockaddr_in, sin_addr),
                    sizeof request.imr_interface);
        if (::setsockopt(socket4_.fd, IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP,
                         &request, sizeof request) != 0) {
            if (error) *error = Error::fromErrno("Error in setsockopt() function");
            return false;
        }
        closeSocket(false);
        return true;
    }
    if (socket6_.fd != -1 && !group6.empty() && !interface6.empty()) {
        ipv6_mreq request{};
        std::memcpy(&request.ipv6mr_multiaddr, group6.data() + offsetof(sockaddr_in6, sin6_addr),
                    sizeof request.ipv6mr_multiaddr);
        request.ipv6mr_interface = indexOfInterfaceAddr6(interface6);
        if (::setsockopt(socket6_.fd, IPPROTO_IPV6, join ? IPV6_JOIN_GROUP : IPV6_LEAVE_GROUP,
                         &request, sizeof request) != 0) {
            if (error) *error = Error::fromErrno("Error in setsockopt() function");
            return false;
        }
        closeSocket(true);
        return true;
    }
    if (error)
        *error = badParamError("Socket, group, and interface do not have matching IP versions");
    return false;
}

bool DispatchUdpSocket::joinMulticastGroup(const std::string& group, Error* error) {
    return joinMulticastGroup(group, std::string(), error);
}

bool DispatchUdpSocket::joinMulticastGroup(const std::string& group, const std::string& interface,
                                           Error* error) {
    return multicastRequest(true, group, interface, error);
}

bool DispatchUdpSocket::leaveMulticastGroup(const std::string& group, Error* error) {
    return leaveMulticastGroup(group, std::string(), error);
}

bool DispatchUdpSocket::leaveMulticastGroup(const std::string& group, const std::string& interface,
                                            Error* error) {
    return multicastRequest(false, group, interface, error);
}

bool DispatchUdpSocket::multicastRequest(bool join, const std::string& group,
                                         const std::string& interface, Error* error) {
    bool result = false;
    Error failure;
    runSync([&] { result = performMulticastRequest(join, group, interface, &failure); });
    if (error) *error = result ? Error{} : failure;
    return result;
}

// ---- options ----

bool DispatchUdpSocket::enableReusePort(bool flag, Error* error) {
    bool result = false;
    Error failure;
    runSync([&] {
        if (!preOp(&failure)) return;
        if (!(flags_ & flagDidCreateSockets) && !createSockets(&failure)) return;
        int value = flag ? 1 : 0;
        // Any socket that refuses makes the whole answer NO.
        for (int fd : {socket4_.fd, socket6_.fd}) {
            if (fd == -1) continue;
            if (::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &value, sizeof value) != 0) {
                failure = Error::fromErrno("Error in setsockopt() function");
                result = false;
                return;
            }
            result = true;
        }
    });
    if (error) *error = result ? Error{} : failure;
    return result;
}

bool DispatchUdpSocket::enableBroadcast(bool flag, Error* error) {
    bool result = false;
    Error failure;
    runSync([&] {
        if (!preOp(&failure)) return;
        if (!(flags_ & flagDidCreateSockets) && !createSockets(&failure)) return;
        if (socket4_.fd == -1) return;  // NO, without an error
        int value = flag ? 1 : 0;
        if (::setsockopt(socket4_.fd, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
            failure = Error::fromErrno("Error in setsockopt() function");
            return;
        }
        result = true;
    });
    if (error) *error = result ? Error{} : failure;
    return result;
}

// ---- address caches ----

std::optional<Bytes> DispatchUdpSocket::cachedLocalAddress(bool ipv4) {
    Family& f = family(ipv4);
    if (!f.cachedLocalAddress && (flags_ & flagDidBind) && f.fd != -1) {
        sockaddr_in6 storage{};
        socklen_t length = ipv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        if (::getsockname(f.fd, reinterpret_cast<sockaddr*>(&storage), &length) == 0) {
            f.cachedLocalAddress = bytesOf(&storage, length);
        }
    }
    return f.cachedLocalAddress;
}

std::optional<Bytes> DispatchUdpSocket::localAddress_IPv4() const {
    std::optional<Bytes> result;
    runSync([&] { result = const_cast<DispatchUdpSocket*>(this)->cachedLocalAddress(true); });
    return result;
}

std::optional<Bytes> DispatchUdpSocket::localAddress_IPv6() const {
    std::optional<Bytes> result;
    runSync([&] { result = const_cast<DispatchUdpSocket*>(this)->cachedLocalAddress(false); });
    return result;
}

std::optional<Bytes> DispatchUdpSocket::localAddress() const {
    std::optional<Bytes> result;
    runSync([&] {
        auto* self = const_cast<DispatchUdpSocket*>(this);
        result = self->cachedLocalAddress(socket4_.fd != -1);
    });
    return result;
}

std::optional<std::string> DispatchUdpSocket::localHost_IPv4() const {
    auto a = localAddress_IPv4();
    return a ? hostFromAddress(*a) : std::nullopt;
}

std::optional<std::string> DispatchUdpSocket::localHost_IPv6() const {
    auto a = localAddress_IPv6();
    return a ? hostFromAddress(*a) : std::nullopt;
}

std::optional<std::string> DispatchUdpSocket::localHost() const {
    auto a = localAddress();
    return a ? hostFromAddress(*a) : std::nullopt;
}

uint16_t DispatchUdpSocket::localPort_IPv4() const {
    auto a = localAddress_IPv4();
    return a ? portFromAddress(*a) : 0;
}

uint16_t DispatchUdpSocket::localPort_IPv6() const {
    auto a = localAddress_IPv6();
    return a ? portFromAddress(*a) : 0;
}

uint16_t DispatchUdpSocket::localPort() const {
    auto a = localAddress();
    return a ? portFromAddress(*a) : 0;
}

std::optional<Bytes> DispatchUdpSocket::connectedAddress() const {
    std::optional<Bytes> result;
    runSync([&] {
        if (flags_ & flagDidConnect) result = cachedConnectedAddress_;
    });
    return result;
}

std::optional<std::string> DispatchUdpSocket::connectedHost() const {
    auto a = connectedAddress();
    return a ? hostFromAddress(*a) : std::nullopt;
}

uint16_t DispatchUdpSocket::connectedPort() const {
    auto a = connectedAddress();
    return a ? portFromAddress(*a) : 0;
}

}  // namespace quenbril
