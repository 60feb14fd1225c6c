#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "foundation/Value.h"
#include "sockets/DispatchSocketPacket.h"

namespace quenbril {

class DispatchSocketPreBuffer;

/// One queued read: everything available, an exact length, or up to and including a terminator
/// (with an optional maximum length).
///
/// A packet that owns its buffer grows it as bytes arrive, never by the wanted length up front,
/// so a huge announced length costs nothing until the bytes come.
class DispatchReadPacket : public DispatchSocketPacket {
  public:
    /// `buffer` null: the packet makes its own (offset 0). `term` empty: not a terminator read.
    DispatchReadPacket(std::shared_ptr<Bytes> buffer, size_t startOffset, size_t maxLength,
                       double timeout, size_t readLength, Bytes term, long tag);

    /// Lengthens the buffer when its free space is below `length`.
    void ensureCapacityForAdditionalDataOfLength(size_t length);
    size_t readLengthForNonTermWithHint(size_t hint) const;
    size_t readLengthForTermWithHint(size_t hint, bool* shouldPreBuffer) const;
    size_t optimalReadLengthWithDefault(size_t defaultValue, bool* shouldPreBuffer) const;
    /// How many pre-buffered bytes to take; `found` is written only when enough bytes exist to
    /// hold the terminator.
    size_t readLengthForTermWithPreBuffer(const DispatchSocketPreBuffer& preBuffer,
                                          bool* found) const;
    /// After `numBytes` new bytes landed after `bytesDone`: -1 when the terminator is not among
    /// them, else the count of bytes that follow it.
    long searchForTermAfterPreBuffering(size_t numBytes) const;

    /// Where the next byte of this read goes.
    uint8_t* writePointer() { return buffer->data() + startOffset + bytesDone; }
    bool isTermRead() const { return !term.empty(); }

    std::shared_ptr<Bytes> buffer;
    size_t startOffset;
    size_t bytesDone = 0;
    size_t maxLength;
    double timeout;
    size_t readLength;
    Bytes term;
    bool bufferOwner;
    size_t originalBufferLength;
    long tag;

  private:
    size_t freeSpace() const { return buffer->size() - (startOffset + bytesDone); }
};

}  // namespace quenbril
