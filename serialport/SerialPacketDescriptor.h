#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "foundation/Value.h"
#include "serialport/RegexMatcher.h"

namespace quenbril {

/// Decides whether the bytes given are one whole packet.
using SerialResponseEvaluator = std::function<bool(std::span<const uint8_t>)>;

/// Describes the packets a port listens for: a fixed byte sequence, a prefix and suffix, a
/// regular expression, or a test of the user's own. Immutable; shared between the user and
/// the port's request queue. Two descriptors are equal when their UUIDs are.
class SerialPacketDescriptor {
  public:
    using Ptr = std::shared_ptr<const SerialPacketDescriptor>;

    /// The largest packet a descriptor made from a bare test keeps: without a bound, a stream
    /// that never matches would grow its buffer, and the work per byte, without end.
    static constexpr uint64_t kEvaluatorMaximumLength = 64 * 1024;

    /// Packets are what `evaluator` accepts; without one, any non-empty data is a packet.
    static Ptr make(uint64_t maximumPacketLength, Value userInfo,
                    SerialResponseEvaluator evaluator);
    /// Exactly `packetData`; the maximum length is its length.
    static Ptr withPacketData(Bytes packetData, Value userInfo);
    /// Data that starts with `prefix` and ends with `suffix` (either may be empty, not both).
    static Ptr withPrefix(Bytes prefix, Bytes suffix, uint64_t maximumPacketLength, Value userInfo);
    /// The same with the strings' UTF-8 bytes; a missing string is a missing prefix or suffix.
    static Ptr withPrefixString(const std::optional<std::string>& prefix,
                                const std::optional<std::string>& suffix,
                                uint64_t maximumPacketLength, Value userInfo);
    /// UTF-8 text that `expression` matches at its start; no expression matches nothing.
    static Ptr withRegularExpression(std::shared_ptr<const RegexMatcher> expression,
                                     uint64_t maximumPacketLength, Value userInfo);

    const Bytes& packetData() const { return packetData_; }
    const Bytes& prefix() const { return prefix_; }
    const Bytes& suffix() const { return suffix_; }
    const std::shared_ptr<const RegexMatcher>& regularExpression() const { return expression_; }
    uint64_t maximumPacketLength() const { return maximumPacketLength_; }
    const Value& userInfo() const { return userInfo_; }
    enum class Kind { Evaluator, Fixed, PrefixSuffix, Expression };
    Kind kind() const { return kind_; }
    const std::string& uuid() const { return uuid_; }

    bool dataIsValidPacket(std::span<const uint8_t> data) const;
    /// The shortest tail of `buffer` that is a valid packet: the packet that the newest byte
    /// completed. Nothing for an empty buffer or when no tail is a packet.
    std::optional<Bytes> packetMatchingAtEndOfBuffer(std::span<const uint8_t> buffer) const;

    bool operator==(const SerialPacketDescriptor& other) const { return uuid_ == other.uuid_; }

    SerialPacketDescriptor(Kind kind, uint64_t maximumPacketLength, Value userInfo);  // use make

  private:
    bool prefixSuffixMatches(std::span<const uint8_t> data) const;

    const Kind kind_;
    Bytes packetData_;
    Bytes prefix_;
    Bytes suffix_;
    std::shared_ptr<const RegexMatcher> expression_;
    const uint64_t maximumPacketLength_;
    const Value userInfo_;
    const std::string uuid_;
    SerialResponseEvaluator evaluator_;
};

}  // namespace quenbril
