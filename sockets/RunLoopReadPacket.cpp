#include "sockets/RunLoopReadPacket.h"

#include <algorithm>
#include <cstring>

namespace quenbril {

RunLoopReadPacket::RunLoopReadPacket(std::shared_ptr<Bytes> data, size_t offset, size_t max,
                                     double timeoutSeconds, size_t length,
                                     std::optional<Bytes> terminator, long packetTag)
    : buffer(std::move(data)),
      startOffset(offset),
      maxLength(max),
      timeout(timeoutSeconds),
      readLength(length),
      term(std::move(terminator)),
      bufferOwner(!buffer),
      originalBufferLength(buffer ? buffer->size() : 0),
      tag(packetTag) {
    if (!buffer) {
        buffer = std::make_shared<Bytes>();
        startOffset = 0;
    }
}

size_t RunLoopReadPacket::capToCallerBuffer(size_t count) const {
    if (bufferOwner || buffer->size() != originalBufferLength) return count;
    size_t used = startOffset + bytesDone;
    size_t room = buffer->size() > used ? buffer->size() - used : 0;
    return room != 0 ? std::min(count, room) : count;
}

size_t RunLoopReadPacket::readLengthForNonTerm() const {
    size_t count;
    if (readLength > 0) {
        count = readLength - bytesDone;
    } else {
        count = kChunk;
        if (maxLength > 0) count = std::min(count, maxLength - bytesDone);
    }
    return capToCallerBuffer(count);
}

size_t RunLoopReadPacket::readLengthForTerm() const {
    size_t length = term->size();
    size_t count = length;
    if (bytesDone > 0 && length > 1) {
        // The longest run at the end of the bytes read that begins the terminator: only the
        // rest of the terminator can follow without reading past it.
        const uint8_t* data = buffer->data() + startOffset;
        size_t position = bytesDone >= length ? bytesDone - length + 1 : 0;
        size_t run = std::min(length - 1, bytesDone);
        for (; run > 0; --run, ++position) {
            if (std::memcmp(data + position, term->data(), run) == 0) break;
        }
        count = length - run;
    }
    if (maxLength > 0) count = std::min(count, maxLength - bytesDone);
    return capToCallerBuffer(count);
}

size_t RunLoopReadPacket::prebufferReadLengthForTerm() const {
    size_t count = kChunk;
    if (maxLength > 0) count = std::min(count, maxLength - bytesDone);
    return capToCallerBuffer(count);
}

size_t RunLoopReadPacket::readLengthForTermWithPreBuffer(const Bytes& preBuffer,
                                                         bool* found) const {
    size_t length = term->size();
    *found = false;
    if (bytesDone + preBuffer.size() < length) return preBuffer.size();
    // Slide a window over the tail of what was read followed by the pre-buffer.
    size_t tail = std::min(bytesDone, length - 1);
    size_t limit = preBuffer.size();
    if (maxLength > 0) limit = std::min(limit, maxLength - bytesDone);
    Bytes joined(buffer->begin() + startOffset + bytesDone - tail,
                 buffer->begin() + startOffset + bytesDone);
    joined.insert(joined.end(), preBuffer.begin(), preBuffer.begin() + limit);
    for (size_t i = 0; i + length <= joined.size(); ++i) {
        if (std::memcmp(joined.data() + i, term->data(), length) == 0) {
            *found = true;
            return i + length - tail;
        }
    }
    return preBuffer.size();
}

long RunLoopReadPacket::searchForTermAfterPreBuffering(size_t bytesJustRead) const {
    size_t length = term->size();
    size_t before = bytesDone - bytesJustRead;
    size_t i = before >= length ? before - length + 1 : 0;
    const uint8_t* data = buffer->data() + startOffset;
    for (; i + length <= bytesDone; ++i) {
        if (std::memcmp(data + i, term->data(), length) == 0) {
            return static_cast<long>(bytesDone - (i + length));
        }
    }
    return -1;
}

void RunLoopReadPacket::ensureRoom(size_t count) {
    size_t needed = startOffset + bytesDone + count;
    if (buffer->size() < needed) buffer->resize(needed);
}

}  // namespace quenbril
