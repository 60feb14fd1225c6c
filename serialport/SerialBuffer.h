#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "foundation/Value.h"

namespace quenbril {

/// A receive buffer of bounded length: bytes beyond the maximum push the oldest ones out.
class SerialBuffer {
  public:
    explicit SerialBuffer(uint64_t maximumLength);
    SerialBuffer() = delete;

    uint64_t maximumLength() const { return maximumLength_; }

    void appendData(std::span<const uint8_t> bytes);
    void appendByte(uint8_t byte) { appendData({&byte, 1}); }
    /// Empties the buffer.
    void clearBuffer();
    /// The bytes held, oldest first; valid until the buffer next changes.
    std::span<const uint8_t> data() const;

    /// Called after every change of the contents (once per append or clear).
    void setChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }

  private:
    const uint64_t maximumLength_;
    // The contents start at start_; trimmed bytes are dropped from storage_ in bulk, so a full
    // buffer does not move all its bytes for every byte that arrives.
    Bytes storage_;
    size_t start_ = 0;
    std::function<void()> changed_;
};

}  // namespace quenbril
