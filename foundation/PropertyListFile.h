#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// A document file that is one XML property list whose root is an array (the player file, the
/// receiver list file): read within a size bound, written atomically. Reasons name the file;
/// those about the contents carry the file kind's own error domain, those about the disk the
/// POSIX domain.
class PropertyListFile {
  public:
    /// `domain`: the file kind's error domain. `listOf`: what its array lists ("players"), for
    /// the reason a root that is no array gives.
    constexpr PropertyListFile(const char* domain, std::size_t maxFileSize, const char* listOf)
        : domain_(domain), maxFileSize_(maxFileSize), listOf_(listOf) {}

    /// The root of the file at `path`. Nothing, with `error` set, when the file cannot be read,
    /// is larger than the bound or is no property list.
    std::optional<Value> read(const std::string& path, Error* error) const;
    /// The root of a file's bytes, read from `path`; as `read`.
    std::optional<Value> fromBytes(const Bytes& bytes, const std::string& path, Error* error) const;
    /// The root's array; null, with `error` set, when the root is no array.
    const Array* rootArray(const Value& root, const std::string& path, Error* error) const;
    /// Writes `root` to `path` as an XML property list, atomically: the file is either the old
    /// one or the whole new one. False, with `error` set, when it could not be written.
    bool write(const Value& root, const std::string& path, Error* error) const;

  private:
    const char* domain_;
    std::size_t maxFileSize_;
    const char* listOf_;
};

}  // namespace quenbril
