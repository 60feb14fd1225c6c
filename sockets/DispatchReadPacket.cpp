#include "sockets/DispatchReadPacket.h"

#include <algorithm>
#include <cstring>

#include "sockets/DispatchSocketPreBuffer.h"

namespace quenbril {

DispatchReadPacket::DispatchReadPacket(std::shared_ptr<Bytes> callerBuffer, size_t offset,
                                       size_t maxLen, double timeoutSeconds, size_t length,
                                       Bytes terminator, long packetTag)
    : DispatchSocketPacket(Kind::Read),
      startOffset(offset),
      maxLength(maxLen),
      timeout(timeoutSeconds),
      readLength(length),
      term(std::move(terminator)),
      tag(packetTag) {
    if (callerBuffer) {
        buffer = std::move(callerBuffer);
        bufferOwner = false;
        originalBufferLength = buffer->size();
    } else {
        buffer = std::make_shared<Bytes>();
        startOffset = 0;
        bufferOwner = true;
        originalBufferLength = 0;
    }
}

void DispatchReadPacket::ensureCapacityForAdditionalDataOfLength(size_t length) {
    size_t space = freeSpace();
    if (space < length) buffer->resize(buffer->size() + (length - space));
}

size_t DispatchReadPacket::readLengthForNonTermWithHint(size_t hint) const {
    if (readLength > 0) return std::min(readLength - bytesDone, hint);
    if (maxLength > 0) return std::min(maxLength - bytesDone, hint);
    return hint;
}

size_t DispatchReadPacket::readLengthForTermWithHint(size_t hint, bool* shouldPreBuffer) const {
    size_t result = maxLength > 0 ? std::min(maxLength - bytesDone, hint) : hint;
    if (shouldPreBuffer) *shouldPreBuffer = freeSpace() < result;
    return result;
}

size_t DispatchReadPacket::optimalReadLengthWithDefault(size_t defaultValue,
                                                        bool* shouldPreBuffer) const {
    if (readLength > 0) {
        if (shouldPreBuffer) *shouldPreBuffer = false;
        return std::min(readLength - bytesDone, defaultValue);
    }
    return readLengthForTermWithHint(defaultValue, shouldPreBuffer);
}

size_t DispatchReadPacket::readLengthForTermWithPreBuffer(const DispatchSocketPreBuffer& preBuffer,
                                                          bool* found) const {
    const size_t termLength = term.size();
    const size_t available = preBuffer.availableBytes();
    if (bytesDone + available < termLength) return available;

    size_t maxScan = available;
    if (maxLength > 0) maxScan = std::min(maxScan, maxLength - bytesDone);

    // The terminator may start in the bytes already read and end in the pre-buffer: compare
    // the last `kept` packet bytes followed by the first pre-buffer bytes, dropping the oldest
    // packet byte at each step; then scan the pre-buffer alone.
    const uint8_t* pre = preBuffer.readBuffer();
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
    *found = false;
    return maxScan;
}

long DispatchReadPacket::searchForTermAfterPreBuffering(size_t numBytes) const {
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
