#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace quenbril {

/// A service announcement after resolution: where to connect.
struct ResolvedService {
    std::string name;
    /// The announcing host's name ("studio.local").
    std::string hostName;
    /// Host order.
    uint16_t port = 0;
    /// Each a whole `sockaddr_in` (16 bytes) or `sockaddr_in6` (28 bytes) holding the port; an
    /// IPv6 link-local address keeps the index of its interface as its scope id.
    std::vector<Bytes> addresses;
    /// The TXT record's key=value strings (a key without "=" maps to an empty value).
    std::map<std::string, std::string> txt = {};
};

/// The socket address of `ipv4` (4 bytes, network order) and `port` (host order).
Bytes makeSocketAddress4(const uint8_t* ipv4, uint16_t port);
/// The socket address of `ipv6` (16 bytes) and `port`; a link-local address (fe80::/10) gets
/// `interfaceIndex` as its scope id, any other none.
Bytes makeSocketAddress6(const uint8_t* ipv6, uint16_t port, uint32_t interfaceIndex);

/// The host of a socket address as text (dotted IPv4, or IPv6); empty for anything else.
std::string socketAddressHost(const Bytes& address);
/// "host:port, host:port" for the log.
std::string describeAddresses(const std::vector<Bytes>& addresses);

}  // namespace quenbril
