#pragma once

#include <optional>

#include "foundation/ArchiveClassRegistry.h"
#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// Writes keyed archives: the binary property list with "$archiver" "NSKeyedArchiver",
/// "$version" 100000, "$top" {"root": UID} and the "$objects" table beginning with "$null".
///
/// Strings, numbers and data are written as plain plist objects; dictionaries ("NS.keys",
/// "NS.objects"), arrays ("NS.objects"), dates ("NS.time"), colours ("NSColorSpace" 2 with
/// "NSRGB") and null inside a collection (NSNull) as class objects; other objects through the
/// registry's encoder for their `className()`. Equal strings, equal numbers and shared values
/// are written once and referenced.
class KeyedArchiver {
  public:
    static constexpr const char* kErrorDomain = "KeyedArchiveErrorDomain";
    enum ErrorCode {
        kUnsupportedValue = 101,  ///< a UID, a string with NUL or invalid UTF-8, a bad key...
        kUnknownClass = 102,      ///< an object whose class has no registered encoder
        kTooDeep = 103,           ///< nesting deeper than kMaxDepth, or an object inside itself
        kEncoderFailed = 104,     ///< a registered encoder refused its object
    };
    /// Nesting deeper than this is refused.
    static constexpr int kMaxDepth = 256;

    /// The binary-plist keyed archive of `root` (dictionaries, arrays, strings, numbers, data,
    /// dates, null, colours, registered objects).
    static std::optional<Bytes> archivedData(const Value& root, Error* error = nullptr);
    static std::optional<Bytes> archivedData(const Value& root,
                                             const ArchiveClassRegistry& registry,
                                             Error* error = nullptr);
};

}  // namespace quenbril
