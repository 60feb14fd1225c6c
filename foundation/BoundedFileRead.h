#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// Reads the whole of a file the user chose, refusing one larger than `maxSize` bytes without
/// reading past the limit. Nothing, with `error` set (POSIX domain, a description naming the
/// file), when the file cannot be opened or read, is too large (EFBIG), or is not a regular file
/// (a FIFO, a device or a folder, which are never read: one could block for ever).
std::optional<Bytes> readBoundedFile(const std::string& path, std::size_t maxSize, Error* error);

/// The bound on a file the user opens, and on the settings store's own file.
inline constexpr std::size_t kMaxUserFileSize = 64u << 20;

}  // namespace quenbril
