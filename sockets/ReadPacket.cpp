#include "sockets/ReadPacket.h"

#include <algorithm>
#include <cstring>

namespace quenbril {

ReadPacket::ReadPacket(std::shared_ptr<Bytes> callerBuffer, size_t offset, size_t maxLen,
                       double timeoutSeconds, size_t length, Bytes terminator, long packetTag)
    : buffer(std::move(callerBuffer)),
      startOffset(offset),
      maxLength(maxLen),
      timeout(timeoutSeconds),
      readLength(length),
      term(std::move(terminator)),
      bufferOwner(!buffer),
      originalBufferLength(buffer ? buffer->size() : 0),
      tag(packetTag) {
    if (!buffer) {
        buffer = std::shared_ptr<Bytes>(std::shared_ptr<Bytes>(), &ownBuffer_);
        startOffset = 0;
    }
}

void ReadPacket::ensureRoom(size_t count) {
    size_t space = freeSpace();
    if (space < count) buffer->resize(buffer->size() + (count - space));
}

size_t ReadPacket::readLengthForNonTermWithHint(size_t hint) const {
    if (readLength > 0) return std::min(readLength - bytesDone, hint);
    if (maxLength > 0) return std::min(maxLength - bytesDone, hint);
    return hint;
}

size_t ReadPacket::readLengthForTermWithHint(size_t hint, bool* shouldPreBuffer) const {
    size_t result = maxLength > 0 ? std::min(maxLength - bytesDone, hint) : hint;
    if (shouldPreBuffer) *shouldPreBuffer = freeSpace() < result;
    return result;
}

size_t ReadPacket::optimalReadLengthWithDefault(size_t defaultValue, bool* shouldPreBuffer) const {
    if (readLength > 0) {
        if (shouldPreBuffer) *shouldPreBuffer = false;
        return std::min(readLength - bytesDone, defaultValue);
    }
    return readLengthForTermWithHint(defaultValue, shouldPreBuffer);
}

size_t ReadPacket::capToCallerBuffer(size_t count) const {
    if (bufferOwner || buffer->size() != originalBufferLength) return count;
    size_t used = startOffset + bytesDone;
    size_t room = buffer->size() > used ? buffer->size() - used : 0;
    return room != 0 ? std::min(count, room) : count;
}

size_t ReadPacket::readLengthForNonTerm() const {
    size_t count;
    if (readLength > 0) {
        count = readLength - bytesDone;
    } else {
        count = kChunk;
        if (maxLength > 0) count = std::min(count, maxLength - bytesDone);
    }
    return capToCallerBuffer(count);
}

size_t ReadPacket::readLengthForTerm() const {
    size_t length = term.size();
    size_t count = length;
    if (bytesDone > 0 && length > 1) {
        // The longest run at the end of the bytes read that begins the terminator: only the
        // rest of the terminator can follow without reading past it.
        const uint8_t* data = buffer->data() + startOffset;
        size_t position = bytesDone >= length ? bytesDone - length + 1 : 0;
        size_t run = std::min(length - 1, bytesDone);
        for (; run > 0; --run, ++position) {
            if (std::memcmp(data + position, term.data(), run) == 0) break;
        }
        count = length - run;
    }
    if (maxLength > 0) count = std::min(count, maxLength - bytesDone);
    return capToCallerBuffer(count);
}

size_t ReadPacket::prebufferReadLengthForTerm() const {
    size_t count = kChunk;
    if (maxLength > 0) count = std::min(count, maxLength - bytesDone);
    return capToCallerBuffer(count);
}

size_t ReadPacket::readLengthForTermWithPreBuffer(const uint8_t* pre, size_t available,
                                                  bool* found) const {
    *found = false;
    const size_t termLength = term.size();
    if (bytesDone + available < termLength) return available;

    size_t maxScan = available;
    if (maxLength > 0) maxScan = std::min(maxScan, maxLength - bytesDone);

    // The terminator may start in the bytes already read and end in the pre-buffer: compare
    // the last `kept` packet bytes followed by the first pre-buffer bytes, dropping the oldest
    // packet byte at each step; then scan the pre-buffer alone.
    const uint8_t* packetBytes = buffer->data() + startOffset;
    size_t kept = std::min(bytesDone, termLength - 1);
    size_t packetIndex = bytesDone - kept;
    size_t preIndex = 0;
    long loops = static_cast<long>(kept + maxScan) - static_cast<long>(termLength) + 1;
    for (long i = 0; i < loops; ++i) {
        if (kept > 0) {
            if (std::memcmp(packetBytes + packetIndex, term.data(), kept) == 0 &&
                std::memcmp(pre, term.data() + kept, termLength - kept) == 0) {
                *found = true;
                return termLength - kept;
            }
            ++packetIndex;
            --kept;
        } else {
            if (std::memcmp(pre + preIndex, term.data(), termLength) == 0) {
                *found = true;
                return preIndex + termLength;
            }
            ++preIndex;
        }
    }
    return maxScan;
}

long ReadPacket::searchForTermAfterPreBuffering(size_t numBytes) const {
    const size_t termLength = term.size();
    size_t i = bytesDone >= termLength ? bytesDone - termLength + 1 : 0;
    const uint8_t* packetBytes = buffer->data() + startOffset;
    while (i + termLength <= bytesDone + numBytes) {
        if (std::memcmp(packetBytes + i, term.data(), termLength) == 0) {
            return static_cast<long>(bytesDone + numBytes - (i + termLength));
        }
        ++i;
    }
    return -1;
}

}  // namespace quenbril
