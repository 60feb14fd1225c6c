#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// One queued receive request of a RunLoopUdpSocket, and the datagram it holds while the
/// delegate decides whether to take it.
struct RunLoopReceivePacket {
    RunLoopReceivePacket(double timeoutSeconds, long packetTag)
        : timeout(timeoutSeconds), tag(packetTag) {}

    /// Seconds; negative for none.
    double timeout;
    long tag;
    std::optional<Bytes> buffer;
    std::optional<std::string> host;
    uint16_t port = 0;
};

}  // namespace quenbril
