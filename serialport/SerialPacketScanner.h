#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "serialport/SerialBuffer.h"
#include "serialport/SerialPacketDescriptor.h"

namespace quenbril {

/// A descriptor's receive buffer, fed one byte at a time, and the search for the packet that
/// each byte completes: the same packet as the descriptor's packetMatchingAtEndOfBuffer on the
/// buffer, found with bounded work per byte.
///
/// An expression descriptor would otherwise try every tail of its buffer at every byte. Here a
/// tail is followed only while the expression may still match once more bytes come, and at most
/// kMaxOpenTails of them, the newest: a stream that opens more packets than that without
/// finishing any loses the oldest.
class SerialPacketScanner {
  public:
    static constexpr size_t kMaxOpenTails = 16;

    explicit SerialPacketScanner(SerialPacketDescriptor::Ptr descriptor);

    const SerialPacketDescriptor::Ptr& descriptor() const { return descriptor_; }

    /// Appends `byte`; the packet at the end of the buffer, if any.
    std::optional<Bytes> append(uint8_t byte);
    void clear();

  private:
    std::optional<Bytes> expressionPacket();

    SerialPacketDescriptor::Ptr descriptor_;
    SerialBuffer buffer_;
    /// Bytes appended since the last clear.
    uint64_t appended_ = 0;
    /// Where the tails that may still become packets start, counted like appended_, oldest
    /// first.
    std::vector<uint64_t> openTails_;
};

}  // namespace quenbril
