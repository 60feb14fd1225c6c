#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// The player file (".pla"): an XML property list whose root is an array with one dictionary
/// per player ("Name", "RoleName", "Image", "Comments"), in list order. It is the same array the
/// player list stores under "players".
class PlayerFile {
  public:
    static constexpr const char* kExtension = "pla";
    /// Larger files are refused unread.
    static constexpr std::size_t kMaxFileSize = 64u << 20;
    static constexpr const char* kErrorDomain = "PlayerFileErrorDomain";

    /// The file's array as it stands: elements that are no dictionary, and values of the wrong
    /// kind, are left for the reader of the players to skip. Nothing, with `error` set to a
    /// reason that names the file, when the file cannot be read, is larger than 64 MiB, is no
    /// property list or its root is no array.
    static std::optional<Array> read(const std::string& path, Error* error);
    /// The array of a player file's bytes, read from `path` (which reasons name); as `read`.
    static std::optional<Array> fromBytes(const Bytes& bytes, const std::string& path,
                                          Error* error);
    /// Writes `players` to `path` as an XML property list, atomically: the file is either the
    /// old one or the whole new one. False, with `error` set, when it could not be written.
    static bool write(const Array& players, const std::string& path, Error* error);
};

}  // namespace quenbril
