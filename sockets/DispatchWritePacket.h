#pragma once

#include <cstddef>
#include <memory>

#include "foundation/Value.h"
#include "sockets/DispatchSocketPacket.h"

namespace quenbril {

/// One queued write. The packet owns an immutable copy of the bytes (moved in by the caller),
/// so nothing the caller does after queuing can change what is sent.
class DispatchWritePacket : public DispatchSocketPacket {
  public:
    DispatchWritePacket(std::shared_ptr<const Bytes> data, double timeoutSeconds, long packetTag)
        : DispatchSocketPacket(Kind::Write),
          buffer(std::move(data)),
          timeout(timeoutSeconds),
          tag(packetTag) {}

    std::shared_ptr<const Bytes> buffer;
    size_t bytesDone = 0;
    double timeout;
    long tag;
};

}  // namespace quenbril
