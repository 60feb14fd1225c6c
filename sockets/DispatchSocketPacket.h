#pragma once

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

}  // namespace quenbril
