#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/Value.h"

namespace quenbril {

/// What a registered class encoder writes one object's keyed members through. Objects become
/// references (written once when shared or equal strings); scalars are stored inline.
/// Keys must not begin with "$" (the archive keeps those for itself); such a key, or a value
/// the archive cannot hold, makes the whole archive fail.
class KeyedEncoder {
  public:
    virtual ~KeyedEncoder() = default;

    /// A null value is written as a reference to "$null".
    virtual void encodeObject(std::string_view key, const Value& value) = 0;
    virtual void encodeInt64(std::string_view key, int64_t value) = 0;
    void encodeInt32(std::string_view key, int32_t value) { encodeInt64(key, value); }
    virtual void encodeBool(std::string_view key, bool value) = 0;
    virtual void encodeDouble(std::string_view key, double value) = 0;
    virtual void encodeBytes(std::string_view key, const Bytes& bytes) = 0;

    /// Marks the archive as failed with this description.
    virtual void fail(std::string description) = 0;
    virtual bool failed() const = 0;
};

}  // namespace quenbril
