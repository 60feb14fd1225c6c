#include "serialport/SerialPacketScanner.h"

namespace quenbril {

SerialPacketScanner::SerialPacketScanner(SerialPacketDescriptor::Ptr descriptor)
    : descriptor_(std::move(descriptor)), buffer_(descriptor_->maximumPacketLength()) {}

std::optional<Bytes> SerialPacketScanner::append(uint8_t byte) {
    buffer_.appendByte(byte);
    ++appended_;
    if (descriptor_->kind() == SerialPacketDescriptor::Kind::Expression) {
        // Without an expression nothing is a packet.
        if (!descriptor_->regularExpression()) return std::nullopt;
        return expressionPacket();
    }
    return descriptor_->packetMatchingAtEndOfBuffer(buffer_.data());
}

void SerialPacketScanner::clear() {
    buffer_.clearBuffer();
    appended_ = 0;
    openTails_.clear();
}

std::optional<Bytes> SerialPacketScanner::expressionPacket() {
    // Every tail that the expression could never match was dropped at an earlier byte, when
    // all tails held were tried: none of them can be a packet now.
    std::span<const uint8_t> held = buffer_.data();
    const uint64_t oldest = appended_ - held.size();
    openTails_.push_back(appended_ - 1);
    size_t gone = 0;
    while (gone < openTails_.size() &&
           (openTails_[gone] < oldest || openTails_.size() - gone > kMaxOpenTails)) {
        ++gone;
    }
    openTails_.erase(openTails_.begin(), openTails_.begin() + static_cast<ptrdiff_t>(gone));
    const RegexMatcher& expression = *descriptor_->regularExpression();
    // The newest first: the shortest packet wins.
    for (size_t i = openTails_.size(); i-- > 0;) {
        std::span<const uint8_t> tail = held.subspan(openTails_[i] - oldest);
        switch (expression.matchPrefix(tail)) {
            case RegexMatcher::Prefix::Matches:
                return Bytes(tail.begin(), tail.end());
            case RegexMatcher::Prefix::MayMatch:
                break;
            case RegexMatcher::Prefix::Never:
                openTails_.erase(openTails_.begin() + static_cast<ptrdiff_t>(i));
                break;
        }
    }
    return std::nullopt;
}

}  // namespace quenbril
