#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "foundation/Value.h"

namespace quenbril {

/// One queued read of a RunLoopSocket: all available bytes, exactly `readLength` bytes, or up
/// to and including a terminator (at most `maxLength` bytes when that is set). The length
/// functions decide how much the next stream read takes, so that a terminator read never reads
/// past its terminator, and with pre-buffering reads in chunks and hands back what follows it.
class RunLoopReadPacket {
  public:
    static constexpr size_t kChunk = 256;

    /// `data`: the caller's buffer, or null for one the packet makes and grows.
    RunLoopReadPacket(std::shared_ptr<Bytes> data, size_t startOffset, size_t maxLength,
                      double timeout, size_t readLength, std::optional<Bytes> term, long tag);

    std::shared_ptr<Bytes> buffer;
    size_t startOffset;
    size_t bytesDone = 0;
    size_t maxLength;
    double timeout;
    size_t readLength;
    std::optional<Bytes> term;
    bool bufferOwner;
    size_t originalBufferLength;
    long tag;

    bool isReadAll() const { return readLength == 0 && !term; }
    size_t readLengthForNonTerm() const;
    size_t readLengthForTerm() const;
    size_t prebufferReadLengthForTerm() const;
    /// How many pre-buffer bytes to take, and whether they end with the terminator.
    size_t readLengthForTermWithPreBuffer(const Bytes& preBuffer, bool* found) const;
    /// After a chunk of `bytesJustRead` bytes: how many bytes follow the terminator in the
    /// buffer, or -1 when it was not found.
    long searchForTermAfterPreBuffering(size_t bytesJustRead) const;
    /// Makes room for `count` more bytes after `startOffset` + `bytesDone`.
    void ensureRoom(size_t count);
    uint8_t* writePosition() { return buffer->data() + startOffset + bytesDone; }

  private:
    /// A caller's buffer that has not grown caps a count at the room it has left.
    size_t capToCallerBuffer(size_t count) const;
};

}  // namespace quenbril
