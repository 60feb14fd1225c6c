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
/// over a large file of them. Either format is refused beyond kMaxElements elements, and XML is
/// not written beyond them.
class PropertyList {
  public:
    enum class Format { Xml, Binary };

    static constexpr const char* kErrorDomain = "PropertyListErrorDomain";
    enum ErrorCode {
        kParseError = 1,
        kUnsupportedValue = 2,
        kFileError = 3,
        kTooDeep = 4,
        kTooLarge = 5,  ///< more than kMaxElements elements
    };
    /// Nesting deeper than this is refused both ways.
    static constexpr int kMaxDepth = 512;
    /// Property lists of more elements (values and dictionary keys; a binary list's shared
    /// values counted wherever they are used) are refused. The fullest settings are a
    /// few tens of thousands (128 strips' records, a thousand players, a receiver list), and a
    /// list this size reads in about a fifth of a second and 50 MB; 64 MiB of "<true/>" is ten
    /// million elements, which took half a minute and 1.7 GB.
    static constexpr size_t kMaxElements = size_t{1} << 18;

    /// Parses XML or binary (told apart by the "bplist00" magic).
    static std::optional<Value> read(const void* bytes, size_t length, Error* error = nullptr);
    static std::optional<Value> read(const Bytes& bytes, Error* error = nullptr) {
        return read(bytes.data(), bytes.size(), error);
    }
    static std::optional<Bytes> write(const Value& value, Format format, Error* error = nullptr);
    /// At least the length of write(value, Format::Xml), reckoned without writing it: the writer
    /// puts each element on a line of its own, indented a tab for each level it is nested, so a
    /// megabyte read in may write back as many more. Far cheaper than writing a large one.
    static uint64_t xmlLengthAtLeast(const Value& value);

    static std::optional<Value> readFile(const std::string& path, Error* error = nullptr);
};

}  // namespace quenbril
