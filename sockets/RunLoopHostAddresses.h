#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// The first IPv4 and the first IPv6 socket address of a host, as the run-loop sockets bind,
/// listen and send: an empty host is any address for a bind (and no address for a send),
/// "localhost" and "loopback" are the loopback addresses, anything else goes to the resolver.
struct RunLoopHostAddresses {
    std::optional<Bytes> address4;
    std::optional<Bytes> address6;

    /// The resolver's code (this system's numbering), or 0. `socketType` is SOCK_DGRAM or
    /// SOCK_STREAM; `passive` marks a bind or listen.
    int convert(const std::string& host, uint16_t port, bool passive, int socketType);
};

}  // namespace quenbril
