#pragma once

#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// Reading and writing property lists, XML or binary, through libplist.
///
/// Plists hold null-free values only: strings, numbers, bools, data, dates, arrays, dictionaries
/// with string keys and, in binary plists of keyed archives, UIDs. Writing any other value (a
/// number key, a colour, an object, null, a UID above 2^32-1) is an error, never a silent change.
/// In XML, a UID comes back as the dictionary {"CF$UID": n}: XML plists are not used for archives.
/// XML is refused both ways when it nests deeper than kMaxDepth, or when one text holds more than
/// XmlPlistGuard::kMaxEntities escaped characters ('&', '<', '>'): libplist would take hours
/// over a large file of them.
class PropertyList {
  public:
    enum class Format { Xml, Binary };

    static constexpr const char* kErrorDomain = "PropertyListErrorDomain";
    enum ErrorCode { kParseError = 1, kUnsupportedValue = 2, kFileError = 3, kTooDeep = 4 };
    /// Nesting deeper than this is refused both ways.
    static constexpr int kMaxDepth = 512;

    /// Parses XML or binary (told apart by the "bplist00" magic).
    static std::optional<Value> read(const void* bytes, size_t length, Error* error = nullptr);
    static std::optional<Value> read(const Bytes& bytes, Error* error = nullptr) {
        return read(bytes.data(), bytes.size(), error);
    }
    static std::optional<Bytes> write(const Value& value, Format format, Error* error = nullptr);

    static std::optional<Value> readFile(const std::string& path, Error* error = nullptr);
};

}  // namespace quenbril
