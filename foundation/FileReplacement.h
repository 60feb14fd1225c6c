#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// Why replacing a file failed: the step ("create", "chmod", "write", "fsync", "close" or
/// "rename") and its errno.
struct FileReplacementFailure {
    const char* step;
    int error;
};

/// Writes `bytes` to a new temporary file made from `temporaryTemplate` (a mkstemp pattern in
/// the target's folder, so the rename cannot cross file systems), gives it `mode` when set,
/// makes it reach the disk, runs `beforeReplace`, and only then renames it over `target` in one
/// step. On failure the temporary file is removed and nothing else changes.
std::optional<FileReplacementFailure> replaceFile(const std::string& target,
                                                  std::string temporaryTemplate, const Bytes& bytes,
                                                  std::optional<mode_t> mode = std::nullopt,
                                                  const std::function<void()>& beforeReplace = {});

/// Writes all of `bytes` to `fd`, retrying after interruptions.
bool writeAll(int fd, const Bytes& bytes);

}  // namespace quenbril
