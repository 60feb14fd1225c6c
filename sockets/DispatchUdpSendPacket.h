#pragma once

#include <optional>
#include <vector>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// One queued datagram with its destination, found by lookup or given.
class DispatchUdpSendPacket {
  public:
    DispatchUdpSendPacket(std::shared_ptr<const Bytes> data, double timeout, long tag)
        : buffer(std::move(data)), timeout(timeout), tag(tag) {}

    std::shared_ptr<const Bytes> buffer;
    double timeout;  // seconds; negative: none
    long tag;
    bool resolveInProgress = false;
    bool filterInProgress = false;
    std::vector<Bytes> resolvedAddresses;
    std::optional<Error> resolveError;
    Bytes address;  // the chosen destination
    int addressFamily = 0;
};

}  // namespace quenbril
