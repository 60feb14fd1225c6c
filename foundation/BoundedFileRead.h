#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// Reads the whole of a file the user chose, refusing one larger than `maxSize` bytes without
/// reading past the limit. Nothing, with `error` set (POSIX domain, a description naming the
/// file), when the file cannot be opened or read, or is too large.
std::optional<Bytes> readBoundedFile(const std::string& path, std::size_t maxSize, Error* error);

}  // namespace quenbril
