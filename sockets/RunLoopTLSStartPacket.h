#pragma once

#include "foundation/Value.h"

namespace quenbril {

/// Marks where TLS begins in both queues of a RunLoopSocket: reads and writes queued after it
/// wait until the handshake is over, which must end `timeout` seconds after it began (none when
/// negative).
struct RunLoopTLSStartPacket {
    RunLoopTLSStartPacket(Dictionary settings, double timeout)
        : tlsSettings(std::move(settings)), timeout(timeout) {}

    Dictionary tlsSettings;
    double timeout;
};

}  // namespace quenbril
