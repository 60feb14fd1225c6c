#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "foundation/ArchiveClassRegistry.h"
#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// Reads keyed archives (binary property lists) back into values, whatever the order of their
/// keys. Plain plist objects, NSDictionary, NSArray, NSString, NSData (each also mutable),
/// NSDate, NSNull and NSColor are built in; other classes go through the registry. A class is
/// looked up along its whole "$classes" chain, so an archived subclass decodes as the nearest
/// class known here.
///
/// Untrusted input is the normal case (the link reads archives from the network): a damaged
/// plist, a reference out of range, a member of the wrong kind, an unknown class, an object that
/// contains itself, nesting deeper than kMaxDepth, or a graph of shared objects that would
/// expand beyond the archive's expansion budget, make that archive fail with an error, never
/// more.
/// Shared objects decode once and stay shared in the result.
///
/// A colour that cannot be read drops the entry that holds it (the dictionary entry, the array
/// element; a registered decoder reads it as null), not the archive.
class KeyedUnarchiver {
  public:
    static constexpr const char* kErrorDomain = "KeyedArchiveErrorDomain";
    enum ErrorCode {
        kNotAnArchive = 1,   ///< not a binary plist, or not a keyed archive
        kCorrupt = 2,        ///< a reference out of range or a member of the wrong kind
        kUnknownClass = 3,   ///< a class neither built in nor registered (named in the text)
        kCycle = 4,          ///< an object that contains itself
        kTooDeep = 5,        ///< nesting deeper than kMaxDepth
        kTooLarge = 6,       ///< shared objects that would expand beyond expansionBudget()
        kDecoderFailed = 7,  ///< a registered decoder refused its object
    };
    static constexpr int kMaxDepth = 256;
    /// Bound on the nesting of the plist itself (arrays and dictionaries inside one another, not
    /// references): an archive needs four levels; libplist parses nesting recursively.
    static constexpr int kMaxPlistNesting = 32;
    /// Bound on the size of the decoded value as if every shared object were copied where it
    /// is used (values count one each, strings and data one more per 16 bytes). It keeps
    /// consumers that walk the value as a tree (writing it to a file, comparing it) bounded.
    static constexpr uint64_t kMaxExpandedSize = uint64_t{1} << 24;
    /// The expanded size any archive may reach, however small.
    static constexpr uint64_t kMinExpandedSize = uint64_t{1} << 14;
    /// Archive bytes per unit of expanded size beyond the floor. Archives of ordinary values
    /// expand to a quarter of their size or less (every value costs bytes of its own, and a
    /// reference to a shared one at least a byte); one that expands further is mostly
    /// references to shared objects, and would cost time out of proportion to its size.
    static constexpr uint64_t kBytesPerExpandedUnit = 2;
    /// The bound on the expanded size of an archive of `length` bytes: proportional to its
    /// size, between kMinExpandedSize and kMaxExpandedSize.
    static constexpr uint64_t expansionBudget(size_t length) {
        uint64_t proportional = uint64_t{length} / kBytesPerExpandedUnit;
        return proportional < kMinExpandedSize   ? kMinExpandedSize
               : proportional > kMaxExpandedSize ? kMaxExpandedSize
                                                 : proportional;
    }

    /// Bound on the nodes libplist makes of an archive of `length` bytes, before any of it is
    /// decoded: libplist copies a shared plist object wherever it is referenced. A writer
    /// shares only values that hold nothing (strings, numbers, UIDs), so every node but the top
    /// has a reference of at least a byte to itself: at most one node per byte.
    static constexpr uint64_t maxPlistNodes(size_t length) {
        return uint64_t{length} < kMinExpandedSize ? kMinExpandedSize : uint64_t{length};
    }

    static std::optional<Value> unarchive(const void* bytes, size_t length, Error* error = nullptr);
    static std::optional<Value> unarchive(const Bytes& bytes, Error* error = nullptr) {
        return unarchive(bytes.data(), bytes.size(), error);
    }
    static std::optional<Value> unarchive(const void* bytes, size_t length,
                                          const ArchiveClassRegistry& registry,
                                          Error* error = nullptr);
};

}  // namespace quenbril
