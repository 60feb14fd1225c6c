#pragma once

#include <cstddef>
#include <memory>

#include "foundation/Value.h"

namespace quenbril {

/// One queued write of a RunLoopSocket. The bytes are shared, not copied: the caller must not
/// change them until the write completes.
struct RunLoopWritePacket {
    RunLoopWritePacket(std::shared_ptr<const Bytes> data, double timeoutSeconds, long packetTag)
        : buffer(std::move(data)), tag(packetTag), timeout(timeoutSeconds) {}

    std::shared_ptr<const Bytes> buffer;
    size_t bytesDone = 0;
    long tag;
    double timeout;
};

}  // namespace quenbril
