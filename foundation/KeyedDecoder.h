#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Value.h"

namespace quenbril {

/// What a registered class decoder reads one archived object through: the object's keyed
/// members. Scalars (`encodeInt:` and friends) sit inline in the object; objects are references
/// that this resolves, so shared objects and cycles are handled for the decoder.
///
/// A member of the wrong kind makes the whole archive fail: the getter records the error and
/// answers a neutral value (null, 0, false), and the unarchiver reports the error once the
/// decoder returns. A missing member is not an error: it reads as null, 0 or false.
class KeyedDecoder {
  public:
    virtual ~KeyedDecoder() = default;

    /// The archived class name ("$classname") and its chain ("$classes", most derived first).
    virtual const std::string& className() const = 0;
    virtual const std::vector<std::string>& classes() const = 0;

    virtual bool contains(std::string_view key) const = 0;
    /// The object the member refers to; null when missing or when it refers to "$null".
    virtual Value decodeObject(std::string_view key) = 0;
    virtual int64_t decodeInt64(std::string_view key) = 0;
    /// The low 32 bits of the stored integer, as a 32-bit read of a wider number gives them.
    int32_t decodeInt32(std::string_view key) {
        return static_cast<int32_t>(static_cast<uint32_t>(decodeInt64(key)));
    }
    virtual bool decodeBool(std::string_view key) = 0;
    virtual double decodeDouble(std::string_view key) = 0;
    /// Inline bytes (`encodeBytes:length:forKey:`); nothing when missing.
    virtual std::optional<Bytes> decodeBytes(std::string_view key) = 0;

    /// Marks the archive as bad; the unarchiver then fails with this description.
    virtual void fail(std::string description) = 0;
    virtual bool failed() const = 0;
};

}  // namespace quenbril
