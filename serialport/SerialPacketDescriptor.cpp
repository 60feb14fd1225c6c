#include "serialport/SerialPacketDescriptor.h"

#include <algorithm>

#include "serialport/RandomUuid.h"

namespace quenbril {

namespace {

bool startsWith(std::span<const uint8_t> data, const Bytes& prefix) {
    return prefix.size() <= data.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
}

bool endsWith(std::span<const uint8_t> data, const Bytes& suffix) {
    return suffix.size() <= data.size() &&
           std::equal(suffix.begin(), suffix.end(), data.end() - suffix.size());
}

}  // namespace

SerialPacketDescriptor::SerialPacketDescriptor(Kind kind, uint64_t maximumPacketLength,
                                               Value userInfo)
    : kind_(kind),
      maximumPacketLength_(maximumPacketLength),
      userInfo_(std::move(userInfo)),
      uuid_(randomUuidString()) {}

SerialPacketDescriptor::Ptr SerialPacketDescriptor::make(uint64_t maximumPacketLength,
                                                         Value userInfo,
                                                         SerialResponseEvaluator evaluator) {
    auto descriptor = std::make_shared<SerialPacketDescriptor>(Kind::Evaluator, maximumPacketLength,
                                                               std::move(userInfo));
    if (!evaluator) evaluator = [](std::span<const uint8_t> data) { return !data.empty(); };
    descriptor->evaluator_ = std::move(evaluator);
    return descriptor;
}

SerialPacketDescriptor::Ptr SerialPacketDescriptor::withPacketData(Bytes packetData,
                                                                   Value userInfo) {
    auto descriptor = std::make_shared<SerialPacketDescriptor>(Kind::Fixed, packetData.size(),
                                                               std::move(userInfo));
    descriptor->packetData_ = std::move(packetData);
    return descriptor;
}

SerialPacketDescriptor::Ptr SerialPacketDescriptor::withPrefix(Bytes prefix, Bytes suffix,
                                                               uint64_t maximumPacketLength,
                                                               Value userInfo) {
    auto descriptor = std::make_shared<SerialPacketDescriptor>(
        Kind::PrefixSuffix, maximumPacketLength, std::move(userInfo));
    descriptor->prefix_ = std::move(prefix);
    descriptor->suffix_ = std::move(suffix);
    return descriptor;
}

SerialPacketDescriptor::Ptr SerialPacketDescriptor::withPrefixString(
    const std::optional<std::string>& prefix, const std::optional<std::string>& suffix,
    uint64_t maximumPacketLength, Value userInfo) {
    auto bytesOf = [](const std::optional<std::string>& text) {
        return text ? Bytes(text->begin(), text->end()) : Bytes{};
    };
    return withPrefix(bytesOf(prefix), bytesOf(suffix), maximumPacketLength, std::move(userInfo));
}

SerialPacketDescriptor::Ptr SerialPacketDescriptor::withRegularExpression(
    std::shared_ptr<const RegexMatcher> expression, uint64_t maximumPacketLength, Value userInfo) {
    auto descriptor = std::make_shared<SerialPacketDescriptor>(
        Kind::Expression, maximumPacketLength, std::move(userInfo));
    descriptor->expression_ = std::move(expression);
    return descriptor;
}

bool SerialPacketDescriptor::prefixSuffixMatches(std::span<const uint8_t> data) const {
    if (prefix_.empty() && suffix_.empty()) return false;
    // Prefix and suffix are tested apart, so they may overlap in short data.
    return startsWith(data, prefix_) && endsWith(data, suffix_);
}

bool SerialPacketDescriptor::dataIsValidPacket(std::span<const uint8_t> data) const {
    switch (kind_) {
        case Kind::Fixed:
            return std::equal(data.begin(), data.end(), packetData_.begin(), packetData_.end());
        case Kind::PrefixSuffix:
            return prefixSuffixMatches(data);
        case Kind::Expression:
            return expression_ && expression_->matchesAtStart(data);
        case Kind::Evaluator:
            return evaluator_(data);
    }
    return false;
}

std::optional<Bytes> SerialPacketDescriptor::packetMatchingAtEndOfBuffer(
    std::span<const uint8_t> buffer) const {
    auto tail = [&](size_t length) { return buffer.subspan(buffer.size() - length); };
    auto found = [](std::span<const uint8_t> packet) {
        return std::optional<Bytes>(Bytes(packet.begin(), packet.end()));
    };
    // The fixed and prefix/suffix kinds give the same answer as trying every tail, shortest
    // first, but skip the tails that cannot match: this runs for every byte received.
    if (kind_ == Kind::Fixed) {
        if (packetData_.empty() || packetData_.size() > buffer.size()) return std::nullopt;
        if (dataIsValidPacket(tail(packetData_.size()))) return found(tail(packetData_.size()));
        return std::nullopt;
    }
    if (kind_ == Kind::PrefixSuffix) {
        if ((prefix_.empty() && suffix_.empty()) || !endsWith(buffer, suffix_)) return std::nullopt;
        size_t shortest = std::max<size_t>({prefix_.size(), suffix_.size(), 1});
        for (size_t length = shortest; length <= buffer.size(); ++length) {
            if (startsWith(tail(length), prefix_)) return found(tail(length));
        }
        return std::nullopt;
    }
    for (size_t length = 1; length <= buffer.size(); ++length) {
        if (dataIsValidPacket(tail(length))) return found(tail(length));
    }
    return std::nullopt;
}

}  // namespace quenbril
