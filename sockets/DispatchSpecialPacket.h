#pragma once

#include "foundation/Value.h"
#include "sockets/DispatchSocketPacket.h"

namespace quenbril {

/// The request to switch the stream to TLS; the same packet sits in the read and the write
/// queue, so the switch happens once everything queued before it has been read and written.
class DispatchSpecialPacket : public DispatchSocketPacket {
  public:
    explicit DispatchSpecialPacket(Dictionary settings)
        : DispatchSocketPacket(Kind::Special), tlsSettings(std::move(settings)) {}

    Dictionary tlsSettings;
};

}  // namespace quenbril
