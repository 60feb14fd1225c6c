#pragma once

#include <utility>

#include "foundation/Value.h"

namespace quenbril {

/// What a socket's read and write queues hold: read packets, write packets, and the special
/// packet that switches the stream to TLS (it sits in both queues at once).
class DispatchSocketPacket {
  public:
    enum class Kind { Read, Write, Special };
    explicit DispatchSocketPacket(Kind kind) : kind_(kind) {}
    virtual ~DispatchSocketPacket() = default;
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

/// The request to switch the stream to TLS; the same packet sits in the read and the write
/// queue, so the switch happens once everything queued before it has been read and written.
class DispatchSpecialPacket : public DispatchSocketPacket {
  public:
    DispatchSpecialPacket(Dictionary settings, double timeout)
        : DispatchSocketPacket(Kind::Special), tlsSettings(std::move(settings)), timeout(timeout) {}

    Dictionary tlsSettings;
    double timeout;  // of the handshake; negative: none
};

}  // namespace quenbril
