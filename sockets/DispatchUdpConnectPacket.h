#pragma once

#include <optional>
#include <vector>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// A connect request: it waits in the send queue behind the datagrams queued before it.
class DispatchUdpConnectPacket {
  public:
    bool resolveInProgress = false;
    std::vector<Bytes> addresses;
    std::optional<Error> error;
};

}  // namespace quenbril
