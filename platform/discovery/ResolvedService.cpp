#include "platform/discovery/ResolvedService.h"

#include <arpa/inet.h>
#include <netinet/in.h>

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

}  // namespace quenbril
