// The address side of DispatchSocket: name lookup, interface descriptions, Unix-domain paths,
// and converting socket addresses to text, port and family.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "sockets/DispatchSocket.h"

namespace quenbril {

namespace {

Bytes bytesOf(const void* address, size_t length) {
    const auto* p = static_cast<const uint8_t*>(address);
    return Bytes(p, p + length);
}

int familyOf(const Bytes& address) {
    if (address.size() < sizeof(sa_family_t)) return AF_UNSPEC;
    sa_family_t family;
    std::memcpy(&family, address.data() + offsetof(sockaddr, sa_family), sizeof family);
    return family;
}

Bytes loopback4(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return bytesOf(&a, sizeof a);
}

Bytes loopback6(uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_loopback;
    return bytesOf(&a, sizeof a);
}

}  // namespace

// ---- class operations ----

std::optional<std::vector<Bytes>> DispatchSocket::lookupHost(const std::string& host, uint16_t port,
                                                             Error* error) {
    if (host == "localhost" || host == "loopback") {
        return std::vector<Bytes>{loopback4(port), loopback6(port)};
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* results = nullptr;
    std::string service = std::to_string(port);
    int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &results);
    if (status != 0) {
        if (error) *error = gaiError(status);
        return std::nullopt;
    }
    std::vector<Bytes> addresses;
    for (addrinfo* r = results; r; r = r->ai_next) {
        if ((r->ai_family == AF_INET && r->ai_addrlen == sizeof(sockaddr_in)) ||
            (r->ai_family == AF_INET6 && r->ai_addrlen == sizeof(sockaddr_in6))) {
            addresses.push_back(bytesOf(r->ai_addr, r->ai_addrlen));
        }
    }
    freeaddrinfo(results);
    if (addresses.empty()) {
        if (error) *error = gaiError(EAI_FAIL);
        return std::nullopt;
    }
    if (error) *error = Error{};
    return addresses;
}

std::string DispatchSocket::hostFromSockaddr4(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) return {};
    return text;
}

std::string DispatchSocket::hostFromSockaddr6(const sockaddr_in6& address) {
    char text[INET6_ADDRSTRLEN];
    if (!inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text)) return {};
    return text;
}

uint16_t DispatchSocket::portFromSockaddr4(const sockaddr_in& address) {
    return ntohs(address.sin_port);
}

uint16_t DispatchSocket::portFromSockaddr6(const sockaddr_in6& address) {
    return ntohs(address.sin6_port);
}

std::string DispatchSocket::urlFromSockaddrUN(const sockaddr_un& address) {
    return std::string(address.sun_path, strnlen(address.sun_path, sizeof address.sun_path));
}

bool DispatchSocket::isIPv4Address(const Bytes& address) {
    return address.size() >= sizeof(sockaddr_in) && familyOf(address) == AF_INET;
}

bool DispatchSocket::isIPv6Address(const Bytes& address) {
    return address.size() >= sizeof(sockaddr_in) && familyOf(address) == AF_INET6;
}

bool DispatchSocket::getHost(std::string* host, uint16_t* port, const Bytes& address) {
    return getHost(host, port, nullptr, address);
}

bool DispatchSocket::getHost(std::string* host, uint16_t* port, int* family, const Bytes& address) {
    int f = familyOf(address);
    if (f == AF_INET && address.size() >= sizeof(sockaddr_in)) {
        sockaddr_in a;
        std::memcpy(&a, address.data(), sizeof a);
        if (host) *host = hostFromSockaddr4(a);
        if (port) *port = portFromSockaddr4(a);
        if (family) *family = AF_INET;
        return true;
    }
    if (f == AF_INET6 && address.size() >= sizeof(sockaddr_in6)) {
        sockaddr_in6 a;
        std::memcpy(&a, address.data(), sizeof a);
        if (host) *host = hostFromSockaddr6(a);
        if (port) *port = portFromSockaddr6(a);
        if (family) *family = AF_INET6;
        return true;
    }
    return false;
}

std::optional<std::string> DispatchSocket::hostFromAddress(const Bytes& address) {
    std::string host;
    if (!getHost(&host, nullptr, nullptr, address)) return std::nullopt;
    return host;
}

uint16_t DispatchSocket::portFromAddress(const Bytes& address) {
    uint16_t port = 0;
    if (!getHost(nullptr, &port, nullptr, address)) return 0;
    return port;
}

const Bytes& DispatchSocket::CRLFData() {
    static const Bytes data{0x0D, 0x0A};
    return data;
}

const Bytes& DispatchSocket::CRData() {
    static const Bytes data{0x0D};
    return data;
}

const Bytes& DispatchSocket::LFData() {
    static const Bytes data{0x0A};
    return data;
}

const Bytes& DispatchSocket::ZeroData() {
    static const Bytes data{0x00};
    return data;
}

// ---- interfaces and paths ----

void DispatchSocket::getInterfaceAddress(Bytes* address4, Bytes* address6,
                                         const std::string& description, uint16_t port) {
    Bytes found4, found6;
    std::string interface = description;
    // An IPv6 address text ("::1") holds colons of its own: it names no port.
    in6_addr numeric6;
    const bool isAddress6 = inet_pton(AF_INET6, description.c_str(), &numeric6) == 1;
    size_t colon = isAddress6 ? std::string::npos : description.find(':');
    if (colon != std::string::npos) {
        interface = description.substr(0, colon);
        if (port == 0) {
            std::string portText = description.substr(colon + 1);
            long value = 0;
            bool digits = !portText.empty() && portText.size() <= 6;
            for (char c : portText) {
                if (c < '0' || c > '9') digits = false;
            }
            if (digits) value = std::stol(portText);
            port = (digits && value >= 1 && value <= 65535) ? static_cast<uint16_t>(value) : 0;
        }
    }

    if (interface.empty()) {
        sockaddr_in a4{};
        a4.sin_family = AF_INET;
        a4.sin_port = htons(port);
        a4.sin_addr.s_addr = htonl(INADDR_ANY);
        found4 = bytesOf(&a4, sizeof a4);
        sockaddr_in6 a6{};
        a6.sin6_family = AF_INET6;
        a6.sin6_port = htons(port);
        a6.sin6_addr = in6addr_any;
        found6 = bytesOf(&a6, sizeof a6);
    } else if (interface == "localhost" || interface == "loopback") {
        found4 = loopback4(port);
        found6 = loopback6(port);
    } else {
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) == 0) {
            for (ifaddrs* i = list; i; i = i->ifa_next) {
                if (!i->ifa_addr) continue;
                int family = i->ifa_addr->sa_family;
                if (family == AF_INET && found4.empty()) {
                    sockaddr_in a;
                    std::memcpy(&a, i->ifa_addr, sizeof a);
                    if (interface == i->ifa_name || interface == hostFromSockaddr4(a)) {
                        a.sin_port = htons(port);
                        found4 = bytesOf(&a, sizeof a);
                    }
                } else if (family == AF_INET6 && found6.empty()) {
                    sockaddr_in6 a;
                    std::memcpy(&a, i->ifa_addr, sizeof a);
                    if (interface == i->ifa_name || interface == hostFromSockaddr6(a)) {
                        a.sin6_port = htons(port);
                        found6 = bytesOf(&a, sizeof a);
                    }
                }
            }
            freeifaddrs(list);
        }
    }
    if (address4) *address4 = std::move(found4);
    if (address6) *address6 = std::move(found6);
}

std::optional<Bytes> DispatchSocket::getInterfaceAddressFromUrl(const std::string& path) {
    sockaddr_un a{};
    // A path that does not fit is refused: cutting it would bind or connect to another file.
    if (path.empty() || path.size() >= sizeof a.sun_path) return std::nullopt;
    if (path.find('\0') != std::string::npos) return std::nullopt;
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.data(), path.size());
    return bytesOf(&a, sizeof a);
}

// ---- instance queries ----

std::optional<std::string> DispatchSocket::hostFromFD(int fd, bool peer) {
    auto address = addressFromFD(fd, peer);
    if (!address) return std::nullopt;
    return hostFromAddress(*address);
}

uint16_t DispatchSocket::portFromFD(int fd, bool peer) {
    auto address = addressFromFD(fd, peer);
    return address ? portFromAddress(*address) : 0;
}

std::optional<Bytes> DispatchSocket::addressFromFD(int fd, bool peer) {
    if (fd < 0) return std::nullopt;
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    auto* sa = reinterpret_cast<sockaddr*>(&storage);
    int status = peer ? getpeername(fd, sa, &length) : getsockname(fd, sa, &length);
    if (status < 0) return std::nullopt;
    return bytesOf(&storage, std::min<size_t>(length, sizeof storage));
}

std::optional<std::string> DispatchSocket::connectedHost() const {
    std::optional<std::string> result;
    runSync([&] { result = socket4FD_ >= 0 ? connectedHost4() : connectedHost6(); });
    return result;
}

uint16_t DispatchSocket::connectedPort() const {
    uint16_t result = 0;
    runSync([&] { result = socket4FD_ >= 0 ? connectedPort4() : connectedPort6(); });
    return result;
}

std::optional<std::string> DispatchSocket::connectedUrlFromSocketUN() const {
    auto address = addressFromFD(socketUN_, true);
    if (!address || familyOf(*address) != AF_UNIX) return std::nullopt;
    sockaddr_un a{};
    std::memcpy(&a, address->data(), std::min(address->size(), sizeof a));
    return urlFromSockaddrUN(a);
}

std::optional<std::string> DispatchSocket::connectedUrl() const {
    std::optional<std::string> result;
    runSync([&] { result = connectedUrlFromSocketUN(); });
    return result;
}

std::optional<std::string> DispatchSocket::localHost() const {
    std::optional<std::string> result;
    runSync([&] { result = socket4FD_ >= 0 ? localHost4() : localHost6(); });
    return result;
}

uint16_t DispatchSocket::localPort() const {
    uint16_t result = 0;
    runSync([&] { result = socket4FD_ >= 0 ? localPort4() : localPort6(); });
    return result;
}

std::optional<std::string> DispatchSocket::connectedHost4() const {
    return hostFromFD(socket4FD_, true);
}
std::optional<std::string> DispatchSocket::connectedHost6() const {
    return hostFromFD(socket6FD_, true);
}
uint16_t DispatchSocket::connectedPort4() const { return portFromFD(socket4FD_, true); }
uint16_t DispatchSocket::connectedPort6() const { return portFromFD(socket6FD_, true); }
std::optional<std::string> DispatchSocket::localHost4() const {
    return hostFromFD(socket4FD_, false);
}
std::optional<std::string> DispatchSocket::localHost6() const {
    return hostFromFD(socket6FD_, false);
}
uint16_t DispatchSocket::localPort4() const { return portFromFD(socket4FD_, false); }
uint16_t DispatchSocket::localPort6() const { return portFromFD(socket6FD_, false); }

std::optional<Bytes> DispatchSocket::connectedAddress() const {
    std::optional<Bytes> result;
    runSync([&] {
        if (socket4FD_ >= 0) result = addressFromFD(socket4FD_, true);
        if (socket6FD_ >= 0) result = addressFromFD(socket6FD_, true);
    });
    return result;
}

std::optional<Bytes> DispatchSocket::localAddress() const {
    std::optional<Bytes> result;
    runSync([&] {
        if (socket4FD_ >= 0) result = addressFromFD(socket4FD_, false);
        if (socket6FD_ >= 0) result = addressFromFD(socket6FD_, false);
    });
    return result;
}

}  // namespace quenbril
