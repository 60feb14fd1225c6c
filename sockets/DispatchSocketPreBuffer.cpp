#include "sockets/DispatchSocketPreBuffer.h"

namespace quenbril {

DispatchSocketPreBuffer::DispatchSocketPreBuffer(size_t capacity) : storage_(capacity) {}

void DispatchSocketPreBuffer::ensureCapacityForWrite(size_t length) {
    size_t space = availableSpace();
    if (length > space) storage_.resize(storage_.size() + (length - space));
}

void DispatchSocketPreBuffer::didRead(size_t length) {
    readOffset_ += length;
    if (readOffset_ >= writeOffset_) reset();
}

}  // namespace quenbril
