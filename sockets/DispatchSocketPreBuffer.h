#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quenbril {

/// A growable byte buffer read from the front and written at the back. It holds the bytes a
/// socket read ahead of the current read. Storage is never compacted: both positions go back to
/// the start only when everything has been read, or on reset().
class DispatchSocketPreBuffer {
  public:
    explicit DispatchSocketPreBuffer(size_t capacity);

    /// Grows the storage by the shortfall when fewer than `length` bytes of space remain.
    void ensureCapacityForWrite(size_t length);

    size_t availableBytes() const { return writeOffset_ - readOffset_; }
    const uint8_t* readBuffer() const { return storage_.data() + readOffset_; }
    void didRead(size_t length);

    size_t availableSpace() const { return storage_.size() - writeOffset_; }
    uint8_t* writeBuffer() { return storage_.data() + writeOffset_; }
    void didWrite(size_t length) { writeOffset_ += length; }

    void reset() { readOffset_ = writeOffset_ = 0; }
    size_t capacity() const { return storage_.size(); }

  private:
    std::vector<uint8_t> storage_;
    size_t readOffset_ = 0;
    size_t writeOffset_ = 0;
};

}  // namespace quenbril
