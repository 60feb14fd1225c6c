#pragma once

#include <cstdint>

#include "foundation/Value.h"

namespace quenbril {

/// One datagram waiting to go out of a RunLoopUdpSocket.
struct RunLoopSendPacket {
    RunLoopSendPacket(Bytes data, Bytes destination, double timeoutSeconds, long packetTag)
        : buffer(std::move(data)),
          address(std::move(destination)),
          timeout(timeoutSeconds),
          tag(packetTag) {}

    Bytes buffer;
    /// The destination's socket address; empty on a connected socket.
    Bytes address;
    /// Seconds; negative for none.
    double timeout;
    long tag;
};

}  // namespace quenbril
