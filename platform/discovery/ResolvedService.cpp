#include "platform/discovery/ResolvedService.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace quenbril {

Bytes makeSocketAddress4(const uint8_t* ipv4, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    std::memcpy(&address.sin_addr, ipv4, 4);
    const auto* p = reinterpret_cast<const uint8_t*>(&address);
    return Bytes(p, p + sizeof address);
}

Bytes makeSocketAddress6(const uint8_t* ipv6, uint16_t port, uint32_t interfaceIndex) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    std::memcpy(&address.sin6_addr, ipv6, 16);
    // A link-local address means nothing without its interface: the connect would fail (or go
    // out of the wrong one) on a host with more than one.
    bool linkLocal = ipv6[0] == 0xfe && (ipv6[1] & 0xc0) == 0x80;
    address.sin6_scope_id = linkLocal ? interfaceIndex : 0;
    const auto* p = reinterpret_cast<const uint8_t*>(&address);
    return Bytes(p, p + sizeof address);
}

namespace {

uint16_t socketAddressPort(const Bytes& address) {
    sockaddr_in6 any{};  // the port sits at the same place in both families
    if (address.size() < sizeof(sockaddr_in)) return 0;
    std::memcpy(&any, address.data(), std::min(address.size(), sizeof any));
    return ntohs(any.sin6_port);
}

}  // namespace

std::string socketAddressHost(const Bytes& address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.size() == sizeof(sockaddr_in)) {
        sockaddr_in in{};
        std::memcpy(&in, address.data(), sizeof in);
        if (in.sin_family == AF_INET && inet_ntop(AF_INET, &in.sin_addr, text, sizeof text))
            return text;
    } else if (address.size() == sizeof(sockaddr_in6)) {
        sockaddr_in6 in6{};
        std::memcpy(&in6, address.data(), sizeof in6);
        if (in6.sin6_family == AF_INET6 && inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text))
            return text;
    }
    return {};
}

std::string describeAddresses(const std::vector<Bytes>& addresses) {
    std::string text;
    for (const Bytes& address : addresses) {
        const std::string host = socketAddressHost(address);
        if (host.empty()) continue;
        if (!text.empty()) text += ", ";
        text += host + ":" + std::to_string(socketAddressPort(address));
    }
    return text;
}

}  // namespace quenbril
