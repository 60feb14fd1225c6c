#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "foundation/Value.h"

namespace quenbril {

/// One queued read of a socket (DispatchSocket or RunLoopSocket): everything available, exactly
/// `readLength` bytes, or up to and including a terminator (at most `maxLength` bytes when that
/// is set). The length functions decide how much the next read takes, so that a terminator read
/// never keeps bytes past its terminator.
///
/// A packet that owns its buffer grows it as bytes arrive, never by the wanted length up front,
/// so a huge announced length costs nothing until the bytes come.
class ReadPacket {
  public:
    /// The chunk a run-loop stream reads when the packet gives no length of its own.
    static constexpr size_t kChunk = 256;

    /// `buffer` null: the packet makes its own (offset 0). `term` empty: not a terminator read.
    ReadPacket(std::shared_ptr<Bytes> buffer, size_t startOffset, size_t maxLength, double timeout,
               size_t readLength, Bytes term, long tag);
    // `buffer` may point into the packet itself.
    ReadPacket(const ReadPacket&) = delete;
    ReadPacket& operator=(const ReadPacket&) = delete;

    bool isTermRead() const { return !term.empty(); }
    bool isReadAll() const { return readLength == 0 && term.empty(); }
    /// Makes room for `count` more bytes after `startOffset` + `bytesDone`.
    void ensureRoom(size_t count);
    /// Where the next byte of this read goes.
    uint8_t* writePointer() { return buffer->data() + startOffset + bytesDone; }

    // Lengths for a descriptor that tells how many bytes wait (`hint`).
    size_t readLengthForNonTermWithHint(size_t hint) const;
    size_t readLengthForTermWithHint(size_t hint, bool* shouldPreBuffer) const;
    size_t optimalReadLengthWithDefault(size_t defaultValue, bool* shouldPreBuffer) const;

    // Lengths for a run-loop stream, read in chunks; capped at a caller's buffer.
    size_t readLengthForNonTerm() const;
    /// Without pre-buffering: only as much as can still complete the terminator.
    size_t readLengthForTerm() const;
    size_t prebufferReadLengthForTerm() const;

    /// How many of the `available` pre-buffered bytes at `pre` to take. `found`: whether they
    /// end with the terminator. Not found, at most up to `maxLength`.
    size_t readLengthForTermWithPreBuffer(const uint8_t* pre, size_t available, bool* found) const;
    /// After `numBytes` new bytes landed at the write pointer (not yet counted in `bytesDone`):
    /// -1 when the terminator is not among them, else the count of bytes that follow it.
    long searchForTermAfterPreBuffering(size_t numBytes) const;

    /// The caller's buffer, or the packet's own (then held by the packet alone: the pointer
    /// does not own it, and is good only while the packet lives).
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
    Bytes ownBuffer_;  // part of the packet: no allocation of its own per read
    size_t freeSpace() const { return buffer->size() - (startOffset + bytesDone); }
    /// A caller's buffer that has not grown caps a count at the room it has left.
    size_t capToCallerBuffer(size_t count) const;
};

}  // namespace quenbril
