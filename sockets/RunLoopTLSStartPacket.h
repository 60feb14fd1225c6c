#pragma once

#include "foundation/Value.h"

namespace quenbril {

/// Marks where TLS begins in both queues of a RunLoopSocket: reads and writes queued after it
/// wait until the handshake is over.
struct RunLoopTLSStartPacket {
    explicit RunLoopTLSStartPacket(Dictionary settings) : tlsSettings(std::move(settings)) {}

    Dictionary tlsSettings;
};

}  // namespace quenbril
