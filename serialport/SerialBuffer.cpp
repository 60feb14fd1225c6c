#include "serialport/SerialBuffer.h"

#include <algorithm>

namespace quenbril {

SerialBuffer::SerialBuffer(uint64_t maximumLength) : maximumLength_(maximumLength) {}

void SerialBuffer::appendData(std::span<const uint8_t> bytes) {
    storage_.insert(storage_.end(), bytes.begin(), bytes.end());
    size_t held = storage_.size() - start_;
    if (held > maximumLength_) start_ += held - static_cast<size_t>(maximumLength_);
    if (start_ > 0 && start_ >= std::max<size_t>(storage_.size() / 2, 1024)) {
        storage_.erase(storage_.begin(), storage_.begin() + static_cast<ptrdiff_t>(start_));
        start_ = 0;
    }
    if (changed_) changed_();
}

void SerialBuffer::clearBuffer() {
    storage_.clear();
    start_ = 0;
    if (changed_) changed_();
}

std::span<const uint8_t> SerialBuffer::data() const {
    return std::span<const uint8_t>(storage_).subspan(start_);
}

}  // namespace quenbril
